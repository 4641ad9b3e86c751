#pragma once
// TEngine, the measurement engine: everything between the serial line and the files, apart from
// any window. It owns the serial component, the receive dispatcher and its buffers, the parsing of
// reports and waveform blocks, the time-of-flight computation with its rings, the phase trend,
// the three loggers and the rescue of lines no write could get out. It tells what happened through
// signals; the window draws that, the headless mode prints it.

#include "comm/Comm.h"
#include "comm/PortEnumerator.h"
#include "engine/Channel.h"
#include "engine/CommandTable.h"
#include "engine/LineState.h"
#include "engine/LinkHealth.h"
#include "engine/Measurement.h"
#include "engine/MeasurementLog.h"
#include "engine/Report.h"
#include "engine/Statistics.h"
#include "platform/Notice.h"
#include "ringbuffer/CircularBuffer.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTime>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class QTimer;
class TDataLogger;

// The status bar's panels, by what they show.
enum TStatusPanel : int {
    spM1Average,    // "M1Avg= " and the mean of the last 32 first correlation values
    spM2Average,    // the same for the second
    spPhase,        // "Phase= " with the phase and " deg"
    spM1,           // the last raw first correlation value
    spM2,           // the last raw second one
    spTemperature,  // a report's or a waveform block's temperature
    spCycle,        // the Run's cycle within its 100, or the arctangent test's milliseconds
    spPolls,        // polls the last wait took, or the arctangent test's result
    spRate,         // Run cycles per second, ending in "Hz"
    spLogger,       // a log that cannot be written
    StatusPanelCount
};

// The line as the instrument runs it: applied to every port opened, shown on the COM Port page.
struct TLineSettings {
    TBaudRate BaudRate = 115200;
    TDataBits DataBits = DB8;
    TParity Parity = TParity::None;
    TStopBits StopBits = SB1;
    THwHandShaking HwHandShaking = hhNone;
    TSwHandShaking SwHandShaking = shNone;
};

// What the operator chooses in the Options menu (the headless mode takes the defaults): whether a
// batch is filtered, which logs are written, and how many kept values the statistics' window holds.
struct TEngineOptions {
    bool ApplyFilter = true;
    bool SavePhaseData = true;
    bool SaveTOFData = true;
    bool SaveMeasurements = true;
    bool SaveStatistics = true;
    int32_t StatisticsWindow = TWindowStatistics::DefaultSize;
    // Without a port enumerator too (the headless mode's --reconnect), a lost port is waited for at
    // its path and opened again when a terminal device is there.
    bool Reconnect = false;
};

class TEngine : public QObject {
    Q_OBJECT
public:
    // deviceFactory: how each new serial component makes its device; empty = the real port.
    explicit TEngine(TComDeviceFactory deviceFactory = {}, QObject *parent = nullptr);
    // Closes first when Close() was not called.
    ~TEngine() override;

    static constexpr int RingCapacity = Measurement::BatchSize;
    static constexpr int TrendCapacity = 10000;
    static constexpr int PortCount = 8; // COM1 to COM8
    static constexpr TLineSettings LineSettings{};
    // A Run that has had no report for this long says so.
    static constexpr uint32_t NoReplyMs = 1000;

    // The port: one serial component at a time, COM1 to COM8 at index 0 to 7, or a serial device
    // chosen by its path. Gives a notice whether it opened, and why not.
    TComm *OpenPort(int index);
    TComm *OpenDevice(const QString &device);
    void ClosePort();

    // The port as one string, to show or keep: "COM1" to "COM8", or a device path. What was last
    // opened; a device is given by its stable name where the system has one, so that it is found
    // again when it comes back under another node.
    QString PortChoice() const;
    // Opens a choice in that form; false, with nothing opened or closed, when the text is
    // neither a COM name nor an absolute path. tellFailure false: a failure is left to the caller
    // to tell (OpenFailure says what it was); success is told all the same.
    TComm *OpenPortChoice(const QString &choice, bool tellFailure = true);
    // Why the last open failed, and whether because the name is no serial device at all.
    struct TOpenFailure {
        QString Error;  // the device and the reason, or who holds the port
        QString Reason; // the same without the device in front
        bool NotSerial = false;
    };
    const TOpenFailure &OpenFailure() const { return FOpenFailure; }
    // The operator's change of port: the port in use is closed and, settleMs later, the choice
    // opened. When it cannot be, the port that was in use is opened again and the operator told
    // which port is in use; only when that fails too is there no port.
    TComm *ChangePort(const QString &choice, int settleMs);
    // "COM2" (any case, blanks around) gives index 1; an absolute path gives the device.
    static bool ParsePortChoice(const QString &text, int &index, QString &device);
    // What the operator calls the port in use or last used: "COM1", or the device chosen.
    QString PortLabel() const;
    // The same with the device a COM name stands for: "COM1 (/dev/ttyUSB0)", or the device chosen.
    QString PortDeviceLabel() const;

