#include "logger/Cdatalogger.h"

#include "platform/SafeFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const QByteArray LineEnd = QByteArrayLiteral("\r\n");

// Lines are gathered into writes of about this size: one write for an ordinary batch, a
// bounded buffer for a long backlog of kept lines.
constexpr qsizetype ChunkBytes = 1 << 20;

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A write the system took only part of sets no error; the reason is a full file system or the
// file size limit, told as the next write would tell it.
QString ShortWriteText(int fd, off_t end, qint64 written, qint64 wanted)
{
    struct statvfs fs {};
    if (fstatvfs(fd, &fs) == 0 && (geteuid() == 0 ? fs.f_bfree : fs.f_bavail) == 0)
        return ErrorText(ENOSPC);
    struct rlimit limit {};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && end >= 0 &&
        static_cast<rlim_t>(end) >= limit.rlim_cur)
        return ErrorText(EFBIG);
    return QStringLiteral("only %1 of %2 bytes written").arg(written).arg(wanted);
}

// Opens path for appending, creating it if missing; created tells whether this call made it.
// Read access, when granted, serves to look at the last byte.
int OpenForAppend(const QString &path, bool &canRead, bool &created)
{
    const QByteArray name = QFile::encodeName(path);
    for (int attempt = 0; attempt < 2; ++attempt) {
        for (const int access : {O_RDWR, O_WRONLY}) {
            // First only a new file, so that we know whether a failed rescue may remove it.
            const int create = attempt == 0 ? O_CREAT | O_EXCL : 0;
            // Not blocking: a FIFO put in the file's place must not hang us until a reader comes.
            const int fd = ::open(name.constData(), access | O_APPEND | O_CLOEXEC | O_NONBLOCK | create, 0666);
            if (fd >= 0) {
                canRead = access == O_RDWR;
                created = attempt == 0;
                return fd;
            }
            if (errno == EEXIST)
                break; // open the existing file
            if (errno != EACCES)
                return -1;
        }
    }
    return -1;
}

// Takes (F_WRLCK, waiting for it) or ends (F_UNLCK) a logger's turn at the open file. The byte
// locked lies far beyond any log, away from the locks of other programs.
void TakeTurn(int fd, short type)
{
    struct flock turn {};
    turn.l_type = type;
    turn.l_whence = SEEK_SET;
    turn.l_start = std::numeric_limits<off_t>::max() - 1;
    turn.l_len = 1;
    while (fcntl(fd, F_OFD_SETLKW, &turn) != 0 && errno == EINTR) {
    }
}

// The path made absolute against the working folder; empty when it is relative and the working
// folder is gone, or when it is empty.
QString AbsolutePath(const QString &path)
{
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return QDir::cleanPath(path);
    const QString working = QDir::currentPath();
    return working.isEmpty() ? QString() : QDir::cleanPath(QDir(working).absoluteFilePath(path));
}

} // namespace

TDataLogger::TDataLogger(QObject *AOwner) : TComponent(AOwner)
{
    FFileName.clear();
    FAutoSaveTime = 4;
    FMaxCount = 4;
    FTimer = new QTimer(this);
    connect(FTimer, &QTimer::timeout, this, [this] { TimerOnTimer(FTimer); });
    FTimer->start(FAutoSaveTime * 1000);
    FLines.reserve(FMaxCount);
}

TDataLogger::~TDataLogger()
{
    FTimer->stop();
    delete FTimer;
    FTimer = nullptr;
    // The owner is going away with us; nobody is left to hear of the last write.
    OnWriteError.Clear();
    OnWriteRecovered.Clear();
    OnShared.Clear();
    OnSpilled.Clear();
    OnDropped.Clear();
    FlushData();
    ReleaseLock();
}

void TDataLogger::SetFileName(const QString &name)
{
    if (name == FFileName)
        return;
    FFileName = name;
    ReleaseLock();
    FSharedFound = false;
    FSharedReported = false;
}

void TDataLogger::SetMaxKeptLines(int32_t count)
{
    FMaxKeptLines = std::max<int32_t>(count, 1);
}

