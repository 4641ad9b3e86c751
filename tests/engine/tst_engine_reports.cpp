// The engine's pure pieces of the receive and measurement path: field conversions, the two report
// records, the phase arithmetic, the batch filter and log lines.

#include "engine/Measurement.h"
#include "engine/Reports.h"
#include "tests/app/ReportTexts.h"

#include <QtTest>

#include <limits>

namespace {

QByteArray Difference(const QByteArray &count, const QByteArray &m1, const QByteArray &m2, const QByteArray &temp)
{
    // Dots between the fields: a field read at a wrong offset shows.
    return Record(44, {{0, "TRFDIF"}, {7, count}, {14, m1}, {26, m2}, {37, temp}}, '.');
}

QByteArray Mean(const QByteArray &count, const QByteArray &m1, const QByteArray &m2)
{
    return Record(79, {{0, "TMEAN"}, {6, "  64"}, {17, " 600"}, {28, " 40"}, {38, "12 "}, {49, count}, {57, m1},
                       {69, m2}},
                  '.');
}

} // namespace

class TestEngineReports : public QObject {
    Q_OBJECT
private slots:
    void decimalInteger_data();
    void decimalInteger();
    void hex32_data();
    void hex32();
    void decimalNumber_data();
    void decimalNumber();
    void meanCount_data();
    void meanCount();
    void differenceFields();
    void meanFieldsKeepNoTemperature();
    void takeRecord_data();
    void takeRecord();
    void takeEitherReport_data();
    void takeEitherReport();
    void phaseAngle_data();
    void phaseAngle();
    void timeOfFlight_data();
    void timeOfFlight();
    void filter_data();
    void filter();
    void fixed_data();
    void fixed();
    void logLine();
};

void TestEngineReports::decimalInteger_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << QByteArray("288") << 288;
    QTest::newRow("leading blank") << QByteArray(" 18") << 18;
    QTest::newRow("signs") << QByteArray("  -5") << -5;
    QTest::newRow("plus") << QByteArray("+7") << 7;
    QTest::newRow("trailing blank") << QByteArray("18 ") << 0;
    QTest::newRow("letter inside") << QByteArray("1x8") << 0;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("blanks only") << QByteArray("   ") << 0;
    QTest::newRow("sign only") << QByteArray("-") << 0;
    QTest::newRow("blank after sign") << QByteArray("- 5") << 0;
    QTest::newRow("largest") << QByteArray("2147483647") << std::numeric_limits<int>::max();
    QTest::newRow("smallest") << QByteArray("-2147483648") << std::numeric_limits<int>::min();
    QTest::newRow("too large") << QByteArray("2147483648") << 0;
    QTest::newRow("far too large") << QByteArray("99999999999999999999") << 0;
}

void TestEngineReports::decimalInteger()
{
    QFETCH(QByteArray, text);
    QFETCH(int, value);
    QCOMPARE(Reports::DecimalInteger(text), value);
}

void TestEngineReports::hex32_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("FFFFFFF0") << QByteArray("FFFFFFF0") << -16;
    QTest::newRow("FFFFFFFF") << QByteArray("FFFFFFFF") << -1;
    QTest::newRow("lower case") << QByteArray("0016e360") << 1500000;
    QTest::newRow("largest") << QByteArray("7FFFFFFF") << std::numeric_limits<int>::max();
    QTest::newRow("first digit 8") << QByteArray("80000000") << std::numeric_limits<int>::min();
    QTest::newRow("garbled") << QByteArray("0016E36G") << 0;
    QTest::newRow("seven digits") << QByteArray("016E360") << 0;
    QTest::newRow("blank inside") << QByteArray(" 016E360") << 0;
    QTest::newRow("sign") << QByteArray("-016E360") << 0;
}

void TestEngineReports::hex32()
{
    QFETCH(QByteArray, text);
    QFETCH(int, value);
    QCOMPARE(Reports::Hex32(text), value);
}

void TestEngineReports::decimalNumber_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<float>("value");
    QTest::newRow("fraction") << QByteArray("25.31") << 25.31f;
    QTest::newRow("leading blank") << QByteArray(" 9.50") << 9.5f;
    QTest::newRow("negative") << QByteArray("-5.25") << -5.25f;
    QTest::newRow("comma") << QByteArray("25,31") << 25.31f;
    QTest::newRow("whole") << QByteArray("100  ") << 100.0f;
    QTest::newRow("dot at end") << QByteArray("+1.") << 1.0f;
    QTest::newRow("garbled") << QByteArray("25.3x") << 0.0f;
    QTest::newRow("two dots") << QByteArray("2.5.3") << 0.0f;
    QTest::newRow("dot only") << QByteArray(".") << 0.0f;
    QTest::newRow("empty") << QByteArray() << 0.0f;
    QTest::newRow("exponent") << QByteArray("1e5") << 0.0f;
}

