// TFormMain: the Run cycle, the Acquire button and the arctangent timing test. All three are
// loops inside a click handler that let pending events run between their steps; the receive
// handler, the stop click, a close of the window or the loss of the port may run inside them.

#include "app/Unitmain.h"

#include "app/ToolBarImages.h"
#include "engine/WaveBlock.h"
#include "logger/Cdatalogger.h"
#include "platform/Platform.h"
#include "ringbuffer/CircularBuffer.h"

#include <QAction>
#include <QMenu>
#include <QToolButton>

#include <functional>
#include <utility>

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

// One loop of a click handler. While it lives the window knows a loop is on its stack; when the
// last one ends, a port loss that happened meanwhile is told.
class TFormMain::TClickLoop {
public:
    // usesPort: the loop talks through the port open at its start and ends when it is lost.
    // endsOnStop: the loop belongs to the Run (or test) started last and ends when that stops.
    TClickLoop(TFormMain *form, bool usesPort, bool endsOnStop)
        : FForm(form), FComm(usesPort ? form->FEngine->FComm : nullptr), FUsesPort(usesPort), FEndsOnStop(endsOnStop),
          FRun(form->FRunStarts)
    {
        ++form->FLoopDepth;
    }

    ~TClickLoop()
    {
        if (!FForm || --FForm->FLoopDepth > 0 || FForm->FPortLossMessage.isEmpty())
            return;
        const QString text = std::exchange(FForm->FPortLossMessage, QString());
        if (!FForm->FClosed)
            Platform::MessageBox(text, "Information");
    }

    TClickLoop(const TClickLoop &) = delete;
    TClickLoop &operator=(const TClickLoop &) = delete;

    // Lets pending events run, then says whether the loop may go on. With a wait, events run as
    // they come for that many milliseconds, or until the loop may not go on or `done` holds.
    bool ProcessMessages(int waitMs = 0, const std::function<bool()> &done = {})
    {
        if (waitMs > 0)
            Platform::SleepProcessing(waitMs, [&] { return !GoesOn() || (done && done()); });
        else
            Platform::ProcessMessages();
        return GoesOn();
    }

    // Not once the window is destroyed or closing, the port was lost, or the loop was stopped.
    bool GoesOn() const
    {
        if (!FForm || FForm->FClosed || PortLost())
            return false;
        return !FEndsOnStop || (FForm->FRunning && FForm->FRunStarts == FRun);
    }

    // When this is false nothing of the window may be touched any more.
    bool WindowAlive() const { return !FForm.isNull(); }
    bool PortLost() const { return FUsesPort && (!FComm || FForm->FEngine->FComm != FComm); }
    uint32_t Run() const { return FRun; }

private:
    QPointer<TFormMain> FForm;
    QPointer<TComm> FComm;
    bool FUsesPort;
    bool FEndsOnStop;
    uint32_t FRun;
};

void TFormMain::TB_RunClick(QObject *Sender)
{
    Q_UNUSED(Sender);
    if (FRunning) {
        RunStop();
        return;
    }
    // Every command of the cycle would show this; once is enough, and nothing starts.
    if (!FEngine->FComm) {
        Platform::ShowMessage(QString::fromLatin1(TComm::NotOpenMessage));
        return;
    }
    RunStart();
    // A loop still finishing (the last cycle of a stopped Run, the last batch of the test) goes on
    // with this Run when it returns; a second loop inside its event processing would hold it up.
    if (FLoopDepth > 0)
        return;
    RunLoop();
}

