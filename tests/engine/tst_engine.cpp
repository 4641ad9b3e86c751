// The measurement engine on an in-memory line, without a window: the receive dispatcher's states,
// report reassembly, late and unreadable reports, and the waveform path.

#include "engine/Engine.h"
#include "engine/CommandTable.h"
#include "logger/Cdatalogger.h"
#include "ringbuffer/CircularBuffer.h"
#include "tests/app/ReportTexts.h"
#include "tests/common/MemoryDevice.h"
#include "tests/common/NoticeCapture.h"
#include "tests/common/WorkingFolder.h"

#include <QMap>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

namespace {

// M1 and M2 for a phase of 45 + 90 k degrees (k = 0..3).
QPair<int, int> Quadrant(int k)
{
    const int m1[] = {1000, -1000, -1000, 1000};
    const int m2[] = {1000, 1000, -1000, -1000};
    return {m1[k], m2[k]};
}

// A mean report with count 290 and these correlation values.
QByteArray MeanReportOf(int m1, int m2)
{
    const auto hex = [](int v) { return QByteArray::number(quint32(v), 16).toUpper().rightJustified(8, '0'); };
    return Record(79, {{0, "TMEAN"}, {6, "  64"}, {49, "290"}, {57, hex(m1)}, {69, hex(m2)}}) + "\r\n";
}

} // namespace

class TestEngine : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void meanReportInThreePieces();
    void differenceReportWaitsForOneMore();
    void differenceReportReadOnce();
    void exchangeEndsWithoutRecord_data();
    void exchangeEndsWithoutRecord();
    void reportSplitAnywhereComputedOnce_data();
    void reportSplitAnywhereComputedOnce();
    void reportsTakenOnce_data();
    void reportsTakenOnce();
    void waveformPathAfterReplyDone();
    void filterOff64Reports();
    void filterOnEqualValuesRemovesNothing();
    void outlierBatchContinuesLine();
    void averagesFromThe32ndReport();
    void trendEmptiedAt10001();
    void temperatureOfLineWhenItStarts();
    void measurementsFile_data();
    void measurementsFile();
    void logsSurviveAFailingFolder();

private:
    // The command of a letter, as its menu item sends it ("?" is the Menu item's).
    void Command(char letter) { FEngine->Command(letter == '?' ? 13 : letter - 'a' + 1); }
    // Hands one chunk to the engine through the port's poll step.
    void Receive(const QByteArray &chunk)
    {
        FLine.Incoming += chunk;
        while (!FLine.Incoming.isEmpty())
            FEngine->FComm->ProcTimer(nullptr);
    }
    QString Panel(int panel) const { return FPanels.value(panel); }
    // A report with these values, computed as the receive path does.
    void Report(int count, int m1, int m2, float temperature = 25.0f)
    {
        FEngine->FBigCount = count;
        FEngine->FM1 = m1;
        FEngine->FM2 = m2;
        FEngine->FTemperature = temperature;
        FEngine->FTemperatureKnown = true;
        FEngine->ComputeMeasurement();
    }

    std::unique_ptr<TWorkingFolder> FFolder;
    TMemoryLine FLine;
    std::unique_ptr<TNoticeCapture> FNotices;
    std::unique_ptr<TEngine> FEngine;
    QMap<int, QString> FPanels;
    QByteArray FReceived;
};

void TestEngine::init()
{
    FFolder = std::make_unique<TWorkingFolder>();
    QVERIFY(FFolder->IsValid());
    FLine = TMemoryLine();
    FNotices = std::make_unique<TNoticeCapture>();
    FEngine = std::make_unique<TEngine>(MemoryDeviceFactory(FLine));
    FNotices->Listen(FEngine.get());
    FPanels.clear();
    FReceived.clear();
    connect(FEngine.get(), &TEngine::PanelChanged, this, [this](int panel, const QString &text) { FPanels[panel] = text; });
    connect(FEngine.get(), &TEngine::Received, this, [this](const QByteArray &chunk) { FReceived += chunk; });
    QVERIFY(FEngine->OpenPort(0));
    QCOMPARE(FNotices->Texts(), QStringList({"Open COM1 !"}));
}

