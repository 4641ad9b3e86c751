// The simulator read back by the program itself: every report it sends parses, with the
// program's own report functions, into the values its model produced; spoiled fields read as
// nothing else; waveform blocks have the sample-line layout; and the main window on the
// simulator's line ends up holding the reading the simulator reported.

#include "engine/Reports.h"
#include "app/Unitmain.h"
#include "sim/SimInstrument.h"
#include "sim/SimProtocol.h"
#include "sim/SimRecords.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/WorkingFolder.h"

#include <QDir>
#include <QFile>
#include "tests/sim/CraftedReading.h"

#include <QtTest>

#include <climits>
#include <cmath>

namespace {

constexpr int Seeds = 200;
constexpr int ReadingsPerSeed = 6;
constexpr int WaveSeeds = 40;
constexpr int WaitMs = 20000;
constexpr int SampleMax = 4095;   // 12-bit converter

TSimOptions Options(quint32 seed)
{
    TSimOptions options;
    options.Seed = seed;
    return options;
}

// Starts the instrument and names its line as COM1, for a window opened next; why not, if not.
QString StartOnCom1(TSimInstrument &instrument)
{
    QString error;
    if (!instrument.Start(&error))
        return error.isEmpty() ? QStringLiteral("the instrument did not start") : error;
    qputenv("ZARN_COM1", instrument.SlavePath().toLocal8Bit());
    return QString();
}

QByteArray TrimTrailingBlanks(QByteArray text)
{
    while (text.endsWith(' '))
        text.chop(1);
    return text;
}

// A sample field as a reader takes it: a fourth character that is not a digit is dropped.
int SampleValue(const QByteArray &field)
{
    return Reports::DecimalInteger(field[3] >= '0' && field[3] <= '9' ? field : field.left(3));
}

QString Describe(quint32 seed, int reading, const QByteArray &record)
{
    return QStringLiteral("seed %1, reading %2: %3").arg(seed).arg(reading).arg(QString::fromLatin1(record));
}

} // namespace

class TestSimParse : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void craftedRecordsParse_data();
    void craftedRecordsParse();
    void modelRecordsParse();
    void garbledFieldsReadAsZero();
    void waveBlocksHaveSampleLayout();
    void windowReadsSimulatorReports_data();
    void windowReadsSimulatorReports();
    void windowLogsSimulatorMeasurements();

private:
    std::unique_ptr<TWorkingFolder> FFolder;
};

void TestSimParse::init()
{
    // The window writes its measurement logs into the working folder.
    FFolder = std::make_unique<TWorkingFolder>();
    QVERIFY(FFolder->IsValid());
}

void TestSimParse::cleanup()
{
    FFolder.reset();
}

void TestSimParse::craftedRecordsParse_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("m1");
    QTest::addColumn<int>("m2");
    QTest::addColumn<double>("temperature");
    QTest::addColumn<QByteArray>("meanCountText");
    QTest::addColumn<QByteArray>("differenceCountText");

    QTest::newRow("nominal") << 288 << 1031063 << 1096287 << 25.31 << QByteArray("288") << QByteArray("288");
    QTest::newRow("two digits") << 18 << -1200000 << 900000 << 25.0 << QByteArray("18 ") << QByteArray(" 18");
    QTest::newRow("one digit") << 5 << -5 << -1500000 << 9.5 << QByteArray("5  ") << QByteArray("  5");
    QTest::newRow("zero") << 0 << 1500000 << -16 << 0.0 << QByteArray("0  ") << QByteArray("  0");
    QTest::newRow("one cycle") << 16 << 1 << -1 << 99.99 << QByteArray("16 ") << QByteArray(" 16");
    QTest::newRow("largest") << 999 << INT_MAX << INT_MIN << 104.26 << QByteArray("999") << QByteArray("999");
    QTest::newRow("negative") << -16 << -1 << 1 << -3.25 << QByteArray("-16") << QByteArray("-16");
    QTest::newRow("negative, one digit") << -5 << 42 << -42 << -0.5 << QByteArray("-5 ") << QByteArray(" -5");
}

