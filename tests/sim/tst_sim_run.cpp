// The main window's Run and Acquire on the simulated instrument's line: the commands the
// instrument receives, and what the window and its files hold when the line goes away.

#include "engine/Measurement.h"
#include "engine/Reports.h"
#include "engine/WaveBlock.h"
#include "app/Unitmain.h"
#include "sim/SimInstrument.h"
#include "tests/common/InLoop.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/WorkingFolder.h"
#include "tests/sim/CraftedReading.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QToolButton>
#include <QtTest>

namespace {

constexpr int WaitMs = 30000;

// The commands of the Run cycle: "a", then "x" on cycles 30, 60 and 90 of each 100, else "z".
QByteArray RunPattern(int cycles)
{
    QByteArray pattern;
    for (int cycle = 0; cycle < cycles; ++cycle)
        pattern += QByteArray("a") + ((cycle % 100 + 1) % 30 == 0 ? 'x' : 'z');
    return pattern;
}


} // namespace

class TestSimRun : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void runSendsThePattern();
    void everyReplyComputedOnce_data();
    void everyReplyComputedOnce();
    void lineGoesAwayDuringRun();
    void noticeBoxRunsBesideTheRun();
    void acquireTakesTheWholeBlock();
    void lineGoesAwayDuringAcquire();

private:
    // Starts the instrument and a window on its line.
    void Start(const TSimOptions &options);
    // Clicks Run, and Stop once the window has sent that many cycles' commands; true when the Run
    // has ended.
    bool RunCycles(int64_t cycles);

    std::unique_ptr<TWorkingFolder> FFolder;
    std::unique_ptr<TSimInstrument> FInstrument;
    std::unique_ptr<TMessageCapture> FMessages;
    std::unique_ptr<TFormMain> FForm;
};

void TestSimRun::init()
{
    FFolder = std::make_unique<TWorkingFolder>();
    QVERIFY(FFolder->IsValid());
    FMessages = std::make_unique<TMessageCapture>();
}

void TestSimRun::cleanup()
{
    FForm.reset();
    FInstrument.reset();
    FMessages.reset();
    FFolder.reset();
    qunsetenv("ZARN_COM1");
}

void TestSimRun::Start(const TSimOptions &options)
{
    FInstrument = std::make_unique<TSimInstrument>(options);
    QString error;
    QVERIFY2(FInstrument->Start(&error), qPrintable(error));
    qputenv("ZARN_COM1", FInstrument->SlavePath().toLocal8Bit());
    FForm = std::make_unique<TFormMain>();
    QVERIFY(FForm->FEngine->Comm() != nullptr);
    FMessages->Clear();
}

bool TestSimRun::RunCycles(int64_t cycles)
{
    TInLoop stop([&] {
        if (FForm->FEngine->RunCycleCount() < cycles)
            return false;
        FForm->TB_RunClick(FForm->TB_Run);
        return true;
    });
    QSignalSpy ended(FForm.get(), &TFormMain::RunEnded);
    FForm->TB_RunClick(FForm->TB_Run);
    return Ended(ended, WaitMs);
}

void TestSimRun::runSendsThePattern()
{
    Start(TSimOptions());
    // The stop comes after the window has sent cycle 200's commands; the Run ends with that cycle.
    QVERIFY(RunCycles(200));
    QCOMPARE(FForm->FEngine->RunCycleCount(), int64_t(200));
    QTRY_VERIFY_WITH_TIMEOUT(FInstrument->CommandCount() >= 400, WaitMs);
    QCOMPARE(FInstrument->Commands(), RunPattern(200));
    QCOMPARE(FMessages->Texts(), QStringList());
}

void TestSimRun::everyReplyComputedOnce_data()
{
    QTest::addColumn<double>("late");
    QTest::addColumn<double>("garble");
    QTest::addColumn<bool>("split");
    QTest::newRow("late replies") << 0.3 << 0.0 << false;
    QTest::newRow("late, garbled and split replies") << 0.3 << 0.02 << true;
}

