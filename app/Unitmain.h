#pragma once
// TFormMain: the one main window. It owns every long-lived object (serial port, ring buffers,
// trend, loggers, chart, gauge), holds the measurement state and carries the operations of the
// instrument-control and waveform subsystems as its methods.

#include "app/Channel.h"
#include "app/ComLogText.h"
#include "app/Memo.h"
#include "app/Measurement.h"
#include "comm/Comm.h"

#include <QMainWindow>
#include <QPointer>
#include <QTime>
#include <QVector>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QShortcut;
class QTabWidget;
class QTimer;
class QToolBar;
class QToolButton;
class TUpDown;
class TDataLogger;
class TGauge;
class TCISChart;
class TImage;
class QImage;
template <typename T> class TCircularBuffer;

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    // deviceFactory: how each new serial component makes its device; empty = the real port.
    explicit TFormMain(QWidget *parent = nullptr, TComDeviceFactory deviceFactory = {});
    ~TFormMain() override;

    static constexpr int ChannelLength = ::ChannelLength;
    static constexpr int StatusPanelCount = 10;
    static constexpr int RingCapacity = Measurement::BatchSize;
    static constexpr int PortCount = 8; // COM1 to COM8
    static constexpr int TrendCapacity = 10000;
    static constexpr int LoggerPanel = 9; // the one status panel nothing else writes
    static constexpr int TemperaturePanel = 5; // a report's or a waveform block's temperature
    // Captions of the Run and Acquire buttons in their states.
    static constexpr char RunCaption[] = "Run";
    static constexpr char StopCaption[] = "Stop";
    static constexpr char AcquireCaption[] = "Acquire";
    static constexpr char AcquireWaitCaption[] = "Wait ...";
    // The stretch of each channel the Waveform page shows.
    static constexpr int WaveViewFirst = 540;
    static constexpr int WaveViewCount = 512;
    // A Run that has had no report for this long says so.
    static constexpr uint32_t NoReplyMs = 1000;

    // Window events
    void FormCreate();
    void FormShow();
    void FormClose();

    // Navigation and menus
    void mmExitClick();
    void mmTimeOfFlightClick();
    void mmWaveformClick();
    void mmCommunicationClick();
    void mmUsersGuideClick();
    void mmAboutClick();
    void mmApplyFilterClick();
    void mmSavePhaseDataClick();
    void mmSaveTOFDataClick();

    // COM port setup and connection
    TComm *OpenPort(int index);
    void ClosePort();
    void mmComPortClick();
    void UD_ComPortChanging(int newPosition);
    void BBtnComOKClick();
    void BBtnComCancelClick();

    // Commands and the receive path (bound to the serial component's receive event)
    void mmCommandClick(QObject *Sender);
    void SendCommand(char letter);
    void CommReceiveData(QObject *Sender);
    bool CheckDifferenceReport();
    bool CheckMeanReport();
    // Computes every whole record at the front of FLineBuffer, of either kind, in order; a record
    // with a field that cannot be read is counted instead. True when one was taken.
    bool TakeReports();
    void ParseWaveHeader();
    void ParseWaveBlock();
    void AppendComLog(const QByteArray &chunk);
    void ClearComLog();
    // Adds sample lines to MemoData in one go, emptying it first when it is full.
    void AppendDataLines(const QByteArrayList &lines);
    void MemoDblClick(QObject *Sender);
    void CommReceiveError(QObject *Sender, uint32_t EventMask);

    // Run and Acquire control, and the arctangent timing test (reached by ScTestATan only). Each
    // returns at once; the Run, the acquisition and the test go on from the event loop.
    void TB_RunClick(QObject *Sender);
    void TB_AcquireClick(QObject *Sender);
    void mmTestATanClick(QObject *Sender);
    // Whether a Run (with the last cycle of a stopped one), an acquisition or the test still goes on.
    bool Busy() const { return FLoopState != TLoopState::Idle; }

    // Time-of-flight computation, its batches, the trend and the logs
    static double PhaseAngle(int32_t a, int32_t b);
    void ComputeMeasurement();
    // Filters the batch as set, appends it to the trend and the log lines, and redraws the gauge.
    void ProcessBatch();
    // The same for a batch that is not full yet, when there is one.
    void FinishBatch();
    // At exit: the open batch, then the log lines still being built, go to the loggers.
    void WriteOpenLines();
    void RemoveOutliers();
    void BandFilter();
    void AppendTrend();
    void ClearTrend();
    void LogTimeOfFlight();
    void LogPhase();
    void SetupLoggers();
    void SetupGauge();
    // Bound to both loggers: a failing write is shown in status panel 9 until it succeeds again.
    void LoggerWriteError(QObject *Sender, const QString &fileName, const QString &error);
    void LoggerWriteRecovered(QObject *Sender);
    // At exit: writes what a logger still holds, else saves it in a time-stamped file beside its
    // file or in the user's data folder, and tells the operator how many lines went where.
    void RescueLoggerLines(TDataLogger *logger);

    // Layout of the pages when they change size
    void TS_MainResize();
    void TS_LogResize();
    void PanelImageResize();

    // The Waveform page
    void RebuildChartBitmap();
    void RedrawWaveforms();
    // Moves the chart's cursor to the sample under the pointer and shows the sample's index and
    // both channels' values in the chart's tool tip.
    void ImageChartMouseMove(int32_t x, int32_t y);

    // Waveform files (File menu)
    void mmLoadClick();
    void mmSaveClick();

    // Status bar
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString &text);

    // State, readable by the operations of later steps and by tests
    TComm *FComm = nullptr;
    int32_t FPortIndex = 0;
    uint8_t FReceiveState = 0;
    bool FReplyDone = false;
    char FCommandLetter = 0;
    QByteArray FLineBuffer;
    QByteArray FWaveBuffer;
    int32_t FWaveCount = 0;
    int32_t FBigCount = 0, FM1 = 0, FM2 = 0;
    float FTemperature = 0;
    float FPhaseRad = 0, FPhaseDeg = 0, FTimeOfFlight = 0;
    int32_t FBigTime = 0, FM1Avg = 0, FM2Avg = 0;
    TCircularBuffer<int32_t> *FM1Ring = nullptr;
    TCircularBuffer<int32_t> *FM2Ring = nullptr;
    TCircularBuffer<float> *FPhaseRing = nullptr;
    TCircularBuffer<float> *FTOFRing = nullptr;
    std::vector<std::unique_ptr<float>> *FTrend = nullptr;
    QPointer<TDataLogger> FPhaseLogger;
    QPointer<TDataLogger> FTOFLogger;
    Measurement::TLogLine FPhaseLine, FTOFLine; // lines being built, with their value counts
    TGauge *FGauge = nullptr;
    TCISChart *FChart = nullptr;
    QImage *FChartBitmap = nullptr; // 8 bits per pixel, the size of ImageChart
    bool FApplyFilter = false, FSavePhaseData = false, FSaveTOFData = false;
    bool FRunning = false;
    // Run cycles and computed reports since the window was made (the headless mode's progress).
    int64_t FRunCycleCount = 0;
    int64_t FReportCount = 0;
    // Reports asked for ("x", "z") that have not come yet: their text is still taken when it
    // comes late, in whatever state the next command left.
    int32_t FRepliesAwaited = 0;
    // Reports refused since the Run started: a field the computation needs could not be read.
    int64_t FRefusedCount = 0;
    // When the last report came (or the Run started), and whether the Main page says none comes.
    uint32_t FLastReplyTick = 0;
    QTime FLastReplyTime;
    bool FNoReply = false;
    // Lines of the waveform block received after its header in the last acquisition.
    int32_t FWaveLines = 0;
    TChannel FChannel1{};
    TChannel FChannel2{};

    // Widgets, named as the operator's window shows them
    QToolBar *ToolBar1 = nullptr;
    QToolButton *TB_Exit = nullptr, *TB_TimeOfFlight = nullptr, *TB_Waveform = nullptr,
                *TB_Communcation = nullptr, *TB_Acquire = nullptr, *TB_Run = nullptr,
                *TB_UsersGuide = nullptr;
    QTabWidget *PageControl1 = nullptr;
    QWidget *TS_Main = nullptr, *TS_RS232 = nullptr, *TS_Waveform = nullptr, *TS_Log = nullptr;
    QLabel *LabelTimeOfFlight = nullptr, *LabelBigTime = nullptr, *LabelBTUnit = nullptr,
           *LabelSmallTime = nullptr, *LabelSTUnit = nullptr, *LabelTOF = nullptr, *LabelTOFUnit = nullptr;
    // Under the values: a Run without replies, and reports refused as unreadable.
    QLabel *LabelNoReply = nullptr, *LabelRefused = nullptr;
    QFrame *PanelGauge = nullptr, *PanelImage = nullptr;
    TImage *ImageChart = nullptr;
    TMemo *MemoComLog = nullptr, *MemoData = nullptr;
    QGroupBox *GBox_Com = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr, *Label5 = nullptr,
           *Label6 = nullptr, *Label7 = nullptr;
    QComboBox *CB_Port = nullptr, *CB_BaudRate = nullptr, *CB_DataBits = nullptr, *CB_Parity = nullptr,
              *CB_StopBit = nullptr, *CB_HWHS = nullptr, *CB_SWHS = nullptr;
    TUpDown *UD_ComPort = nullptr;
    QPushButton *BBtnComCancel = nullptr, *BBtnComOK = nullptr;
    QAction *mmLoad = nullptr, *mmSave = nullptr, *mmPrint = nullptr, *mmExit = nullptr;
    QAction *mmComPort = nullptr, *mmApplyFilter = nullptr, *mmSavePhaseData = nullptr, *mmSaveTOFData = nullptr;
    QMenu *mmOptions = nullptr;
    QAction *mmTimeOfFlight = nullptr, *mmWaveform = nullptr, *mmCommunication = nullptr;
    QMenu *mmRun = nullptr;
    QAction *mmTestATan = nullptr;
    QShortcut *ScTestATan = nullptr; // Ctrl+Alt+Shift+A: the test's only way in
    QMenu *mmCommand = nullptr;
    QAction *mmMenu = nullptr, *mmAcquire = nullptr, *mmTransmit = nullptr, *mmParameters = nullptr,
            *mmProgram = nullptr, *mmKeypad = nullptr, *mmNewPars = nullptr, *mmSendData = nullptr,
            *mmTemperature = nullptr, *mmAveragedData = nullptr, *mmAnalyzeData = nullptr,
            *mmAnalyzeAcquired = nullptr;
    QAction *mmUsersGuide = nullptr, *mmAbout = nullptr;
    std::array<QLabel *, StatusPanelCount> StatusPanels{};
    // A line above the panels, shown while a log cannot be written: panel 9 lies past the edge of
    // a window narrower than the ten panels.
    QLabel *LabelLogError = nullptr;
    QTimer *TimerClock = nullptr;
    QVector<QIcon> ImageTB;

    // Tag of a menu item or tool button (the letter's place in the alphabet for commands).
    static int Tag(const QObject *item);
    // Index of the ImageTB image a tool button shows.
    static int ImageIndex(const QToolButton *button);
    void SetImageIndex(QToolButton *button, int index);

    // The tool bar is part of the window, not something to hide: no menu offers to.
    QMenu *createPopupMenu() override { return nullptr; }

