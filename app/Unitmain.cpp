// TFormMain: creation, release, navigation and page layout.

#include "app/Unitmain.h"
#include "app/StatisticsView.h"

#include "app/NoticeBoxes.h"
#include "app/ToolBarImages.h"
#include "display/Cgauge.h"
#include "display/Cischart.h"
#include "display/Image.h"
#include "guide/Unitmanual.h"
#include "platform/Platform.h"
#include "platform/ScreenFit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTextEdit>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

TFormMain::TFormMain(QWidget *parent, TComDeviceFactory deviceFactory, TSettings *settings,
                     TPortEnumerator *portEnumerator)
    : QMainWindow(parent), FEngine(new TEngine(std::move(deviceFactory), this)), FSettings(settings)
{
    FEngine->SetPortEnumerator(portEnumerator ? portEnumerator : new TSystemPortEnumerator(FEngine));
    // From the first, the port opened at the start: what the engine tells shows once its call returned.
    FNotices = new TNoticeBoxes(this);
    connect(FEngine, &TEngine::Notice, FNotices, &TNoticeBoxes::Post);
    setObjectName("FormMain");
    setWindowTitle("Zarn Monitor");
    QFont windowFont("MS Sans Serif");
    windowFont.setPixelSize(11);
    setFont(windowFont);
    // Below this the labels of the Main page and the setup page are cut off.
    setMinimumSize(MinimumWidth, MinimumHeight);

    CreateToolBar();
    CreateMenus();
    CreatePages();
    CreateStatusBar();
    SetTabOrder();
    // The check mark of Edit > COM Port stands for the setup page being shown, however the page
    // was left (OK, Cancel, the View menu, the tool bar).
    connect(PageControl1, &QTabWidget::currentChanged, this,
            [this] { mmComPort->setChecked(PageControl1->currentWidget() == TS_RS232); });
    // No larger than the screens: the back buffer follows the window's size.
    Platform::BoundToScreens(this);
    // The design's place and size where the screen has room, else as much as it has.
    Platform::FitToScreen(this, QSize(907, 669), QPoint(90, 79));
    // The status panels' rows, for the width the window opens at.
    LayoutStatusPanels();

    FormCreate();
}

TFormMain::~TFormMain()
{
    // The window may be destroyed without ever being closed (a test, or an aborted start).
    FormClose();
}

void TFormMain::FormCreate()
{
    // 0. The frame clock: one drawing of what changed at most every frame.
    FFrameTimer = new QTimer(this);
    FFrameTimer->setSingleShot(true);
    FFrameTimer->setInterval(FrameMs);
    connect(FFrameTimer, &QTimer::timeout, this, &TFormMain::DrawGauge);
    FTextTimer = new QTimer(this);
    FTextTimer->setSingleShot(true);
    FTextTimer->setInterval(TextFrameMs);
    connect(FTextTimer, &QTimer::timeout, this, &TFormMain::DrawTexts);

    // 1. The port: COM1 at start (or the one kept from the last run); the program goes on without
    // one when it cannot be opened.
    connect(FEngine, &TEngine::PortStateChanged, this, &TFormMain::ShowPortState);
    OpenStartPort();
    ShowPortState();
    // What opening it had to say is shown before the window appears, as the start's box always
    // was; from here on notices wait for the event loop.
    ShowNotices();

    // 2. What the engine measures and receives, drawn as it comes. Its rings, trend and logs
    // were made with it.
    connect(FEngine, &TEngine::Received, this, &TFormMain::AppendComLog);
    connect(FEngine, &TEngine::ReceiveHandled, this, &TFormMain::ReceiveHandled);
    // The cycles: the buttons and menus follow them.
    connect(FEngine, &TEngine::RunningChanged, this, [this](bool running) { running ? RunStart() : RunStop(); });
    connect(FEngine, &TEngine::RunEnded, this, [this] {
        DrawFrame(); // the Run's last state, shown before anyone hears it ended
        emit RunEnded();
    });
    connect(FEngine, &TEngine::AcquireEnded, this, &TFormMain::FinishAcquire);
    connect(FEngine, &TEngine::ReportComputed, this, [this](const TReport &report) {
        FShownReport = report;
        FReportDue = true;
        // The first values replace the grey design texts at once.
        if (!FReportShown)
            DrawTexts();
        else
            ScheduleTextFrame();
    });
    connect(FEngine, &TEngine::BatchProcessed, this, [this] {
        FGaugeDue = true;
        ScheduleFrame();
    });
    connect(FEngine, &TEngine::PanelChanged, this, &TFormMain::SetPanelText);
    connect(FEngine, &TEngine::RefusedChanged, this, &TFormMain::ShowRefusedCount);
    connect(FEngine, &TEngine::ReplyWarningChanged, this, &TFormMain::ShowReplyWarning);
    connect(FEngine, &TEngine::BlockParsed, this, &TFormMain::AppendDataLines);
    connect(FEngine, &TEngine::PortNote, this, &TFormMain::ShowPortNote);
    connect(FEngine, &TEngine::LoggerFailing, this, &TFormMain::LoggerWriteError);
    connect(FEngine, &TEngine::LoggerRecovered, this, &TFormMain::LoggerWriteRecovered);

    // 3. The chart bitmap.
    FChartBitmap = nullptr;
    RebuildChartBitmap();
    // 4. The chart, drawing on the picture of ImageChart.
    FChart = new TCISChart(this, ImageChart->Canvas());
    FChart->SetPosition(0, 0, FChartBitmap->width(), FChartBitmap->height());
    FChart->SetBackgroundColor(clNavy);
    // 5. The channels as they are (mid-scale); drawn again when the page takes its size.
    RedrawWaveforms();

    // 6. The gauge.
    SetupGauge();

    // What was kept from the last run: the options, the log folder, the window's place.
    RestoreSettings();
    SetupPublishing();
}

