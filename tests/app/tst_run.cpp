// The Run cycle, the Acquire wait and the arctangent test of the main window against an in-memory
// instrument that answers at once: what the buttons, menus and status panels show while they go on
// and after them, and what a stop click, a closed or lost port or a closed window does to them.

#include "app/Unitmain.h"
#include "tests/app/ReportTexts.h"
#include "tests/common/InLoop.h"
#include "tests/common/MemoryWindow.h"
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
    void startWhileLastCycleEndsTakesOver();
    void replyInStepFourShowsNoPolls();
    void rateEveryHundredCycles();
    void acquireWithoutReply();
    void acquireKeepsOnlyWholeBlocks_data();
    void acquireKeepsOnlyWholeBlocks();
    void everyValueReachesTheFiles_data();
    void everyValueReachesTheFiles();
    void silentInstrumentDoesNotLookLive();
    void closedPortShowsOneMessage_data();
    void closedPortShowsOneMessage();
    void windowClosedDuringLoop_data();
    void windowClosedDuringLoop();
    void lostPortEndsWithOneMessage_data();
    void lostPortEndsWithOneMessage();
    void arctangentTestStopsAtRunClick();
    void portLostBeforeRunTakesOverFromTest();

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
    return !FForm->FEngine->FRunning && FForm->TB_Run->text() == "Run" && TFormMain::ImageIndex(FForm->TB_Run) == 11
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
        if (!FLine->Written.endsWith('z') || FForm->FEngine->FReceiveState != 3)
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