signals:
    // A Run or the arctangent test has ended (stopped, its port lost, the window closed) and no new
    // Run took over; a Run's open batch is processed and the loggers are flushed by then.
    void RunEnded();
    // An acquisition has ended: its block drawn, or what came of it told.
    void AcquireEnded();
    // The receive handler has taken a chunk; a reply or a whole block may end a wait now.
    void ReceiveHandled();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // What the Run, the acquisition and the test are doing; each step runs from FLoopTimer.
    enum class TLoopState {
        Idle,
        RunCommanded,   // "a" sent; the analyse command follows after one pass of the event loop
        RunFirstPass,   // analyse command sent; a reply handled in this pass ends the wait with no poll
        RunPolling,     // polls of 1 ms until the reply or the 41st poll
        RunBatchPass,   // 100 cycles done; one pass of the event loop before the next cycle
        RunEnding,      // stopped or its port closed: the Run ends at the next step
        AcquireWaiting, // polls of 5 ms while the block comes
        AcquireEnding,  // its port closed: what came is handled at the next step
        Testing,        // one batch of the arctangent test at each step
        TestEnding,     // stopped by a Run click: ends at the next step
    };

    void RunStart();
    void RunStop();
    void FlushLoggers();
    // The loop steps and the events that change their state.
    void ArmLoop(int ms);
    void LoopStep();
    void LoopReceived();
    void StopLoop();
    void LoopPortClosed();
    void LoopWindowClosed();
    // Tells the loss of the port once whatever used it has ended and the window is idle again.
    void TellWhenIdle(const QString &text);
    void BeginRun();
    void BeginCycle();
    void SendAnalyze();
    void EndReplyWait();
    void ShowCycle();
    void EndRun();
    void TakeOverOrEnd();
    void EndAcquire();
    void TestBatch();
    bool CheckReports(int limit);
    void ShowRefusedCount();
    // Shows the no-reply warning once the last report is older than NoReplyMs.
    void CheckReplyAge();
    void ShowReplyWarning(bool silent);
    // Ends the Acquire wait: stores a whole block, else keeps the channels and says what came.
    void FinishAcquire();
    void SetLoopControlsEnabled(bool enabled);

    void CreateToolBar();
    void CreateMenus();
    void CreatePages();
    void CreateMainPage();
    void CreateRS232Page();
    void CreateStatusBar();
    void ShowComPortPage();
    void CopyOptions();
    void RemoveLoggerError(QObject *logger);
    void ShowLoggerErrors();
    QAction *AddCommandItem(const QString &name, const QString &caption, int tag, bool shown);

    TComDeviceFactory FDeviceFactory;
    TComLogText FComLogText;
    QList<QPair<QObject *, QString>> FLoggerErrors; // failing loggers and their texts, oldest first
    QList<QPointer<TComm>> FClosedComms; // closed, freed once their own calls have returned
    bool FShown = false;
    bool FClosed = false;
    uint64_t FReceivedCount = 0; // bytes received since the window opened
    // The loops' state: n and m of the Run cycle, the polls of the Acquire wait, and when the
    // current batch of cycles, the test's batch or the last received byte began or came.
    TLoopState FLoopState = TLoopState::Idle;
    QTimer *FLoopTimer = nullptr;
    int32_t FCycle = 0;
    int32_t FPolls = 0;
    uint32_t FLoopStart = 0;
    uint64_t FAcquireReceived = 0;
    bool FAcquireArriving = false;
};
