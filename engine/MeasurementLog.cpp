#include "engine/MeasurementLog.h"

#include "platform/FixedText.h"

#include <cmath>
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

QByteArray TimeText(const QDateTime &time)
{
    const int offset = time.offsetFromUtc(); // seconds east of UTC
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")).toLatin1() + (offset < 0 ? '-' : '+') +
           QByteArray::number(minutes / 60).rightJustified(2, '0') + ':' +
           QByteArray::number(minutes % 60).rightJustified(2, '0');
}

} // namespace MeasurementLog
