// TEngine: the Run cycle, the Acquire wait and the arctangent timing test. Each is a state
// machine stepped by one timer of the engine: a start returns at once, and the receive handler, a
// stop, the loss of the port or the end of the engine change its state. No step lets other events
// run inside it, so none of them can run in the middle of one.

#include "engine/Engine.h"

#include "engine/WaveBlock.h"
#include "logger/Cdatalogger.h"
#include "platform/Clock.h"

#include <QTimer>

#include <algorithm>
#include <utility>

using Measurement::FixedText;

namespace {
constexpr int32_t RunBatch = 100;          // cycles per rate figure
constexpr int32_t DifferenceEvery = 30;    // cycles 30, 60 and 90 ask for a difference report
constexpr int32_t ReplyPolls = 40;         // the reply wait gives up after 41 polls of 1 ms
constexpr int ReplyPollMs = 1;             // one poll of the reply wait (ms)
constexpr qint64 ReplyWaitMs = (ReplyPolls + 1) * ReplyPollMs;
// A stopped Run waits a reply wait for each reply it asked for, but no longer than this in all:
// an instrument that keeps talking must not keep the Run (or the program's end) from ending.
constexpr qint64 DrainCapMs = 250;
constexpr float RateScale = RunBatch * 1000.0f; // a batch in dt milliseconds, in cycles a second
constexpr int AcquirePollMs = 5;           // one poll of the Acquire wait
constexpr int32_t AcquirePolls = 100;      // with nothing received the wait ends after 101 polls
constexpr uint32_t AcquirePauseMs = 600;   // a block that paused this long has stopped coming
constexpr int32_t AcquireCapPolls = 600;   // and a block that never ends is cut off after about 3 s
constexpr int32_t TestATanM1 = -3568444;   // fixed inputs of the arctangent test
constexpr int32_t TestATanM2 = 13569394;
constexpr int32_t TestATanBatch = 1000000; // evaluations between two reports (and one more)
} // namespace

bool TEngine::StartRun()
{
    // Every command of the cycle would show this; once is enough, and nothing starts.
    if (!FComm) {
        TellNotOpen();
        return false;
    }
    SetRunning(true);
    // A stopped Run still taking its last replies: this one begins, and takes over, when that one
    // has ended, so that those replies go into the stopped Run's last batch.
    if (InRun()) {
        FBeginPending = true;
        return true;
    }
    BeginRun();
    // The last batch of the test is still ending: this Run takes over when it has.
    if (FLoopState == TLoopState::Idle)
        StartCycles();
    return true;
}

bool TEngine::ResumeRun()
{
    if (!FComm || FRunning || FLoopState != TLoopState::Idle)
        return false;
    SetRunning(true);
    // The same Run goes on: its figures continue and its Statistics.csv row is written again at
    // its end, with all of them.
    FStatisticsRun = FRunNumber;
    FLastReplyTick = Platform::TickCount();
    FLastReplyTime = QTime::currentTime();
    SetReplyWarning(false);
    FLink.ResumeRun(FLastReplyTick);
    StartCycles();
    return true;
}

void TEngine::StopRun()
{
    SetRunning(false);
    StopLoop();
}

void TEngine::SetRunning(bool running)
{
    FRunning = running;
    emit RunningChanged(running);
}

bool TEngine::StartAcquire()
{
    if (FLoopState != TLoopState::Idle)
        return false;
    if (!FComm) {
        TellNotOpen();
        return false;
    }
    FLoopState = TLoopState::AcquireWaiting;
    Command(CommandTag('s'));
    // No event runs between the command and here: nothing received can be lost.
    FLineBuffer.clear();
    FWaveBuffer.clear();
    FWaveCount = -1;
    FWaveLines = 0;
    FReplyDone = false;
    for (TStatusPanel panel : {spM1Average, spM2Average, spPhase})
        SetPanel(panel, QString());
    FPolls = 0;
    FAcquireArriving = false;
    FAcquireReceived = FReceivedCount;
    FLoopStart = Platform::TickCount();
    // Writing may have lost the port; then the wait is ending already.
    if (FLoopState == TLoopState::AcquireWaiting)
        ArmLoop(AcquirePollMs);
    return true;
}

