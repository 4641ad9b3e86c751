#include "engine/MeasurementLog.h"

#include "platform/FixedText.h"

#include <algorithm>
#include <QFile>
#include <QRegularExpression>

#include <cmath>
#include <iterator>
#include <cstdlib>

namespace MeasurementLog {

QByteArray Header()
{
    return QByteArrayLiteral("Time,Run,Big count,M1,M2,Phase (deg),Time of flight (us),Temperature (C),Kept by filter");
}

QByteArray Line(const TRecord &record, bool kept)
{
    QByteArray line = TimeText(record.Time);
    for (const QByteArray &field :
         {QByteArray::number(qint64(record.Run)), QByteArray::number(record.BigCount), QByteArray::number(record.M1),
          QByteArray::number(record.M2), Platform::Fixed(record.PhaseDeg, PhaseDecimals),
          Platform::Fixed(record.TimeOfFlight, TimeOfFlightDecimals),
          std::isnan(record.Temperature) ? QByteArray() : Platform::Fixed(record.Temperature, TemperatureDecimals),
          QByteArray(kept ? "1" : "0")})
        line += ',' + field;
    return line;
}

bool Read(const QByteArray &line, TReadLine &read)
{
    enum { Time, Run, BigCount, M1, M2, Phase, TimeOfFlight, Temperature, Kept, FieldCount };
    const QByteArrayList fields = line.split(',');
    if (fields.size() != FieldCount)
        return false;
    read = TReadLine();
    TRecord &record = read.Record;
    record.Time = QDateTime::fromString(QString::fromLatin1(fields[Time]), Qt::ISODateWithMs);
    bool ok[7] = {};
    record.Run = fields[Run].toLongLong(&ok[0]);
    record.BigCount = fields[BigCount].toInt(&ok[1]);
    record.M1 = fields[M1].toInt(&ok[2]);
    record.M2 = fields[M2].toInt(&ok[3]);
    read.PhaseDeg = fields[Phase].toDouble(&ok[4]);
    read.TimeOfFlight = fields[TimeOfFlight].toDouble(&ok[5]);
    ok[6] = true;
    if (!fields[Temperature].isEmpty())
        record.Temperature = fields[Temperature].toFloat(&ok[6]);
    record.PhaseDeg = float(read.PhaseDeg);
    record.TimeOfFlight = float(read.TimeOfFlight);
    read.Kept = fields[Kept] == "1";
    return record.Time.isValid() && record.Run >= 0 && std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; }) &&
           (read.Kept || fields[Kept] == "0") && std::isfinite(read.PhaseDeg) && std::isfinite(read.TimeOfFlight);
}

QByteArray TimeText(const QDateTime &time)
{
    const int offset = time.offsetFromUtc(); // seconds east of UTC
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")).toLatin1() + (offset < 0 ? '-' : '+') +
           QByteArray::number(minutes / 60).rightJustified(2, '0') + ':' +
           QByteArray::number(minutes % 60).rightJustified(2, '0');
}

int64_t LastRun(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const qint64 size = file.size();
    const qint64 start = size > TailBytes ? size - TailBytes : 0;
    if (!file.seek(start))
        return 0;
    QList<QByteArray> lines = file.read(size - start).split('\n');
    // The first piece of a tail that starts inside the file may be the end of a line.
    if (start > 0 && !lines.isEmpty())
        lines.removeFirst();
    // A record: its time as TimeText writes it, then the Run.
    static const QRegularExpression record(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d,(\\d{1,18}),"));
    int64_t last = 0;
    for (const QByteArray &line : std::as_const(lines)) {
        const QRegularExpressionMatch match = record.match(QString::fromLatin1(line));
        if (match.hasMatch())
            last = qMax<int64_t>(last, match.captured(1).toLongLong());
    }
    return last;
}

} // namespace MeasurementLog
