#pragma once
// Names that are no serial device, made in a test's own folder: never a system node.

#include <QDir>
#include <QFile>
#include <QString>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// kind: "folder", "file", "fifo", or "node" (a node of the kernel's null device: a device that is
// no terminal; root only). Returns the path, or an empty string when it could not be made.
inline QString MakeNotSerial(const QString &folder, const QString &kind)
{
    const QString path = QDir(folder).filePath(kind);
    const QByteArray name = path.toLocal8Bit();
    bool made = false;
    if (kind == "folder") {
        made = QDir().mkdir(path);
    } else if (kind == "file") {
        QFile file(path);
        made = file.open(QIODevice::WriteOnly) && file.write("COM1") == 4;
    } else if (kind == "fifo") {
        made = ::mkfifo(name.constData(), 0600) == 0;
    } else if (kind == "node") {
        made = ::geteuid() == 0 && ::mknod(name.constData(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    }
    return made ? path : QString();
}
