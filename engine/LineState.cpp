#include "engine/LineState.h"

#include <QStringList>

QString TLineState::Text() const
{
    switch (Kind) {
    case TKind::NoPort:
        return QStringLiteral("No port open");
    case TKind::Open: {
        QStringList parts{Port};
        if (Device != Port)
            parts << Device;
        // A link or another name: where it leads too.
        if (!Path.isEmpty() && Path != Device)
            parts << Path;
        parts << Settings;
        return parts.join(' ');
    }
    case TKind::Lost:
        return QStringLiteral("%1 lost at %2, waiting for %3").arg(Port, At.toString("HH:mm:ss"), Device);
    case TKind::Reopened:
        return QStringLiteral("%1 reopened at %2").arg(Port, At.toString("HH:mm:ss"));
    }
    return QString();
}

QString TLineState::Tip() const
{
    QStringList lines;
    if (!Device.isEmpty())
        lines << QStringLiteral("Device: %1").arg(Device);
    if (!Path.isEmpty() && Path != Device)
        lines << QStringLiteral("Leads to: %1").arg(Path);
    if (!Stable.isEmpty() && Stable != Device)
        lines << QStringLiteral("By id: %1").arg(Stable);
    if (!Settings.isEmpty() && Kind != TKind::Open)
        lines << QStringLiteral("Settings: %1").arg(Settings);
    if (!Busy.isEmpty())
        lines << QStringLiteral("Busy: %1").arg(Busy);
    return lines.join('\n');
}