    // The serial devices the system has now. With one set, a port lost while in use is opened
    // again by itself when its device comes back (same node, or same stable name). Not owned.
    void SetPortEnumerator(TPortEnumerator *enumerator);
    TPortEnumerator *PortEnumerator() const { return FEnumerator; }
    // A lost port waits for its device to come back.
    bool AwaitingPort() const { return FLost.Active; }
    // The line's state now, as LineStateChanged tells it.
    TLineState LineState() const { return FLineState; }
    // The link's figures now, as LinkHealthChanged tells them.
    TLinkFigures LinkFigures() const;
    // A Run that the loss of its port ended goes on where it stopped, under the same number, once
    // the port is back; false when there is no port or something else goes on.
    bool ResumeRun();

    // A menu item's tag: sends its command byte and sets how the answer is treated; a tag that is
    // no command sends the last letter again.
    void Command(int tag);
    void SendCommand(char letter);

    // The time-of-flight computation, its batches, the trend and the logs.
    static double PhaseAngle(int32_t a, int32_t b);
    // The open batch, then the log lines still being built (a last, shorter line), go out.
    void WriteOpenLines();
    // The Statistics.csv row of the last Run that ended (empty before one has); the Run in
    // progress has its figures in Statistics().
    QByteArray StatisticsLine() const { return FStatisticsLine; }
    // The logs: Phase.csv, TimeOfFlight.csv, Measurements.csv, Statistics.csv (those not yet
    // released).
    QList<TDataLogger *> Loggers() const;
    // The folder the logs go to; empty: the working folder as it was when the engine was made
    // (a working folder deleted later must not send the logs, or their rescue, anywhere else).
    // Lines waiting for a log that cannot be written go to the new folder. Runs are numbered on
    // from the last one in its Measurements.csv.
    void SetLogFolder(const QString &folder);
    QString LogFolder() const { return FLogFolder; }
    // The full path a log writes to now.
    static QString LogPath(const TDataLogger *logger);

    // What to tell the operator while the instrument is silent.
    QString NoReplyText() const;

    // The cycles. A Run goes on until stopped (or its port is lost); false, with a notice, when
    // there is no port. A stopped Run ends once the replies it asked for are in (each
    // given a reply wait, from the stop or the last one taken; a quarter second in all), with them in its last batch; a Run
    // started meanwhile takes over, and begins then.
    bool StartRun();
    void StopRun();
    // One waveform block; false when something else goes on or there is no port.
    bool StartAcquire();
    // The arctangent timing test, until StopRun; only from idle.
    bool StartTest();
    bool Busy() const { return FLoopState != TLoopState::Idle; }
    bool Acquiring() const
    {
        return FLoopState == TLoopState::AcquireWaiting || FLoopState == TLoopState::AcquireEnding;
    }
    // Ends whatever cycle goes on, at once (the program ends); a Run's replies still on their way
    // are read from the port first, for a reply wait at most.
    void StopCycles();

    // The end: nothing more is computed, every value goes to the files (or is rescued, with a
    // notice of where), and the port is closed. Once only.
    void Close();

    enum class TLoopState {
        Idle,
        RunCommanded,   // "a" sent; the analyse command follows after one pass of the event loop
        RunFirstPass,   // analyse command sent; a reply handled in this pass ends the wait with no poll
        RunPolling,     // polls of 1 ms until the reply or the 41st poll
        RunBatchPass,   // 100 cycles done; one pass of the event loop before the next cycle
        RunDraining,    // stopped or its port closed: its replies on their way are taken, then it ends
        AcquireWaiting, // polls of 5 ms while the block comes
        AcquireEnding,  // its port closed: what came is handled at the next step
        Testing,        // one batch of the arctangent test at each step
        TestEnding,     // stopped by a Run click: ends at the next step
    };

    // The options as one set; a change applies from the next batch (the statistics' window at once).
    void SetOptions(const TEngineOptions &options);
    const TEngineOptions &Options() const { return FOptions; }