void TestEngine::cleanup()
{
    FEngine.reset();
    FNotices.reset();
    FFolder.reset();
}

void TestEngine::meanReportInThreePieces()
{
    Command('z');
    QCOMPARE(FLine.Written, QByteArray("z"));
    FEngine->FReplyDone = false;
    Receive("\r\n" + MeanReport.left(30));
    Receive(MeanReport.mid(30, 30));
    QVERIFY(!FEngine->FReplyDone);
    QCOMPARE(FEngine->FReceiveState, rsMean);
    Receive(MeanReport.mid(60) + "\r\n");
    QVERIFY(FEngine->FReplyDone);
    QCOMPARE(FEngine->FReceiveState, rsNone);
    QCOMPARE(FEngine->FBigCount, 290);
    QCOMPARE(FEngine->FM1, 1);
    QCOMPARE(FEngine->FM2, 0x7FFFFFFF);
    QCOMPARE(FEngine->FBigTime, 18);
    QCOMPARE(Panel(spPhase), QStringLiteral("Phase= 90.000 deg"));
    QCOMPARE(FEngine->FLineBuffer, QByteArray("\r\n")); // the rest waits for the next chunk
    Receive("late");
    QVERIFY(FEngine->FLineBuffer.isEmpty());
}


void TestEngine::differenceReportWaitsForOneMore()
{
    Command('x');
    FEngine->FReplyDone = false;
    Receive(DifferenceReport + "\r"); // 45 characters: not enough for the check
    QVERIFY(!FEngine->FReplyDone);
    QCOMPARE(FEngine->FReceiveState, rsDifference);
    QCOMPARE(FEngine->FM1, 0);
    Receive("\n");
    QVERIFY(FEngine->FReplyDone);
    QCOMPARE(FEngine->FBigCount, 288);
    QCOMPARE(FEngine->FM1, 0x1000);
    QCOMPARE(FEngine->FTemperature, 25.31f);
    QCOMPARE(Panel(5), QStringLiteral("Temp.= 25.31 C"));
    QCOMPARE(Panel(2), QStringLiteral("Phase= 45.000 deg"));
}


void TestEngine::differenceReportReadOnce()
{
    Command('x');
    FEngine->FReplyDone = false;
    Receive("junk " + DifferenceReport.left(20));
    Receive(DifferenceReport.mid(20, 20));
    QVERIFY(!FEngine->FReplyDone);
    Receive(DifferenceReport.mid(40) + "\r\n" + DifferenceReport + "\r\n");
    QVERIFY(FEngine->FReplyDone);
    QCOMPARE(FEngine->FPhaseRing->Count(), 2); // the split record once, and the one after it
    QVERIFY(FEngine->FLineBuffer.size() <= 256);
}


void TestEngine::exchangeEndsWithoutRecord_data()
{
    QTest::addColumn<char>("item");
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<bool>("ends");
    QTest::newRow("300 characters in state 1") << 'x' << QByteArray(300, 'x') << true;
    QTest::newRow("90 characters in state 3") << 'z' << QByteArray(90, 'y') << true;
    // A record that has begun may still be arriving: the exchange stays open.
    QTest::newRow("cut record in state 3") << 'z' << QByteArray(20, '-') + MeanReport.left(70) << false;
    QTest::newRow("marker begins at the end, state 1") << 'x' << QByteArray(60, '-') + "TRFD" << false;
}


void TestEngine::exchangeEndsWithoutRecord()
{
    QFETCH(char, item);
    QFETCH(QByteArray, chunk);
    QFETCH(bool, ends);
    Command(item);
    const TReceiveState state = FEngine->FReceiveState;
    FEngine->FReplyDone = false;
    Receive(chunk);
    QCOMPARE(FEngine->FReplyDone, ends);
    QCOMPARE(FEngine->FReceiveState, ends ? rsNone : state);
    QCOMPARE(FEngine->FPhaseRing->Count(), 0);
    QCOMPARE(Panel(2), QString());
    QVERIFY(FEngine->FLineBuffer.size() <= 256);
    QCOMPARE(FReceived, chunk);
}