void TFormMain::RunStart()
{
    FRunning = true;
    ++FRunStarts;
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

void TFormMain::RunLoop()
{
    // RunCycles says false once the window is gone.
    while (RunCycles() && !FClosed && FRunning) {
    }
}

bool TFormMain::RunCycles()
{
    TClickLoop loop(this, true, true);
    uint32_t t0 = Platform::TickCount();
    int32_t n = 0;
    while (loop.GoesOn()) {
        mmCommandClick(mmAcquire);
        if (!loop.ProcessMessages())
            break;
        n += 1;
        ++FEngine->FRunCycleCount;
        mmCommandClick(n % DifferenceEvery == 0 ? mmAnalyzeData : mmAnalyzeAcquired);

        FEngine->FReplyDone = false;
        int32_t m = 0;
        bool goesOn = loop.ProcessMessages();
        while (goesOn && !FEngine->FReplyDone) {
            // One poll of 1 ms; a report that comes meanwhile is handled at once and ends it.
            if (!(goesOn = loop.ProcessMessages(ReplyPollMs, [this] { return FEngine->FReplyDone; })))
                break;
            if (++m > ReplyPolls)
                FEngine->FReplyDone = true; // the receive state stays: a late report is still taken
        }
        if (!loop.WindowAlive())
            return false;
        SetPanelText(6, QString::number(n));
        SetPanelText(7, QString::number(m));
        if (!goesOn)
            break;
        FEngine->CheckReplyAge();

        if (n >= RunBatch) {
            const uint32_t dt = Platform::TickCount() - t0;
            n = 0;
            t0 = Platform::TickCount();
            // 100 cycles within one tick of the clock give no rate; the last one stays.
            if (dt > 0)
                SetPanelText(8, FixedText(RateScale / static_cast<float>(dt), 4) + "Hz");
            if (!loop.ProcessMessages())
                break;
        }
    }
    if (!loop.WindowAlive())
        return false;
    if (FClosed)
        return true;
    // A lost port ends the Run as the stop click would; a newer Run is left alone.
    if (loop.PortLost() && FRunning && FRunStarts == loop.Run())
        RunStop();
    // Every value is in the files once the Run has ended, whatever ended it; the open log lines
    // go on with the next Run.
    FEngine->FinishBatch();
    FEngine->FlushLoggers();
    return true;
}

void TFormMain::TB_AcquireClick(QObject *Sender)
{
    Q_UNUSED(Sender);
    if (TB_Acquire->text() != QLatin1String(AcquireCaption))
        return; // a click while it waits
    if (!FEngine->FComm) {
        Platform::ShowMessage(QString::fromLatin1(TComm::NotOpenMessage));
        return;
    }
    mmCommandClick(mmSendData);
    TB_Acquire->setText(AcquireWaitCaption);
    TB_Run->setEnabled(false);
    SetLoopControlsEnabled(false);
    FEngine->FLineBuffer.clear();
    FEngine->FWaveBuffer.clear();
    FEngine->FWaveCount = -1;
    FEngine->FWaveLines = 0;
    FEngine->FReplyDone = false;
    for (int panel = 0; panel <= 2; ++panel)
        SetPanelText(panel, QString());

    // The wait: 101 polls of 5 ms when nothing comes. Once text comes, until the block's last
    // line is in, or the line has paused longer than an instrument or an adapter ever does
    // inside a block, or the cap.
    TClickLoop loop(this, true, false);
    const auto complete = [this] { return FEngine->FWaveLines >= WaveBlock::BlockLines; };
    int32_t m = 0;
    bool arriving = false;
    uint64_t received = FEngine->FReceivedCount;
    uint32_t lastByte = Platform::TickCount();
    while (!FEngine->FReplyDone) {
        if (!loop.ProcessMessages(AcquirePollMs, complete))
            break;
        m += 1;
        if (FEngine->FReceivedCount != received) {
            received = FEngine->FReceivedCount;
            arriving = true;
            lastByte = Platform::TickCount();
        }
        const bool paused = arriving && Platform::TickCount() - lastByte > AcquirePauseMs;
        if (complete() || paused || (!arriving && m > AcquirePolls) || m >= AcquireCapPolls)
            FEngine->FReplyDone = true;
    }
    if (!loop.WindowAlive() || FClosed)
        return; // nothing of a closed window is drawn
    FEngine->FReceiveState = rsNone;
    SetPanelText(7, QString::number(m));
    FinishAcquire();
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
    if (FRunning || FLoopDepth > 0)
        return;
    FRunning = true;
    ++FRunStarts;
    QPointer<TFormMain> self(this);
    {
        TClickLoop loop(this, false, true);
        int32_t k = 0;
        uint32_t t0 = Platform::TickCount();
        while (loop.GoesOn()) {
            const double r = TEngine::PhaseAngle(TestATanM1, TestATanM2);
            if (++k > TestATanBatch) {
                const uint32_t elapsed = Platform::TickCount() - t0;
                k = 0;
                t0 = Platform::TickCount();
                SetPanelText(6, QString::number(elapsed));
                SetPanelText(7, FixedText(r, 4));
                if (!loop.ProcessMessages())
                    break;
            }
        }
    }
    // A Run started while the last batch was finishing goes on from here.
    if (self && !FClosed && FRunning)
        RunLoop();
}
