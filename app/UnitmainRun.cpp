// TFormMain: the Run cycle, the Acquire button and the arctangent timing test. Each is a state
// machine stepped by one timer of the window: a click starts it and returns, and the receive
// handler, a stop click, the loss of the port or a close of the window change its state. No step
// lets other events run inside it, so none of them can run in the middle of one.

#include "app/Unitmain.h"

#include "app/ToolBarImages.h"
#include "engine/WaveBlock.h"
#include "logger/Cdatalogger.h"
#include "platform/Platform.h"
#include "ringbuffer/CircularBuffer.h"

#include <QAction>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

using Measurement::FixedText;

namespace {
constexpr int32_t RunBatch = 100;          // cycles per rate figure
constexpr int32_t DifferenceEvery = 30;    // cycles 30, 60 and 90 ask for a difference report
constexpr int32_t ReplyPolls = 40;         // the reply wait gives up after 41 polls of 1 ms
constexpr int ReplyPollMs = 1;             // one poll of the reply wait
constexpr float RateScale = RunBatch * 1000.0f; // a batch in dt milliseconds, in cycles a second
constexpr int AcquirePollMs = 5;           // one poll of the Acquire wait
constexpr int32_t AcquirePolls = 100;      // with nothing received the wait ends after 101 polls
constexpr uint32_t AcquirePauseMs = 600;   // a block that paused this long has stopped coming
constexpr int32_t AcquireCapPolls = 600;   // and a block that never ends is cut off after about 3 s
constexpr int AcquireSettleMs = 100;       // between parsing and drawing
constexpr int32_t TestATanM1 = -3568444;   // fixed inputs of the arctangent test
constexpr int32_t TestATanM2 = 13569394;
constexpr int32_t TestATanBatch = 1000000; // evaluations between two reports (and one more)
} // namespace

void TFormMain::TB_RunClick(QObject *Sender)
{
    Q_UNUSED(Sender);
    if (FRunning) {
        RunStop();
        StopLoop();
        return;
    }
    // A click on the disabled button does nothing.
    if (FLoopState == TLoopState::AcquireWaiting || FLoopState == TLoopState::AcquireEnding)
        return;
    // Every command of the cycle would show this; once is enough, and nothing starts.
    if (!FEngine->FComm) {
        Platform::ShowMessage(QString::fromLatin1(TComm::NotOpenMessage));
        return;
    }
    RunStart();
    // The last cycle of a stopped Run, or the last batch of the test, is still ending: this Run
    // takes over when it has.
    if (FLoopState == TLoopState::Idle)
        BeginRun();
}

void TFormMain::RunStart()
{
    FRunning = true;
    SetImageIndex(TB_Run, ToolBarImage::Stop);
    TB_Run->setText(StopCaption);
    TB_Acquire->setEnabled(false);
    SetLoopControlsEnabled(false);
    FEngine->BeginRun();
}

void TFormMain::RunStop()
{
    FRunning = false;
    SetImageIndex(TB_Run, ToolBarImage::Run);
    TB_Run->setText(RunCaption);
    TB_Acquire->setEnabled(true);
    SetLoopControlsEnabled(true);
}

void TFormMain::SetLoopControlsEnabled(bool enabled)
{
    // A disabled menu takes its title in the menu bar and its items' shortcuts with it.
    mmCommand->setEnabled(enabled);
    mmComPort->setEnabled(enabled);
}

void TFormMain::ArmLoop(int ms)
{
    if (!FLoopTimer) {
        // A child of the window: a step still due when the window is destroyed goes with it.
        FLoopTimer = new QTimer(this);
        FLoopTimer->setSingleShot(true);
        FLoopTimer->setTimerType(Qt::PreciseTimer);
        connect(FLoopTimer, &QTimer::timeout, this, &TFormMain::LoopStep);
        connect(this, &TFormMain::ReceiveHandled, this, &TFormMain::LoopReceived);
    }
    FLoopTimer->start(ms);
}

void TFormMain::LoopStep()
{
    switch (FLoopState) {
    case TLoopState::Idle:
        break;
    case TLoopState::RunCommanded:
        SendAnalyze();
        break;
    case TLoopState::RunFirstPass:
        if (FEngine->FReplyDone) {
            EndReplyWait();
        } else {
            FLoopState = TLoopState::RunPolling;
            ArmLoop(ReplyPollMs);
        }
        break;
    case TLoopState::RunPolling:
        // The poll that a reply cut short counts as one.
        if (++FPolls > ReplyPolls)
            FEngine->FReplyDone = true; // the receive state stays: a late report is still taken
        if (FEngine->FReplyDone)
            EndReplyWait();
        else
            ArmLoop(ReplyPollMs);
        break;
    case TLoopState::RunBatchPass:
        BeginCycle();
        break;
    case TLoopState::RunEnding:
        EndRun();
        break;
    case TLoopState::AcquireWaiting: {
        FPolls += 1;
        const uint32_t now = Platform::TickCount();
        if (FEngine->FReceivedCount != FAcquireReceived) {
            FAcquireReceived = FEngine->FReceivedCount;
            FAcquireArriving = true;
            FLoopStart = now;
        }
        // Once text comes, until the block's last line is in, or the line has paused longer than
        // an instrument or an adapter ever does inside a block, or the cap; else 101 polls.
        const bool complete = FEngine->FWaveLines >= WaveBlock::BlockLines;
        const bool paused = FAcquireArriving && now - FLoopStart > AcquirePauseMs;
        if (complete || paused || (!FAcquireArriving && FPolls > AcquirePolls) || FPolls >= AcquireCapPolls) {
            FEngine->FReplyDone = true;
            EndAcquire();
        } else {
            ArmLoop(AcquirePollMs);
        }
        break;
    }
    case TLoopState::AcquireEnding:
        EndAcquire();
        break;
    case TLoopState::Testing:
        TestBatch();
        break;
    case TLoopState::TestEnding:
        FLoopState = TLoopState::Idle;
        TakeOverOrEnd(); // a Run may have been clicked while the last batch ended
        break;
    }
}

