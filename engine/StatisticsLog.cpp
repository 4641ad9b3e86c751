#include "engine/StatisticsLog.h"

#include "engine/MeasurementLog.h"
#include "platform/FixedText.h"

#include <QIODevice>
#include <QStringList>

namespace StatisticsLog {

namespace {
constexpr int MicrosecondDecimals = 6;
constexpr int PicosecondDecimals = 2;
constexpr int DegreeDecimals = 3;
// Enough of a line that does not fit to find it again.
constexpr int QuotedLength = 80;

QByteArray Field(const std::optional<double> &value, int decimals)
{
    return value ? Platform::Fixed(*value, decimals) : QByteArray();
}
} // namespace

QByteArray Header()
{
    return QByteArrayLiteral("Time,Run,Values,Mean TOF (us),SD TOF (ps),Min TOF (us),Max TOF (us),"
                             "Peak-to-peak TOF (ps),Drift (ps/min),Mean phase (deg),SD phase (deg),"
                             "ADEV 1 (ps),ADEV 10 (ps),ADEV 100 (ps)");
}

QByteArray Line(const QDateTime &time, int64_t run, const TStatisticsFigures &figures)
{
    QByteArray line = MeasurementLog::TimeText(time);
    for (const QByteArray &field :
         {QByteArray::number(qint64(run)), QByteArray::number(qint64(figures.Count)),
          Field(figures.MeanTOF, MicrosecondDecimals), Field(figures.SDTOF, PicosecondDecimals),
          Field(figures.MinTOF, MicrosecondDecimals), Field(figures.MaxTOF, MicrosecondDecimals),
          Field(figures.PeakToPeakTOF, PicosecondDecimals), Field(figures.Drift, PicosecondDecimals),
          Field(figures.MeanPhase, DegreeDecimals), Field(figures.SDPhase, DegreeDecimals)})
        line += ',' + field;
    for (const std::optional<double> &adev : figures.ADEV)
        line += ',' + Field(adev, PicosecondDecimals);
    return line;
}

QString Summary(const TStatisticsFigures &figures)
{
    if (figures.Count == 0)
        return QStringLiteral("time of flight: no values kept");
    QStringList parts{QStringLiteral("time of flight: %1 value%2 kept").arg(figures.Count).arg(figures.Count == 1 ? "" : "s")};
    const auto part = [&parts](const char *text, const std::optional<double> &value, int decimals, const char *unit) {
        if (value)
            parts << QStringLiteral("%1 %2 %3").arg(QLatin1String(text), Platform::FixedText(*value, decimals),
                                                    QLatin1String(unit));
    };
    part("mean", figures.MeanTOF, MicrosecondDecimals, "us");
    part("SD", figures.SDTOF, PicosecondDecimals, "ps");
    part("drift", figures.Drift, PicosecondDecimals, "ps/min");
    part("ADEV 10:", figures.ADEV[1], PicosecondDecimals, "ps");
    return parts.join(", ");
}

bool ReadMeasurements(QIODevice &file, const std::function<void(const MeasurementLog::TReadLine &)> &record,
                      const std::function<void()> &header, QString &error)
{
    int64_t number = 0;
    bool headerSeen = false;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        ++number;
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        MeasurementLog::TReadLine read;
        if (line == MeasurementLog::Header()) {
            headerSeen = true;
            header();
            continue;
        }
        if (!headerSeen || !MeasurementLog::Read(line, read)) {
            const QByteArray quoted = line.size() > QuotedLength ? line.left(QuotedLength) + "..." : line;
            error = QStringLiteral("line %1 does not fit%2: \"%3\"")
                        .arg(number)
                        .arg(headerSeen ? "" : " (the first line of a Measurements.csv is its header)")
                        .arg(QString::fromLatin1(quoted));
            return false;
        }
        record(read);
    }
    if (number == 0) {
        error = "it is empty";
        return false;
    }
    return true;
}

bool FromMeasurements(QIODevice &file, const std::function<void(const QByteArray &row)> &row, QString &error)
{
    // A Run is the lines in a row with its number; lines outside any Run (0) belong to none.
    int64_t run = 0;
    QDateTime last;
    TRunningStatistics values;
    const auto endRun = [&] {
        if (run != 0)
            row(Line(last, run, values.Figures()));
        run = 0;
        values.Reset();
    };
    const auto record = [&](const MeasurementLog::TReadLine &read) {
        if (read.Record.Run != run)
            endRun();
        run = read.Record.Run;
        last = read.Record.Time;
        if (run != 0 && read.Kept)
            values.Add({read.TimeOfFlight, read.Record.Time.toMSecsSinceEpoch(), read.PhaseDeg});
    };
    // Another file's lines may follow a header: its Runs count from 1 again.
    if (!ReadMeasurements(file, record, endRun, error))
        return false;
    endRun();
    return true;
}

} // namespace StatisticsLog
