#include "logger/Cdatalogger.h"

#include <QFile>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

const QByteArray LineEnd = QByteArrayLiteral("\r\n");

// Lines are gathered into writes of about this size: one write for an ordinary batch, a
// bounded buffer for a long backlog of kept lines.
constexpr qsizetype ChunkBytes = 1 << 20;

// One write of the whole chunk; bytesWritten tells how much of it reached the file.
bool WriteChunk(QFile &file, const QByteArray &chunk, qint64 &bytesWritten)
{
    const qint64 result = file.write(chunk);
    bytesWritten = std::max<qint64>(result, 0);
    return result == chunk.size();
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
    // The owner is going away with us; nobody is left to show a failure of the last write.
    OnWriteError.Clear();
    FlushData();
}

void TDataLogger::SetFileName(const QString &name)
{
    FFileName = name;
}

void TDataLogger::SetMaxCount(int32_t count)
{
    FMaxCount = count;
    if (FLines.size() > count) {
        // A failure report may run code that destroys us.
        QPointer<TDataLogger> alive(this);
        FlushData();
        if (!alive)
            return;
    }
    // The room reserved is bounded: a huge MaxCount must not allocate gigabytes up front.
    FLines.reserve(std::clamp<int32_t>(count, 1, MaxKeptLines));
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
    const int32_t written = WriteLines(error);
    FWrittenCount += written;
    if (written == FLines.size()) {
        FLines.clear();
        FKept = 0;
        ReportRecovery();
        return;
    }
    FLines.remove(0, written);
    if (FLines.size() > MaxKeptLines)
        FLines.remove(0, FLines.size() - MaxKeptLines);
    FKept = static_cast<int32_t>(FLines.size());
    ReportFailure(error);
}

bool TDataLogger::SaveData()
{
    if (FFileName.isEmpty() || FLines.isEmpty())
        return true;
    QString error;
    if (WriteLines(error) == FLines.size()) {
        ReportRecovery();
        return true;
    }
    ReportFailure(error);
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

int32_t TDataLogger::WriteLines(QString &error)
{
    // Opened for each write and closed again so that the file may be read, moved or deleted
    // between flushes. Read access serves to look at the last byte; a file we may only write
    // to is opened for appending instead.
    QFile file(FFileName);
    const bool canRead = file.open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    if (!canRead && !file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        error = file.errorString();
        return 0;
    }

    // A device such as /dev/full has no end to seek to and cannot be cut back.
    const bool seekable = !file.isSequential();
    qint64 end = seekable ? file.size() : 0;
    bool needLineEnd = false;
    if (canRead && end > 0) {
        // Our lines must not continue a last line that another writer left unterminated.
        char last = 0;
        if (file.seek(end - 1) && file.getChar(&last))
            needLineEnd = last != '\r' && last != '\n';
        else if (!file.seek(end)) {
            error = file.errorString();
            return 0;
        }
    }

    const int32_t total = static_cast<int32_t>(FLines.size());
    int32_t done = 0;
    while (done < total) {
        FWriteBuffer.resize(0); // keeps its capacity from one flush to the next
        const qsizetype prefix = needLineEnd ? LineEnd.size() : 0;
        if (needLineEnd)
            FWriteBuffer.append(LineEnd);
        int32_t next = done;
        do {
            FWriteBuffer.append(FLines.at(next)).append(LineEnd);
            ++next;
        } while (next < total && FWriteBuffer.size() + FLines.at(next).size() + LineEnd.size() <= ChunkBytes);

        qint64 written = 0;
        if (WriteChunk(file, FWriteBuffer, written)) {
            end += FWriteBuffer.size();
            done = next;
            needLineEnd = false;
            continue;
        }

        // Keep what was completely written, cut off a line written in part so that writing it
        // again later neither repeats nor splits it.
        error = file.error() != QFileDevice::NoError
                    ? file.errorString()
                    : QStringLiteral("only %1 of %2 bytes written").arg(written).arg(FWriteBuffer.size());
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
        if (written > keep && seekable && !file.resize(end + keep))
            error += QStringLiteral("; cutting off the partly written line failed: ") + file.errorString();
        break;
    }
    file.close();
    return done;
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
