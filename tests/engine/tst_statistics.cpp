// The statistics of the kept time of flight: hand-made series with known figures, the last N
// against a direct computation over the same values, the Statistics.csv row, and the rows read
// back from a Measurements.csv.

#include "engine/MeasurementLog.h"
#include "engine/Statistics.h"
#include "engine/StatisticsLog.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QtTest>

#include <cmath>

namespace {

using TFigureList = QList<double>; // count, mean, SD, min, max, p-p, drift, mean phase, SD phase, ADEV 1, 10, 100; NaN: empty
const double None = std::nan("");

TFigureList Listed(const TStatisticsFigures &f)
{
    const auto v = [](const std::optional<double> &x) { return x ? *x : None; };
    return {double(f.Count), v(f.MeanTOF),   v(f.SDTOF),   v(f.MinTOF),  v(f.MaxTOF),  v(f.PeakToPeakTOF),
            v(f.Drift),      v(f.MeanPhase), v(f.SDPhase), v(f.ADEV[0]), v(f.ADEV[1]), v(f.ADEV[2])};
}

bool Near(const TFigureList &got, const TFigureList &want, double tolerance, QString &why)
{
    for (qsizetype i = 0; i < want.size(); ++i) {
        const bool same = std::isnan(want[i]) ? std::isnan(got[i])
                                              : std::abs(got[i] - want[i]) <= tolerance * std::max(1.0, std::abs(want[i]));
        if (!same) {
            why = QStringLiteral("figure %1: %2, not %3").arg(i).arg(got[i], 0, 'g', 12).arg(want[i], 0, 'g', 12);
            return false;
        }
    }
    return true;
}

// The figures by their definitions, two passes over the values, nothing kept between calls.
TFigureList Direct(const QList<TStatisticsValue> &values)
{
    const qsizetype n = values.size();
    double mean = 0, seconds = 0, phase = 0;
    double least = values[0].TimeOfFlight, most = least;
    for (const TStatisticsValue &v : values) {
        mean += v.TimeOfFlight / n;
        seconds += (v.TimeMs - values[0].TimeMs) / 1000.0 / n;
        phase += v.PhaseDeg / n;
        least = std::min(least, v.TimeOfFlight);
        most = std::max(most, v.TimeOfFlight);
    }
    double ss = 0, st = 0, sty = 0, sp = 0;
    for (const TStatisticsValue &v : values) {
        const double t = (v.TimeMs - values[0].TimeMs) / 1000.0 - seconds;
        ss += (v.TimeOfFlight - mean) * (v.TimeOfFlight - mean);
        st += t * t;
        sty += t * (v.TimeOfFlight - mean);
        sp += (v.PhaseDeg - phase) * (v.PhaseDeg - phase);
    }
    TFigureList figures{double(n), mean, std::sqrt(ss / (n - 1)) * 1e6, least, most, (most - least) * 1e6,
                        sty / st * 60e6, phase, std::sqrt(sp / (n - 1))};
    for (int span : AdevSpans) {
        QList<double> groups;
        for (qsizetype g = 0; (g + 1) * span <= n; ++g) {
            double sum = 0;
            for (qsizetype i = g * span; i < (g + 1) * span; ++i)
                sum += values[i].TimeOfFlight;
            groups << sum / span;
        }
        double squares = 0;
        for (qsizetype k = 1; k < groups.size(); ++k)
            squares += (groups[k] - groups[k - 1]) * (groups[k] - groups[k - 1]);
        figures << (groups.size() < 2 ? None : std::sqrt(squares / (2.0 * (groups.size() - 1))) * 1e6);
    }
    return figures;
}

// A time of flight of 4.5 us plus `ps` picoseconds.
TStatisticsValue Value(double ps, int64_t ms, double phase)
{
    return {4.5 + ps * 1e-6, 1'800'000'000'000 + ms, phase};
}

QByteArray MeasurementLine(const char *time, int run, double tof, bool kept)
{
    MeasurementLog::TRecord record;
    record.Time = QDateTime::fromString(QString::fromLatin1(time), Qt::ISODateWithMs);
    record.Run = run;
    record.BigCount = 288;
    record.M1 = record.M2 = 1000;
    record.PhaseDeg = 45;
    record.TimeOfFlight = float(tof);
    return MeasurementLog::Line(record, kept);
}

} // namespace

Q_DECLARE_METATYPE(TStatisticsValue)

class TestStatistics : public QObject {
    Q_OBJECT
private slots:
    void knownSeries_data();
    void knownSeries();
    void lastNAgainstDirect_data();
    void lastNAgainstDirect();
    void runTakesItsOwnKeptValues();
    void row();
    void rowsOfAFile();
    void notAMeasurementsFile_data();
    void notAMeasurementsFile();
};

