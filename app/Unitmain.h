#pragma once
// TFormMain: the one main window. It owns the widgets, the chart and the gauge, and the
// measurement engine whose reports it draws; its handlers forward the operator's clicks.

#include "app/ComLogText.h"
#include "app/Memo.h"
#include "display/ZoomRange.h"
#include "engine/Engine.h"

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
class TLineStrip;
class QMenu;
class QPushButton;
class QShortcut;
class QTabWidget;
class QTimer;
class QToolBar;
class QToolButton;
class TUpDown;
class TGauge;
class TCISChart;
class TImage;
class QImage;
class TSettings;
class TNoticeBoxes;
class TPublisher;
class TPublishingDialog;
struct TPublishOptions;
class TStatisticsView;
class TWavePanel;

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    // deviceFactory: how each new serial component makes its device; empty = the real port.
    // settings: what the window keeps between runs, read at start and written as it changes;
    // none: nothing is kept. It must outlive the window.
    // portEnumerator: the serial devices offered on the COM Port page and watched for a lost port
    // to come back (not owned); null = the system's.
    explicit TFormMain(QWidget *parent = nullptr, TComDeviceFactory deviceFactory = {},
                       TSettings *settings = nullptr, TPortEnumerator *portEnumerator = nullptr);
    ~TFormMain() override;

    static constexpr int ChannelLength = ::ChannelLength;
    static constexpr int StatusPanelCount = ::StatusPanelCount;
    static constexpr int PortCount = TEngine::PortCount;
    // The screen shows at most one frame this often (ms): what changes faster is drawn once a frame.
    static constexpr int FrameMs = 16;
    // The status texts (the panels and the Main page's values) at the log's pace: shaping and
    // repainting text is dearer than the eye can use at the report rate; the last value wins.
    static constexpr int TextFrameMs = TMemo::FrameMs;
    // Captions of the Run and Acquire buttons in their states.
    static constexpr char RunCaption[] = "Run";
    static constexpr char StopCaption[] = "Stop";
    static constexpr char AcquireCaption[] = "Acquire";
    static constexpr char AcquireWaitCaption[] = "Wait ...";

    // Window events
    void FormCreate();
    void FormShow();
    void FormClose();
    // Shows the engine's notices that wait for the event loop at once, in order (the window
    // closes, or no one may be at the screen to see them later).
    void ShowNotices();

    // Navigation and menus
    void mmExitClick();
    void mmTimeOfFlightClick();
    void mmWaveformClick();
    void mmCommunicationClick();
    void mmStatisticsClick();
    // File > Open Measurements...: a Measurements.csv shown on the Statistics page.
    void mmOpenMeasurementsClick();
    void mmUsersGuideClick();
    void mmAboutClick();
    void mmApplyFilterClick();
    void mmSavePhaseDataClick();
    void mmSaveTOFDataClick();
    void mmSaveMeasurementsClick();
    void mmSaveStatisticsClick();
    // File menu: the folder the logs go to, chosen in a folder dialog.
    void mmLogFolderClick();
    // File menu: the broker the reports go to (PublishingDialog, opened without waiting for it).
    void mmPublishingClick();

    // COM port setup and connection
    TComm *OpenPort(int index);
    void ClosePort();
    void mmComPortClick();
    void UD_ComPortChanging(int newPosition);
    void BBtnComOKClick();
    void BBtnComCancelClick();
    // The entries the Port box's list shows now (COM names whose device is there, system devices,
    // devices typed before), top to bottom.
    QStringList ListedPorts() const;

    // Commands, and what the engine received
    void mmCommandClick(QObject *Sender);
    void AppendComLog(const QByteArray &chunk);
    void ClearComLog();
    // Adds sample lines to MemoData in one go, emptying it first when it is full.
    void AppendDataLines(const QByteArrayList &lines);
    void MemoDblClick(QObject *Sender);

    // Run and Acquire control, and the arctangent timing test (reached by ScTestATan only). Each
    // returns at once; the Run, the acquisition and the test go on from the event loop.
    void TB_RunClick(QObject *Sender);
    void TB_AcquireClick(QObject *Sender);
    void mmTestATanClick(QObject *Sender);
    // Whether a Run (with the last cycle of a stopped one), an acquisition or the test still goes on.
    bool Busy() const { return FEngine->Busy(); }

    void SetupGauge();

    // Layout of the pages when they change size
    void TS_MainResize();
    void TS_LogResize();
    void TS_RS232Resize();
    // The window may not get smaller than this: every page's texts and controls still fit.
    static constexpr int MinimumWidth = 600, MinimumHeight = 440;
    // The lowest COM Port page that shows every row and the buttons.
    static constexpr int MinimumRS232Height = 300;
    void PanelImageResize();

    // The Waveform page
    void RebuildChartBitmap();
    void RedrawWaveforms();
    // Moves the chart's cursor to the sample under the pointer, on the curve nearer the pointer,
    // and shows the sample's index and both channels' values in the chart's tool tip.
    void ImageChartMouseMove(int32_t x, int32_t y);
    int WaveFirst() const;
    int WaveCount() const;

    // Waveform files (File menu)
    void mmLoadClick();
    void mmSaveClick();
    void mmSaveComLogClick();

    // Status bar. A panel's text as it stands; its label shows it by the next frame.
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString &text);
    // What a panel shows, as its tool tip says it.
    static QString StatusPanelTip(int index);

    // The measurement, and what the window draws with it
    TEngine *FEngine = nullptr;
    TGauge *FGauge = nullptr;
    TCISChart *FChart = nullptr;
    std::unique_ptr<QImage> FChartBitmap; // 8 bits per pixel, the size of ImageChart

    // Widgets, named as the operator's window shows them
    QToolBar *ToolBar1 = nullptr;
    QToolButton *TB_Exit = nullptr, *TB_TimeOfFlight = nullptr, *TB_Waveform = nullptr,
                *TB_Communcation = nullptr, *TB_Acquire = nullptr, *TB_Run = nullptr,
                *TB_UsersGuide = nullptr;
    QTabWidget *PageControl1 = nullptr;
    QWidget *TS_Main = nullptr, *TS_RS232 = nullptr, *TS_Waveform = nullptr, *TS_Log = nullptr;
    TStatisticsView *TS_Statistics = nullptr;
    QToolButton *TB_Statistics = nullptr;
    QAction *mmStatistics = nullptr, *mmOpenMeasurements = nullptr;
    QLabel *LabelTimeOfFlight = nullptr, *LabelBigTime = nullptr, *LabelBTUnit = nullptr,
           *LabelSmallTime = nullptr, *LabelSTUnit = nullptr, *LabelTOF = nullptr, *LabelTOFUnit = nullptr;
    // Under the values: a Run without replies, and reports refused as unreadable.
    QLabel *LabelNoReply = nullptr, *LabelRefused = nullptr;
    // Under the gauge: where the logs go; each one's full path on the pointer.
    QLabel *LabelLogFiles = nullptr;
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
    QAction *mmLogFolder = nullptr, *mmPublishing = nullptr;
    // Under the panels while reports are published: the broker's state ("MQTT: connected to ...").
    QLabel *LabelMqtt = nullptr;
    // Publishes every report while a broker is chosen; the dialog while it is open.
    TPublisher *FPublisher = nullptr;
    QPointer<TPublishingDialog> PublishingDialog;
    QAction *mmComPort = nullptr, *mmApplyFilter = nullptr, *mmSavePhaseData = nullptr, *mmSaveTOFData = nullptr,
            *mmSaveMeasurements = nullptr, *mmSaveStatistics = nullptr;
    QMenu *mmOptions = nullptr;
    QAction *mmTimeOfFlight = nullptr, *mmWaveform = nullptr, *mmCommunication = nullptr;
    QAction *mmSaveComLog = nullptr, *mmTimeStamps = nullptr;
    // Measure: Run/Stop (F5) and Acquire (F6), enabled as their tool buttons are.
    QMenu *mmMeasure = nullptr;
    QAction *mmRunStop = nullptr, *mmAcquireWave = nullptr;
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
    // Widths of the panels; the last one also takes what is left of its row.
    static constexpr int StatusPanelWidths[StatusPanelCount] = {120, 120, 120, 100, 100, 100, 40, 40, 100, 80};
    // A line above the panels, shown while a log cannot be written: panel 9 lies past the edge of
    // a window narrower than the ten panels.
    QLabel *LabelLogError = nullptr;
    // A note on the port that needs no answer ("COM1 is back: ..."), for a while.
    QLabel *LabelPortNote = nullptr;
    QLabel *LabelNoPort = nullptr; // "No port open", while there is none
    // The port, its device and settings or its loss, and the link's health, in a row of its own.
    TLineStrip *LineStrip = nullptr;
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
    bool event(QEvent *event) override;