void TestSimParse::craftedRecordsParse()
{
    QFETCH(int, count);
    QFETCH(int, m1);
    QFETCH(int, m2);
    QFETCH(double, temperature);
    QFETCH(QByteArray, meanCountText);
    QFETCH(QByteArray, differenceCountText);
    const TSimReading reading = Crafted(count, m1, m2, temperature);

    const QByteArray mean = SimRecords::MeanReport(reading);
    QCOMPARE(mean.mid(49, 3), meanCountText);
    const Reports::TReportValues meanValues = Reports::MeanFields(mean);
    QCOMPARE(meanValues.BigCount, count);
    QCOMPARE(meanValues.M1, m1);
    QCOMPARE(meanValues.M2, m2);

    const QByteArray difference = SimRecords::DifferenceReport(reading);
    QCOMPARE(difference.mid(7, 3), differenceCountText);
    const Reports::TReportValues differenceValues = Reports::DifferenceFields(difference);
    QCOMPARE(differenceValues.BigCount, count);
    QCOMPARE(differenceValues.M1, m1);
    QCOMPARE(differenceValues.M2, m2);
    const double resolution = std::abs(temperature) >= 99.995 ? 0.05 : TemperatureTolerance;
    QVERIFY2(std::abs(differenceValues.Temperature - temperature) <= resolution, difference.constData());
}

void TestSimParse::modelRecordsParse()
{
    for (quint32 seed = 1; seed <= Seeds; ++seed) {
        TSimProtocol protocol(Options(seed));
        // One received stream per seed, records taken off its front one after another, as a
        // reader's buffer would hold them.
        QByteArray means, differences;
        QList<TSimReading> readings;
        for (int i = 0; i < ReadingsPerSeed; ++i) {
            QVERIFY(protocol.Answer('a').isEmpty());
            readings += protocol.Model().Reading();
            means += TSimProtocol::Join(protocol.Answer('z'));
            differences += TSimProtocol::Join(protocol.Answer('x'));
        }
        for (int i = 0; i < ReadingsPerSeed; ++i) {
            const TSimReading &r = readings[i];
            const QByteArray meanRecord = means.mid(means.indexOf(Reports::MeanMarker), Reports::MeanLength);
            Reports::TReportValues v;
            QVERIFY2(Reports::TakeMeanReport(means, v), qPrintable(Describe(seed, i, meanRecord)));
            QVERIFY2(v.BigCount == r.Count && v.M1 == r.M1 && v.M2 == r.M2, qPrintable(Describe(seed, i, meanRecord)));
            // The fields the program does not use still read as the numbers they stand for.
            QCOMPARE(Reports::DecimalInteger(meanRecord.mid(6, 4)), r.Averages);
            QCOMPARE(Reports::DecimalInteger(meanRecord.mid(17, 4)), r.Peak);
            QCOMPARE(Reports::DecimalInteger(meanRecord.mid(28, 3)), r.Snr);
            QCOMPARE(Reports::DecimalInteger(TrimTrailingBlanks(meanRecord.mid(38, 3))), r.Gain);

            const QByteArray differenceRecord =
                differences.mid(differences.indexOf(Reports::DifferenceMarker), Reports::DifferenceLength);
            QVERIFY2(Reports::TakeDifferenceReport(differences, v), qPrintable(Describe(seed, i, differenceRecord)));
            QVERIFY2(v.BigCount == r.Count && v.M1 == r.M1 && v.M2 == r.M2,
                     qPrintable(Describe(seed, i, differenceRecord)));
            QVERIFY2(std::abs(v.Temperature - r.Temperature) <= TemperatureTolerance,
                     qPrintable(Describe(seed, i, differenceRecord)));
        }
        // Each record's line end is all that follows the last one.
        QCOMPARE(means, QByteArray("\r\n"));
        QCOMPARE(differences, QByteArray("\r\n"));
    }
}

