#pragma once
// The line's state as the operator sees it at a glance: which port, on which device, with which
// settings; or none; or lost and waited for; or back. The engine tells it, the window shows it.

#include <QMetaType>
#include <QString>
#include <QTime>

struct TLineState {
    enum class TKind { NoPort, Open, Lost, Reopened };
    TKind Kind = TKind::NoPort;
    QString Port;     // "COM1", or the device path the operator chose
    QString Device;   // the device opened, or waited for
    QString Path;     // where Device leads (its node), when that differs
    QString Stable;   // its /dev/serial/by-id name, where the system has one
    QString Settings; // "115200 8N1"
    QTime At;         // when it was lost or opened again
    QString Busy;     // who holds the port, when an open was refused for that

    bool operator==(const TLineState &o) const
    {
        return Kind == o.Kind && Port == o.Port && Device == o.Device && Path == o.Path && Stable == o.Stable
               && Settings == o.Settings && At == o.At && Busy == o.Busy;
    }
    bool operator!=(const TLineState &o) const { return !(*this == o); }

    // "COM1 /dev/ttyUSB0 115200 8N1", "No port open", "COM1 lost at 14:02:11, waiting for
    // /dev/ttyUSB0", "COM1 reopened at 14:02:19".
    QString Text() const;
    // The device's full path, its by-id name and who holds it, one a line.
    QString Tip() const;
    // Red: the line is lost.
    bool Alarm() const { return Kind == TKind::Lost; }
};
Q_DECLARE_METATYPE(TLineState)
