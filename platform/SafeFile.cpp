#include "platform/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace SafeFile {

namespace {

// As the system counts them before it gives up with ELOOP.
constexpr int MostLinks = 40;

// A relative path against the working folder; left as it is when the working folder is gone
// (deleted under us), rather than read as a path under "/".
QString Absolute(const QString &path)
{
    if (QDir::isAbsolutePath(path))
        return QDir::cleanPath(path);
    const QString working = QDir::currentPath();
    return working.isEmpty() ? path : QDir::cleanPath(QDir(working).absoluteFilePath(path));
}

QString KindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return QString();
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("of an unknown kind");
}

TResult Failed(const QString &error)
{
    return TResult{false, error};
}

} // namespace

QString TTarget::Refusal() const
{
    if (Writable())
        return QString();
    const QString what = QDir::toNativeSeparators(Final);
    const QString why = QStringLiteral("not a regular file (%1); nothing was written.").arg(Kind);
    if (Final == Path)
        return what + " is " + why;
    return QDir::toNativeSeparators(Path) + " leads to " + what + ", which is " + why;
}

TTarget Resolve(const QString &path)
{
    TTarget target;
    target.Path = Absolute(path);
    QString current = target.Path;
    for (int links = 0; links <= MostLinks; ++links) {
        struct stat info {};
        const QByteArray name = QFile::encodeName(current);
        if (::lstat(name.constData(), &info) != 0) {
            // Nothing there yet, or a folder on the way that cannot be looked into: the write
            // itself tells the system's reason.
            target.Final = current;
            return target;
        }
        if (!S_ISLNK(info.st_mode)) {
            target.Final = current;
            target.Kind = KindOf(info.st_mode);
            return target;
        }
        QByteArray link(qMax<qsizetype>(info.st_size, 256) + 1, Qt::Uninitialized);
        const ssize_t length = ::readlink(name.constData(), link.data(), static_cast<size_t>(link.size()));
        if (length < 0 || length >= link.size())
            break;
        link.truncate(length);
        const QString next = QFile::decodeName(link);
        current = QDir::isAbsolutePath(next) ? QDir::cleanPath(next)
                                             : QDir::cleanPath(QDir(QFileInfo(current).path()).filePath(next));
    }
    // A loop of links (or one that cannot be read): the write tells what the system makes of it.
    target.Final = target.Path;
    return target;
}

TResult Save(QSaveFile &file, const QByteArray &bytes)
{
    const TTarget target = Resolve(file.fileName());
    if (!target.Writable())
        return Failed(target.Refusal());
    // The bytes go to the end of the links, which stay links.
    file.setFileName(target.Final);
    if (!file.open(QIODevice::WriteOnly))
        return Failed(file.errorString());
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting(); // the copy aside goes; the file in place stays untouched
        file.commit();
        return Failed(reason);
    }
    // Something else may have been put in the file's place meanwhile.
    const TTarget now = Resolve(target.Final);
    if (!now.Writable()) {
        file.cancelWriting();
        file.commit();
        return Failed(now.Refusal());
    }
    if (!file.commit())
        return Failed(file.errorString());
    return TResult{};
}

TResult Save(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return Save(file, bytes);
}

} // namespace SafeFile