void TestStatistics::knownSeries_data()
{
    QTest::addColumn<QList<TStatisticsValue>>("values");
    QTest::addColumn<TFigureList>("figures");

    // 1 ps more each second: 60 ps/min, and each span's neighbours differ by the span.
    QList<TStatisticsValue> ramp;
    for (int i = 0; i < 250; ++i)
        ramp << Value(i, i * 1000, 90);
    const double half = std::sqrt(0.5);
    QTest::newRow("ramp of 250") << ramp
                                 << TFigureList{250, 4.5001245, std::sqrt(250 * 251 / 12.0), 4.5, 4.500249, 249, 60,
                                                90, 0, half, 10 * half, 100 * half};
    // 0, 2, 0, 2 ps a minute apart, the phase on both sides of 0 degrees: one cluster about 0.
    QTest::newRow("alternating") << QList<TStatisticsValue>{Value(0, 0, 359.5), Value(2, 60000, 0.5),
                                                            Value(0, 120000, 359.5), Value(2, 180000, 0.5)}
                                 << TFigureList{4, 4.500001, std::sqrt(4 / 3.0), 4.5, 4.500002, 2, 0.4, 0,
                                                std::sqrt(1 / 3.0), std::sqrt(2.0), None, None};
    QTest::newRow("one value") << QList<TStatisticsValue>{Value(3, 0, 12.5)}
                               << TFigureList{1, 4.500003, None, 4.500003, 4.500003, 0, None, 12.5, None, None, None, None};
    QTest::newRow("two at one instant") << QList<TStatisticsValue>{Value(1, 5, 10), Value(3, 5, 20)}
                                        << TFigureList{2, 4.500002, std::sqrt(2.0), 4.500001, 4.500003, 2, None, 15,
                                                       std::sqrt(50.0), std::sqrt(2.0), None, None};
}

void TestStatistics::knownSeries()
{
    QFETCH(QList<TStatisticsValue>, values);
    QFETCH(TFigureList, figures);
    TRunningStatistics run;
    TWindowStatistics window(TWindowStatistics::MaxSize);
    for (const TStatisticsValue &value : values) {
        run.Add(value);
        window.Add(value);
    }
    QString why;
    QVERIFY2(Near(Listed(run.Figures()), figures, 1e-9, why), qPrintable("Run: " + why));
    QVERIFY2(Near(Listed(window.Figures()), figures, 1e-9, why), qPrintable("last N: " + why));
}

void TestStatistics::lastNAgainstDirect_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("count");
    QTest::newRow("32 of 40") << 32 << 40;
    QTest::newRow("250 of 3000, rebased often") << 250 << 3000;
    QTest::newRow("1000 of 700, not full") << 1000 << 700;
}

void TestStatistics::lastNAgainstDirect()
{
    QFETCH(int, size);
    QFETCH(int, count);
    // Noise of a few ps on a slow wander, a jump of one carrier cycle, reports 3 ms apart.
    QRandomGenerator random(size);
    QList<TStatisticsValue> values;
    TWindowStatistics window(size);
    for (int i = 0; i < count; ++i) {
        const double ps = 5 * (random.generateDouble() - 0.5) + 0.01 * i + (i > count / 2 ? 250000 : 0);
        values << Value(ps, 3 * i + random.bounded(2), 200 + random.generateDouble());
        window.Add(values.last());
    }
    const TFigureList want = Direct(values.mid(std::max(0, count - size)));
    QString why;
    QVERIFY2(Near(Listed(window.Figures()), want, 1e-7, why), qPrintable(why));
    // A smaller window keeps the newest values.
    window.SetSize(32);
    QVERIFY2(Near(Listed(window.Figures()), Direct(values.mid(count - 32)), 1e-7, why), qPrintable(why));
}

void TestStatistics::runTakesItsOwnKeptValues()
{
    TStatistics statistics;
    statistics.SetWindowSize(32);
    const auto report = [](int64_t run, float tof, bool kept) {
        TReport r;
        r.Record.Time = QDateTime::currentDateTime();
        r.Record.Run = run;
        r.Record.TimeOfFlight = tof;
        r.Kept = kept;
        return r;
    };
    statistics.BeginRun(2);
    // A dropped value, one of another Run and one outside any Run: none of them is the Run's.
    statistics.Add({report(2, 4.25f, true), report(2, 9.0f, false), report(1, 8.0f, true), report(0, 7.0f, true),
                    report(2, 4.75f, true)});
    QCOMPARE(statistics.RunFigures().Count, 2);
    QCOMPARE(*statistics.RunFigures().MeanTOF, 4.5);
    QCOMPARE(statistics.WindowFigures().Count, 4);
    statistics.BeginRun(3);
    QCOMPARE(statistics.RunFigures().Count, 0);
    QCOMPARE(statistics.WindowFigures().Count, 4);
}