void TDataLogger::SetRescueFolders(const QStringList &folders)
{
    FRescueFolders = folders;
}

void TDataLogger::SetMaxCount(int32_t count)
{
    FMaxCount = count;
    if (FLines.size() > count)
        FlushData();
    // The room reserved is bounded: a huge MaxCount must not allocate gigabytes up front.
    FLines.reserve(std::clamp<int32_t>(count, 1, DefaultMaxKeptLines));
}

void TDataLogger::SetAutoSaveTime(int32_t seconds)
{
    FAutoSaveTime = seconds;
    const qint64 ms = static_cast<qint64>(seconds) * 1000;
    SetTimerInterval(static_cast<int32_t>(std::clamp<qint64>(ms, 0, std::numeric_limits<int32_t>::max())));
}

void TDataLogger::SetTimerInterval(int32_t milliseconds)
{
    FTimer->stop();
    FTimer->setInterval(std::max<int32_t>(milliseconds, 0));
    // A QTimer with interval 0 would fire at every pass of the event loop; 0 means off here.
    if (milliseconds > 0)
        FTimer->start();
}

int32_t TDataLogger::TimerInterval() const
{
    return FTimer ? FTimer->interval() : 0;
}

bool TDataLogger::TimerActive() const
{
    return FTimer && FTimer->isActive();
}

void TDataLogger::Append(const QByteArray &line)
{
    FLines.append(line);
    // Kept lines do not count toward the batch: a file that stays unwritable is retried once
    // per batch, not at every line.
    if (FLines.size() - FKept >= FMaxCount)
        FlushData();
}

void TDataLogger::FlushData()
{
    if (FLines.isEmpty())
        return;
    if (FFileName.isEmpty()) {
        FLines.clear();
        FKept = 0;
        return;
    }
    QString error;
    const int32_t written = WriteLines(FFileName, TTarget::Log, error);
    FWrittenCount += written;
    FLines.remove(0, written);
    FKept = static_cast<int32_t>(FLines.size());

    // Events last, once the lines are where they belong. A handler only takes note (it shows
    // nothing and runs no event loop), so the logger is still there after it.
    if (FSharedFound && !FSharedReported) {
        FSharedReported = true;
        OnShared(this, FFileName);
    }
    if (FLines.isEmpty()) {
        ReportRecovery();
        return;
    }
    ReportFailure(error);
    SpillBacklog();
}

void TDataLogger::SpillBacklog()
{
    if (FLines.size() < FMaxKeptLines)
        return;
    const QString fileName = FFileName;
    const int32_t waiting = static_cast<int32_t>(FLines.size());
    QString savedIn;
    if (Rescue(savedIn)) {
        OnSpilled(this, fileName, waiting, savedIn);
        return;
    }
    // Nowhere to put them: the oldest beyond the limit go, and the owner hears of it.
    const int32_t dropped = waiting - FMaxKeptLines;
    if (dropped <= 0)
        return;
    FLines.remove(0, dropped);
    FKept = static_cast<int32_t>(FLines.size());
    FDroppedCount += dropped;
    OnDropped(this, fileName, dropped);
}

bool TDataLogger::SaveData()
{
    if (FFileName.isEmpty() || FLines.isEmpty())
        return true;
    QString error;
    const bool all = WriteLines(FFileName, TTarget::Log, error) == FLines.size();
    if (FSharedFound && !FSharedReported) {
        FSharedReported = true;
        OnShared(this, FFileName);
    }
    if (all)
        ReportRecovery();
    else
        ReportFailure(error);
    return all;
}