void TestEngineReports::decimalNumber()
{
    QFETCH(QByteArray, text);
    QFETCH(float, value);
    QCOMPARE(Reports::DecimalNumber(text), value);
}

void TestEngineReports::meanCount_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<int>("value");
    QTest::newRow("1 8 blank") << QByteArray("18 ") << 18;
    QTest::newRow("1 8 x") << QByteArray("18x") << 18;
    QTest::newRow("three digits") << QByteArray("288") << 288;
    QTest::newRow("one digit") << QByteArray("7  ") << 7;
    QTest::newRow("blank first") << QByteArray(" 18") << 18;
    QTest::newRow("blank inside") << QByteArray("1 8") << 0;
    QTest::newRow("blanks") << QByteArray("   ") << 0;
    QTest::newRow("garbled start") << QByteArray("x18") << 0;
}

void TestEngineReports::meanCount()
{
    QFETCH(QByteArray, field);
    QFETCH(int, value);
    QCOMPARE(Reports::MeanCount(field), value);
}

void TestEngineReports::differenceFields()
{
    const auto v = Reports::DifferenceFields(Difference(" 18", "0016E360", "FFFFFFF0", "25.31"));
    QCOMPARE(v.BigCount, 18);
    QCOMPARE(v.M1, 1500000);
    QCOMPARE(v.M2, -16);
    QCOMPARE(v.Temperature, 25.31f);
    QVERIFY(v.Readable);

    // A garbled field gives 0 and makes the record unreadable; the others are still read.
    const auto g = Reports::DifferenceFields(Difference("2?8", "0016E360", "FFFFFFF0", "2#.31"));
    QCOMPARE(g.BigCount, 0);
    QCOMPARE(g.M1, 1500000);
    QCOMPARE(g.Temperature, 0.0f);
    QVERIFY(!g.Readable);
}

void TestEngineReports::meanFieldsKeepNoTemperature()
{
    const auto v = Reports::MeanFields(Mean("18x", "FFFFFFFF", "00000010"));
    QCOMPARE(v.BigCount, 18);
    QCOMPARE(v.M1, -1);
    QCOMPARE(v.M2, 16);
    QCOMPARE(v.Temperature, 0.0f);
    QVERIFY(v.Readable);
}

void TestEngineReports::takeRecord_data()
{
    QTest::addColumn<bool>("mean");
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QByteArray>("left");
    QTest::addColumn<int>("m1");

    const QByteArray dif = Difference("288", "00000005", "00000001", "25.00");
    const QByteArray mean = Mean("288", "00000007", "00000001");
    QTest::newRow("difference alone is not enough") << false << dif << false << dif << 0;
    QTest::newRow("difference and one more") << false << dif + "\r" << true << QByteArray("\r") << 5;
    QTest::newRow("text before is dropped") << false << "noise TRFDIX " + dif + "\r\nrest" << true
                                            << QByteArray("\r\nrest") << 5;
    QTest::newRow("no marker") << false << QByteArray(300, 'T') << false << QByteArray(300, 'T') << 0;
    QTest::newRow("marker is case-sensitive") << false << dif.toLower() + "xx" << false << dif.toLower() + "xx"
                                              << 0;
    QTest::newRow("mean alone is not enough") << true << mean << false << mean << 0;
    QTest::newRow("mean and one more") << true << "zz" + mean + "\r\n" << true << QByteArray("\r\n") << 7;
    QTest::newRow("first mean is taken") << true << mean + mean << true << mean << 7;
    QTest::newRow("90 without TMEAN") << true << QByteArray(90, 'M') << false << QByteArray(90, 'M') << 0;
}

void TestEngineReports::takeRecord()
{
    QFETCH(bool, mean);
    QFETCH(QByteArray, buffer);
    QFETCH(bool, taken);
    QFETCH(QByteArray, left);
    QFETCH(int, m1);
    Reports::TReportValues values;
    const bool result = mean ? Reports::TakeMeanReport(buffer, values) : Reports::TakeDifferenceReport(buffer, values);
    QCOMPARE(result, taken);
    QCOMPARE(buffer, left);
    QCOMPARE(values.M1, m1);
}

