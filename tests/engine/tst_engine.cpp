// The measurement engine on an in-memory line, without a window: the receive dispatcher's states,
// report reassembly, late and unreadable reports, and the waveform path.

#include "engine/Engine.h"
#include "engine/CommandTable.h"
#include "engine/StatisticsLog.h"
#include "engine/MeasurementLog.h"
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

// A difference report with these values (a count of three digits, a temperature of five characters).
QByteArray DifferenceReportOf(int count, int m1, int m2, float temperature)
{
    const auto hex = [](int v) { return QByteArray::number(quint32(v), 16).toUpper().rightJustified(8, '0'); };
    return Record(44, {{0, "TRFDIF"}, {7, QByteArray::number(count).rightJustified(3)}, {14, hex(m1)}, {26, hex(m2)},
                       {37, QByteArray::number(temperature, 'f', 2).rightJustified(5)}});
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
    void statisticsRowWhenRunEnds_data();
    void statisticsRowWhenRunEnds();
    void optionsAsOneSet_data();
    void optionsAsOneSet();
    void lastRunOfFile_data();
    void lastRunOfFile();
    void runsNumberedOnPerFolder();
    void lateReplyBelongsToItsRun_data();
    void lateReplyBelongsToItsRun();

private:
    // One of the engine's options changed, the others kept.
    void SetOption(bool TEngineOptions::*option, bool on)
    {
        TEngineOptions options = FEngine->Options();
        options.*option = on;
        FEngine->SetOptions(options);
    }
    // The command of a letter, as its menu item sends it ("?" is the Menu item's).
    void Command(char letter) { FEngine->Command(letter == '?' ? 13 : letter - 'a' + 1); }
    // Hands one chunk to the engine through the port's poll step.
    void Receive(const QByteArray &chunk)
    {
        FLine.Incoming += chunk;
        while (!FLine.Incoming.isEmpty())
            FEngine->Comm()->ProcTimer(nullptr);
    }
    QString Panel(int panel) const { return FPanels.value(panel); }
    // A difference report with these values, asked for and received.
    void Report(int count, int m1, int m2, float temperature = 25.0f)
    {
        Command('x');
        Receive(DifferenceReportOf(count, m1, m2, temperature) + "\r\n");
    }

    std::unique_ptr<TWorkingFolder> FFolder;
    TMemoryLine FLine;
    std::unique_ptr<TNoticeCapture> FNotices;
    std::unique_ptr<TEngine> FEngine;
    QMap<int, QString> FPanels;
    QByteArray FReceived;
    TReport FLast; // the last report computed
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
    FLast = TReport();
    connect(FEngine.get(), &TEngine::ReportComputed, this, [this](const TReport &report) { FLast = report; });
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
    Receive("\r\n" + MeanReport.left(30));
    Receive(MeanReport.mid(30, 30));
    QVERIFY(!FEngine->Receiving().ReplyDone);
    QCOMPARE(FEngine->Receiving().State, rsMean);
    Receive(MeanReport.mid(60) + "\r\n");
    QVERIFY(FEngine->Receiving().ReplyDone);
    QCOMPARE(FEngine->Receiving().State, rsNone);
    QCOMPARE(FLast.Record.BigCount, 290);
    QCOMPARE(FLast.Record.M1, 1);
    QCOMPARE(FLast.Record.M2, 0x7FFFFFFF);
    QCOMPARE(FLast.BigTime, 18);
    QCOMPARE(Panel(spPhase), QStringLiteral("Phase= 90.000 deg"));
    QCOMPARE(FEngine->Receiving().Pending, QByteArray("\r\n")); // the rest waits for the next chunk
    Receive("late");
    QVERIFY(FEngine->Receiving().Pending.isEmpty());
}