    // What the front ends show that comes with no event of its own.
    bool PortOpen() const { return FComm != nullptr; }
    // The COM port in use or last used (0 to 7), and the device when it was chosen by its path.
    int32_t PortIndex() const { return FPortIndex; }
    QString PortDevice() const { return FPortDevice; }
    bool Running() const { return FRunning; }
    // The number of the Run going on or last ended (0 before the first).
    int64_t RunNumber() const { return FRunNumber; }
    // The instrument counts as silent during a Run.
    bool NoReply() const { return FNoReply; }
    int64_t RunCycleCount() const { return FRunCycleCount; }
    int64_t ReportCount() const { return FReportCount; }
    int64_t RefusedCount() const { return FRefusedCount; }
    const TStatistics &Statistics() const { return FStatistics; }
    // The waveform: acquired, loaded, or mid-scale; a load replaces it.
    const TChannel &Channel1() const { return FChannel1; }
    const TChannel &Channel2() const { return FChannel2; }
    void SetWaveform(const TChannel &channel1, const TChannel &channel2);
    // The kept phases in degrees, oldest first, emptied when full; and the batch being taken.
    // Both live as long as the engine.
    const std::vector<float> &Trend() const { return FTrend; }
    const TCircularBuffer<float> &PhaseRing() const { return FPhaseRing; }
    // The serial component in use; null without a port. OpenPort gives the same.
    TComm *Comm() const { return FComm; }
    // The receive dispatcher between two chunks, as whoever checks it from outside sees it: what
    // the next chunk is taken as, whether the exchange asked for is over, the reports asked for
    // that have not come, the bytes kept for a record not whole yet, and the waveform block so far.
    struct TReceiveView {
        TReceiveState State = rsNone;
        bool ReplyDone = true;
        char CommandLetter = 0; // the last command's, sent again by a tag that is no command
        int32_t RepliesAwaited = 0;
        QByteArray Pending;
        QByteArray WaveText;   // the block's lines after its header
        int32_t WaveCount = -1; // samples stored from the last block; -1 while its header has not come
        int32_t WaveLines = 0;  // lines of the block since its header
        // The temperature a report without its own carries: the last one told, NoTemperature before.
        float Temperature = MeasurementLog::NoTemperature;
    };
    TReceiveView Receiving() const;

signals:
    // A Run was started or stopped (also by the loss of its port).
    void RunningChanged(bool running);
    // A Run or the arctangent test has ended (stopped, its port lost, the engine closing) and no
    // new Run took over; a Run's open batch is processed and the loggers are flushed by then.
    void RunEnded();
    // An acquisition has ended: whole, its block is in the channels; else they are as they were.
    void AcquireEnded(bool whole);
    // The receive handler has taken a chunk.
    void ReceiveHandled();
    // Every received chunk, for the communication log.
    void Received(const QByteArray &chunk);
    // A report was computed (the values above hold it too).
    void ReportComputed(const TReport &report);
    // A batch reached the trend and the logs: its reports, each with whether the filter kept it.
    void BatchProcessed(const TBatch &batch);
    // A Run has ended: its Statistics.csv row (also when that log is switched off), before
    // RunEnded or the start of the Run that took over.
    void RunStatistics(const QByteArray &line);
    void PanelChanged(int panel, const QString &text);
    // The count of refused reports changed (a refused report, or a Run's start): the count now.
    void RefusedChanged(int64_t refused);
    // The instrument fell silent during a Run, or answered again.
    void ReplyWarningChanged(bool silent);
    // The sample lines of a parsed block, as received.
    void BlockParsed(const QByteArrayList &lines);
    // The line went away and whatever used it has ended; the text is also given as a notice. It
    // may come inside the serial component's poll step.
    void PortLost(const QString &text);
    // A port was opened or closed, or an open failed: PortOpen() tells whether there is one now.
    void PortStateChanged();
    // A short note on the port that needs no answer ("COM1 is back: /dev/ttyUSB0").
    void PortNote(const QString &text);
    // The line's state changed: opened, closed, lost, opened again, or who holds it.
    void LineStateChanged(const TLineState &state);
    // The link's counts and warning: once a second while a port is open, and when a Run begins
    // or ends.
    void LinkHealthChanged(const TLinkFigures &figures);
    // A log cannot be written (its file and why), or is written again.
    void LoggerFailing(QObject *logger, const QString &fileName, const QString &error);
    void LoggerRecovered(QObject *logger);
    // What the operator must know, the serial component's own notices included. Raised inside the
    // engine's steps; a front end shows it once the step has returned, and the engine goes on
    // meanwhile.
    void Notice(const TNotice &notice);

private:
    // The receive path, bound to the serial component's events.
    void CommReceiveData(QObject *Sender, const QByteArray &received);
    void CommReceiveError(QObject *Sender, uint32_t EventMask);
    bool CheckDifferenceReport();
    bool CheckMeanReport();
    // Computes every whole record at the front of FLineBuffer, of either kind, in order; a record
    // with a field that cannot be read is counted instead. True when one was taken.
    bool TakeReports();
    void ParseWaveHeader();
    // Stores the collected block's samples in the channels and hands its lines to BlockParsed.
    void ParseWaveBlock();

