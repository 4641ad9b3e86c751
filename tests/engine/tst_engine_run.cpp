// The engine's Run cycle, Acquire wait and arctangent test on an in-memory instrument that answers
// at once, without a window: the bytes on the line, the status panels, the blocks kept, the
// notices, and every computed report in the files however the cycle ends. Also the receive path
// under random chunks in every state.

#include "engine/Engine.h"
#include "platform/Clock.h"
#include "tests/app/ReportTexts.h"
#include "tests/common/InLoop.h"
#include "tests/common/MemoryDevice.h"
#include "tests/common/NoticeCapture.h"
#include "tests/common/WorkingFolder.h"

#include <QDeadlineTimer>
#include <QMap>
#include <QRandomGenerator>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

const QString LostText = "COM1 has been disconnected !\n\n Please check the line and open the port again.";

// The notice of an acquisition that did not get its whole block.
QString PartText(int lines)
{
    return QString("%1 of 1568 lines received; the previous waveform is kept.").arg(lines);
}

} // namespace

class TestEngineRun : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startWhileLastCycleEndsTakesOver();
    void replyInFirstPassShowsNoPolls();
    void rateEveryHundredCycles();
    void everyReportReachesTheFiles_data();
    void everyReportReachesTheFiles();
    void acquireKeepsOnlyWholeBlocks_data();
    void acquireKeepsOnlyWholeBlocks();
    void portLostBeforeRunTakesOverFromTest();
    void randomChunksInEveryState_data();
    void randomChunksInEveryState();

private:
    QString Panel(int panel) const { return FPanels.value(panel); }
    // The instrument answers each report command with a report at 90 degrees.
    void AnswerReports()
    {
        FLine.Replies['z'] = MeanReport + "\r\n";
        FLine.Replies['x'] = Record(44, {{0, "TRFDIF"}, {7, "290"}, {14, "00000001"}, {26, "7FFFFFFF"}, {37, "25.31"}})
                             + "\r\n";
    }
    int Asked() const { return int(FLine.Written.count('z') + FLine.Written.count('x')); }

    std::unique_ptr<TWorkingFolder> FFolder;
    TMemoryLine FLine;
    std::unique_ptr<TNoticeCapture> FNotices;
    std::unique_ptr<TEngine> FEngine;
    QMap<int, QString> FPanels;
    QList<TReport> FReports;
    QByteArray FReceived;
};

void TestEngineRun::init()
{
    FFolder = std::make_unique<TWorkingFolder>();
    QVERIFY(FFolder->IsValid());
    FLine = TMemoryLine();
    FNotices = std::make_unique<TNoticeCapture>();
    FEngine = std::make_unique<TEngine>(MemoryDeviceFactory(FLine));
    FNotices->Listen(FEngine.get());
    FPanels.clear();
    FReports.clear();
    FReceived.clear();
    connect(FEngine.get(), &TEngine::PanelChanged, this, [this](int panel, const QString &text) { FPanels[panel] = text; });
    connect(FEngine.get(), &TEngine::ReportComputed, this, [this](const TReport &report) { FReports << report; });
    connect(FEngine.get(), &TEngine::Received, this, [this](const QByteArray &chunk) { FReceived += chunk; });
    QVERIFY(FEngine->OpenPort(0));
    QCOMPARE(FNotices->Texts(), QStringList({"Open COM1 !"}));
    FNotices->Clear();
}

void TestEngineRun::cleanup()
{
    FEngine.reset();
    FNotices.reset();
    FFolder.reset();
}

void TestEngineRun::startWhileLastCycleEndsTakesOver()
{
    // No replies: every cycle waits its 41 polls after its "z", so the timer sees the line as it
    // stands in each wait; between a wait and the next "a" no events run.
    QSignalSpy ended(FEngine.get(), &TEngine::RunEnded);
    QString countAfterRestart;
    int stage = 0;
    TInLoop inLoop([&] {
        if (stage == 0 && FLine.Written == "azaz") {
            FEngine->StopRun(); // and start again before its last cycle has ended
            FEngine->StartRun();
            stage = 1;
        } else if (stage == 1 && FLine.Written == "azazazaz") {
            countAfterRestart = Panel(spCycle);
            FEngine->StopRun();
            return true;
        }
        return false;
    });
    QVERIFY(FEngine->StartRun());
    QVERIFY(Ended(ended));
    QCOMPARE(ended.count(), 1); // the first Run's end is not the end of Running
    QVERIFY(inLoop.Finished());
    // The new Run took over, counting from its first cycle.
    QCOMPARE(countAfterRestart, QStringLiteral("1"));
    QCOMPARE(FLine.Written, QByteArray("azazazaz"));
    QVERIFY(!FEngine->Busy());
}