void TestEngine::differenceReportWaitsForOneMore()
{
    Command('x');
    Receive(DifferenceReport + "\r"); // 45 characters: not enough for the check
    QVERIFY(!FEngine->Receiving().ReplyDone);
    QCOMPARE(FEngine->Receiving().State, rsDifference);
    QCOMPARE(FEngine->ReportCount(), 0);
    Receive("\n");
    QVERIFY(FEngine->Receiving().ReplyDone);
    QCOMPARE(FLast.Record.BigCount, 288);
    QCOMPARE(FLast.Record.M1, 0x1000);
    QCOMPARE(FLast.Record.Temperature, 25.31f);
    QCOMPARE(Panel(5), QStringLiteral("Temp.= 25.31 C"));
    QCOMPARE(Panel(2), QStringLiteral("Phase= 45.000 deg"));
}


void TestEngine::differenceReportReadOnce()
{
    Command('x');
    Receive("junk " + DifferenceReport.left(20));
    Receive(DifferenceReport.mid(20, 20));
    QVERIFY(!FEngine->Receiving().ReplyDone);
    Receive(DifferenceReport.mid(40) + "\r\n" + DifferenceReport + "\r\n");
    QVERIFY(FEngine->Receiving().ReplyDone);
    QCOMPARE(FEngine->PhaseRing().Count(), 2); // the split record once, and the one after it
    QVERIFY(FEngine->Receiving().Pending.size() <= 256);
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
    const TReceiveState state = FEngine->Receiving().State;
    Receive(chunk);
    QCOMPARE(FEngine->Receiving().ReplyDone, ends);
    QCOMPARE(FEngine->Receiving().State, ends ? rsNone : state);
    QCOMPARE(FEngine->PhaseRing().Count(), 0);
    QCOMPARE(Panel(2), QString());
    QVERIFY(FEngine->Receiving().Pending.size() <= 256);
    QCOMPARE(FReceived, chunk);
    // A port opened again awaits nothing and keeps nothing of the last one.
    FEngine->ClosePort();
    QVERIFY(FEngine->OpenPort(0));
    QVERIFY(FEngine->Receiving().State == rsNone && FEngine->Receiving().Pending.isEmpty());
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
        Receive("-"); // nothing awaited: the buffer is emptied
        QVERIFY(FEngine->Receiving().Pending.isEmpty());
        const int64_t before = FEngine->ReportCount();
        Command(item);
        // The line end of the last report stays when nothing arrived in between ("a" has no
        // answer), in front of what comes next.
        Receive(left + reply.left(at));
        Receive(reply.mid(at));
        QVERIFY2(FEngine->Receiving().ReplyDone, qPrintable(where));
        QVERIFY2(FEngine->ReportCount() == before + 1, qPrintable(where));
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
    for (const QByteArray &chunk : received)
        Receive(chunk);
    QCOMPARE(FEngine->ReportCount(), qint64(computed));
    QCOMPARE(FEngine->PhaseRing().Count(), computed);
    QCOMPARE(FEngine->RefusedCount(), qint64(refused));
    // An unreadable field never becomes a number: the last value is the last good report's.
    if (computed)
        QCOMPARE(FLast.Record.M1, 1);
    QVERIFY(FEngine->Receiving().Pending.isEmpty() || FEngine->Receiving().Pending == "\r\n");
}


void TestEngine::waveformPathAfterReplyDone()
{
    QVERIFY(FEngine->Receiving().ReplyDone);
    Command('s');
    QCOMPARE(FEngine->Receiving().State, rsWaveform);
    Receive("T=25.31 C\r\n2048,2048\r\n");
    QCOMPARE(FEngine->Receiving().WaveText, QByteArray("2048,2048\r\n"));
    QCOMPARE(FEngine->Receiving().WaveCount, 0);
    QCOMPARE(Panel(5), QStringLiteral("Temp.=25.31"));
    QCOMPARE(FEngine->Receiving().State, rsNone);
    Receive("2049,2047\r\n");
    QCOMPARE(FEngine->Receiving().WaveText, QByteArray("2048,2048\r\n"));
    QVERIFY(FEngine->Receiving().Pending.isEmpty());
    // The menu's command given again and again keeps no more than a bounded text.
    for (int i = 0; i < 2000; ++i) {
        Command('s');
        Receive(QByteArray(100, 'n') + "\r\n");
    }
    QVERIFY(FEngine->Receiving().WaveText.size() <= 64 * 1024);
}

