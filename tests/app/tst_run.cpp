// The Run cycle, the Acquire wait and the arctangent test of the main window against an in-memory
// instrument that answers at once: what the buttons, menus and boxes show while they go on and
// after them, and what a stop click, a closed or lost port or a closed window does to them. What
// the cycles send, compute and write is the engine's, tested in tst_engine_run.

#include "app/Unitmain.h"
#include "tests/app/ReportTexts.h"
#include "tests/common/InLoop.h"
#include "tests/common/MemoryWindow.h"
#include "platform/FixedText.h"
#include "platform/Platform.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QToolButton>
#include <QtTest>

class TestRun : public QObject, private TMemoryWindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void stopDuringWaitRestoresAtOnce();
    void acquireWithoutReply();
    void silentInstrumentDoesNotLookLive();
    void closedPortShowsOneMessage_data();
    void closedPortShowsOneMessage();
    void windowClosedDuringLoop_data();
    void windowClosedDuringLoop();
    void lostPortEndsWithOneMessage_data();
    void lostPortEndsWithOneMessage();
    void arctangentTestStopsAtRunClick();
    void designFiguresGreyUntilFirstReport();
    void measureMenuFollowsTheButtons();

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
    return FForm->TB_Run->text() == "Run" && TFormMain::ImageIndex(FForm->TB_Run) == 11
           && FForm->TB_Run->isEnabled() && FForm->TB_Acquire->isEnabled() && FForm->mmCommand->isEnabled()
           && FForm->mmComPort->isEnabled() && FForm->mmRunStop->isEnabled() && FForm->mmRunStop->text() == "&Run"
           && FForm->mmAcquireWave->isEnabled();
}

