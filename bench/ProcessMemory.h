#pragma once
// The program's own memory as Linux counts it, for the benchmarks that print memory figures.

#include <QByteArray>
#include <QFile>

// A field of /proc/self/status ("VmRSS:", "VmHWM:"), in MB; -1 when it cannot be read.
inline double StatusMB(const char *field)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}