void TestEngine::filterOff64Reports()
{
    SetOption(&TEngineOptions::ApplyFilter, false);
    QVERIFY(!FEngine->Options().ApplyFilter);
    QByteArray phase, tof;
    for (int line = 0; line < 2; ++line) {
        QByteArray phaseLine, tofLine = "25.00";
        for (int i = 0; i < 32; ++i) {
            const int k = i % 4, bigTime = line * 30 + i; // a count of three digits
            const auto m = Quadrant(k);
            Report(bigTime * 16 + 3, m.first, m.second);
            phaseLine += (i ? "," : "") + QByteArray::number(45 + 90 * k) + ".000";
            // (big time + (45 + 90 k) / 360) x 0.25, never a tie at three decimals
            tofLine += "," + QByteArray::number((bigTime + (45 + 90 * k) / 360.0) * 0.25, 'f', 3);
        }
        phase += phaseLine + "\r\n";
        tof += tofLine + "\r\n";
    }
    QCOMPARE(FEngine->Trend().size(), size_t(64));
    FEngine->Close();
    QCOMPARE(TWorkingFolder::Read("Phase.csv"), phase);
    QCOMPARE(TWorkingFolder::Read("TimeOfFlight.csv"), tof);
    const QList<QByteArray> lines = tof.split('\n');
    QCOMPARE(lines[0].count(',') + 1, 33);
}