void TestSimParse::garbledFieldsReadAsZero()
{
    // A spoiled field must not read as some other plausible number: the program would compute
    // with it as if it were the instrument's.
    int spoiled = 0, checked = 0;
    for (quint32 seed = 1; seed <= Seeds; ++seed) {
        TSimOptions options = Options(seed);
        options.Garble = 0.5;
        TSimProtocol garbled(options), clean(Options(seed));
        for (int i = 0; i < ReadingsPerSeed; ++i) {
            garbled.Answer('a');
            clean.Answer('a');
            for (char command : {'z', 'x'}) {
                const QByteArray bad = TSimProtocol::Join(garbled.Answer(command));
                const QByteArray good = TSimProtocol::Join(clean.Answer(command));
                const bool isMean = command == 'z';
                const Reports::TReportValues badValues = isMean ? Reports::MeanFields(bad) : Reports::DifferenceFields(bad);
                const Reports::TReportValues goodValues = isMean ? Reports::MeanFields(good) : Reports::DifferenceFields(good);
                struct TChecked {
                    TSimField Field;
                    double Bad, Good;
                };
                QList<TChecked> fields{
                    {isMean ? SimRecords::MeanCount : SimRecords::DifferenceCount, double(badValues.BigCount),
                     double(goodValues.BigCount)},
                    {isMean ? SimRecords::MeanM1 : SimRecords::DifferenceM1, double(badValues.M1), double(goodValues.M1)},
                    {isMean ? SimRecords::MeanM2 : SimRecords::DifferenceM2, double(badValues.M2), double(goodValues.M2)}};
                if (!isMean)
                    fields += TChecked{SimRecords::DifferenceTemperature, double(badValues.Temperature),
                                       double(goodValues.Temperature)};
                for (const TChecked &f : fields) {
                    ++checked;
                    const bool textSpoiled = bad.mid(f.Field.Offset, f.Field.Length) != good.mid(f.Field.Offset, f.Field.Length);
                    spoiled += textSpoiled;
                    const double expected = textSpoiled ? 0.0 : f.Good;
                    QVERIFY2(f.Bad == expected,
                             qPrintable(QStringLiteral("%1 reads %2, clean %3").arg(QString::fromLatin1(bad)).arg(f.Bad).arg(f.Good)));
                }
            }
        }
    }
    for (quint32 seed = 1; seed <= WaveSeeds; ++seed) {
        TSimOptions options = Options(seed);
        options.Garble = 0.5;
        const QByteArray bad = TSimProtocol::Join(TSimProtocol(options).Answer('s'));
        const QByteArray good = TSimProtocol::Join(TSimProtocol(Options(seed)).Answer('s'));
        QCOMPARE(bad.size(), good.size());
        for (int at = SimRecords::WaveHeaderLength; at < bad.size(); at += SimRecords::SampleLineLength) {
            for (int offset : {0, 5}) {
                const QByteArray badField = bad.mid(at + offset, 4), goodField = good.mid(at + offset, 4);
                ++checked;
                spoiled += badField != goodField;
                const int expected = badField != goodField ? 0 : SampleValue(goodField);
                QVERIFY2(SampleValue(badField) == expected,
                         qPrintable(QStringLiteral("seed %1: %2 for %3").arg(seed).arg(QString::fromLatin1(badField),
                                                                                   QString::fromLatin1(goodField))));
            }
        }
    }
    qInfo("%d of %d fields spoiled", spoiled, checked);
    QVERIFY(spoiled > checked / 4);
}

void TestSimParse::waveBlocksHaveSampleLayout()
{
    for (quint32 seed = 1; seed <= WaveSeeds; ++seed) {
        TSimOptions options = Options(seed);
        TSimProtocol protocol(options);
        for (quint32 i = 0; i < seed % 5; ++i)
            protocol.Answer('a');
        const double temperature = protocol.Model().Reading().Temperature;
        const QByteArray block = TSimProtocol::Join(protocol.Answer('s'));
        const QString where = QStringLiteral("seed %1").arg(seed);

        // Header: "T=", five characters of temperature, four more characters.
        QVERIFY2(block.startsWith("T="), qPrintable(where));
        QVERIFY2(std::abs(Reports::DecimalNumber(block.mid(2, 5)) - temperature) <= TemperatureTolerance,
                 qPrintable(where + ": " + QString::fromLatin1(block.left(11))));
        QCOMPARE(block.mid(7, 4), QByteArray(" C\r\n"));

        const QByteArray lines = block.mid(SimRecords::WaveHeaderLength);
        QCOMPARE(lines.size(), options.Samples * SimRecords::SampleLineLength);
        for (int n = 0; n < options.Samples; ++n) {
            const QByteArray line = lines.mid(n * SimRecords::SampleLineLength, SimRecords::SampleLineLength);
            const QString at = QStringLiteral("%1, line %2: %3").arg(where).arg(n).arg(QString::fromLatin1(line));
            QVERIFY2(line[4] == ',' && line.mid(9) == "\r\n", qPrintable(at));
            for (const QByteArray &field : {line.left(4), line.mid(5, 4)}) {
                // Right-aligned: the fourth character is a digit, so no reader drops it.
                QVERIFY2(field[3] >= '0' && field[3] <= '9', qPrintable(at));
                const int value = Reports::DecimalInteger(field);
                QVERIFY2(value >= 0 && value <= SampleMax, qPrintable(at));
                QVERIFY2(value != 0 || field == "   0", qPrintable(at));
            }
        }
    }
}

void TestSimParse::windowReadsSimulatorReports_data()
{
    QTest::addColumn<bool>("difference");
    QTest::newRow("mean report, z") << false;
    QTest::newRow("difference report, x") << true;
}

