// The Run cycle and the arctangent test of the main window against an in-memory instrument that
// answers at once: what the buttons, menus and status panels show while the loops run and after
// them, and what a stop click, a closed port or a closed window does to them.

#include "app/Unitmain.h"
#include "tests/app/ReportTexts.h"
#include "tests/common/InLoop.h"
#include "tests/common/MemoryWindow.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QtTest>

class TestRun : public QObject, private TMemoryWindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void stopDuringWaitRestoresAtOnce();
    void startWhileLastCycleEndsTakesOver();
    void replyInStepFourShowsNoPolls();
    void rateEveryHundredCycles();
    void acquireWithoutReply();
    void closedPortShowsOneMessage_data();
    void closedPortShowsOneMessage();
    void windowClosedDuringLoop_data();
    void windowClosedDuringLoop();
    void arctangentTestStopsAtRunClick();

private:
    // Whether the window shows the idle state.
    bool Idle() const;
};

void TestRun::init()
{
    QVERIFY(OpenWindow());
    FMessages->Clear();
}

void TestRun::cleanup()
{
    FWindow.reset();
}

bool TestRun::Idle() const
{
    return !FForm->FRunning && FForm->TB_Run->text() == "Run" && TFormMain::ImageIndex(FForm->TB_Run) == 11
           && FForm->TB_Run->isEnabled() && FForm->TB_Acquire->isEnabled() && FForm->mmCommand->isEnabled()
           && FForm->mmComPort->isEnabled();
}

void TestRun::stopDuringWaitRestoresAtOnce()
{
    // No replies: every cycle waits its 41 polls.
    FForm->show();
    QVERIFY(QTest::qWaitForWindowActive(FForm));
    bool running = false, idleAtOnce = false;
    QByteArray sentAtStop;
    TInLoop inLoop([&] {
        if (!FLine->Written.endsWith('z') || FForm->FReceiveState != 3)
            return false;
        running = FForm->TB_Run->text() == "Stop" && TFormMain::ImageIndex(FForm->TB_Run) == 21
                  && !FForm->TB_Acquire->isEnabled() && !FForm->mmCommand->isEnabled()
                  && !FForm->mmComPort->isEnabled();
        // The commands' shortcuts are off too.
        QTest::keyClick(FForm, Qt::Key_M, Qt::ControlModifier);
        sentAtStop = FLine->Written;
        FForm->TB_Run->click();
        idleAtOnce = Idle();
        return true;
    });
    FForm->TB_Run->click();
    QVERIFY(inLoop.Finished());
    QVERIFY(running);
    QVERIFY(idleAtOnce);
    QCOMPARE(sentAtStop, QByteArray("az"));
    QCOMPARE(FLine->Written, QByteArray("az")); // the loop ended with that cycle
    QVERIFY(Idle());
    QCOMPARE(FMessages->Texts(), QStringList());
}

void TestRun::startWhileLastCycleEndsTakesOver()
{
    // No replies: every cycle waits its 41 polls after its "z", so the timer sees the line as it
    // stands in each wait; between a wait and the next "a" no events run.
    QString countAfterRestart;
    int stage = 0;
    TInLoop inLoop([&] {
        if (stage == 0 && FLine->Written == "azaz") {
            FForm->TB_RunClick(FForm->TB_Run); // stop, and start again before the loop has ended
            FForm->TB_RunClick(FForm->TB_Run);
            stage = 1;
        } else if (stage == 1 && FLine->Written == "azazazaz") {
            countAfterRestart = FForm->PanelText(6);
            FForm->TB_RunClick(FForm->TB_Run);
            return true;
        }
        return false;
    });
    FForm->TB_RunClick(FForm->TB_Run);
    QVERIFY(inLoop.Finished());
    // The new Run went on in the same loop, counting from its first cycle.
    QCOMPARE(countAfterRestart, QStringLiteral("1"));
    QCOMPARE(FLine->Written, QByteArray("azazazaz"));
    QVERIFY(Idle());
}

void TestRun::replyInStepFourShowsNoPolls()
{
    FLine->Replies['z'] = MeanReport + "\r\n";
    TInLoop inLoop([&] {
        if (FForm->PanelText(6).isEmpty())
            return false;
        FForm->TB_RunClick(FForm->TB_Run);
        return true;
    });
    FForm->TB_RunClick(FForm->TB_Run);
    QVERIFY(FForm->PanelText(6).toInt() >= 1);
    QCOMPARE(FForm->PanelText(7), QStringLiteral("0"));
    QCOMPARE(FForm->LabelSmallTime->text(), QStringLiteral("90.000"));
}

void TestRun::rateEveryHundredCycles()
{
    FLine->Replies['z'] = MeanReport + "\r\n";
    FLine->Replies['x'] = DifferenceReport + "\r\n";
    // The clock: 8.1 s for the first 100 cycles, none at all for the next 100.
    QList<uint32_t> ticks{1000, 9100, 9100, 9100, 9100};
    const Platform::TTickCountHook previous = Platform::SetTickCountHook([&] {
        return ticks.size() > 1 ? ticks.takeFirst() : ticks.first();
    });
    QStringList rates;
    int highestCycle = 0;
    TInLoop inLoop([&] {
        // Sampled now and then: the count never passes 100.
        highestCycle = qMax(highestCycle, FForm->PanelText(6).toInt());
        if (!rates.contains(FForm->PanelText(8)))
            rates << FForm->PanelText(8);
        if (FLine->Written.count('a') <= 200)
            return false;
        FForm->TB_RunClick(FForm->TB_Run);
        return true;
    });
    FForm->TB_RunClick(FForm->TB_Run);
    Platform::SetTickCountHook(previous);
    QVERIFY(highestCycle >= 1 && highestCycle <= 100);
    // 100 cycles in 0 ms give no rate: the last one stays.
    QCOMPARE(rates, QStringList({"", "12.3457Hz"}));
    QCOMPARE(FForm->PanelText(8), QStringLiteral("12.3457Hz"));
}