void TestEngine::filterOnEqualValuesRemovesNothing()
{
    QVERIFY(FEngine->Options().ApplyFilter);
    for (int i = 0; i < 32; ++i)
        Report(16 * 60, 1000, 1000);
    QCOMPARE(FEngine->Trend().size(), size_t(32));
    FEngine->Close();
    QByteArray phase = "45.000", tof = "25.00,15.031";
    for (int i = 1; i < 32; ++i) {
        phase += ",45.000";
        tof += ",15.031";
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
    QCOMPARE(FEngine->Trend().size(), size_t(30));
    QCOMPARE(FEngine->PhaseRing().Count(), 0);
    for (int i = 0; i < 32; ++i)
        Report(16 * (30 + i), 1000, 1000);
    FEngine->Close();
    QByteArray tof = "25.00";
    for (int i = 1; i < 32; ++i)
        if (i != 20)
            tof += "," + QByteArray::number((i + 0.125) * 0.25, 'f', 3);
    tof += ",7.531,7.781\r\n25.00";
    // The 30 values left open are the shorter last line, written at exit.
    for (int i = 2; i < 32; ++i)
        tof += "," + QByteArray::number((30 + i + 0.125) * 0.25, 'f', 3);
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
    SetOption(&TEngineOptions::ApplyFilter, false);
    SetOption(&TEngineOptions::SavePhaseData, false);
    SetOption(&TEngineOptions::SaveTOFData, false);
    // 312 batches: 9984 values. The 313th fills the trend to 10000 and starts it again.
    for (int batch = 0; batch < 313; ++batch)
        for (int i = 0; i < 32; ++i)
            Report(16, 1000, batch == 312 && i >= 16 ? -1000 : 1000);
    QCOMPARE(FEngine->Trend().size(), size_t(16));
    QCOMPARE(FEngine->Trend().front(), 315.0f);
}


void TestEngine::temperatureOfLineWhenItStarts()
{
    SetOption(&TEngineOptions::ApplyFilter, false);
    // A line's values are added when their batch completes: the temperature then is the one of
    // the batch's last report.
    for (int i = 0; i < 64; ++i)
        Report(16, 1000, 1000, i < 31 ? 20.5f : i == 31 ? 22.0f : 30.25f);
    FEngine->Close();
    const QList<QByteArray> lines = TWorkingFolder::Read("TimeOfFlight.csv").split('\n');
    QVERIFY2(lines[0].startsWith("22.00,0.281,"), lines[0].constData());
    QVERIFY(lines[1].startsWith("30.25,0.281,"));
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
    SetOption(&TEngineOptions::ApplyFilter, filter);
    const auto quadrant = [](int report) { return report == 5 || report == 20 ? 1 : 0; };
    const auto reply = [&](int report) {
        const auto m = Quadrant(quadrant(report));
        FLine.Replies['z'] = FLine.Replies['x'] = MeanReportOf(m.first, m.second);
    };
    reply(0);
    connect(FEngine.get(), &TEngine::ReportComputed, this, [&] {
        if (FEngine->ReportCount() < RunReports) {
            reply(int(FEngine->ReportCount()));
        } else if (FEngine->Running()) {
            FLine.Replies.clear();
            FEngine->StopRun();
        }
    });
    QSignalSpy ended(FEngine.get(), &TEngine::RunEnded);
    QVERIFY(FEngine->StartRun());
    QVERIFY(ended.wait(60000));
    QCOMPARE(FEngine->ReportCount(), qint64(RunReports));
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
    SetOption(&TEngineOptions::ApplyFilter, false);
    for (int i = 0; i < 32; ++i)
        Report(16, 1000, 1000);
    FNotices->Clear();
    FEngine->Close();

    QStringList names{"Phase.csv", "TimeOfFlight.csv", "Measurements.csv"}; // no Run: no Statistics.csv row
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

void TestEngine::statisticsRowWhenRunEnds_data()
{
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("save");
    QTest::newRow("stop") << "stop" << true;
    QTest::newRow("port lost") << "lost" << true;
    QTest::newRow("exit") << "exit" << true;
    QTest::newRow("stop, log switched off") << "stop" << false;
}

void TestEngine::optionsAsOneSet_data()
{
    QTest::addColumn<int>("window");
    QTest::addColumn<int>("taken");
    QTest::newRow("below the least") << 5 << 32;
    QTest::newRow("as asked") << 500 << 500;
    QTest::newRow("above the most") << 200000 << 100000;
}

void TestEngine::optionsAsOneSet()
{
    QFETCH(int, window);
    QFETCH(int, taken);
    TEngineOptions options;
    options.ApplyFilter = false;
    options.SaveMeasurements = false;
    options.StatisticsWindow = window;
    FEngine->SetOptions(options);
    const TEngineOptions &now = FEngine->Options();
    QVERIFY(!now.ApplyFilter && now.SavePhaseData && now.SaveTOFData && !now.SaveMeasurements && now.SaveStatistics);
    QCOMPARE(now.StatisticsWindow, taken);
    QCOMPARE(FEngine->Statistics().WindowSize(), taken);
}

void TestEngine::statisticsRowWhenRunEnds()
{
    QFETCH(QString, end);
    QFETCH(bool, save);
    constexpr int RunReports = 45;
    SetOption(&TEngineOptions::SaveStatistics, save);
    // Phases a little above 45 degrees, now and then far off for the filter to drop.
    const auto reply = [&](int report) {
        const int m2 = report % 9 == 4 ? -1000 : 1000 + 7 * (report % 5);
        FLine.Replies['z'] = FLine.Replies['x'] = MeanReportOf(1000, m2);
    };
    reply(0);
    connect(FEngine.get(), &TEngine::ReportComputed, this, [&] {
        if (FEngine->ReportCount() < RunReports)
            reply(int(FEngine->ReportCount()));
        else
            FLine.Replies.clear();
    });
    QByteArrayList told;
    connect(FEngine.get(), &TEngine::RunStatistics, this, [&told](const QByteArray &line) { told << line; });
    QSignalSpy ended(FEngine.get(), &TEngine::RunEnded);
    QVERIFY(FEngine->StartRun());
    QTRY_COMPARE_WITH_TIMEOUT(FEngine->ReportCount(), qint64(RunReports), 60000);
    if (end == "stop")
        FEngine->StopRun();
    else if (end == "lost")
        LoseDevice(FLine);
    if (end == "exit")
        FEngine->Close();
    else
        QVERIFY(ended.wait(60000));
    QCOMPARE(told.size(), 1);
    if (end != "exit")
        QCOMPARE(FEngine->StatisticsLine(), told[0]);
    FEngine->Close();

    // The kept values of the Run, as Measurements.csv has them.
    QList<double> kept;
    for (const QByteArray &line : TWorkingFolder::Read("Measurements.csv").split('\n').mid(1, RunReports)) {
        const QByteArrayList fields = line.trimmed().split(',');
        QCOMPARE(fields[1], QByteArray("1"));
        if (fields[8] == "1")
            kept << fields[6].toDouble();
    }
    QVERIFY(kept.size() > 20 && kept.size() < RunReports);
    double mean = 0;
    for (double value : kept)
        mean += value / kept.size();
    const QByteArrayList row = told[0].split(',');
    QCOMPARE(row.size(), 14);
    QCOMPARE(row[1], QByteArray("1"));
    QCOMPARE(row[2].toInt(), kept.size());
    QVERIFY2(std::abs(row[3].toDouble() - mean) <= 1.5e-6, row.join(',').constData());
    QCOMPARE(row[12].isEmpty(), kept.size() < 20); // ADEV 10 wants two groups of 10
    QCOMPARE(row[13], QByteArray()); // and ADEV 100 two of 100
    if (save)
        QCOMPARE(TWorkingFolder::Read("Statistics.csv"), StatisticsLog::Header() + "\r\n" + told[0] + "\r\n");
    else
        QVERIFY(!QFile::exists("Statistics.csv"));
}

void TestEngine::lastRunOfFile_data()
{
    QTest::addColumn<QByteArray>("text"); // "<none>": no file
    QTest::addColumn<qint64>("lastRun");
    const QByteArray header = MeasurementLog::Header() + "\r\n";
    QByteArray run6 = "2026-12-07T20:08:17.362+00:00,6,288,857754,1194430,54.317,4.537720,,0\r\n";
    QByteArray run7 = "2026-12-07T20:09:01.005+01:00,7,288,870788,1207158,54.195,4.537635,25.15,1\r\n";
    QTest::newRow("no file") << QByteArray("<none>") << qint64(0);
    QTest::newRow("empty") << QByteArray() << qint64(0);
    QTest::newRow("header only") << header << qint64(0);
    QTest::newRow("last run 7") << header + run6 + run7 << qint64(7);
    QTest::newRow("without final line end") << header + run6 + run7.chopped(2) << qint64(7);
    // A line cut short (a crash while it was written) or garbage: the readable lines before it count.
    QTest::newRow("cut in its run") << header + run7 + run6.left(31) << qint64(7);
    QTest::newRow("garbage last") << header + run6 + "\x01\xff,99,zz\r\n" << qint64(6);
    QTest::newRow("runs mixed by two programs") << header + run7 + run6 << qint64(7);
    // Only the end of a big file is read: a Run far before it does not count.
    QByteArray big = header + QByteArray(run7).replace(",7,", ",900,");
    while (big.size() < 2 * MeasurementLog::TailBytes)
        big += run6;
    QTest::newRow("big file") << big + QByteArray(run7).replace(",7,", ",8,") << qint64(8);
}

void TestEngine::lastRunOfFile()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, lastRun);
    if (text != "<none>")
        QVERIFY(TWorkingFolder::Write("Measurements.csv", text));
    QCOMPARE(MeasurementLog::LastRun("Measurements.csv"), int64_t(lastRun));
}