void TFormMain::FormShow()
{
    PageControl1->tabBar()->setVisible(false);
    PageControl1->setCurrentWidget(TS_Main);
    RestorePage();
}

void TFormMain::FormClose()
{
    if (FClosed)
        return;
    FClosed = true;
    SaveWindowSettings();
    FFrameTimer->stop();
    FTextTimer->stop();
    // A Run, acquisition or test still going ends before anything is released below.
    FEngine->StopCycles();
    // Nothing computed stays behind: the open batch (drawn while the gauge is there) and the
    // shorter last lines go to the loggers.
    FEngine->WriteOpenLines();
    FinishPublishing();
    // 1. The gauge, which draws the engine's trend.
    delete FGauge;
    FGauge = nullptr;
    // 2. The engine: loggers (their lines written or rescued), trend, port. What it told
    // is shown now: the event loop may end with the window.
    FEngine->Close();
    ShowNotices();
    // 3. The chart, then its bitmap.
    delete FChart;
    FChart = nullptr;
    FChartBitmap.reset();
}

void TFormMain::ShowNotices()
{
    FNotices->ShowAll();
}

void TFormMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!FShown) {
        FShown = true;
        FormShow();
    }
}

void TFormMain::closeEvent(QCloseEvent *event)
{
    FormClose();
    event->accept();
}

void TFormMain::SetTabOrder()
{
    // Each page's own controls first, in reading order, then the tool bar, and round again;
    // controls of the pages not shown are passed over.
    const QList<QWidget *> chain = QList<QWidget *>{CB_Port, BBtnComCancel, BBtnComOK, MemoComLog, MemoData, ImageChart} +
                                   TS_Statistics->FocusChain() +
                                   QList<QWidget *>{TB_Exit, TB_TimeOfFlight, TB_Waveform, TB_Communcation,
                                                    TB_Statistics, TB_Acquire, TB_Run, TB_UsersGuide};
    for (QWidget *w : chain)
        if (w->focusPolicy() == Qt::NoFocus)
            w->setFocusPolicy(Qt::TabFocus);
    for (qsizetype i = 0; i + 1 < chain.size(); ++i)
        setTabOrder(chain[i], chain[i + 1]);
    // The page control's tabs are hidden: nothing of it takes the focus.
    PageControl1->setFocusPolicy(Qt::NoFocus);
}

bool TFormMain::InSelectableText() const
{
    const QWidget *focus = QApplication::focusWidget();
    if (!focus || focus->window() != this)
        return false;
    return focus == MemoComLog || focus == MemoData ||
           qobject_cast<const QTextEdit *>(focus) || qobject_cast<const QLineEdit *>(focus);
}