void TestRun::acquireWithoutReply()
{
    FForm->FChannel1[7] = 123;
    FForm->FChannel2[1079] = -5;
    bool waiting = false;
    TInLoop inLoop([&] {
        waiting = FForm->TB_Acquire->text() == "Wait ..." && !FForm->TB_Run->isEnabled()
                  && !FForm->mmCommand->isEnabled() && !FForm->mmComPort->isEnabled();
        FForm->TB_Acquire->click(); // ignored while it waits
        return true;
    });
    FForm->TB_Acquire->click();
    QVERIFY(waiting);
    QCOMPARE(FLine->Written, QByteArray("s"));
    QCOMPARE(FForm->PanelText(7), QStringLiteral("101"));
    QCOMPARE(FForm->FReceiveState, uint8_t(0));
    QCOMPARE(FForm->FChannel1[7], int16_t(123));
    QCOMPARE(FForm->FChannel2[1079], int16_t(-5));
    QCOMPARE(FForm->TB_Acquire->text(), QStringLiteral("Acquire"));
    QVERIFY(Idle());
}

void TestRun::closedPortShowsOneMessage_data()
{
    QTest::addColumn<bool>("acquire");
    QTest::newRow("Run") << false;
    QTest::newRow("Acquire") << true;
}

void TestRun::closedPortShowsOneMessage()
{
    QFETCH(bool, acquire);
    FForm->ClosePort();
    if (acquire)
        FForm->TB_AcquireClick(FForm->TB_Acquire);
    else
        FForm->TB_RunClick(FForm->TB_Run);
    QCOMPARE(FMessages->Texts(), QStringList({"COM Port is not opened yet !"}));
    QVERIFY(Idle());
    QCOMPARE(FForm->TB_Acquire->text(), QStringLiteral("Acquire"));
    QCOMPARE(FLine->Written, QByteArray());
}

void TestRun::windowClosedDuringLoop_data()
{
    QTest::addColumn<QString>("loop");
    QTest::addColumn<bool>("destroy");
    for (const char *loop : {"Run", "Acquire", "test"}) {
        QTest::addRow("%s, closed", loop) << loop << false;
        QTest::addRow("%s, destroyed", loop) << loop << true;
    }
}

void TestRun::windowClosedDuringLoop()
{
    QFETCH(QString, loop);
    QFETCH(bool, destroy);
    FLine->Replies['z'] = MeanReport + "\r\n";
    FLine->Replies['x'] = DifferenceReport + "\r\n";
    FLine->Replies['s'] = "T=25.31 C\r\n2048,2047\r\n";
    FForm->mmApplyFilterClick(); // every value of a batch reaches the logs
    FForm->show();
    TInLoop inLoop([&] {
        const bool far = loop == "Run"       ? FForm->PanelText(6).toInt() >= 40
                         : loop == "Acquire" ? FForm->FWaveCount >= 0
                                             : !FForm->PanelText(7).isEmpty();
        if (!far)
            return false;
        if (destroy)
            FWindow->Form.reset();
        else
            FForm->close();
        return true;
    });
    TFormMain *form = FForm;
    if (loop == "Run")
        form->TB_RunClick(form->TB_Run);
    else if (loop == "Acquire")
        form->TB_AcquireClick(form->TB_Acquire);
    else
        form->mmTestATanClick(form->mmTestATan);
    QVERIFY(inLoop.Finished());
    if (!destroy) { // else nothing of the window is left to look at
        QVERIFY(!FForm->isVisible());
        QVERIFY(!FForm->FRunning);
    }
    // One batch of 32 in each log, written when the window closed.
    const int lines = loop == "Run" ? 1 : -1;
    QCOMPARE(TWorkingFolder::LineCount("Phase.csv"), lines);
    QCOMPARE(TWorkingFolder::LineCount("TimeOfFlight.csv"), lines);
}

void TestRun::arctangentTestStopsAtRunClick()
{
    FForm->show();
    QVERIFY(QTest::qWaitForWindowActive(FForm));
    QString elapsed, runCaption;
    bool stopped = false;
    int stage = 0;
    TInLoop inLoop([&] {
        if (stage == 0 && FForm->PanelText(7) == "1.8280") {
            elapsed = FForm->PanelText(6);
            runCaption = FForm->TB_Run->text();
            FForm->TB_Run->click();
            stopped = Idle();
            FForm->TB_Run->click(); // starts a Run once the test has returned
            stage = 1;
        } else if (stage == 1 && FLine->Written == "az") {
            FForm->TB_Run->click();
            return true;
        }
        return false;
    });
    // The test's only way in: a key combination of the window.
    QTest::keyClick(FForm, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    QVERIFY(inLoop.Finished());
    QCOMPARE(runCaption, QStringLiteral("Run"));
    bool isNumber = false;
    elapsed.toUInt(&isNumber);
    QVERIFY2(isNumber, qPrintable(elapsed));
    QVERIFY(stopped);
    QCOMPARE(FLine->Written, QByteArray("az"));
    QVERIFY(Idle());
}

QTEST_MAIN(TestRun)
#include "tst_run.moc"