void TestEngine::reportSplitAnywhereComputedOnce_data()
{
    QTest::addColumn<char>("item");
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<QByteArray>("left");
    QTest::newRow("mean") << 'z' << MeanReport << QByteArray();
    QTest::newRow("mean after a line end") << 'z' << MeanReport << QByteArray("\r\n");
    QTest::newRow("difference") << 'x' << DifferenceReport << QByteArray();
    QTest::newRow("difference after a line end") << 'x' << DifferenceReport << QByteArray("\r\n");
}


void TestEngine::reportSplitAnywhereComputedOnce()
{
    QFETCH(char, item);
    QFETCH(QByteArray, report);
    QFETCH(QByteArray, left);
    const QByteArray reply = report + "\r\n";
    for (int at = 1; at < reply.size(); ++at) {
        const QString where = QString("split at %1").arg(at);
        FEngine->FPhaseRing->Reset();
        Command(item);
        FEngine->FReplyDone = false;
        // The line end of the last report stays when nothing arrived in between ("a" has no answer).
        FEngine->FLineBuffer = left;
        Receive(reply.left(at));
        Receive(reply.mid(at));
        QVERIFY2(FEngine->FReplyDone, qPrintable(where));
        QVERIFY2(FEngine->FPhaseRing->Count() == 1, qPrintable(where));
    }
}


void TestEngine::reportsTakenOnce_data()
{
    QTest::addColumn<QByteArray>("commands");
    QTest::addColumn<QByteArrayList>("received"); // chunk by chunk
    QTest::addColumn<int>("computed");
    QTest::addColumn<int>("refused");

    const QByteArray mean = MeanReport + "\r\n", dif = DifferenceReport + "\r\n";
    QByteArray badCount = MeanReport, badM1 = MeanReport, badM2 = DifferenceReport;
    badCount.replace(49, 3, ":88");
    badM1.replace(57, 8, "00G00001");
    badM2.replace(26, 8, "0000100#");
    QTest::newRow("nothing awaited: dropped") << QByteArray("?") << QByteArrayList{mean} << 0 << 0;
    QTest::newRow("two in one chunk") << QByteArray("zz") << QByteArrayList{mean + mean} << 2 << 0;
    QTest::newRow("the other kind, late") << QByteArray("xz") << QByteArrayList{dif + mean} << 2 << 0;
    QTest::newRow("the first of two quick commands") << QByteArray("zx") << QByteArrayList{mean} << 1 << 0;
    QTest::newRow("late, after the next a") << QByteArray("za") << QByteArrayList{mean} << 1 << 0;
    QTest::newRow("late, after the next z") << QByteArray("zaz") << QByteArrayList{mean + mean} << 2 << 0;
    QTest::newRow("garbled count") << QByteArray("zzz") << QByteArrayList{mean + badCount + "\r\n" + mean} << 2 << 1;
    QTest::newRow("garbled M1") << QByteArray("z") << QByteArrayList{badM1 + "\r\n"} << 0 << 1;
    // Whole but for the character the check waits for: kept, not dropped, whatever the state.
    QTest::newRow("late, all but its line end") << QByteArray("za") << QByteArrayList{MeanReport + "\r", "\n"} << 1 << 0;
    QTest::newRow("the other kind, all but its line end") << QByteArray("zx") << QByteArrayList{MeanReport + "\r", "\n"}
                                                          << 1 << 0;
    QTest::newRow("garbled M2") << QByteArray("xz") << QByteArrayList{badM2 + "\r\n" + mean} << 1 << 1;
}