bool TFormMain::event(QEvent *event)
{
    // In a text the operator can select, Ctrl+A, Ctrl+C and the other command keys belong to the
    // text, not to the instrument: the key goes on to the text instead of sending a command.
    // The Commands menu still sends every command.
    if (event->type() == QEvent::ShortcutOverride && InSelectableText()) {
        const QKeySequence keys(static_cast<QKeyEvent *>(event)->keyCombination());
        for (const QAction *item : mmCommand->actions())
            if (!item->shortcut().isEmpty() && item->shortcut() == keys) {
                event->accept();
                return true;
            }
    }
    return QMainWindow::event(event);
}

bool TFormMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ImageChart && WaveChartEvent(event))
        return true;
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == MemoComLog->viewport())
            MemoDblClick(MemoComLog);
        else if (watched == MemoData->viewport())
            MemoDblClick(MemoData);
    }
    if (event->type() == QEvent::EnabledChange) {
        // Whoever enables or disables a Run or Acquire button, its Measure item follows.
        if (watched == TB_Run)
            mmRunStop->setEnabled(TB_Run->isEnabled());
        else if (watched == TB_Acquire)
            mmAcquireWave->setEnabled(TB_Acquire->isEnabled());
    }
    if (event->type() == QEvent::MouseMove && watched == ImageChart) {
        const QPoint at = static_cast<QMouseEvent *>(event)->position().toPoint();
        ImageChartMouseMove(at.x(), at.y());
    }
    if (event->type() == QEvent::Resize) {
        if (watched == TS_Main)
            TS_MainResize();
        else if (watched == TS_Log)
            TS_LogResize();
        else if (watched == PanelImage)
            PanelImageResize();
        else if (watched == TS_Waveform)
            PanelImage->setGeometry(TS_Waveform->rect());
        else if (watched == TS_RS232)
            TS_RS232Resize();
        else if (watched == StatusStrip)
            LayoutStatusPanels();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormMain::MemoDblClick(QObject *Sender)
{
    if (Sender == MemoComLog)
        ClearComLog();
    else if (auto *memo = qobject_cast<TMemo *>(Sender))
        memo->clear();
}

void TFormMain::mmExitClick()
{
    close();
}

void TFormMain::mmTimeOfFlightClick()
{
    PageControl1->setCurrentWidget(TS_Main);
}

void TFormMain::mmWaveformClick()
{
    PageControl1->setCurrentWidget(TS_Waveform);
}

void TFormMain::mmCommunicationClick()
{
    PageControl1->setCurrentWidget(TS_Log);
}

void TFormMain::mmUsersGuideClick()
{
    TFormManual form(nullptr, QStringLiteral("User's Guide..."), TFormManual::GuidePage);
    form.exec();
}

void TFormMain::mmAboutClick()
{
    TFormManual form(nullptr, QStringLiteral("About ZarnMonitor..."), TFormManual::AboutPage);
    form.exec();
}

void TFormMain::mmApplyFilterClick()
{
    mmApplyFilter->setChecked(!mmApplyFilter->isChecked());
    CopyOptions();
}

void TFormMain::mmSavePhaseDataClick()
{
    mmSavePhaseData->setChecked(!mmSavePhaseData->isChecked());
    CopyOptions();
}

void TFormMain::mmSaveTOFDataClick()
{
    mmSaveTOFData->setChecked(!mmSaveTOFData->isChecked());
    CopyOptions();
}

void TFormMain::mmSaveMeasurementsClick()
{
    mmSaveMeasurements->setChecked(!mmSaveMeasurements->isChecked());
    CopyOptions();
}

void TFormMain::mmSaveStatisticsClick()
{
    mmSaveStatistics->setChecked(!mmSaveStatistics->isChecked());
    CopyOptions();
}

void TFormMain::CopyOptions()
{
    TEngineOptions options = FEngine->Options();
    options.ApplyFilter = mmApplyFilter->isChecked();
    options.SavePhaseData = mmSavePhaseData->isChecked();
    options.SaveTOFData = mmSaveTOFData->isChecked();
    options.SaveMeasurements = mmSaveMeasurements->isChecked();
    options.SaveStatistics = mmSaveStatistics->isChecked();
    FEngine->SetOptions(options);
    KeepOptions();
}

void TFormMain::TS_MainResize()
{
    LayoutMainLabels();
    const int w = TS_Main->width();
    const int h = TS_Main->height();
    PanelGauge->setGeometry(40, 128, qMax(0, w - 80), qMax(0, h - 168));
    LabelLogFiles->setGeometry(40, PanelGauge->y() + PanelGauge->height() + 4, qMax(0, w - 80), LabelLogFiles->height());
    ShowLogFiles(); // its folder shortened to the new width, when it must be
    if (FGauge) {
        FGauge->move(0, 0);
        FGauge->ChangeSize(PanelGauge->width(), PanelGauge->height());
        // The new picture starts empty; the trend it held is drawn again at once.
        FGauge->UpdateDisplay();
    }
}

void TFormMain::TS_LogResize()
{
    const int w = TS_Log->width();
    const int h = TS_Log->height();
    // Integer division truncates toward zero, as the layout arithmetic expects.
    const int memoWidth = (w - 120) / 2;
    MemoComLog->setGeometry(40, 40, qMax(0, memoWidth), qMax(0, h - 80));
    MemoData->setGeometry(MemoComLog->x() + MemoComLog->width() + 40, 40, qMax(0, memoWidth), qMax(0, h - 80));
}

void TFormMain::PanelImageResize()
{
    ImageChart->setGeometry(20, 20, qMax(0, PanelImage->width() - 40), qMax(0, PanelImage->height() - 40));
    RebuildChartBitmap();
    if (FChart && FChartBitmap)
        FChart->SetPosition(0, 0, FChartBitmap->width(), FChartBitmap->height());
    RedrawWaveforms();
}

QString TFormMain::PanelText(int index) const
{
    if (index < 0 || index >= StatusPanelCount)
        return QString();
    return FPanelTexts[static_cast<size_t>(index)];
}

void TFormMain::SetPanelText(int index, const QString &text)
{
    if (index < 0 || index >= StatusPanelCount)
        return;
    FPanelTexts[static_cast<size_t>(index)] = text;
    FPanelsDue |= 1u << index;
    ScheduleTextFrame();
}

void TFormMain::ScheduleFrame()
{
    if (!FFrameTimer->isActive())
        FFrameTimer->start();
}

void TFormMain::ScheduleTextFrame()
{
    if (!FTextTimer->isActive())
        FTextTimer->start();
}

void TFormMain::DrawFrame()
{
    DrawTexts();
    DrawGauge();
}

void TFormMain::DrawTexts()
{
    FTextTimer->stop();
    for (size_t i = 0; i < StatusPanels.size(); ++i)
        if (FPanelsDue & (1u << i))
            ShowPanel(int(i));
    FPanelsDue = 0;
    if (FReportDue)
        ShowReport();
    FReportDue = false;
}

void TFormMain::DrawGauge()
{
    FFrameTimer->stop();
    // The gauge goes with the engine's trend when the window closes.
    if (FGaugeDue && FGauge)
        FGauge->UpdateDisplay();
    FGaugeDue = false;
}

void TFormMain::ShowPanel(int index)
{
    QLabel *panel = StatusPanels[static_cast<size_t>(index)];
    const QString &text = FPanelTexts[static_cast<size_t>(index)];
    panel->setText(text);
    // The temperature comes from reports ("Temp.= 24.85 C") and from waveform headers
    // ("Temp.=24.86"); the tip says which gave the value shown.
    if (index == spTemperature)
        panel->setToolTip(StatusPanelTip(index) +
                          (text.isEmpty()              ? QString()
                           : text.endsWith(QLatin1String(" C")) ? tr(", from the last report")
                                                                : tr(", from the last waveform header")));
}

int TFormMain::Tag(const QObject *item)
{
    return item ? item->property("Tag").toInt() : 0;
}

int TFormMain::ImageIndex(const QToolButton *button)
{
    return button ? button->property("ImageIndex").toInt() : -1;
}

void TFormMain::SetImageIndex(QToolButton *button, int index)
{
    button->setProperty("ImageIndex", index);
    button->setIcon(index >= 0 && index < ImageTB.size() ? ImageTB[index] : QIcon());
}