void TestRun::stopDuringWaitRestoresAtOnce()
{
    // No replies: every cycle waits its 41 polls.
    FForm->show();
    QVERIFY(QTest::qWaitForWindowActive(FForm));
    bool running = false, idleAtOnce = false;
    QByteArray sentAtStop;
    TInLoop inLoop([&] {
        if (!FLine->Written.endsWith('z'))
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
    QSignalSpy ended(FForm, &TFormMain::RunEnded);
    FForm->TB_Run->click();
    QVERIFY(Ended(ended));
    QVERIFY(inLoop.Finished());
    QVERIFY(running);
    QVERIFY(idleAtOnce);
    QCOMPARE(sentAtStop, QByteArray("az"));
    QCOMPARE(FLine->Written, QByteArray("az")); // the Run ended with that cycle
    QVERIFY(Idle());
    QCOMPARE(FMessages->Texts(), QStringList());
}




void TestRun::acquireWithoutReply()
{
    QSignalSpy ended(FForm, &TFormMain::AcquireEnded);
    FForm->TB_Acquire->click();
    QVERIFY(FForm->TB_Acquire->text() == "Wait ..." && !FForm->TB_Run->isEnabled() && !FForm->mmCommand->isEnabled()
            && !FForm->mmComPort->isEnabled() && !FForm->mmRunStop->isEnabled() && FForm->mmAcquireWave->isEnabled());
    FForm->TB_Acquire->click(); // ignored while it waits
    QVERIFY(Ended(ended));
    QCOMPARE(ended.count(), 1);
    QCOMPARE(FLine->Written, QByteArray("s"));
    QCOMPARE(FForm->TB_Acquire->text(), QStringLiteral("Acquire"));
    QVERIFY(Idle());
    QTRY_COMPARE(FMessages->Texts(), QStringList({"0 of 1568 lines received; the previous waveform is kept."}));
}





void TestRun::silentInstrumentDoesNotLookLive()
{
    // The clock runs a second ahead once the Run has made a few cycles without a reply.
    QElapsedTimer clock;
    clock.start();
    uint32_t ahead = 0;
    const Platform::TTickCountHook previous =
        Platform::SetTickCountHook([&] { return uint32_t(clock.elapsed()) + ahead; });
    QString warning;
    bool greyed = false, liveAgain = false;
    int stage = 0;
    TInLoop inLoop([&] {
        if (stage == 0 && FForm->PanelText(6).toInt() >= 3) {
            ahead = TEngine::NoReplyMs + 1;
            stage = 1;
        } else if (stage == 1 && FForm->LabelNoReply->isVisibleTo(FForm)) {
            warning = FForm->LabelNoReply->text();
            greyed = !FForm->LabelTOF->isEnabled() && !FForm->LabelBigTime->isEnabled();
            FLine->Replies['z'] = MeanReport + "\r\n";
            stage = 2;
        } else if (stage == 2 && !FForm->LabelNoReply->isVisibleTo(FForm)) {
            liveAgain = FForm->LabelTOF->isEnabled() && FForm->LabelTOF->text() == "4.5625";
            FForm->TB_Run->click();
            return true;
        }
        return false;
    });
    QSignalSpy ended(FForm, &TFormMain::RunEnded);
    FForm->TB_RunClick(FForm->TB_Run);
    QVERIFY(Ended(ended));
    Platform::SetTickCountHook(previous);
    QVERIFY(inLoop.Finished());
    QVERIFY2(QRegularExpression("^No reply from the instrument since \\d\\d:\\d\\d:\\d\\d$").match(warning).hasMatch(),
             qPrintable(warning));
    QVERIFY(greyed);
    QVERIFY(liveAgain);
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
    QTRY_COMPARE(FMessages->Texts(), QStringList({"COM Port is not opened yet !"}));
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
    FForm->show();
    QSignalSpy ended(FForm, loop == "Acquire" ? &TFormMain::AcquireEnded : &TFormMain::RunEnded);
    TInLoop inLoop([&] {
        const bool far = loop == "Run"       ? FLine->Written.count('z') >= 40
                         : loop == "Acquire" ? FForm->TB_Acquire->text() == "Wait ..."
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
    // The close is the end, whatever step was due.
    QVERIFY(Ended(ended));
    QCOMPARE(ended.count(), 1);
    QVERIFY(inLoop.Finished());
    // What was due on the closed window runs now, if anything.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (!destroy) { // else nothing of the window is left to look at
        QVERIFY(!FForm->isVisible());
        QVERIFY(!FForm->Busy());
    }
    // What a close during a Run leaves in the files is the engine's (tst_engine_run).
    QCOMPARE(FMessages->Texts(), QStringList());
}

void TestRun::lostPortEndsWithOneMessage_data()
{
    QTest::addColumn<bool>("acquire");
    QTest::newRow("Run") << false;
    QTest::newRow("Acquire") << true;
}

void TestRun::lostPortEndsWithOneMessage()
{
    QFETCH(bool, acquire);
    FLine->Replies['z'] = MeanReport + "\r\n";
    FLine->Replies['x'] = DifferenceReport + "\r\n";
    QSignalSpy ended(FForm, acquire ? &TFormMain::AcquireEnded : &TFormMain::RunEnded);
    // The device goes while a reply is awaited (a Run past its first batch) or the block is.
    TInLoop inLoop([&] {
        if (acquire ? FForm->TB_Acquire->text() != "Wait ..." : FLine->Written.count('z') < 40)
            return false;
        LoseDevice(*FLine);
        return true;
    });
    if (acquire)
        FForm->TB_Acquire->click();
    else
        FForm->TB_Run->click();
    QVERIFY(Ended(ended));
    QVERIFY(inLoop.Finished());
    const QString lost = "COM1 has been disconnected !\n\n Zarn Monitor will reopen it when it comes back.";
    const QStringList expected =
        acquire ? QStringList{"0 of 1568 lines received; the previous waveform is kept.", lost} : QStringList{lost};
    QTRY_COMPARE_WITH_TIMEOUT(FMessages->Texts(), expected, 10000);
    QVERIFY(Idle());
    QCOMPARE(FForm->TB_Acquire->text(), QStringLiteral("Acquire"));
    // What the engine sends and keeps after the loss is tested on the engine (tst_engine_run).
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
            FForm->TB_Run->click(); // starts a Run once the test's last batch has ended
            stage = 1;
        } else if (stage == 1 && FLine->Written == "az") {
            FForm->TB_Run->click();
            return true;
        }
        return false;
    });
    QSignalSpy ended(FForm, &TFormMain::RunEnded);
    // The test's only way in: a key combination of the window.
    QTest::keyClick(FForm, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    QVERIFY(Ended(ended));
    QCOMPARE(ended.count(), 1); // the test's end was the Run's start
    QVERIFY(inLoop.Finished());
    QCOMPARE(runCaption, QStringLiteral("Run"));
    bool isNumber = false;
    elapsed.toUInt(&isNumber);
    QVERIFY2(isNumber, qPrintable(elapsed));
    QVERIFY(stopped);
    QCOMPARE(FLine->Written, QByteArray("az"));
    QVERIFY(Idle());
}


void TestRun::designFiguresGreyUntilFirstReport()
{
    const QList<QLabel *> values{FForm->LabelBigTime, FForm->LabelSmallTime, FForm->LabelTOF};
    const auto grey = [&values] {
        for (const QLabel *label : values)
            if (label->isEnabled())
                return false;
        return true;
    };
    QVERIFY(grey());
    QCOMPARE(FForm->LabelSmallTime->text(), QStringLiteral("90"));
    // The first cycle gets no reply: the design figures stay grey; the next ones get reports.
    bool greyWithoutReport = false;
    TInLoop inLoop([&] {
        if (!FLine->Written.endsWith('z'))
            return false;
        if (FLine->Replies.isEmpty()) {
            greyWithoutReport = grey();
            FLine->Replies['z'] = MeanReport + "\r\n";
        } else if (FForm->LabelTOF->isEnabled()) {
            FForm->TB_RunClick(FForm->TB_Run);
            return true;
        }
        return false;
    });
    QSignalSpy ended(FForm, &TFormMain::RunEnded);
    FForm->TB_RunClick(FForm->TB_Run);
    QVERIFY(Ended(ended));
    QVERIFY(inLoop.Finished());
    QVERIFY(greyWithoutReport);
    // Live, and the report's own figures, not the design texts.
    for (const QLabel *label : values)
        QVERIFY(label->isEnabled());
    QCOMPARE(FForm->LabelSmallTime->text(), FForm->PanelText(2).mid(7).chopped(4));
    QVERIFY(FForm->LabelSmallTime->text() != "90");
}

void TestRun::measureMenuFollowsTheButtons()
{
    FForm->show();
    QVERIFY(QTest::qWaitForWindowActive(FForm));
    QVERIFY(FForm->TB_Run->toolTip().endsWith("(F5)"));
    QVERIFY(FForm->TB_Acquire->toolTip().endsWith("(F6)"));
    QCOMPARE(FForm->mmRunStop->shortcut(), QKeySequence(Qt::Key_F5));
    QCOMPARE(FForm->mmAcquireWave->shortcut(), QKeySequence(Qt::Key_F6));
    QVERIFY(FForm->mmMeasure->actions().contains(FForm->mmRunStop));
    QVERIFY(FForm->mmMeasure->actions().contains(FForm->mmAcquireWave));
    // F5 runs; while it runs Acquire and its item are off, so F6 sends nothing; F5 stops.
    bool inStep = false;
    QByteArray afterF6;
    TInLoop inLoop([&] {
        if (!FLine->Written.endsWith('z'))
            return false;
        inStep = FForm->mmRunStop->isEnabled() && FForm->mmRunStop->text() == "&Stop" &&
                 !FForm->TB_Acquire->isEnabled() && !FForm->mmAcquireWave->isEnabled();
        QTest::keyClick(FForm, Qt::Key_F6);
        afterF6 = FLine->Written;
        QTest::keyClick(FForm, Qt::Key_F5);
        return true;
    });
    QSignalSpy ended(FForm, &TFormMain::RunEnded);
    QTest::keyClick(FForm, Qt::Key_F5);
    QVERIFY(Ended(ended));
    QVERIFY(inLoop.Finished());
    QVERIFY(inStep);
    QCOMPARE(afterF6, QByteArray("az"));
    QCOMPARE(FLine->Written, QByteArray("az"));
    QVERIFY(Idle());
    // F6 acquires; while it waits Run and its item are off, so F5 sends nothing.
    QSignalSpy acquired(FForm, &TFormMain::AcquireEnded);
    QTest::keyClick(FForm, Qt::Key_F6);
    QCOMPARE(FLine->Written, QByteArray("azs"));
    QVERIFY(!FForm->TB_Run->isEnabled() && !FForm->mmRunStop->isEnabled());
    QTest::keyClick(FForm, Qt::Key_F5);
    QVERIFY(Ended(acquired));
    QCOMPARE(FLine->Written, QByteArray("azs"));
    QVERIFY(Idle());
}

QTEST_MAIN(TestRun)
#include "tst_run.moc"