void TestEngine::reportsTakenOnce()
{
    QFETCH(QByteArray, commands);
    QFETCH(QByteArrayList, received);
    QFETCH(int, computed);
    QFETCH(int, refused);
    for (char c : commands)
        Command(c);
    QCOMPARE(FLine.Written, commands);
    FEngine->FReplyDone = false;
    for (const QByteArray &chunk : received)
        Receive(chunk);
    QCOMPARE(FEngine->FReportCount, qint64(computed));
    QCOMPARE(FEngine->FPhaseRing->Count(), computed);
    QCOMPARE(FEngine->FRefusedCount, qint64(refused));
    // An unreadable field never becomes a number: the last value is the last good report's.
    if (computed)
        QCOMPARE(FEngine->FM1, 1);
    QVERIFY(FEngine->FLineBuffer.isEmpty() || FEngine->FLineBuffer == "\r\n");
}


void TestEngine::waveformPathAfterReplyDone()
{
    QVERIFY(FEngine->FReplyDone);
    FEngine->FWaveCount = -1;
    Command('s');
    QCOMPARE(FEngine->FReceiveState, rsWaveform);
    Receive("T=25.31 C\r\n2048,2048\r\n");
    QCOMPARE(FEngine->FWaveBuffer, QByteArray("2048,2048\r\n"));
    QCOMPARE(FEngine->FWaveCount, 0);
    QCOMPARE(Panel(5), QStringLiteral("Temp.=25.31"));
    QCOMPARE(FEngine->FReceiveState, rsNone);
    Receive("2049,2047\r\n");
    QCOMPARE(FEngine->FWaveBuffer, QByteArray("2048,2048\r\n"));
    QVERIFY(FEngine->FLineBuffer.isEmpty());
}

void TestEngine::filterOff64Reports()
{
    FEngine->FApplyFilter = false;
    QVERIFY(!FEngine->FApplyFilter);
    QByteArray phase, tof;
    for (int line = 0; line < 2; ++line) {
        QByteArray phaseLine, tofLine = "25.00";
        for (int i = 0; i < 32; ++i) {
            const int k = i % 4, bigTime = line * 32 + i;
            const auto m = Quadrant(k);
            Report(bigTime * 16 + 3, m.first, m.second);
            phaseLine += (i ? "," : "") + QByteArray::number(45 + 90 * k) + ".000";
            // (big time + (45 + 90 k) / 360) x 0.25, never a tie at three decimals
            tofLine += "," + QByteArray::number((bigTime + (45 + 90 * k) / 360.0) * 0.25, 'f', 3);
        }
        phase += phaseLine + "\r\n";
        tof += tofLine + "\r\n";
    }
    QCOMPARE(FEngine->FTrend->size(), size_t(64));
    FEngine->Close();
    QCOMPARE(TWorkingFolder::Read("Phase.csv"), phase);
    QCOMPARE(TWorkingFolder::Read("TimeOfFlight.csv"), tof);
    const QList<QByteArray> lines = tof.split('\n');
    QCOMPARE(lines[0].count(',') + 1, 33);
}


void TestEngine::filterOnEqualValuesRemovesNothing()
{
    QVERIFY(FEngine->FApplyFilter);
    for (int i = 0; i < 32; ++i)
        Report(16 * 100, 1000, 1000);
    QCOMPARE(FEngine->FTrend->size(), size_t(32));
    FEngine->Close();
    QByteArray phase = "45.000", tof = "25.00,25.031";
    for (int i = 1; i < 32; ++i) {
        phase += ",45.000";
        tof += ",25.031";
    }
    QCOMPARE(TWorkingFolder::Read("Phase.csv"), phase + "\r\n");
    QCOMPARE(TWorkingFolder::Read("TimeOfFlight.csv"), tof + "\r\n");
}