void TestEngineRun::replyInFirstPassShowsNoPolls()
{
    // Every cycle's reply is there when the wait begins, whichever cycle the stop meets.
    FLine.Replies['z'] = MeanReport + "\r\n";
    FLine.Replies['x'] = DifferenceReport + "\r\n";
    TInLoop inLoop([&] {
        if (Panel(spCycle).isEmpty())
            return false;
        FEngine->StopRun();
        return true;
    });
    QSignalSpy ended(FEngine.get(), &TEngine::RunEnded);
    QVERIFY(FEngine->StartRun());
    QVERIFY(Ended(ended));
    QVERIFY(Panel(spCycle).toInt() >= 1);
    QCOMPARE(Panel(spPolls), QStringLiteral("0"));
    QVERIFY(!FReports.isEmpty());
    // The last reply answers the last ask (the stop may come after the next cycle's "a"): the mean
    // report (90 degrees), or on every 30th cycle the difference report (45 degrees).
    const qsizetype lastAsk = std::max(FLine.Written.lastIndexOf('z'), FLine.Written.lastIndexOf('x'));
    QVERIFY(lastAsk >= 0);
    QCOMPARE(FReports.last().Record.PhaseDeg, FLine.Written.at(lastAsk) == 'x' ? 45.0f : 90.0f);
}

void TestEngineRun::rateEveryHundredCycles()
{
    FLine.Replies['z'] = MeanReport + "\r\n";
    FLine.Replies['x'] = DifferenceReport + "\r\n";
    // The clock: 8.1 s for the first 100 cycles, none at all for the next 100.
    const Platform::TTickCountHook previous =
        Platform::SetTickCountHook([&] { return FLine.Written.count('a') < 100 ? 1000u : 9100u; });
    QStringList rates;
    int highestCycle = 0;
    connect(FEngine.get(), &TEngine::PanelChanged, this, [&](int panel, const QString &text) {
        if (panel == spCycle)
            highestCycle = qMax(highestCycle, text.toInt());
        else if (panel == spRate)
            rates << text;
    });
    TInLoop inLoop([&] {
        if (FLine.Written.count('a') <= 200)
            return false;
        FEngine->StopRun();
        return true;
    });
    QSignalSpy ended(FEngine.get(), &TEngine::RunEnded);
    QVERIFY(FEngine->StartRun());
    QVERIFY(Ended(ended));
    Platform::SetTickCountHook(previous);
    QCOMPARE(highestCycle, 100); // the count never passes 100
    // 100 cycles in 0 ms give no rate: the last one stays.
    QCOMPARE(rates, QStringList({"12.3457Hz"}));
}

void TestEngineRun::everyReportReachesTheFiles_data()
{
    // However the Run ends, every report computed is in Phase.csv and TimeOfFlight.csv, in full
    // lines of 32 and a shorter last one (the filter keeps every value of a constant phase).
    QTest::addColumn<QString>("end");
    QTest::newRow("stopped twice, then closed") << "stop";
    QTest::newRow("closed during the Run") << "close";
    QTest::newRow("port lost during the Run") << "lost";
}