    // The time-of-flight computation, its batches, the trend and the logs.
    void ComputeMeasurement();
    // Filters the batch as set, appends it to the trend and the log lines.
    void ProcessBatch();
    // The same for a batch that is not full yet, when there is one.
    void FinishBatch();
    void RemoveOutliers();
    void BandFilter();
    void AppendTrend();
    void ClearTrend();
    void LogTimeOfFlight();
    void LogPhase();
    // One line per report of the batch, each saying whether the filter kept it; empties the
    // batch's records.
    void LogMeasurements();
    void FlushLoggers();

    // Writes what a logger still holds, else saves it in a time-stamped file beside its file or
    // in the user's data folder, and gives a notice of how many lines went where.
    void RescueLoggerLines(TDataLogger *logger);

    // A Run begins: values taken since the last one are processed, the rings emptied, the
    // refused count and the reply clock started again.
    void BeginRun();
    // Says so once the last report is older than NoReplyMs.
    void CheckReplyAge();

    // The cycles' steps and the events that change their state.
    void SetRunning(bool running);
    void ArmLoop(int ms);
    void LoopStep();
    void LoopReceived();
    void StopLoop();
    void CountPolls();
    void LoopPortClosed();
    void TellWhenIdle(const QString &text);
    void StartCycles();
    void BeginCycle();
    void SendAnalyze();
    void ShowCycle();
    void EndReplyWait();
    void EndRun();
    // The Run whose row is due, if any, gets it.
    void EndRunStatistics();
    void DrainStep();
    void DrainAtExit();
    void TakeOverOrEnd();
    void EndAcquire();
    void TestBatch();

    // Makes, sets up and opens a component; tell: the operator asked for it and hears how it went.
    std::unique_ptr<TComm> MakeComm(int index, const QString &device, bool tell);
    void UseComm(std::unique_ptr<TComm> comm, int index, const QString &device);
    // Opens a port and uses it, saying so; else keeps why in FOpenFailure and there is no port.
    // tell: the component says why it failed, too.
    TComm *TryOpen(int index, const QString &device, bool tell);
    // The box that says an open failed, and why.
    static QString OpenFailedText(const QString &name, const QString &error);
    void CheckLostPort();
    // The path a lost port is waited for at: its by-id name where it had one, else its device.
    QString LostPath() const;
    void SetLineState(const TLineState &state);
    TLineState OpenLineState(TLineState::TKind kind) const;
    void TellLinkHealth();

    bool CheckReports(int limit);
    bool InRun() const;
    void SetupLoggers();
    // A log's file: name in folder, both read against the working folder taken at the start.
    QString LogFileIn(const QString &folder, const QString &name) const;
    void ReadLastRun();
    void SetPanel(TStatusPanel panel, const QString &text);
    void SetReplyWarning(bool silent);
    // The notice of a call that needs the port while there is none.
    void TellNotOpen();

    TComm *FComm = nullptr;
    int32_t FPortIndex = 0;
    TReceiveState FReceiveState = rsNone;
    bool FReplyDone = true;
    char FCommandLetter = 0;
    QByteArray FLineBuffer;
    QByteArray FWaveBuffer;
    int32_t FWaveCount = -1; // -1 until a block's header has come
    // Lines of the waveform block received after its header in the last acquisition.
    int32_t FWaveLines = 0;
    int32_t FBigCount = 0, FM1 = 0, FM2 = 0;
    float FTemperature = 0;
    bool FTemperatureKnown = false; // a report or a waveform block has told one
    int32_t FBigTime = 0;
    TCircularBuffer<float> FPhaseRing{RingCapacity};
    TCircularBuffer<float> FTOFRing{RingCapacity};
    // The trend: TrendCapacity values at most; the one after that starts it again, empty.
    std::vector<float> FTrend;
    QPointer<TDataLogger> FPhaseLogger;
    QPointer<TDataLogger> FTOFLogger;
    Measurement::TLogLine FPhaseLine; // the line being built, with its value count
    // Run cycles and computed reports since the engine was made (the headless mode's progress).
    int64_t FRunCycleCount = 0;
    int64_t FReportCount = 0;
    // Reports asked for ("x", "z") that have not come yet: their text is still taken when it
    // comes late, in whatever state the next command left.
    int32_t FRepliesAwaited = 0;
    // Reports refused since the Run started: a field the computation needs could not be read.
    int64_t FRefusedCount = 0;
    uint64_t FReceivedCount = 0; // bytes received since the engine was made
    TChannel FChannel1{};
    TChannel FChannel2{};
    // A Run (or the test) is on.
    bool FRunning = false;