bool TDataLogger::Rescue(QString &savedIn)
{
    savedIn.clear();
    if (FLines.isEmpty())
        return true;
    const QFileInfo log(FFileName);
    const QString name =
        log.completeBaseName() + QDateTime::currentDateTime().toString("-yyyyMMdd-HHmmss.") + log.suffix();
    // The log's own folder only while it is there: a folder deleted under us is not made again,
    // and a relative name is not read against "/" once the working folder is gone. Then the
    // user's data folder, made when missing.
    struct TFolder {
        QString Path;
        bool Make;
    };
    QList<TFolder> folders;
    if (!FRescueFolders.isEmpty()) {
        for (const QString &folder : std::as_const(FRescueFolders))
            folders << TFolder{AbsolutePath(folder), true};
    } else {
        folders << TFolder{AbsolutePath(FFileName).isEmpty() ? QString() : QFileInfo(AbsolutePath(FFileName)).path(), false}
                << TFolder{AbsolutePath(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)), true};
    }
    for (const TFolder &folder : std::as_const(folders)) {
        if (folder.Path.isEmpty() || !(folder.Make ? QDir().mkpath(folder.Path) : QFileInfo(folder.Path).isDir()))
            continue;
        const QString path = QDir(folder.Path).filePath(name);
        QString error;
        if (WriteLines(path, TTarget::RescueFile, error) == FLines.size()) {
            FRescuedCount += FLines.size();
            FLines.clear();
            FKept = 0;
            savedIn = path;
            return true;
        }
    }
    return false;
}

bool TDataLogger::LoadData()
{
    if (FFileName.isEmpty())
        return true;
    FLines.clear();
    FKept = 0;
    QFile file(FFileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray text = file.readAll();
    file.close();
    const qsizetype zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);

    const qsizetype size = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = text.at(i);
        if (c != '\r' && c != '\n')
            continue;
        FLines.append(text.mid(start, i - start));
        if (c == '\r' && i + 1 < size && text.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        FLines.append(text.mid(start));

    SetMaxCount(static_cast<int32_t>(FLines.size()));
    SetAutoSaveTime(0);
    SetTimerInterval(0);
    return true;
}

void TDataLogger::TimerOnTimer(QObject *Sender)
{
    Q_UNUSED(Sender);
    FlushData();
}

int32_t TDataLogger::WriteLines(const QString &path, TTarget kind, QString &error)
{
    // Opened for each write and closed again so that the file may be read, moved or deleted
    // between flushes. Append mode puts each write at the end of the file as it is at that
    // moment, so another writer's lines between our seeing the end and writing stay intact.
    // Only a regular file takes log lines: a device would swallow them (or, as a terminal or a
    // tape, do something else with them), a FIFO would hand them to whoever reads it.
    SafeFile::TTarget target = SafeFile::Resolve(path);
    if (!target.Writable()) {
        error = target.Refusal();
        return 0;
    }
    bool canRead = false;
    bool created = false;
    const int fd = OpenForAppend(path, canRead, created);
    if (fd < 0) {
        error = ErrorText(errno);
        return 0;
    }
    // What was opened is what counts: something else may have been put there since the look.
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        target = SafeFile::Resolve(path);
        error = target.Writable() ? QStringLiteral("%1 is not a regular file; nothing was written.").arg(path)
                                  : target.Refusal();
        ::close(fd);
        return 0;
    }
    if (kind == TTarget::Log) {
        LockLog(fd);
        // Loggers take turns at the file for the look at its end and the write: the system
        // copies a write into the file page by page, so another logger's write in progress
        // would show a last byte in the middle of its lines.
        TakeTurn(fd, F_WRLCK);
    }

    // The size as it is now that it is our turn.
    const off_t sizeBefore = fstat(fd, &info) == 0 ? info.st_size : 0;
    // What goes before our first line: a line end when the file's last line is unterminated (ours
    // must not continue another writer's), the header when the file is empty.
    QByteArray lead;
    if (canRead && sizeBefore > 0) {
        char last = 0;
        if (pread(fd, &last, 1, sizeBefore - 1) == 1 && last != '\r' && last != '\n')
            lead = LineEnd;
    } else if (sizeBefore == 0 && !FHeader.isEmpty()) {
        lead = FHeader + LineEnd;
    }

    const int32_t total = static_cast<int32_t>(FLines.size());
    int32_t done = 0;
    off_t firstStart = -1; // where our first chunk landed
    while (done < total) {
        FWriteBuffer.resize(0); // keeps its capacity from one flush to the next
        const qsizetype prefix = lead.size();
        FWriteBuffer.append(lead);
        int32_t next = done;
        do {
            FWriteBuffer.append(FLines.at(next)).append(LineEnd);
            ++next;
        } while (next < total && FWriteBuffer.size() + FLines.at(next).size() + LineEnd.size() <= ChunkBytes);

        // One write call per chunk of whole lines: a second call could land after another
        // writer's lines and split ours.
        ssize_t written;
        do
            written = ::write(fd, FWriteBuffer.constData(), static_cast<size_t>(FWriteBuffer.size()));
        while (written < 0 && errno == EINTR);
        const int writeError = errno;
        // Where this chunk begins: the file position after an append is the end of our bytes.
        const off_t chunkStart = written > 0 ? lseek(fd, 0, SEEK_CUR) - written : -1;
        if (firstStart < 0)
            firstStart = chunkStart;
        if (written == FWriteBuffer.size()) {
            done = next;
            lead.clear();
            continue;
        }

        error = written < 0 ? ErrorText(writeError) : ShortWriteText(fd, chunkStart + written, written, FWriteBuffer.size());
        off_t cutAt = -1;
        if (kind == TTarget::RescueFile) {
            // All or nothing: the lines stay waiting, so no copy of them may stay here.
            done = 0;
            cutAt = firstStart;
        } else if (written > 0) {
            // Keep what was completely written, cut off a line written in part so that
            // writing it again later neither repeats nor splits it.
            qint64 keep = 0;
            if (written >= prefix) {
                keep = prefix;
                for (int32_t i = done; i < next; ++i) {
                    const qint64 lineBytes = FLines.at(i).size() + LineEnd.size();
                    if (keep + lineBytes > written)
                        break;
                    keep += lineBytes;
                    ++done;
                }
            }
            if (written > keep)
                cutAt = chunkStart + keep;
        }
        if (cutAt >= 0 && ftruncate(fd, cutAt) != 0)
            error += QStringLiteral("; cutting off what was written in part failed: ") + ErrorText(errno);
        break;
    }

    if (kind == TTarget::RescueFile && done < total && created) {
        // A rescue that failed leaves no empty file of its own behind.
        struct stat after {};
        if (fstat(fd, &after) == 0 && after.st_size == 0)
            ::unlink(QFile::encodeName(path).constData());
    }
    if (kind == TTarget::Log)
        TakeTurn(fd, F_UNLCK); // our lock descriptor shares this open file, so close alone would not end it
    ::close(fd);
    return done;
}