void TestEngine::runsNumberedOnPerFolder()
{
    // Each folder's Measurements.csv numbers its own Runs on from its last one, read when the
    // engine is made and when the folder changes.
    const QByteArray header = MeasurementLog::Header() + "\r\n";
    QVERIFY(QDir().mkpath("a") && QDir().mkpath("b"));
    QVERIFY(TWorkingFolder::Write("a/Measurements.csv", header + "2026-12-07T20:08:17.362+00:00,7,1,2,3,4.000,5,,1\r\n"));
    QVERIFY(TWorkingFolder::Write("b/Measurements.csv", header));
    FLine.Replies['z'] = MeanReport + "\r\n";
    FLine.Replies['x'] = DifferenceReport + "\r\n";
    const auto runOnce = [this] {
        QSignalSpy ended(FEngine.get(), &TEngine::RunEnded);
        const QMetaObject::Connection stop = connect(FEngine.get(), &TEngine::ReportComputed, this, [this] {
            if (FEngine->Running())
                FEngine->StopRun();
        });
        QVERIFY(FEngine->StartRun());
        QVERIFY(ended.wait(60000));
        disconnect(stop);
    };
    FEngine->SetLogFolder("a");
    runOnce();
    runOnce();
    FEngine->SetLogFolder("b");
    runOnce();
    FEngine->SetLogFolder("a");
    runOnce();
    FEngine->Close();
    const auto runs = [](const QString &path) {
        QList<QByteArray> runs;
        for (const QByteArray &line : TWorkingFolder::Read(path).split('\n').mid(1))
            if (!line.isEmpty())
                runs << line.split(',').value(1);
        return runs;
    };
    QCOMPARE(runs("a/Measurements.csv"), QList<QByteArray>({"7", "8", "9", "10"}));
    QCOMPARE(runs("b/Measurements.csv"), QList<QByteArray>({"1"}));
}