void TestEngine::outlierBatchContinuesLine()
{
    // 31 reports at 45 degrees and one at 135: the high one and the first 45 go.
    for (int i = 0; i < 32; ++i) {
        const auto m = Quadrant(i == 20 ? 1 : 0);
        Report(16 * i, m.first, m.second);
    }
    QCOMPARE(FEngine->FTrend->size(), size_t(30));
    QCOMPARE(FEngine->FPhaseLine.Count(), 30);
    QCOMPARE(FEngine->FPhaseRing->Count(), 0);
    QCOMPARE(FEngine->FTOFRing->Count(), 0);
    for (int i = 0; i < 32; ++i)
        Report(16 * (100 + i), 1000, 1000);
    FEngine->Close();
    QByteArray tof = "25.00";
    for (int i = 1; i < 32; ++i)
        if (i != 20)
            tof += "," + QByteArray::number((i + 0.125) * 0.25, 'f', 3);
    tof += ",25.031,25.281\r\n25.00";
    // The 30 values left open are the shorter last line, written at exit.
    for (int i = 2; i < 32; ++i)
        tof += "," + QByteArray::number((100 + i + 0.125) * 0.25, 'f', 3);
    QCOMPARE(TWorkingFolder::Read("TimeOfFlight.csv"), tof + "\r\n");
    QCOMPARE(TWorkingFolder::Read("Phase.csv").count(','), 31 + 29);
}


void TestEngine::averagesFromThe32ndReport()
{
    for (int i = 1; i <= 31; ++i) {
        Report(0, i, -i);
        QCOMPARE(Panel(0), QString());
    }
    Report(0, 32, -32);
    QCOMPARE(Panel(0), QStringLiteral("M1Avg= 16")); // 16.5 truncated
    QCOMPARE(Panel(1), QStringLiteral("M2Avg= -16"));
    Report(0, 33, -33); // the last 32: 2..33
    QCOMPARE(Panel(0), QStringLiteral("M1Avg= 17"));
}


void TestEngine::trendEmptiedAt10001()
{
    FEngine->FApplyFilter = false;
    FEngine->FSavePhaseData = false;
    FEngine->FSaveTOFData = false;
    // 312 batches: 9984 values. The 313th fills the trend to 10000 and starts it again.
    for (int batch = 0; batch < 313; ++batch)
        for (int i = 0; i < 32; ++i)
            Report(16, 1000, batch == 312 && i >= 16 ? -1000 : 1000);
    QCOMPARE(FEngine->FTrend->size(), size_t(16));
    QCOMPARE(*FEngine->FTrend->front(), 315.0f);
}


void TestEngine::temperatureOfLineWhenItStarts()
{
    FEngine->FApplyFilter = false;
    // A line's values are added when their batch completes: the temperature then is the one of
    // the batch's last report.
    for (int i = 0; i < 64; ++i)
        Report(16, 1000, 1000, i < 31 ? 20.5f : i == 31 ? 22.0f : 30.125f);
    FEngine->Close();
    const QList<QByteArray> lines = TWorkingFolder::Read("TimeOfFlight.csv").split('\n');
    QVERIFY2(lines[0].startsWith("22.00,0.281,"), lines[0].constData());
    QVERIFY(lines[1].startsWith("30.13,0.281,")); // 30.125 is a tie: away from zero
}


void TestEngine::measurementsFile_data()
{
    QTest::addColumn<bool>("filter");
    QTest::addColumn<QList<int>>("dropped"); // reports the filter drops
    QTest::newRow("filter off") << false << QList<int>();
    // Two reports at 135 degrees among 45: each goes with the first 45 of its pass.
    QTest::newRow("filter on") << true << QList<int>{0, 1, 5, 20};
}

