// TFormMain: creation, release, navigation and page layout.

#include "app/Unitmain.h"

#include "app/ToolBarImages.h"
#include "display/Cgauge.h"
#include "display/Cischart.h"
#include "display/Image.h"
#include "guide/Unitmanual.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

TFormMain::TFormMain(QWidget *parent, TComDeviceFactory deviceFactory)
    : QMainWindow(parent), FEngine(new TEngine(std::move(deviceFactory), this))
{
    setObjectName("FormMain");
    setWindowTitle("Zarn Monitor");
    QFont windowFont("MS Sans Serif");
    windowFont.setPixelSize(11);
    setFont(windowFont);
    move(90, 79);
    resize(907, 669);
    // Below this the labels of the Main page and the setup page are cut off.
    setMinimumSize(640, 480);

    CreateToolBar();
    CreateMenus();
    CreatePages();
    CreateStatusBar();

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
    connect(FFrameTimer, &QTimer::timeout, this, &TFormMain::DrawFrame);

    // 1. The port: COM1 at start; the program goes on without one when it cannot be opened.
    FEngine->OpenPort(0);

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
    connect(FEngine, &TEngine::ReportComputed, this, [this] {
        FReportDue = true;
        ScheduleFrame();
    });
    connect(FEngine, &TEngine::BatchProcessed, this, [this] {
        FGaugeDue = true;
        ScheduleFrame();
    });
    connect(FEngine, &TEngine::PanelChanged, this, &TFormMain::SetPanelText);
    connect(FEngine, &TEngine::RefusedChanged, this, &TFormMain::ShowRefusedCount);
    connect(FEngine, &TEngine::ReplyWarningChanged, this, &TFormMain::ShowReplyWarning);
    connect(FEngine, &TEngine::BlockParsed, this, &TFormMain::AppendDataLines);
    connect(FEngine, &TEngine::PortLost, this, &TFormMain::PortLost);
    connect(FEngine, &TEngine::LoggerFailing, this, &TFormMain::LoggerWriteError);
    connect(FEngine, &TEngine::LoggerRecovered, this, &TFormMain::LoggerWriteRecovered);

    // 3. The chart bitmap.
    FChartBitmap = nullptr;
    RebuildChartBitmap();
    // 4. The chart, drawing on the picture of ImageChart.
    FChart = new TCISChart(this, ImageChart->Canvas());
    FChart->SetPosition(0, 0, ImageChart->width(), ImageChart->height());
    FChart->SetBackgroundColor(clNavy);
    // 5. The channels as they are (mid-scale); drawn again when the page takes its size.
    RedrawWaveforms();

    // 6. The gauge.
    SetupGauge();
}

void TFormMain::FormShow()
{
    PageControl1->tabBar()->setVisible(false);
    PageControl1->setCurrentWidget(TS_Main);
}

void TFormMain::FormClose()
{
    if (FClosed)
        return;
    FClosed = true;
    FFrameTimer->stop();
    // A Run, acquisition or test still going ends before anything is released below.
    FEngine->StopCycles();
    // Nothing computed stays behind: the open batch (drawn while the gauge is there) and the
    // shorter last lines go to the loggers.
    FEngine->WriteOpenLines();
    // 1. The gauge, which draws the engine's trend.
    delete FGauge;
    FGauge = nullptr;
    // 2. The engine: loggers (their lines written or rescued), trend, rings, port.
    FEngine->Close();
    // 3. The chart, then its bitmap.
    delete FChart;
    FChart = nullptr;
    delete FChartBitmap;
    FChartBitmap = nullptr;
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

bool TFormMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == MemoComLog->viewport())
            MemoDblClick(MemoComLog);
        else if (watched == MemoData->viewport())
            MemoDblClick(MemoData);
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
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormMain::MemoDblClick(QObject *Sender)
{
    if (Sender == MemoComLog)
        ClearComLog();
    else if (auto *memo = qobject_cast<QPlainTextEdit *>(Sender))
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

void TFormMain::CopyOptions()
{
    FEngine->FApplyFilter = mmApplyFilter->isChecked();
    FEngine->FSavePhaseData = mmSavePhaseData->isChecked();
    FEngine->FSaveTOFData = mmSaveTOFData->isChecked();
}

void TFormMain::TS_MainResize()
{
    const int w = TS_Main->width();
    const int h = TS_Main->height();
    PanelGauge->setGeometry(40, 128, qMax(0, w - 80), qMax(0, h - 168));
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
    if (FChart)
        FChart->SetPosition(0, 0, ImageChart->width(), ImageChart->height());
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
    ScheduleFrame();
}

void TFormMain::ScheduleFrame()
{
    if (!FFrameTimer->isActive())
        FFrameTimer->start();
}

void TFormMain::DrawFrame()
{
    FFrameTimer->stop();
    for (size_t i = 0; i < StatusPanels.size(); ++i)
        if (FPanelsDue & (1u << i))
            StatusPanels[i]->setText(FPanelTexts[i]);
    FPanelsDue = 0;
    if (FReportDue)
        ShowReport();
    FReportDue = false;
    // The gauge goes with the engine's trend when the window closes.
    if (FGaugeDue && FGauge)
        FGauge->UpdateDisplay();
    FGaugeDue = false;
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