void TestEngineRun::everyReportReachesTheFiles()
{
    QFETCH(QString, end);
    AnswerReports();
    if (end == "stop") {
        // Stopped after 50 reports, and again after 45 more: the stop as the report that reaches
        // the count is taken, so the count is exact.
        for (int more : {50, 45}) {
            const int target = int(FReports.size()) + more;
            bool stopped = false;
            const QMetaObject::Connection stop = connect(FEngine.get(), &TEngine::ReportComputed, this, [&] {
                if (FReports.size() >= target && !stopped) {
                    stopped = true;
                    FEngine->StopRun();
                }
            });
            QSignalSpy ended(FEngine.get(), &TEngine::RunEnded);
            QVERIFY(FEngine->StartRun());
            QVERIFY(Ended(ended));
            disconnect(stop);
            QCOMPARE(int(FReports.size()), target);
        }
        FEngine->Close();
    } else {
        // Past the first batch, while a reply is awaited.
        QSignalSpy ended(FEngine.get(), &TEngine::RunEnded);
        QSignalSpy lost(FEngine.get(), &TEngine::PortLost);
        QByteArray sentAtLoss;
        TInLoop inLoop([&] {
            if (FReports.size() < 40)
                return false;
            if (end == "close") {
                FEngine->Close();
            } else {
                sentAtLoss = FLine.Written;
                LoseDevice(FLine);
            }
            return true;
        });
        QVERIFY(FEngine->StartRun());
        QVERIFY(Ended(ended));
        QCOMPARE(ended.count(), 1);
        QVERIFY(inLoop.Finished());
        if (end == "lost") {
            // Told once, and nothing was sent after the loss.
            QCOMPARE(lost.count(), 1);
            QTRY_COMPARE(FNotices->Texts(), QStringList{LostText});
            QCOMPARE(FLine.Written, sentAtLoss);
            QVERIFY(!FEngine->Busy());
            FEngine->Close();
        } else {
            QCOMPARE(FNotices->Texts(), QStringList());
        }
        // Every report asked for was computed, the reply on the line at the close too: each came at once.
        QCOMPARE(int(FReports.size()), Asked());
    }
    const int computed = int(FReports.size());
    QVERIFY(computed > 40);
    for (const char *name : {"Phase.csv", "TimeOfFlight.csv"}) {
        const bool phase = QByteArray(name) == "Phase.csv";
        QList<QByteArray> lines = TWorkingFolder::Read(name).split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QCOMPARE(lines.size(), (computed + 31) / 32);
        int values = 0;
        for (const QByteArray &l : lines) {
            const int n = int(l.count(',')) + (phase ? 1 : 0);
            QVERIFY2(n == 32 || &l == &lines.last(), l.constData());
            values += n;
        }
        QCOMPARE(values, computed);
        QVERIFY(lines.last().startsWith(phase ? "90.000" : "25.31,4.563,"));
    }
}

void TestEngineRun::acquireKeepsOnlyWholeBlocks_data()
{
    // Chunks of the block: lines after the header (-1: no answer at all), and the pause before
    // each in milliseconds.
    QTest::addColumn<QList<int>>("lines");
    QTest::addColumn<QList<int>>("pauses");
    QTest::addColumn<bool>("lost"); // the port goes after the last chunk
    QTest::addColumn<QStringList>("notices");
    QTest::newRow("whole at once") << QList<int>{1568} << QList<int>{0} << false << QStringList();
    QTest::newRow("pauses after the header and inside") << QList<int>{0, 800, 768} << QList<int>{0, 300, 300}
                                                         << false << QStringList();
    QTest::newRow("no answer") << QList<int>{-1} << QList<int>{0} << false << QStringList{PartText(0)};
    QTest::newRow("700 lines, then silence") << QList<int>{700} << QList<int>{0} << false
                                             << QStringList{PartText(700)};
    QTest::newRow("no answer, then the port is lost") << QList<int>{-1} << QList<int>{0} << true
                                                      << QStringList{PartText(0), LostText};
    QTest::newRow("700 lines, then the port is lost") << QList<int>{700} << QList<int>{0} << true
                                                      << QStringList{PartText(700), LostText};
}