void TFormMain::LoopReceived()
{
    // Called at the end of the receive handler, inside the component's receive step: the wait
    // ends on the next pass, as soon as that step has returned.
    if ((FLoopState == TLoopState::RunPolling && FEngine->FReplyDone)
        || (FLoopState == TLoopState::AcquireWaiting && FEngine->FWaveLines >= WaveBlock::BlockLines))
        ArmLoop(0);
}

void TFormMain::StopLoop()
{
    switch (FLoopState) {
    case TLoopState::RunFirstPass:
    case TLoopState::RunPolling:
        ShowCycle(); // the wait ends at once, without the poll in progress
        [[fallthrough]];
    case TLoopState::RunCommanded:
    case TLoopState::RunBatchPass:
        FLoopState = TLoopState::RunEnding;
        ArmLoop(0);
        break;
    case TLoopState::Testing:
        FLoopState = TLoopState::TestEnding;
        ArmLoop(0);
        break;
    default:
        break;
    }
}

void TFormMain::LoopPortClosed()
{
    switch (FLoopState) {
    case TLoopState::RunCommanded:
    case TLoopState::RunFirstPass:
    case TLoopState::RunPolling:
    case TLoopState::RunBatchPass:
    case TLoopState::RunEnding:
        // The Run ends as a stop click would end it, also one that was to take over.
        if (FRunning)
            RunStop();
        StopLoop();
        break;
    case TLoopState::AcquireWaiting:
        FLoopState = TLoopState::AcquireEnding;
        ArmLoop(0);
        break;
    default:
        break; // the test does not use the port
    }
}

void TFormMain::LoopWindowClosed()
{
    const TLoopState state = FLoopState;
    FLoopState = TLoopState::Idle;
    FRunning = false;
    if (FLoopTimer)
        FLoopTimer->stop();
    switch (state) {
    case TLoopState::Idle:
        break;
    case TLoopState::AcquireWaiting:
    case TLoopState::AcquireEnding:
        emit AcquireEnded(); // nothing of a closing window is drawn
        break;
    case TLoopState::Testing:
    case TLoopState::TestEnding:
        emit RunEnded();
        break;
    default:
        FEngine->FinishBatch();
        FEngine->FlushLoggers();
        emit RunEnded();
        break;
    }
}

void TFormMain::TellWhenIdle(const QString &text)
{
    const auto tell = [this, text] {
        if (!FClosed)
            Platform::MessageBox(text, "Information");
    };
    // Queued: never inside the component's poll step, nor inside a step of a loop.
    const auto once = Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection);
    switch (FLoopState) {
    case TLoopState::Idle:
        QTimer::singleShot(0, this, tell);
        break;
    case TLoopState::AcquireWaiting:
    case TLoopState::AcquireEnding:
        connect(this, &TFormMain::AcquireEnded, this, tell, once);
        break;
    default:
        connect(this, &TFormMain::RunEnded, this, tell, once);
        break;
    }
}

void TFormMain::BeginRun()
{
    FCycle = 0;
    FLoopStart = Platform::TickCount();
    BeginCycle();
}

void TFormMain::BeginCycle()
{
    FLoopState = TLoopState::RunCommanded;
    mmCommandClick(mmAcquire);
    // Writing may have lost the port; then the Run is ending already.
    if (FLoopState == TLoopState::RunCommanded)
        ArmLoop(0);
}

void TFormMain::SendAnalyze()
{
    FCycle += 1;
    ++FEngine->FRunCycleCount;
    FPolls = 0;
    FLoopState = TLoopState::RunFirstPass;
    mmCommandClick(FCycle % DifferenceEvery == 0 ? mmAnalyzeData : mmAnalyzeAcquired);
    FEngine->FReplyDone = false;
    if (FLoopState == TLoopState::RunFirstPass)
        ArmLoop(0);
}

void TFormMain::ShowCycle()
{
    SetPanelText(spCycle, QString::number(FCycle));
    SetPanelText(spPolls, QString::number(FPolls));
}