void TestSimParse::windowReadsSimulatorReports()
{
    QFETCH(bool, difference);
    TSimInstrument instrument(Options(77));
    const QString error = StartOnCom1(instrument);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    TReport last; // outlives the window that tells it
    TMessageCapture messages;
    TFormMain form;
    QVERIFY(form.FEngine->Comm() != nullptr);
    QAction *report = difference ? form.mmAnalyzeData : form.mmAnalyzeAcquired;
    connect(form.FEngine, &TEngine::ReportComputed, &form, [&last](const TReport &computed) { last = computed; });

    constexpr int Rounds = 4;
    int commands = 0;
    QSet<qint32> seen;
    for (int round = 0; round < Rounds; ++round) {
        form.mmCommandClick(form.mmAcquire);
        form.mmCommandClick(report);
        commands += 2;
        QCOMPARE(form.FEngine->Receiving().State, difference ? rsDifference : rsMean);
        QTRY_VERIFY_WITH_TIMEOUT(form.FEngine->Receiving().ReplyDone && form.FEngine->Receiving().State == 0, WaitMs);
        QCOMPARE(instrument.CommandCount(), commands);

        const TSimReading sent = instrument.Reading();
        QCOMPARE(sent.Index, round + 1);
        QCOMPARE(last.Record.BigCount, sent.Count);
        QCOMPARE(last.Record.M1, sent.M1);
        QCOMPARE(last.Record.M2, sent.M2);
        if (difference)
            QVERIFY2(std::abs(last.Record.Temperature - sent.Temperature) <= TemperatureTolerance,
                     qPrintable(QStringLiteral("%1 for %2").arg(last.Record.Temperature).arg(sent.Temperature)));
        seen.insert(last.Record.M1);
    }
    QCOMPARE(seen.size(), Rounds);   // each round read a new acquisition, not an old report
    QVERIFY2(messages.Texts() == QStringList({"Open COM1 !"}), qPrintable(messages.Texts().join(" | ")));
}

void TestSimParse::windowLogsSimulatorMeasurements()
{
    TSimInstrument instrument(Options(31));
    const QString error = StartOnCom1(instrument);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    // What each report implies, worked out here from the simulator's values alone.
    QList<double> phases, tofs;
    {
        TMessageCapture messages;
        TFormMain form;
        QVERIFY(form.FEngine->Comm() != nullptr);
        form.mmApplyFilterClick(); // every value reaches the logs
        for (int round = 0; round < 64; ++round) {
            form.mmCommandClick(form.mmAcquire);
            form.mmCommandClick(form.mmAnalyzeAcquired);
            QTRY_VERIFY_WITH_TIMEOUT(form.FEngine->Receiving().ReplyDone && form.FEngine->Receiving().State == 0, WaitMs);
            const TSimReading sent = instrument.Reading();
            QCOMPARE(sent.Index, round + 1);
            double degrees = std::atan2(double(sent.M2), double(sent.M1)) * 180 / M_PI;
            if (degrees < 0)
                degrees += 360;
            if (sent.M1 == 0 || sent.M2 == 0)
                degrees = 0;
            phases << degrees;
            tofs << (std::trunc(sent.Count / 16.0) + degrees / 360) * 0.25;
        }
        form.mmExitClick();
    }

    const auto readLines = [](const QString &name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
    };
    const QList<QByteArray> phaseLines = readLines("Phase.csv");
    const QList<QByteArray> tofLines = readLines("TimeOfFlight.csv");
    QCOMPARE(phaseLines.size(), 3); // two lines and nothing after the last line end
    QCOMPARE(tofLines.size(), 3);
    QVERIFY(phaseLines[2].isEmpty() && tofLines[2].isEmpty());
    for (int line = 0; line < 2; ++line) {
        QVERIFY(phaseLines[line].endsWith('\r') && tofLines[line].endsWith('\r'));
        const QList<QByteArray> phaseFields = phaseLines[line].chopped(1).split(',');
        const QList<QByteArray> tofFields = tofLines[line].chopped(1).split(',');
        QCOMPARE(phaseFields.size(), 32);
        QCOMPARE(tofFields.size(), 33);
        QCOMPARE(tofFields[0], QByteArray("0.00")); // mean reports carry no temperature
        for (int i = 0; i < 32; ++i) {
            const int report = line * 32 + i;
            QCOMPARE(phaseFields[i].size() - phaseFields[i].indexOf('.'), 4); // three decimals
            QVERIFY2(std::abs(phaseFields[i].toDouble() - phases[report]) <= 0.0005 + 1e-4,
                     qPrintable(QStringLiteral("phase %1: %2 for %3").arg(report).arg(phaseFields[i]).arg(phases[report])));
            QVERIFY2(std::abs(tofFields[i + 1].toDouble() - tofs[report]) <= 0.0005 + 1e-5,
                     qPrintable(QStringLiteral("tof %1: %2 for %3").arg(report).arg(tofFields[i + 1]).arg(tofs[report])));
        }
    }
}

QTEST_MAIN(TestSimParse)
#include "tst_sim_parse.moc"