void TestStatistics::row()
{
    QCOMPARE(StatisticsLog::Header(), QByteArray("Time,Run,Values,Mean TOF (us),SD TOF (ps),Min TOF (us),Max TOF (us),"
                                                 "Peak-to-peak TOF (ps),Drift (ps/min),Mean phase (deg),SD phase (deg),"
                                                 "ADEV 1 (ps),ADEV 10 (ps),ADEV 100 (ps)"));
    TRunningStatistics run;
    for (const TStatisticsValue &value :
         {Value(0, 0, 359.5), Value(2, 60000, 0.5), Value(0, 120000, 359.5), Value(2, 180000, 0.5)})
        run.Add(value);
    const QDateTime time = QDateTime::fromString("2026-12-07T10:15:00.250+01:00", Qt::ISODateWithMs);
    QCOMPARE(StatisticsLog::Line(time, 3, run.Figures()),
             QByteArray("2026-12-07T10:15:00.250+01:00,3,4,4.500001,1.15,4.500000,4.500002,2.00,0.40,0.000,0.577,1.41,,"));
    QCOMPARE(StatisticsLog::Line(time, 4, TStatisticsFigures()), QByteArray("2026-12-07T10:15:00.250+01:00,4,0,,,,,,,,,,,"));
    QCOMPARE(StatisticsLog::Summary(run.Figures()),
             QStringLiteral("time of flight: 4 values kept, mean 4.500001 us, SD 1.15 ps, drift 0.40 ps/min"));
    QCOMPARE(StatisticsLog::Summary(TStatisticsFigures()), QStringLiteral("time of flight: no values kept"));
}

void TestStatistics::rowsOfAFile()
{
    // Two Runs with lines outside any Run between and after them, and a value the filter dropped.
    QByteArray file = MeasurementLog::Header() + "\r\n";
    for (const QByteArray &line :
         {MeasurementLine("2026-12-07T10:00:00.000+01:00", 1, 4.531250, true),
          MeasurementLine("2026-12-07T10:00:30.000+01:00", 1, 4.531252, true),
          MeasurementLine("2026-12-07T10:01:00.000+01:00", 1, 4.531990, false),
          MeasurementLine("2026-12-07T10:01:05.000+01:00", 0, 4.0, true),
          MeasurementLine("2026-12-07T10:02:00.000+01:00", 2, 4.531250, true),
          MeasurementLine("2026-12-07T10:03:00.000+01:00", 0, 4.0, true)})
        file += line + "\r\n";
    QBuffer buffer(&file);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QByteArrayList rows;
    QString error;
    QVERIFY2(StatisticsLog::FromMeasurements(buffer, [&rows](const QByteArray &row) { rows << row; }, error),
             qPrintable(error));
    QCOMPARE(rows, QByteArrayList({"2026-12-07T10:01:00.000+01:00,1,2,4.531251,1.41,4.531250,4.531252,2.00,4.00,"
                                   "45.000,0.000,1.41,,",
                                   "2026-12-07T10:02:00.000+01:00,2,1,4.531250,,4.531250,4.531250,0.00,,45.000,,,,"}));
}

void TestStatistics::notAMeasurementsFile_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    const QByteArray header = MeasurementLog::Header() + "\r\n";
    const QByteArray line = MeasurementLine("2026-12-07T10:00:00.000+01:00", 1, 4.5, true) + "\r\n";
    QTest::newRow("empty") << QByteArray() << "it is empty";
    QTest::newRow("no header") << line << "line 1 does not fit (the first line of a Measurements.csv is its header): \"2026";
    QTest::newRow("Phase.csv") << QByteArray("45.000,45.000\r\n") << "line 1 does not fit";
    QTest::newRow("a field short") << header + line + line.left(line.lastIndexOf(',')) << "line 3 does not fit: \"2026";
    QTest::newRow("kept neither 0 nor 1") << header + QByteArray(line).replace(",1\r", ",2\r") << "line 2 does not fit";
    QTest::newRow("bad time") << header + "yesterday" + line.mid(line.indexOf(',')) << "line 2 does not fit: \"yesterday,1,";
}

void TestStatistics::notAMeasurementsFile()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QBuffer buffer(&text);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QString got;
    QVERIFY(!StatisticsLog::FromMeasurements(buffer, [](const QByteArray &) {}, got));
    QVERIFY2(got.startsWith(error), qPrintable(got));
}

QTEST_MAIN(TestStatistics)
#include "tst_statistics.moc"