void TFormMain::EndReplyWait()
{
    ShowCycle();
    FEngine->CheckReplyAge();
    if (FCycle < RunBatch) {
        BeginCycle();
        return;
    }
    const uint32_t dt = Platform::TickCount() - FLoopStart;
    FCycle = 0;
    FLoopStart = Platform::TickCount();
    // 100 cycles within one tick of the clock give no rate; the last one stays.
    if (dt > 0)
        SetPanelText(spRate, FixedText(RateScale / static_cast<float>(dt), 4) + "Hz");
    FLoopState = TLoopState::RunBatchPass;
    ArmLoop(0);
}

void TFormMain::EndRun()
{
    FLoopState = TLoopState::Idle;
    // Every value is in the files once the Run has ended, whatever ended it; the open log lines
    // go on with the next Run. A logger's box may let events run: the window may close meanwhile.
    QPointer<TFormMain> self(this);
    FEngine->FinishBatch();
    FEngine->FlushLoggers();
    if (self && FLoopState == TLoopState::Idle)
        TakeOverOrEnd(); // a Run may have been clicked while the last cycle ended
}

void TFormMain::TakeOverOrEnd()
{
    // A Run clicked before the port was lost ends as it would have at its first cycle.
    if (FRunning && !FEngine->FComm)
        RunStop();
    if (FRunning && !FClosed)
        BeginRun();
    else
        emit RunEnded();
}

void TFormMain::TB_AcquireClick(QObject *Sender)
{
    Q_UNUSED(Sender);
    if (TB_Acquire->text() != QLatin1String(AcquireCaption))
        return; // a click while it waits
    if (FLoopState != TLoopState::Idle)
        return; // the button is disabled while a Run goes on
    if (!FEngine->FComm) {
        Platform::ShowMessage(QString::fromLatin1(TComm::NotOpenMessage));
        return;
    }
    FLoopState = TLoopState::AcquireWaiting;
    mmCommandClick(mmSendData);
    TB_Acquire->setText(AcquireWaitCaption);
    TB_Run->setEnabled(false);
    SetLoopControlsEnabled(false);
    FEngine->FLineBuffer.clear();
    FEngine->FWaveBuffer.clear();
    FEngine->FWaveCount = -1;
    FEngine->FWaveLines = 0;
    FEngine->FReplyDone = false;
    for (TStatusPanel panel : {spM1Average, spM2Average, spPhase})
        SetPanelText(panel, QString());
    FPolls = 0;
    FAcquireArriving = false;
    FAcquireReceived = FEngine->FReceivedCount;
    FLoopStart = Platform::TickCount();
    // Writing may have lost the port; then the wait is ending already.
    if (FLoopState == TLoopState::AcquireWaiting)
        ArmLoop(AcquirePollMs);
}

void TFormMain::EndAcquire()
{
    FLoopState = TLoopState::Idle;
    FEngine->FReceiveState = rsNone;
    SetPanelText(spPolls, QString::number(FPolls));
    // Its box may let events run: the window may be destroyed meanwhile.
    QPointer<TFormMain> self(this);
    FinishAcquire();
    if (self)
        emit AcquireEnded();
}

void TFormMain::FinishAcquire()
{
    // Only a whole block replaces the waveform: new samples followed by old ones would be drawn
    // and saved as if they were one.
    const bool whole = FEngine->FWaveLines >= WaveBlock::BlockLines;
    if (whole) {
        FEngine->ParseWaveBlock();
        Platform::Sleep(AcquireSettleMs);
        RedrawWaveforms();
    }
    FEngine->FWaveBuffer.clear();
    TB_Acquire->setText(AcquireCaption);
    TB_Run->setEnabled(true);
    SetLoopControlsEnabled(true);
    if (!whole)
        Platform::MessageBox(QString("%1 of %2 lines received; the previous waveform is kept.")
                                 .arg(FEngine->FWaveLines)
                                 .arg(WaveBlock::BlockLines),
                             "Information", Platform::TMsgIcon::Warning);
}

void TFormMain::mmTestATanClick(QObject *Sender)
{
    Q_UNUSED(Sender);
    // One loop at a time: the test starts from the idle window only.
    if (FRunning || FLoopState != TLoopState::Idle)
        return;
    FRunning = true;
    FLoopState = TLoopState::Testing;
    FLoopStart = Platform::TickCount();
    ArmLoop(0);
}

void TFormMain::TestBatch()
{
    // 1000001 evaluations, then the time they took and the result, then one pass of the event
    // loop, where a Run click ends the test.
    double r = 0;
    for (int32_t k = 0; k <= TestATanBatch; ++k)
        r = TEngine::PhaseAngle(TestATanM1, TestATanM2);
    const uint32_t elapsed = Platform::TickCount() - FLoopStart;
    FLoopStart = Platform::TickCount();
    SetPanelText(spCycle, QString::number(elapsed));
    SetPanelText(spPolls, FixedText(r, 4));
    ArmLoop(0);
}