void TestEngine::lateReplyBelongsToItsRun_data()
{
    // When the replies asked for by the Run's last cycles come: right after the Stop, never, or
    // on the line when the program ends.
    QTest::addColumn<QString>("when");
    QTest::newRow("after Stop") << "after Stop";
    QTest::newRow("never") << "never";
    QTest::newRow("at exit") << "at exit";
}

void TestEngine::lateReplyBelongsToItsRun()
{
    QFETCH(QString, when);
    constexpr int OnTime = 40;
    SetOption(&TEngineOptions::ApplyFilter, false);
    FLine.Replies['z'] = MeanReport + "\r\n";
    FLine.Replies['x'] = DifferenceReport + "\r\n";
    QList<TBatch> batches;
    connect(FEngine.get(), &TEngine::BatchProcessed, this, [&batches](const TBatch &batch) { batches << batch; });
    // From the 40th report on the instrument is late: its replies do not come within their wait.
    connect(FEngine.get(), &TEngine::ReportComputed, this, [this] {
        if (FEngine->ReportCount() == OnTime)
            FLine.Replies.clear();
    });
    const auto asked = [this] { return int(FLine.Written.count('z') + FLine.Written.count('x')); };
    QSignalSpy ended(FEngine.get(), &TEngine::RunEnded);
    QVERIFY(FEngine->StartRun());
    QTRY_VERIFY_WITH_TIMEOUT(asked() > OnTime, 60000);
    const int late = asked() - OnTime;
    QByteArray replies;
    for (int i = 0; i < late; ++i)
        replies += MeanReport + "\r\n";

    if (when == "at exit") {
        // On the line, not yet read, when the program ends.
        FLine.Incoming += replies;
        FEngine->Close();
    } else {
        FEngine->StopRun();
        if (when == "after Stop")
            Receive(replies);
        QVERIFY(ended.wait(60000));
        QCOMPARE(FEngine->ReportCount(), qint64(when == "never" ? OnTime : OnTime + late));
        if (when == "never") {
            // Still the Run's, though after its end; a report asked for outside any Run is Run 0's.
            Receive(replies);
            Command('z');
            Receive(MeanReport + "\r\n");
        }
        FEngine->Close();
    }

    // The Run's last batch holds every reply it asked for that came by its end.
    const int inRun = when == "never" ? OnTime : OnTime + late;
    QCOMPARE(batches.size(), when == "never" ? 3 : 2);
    QCOMPARE(int(batches[0].size()), 32);
    QCOMPARE(int(batches[1].size()), inRun - 32);
    for (const TBatch &batch : batches.mid(0, 2))
        for (const TReport &report : batch)
            QCOMPARE(report.Record.Run, int64_t(1));
    QList<QByteArray> runs;
    for (const QByteArray &line : TWorkingFolder::Read("Measurements.csv").split('\n').mid(1))
        if (!line.isEmpty())
            runs << line.split(',').value(1);
    QList<QByteArray> expected(OnTime + late, "1");
    if (when == "never")
        expected << "0";
    QCOMPARE(runs, expected);
}

QTEST_MAIN(TestEngine)
#include "tst_engine.moc"