    TEngineOptions FOptions;
    // The device chosen by its path when the port in use is one; empty for a COM name.
    QString FPortDevice;
    float FPhaseDeg = 0, FTimeOfFlight = 0;
    // The figures of the kept values: the current (or last) Run's and the last N's.
    TStatistics FStatistics;
    bool FNoReply = false;
    float FPhaseRad = 0;
    int32_t FM1Avg = 0, FM2Avg = 0;
    TCircularBuffer<int32_t> FM1Ring{RingCapacity};
    TCircularBuffer<int32_t> FM2Ring{RingCapacity};
    QPointer<TDataLogger> FMeasurementLogger;
    QPointer<TDataLogger> FStatisticsLogger;
    Measurement::TLogLine FTOFLine; // the line being built, with its value count
    // The reports of the current batch, in the order computed, and their positions in it: the
    // filter takes a report's position out with its phase, so what stays is what it kept.
    TBatch FBatchRecords;
    TCircularBuffer<int32_t> FRecordRing{RingCapacity};
    // The number of the last Run: the last one in Measurements.csv when the engine was made or
    // the log folder last changed, counted on by each Run since.
    int64_t FRunNumber = 0;
    // Reports computed in the current Run (or since the last one ended, for Run 0).
    int64_t FRunReportCount = 0;
    // The Run (0: none) that asked for each report awaited, oldest first: a reply belongs to the
    // Run that asked for it, even when it comes after the Run's last cycle. Replies asked for by
    // an earlier Run that never came are forgotten when a Run begins.
    std::deque<int64_t> FAwaitedRuns;
    static constexpr size_t AwaitedRunsLimit = 1024;
    // When the last report came (or the Run started).
    uint32_t FLastReplyTick = 0;
    QTime FLastReplyTime;
    // What cycle goes on.
    TLoopState FLoopState = TLoopState::Idle;

    // n and m of the Run cycle, the polls of the Acquire wait, and when the current batch of
    // cycles, the test's batch or the last received byte began or came.
    QTimer *FLoopTimer = nullptr;
    int32_t FCycle = 0;
    int32_t FPolls = 0;
    QElapsedTimer FPollClock; // the reply wait's polls, from its first
    QElapsedTimer FDrainClock; // a stopped Run's wait for its replies, from the stop or the last reply
    QElapsedTimer FDrainStart; // and from the stop alone
    // The Run the next computed report belongs to, when a taken reply has said; else -1.
    int64_t FReportRun = -1;
    // A Run started while the stopped one still takes its replies begins when that one has ended.
    bool FBeginPending = false;
    bool FLastPollPass = false;
    uint32_t FLoopStart = 0;
    uint64_t FAcquireReceived = 0;
    bool FAcquireArriving = false;
    TComDeviceFactory FDeviceFactory;
    QPointer<TPortEnumerator> FEnumerator;
    // The device the port in use opened, and its stable name.
    QString FOpenedDevice, FOpenedStable;
    // A port lost while in use, until its device comes back or the operator opens one.
    struct TLostPort {
        bool Active = false;
        int32_t Index = 0;
        QString Device;   // chosen by path, else empty
        QString Opened;   // the node it had
        QString Stable;   // its stable name, when it had one: then only that counts
        bool SeenGone = false; // the system has been seen without it since the loss
        int32_t Attempts = 0;
    } FLost;
    QTimer *FReconnectTimer = nullptr;
    TLineState FLineState;
    TLinkHealth FLink;
    QTimer *FLinkTimer = nullptr;
    TOpenFailure FOpenFailure;
    QList<QPointer<TComm>> FClosedComms; // closed, freed once their own calls have returned
    QString FLogFolder;
    QString FWorkingFolder; // absolute, taken when the engine was made; empty if there was none
    int64_t FStatisticsRun = 0; // the Run whose row is due; 0: none
    QByteArray FStatisticsLine;
    bool FClosed = false;
};