void TestEngineReports::takeEitherReport_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QString>("taken"); // per record: D or M readable, d or m refused
    QTest::addColumn<QByteArray>("left");

    const QByteArray dif = Difference("288", "00000005", "00000001", "25.00");
    const QByteArray mean = Mean("288", "00000007", "00000001");
    QTest::newRow("either kind, in order") << dif + "\r\n" + mean + "\r\n" + dif + "\r\n" << "DMD" << QByteArray("\r\n");
    QTest::newRow("the last waits for one more") << mean + mean + mean << "MM" << mean;
    QTest::newRow("no record") << QByteArray(300, 'T') << "" << QByteArray(300, 'T');
    for (const auto &[name, field] : {std::pair{"count", 7}, {"M1", 14}, {"M2", 26}, {"temperature", 38}}) {
        QByteArray garbled = dif;
        garbled[field] = '#';
        QTest::addRow("difference %s garbled", name) << mean + "\r" + garbled + "\r" + mean + "\r\n" << "MdM"
                                                    << QByteArray("\r\n");
    }
    for (const auto &[name, field] : {std::pair{"count", 49}, {"count's digit", 50}, {"M1", 60}, {"M2", 76}}) {
        QByteArray garbled = mean;
        garbled[field] = ':';
        QTest::addRow("mean %s garbled", name) << garbled + "\r\n" << "m" << QByteArray("\r\n");
    }
    // A record that lost its end on the way: the next one still counts.
    QTest::newRow("cut short by the next") << mean.left(40) + mean + "\r\n" << "mM" << QByteArray("\r\n");
    QTest::newRow("cut short by the other kind") << mean.left(30) + dif + "\r\n" << "mD" << QByteArray("\r\n");
}

void TestEngineReports::takeEitherReport()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QString, taken);
    QFETCH(QByteArray, left);
    QString kinds;
    Reports::TReport report;
    while (Reports::TakeReport(buffer, report)) {
        const bool mean = report.Kind == Reports::TReportKind::Mean;
        kinds += report.Values.Readable ? (mean ? 'M' : 'D') : (mean ? 'm' : 'd');
        if (report.Values.Readable)
            QCOMPARE(report.Values.M1, mean ? 7 : 5);
    }
    QCOMPARE(kinds, taken);
    QCOMPARE(buffer, left);
}

// The chunks' texts, each added at the end of the last, read as the byte stream.
void TestEngineReports::phaseAngle_data()
{
    QTest::addColumn<int>("m1");
    QTest::addColumn<int>("m2");
    QTest::addColumn<double>("degrees");
    QTest::newRow("45") << 1000 << 1000 << 45.0;
    QTest::newRow("135") << -1000 << 1000 << 135.0;
    QTest::newRow("225") << -1000 << -1000 << 225.0;
    QTest::newRow("315") << 1000 << -1000 << 315.0;
    QTest::newRow("M2 zero") << -1000 << 0 << 0.0;
    QTest::newRow("M1 zero") << 0 << 1000 << 0.0;
    QTest::newRow("extremes") << std::numeric_limits<int>::min() << std::numeric_limits<int>::min() << 225.0;
}

void TestEngineReports::phaseAngle()
{
    QFETCH(int, m1);
    QFETCH(int, m2);
    QFETCH(double, degrees);
    const double rad = Measurement::PhaseAngle(m1, m2);
    QVERIFY(rad >= 0 && rad <= Measurement::TwoPi);
    QCOMPARE(Measurement::Fixed(Measurement::PhaseDegrees(float(rad)), 3), Measurement::Fixed(degrees, 3));
}

void TestEngineReports::timeOfFlight_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<float>("phase");
    QTest::addColumn<int>("bigTime");
    QTest::addColumn<QByteArray>("tof");
    QTest::newRow("290 and 90 degrees") << 290 << 90.0f << 18 << QByteArray("4.5625");
    QTest::newRow("negative count truncates toward zero") << -17 << 0.0f << -1 << QByteArray("-0.2500");
    QTest::newRow("zero") << 15 << 0.0f << 0 << QByteArray("0.0000");
    QTest::newRow("almost a cycle") << 16 << 359.999f << 1 << QByteArray("0.5000");
}