void TestSimRun::everyReplyComputedOnce()
{
    QFETCH(double, late);
    QFETCH(double, garble);
    QFETCH(bool, split);
    TSimOptions options;
    options.Seed = 7;
    options.Late = late;
    options.Garble = garble;
    options.Split = split;
    options.RecordFile = FFolder->Path("sent.bin");
    Start(options);
    FForm->mmApplyFilterClick(); // off: every value reaches the logs
    QVERIFY(RunCycles(500));

    // What the instrument sent: each whole record once, the unreadable ones refused.
    QStringList expected;
    int sent = 0, unreadable = 0;
    const auto readSent = [&] {
        QByteArray stream = TWorkingFolder::Read(options.RecordFile) + "\r\n";
        expected.clear();
        sent = unreadable = 0;
        Reports::TReport report;
        while (Reports::TakeReport(stream, report)) {
            ++sent;
            if (!report.Values.Readable) {
                ++unreadable;
                continue;
            }
            const float phase = Measurement::PhaseDegrees(float(Measurement::PhaseAngle(report.Values.M1, report.Values.M2)));
            expected << Measurement::FixedText(phase, 3);
        }
        return sent;
    };
    // Every cycle's report is sent, the last ones after the Run has ended; each is taken as it
    // comes. (Both counts only grow from here.)
    QTRY_COMPARE_WITH_TIMEOUT(readSent(), int(FForm->FEngine->RunCycleCount()), WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(FForm->FEngine->ReportCount() + FForm->FEngine->RefusedCount(), qint64(sent), WaitMs);
    QCOMPARE(FForm->FEngine->RefusedCount(), qint64(unreadable));
    qInfo("%d reports sent, %lld computed, %lld refused", sent, qint64(FForm->FEngine->ReportCount()),
          qint64(FForm->FEngine->RefusedCount()));
    FForm.reset();
    QStringList logged;
    for (const QByteArray &line : TWorkingFolder::Read("Phase.csv").split('\n'))
        if (!line.trimmed().isEmpty())
            logged << QString::fromLatin1(line.trimmed()).split(',');
    QCOMPARE(logged, expected);
    QCOMPARE(TWorkingFolder::Read("TimeOfFlight.csv").count(','), qsizetype(expected.size()));
}

void TestSimRun::lineGoesAwayDuringRun()
{
    TSimOptions options;
    options.VanishAfter = 200; // the line goes once cycle 100 has been answered
    Start(options);
    FForm->mmApplyFilterClick(); // every value of a batch reaches the logs
    QSignalSpy ended(FForm.get(), &TFormMain::RunEnded);
    FForm->TB_RunClick(FForm->TB_Run);
    QVERIFY(Ended(ended, WaitMs));
    QVERIFY(FInstrument->HasVanished());
    // Told once the Run has ended.
    QTRY_VERIFY_WITH_TIMEOUT(!FMessages->Messages.isEmpty(), WaitMs);
    QCOMPARE(FMessages->Messages.size(), 1);
    QVERIFY2(FMessages->Texts().first().startsWith("COM1 has been disconnected !"), qPrintable(FMessages->Texts().first()));
    QVERIFY(FForm->FEngine->Comm() == nullptr);
    QVERIFY(!FForm->FEngine->Running());
    QCOMPARE(FForm->TB_Run->text(), QStringLiteral("Run"));
    QCOMPARE(TFormMain::ImageIndex(FForm->TB_Run), 11);
    QVERIFY(FForm->TB_Acquire->isEnabled() && FForm->mmCommand->isEnabled() && FForm->mmComPort->isEnabled());
    // 100 reports: three batches of 32, each a line of both logs, written when the Run ended.
    QCOMPARE(TWorkingFolder::LineCount("Phase.csv"), 3);
    QCOMPARE(TWorkingFolder::LineCount("TimeOfFlight.csv"), 3);
}

void TestSimRun::noticeBoxRunsBesideTheRun()
{
    Start(TSimOptions());
    FMessages.reset(); // the real box, with its own event loop
    QSignalSpy ended(FForm.get(), &TFormMain::RunEnded);
    FForm->TB_RunClick(FForm->TB_Run);
    QVERIFY(QTest::qWaitFor([&] { return FForm->FEngine->RunCycleCount() >= 10; }, WaitMs));
    // The component's notice, raised twice inside the Run: one box, once the call has returned.
    FForm->FEngine->Comm()->SetPortOpen(true);
    FForm->FEngine->Comm()->SetPortOpen(true);
    QVERIFY(!QApplication::activeModalWidget());

    // While the box is open the Run goes on and the replies keep coming; then it is closed.
    QList<QMessageBox *> seen;
    int64_t cyclesAtBox = -1;
    uint64_t received = 0, receivedAtBox = 0;
    QObject counting; // the count ends with this test
    connect(FForm->FEngine, &TEngine::Received, &counting, [&received](const QByteArray &chunk) { received += uint64_t(chunk.size()); });
    QString text;
    TInLoop closer([&] {
        for (QWidget *window : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(window); box && box->isVisible() && !seen.contains(box))
                seen << box;
        if (seen.isEmpty())
            return false;
        if (cyclesAtBox < 0) {
            cyclesAtBox = FForm->FEngine->RunCycleCount();
            receivedAtBox = received;
            text = seen.first()->text();
            return false;
        }
        if (FForm->FEngine->RunCycleCount() < cyclesAtBox + 100 || received <= receivedAtBox)
            return false;
        seen.first()->close();
        return true;
    });
    QVERIFY(QTest::qWaitFor([&] { return closer.Finished(); }, WaitMs));
    QCOMPARE(text, QStringLiteral("COM Port has been opened !"));
    QCOMPARE(seen.size(), 1);
    QVERIFY(FForm->FEngine->Running());
    // The second copy was not queued behind it.
    const int64_t cycles = FForm->FEngine->RunCycleCount();
    QVERIFY(QTest::qWaitFor([&] { return FForm->FEngine->RunCycleCount() >= cycles + 20; }, WaitMs));
    QVERIFY(!QApplication::activeModalWidget());
    FForm->TB_RunClick(FForm->TB_Run);
    QVERIFY(Ended(ended, WaitMs));
}

void TestSimRun::acquireTakesTheWholeBlock()
{
    Start(TSimOptions());
    const TSimWaveform sent = TSimProtocol(TSimOptions()).Model().Waveform(TSimOptions().Samples);
    QSignalSpy ended(FForm.get(), &TFormMain::AcquireEnded);
    FForm->TB_AcquireClick(FForm->TB_Acquire);
    QVERIFY(Ended(ended, WaitMs));
    // The wait went on while the block came, past the 101 polls of a silent line (the whole block
    // is there), and ended as its last line came, not at the cap. The polls themselves are the
    // machine's pace: a loaded one makes fewer of them in the block's second and a half.
    QVERIFY(FForm->FEngine->Receiving().WaveLines >= WaveBlock::BlockLines);
    const int polls = FForm->PanelText(7).toInt();
    QVERIFY2(polls >= 1 && polls < 600, qPrintable(FForm->PanelText(7)));
    QCOMPARE(FForm->FEngine->Receiving().WaveCount, 1080);
    // Beyond what one block fills the channels keep their mid-scale start.
    for (int i = 0; i < TFormMain::ChannelLength; ++i) {
        QCOMPARE(int(FForm->FEngine->Channel1()[i]), i < 1080 ? sent.Transmit[i] : 2048);
        QCOMPARE(int(FForm->FEngine->Channel2()[i]), i < 1080 ? sent.Receive[i] : 2048);
    }
    QCOMPARE(FForm->MemoData->LineCount(), 1080);
    const QString panel = FForm->PanelText(5);
    QVERIFY2(panel.startsWith("Temp.=") && std::abs(panel.mid(6).toDouble() - FInstrument->Reading().Temperature)
                                               <= TemperatureTolerance,
             qPrintable(panel));
    QCOMPARE(FForm->TB_Acquire->text(), QStringLiteral("Acquire"));
    QCOMPARE(FForm->FEngine->Receiving().State, rsNone);
    QCOMPARE(FMessages->Texts(), QStringList());
}

void TestSimRun::lineGoesAwayDuringAcquire()
{
    Start(TSimOptions());
    QSignalSpy ended(FForm.get(), &TFormMain::AcquireEnded);
    FForm->TB_AcquireClick(FForm->TB_Acquire);
    QVERIFY(QTest::qWaitFor([&] { return FForm->FEngine->Receiving().WaveCount >= 0; }, WaitMs));
    FInstrument->Stop(); // the line goes while the block is coming
    QVERIFY(Ended(ended, WaitMs));
    // What came of the block, then the loss; the channels keep their mid-scale start.
    QTRY_COMPARE_WITH_TIMEOUT(FMessages->Texts().size(), 2, WaitMs);
    const QStringList texts = FMessages->Texts();
    QCOMPARE(texts.size(), 2);
    QVERIFY2(texts[0].endsWith(" of 1568 lines received; the previous waveform is kept."), qPrintable(texts[0]));
    QVERIFY2(texts[1].startsWith("COM1 has been disconnected !"), qPrintable(texts[1]));
    QCOMPARE(FForm->FEngine->Channel1()[0], int16_t(2048));
    QVERIFY(FForm->FEngine->Comm() == nullptr);
    QCOMPARE(FForm->TB_Acquire->text(), QStringLiteral("Acquire"));
    QVERIFY(FForm->TB_Run->isEnabled() && FForm->mmCommand->isEnabled() && FForm->mmComPort->isEnabled());
}

QTEST_MAIN(TestSimRun)
#include "tst_sim_run.moc"