void TestRun::startWhileLastCycleEndsTakesOver()
{
    // No replies: every cycle waits its 41 polls after its "z", so the timer sees the line as it
    // stands in each wait; between a wait and the next "a" no events run.
    QSignalSpy ended(FForm, &TFormMain::RunEnded);
    QString countAfterRestart;
    int stage = 0;
    TInLoop inLoop([&] {
        if (stage == 0 && FLine->Written == "azaz") {
            FForm->TB_RunClick(FForm->TB_Run); // stop, and start again before its last cycle has ended
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
    QVERIFY(Ended(ended));
    QCOMPARE(ended.count(), 1); // the first Run's end is not the end of Running
    QVERIFY(inLoop.Finished());
    // The new Run took over, counting from its first cycle.
    QCOMPARE(countAfterRestart, QStringLiteral("1"));
    QCOMPARE(FLine->Written, QByteArray("azazazaz"));
    QVERIFY(Idle());
}

void TestRun::replyInStepFourShowsNoPolls()
{
    // Every cycle's reply is there when the wait begins, whichever cycle the stop meets.
    FLine->Replies['z'] = MeanReport + "\r\n";
    FLine->Replies['x'] = DifferenceReport + "\r\n";
    TInLoop inLoop([&] {
        if (FForm->PanelText(6).isEmpty())
            return false;
        FForm->TB_RunClick(FForm->TB_Run);
        return true;
    });
    QSignalSpy ended(FForm, &TFormMain::RunEnded);
    FForm->TB_RunClick(FForm->TB_Run);
    QVERIFY(Ended(ended));
    QVERIFY(FForm->PanelText(6).toInt() >= 1);
    QCOMPARE(FForm->PanelText(7), QStringLiteral("0"));
    QCOMPARE(FForm->LabelSmallTime->text(), QStringLiteral("90.000"));
}

void TestRun::rateEveryHundredCycles()
{
    FLine->Replies['z'] = MeanReport + "\r\n";
    FLine->Replies['x'] = DifferenceReport + "\r\n";
    // The clock: 8.1 s for the first 100 cycles, none at all for the next 100.
    const Platform::TTickCountHook previous =
        Platform::SetTickCountHook([&] { return FForm->FEngine->FRunCycleCount < 100 ? 1000u : 9100u; });
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
    QSignalSpy ended(FForm, &TFormMain::RunEnded);
    FForm->TB_RunClick(FForm->TB_Run);
    QVERIFY(Ended(ended));
    Platform::SetTickCountHook(previous);
    QVERIFY(highestCycle >= 1 && highestCycle <= 100);
    // 100 cycles in 0 ms give no rate: the last one stays.
    QCOMPARE(rates, QStringList({"", "12.3457Hz"}));
    QCOMPARE(FForm->PanelText(8), QStringLiteral("12.3457Hz"));
}

void TestRun::acquireWithoutReply()
{
    FForm->FEngine->FChannel1[7] = 123;
    FForm->FEngine->FChannel2[1079] = -5;
    QSignalSpy ended(FForm, &TFormMain::AcquireEnded);
    FForm->TB_Acquire->click();
    QVERIFY(FForm->TB_Acquire->text() == "Wait ..." && !FForm->TB_Run->isEnabled() && !FForm->mmCommand->isEnabled()
            && !FForm->mmComPort->isEnabled());
    FForm->TB_Acquire->click(); // ignored while it waits
    QVERIFY(Ended(ended));
    QCOMPARE(ended.count(), 1);
    QCOMPARE(FLine->Written, QByteArray("s"));
    QCOMPARE(FForm->PanelText(7), QStringLiteral("101"));
    QCOMPARE(FForm->FEngine->FReceiveState, rsNone);
    QCOMPARE(FForm->FEngine->FChannel1[7], int16_t(123));
    QCOMPARE(FForm->FEngine->FChannel2[1079], int16_t(-5));
    QCOMPARE(FForm->TB_Acquire->text(), QStringLiteral("Acquire"));
    QVERIFY(Idle());
    QTRY_COMPARE(FMessages->Texts(), QStringList({"0 of 1568 lines received; the previous waveform is kept."}));
}

void TestRun::acquireKeepsOnlyWholeBlocks_data()
{
    // Chunks of the block: lines after the header, and the pause before each in milliseconds.
    QTest::addColumn<QList<int>>("lines");
    QTest::addColumn<QList<int>>("pauses");
    QTest::addColumn<bool>("lost"); // the port goes after the last chunk
    QTest::addColumn<QString>("message");
    QTest::newRow("whole at once") << QList<int>{1568} << QList<int>{0} << false << QString();
    QTest::newRow("pauses after the header and inside") << QList<int>{0, 800, 768} << QList<int>{0, 300, 300}
                                                         << false << QString();
    QTest::newRow("700 lines, then silence") << QList<int>{700} << QList<int>{0} << false
                                             << "700 of 1568 lines received; the previous waveform is kept.";
    QTest::newRow("700 lines, then the port is lost") << QList<int>{700} << QList<int>{0} << true
                                                      << "700 of 1568 lines received; the previous waveform is kept.";
}

void TestRun::acquireKeepsOnlyWholeBlocks()
{
    QFETCH(QList<int>, lines);
    QFETCH(QList<int>, pauses);
    QFETCH(bool, lost);
    QFETCH(QString, message);
    const auto sample = [](int i) { return QByteArray::number(1000 + i % 3000).rightJustified(4); };
    QList<QByteArray> chunks;
    int line = 0;
    for (int count : lines) {
        QByteArray chunk = chunks.isEmpty() ? "T=25.31 C\r\n" : "";
        for (int end = line + count; line < end; ++line)
            chunk += sample(line) + "," + sample(line + 1) + "\r\n";
        chunks << chunk;
    }
    // The first chunk answers the command; the others come after their pauses.
    FLine->Replies['s'] = chunks.takeFirst();
    pauses.removeFirst();
    int sent = 0;
    std::function<void()> next = [&] {
        if (sent < chunks.size())
            QTimer::singleShot(pauses[sent], [&] {
                FLine->Incoming += chunks[sent++];
                next();
            });
    };
    QSignalSpy ended(FForm, &TFormMain::AcquireEnded);
    FForm->TB_AcquireClick(FForm->TB_Acquire);
    if (lost) {
        QVERIFY(QTest::qWaitFor([&] { return FForm->FEngine->FWaveLines >= lines.last(); }, 10000));
        FForm->FEngine->CommReceiveError(FForm->FEngine->FComm, CE_DEVICEGONE);
    } else {
        next();
    }
    QVERIFY(Ended(ended));
    QTRY_COMPARE(FMessages->Texts().filter("lines received"), message.isEmpty() ? QStringList() : QStringList{message});
    for (int i : {0, 7, 1079})
        QCOMPARE(FForm->FEngine->FChannel2[i], message.isEmpty() ? int16_t(sample(i + 1).trimmed().toInt()) : int16_t(2048));
    // A whole block ends the wait as it is read, without waiting for the line to pause.
    if (lines.size() == 1 && message.isEmpty())
        QVERIFY2(FForm->PanelText(7).toInt() < 100, qPrintable(FForm->PanelText(7)));
}

void TestRun::everyValueReachesTheFiles_data()
{
    QTest::addColumn<bool>("filter");
    QTest::newRow("filter off") << false;
    QTest::newRow("filter on, constant phase") << true;
}

void TestRun::everyValueReachesTheFiles()
{
    QFETCH(bool, filter);
    // Both reports at 90 degrees.
    FLine->Replies['z'] = MeanReport + "\r\n";
    FLine->Replies['x'] = Record(44, {{0, "TRFDIF"}, {7, "290"}, {14, "00000001"}, {26, "7FFFFFFF"}, {37, "25.31"}})
                          + "\r\n";
    if (FForm->FEngine->FApplyFilter != filter)
        FForm->mmApplyFilterClick();
    // Stopped after 50 reports, and again after 45 more, then the program ends.
    for (int more : {50, 45}) {
        // The stop as the report that reaches the count is taken: the count is exact.
        const qint64 target = FForm->FEngine->FReportCount + more;
        const QMetaObject::Connection stop = connect(FForm, &TFormMain::ReceiveHandled, FForm, [&] {
            if (FForm->FEngine->FReportCount >= target && FForm->FEngine->FRunning)
                FForm->TB_Run->click();
        });
        QSignalSpy ended(FForm, &TFormMain::RunEnded);
        FForm->TB_RunClick(FForm->TB_Run);
        QVERIFY(Ended(ended));
        disconnect(stop);
        QCOMPARE(FForm->FEngine->FReportCount, target);
    }
    const qint64 computed = FForm->FEngine->FReportCount;
    FForm->close();
    for (const char *name : {"Phase.csv", "TimeOfFlight.csv"}) {
        QList<QByteArray> lines = TWorkingFolder::Read(name).split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        qint64 values = 0;
        for (const QByteArray &l : lines) {
            const int n = int(l.count(',')) + (QByteArray(name) == "Phase.csv" ? 1 : 0);
            QVERIFY2(n == 32 || &l == &lines.last(), l.constData());
            values += n;
        }
        QCOMPARE(values, computed);
        QVERIFY(lines.last().startsWith(QByteArray(name) == "Phase.csv" ? "90.000," : "25.31,4.563,"));
    }
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
    FForm->mmApplyFilterClick(); // every value of a batch reaches the logs
    FForm->show();
    QSignalSpy ended(FForm, loop == "Acquire" ? &TFormMain::AcquireEnded : &TFormMain::RunEnded);
    qint64 computed = -1;
    TInLoop inLoop([&] {
        const bool far = loop == "Run"       ? FForm->FEngine->FReportCount >= 40
                         : loop == "Acquire" ? FForm->FEngine->FWaveCount >= 0
                                             : !FForm->PanelText(7).isEmpty();
        if (!far)
            return false;
        computed = FForm->FEngine->FReportCount;
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
        QVERIFY(!FForm->FEngine->FRunning);
    }
    // Every report asked for is computed, also the reply on the line when the window closed: each
    // came at once.
    if (loop == "Run") {
        QVERIFY(computed <= FLine->Written.count('z') + FLine->Written.count('x'));
        computed = FLine->Written.count('z') + FLine->Written.count('x');
    }
    // The full batches of 32 in each log and the shorter rest, written when the window closed.
    const int lines = loop == "Run" ? int(computed + 31) / 32 : -1;
    QCOMPARE(TWorkingFolder::LineCount("Phase.csv"), lines);
    QCOMPARE(TWorkingFolder::LineCount("TimeOfFlight.csv"), lines);
    if (loop == "Run") {
        QCOMPARE(TWorkingFolder::Read("Phase.csv").count(',') + lines, computed);
        QCOMPARE(TWorkingFolder::Read("TimeOfFlight.csv").count(','), computed);
    }
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
    FForm->mmApplyFilterClick(); // every value of a batch reaches the logs
    QSignalSpy ended(FForm, acquire ? &TFormMain::AcquireEnded : &TFormMain::RunEnded);
    qint64 computed = -1;
    QByteArray sentAtLoss;
    // The device goes while a reply is awaited (a Run past its first batch) or the block is.
    TInLoop inLoop([&] {
        if (acquire ? FForm->TB_Acquire->text() != "Wait ..." : FForm->FEngine->FReportCount < 40)
            return false;
        computed = FForm->FEngine->FReportCount;
        sentAtLoss = FLine->Written;
        FForm->FEngine->CommReceiveError(FForm->FEngine->FComm, CE_DEVICEGONE);
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
    QVERIFY(!FForm->FEngine->FComm);
    // Nothing was sent after the loss, and everything computed is in the files.
    QCOMPARE(FLine->Written, sentAtLoss);
    QCOMPARE(FForm->FEngine->FReportCount, computed);
    QVERIFY(!FForm->Busy());
    FForm->close();
    QCOMPARE(TWorkingFolder::Read("TimeOfFlight.csv").count(','), computed);
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

void TestRun::portLostBeforeRunTakesOverFromTest()
{
    // Stop, start and the loss in one go, while the test's last batch still ends: the Run that
    // was to take over ends before it sends anything.
    TInLoop inLoop([&] {
        if (FForm->PanelText(7).isEmpty())
            return false;
        FForm->TB_Run->click();
        FForm->TB_Run->click();
        FForm->FEngine->CommReceiveError(FForm->FEngine->FComm, CE_DEVICEGONE);
        return true;
    });
    QSignalSpy ended(FForm, &TFormMain::RunEnded);
    FForm->mmTestATanClick(FForm->mmTestATan);
    QVERIFY(Ended(ended));
    QVERIFY(inLoop.Finished());
    QTRY_COMPARE_WITH_TIMEOUT(FMessages->Texts().size(), 1, 10000);
    QVERIFY(FMessages->Texts().first().startsWith("COM1 has been disconnected !"));
    QCOMPARE(FLine->Written, QByteArray());
    QVERIFY(Idle());
    QCOMPARE(ended.count(), 1);
}

QTEST_MAIN(TestRun)
#include "tst_run.moc"