void TestEngine::measurementsFile()
{
    QFETCH(bool, filter);
    QFETCH(QList<int>, dropped);
    // 40 reports in a Run (a full batch and 8 processed at its stop), then one outside it.
    constexpr int RunReports = 40;
    FEngine->FApplyFilter = filter;
    const auto quadrant = [](int report) { return report == 5 || report == 20 ? 1 : 0; };
    const auto reply = [&](int report) {
        const auto m = Quadrant(quadrant(report));
        FLine.Replies['z'] = FLine.Replies['x'] = MeanReportOf(m.first, m.second);
    };
    reply(0);
    connect(FEngine.get(), &TEngine::ReportComputed, this, [&] {
        if (FEngine->FReportCount < RunReports) {
            reply(int(FEngine->FReportCount));
        } else if (FEngine->FRunning) {
            FLine.Replies.clear();
            FEngine->StopRun();
        }
    });
    QSignalSpy ended(FEngine.get(), &TEngine::RunEnded);
    QVERIFY(FEngine->StartRun());
    QVERIFY(ended.wait(60000));
    QCOMPARE(FEngine->FReportCount, qint64(RunReports));
    Report(290, 1000, 1000, 21.5f);
    FEngine->Close();

    const QList<QByteArray> lines = TWorkingFolder::Read("Measurements.csv").split('\n');
    QCOMPARE(lines.size(), 1 + RunReports + 1 + 1); // header, reports, after the last line end
    QCOMPARE(lines[0], QByteArray("Time,Run,Big count,M1,M2,Phase (deg),Time of flight (us),Temperature (C),"
                                  "Kept by filter\r"));
    const QRegularExpression time("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$");
    QByteArrayList kept;
    QByteArray previousTime;
    for (int report = 0; report <= RunReports; ++report) {
        const QByteArray line = lines[report + 1].chopped(1);
        QByteArray stamp = line.left(line.indexOf(','));
        QVERIFY2(time.match(QString::fromLatin1(stamp)).hasMatch(), line.constData());
        QVERIFY(stamp.left(23) >= previousTime); // in the order computed
        previousTime = stamp.left(23);
        const int k = report == RunReports ? 0 : quadrant(report);
        const auto m = Quadrant(k);
        const bool isKept = !dropped.contains(report);
        // The mean report carries no temperature: none is known until a report tells one.
        QCOMPARE(line.mid(stamp.size()), QStringLiteral(",%1,290,%2,%3,%4.000,%5,%6,%7")
                                             .arg(report == RunReports ? 0 : 1)
                                             .arg(m.first)
                                             .arg(m.second)
                                             .arg(45 + 90 * k)
                                             .arg(k == 0 ? "4.531250" : "4.593750")
                                             .arg(report == RunReports ? "21.50" : "")
                                             .arg(isKept ? 1 : 0)
                                             .toLatin1());
        if (isKept)
            kept << QByteArray::number(45 + 90 * k) + ".000";
    }
    // What the filter kept is what reached Phase.csv, in the same order.
    QCOMPARE(TWorkingFolder::Read("Phase.csv").replace("\r\n", ",").chopped(1), kept.join(','));
}

void TestEngine::logsSurviveAFailingFolder()
{
    // A folder under a file: no log can be written there, nor a rescue file beside it.
    QVERIFY(TWorkingFolder::Write("f", "a file"));
    const QString folder = FFolder->Path("f/logs");
    FEngine->SetLogFolder(folder);
    QStringList failing;
    connect(FEngine.get(), &TEngine::LoggerFailing, this,
            [&failing](QObject *, const QString &path, const QString &) { failing << path; });
    for (TDataLogger *logger : FEngine->Loggers())
        logger->SetRescueFolders({FFolder->Path("rescue")});
    FEngine->FApplyFilter = false;
    for (int i = 0; i < 32; ++i)
        Report(16, 1000, 1000);
    FNotices->Clear();
    FEngine->Close();

    QStringList names{"Phase.csv", "TimeOfFlight.csv", "Measurements.csv"};
    for (QString &name : names)
        name = QDir(folder).filePath(name);
    QCOMPARE(failing, names);
    const QStringList rescued = QDir(FFolder->Path("rescue")).entryList(QDir::Files, QDir::Name);
    QCOMPARE(rescued.size(), 3);
    QCOMPARE(FNotices->Texts().size(), 3);
    for (const QString &message : FNotices->Texts())
        QVERIFY2(message.contains(" could not be written.\nThey were saved in "), qPrintable(message));
    const QString measurements = rescued.filter(QRegularExpression("^Measurements-\\d{8}-\\d{6}\\.csv$")).value(0);
    const QList<QByteArray> lines = TWorkingFolder::Read(FFolder->Path("rescue/" + measurements)).split('\n');
    QCOMPARE(lines.size(), 1 + 32 + 1);
    QVERIFY(lines[0].startsWith("Time,Run,"));
}

QTEST_MAIN(TestEngine)
#include "tst_engine.moc"
