#pragma once
// A fresh temporary folder as the working folder for as long as it lives, so files the program
// names without a folder ("Phase.csv", ...) land there; the previous working folder comes back
// and the folder is removed at the end.

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

class TWorkingFolder {
public:
    TWorkingFolder() : FPrevious(QDir::currentPath()) { FEntered = FDir.isValid() && QDir::setCurrent(FDir.path()); }
    ~TWorkingFolder() { QDir::setCurrent(FPrevious); }
    TWorkingFolder(const TWorkingFolder &) = delete;
    TWorkingFolder &operator=(const TWorkingFolder &) = delete;

    bool IsValid() const { return FEntered; }
    QString Folder() const { return FDir.path(); }
    QString Path(const QString &name) const { return FDir.filePath(name); }
    // A file's bytes, or "<missing>" when it cannot be read.
    static QByteArray Read(const QString &name)
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    // Whether the bytes were written whole as the file's new content.
    static bool Write(const QString &name, const QByteArray &bytes)
    {
        QFile file(name);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
    // Lines (line ends) in a file, or -1 when it cannot be read.
    static int LineCount(const QString &name)
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : -1;
    }

private:
    QTemporaryDir FDir;
    QString FPrevious;
    bool FEntered = false;
};