bool TEngine::StartTest()
{
    // One cycle at a time: the test starts from the idle engine only.
    if (FRunning || FLoopState != TLoopState::Idle)
        return false;
    FRunning = true;
    FLoopState = TLoopState::Testing;
    FLoopStart = Platform::TickCount();
    ArmLoop(0);
    return true;
}

void TEngine::ArmLoop(int ms)
{
    if (!FLoopTimer) {
        // A child of the engine: a step still due when the engine is destroyed goes with it.
        FLoopTimer = new QTimer(this);
        FLoopTimer->setSingleShot(true);
        FLoopTimer->setTimerType(Qt::PreciseTimer);
        connect(FLoopTimer, &QTimer::timeout, this, &TEngine::LoopStep);
    }
    FLoopTimer->start(ms);
}

void TEngine::LoopStep()
{
    switch (FLoopState) {
    case TLoopState::Idle:
        break;
    case TLoopState::RunCommanded:
        SendAnalyze();
        break;
    case TLoopState::RunFirstPass:
        // What the port holds already is taken first: a quick reply ends the wait without a poll,
        // whichever of this step and the port's own wake-up comes first.
        if (FComm && !FReplyDone)
            FComm->ReceiveStep();
        if (FLoopState != TLoopState::RunFirstPass)
            break; // the port went, or the Run ended, while it was read
        if (FReplyDone) {
            EndReplyWait();
        } else {
            // The reply comes through the receive handler, which ends the wait at once; a timer
            // waking every poll would only count. The polls are counted from the clock instead,
            // and the timer wakes once, when the last poll would have ended.
            FLoopState = TLoopState::RunPolling;
            FPollClock.start();
            FLastPollPass = false;
            ArmLoop((ReplyPolls + 1) * ReplyPollMs);
        }
        break;
    case TLoopState::RunPolling:
        CountPolls();
        // The last poll gives the event loop one more pass: a reply that came while the program
        // was not running is taken before the wait gives up on it.
        if (FPolls > ReplyPolls && !FReplyDone && !FLastPollPass) {
            FLastPollPass = true;
            ArmLoop(0);
            break;
        }
        if (FPolls > ReplyPolls)
            FReplyDone = true; // the receive state stays: a late report is still taken
        if (FReplyDone)
            EndReplyWait();
        else
            ArmLoop((ReplyPolls + 1 - FPolls) * ReplyPollMs);
        break;
    case TLoopState::RunBatchPass:
        BeginCycle();
        break;
    case TLoopState::RunDraining:
        DrainStep();
        break;
    case TLoopState::AcquireWaiting: {
        FPolls += 1;
        const uint32_t now = Platform::TickCount();
        if (FReceivedCount != FAcquireReceived) {
            FAcquireReceived = FReceivedCount;
            FAcquireArriving = true;
            FLoopStart = now;
        }
        // Once text comes, until the block's last line is in, or the line has paused longer than
        // an instrument or an adapter ever does inside a block, or the cap; else 101 polls.
        const bool complete = FWaveLines >= WaveBlock::BlockLines;
        const bool paused = FAcquireArriving && now - FLoopStart > AcquirePauseMs;
        if (complete || paused || (!FAcquireArriving && FPolls > AcquirePolls) || FPolls >= AcquireCapPolls) {
            FReplyDone = true;
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

void TEngine::CountPolls()
{
    // Whole polls of the wait so far; the poll that a reply cut short counts as one.
    const qint64 polls = FPollClock.elapsed() / ReplyPollMs + (FReplyDone ? 1 : 0);
    FPolls = int32_t(std::min<qint64>(polls, ReplyPolls + 1));
}

void TEngine::LoopReceived()
{
    // Called at the end of the receive handler, inside the component's receive step: the wait
    // ends on the next pass, as soon as that step has returned.
    if ((FLoopState == TLoopState::RunPolling && FReplyDone) || FLoopState == TLoopState::RunDraining
        || (FLoopState == TLoopState::AcquireWaiting && FWaveLines >= WaveBlock::BlockLines))
        ArmLoop(0);
}

void TEngine::StopLoop()
{
    switch (FLoopState) {
    case TLoopState::RunPolling:
        CountPolls();
        [[fallthrough]];
    case TLoopState::RunFirstPass:
        ShowCycle(); // the wait ends at once, without the poll in progress
        [[fallthrough]];
    case TLoopState::RunCommanded:
    case TLoopState::RunBatchPass:
        // No command is sent any more; the replies already asked for are the Run's own.
        FLoopState = TLoopState::RunDraining;
        FDrainClock.start();
        FDrainStart.start();
        ArmLoop(0);
        break;
    case TLoopState::RunDraining:
        ArmLoop(0); // its port may have gone: then nothing more can come
        break;
    case TLoopState::Testing:
        FLoopState = TLoopState::TestEnding;
        ArmLoop(0);
        break;
    default:
        break;
    }
}

void TEngine::LoopPortClosed()
{
    if (InRun()) {
        // The Run ends as a stop click would end it, also one that was to take over.
        if (FRunning)
            SetRunning(false);
        StopLoop();
    } else if (FLoopState == TLoopState::AcquireWaiting) {
        FLoopState = TLoopState::AcquireEnding;
        ArmLoop(0);
    } // the test does not use the port
}

void TEngine::StopCycles()
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
        emit AcquireEnded(false); // a block cut short by the end is not stored
        break;
    case TLoopState::Testing:
    case TLoopState::TestEnding:
        emit RunEnded();
        break;
    default:
        DrainAtExit();
        FinishBatch();
        FlushLoggers();
        emit RunEnded();
        break;
    }
}

void TEngine::DrainStep()
{
    // Each reply still asked for gets a reply wait, from the stop or from the last reply taken;
    // one that never comes (dropped) ends the wait at its bound.
    const qint64 left = std::min(ReplyWaitMs - FDrainClock.elapsed(), DrainCapMs - FDrainStart.elapsed());
    if (!FComm || FAwaitedRuns.empty() || left <= 0)
        EndRun();
    else
        ArmLoop(int(left));
}

void TEngine::DrainAtExit()
{
    // The program ends: no event may run now, so the port is read directly, a poll of 1 ms at a
    // time, as the Run's own wait would.
    FDrainClock.start();
    FDrainStart.start();
    while (FComm && !FAwaitedRuns.empty() && FDrainClock.elapsed() < ReplyWaitMs && FDrainStart.elapsed() < DrainCapMs) {
        FComm->ProcTimer(FComm);
        if (FComm && !FAwaitedRuns.empty())
            Platform::Sleep(ReplyPollMs);
    }
}

void TEngine::TellWhenIdle(const QString &text)
{
    const auto tell = [this, text] {
        if (FClosed)
            return;
        emit PortLost(text);
        emit Notice({TNoticeKind::Information, "Information", text});
    };
    // Once whatever used the port has ended: the Run's last batch is in the files by then.
    const auto once = Qt::ConnectionType(Qt::DirectConnection | Qt::SingleShotConnection);
    switch (FLoopState) {
    case TLoopState::Idle:
        tell();
        break;
    case TLoopState::AcquireWaiting:
    case TLoopState::AcquireEnding:
        connect(this, &TEngine::AcquireEnded, this, tell, once);
        break;
    default:
        connect(this, &TEngine::RunEnded, this, tell, once);
        break;
    }
}

void TEngine::StartCycles()
{
    FCycle = 0;
    FLoopStart = Platform::TickCount();
    BeginCycle();
}

void TEngine::BeginCycle()
{
    FLoopState = TLoopState::RunCommanded;
    Command(CommandTag('a'));
    // Writing may have lost the port; then the Run is ending already.
    if (FLoopState == TLoopState::RunCommanded)
        ArmLoop(0);
}

void TEngine::SendAnalyze()
{
    FCycle += 1;
    ++FRunCycleCount;
    FPolls = 0;
    FLoopState = TLoopState::RunFirstPass;
    Command(CommandTag(FCycle % DifferenceEvery == 0 ? 'x' : 'z'));
    FReplyDone = false;
    if (FLoopState == TLoopState::RunFirstPass)
        ArmLoop(0);
}

void TEngine::ShowCycle()
{
    SetPanel(spCycle, QString::number(FCycle));
    SetPanel(spPolls, QString::number(FPolls));
}

void TEngine::EndReplyWait()
{
    const uint32_t now = Platform::TickCount();
    FLink.WaitEnded(now);
    FLink.CycleDone(now);
    ShowCycle();
    CheckReplyAge();
    if (FCycle < RunBatch) {
        BeginCycle();
        return;
    }
    const uint32_t dt = Platform::TickCount() - FLoopStart;
    FCycle = 0;
    FLoopStart = Platform::TickCount();
    // 100 cycles within one tick of the clock give no rate; the last one stays.
    if (dt > 0)
        SetPanel(spRate, FixedText(RateScale / static_cast<float>(dt), 4) + "Hz");
    FLoopState = TLoopState::RunBatchPass;
    ArmLoop(0);
}

void TEngine::EndRun()
{
    FLoopState = TLoopState::Idle;
    FLink.EndRun(Platform::TickCount());
    emit LinkHealthChanged(LinkFigures());
    // Every value is in the files once the Run has ended, whatever ended it; the open log lines
    // go on with the next Run. A sink of the last batch may have started something else meanwhile.
    FinishBatch();
    FlushLoggers();
    if (FLoopState == TLoopState::Idle)
        TakeOverOrEnd(); // a Run may have been clicked while the last cycle ended
}

void TEngine::TakeOverOrEnd()
{
    // A Run clicked before the port was lost ends as it would have at its first cycle.
    if (FRunning && !FComm)
        SetRunning(false);
    const bool begin = std::exchange(FBeginPending, false);
    if (FRunning && !FClosed) {
        if (begin)
            BeginRun();
        StartCycles();
    } else {
        emit RunEnded();
    }
}

void TEngine::EndAcquire()
{
    FLoopState = TLoopState::Idle;
    FReceiveState = rsNone;
    SetPanel(spPolls, QString::number(FPolls));
    // Only a whole block replaces the waveform: new samples followed by old ones would be drawn
    // and saved as if they were one.
    const bool whole = FWaveLines >= WaveBlock::BlockLines;
    if (whole)
        ParseWaveBlock();
    FWaveBuffer.clear();
    // Told before the end is announced: the loss of the port, told at the end, comes after it.
    if (!whole)
        emit Notice({TNoticeKind::Warning, "Information",
                     QString("%1 of %2 lines received; the previous waveform is kept.")
                         .arg(FWaveLines)
                         .arg(WaveBlock::BlockLines)});
    emit AcquireEnded(whole);
}

void TEngine::TestBatch()
{
    // 1000001 evaluations, then the time they took and the result, then one pass of the event
    // loop, where a Run click ends the test.
    double r = 0;
    for (int32_t k = 0; k <= TestATanBatch; ++k)
        r = TEngine::PhaseAngle(TestATanM1, TestATanM2);
    const uint32_t elapsed = Platform::TickCount() - FLoopStart;
    FLoopStart = Platform::TickCount();
    SetPanel(spCycle, QString::number(elapsed));
    SetPanel(spPolls, FixedText(r, 4));
    ArmLoop(0);
}