private:
    // What the engine computed, drawn: the labels of the Main page, the warnings.
    // The last report computed, drawn at the next frame.
    void ShowReport();
    void ShowRefusedCount(int64_t refused);
    void ShowReplyWarning(bool silent);
    void ShowValuesLive();
    // A failing log is shown in status panel 9 and on the line above the panels until it is
    // written again.
    void LoggerWriteError(QObject *Sender, const QString &fileName, const QString &error);
    void LoggerWriteRecovered(QObject *Sender);
    // What the Run, the acquisition and the test are doing; each step runs from FLoopTimer.

    void RunStart();
    void RunStop();
    // The Acquire wait has ended: a whole block is drawn; the buttons and menus are back.
    void FinishAcquire(bool whole);
    void SetLoopControlsEnabled(bool enabled);

    void CreateToolBar();
    void CreateMenus();
    void CreatePages();
    void CreateMainPage();
    void CreateRS232Page();
    void CreateStatisticsPage();
    // The operator's wheel, drag, double-click or key on the waveform chart: true when it zoomed or panned.
    bool WaveChartEvent(QEvent *event);
    void LayoutMainLabels();
    void SetTabOrder();
    // Whether the keyboard focus is in a text of this window that the operator can select.
    bool InSelectableText() const;
    void CreateStatusBar();
    void LayoutStatusPanels();
    static constexpr int StatusPanelGap = 1;
    static constexpr int StatusGripReserve = 26;
    static constexpr int StatusPanelMinimumLast = 16; // narrower, its frame would not read as a panel
    void ShowComPortPage();
    void SetupPortBox();
    void FillPortBox();
    void ShowPortNote(const QString &text);
    void ShowPortState();
    void CopyOptions();
    // The Options menu's switches, which the engine follows, and with the View menu's time stamps
    // the switches kept between runs.
    QList<QAction *> OptionSwitches() const;
    QList<QAction *> KeptSwitches() const;
    // Opens the port kept from the last run when it is still there (else the operator is told
    // it is not), or COM1.
    void OpenStartPort();
    void RestoreSettings();
    void RestorePage();
    void KeepOptions();
    void SaveWindowSettings();
    void ShowLogFiles();
    void RemoveLoggerError(QObject *logger);
    void ShowLoggerErrors();
    QAction *AddCommandItem(const TCommandEntry &entry);
    // Publishing: started from the command line's choice or the kept one, shown in LabelMqtt;
    // at the end the broker gets its few seconds for what waits.
    void SetupPublishing();
    void StartPublishing(const TPublishOptions &options);
    QString PublishDevice() const;
    void ShowPublishState();
    void FinishPublishing();

    // What the engine reports comes far more often than the screen shows a frame: the panels,
    // the Main page's values and the gauge are drawn once a frame with the newest state, and at
    // once when a Run or an acquisition ends.
    void ScheduleFrame();
    void ScheduleTextFrame();
    // Everything due, texts and gauge: at the end of a Run.
    void DrawFrame();
    void DrawGauge();
    void DrawTexts();
    void ShowPanel(int index);

    // The stretch of the channels the chart shows: all of the view's, or what the operator zoomed to.
    TZoomRange FWaveZoom;
    // An Acquire stored samples in the channels, or a file was loaded into them; until then
    // Save Waveform asks before it writes the starting flat line.
    bool FWaveformHeld = false;
    TSettings *FSettings = nullptr;
    // The engine's notices, each shown in its box from the event loop.
    TNoticeBoxes *FNotices = nullptr;
    QWidget *StatusStrip = nullptr;
    TComLogText FComLogText;
    QTimer *FPortNoteTimer = nullptr;
    QTimer *FFrameTimer = nullptr;
    QTimer *FTextTimer = nullptr;
    std::array<QString, StatusPanelCount> FPanelTexts;
    uint32_t FPanelsDue = 0; // one bit a panel
    static_assert(StatusPanelCount <= 32, "a bit for each panel");
    bool FReportDue = false;
    bool FReportShown = false; // the values are the instrument's, not the design texts
    bool FSilent = false;      // the instrument has not replied for a while
    TReport FShownReport;
    bool FGaugeDue = false;
    QList<QPair<QObject *, QString>> FLoggerErrors; // failing loggers and their texts, oldest first
    bool FShown = false;
    bool FClosed = false;
};