void TestEngineReports::timeOfFlight()
{
    QFETCH(int, count);
    QFETCH(float, phase);
    QFETCH(int, bigTime);
    QFETCH(QByteArray, tof);
    QCOMPARE(Measurement::BigTime(count), bigTime);
    QCOMPARE(Measurement::Fixed(Measurement::TimeOfFlight(bigTime, phase), 4), tof);
}

void TestEngineReports::filter_data()
{
    QTest::addColumn<QList<float>>("phases");
    QTest::addColumn<QList<float>>("kept"); // the time-of-flight values left: the reports' numbers

    QList<float> equal(32, 100.0f), all;
    for (int i = 0; i < 32; ++i)
        all << float(i);
    QTest::newRow("32 equal values") << equal << all;

    QList<float> oneHigh(31, 100.0f);
    oneHigh << 200.0f;
    QList<float> keptHigh = all.mid(1, 30);
    QTest::newRow("31 equal and one 100 higher") << oneHigh << keptHigh;

    QList<float> highFirst = oneHigh;
    highFirst.move(31, 0);
    QList<float> keptFirst = all.mid(2, 30);
    QTest::newRow("the high one first") << highFirst << keptFirst;

    // Spread below one degree everywhere: the band of 1.6 standard deviations still trims.
    QList<float> wobble, keptWobble;
    for (int i = 0; i < 32; ++i) {
        wobble << (i % 2 ? 100.2f : 99.8f);
        keptWobble << float(i);
    }
    wobble[5] = 101.0f; // 2.8 deviations above: dropped by the band
    keptWobble.removeAt(5);
    QTest::newRow("band trims one") << wobble << keptWobble;

    // Wide scatter: the outlier loop stops once fewer than ten values remain.
    QList<float> wide, keptWide;
    for (int i = 0; i < 32; ++i)
        wide << float(i * 10);
    QTest::newRow("wide scatter") << wide << QList<float>({12, 13, 14, 15, 16, 17, 18, 19});
}

void TestEngineReports::filter()
{
    QFETCH(QList<float>, phases);
    QFETCH(QList<float>, kept);
    TCircularBuffer<float> phase(32), tof(32);
    for (int i = 0; i < phases.size(); ++i) {
        phase.Push(phases[i]);
        tof.Push(float(i));
    }
    Measurement::RemoveOutliers(phase, tof);
    Measurement::BandFilter(phase, tof);
    QList<float> left, leftPhase;
    for (int i = 0; i < tof.Count(); ++i) {
        left << tof.At(i);
        leftPhase << phase.At(i);
    }
    QCOMPARE(left, kept);
    // Phase and time of flight of the same report stay together.
    for (int i = 0; i < left.size(); ++i)
        QCOMPARE(leftPhase[i], phases[int(left[i])]);
}

void TestEngineReports::fixed_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("three") << 90.0 << 3 << QByteArray("90.000");
    QTest::newRow("tie away from zero") << 4.5625 << 3 << QByteArray("4.563");
    QTest::newRow("negative tie") << -4.5625 << 3 << QByteArray("-4.563");
    QTest::newRow("below a tie") << 4.5624999 << 3 << QByteArray("4.562");
    QTest::newRow("tie at four") << 4.53125 << 4 << QByteArray("4.5313");
    QTest::newRow("no negative zero") << -0.0001 << 3 << QByteArray("0.000");
    QTest::newRow("negative") << -0.25 << 4 << QByteArray("-0.2500");
    QTest::newRow("temperature") << double(25.31f) << 2 << QByteArray("25.31");
    QTest::newRow("large") << 1e20 << 2 << QByteArray("100000000000000000000.00");
}

void TestEngineReports::fixed()
{
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QByteArray, text);
    QCOMPARE(Measurement::Fixed(value, decimals), text);
}

void TestEngineReports::logLine()
{
    Measurement::TLogLine line;
    QByteArray expected = "25.31";
    for (int i = 1; i <= 31; ++i) {
        QVERIFY(!line.Add(QByteArray::number(i), "25.31"));
        expected += "," + QByteArray::number(i);
    }
    // The first field is taken when the line starts, not when it ends.
    QVERIFY(line.Add("32", "99.99"));
    QCOMPARE(line.Line(), expected + ",32");
    QCOMPARE(line.Count(), 0);
    QVERIFY(!line.Add("33", "26.00"));
    QCOMPARE(line.Line(), QByteArray("26.00,33"));
}

QTEST_APPLESS_MAIN(TestEngineReports)
#include "tst_engine_reports.moc"