void TDataLogger::LockLog(int fd)
{
    struct stat opened {};
    struct stat locked {};
    if (fstat(fd, &opened) != 0)
        return;
    // The file may have been moved or deleted and made anew since: then the lock is on the
    // old one and must be taken again on this one.
    if (FLockFd >= 0 && (fstat(FLockFd, &locked) != 0 || locked.st_dev != opened.st_dev ||
                         locked.st_ino != opened.st_ino))
        ReleaseLock();
    if (FLockFd < 0)
        FLockFd = fcntl(fd, F_DUPFD_CLOEXEC, 0); // shares the open file, and so its lock
    if (FLockFd < 0 || FLocked)
        return;
    if (flock(FLockFd, LOCK_EX | LOCK_NB) == 0)
        FLocked = true;
    else if (errno == EWOULDBLOCK)
        FSharedFound = true;
}

void TDataLogger::ReleaseLock()
{
    if (FLockFd >= 0)
        ::close(FLockFd); // closing the last descriptor of the open file releases the lock
    FLockFd = -1;
    FLocked = false;
}

void TDataLogger::ReportRecovery()
{
    if (!FWriteFailing)
        return;
    FWriteFailing = false;
    OnWriteRecovered(this);
}

void TDataLogger::ReportFailure(const QString &error)
{
    if (FWriteFailing)
        return;
    FWriteFailing = true;
    OnWriteError(this, FFileName, error);
}