void TestEngineRun::acquireKeepsOnlyWholeBlocks()
{
    QFETCH(QList<int>, lines);
    QFETCH(QList<int>, pauses);
    QFETCH(bool, lost);
    QFETCH(QStringList, notices);
    const auto sample = [](int i) { return QByteArray::number(1000 + i % 3000).rightJustified(4); };
    QList<QByteArray> chunks;
    int line = 0;
    for (int count : lines) {
        QByteArray chunk = !chunks.isEmpty() || count < 0 ? "" : "T=25.31 C\r\n";
        for (int end = line + count; line < end; ++line)
            chunk += sample(line) + "," + sample(line + 1) + "\r\n";
        chunks << chunk;
    }
    // The first chunk answers the command; the others come after their pauses.
    const QByteArray answer = chunks.takeFirst();
    if (!answer.isEmpty())
        FLine.Replies['s'] = answer;
    pauses.removeFirst();
    int sent = 0;
    std::function<void()> next = [&] {
        if (sent < chunks.size())
            QTimer::singleShot(pauses[sent], this, [&] {
                FLine.Incoming += chunks[sent++];
                next();
            });
    };
    QList<QByteArrayList> blocks;
    connect(FEngine.get(), &TEngine::BlockParsed, this, [&blocks](const QByteArrayList &block) { blocks << block; });
    QSignalSpy ended(FEngine.get(), &TEngine::AcquireEnded);
    QVERIFY(FEngine->StartAcquire());
    QVERIFY(!FEngine->StartAcquire()); // one at a time
    if (lost) {
        QVERIFY(QTest::qWaitFor([&] { return FReceived.size() == answer.size(); }, 10000));
        LoseDevice(FLine);
    } else {
        next();
    }
    QVERIFY(Ended(ended));
    QCOMPARE(ended.count(), 1);
    const bool whole = notices.isEmpty();
    QCOMPARE(ended[0][0].toBool(), whole);
    QCOMPARE(FLine.Written, QByteArray("s"));
    QTRY_COMPARE(FNotices->Texts(), notices);
    // Only a whole block reaches the channels, its sample lines as received.
    QCOMPARE(blocks.size(), whole ? 1 : 0);
    if (whole) {
        QCOMPARE(blocks[0].size(), 1080); // the samples a channel holds
        for (int i : {0, 7, 1079})
            QCOMPARE(blocks[0][i], sample(i) + "," + sample(i + 1));
    }
    // A whole block ends the wait as it is read, without waiting for the line to pause; with
    // nothing received the wait gives up after 101 polls.
    if (lines == QList<int>{1568})
        QVERIFY2(Panel(spPolls).toInt() < 100, qPrintable(Panel(spPolls)));
    if (lines == QList<int>{-1} && !lost)
        QCOMPARE(Panel(spPolls), QStringLiteral("101"));
    QVERIFY(!FEngine->Busy());
}

void TestEngineRun::portLostBeforeRunTakesOverFromTest()
{
    // Stop, start and the loss in one go, while the test's last batch still ends: the Run that
    // was to take over ends before it sends anything.
    TInLoop inLoop([&] {
        if (Panel(spPolls).isEmpty())
            return false;
        FEngine->StopRun();
        FEngine->StartRun();
        LoseDevice(FLine);
        return true;
    });
    QSignalSpy ended(FEngine.get(), &TEngine::RunEnded);
    QVERIFY(FEngine->StartTest());
    QVERIFY(Ended(ended));
    QVERIFY(inLoop.Finished());
    QTRY_COMPARE(FNotices->Texts(), QStringList{LostText});
    QCOMPARE(FLine.Written, QByteArray());
    QVERIFY(!FEngine->Busy());
    QCOMPARE(ended.count(), 1);
}

void TestEngineRun::randomChunksInEveryState_data()
{
    QTest::addColumn<char>("letter"); // the command, as its menu item sends it
    QTest::newRow("state 0") << '?';
    QTest::newRow("state 1") << 'x';
    QTest::newRow("state 2") << 's';
    QTest::newRow("state 3") << 'z';
}

void TestEngineRun::randomChunksInEveryState()
{
    QFETCH(char, letter);
    QRandomGenerator random(uint(letter) * 7919);
    // The text kept for the parsers stays bounded after every step, whatever came.
    qsizetype longest = 0;
    connect(FEngine.get(), &TEngine::ReceiveHandled, this,
            [&] { longest = std::max(longest, FEngine->Receiving().Pending.size()); });
    for (int size = 0; size <= 5000; ++size) {
        QByteArray chunk(size, Qt::Uninitialized);
        for (char &c : chunk)
            c = char(random.bounded(256));
        // Now and then a marker, so the parsers see records among the noise.
        if (size > 100 && size % 3 == 0)
            chunk.replace(size / 2, 5, size % 2 ? "TMEAN" : "TRFDI");
        FEngine->Command(letter == '?' ? 13 : letter - 'a' + 1);
        FReceived.clear();
        FLine.Incoming = chunk;
        QDeadlineTimer bound(10000);
        while (!FLine.Incoming.isEmpty() && !bound.hasExpired()) {
            // Said at each turn: a step reads at most a buffer's worth.
            if (FLine.Current && FLine.Current->OnDataWaiting)
                FLine.Current->OnDataWaiting();
            QCoreApplication::processEvents();
        }
        QVERIFY(FLine.Incoming.isEmpty());
        QVERIFY2(longest <= 256, qPrintable(QString::number(size)));
        // Every byte goes on to the communication log, as received.
        QCOMPARE(FReceived, chunk);
    }
}

QTEST_MAIN(TestEngineRun)
#include "tst_engine_run.moc"
