// The main window's widgets: tool bar, menus, pages and status bar.

#include "app/Memo.h"
#include "app/ToolBarImages.h"
#include "app/Unitmain.h"

#include "app/LineStrip.h"
#include "engine/CommandTable.h"
#include "app/UpDown.h"
#include "app/WaveAxes.h"
#include "display/Image.h"
#include "platform/PixelFont.h"

#include <QApplication>
#include <QAction>
#include <iterator>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QToolBar>
#include <QToolButton>

namespace {

constexpr int ToolButtonWidth = 79;

QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

// The Statistics button's picture: a histogram.
QIcon StatisticsImage()
{
    QPixmap picture(ToolBarImage::Size, ToolBarImage::Size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    const int heights[] = {6, 14, 24, 28, 18, 9, 4};
    for (int i = 0; i < 7; ++i)
        painter.fillRect(2 + i * 4, 30 - heights[i], 3, heights[i], QColor(0, 0, 128));
    painter.fillRect(0, 30, 32, 2, QColor(0, 0, 0));
    return QIcon(picture);
}

} // namespace

void TFormMain::CreateToolBar()
{
    ImageTB = MakeToolBarImages();
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setWindowTitle(tr("Tool bar"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setFixedHeight(57);
    ToolBar1->setIconSize(QSize(ToolBarImage::Size, ToolBarImage::Size));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    ToolBar1->setContentsMargins(0, 0, 0, 0);
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    // Every caption (also those Run and Acquire show while busy) must fit the fixed button width; all
    // take the one size at which the longest does, so the row reads as one.
    const QStringList captions = {"Exit", "Time Of Flight", "Waveform", "Communication", "User's Guide",
                                  AcquireCaption, RunCaption, StopCaption, AcquireWaitCaption};
    QFont captionFont = font();
    const auto fits = [&captions](const QFont &f) {
        for (const QString &caption : captions)
            if (QFontMetrics(f).horizontalAdvance(caption) > ToolButtonWidth - 6)
                return false;
        return true;
    };
    while (!fits(captionFont) && captionFont.pixelSize() > 8)
        captionFont.setPixelSize(captionFont.pixelSize() - 1);
    auto button = [this, &captionFont](const char *name, const QString &caption, int image) {
        auto *b = new QToolButton(ToolBar1);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(caption);
        b->setAutoRaise(true); // flat
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setFixedSize(ToolButtonWidth, 52);
        b->setFont(captionFont);
        b->setIconSize(QSize(ToolBarImage::Size, ToolBarImage::Size));
        b->setProperty("Tag", 0);
        SetImageIndex(b, image);
        ToolBar1->addWidget(b);
        return b;
    };
    TB_Exit = button("TB_Exit", captions[0], ToolBarImage::Exit);
    ToolBar1->addSeparator();
    TB_TimeOfFlight = button("TB_TimeOfFlight", captions[1], ToolBarImage::TimeOfFlight);
    TB_Waveform = button("TB_Waveform", captions[2], ToolBarImage::Waveform);
    TB_Communcation = button("TB_Communcation", captions[3], ToolBarImage::Communication);
    TB_Statistics = button("TB_Statistics", "Statistics", ToolBarImage::TimeOfFlight);
    TB_Statistics->setIcon(StatisticsImage());
    ToolBar1->addSeparator();
    TB_Acquire = button("TB_Acquire", AcquireCaption, ToolBarImage::Acquire);
    TB_Run = button("TB_Run", RunCaption, ToolBarImage::Run);
    TB_Run->setProperty("Tag", 1);
    ToolBar1->addSeparator();
    TB_UsersGuide = button("TB_UsersGuide", captions[4], ToolBarImage::UsersGuide);
    // The program's own picture in the title bars (its message boxes and the guide's too), the
    // task list and the About page.
    QApplication::setWindowIcon(ImageTB[ToolBarImage::TimeOfFlight]);

    connect(TB_Exit, &QToolButton::clicked, this, [this] { mmExitClick(); });
    connect(TB_TimeOfFlight, &QToolButton::clicked, this, [this] { mmTimeOfFlightClick(); });
    connect(TB_Waveform, &QToolButton::clicked, this, [this] { mmWaveformClick(); });
    connect(TB_Communcation, &QToolButton::clicked, this, [this] { mmCommunicationClick(); });
    connect(TB_Statistics, &QToolButton::clicked, this, [this] { mmStatisticsClick(); });
    connect(TB_UsersGuide, &QToolButton::clicked, this, [this] { mmUsersGuideClick(); });
    connect(TB_Run, &QToolButton::clicked, this, [this] { TB_RunClick(TB_Run); });
    connect(TB_Acquire, &QToolButton::clicked, this, [this] { TB_AcquireClick(TB_Acquire); });
    TB_Run->setToolTip("Run or stop the continuous measurement (F5)");
    TB_Acquire->setToolTip("Acquire the Tx and Rx waveforms (F6)");
}

QAction *TFormMain::AddCommandItem(const TCommandEntry &entry)
{
    auto *item = mmCommand->addAction(QString::fromLatin1(entry.Caption));
    item->setObjectName(QString::fromLatin1(entry.Name));
    item->setProperty("Tag", entry.Tag());
    item->setShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_A + entry.Tag() - 1)));
    item->setVisible(entry.Shown);
    connect(item, &QAction::triggered, this, [this, item] { mmCommandClick(item); });
    return item;
}

void TFormMain::CreateMenus()
{
    QMenuBar *MainMenu1 = menuBar();
    MainMenu1->setObjectName("MainMenu1");

    QMenu *mmFile = MainMenu1->addMenu("&File");
    mmFile->setObjectName("mmFile");
    mmLoad = mmFile->addAction("&Load Waveform");
    mmLoad->setObjectName("mmLoad");
    mmSave = mmFile->addAction("&Save Waveform");
    mmSave->setObjectName("mmSave");
    connect(mmLoad, &QAction::triggered, this, [this] { mmLoadClick(); });
    connect(mmSave, &QAction::triggered, this, [this] { mmSaveClick(); });
    mmSaveComLog = mmFile->addAction("Save &Communication Log...");
    mmSaveComLog->setObjectName("mmSaveComLog");
    connect(mmSaveComLog, &QAction::triggered, this, [this] { mmSaveComLogClick(); });
    mmOpenMeasurements = mmFile->addAction("Open &Measurements...");
    mmOpenMeasurements->setObjectName("mmOpenMeasurements");
    connect(mmOpenMeasurements, &QAction::triggered, this, [this] { mmOpenMeasurementsClick(); });
    // "&Load Waveform" has the L.
    mmLogFolder = mmFile->addAction("Log &Folder...");
    mmLogFolder->setObjectName("mmLogFolder");
    connect(mmLogFolder, &QAction::triggered, this, [this] { mmLogFolderClick(); });
    mmPublishing = mmFile->addAction("P&ublishing...");
    mmPublishing->setObjectName("mmPublishing");
    connect(mmPublishing, &QAction::triggered, this, [this] { mmPublishingClick(); });
    mmPrint = mmFile->addAction("&Print");
    mmPrint->setObjectName("mmPrint");
    mmPrint->setVisible(false);
    mmFile->addSeparator();
    mmExit = mmFile->addAction("E&xit");
    mmExit->setObjectName("mmExit");
    connect(mmExit, &QAction::triggered, this, [this] { mmExitClick(); });

    QMenu *mmEdit = MainMenu1->addMenu("&Edit");
    mmEdit->setObjectName("mmEdit");
    mmComPort = mmEdit->addAction("&COM Port");
    mmComPort->setObjectName("mmComPort");
    // The check mark stands for the setup page being open. A click on the item has already
    // inverted it when triggered() arrives, so only the page follows.
    mmComPort->setCheckable(true);
    connect(mmComPort, &QAction::triggered, this, [this] { ShowComPortPage(); });
    mmOptions = mmEdit->addMenu("&Options");
    mmOptions->setObjectName("mmOptions");
    auto checkItem = [this](const char *name, const QString &caption) {
        auto *item = mmOptions->addAction(caption);
        item->setObjectName(QString::fromLatin1(name));
        item->setCheckable(true);
        item->setChecked(true);
        return item;
    };
    mmApplyFilter = checkItem("mmApplyFilter", "Apply &Filter");
    mmSavePhaseData = checkItem("mmSavePhaseData", "Save &Phase Data");
    mmSaveTOFData = checkItem("mmSaveTOFData", "Save &TOF Data");
    mmSaveMeasurements = checkItem("mmSaveMeasurements", "&Measurements.csv");
    mmSaveStatistics = checkItem("mmSaveStatistics", "&Statistics.csv");
    // A checkable action flips its own mark before triggered(); only the flags follow then.
    for (QAction *item : OptionSwitches())
        connect(item, &QAction::triggered, this, [this] { CopyOptions(); });

    QMenu *mmView = MainMenu1->addMenu("&View");
    mmView->setObjectName("mmView");
    mmTimeOfFlight = mmView->addAction("&Time Of Flight");
    mmTimeOfFlight->setObjectName("mmTimeOfFlight");
    mmWaveform = mmView->addAction("&Waveform");
    mmWaveform->setObjectName("mmWaveform");
    mmCommunication = mmView->addAction("&Communication");
    mmCommunication->setObjectName("mmCommunication");
    connect(mmTimeOfFlight, &QAction::triggered, this, [this] { mmTimeOfFlightClick(); });
    connect(mmWaveform, &QAction::triggered, this, [this] { mmWaveformClick(); });
    connect(mmCommunication, &QAction::triggered, this, [this] { mmCommunicationClick(); });
    mmStatistics = mmView->addAction("St&atistics");
    mmStatistics->setObjectName("mmStatistics");
    connect(mmStatistics, &QAction::triggered, this, [this] { mmStatisticsClick(); });
    mmView->addSeparator();
    // Off at start: the log then shows the bytes and nothing else.
    mmTimeStamps = mmView->addAction("Time &Stamps in Communication Log");
    mmTimeStamps->setObjectName("mmTimeStamps");
    mmTimeStamps->setCheckable(true);
    connect(mmTimeStamps, &QAction::triggered, this, [this] { KeepOptions(); });

    // The tool bar's Run and Acquire by keyboard; each item follows its button (see eventFilter).
    mmMeasure = MainMenu1->addMenu("&Measure");
    mmMeasure->setObjectName("mmMeasure");
    mmRunStop = mmMeasure->addAction(QString("&") + RunCaption);
    mmRunStop->setObjectName("mmRunStop");
    mmRunStop->setShortcut(QKeySequence(Qt::Key_F5));
    mmAcquireWave = mmMeasure->addAction(QString("&") + AcquireCaption);
    mmAcquireWave->setObjectName("mmAcquireWave");
    mmAcquireWave->setShortcut(QKeySequence(Qt::Key_F6));
    connect(mmRunStop, &QAction::triggered, this, [this] { TB_RunClick(TB_Run); });
    connect(mmAcquireWave, &QAction::triggered, this, [this] { TB_AcquireClick(TB_Acquire); });
    for (QToolButton *button : {TB_Run, TB_Acquire})
        button->installEventFilter(this);

    mmRun = MainMenu1->addMenu("&Run");
    mmRun->setObjectName("mmRun");
    mmRun->menuAction()->setObjectName("mmRunItem");
    mmRun->menuAction()->setVisible(false);
    mmTestATan = mmRun->addAction("Test ATan");
    mmTestATan->setObjectName("mmTestATan");
    mmTestATan->setVisible(false);
    // The timing test is for the developer: a key combination an operator will not press by chance.
    ScTestATan = new QShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_A), this);
    ScTestATan->setObjectName("ScTestATan");
    connect(ScTestATan, &QShortcut::activated, this, [this] { mmTestATanClick(mmTestATan); });

    mmCommand = MainMenu1->addMenu("&Commands");
    mmCommand->setObjectName("mmCommand");
    // The items in the table's order, each kept under its own name.
    QAction **const items[] = {&mmMenu,        &mmAcquire,      &mmTransmit,    &mmParameters,
                               &mmProgram,     &mmKeypad,       &mmNewPars,     &mmSendData,
                               &mmTemperature, &mmAveragedData, &mmAnalyzeData, &mmAnalyzeAcquired};
    static_assert(std::size(items) == std::size(CommandTable), "one member per command");
    for (size_t i = 0; i < std::size(items); ++i)
        *items[i] = AddCommandItem(CommandTable[i]);

    QMenu *mmHelp = MainMenu1->addMenu("&Help");
    mmHelp->setObjectName("mmHelp");
    mmUsersGuide = mmHelp->addAction("User's &Guide ...");
    mmUsersGuide->setObjectName("mmUsersGuide");
    mmAbout = mmHelp->addAction("&About ...");
    mmAbout->setObjectName("mmAbout");
    connect(mmUsersGuide, &QAction::triggered, this, [this] { mmUsersGuideClick(); });
    connect(mmAbout, &QAction::triggered, this, [this] { mmAboutClick(); });
}

void TFormMain::CreatePages()
{
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setTabPosition(QTabWidget::East);
    PageControl1->setDocumentMode(true);
    // Pages are switched only by the View menu and the tool bar; the tabs stay hidden.
    PageControl1->tabBar()->setVisible(false);
    setCentralWidget(PageControl1);

    auto page = [this](const char *name, const QString &caption) {
        auto *p = new QWidget;
        p->setObjectName(QString::fromLatin1(name));
        PageControl1->addTab(p, caption);
        p->installEventFilter(this);
        return p;
    };
    TS_Main = page("TS_Main", "Main");
    TS_RS232 = page("TS_RS232", "RS232");
    TS_Waveform = page("TS_Waveform", "Waveform");
    TS_Log = page("TS_Log", "Log");

    CreateMainPage();
    CreateRS232Page();
    CreateStatisticsPage();

    PanelImage = new TWavePanel(TS_Waveform);
    PanelImage->setObjectName("PanelImage");
    PanelImage->setFrameShape(QFrame::StyledPanel);
    PanelImage->installEventFilter(this);
    ImageChart = new TImage(PanelImage);
    ImageChart->setObjectName("ImageChart");
    ImageChart->setAccessibleName(tr("Waveform chart"));
    ImageChart->setGeometry(20, 20, 100, 100);
    ImageChart->setMouseTracking(true); // the cursor follows the pointer without a button held
    ImageChart->setAccessibleDescription(tr("Tx (channel 1) in red, Rx (channel 2) in yellow; wheel or +/- zoom, "
                                            "drag or arrows pan, double-click or Home shows all"));
    ImageChart->setFocusPolicy(Qt::StrongFocus);
    ImageChart->installEventFilter(this);

    auto memo = [this](const char *name, const QString &accessible) {
        auto *m = new TMemo(TS_Log);
        m->setObjectName(QString::fromLatin1(name));
        m->setAccessibleName(accessible);
        m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        m->viewport()->installEventFilter(this); // a double-click empties the memo
        return m;
    };
    MemoComLog = memo("MemoComLog", tr("Communication log"));
    MemoData = memo("MemoData", tr("Sample list"));
}

void TFormMain::CreateMainPage()
{
    LabelTimeOfFlight = MakeLabel(TS_Main, "LabelTimeOfFlight", "Big Time  +  Small Time  =  Time of Flight");
    LabelTimeOfFlight->setFont(PixelFont(font(), 32));
    LabelTimeOfFlight->setAlignment(Qt::AlignCenter);

    const QFont rowFont = PixelFont(font(), 21);
    LabelBigTime = MakeLabel(TS_Main, "LabelBigTime", "18");
    LabelBTUnit = MakeLabel(TS_Main, "LabelBTUnit", "cycles   + (");
    LabelSmallTime = MakeLabel(TS_Main, "LabelSmallTime", "90");
    LabelSTUnit = MakeLabel(TS_Main, "LabelSTUnit", "/ 360 )  cycles   = ");
    LabelTOF = MakeLabel(TS_Main, "LabelTOF", "4.5625");
    LabelTOFUnit = MakeLabel(TS_Main, "LabelTOFUnit", "us");
    for (QLabel *label : {LabelBigTime, LabelBTUnit, LabelSmallTime, LabelSTUnit, LabelTOF, LabelTOFUnit})
        label->setFont(rowFont);
    for (QLabel *label : {LabelBigTime, LabelSmallTime, LabelTOF}) {
        label->setAlignment(Qt::AlignCenter);
        // Grey until the first report: the design texts are no reading.
        label->setEnabled(false);
    }

    // Between the values and the gauge, hidden until there is something to say: red while a Run
    // gets no reply, and the count of reports refused.
    LabelNoReply = MakeLabel(TS_Main, "LabelNoReply", QString());
    LabelNoReply->setStyleSheet("color: rgb(255, 0, 0); font-weight: bold;");
    LabelNoReply->hide();
    LabelRefused = MakeLabel(TS_Main, "LabelRefused", QString());
    LabelRefused->setStyleSheet("color: rgb(128, 0, 0);");
    LabelRefused->hide();

    LabelLogFiles = MakeLabel(TS_Main, "LabelLogFiles", QString());
    LabelLogFiles->setTextFormat(Qt::PlainText);
    LabelLogFiles->setGeometry(32, 128 + 369 + 4, 817, QFontMetrics(font()).height() + 4);

    PanelGauge = new QFrame(TS_Main);
    PanelGauge->setObjectName("PanelGauge");
    PanelGauge->setFrameShape(QFrame::StyledPanel);
    PanelGauge->setAccessibleName(tr("Gauge"));
    PanelGauge->setGeometry(32, 128, 817, 369);
    LayoutMainLabels();
}

void TFormMain::LayoutMainLabels()
{
    // The title and the row of values stand centred over the gauge whatever the page's width;
    // where the page is too narrow for their fonts, the fonts get smaller, down to a size that
    // still reads.
    constexpr int TitleTop = 16, TitleWidth = 673, TitleHeight = 49, TitlePixels = 32, TitleMinimumPixels = 16;
    constexpr int RowTop = 72, RowPixels = 21, RowMinimumPixels = 13, RowGap = 6, Margin = 16;
    const int w = TS_Main->width();
    const int room = qMax(0, w - 2 * Margin);

    QFont title = LabelTimeOfFlight->font();
    for (int pixels = TitlePixels; pixels >= TitleMinimumPixels; --pixels) {
        title.setPixelSize(pixels);
        if (QFontMetrics(title).horizontalAdvance(LabelTimeOfFlight->text()) <= room)
            break;
    }
    LabelTimeOfFlight->setFont(title);
    const int titleWidth = qMin(TitleWidth, room);
    LabelTimeOfFlight->setGeometry((w - titleWidth) / 2, TitleTop, titleWidth, TitleHeight);

    // The value labels are centred in fixed widths so the row does not jump as the numbers change.
    const QList<QLabel *> row = {LabelBigTime, LabelBTUnit, LabelSmallTime, LabelSTUnit, LabelTOF, LabelTOFUnit};
    const auto widthOf = [this](QLabel *label, const QFontMetrics &metrics) {
        const bool value = label == LabelBigTime || label == LabelSmallTime || label == LabelTOF;
        return metrics.horizontalAdvance(value ? QStringLiteral("0000.0000") : label->text()) + 8;
    };
    QFont rowFont = LabelBigTime->font();
    int total = 0;
    for (int pixels = RowPixels; pixels >= RowMinimumPixels; --pixels) {
        rowFont.setPixelSize(pixels);
        total = RowGap * (int(row.size()) - 1);
        for (QLabel *label : row)
            total += widthOf(label, QFontMetrics(rowFont));
        if (total <= room)
            break;
    }
    const QFontMetrics metrics(rowFont);
    int left = qMax(0, (w - total) / 2);
    for (QLabel *label : row) {
        label->setFont(rowFont);
        const int width = widthOf(label, metrics);
        label->setGeometry(left, RowTop, width, metrics.height() + 4);
        left += width + RowGap;
    }

    // The notes under the row: one half of the gauge's width each.
    const int noteTop = RowTop + QFontMetrics(PixelFont(font(), RowPixels)).height() + 6;
    const int gaugeTop = 128, gaugeMargin = 40;
    const int half = qMax(0, (w - 2 * gaugeMargin) / 2);
    LabelNoReply->setGeometry(gaugeMargin, noteTop, half, gaugeTop - noteTop);
    LabelRefused->setGeometry(gaugeMargin + half, noteTop, half, gaugeTop - noteTop);
}

void TFormMain::CreateRS232Page()
{
    GBox_Com = new QGroupBox("COM Port Setup", TS_RS232);
    GBox_Com->setObjectName("GBox_Com");
    GBox_Com->setGeometry(32, 16, 480, 480);
    GBox_Com->setFont(PixelFont(font(), 19));

    int row = 0;
    auto setting = [this, &row](QLabel *&label, const char *labelName, const QString &caption, QComboBox *&box,
                                const char *boxName, const QStringList &items, const QString &shown) {
        const int top = 48 + row * 52;
        ++row;
        label = MakeLabel(GBox_Com, labelName, caption);
        label->setGeometry(56, top, 140, 32);
        box = new QComboBox(GBox_Com);
        box->setObjectName(QString::fromLatin1(boxName));
        // Edit-style boxes: the text can be typed, but typing never adds entries.
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->addItems(items);
        box->setCurrentIndex(items.indexOf(shown));
        box->setEditText(shown);
        box->setGeometry(200, top, 129, 32);
        label->setBuddy(box);
        return box;
    };
    QStringList ports;
    for (int i = 0; i < PortCount; ++i)
        ports << TComm::PortName(i);
    setting(Label1, "Label1", "Port", CB_Port, "CB_Port", ports, "0");
    SetupPortBox();
    // Each box shows the setting the engine applies to the line.
    const TLineSettings &line = TEngine::LineSettings;
    const QString baud = QString::number(line.BaudRate);
    const QStringList dataBits{"5 Bits", "6 Bits", "7 Bits", "8 Bits"};
    const QStringList parities{"None", "Odd", "Even", "Mark", "Space"};
    const QStringList stopBits{"1 Bit", "1.5 Bits", "2 Bits"};
    const QStringList hardware{"None", "RTSON", "RTSCTS"};
    const QStringList software{"None", "XonXoff"};
    setting(Label2, "Label2", "Baud Rate", CB_BaudRate, "CB_BaudRate", {baud}, baud);
    setting(Label4, "Label4", "Data Bits", CB_DataBits, "CB_DataBits", dataBits, dataBits[line.DataBits - DB5]);
    setting(Label5, "Label5", "Parity", CB_Parity, "CB_Parity", parities, parities[int(line.Parity)]);
    setting(Label3, "Label3", "Stop Bit", CB_StopBit, "CB_StopBit", stopBits, stopBits[line.StopBits]);
    setting(Label6, "Label6", "HW Handshaking", CB_HWHS, "CB_HWHS", hardware, hardware[line.HwHandShaking]);
    setting(Label7, "Label7", "SW Handshaking", CB_SWHS, "CB_SWHS", software, software[line.SwHandShaking]);
    // The line settings are fixed: shown, but not to be changed.
    for (QComboBox *box : {CB_BaudRate, CB_DataBits, CB_Parity, CB_StopBit, CB_HWHS, CB_SWHS}) {
        box->setEnabled(false);
        QPalette palette = box->palette();
        palette.setColor(QPalette::Disabled, QPalette::Base, QColor(192, 192, 192));
        palette.setColor(QPalette::Disabled, QPalette::Button, QColor(192, 192, 192));
        // Grey, but still readable: the operator should see the settings in use.
        palette.setColor(QPalette::Disabled, QPalette::Text, QColor(64, 64, 64));
        palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(64, 64, 64));
        box->setPalette(palette);
    }
    for (QWidget *w : std::initializer_list<QWidget *>{Label6, CB_HWHS, Label7, CB_SWHS})
        w->setVisible(false);

    UD_ComPort = new TUpDown(GBox_Com);
    UD_ComPort->setObjectName("UD_ComPort");
    UD_ComPort->setAccessibleName(tr("Port up-down"));
    UD_ComPort->SetRange(0, PortCount - 1);
    UD_ComPort->SetPosition(0);
    UD_ComPort->SetWrap(true);
    UD_ComPort->setGeometry(200 + 129, CB_Port->y(), 17, CB_Port->height());
    connect(UD_ComPort, &TUpDown::Changing, this, [this](int position) { UD_ComPortChanging(position); });

    // Alt+C opens the Commands menu.
    BBtnComCancel = new QPushButton("C&ancel", GBox_Com);
    BBtnComCancel->setObjectName("BBtnComCancel");
    BBtnComCancel->setGeometry(248, 424, 91, 41);
    BBtnComOK = new QPushButton("&OK", GBox_Com);
    BBtnComOK->setObjectName("BBtnComOK");
    BBtnComOK->setGeometry(352, 424, 91, 41);
    connect(BBtnComCancel, &QPushButton::clicked, this, [this] { BBtnComCancelClick(); });
    connect(BBtnComOK, &QPushButton::clicked, this, [this] { BBtnComOKClick(); });
}

void TFormMain::TS_RS232Resize()
{
    // The group box at its design place and size where the page has room for it. On a shorter
    // page it gets shorter and its rows closer together, so that OK and Cancel stay in sight.
    constexpr int BoxLeft = 32, BoxTop = 16, BoxSize = 480, Margin = 8;
    constexpr int FirstRow = 48, RowPitch = 52, MinimumPitch = 36, RowHeight = 32;
    constexpr int ButtonsFromBottom = 56, ButtonGap = 8;
    // Wider than designed where the page has room, for the Port box to show a by-id path whole.
    constexpr int WidestBox = 880;
    const int boxWidth = qBound(BBtnComOK->width() * 3, TS_RS232->width() - BoxLeft - Margin, WidestBox);
    const int boxHeight = qBound(MinimumRS232Height - BoxTop - Margin, TS_RS232->height() - BoxTop - Margin, BoxSize);
    GBox_Com->setGeometry(BoxLeft, BoxTop, boxWidth, boxHeight);

    const int buttonsTop = boxHeight - ButtonsFromBottom;
    const QList<QPair<QLabel *, QComboBox *>> rows = {{Label1, CB_Port},     {Label2, CB_BaudRate}, {Label4, CB_DataBits},
                                                      {Label5, CB_Parity},   {Label3, CB_StopBit},  {Label6, CB_HWHS},
                                                      {Label7, CB_SWHS}};
    int shown = 0;
    for (const auto &row : rows)
        shown += row.second->isHidden() ? 0 : 1;
    const int pitch = shown > 1 ? qBound(MinimumPitch, (buttonsTop - ButtonGap - FirstRow - RowHeight) / (shown - 1), RowPitch)
                                : RowPitch;
    int top = FirstRow;
    for (const auto &[label, box] : rows) {
        label->move(label->x(), top);
        box->move(box->x(), top);
        if (!box->isHidden())
            top += pitch;
    }
    // The Port box takes the row up to the up-down at the group's right edge; the other boxes
    // keep their width.
    const int portWidth = qMax(CB_BaudRate->width(), boxWidth - CB_Port->x() - UD_ComPort->width() - 2 * Margin);
    CB_Port->resize(portWidth, CB_Port->height());
    UD_ComPort->move(CB_Port->x() + portWidth, CB_Port->y());
    // The buttons keep their distance from the box's right edge, as designed.
    const int buttonsRight = qMin(boxWidth, BoxSize);
    BBtnComCancel->move(buttonsRight - BoxSize + 248, buttonsTop);
    BBtnComOK->move(buttonsRight - BoxSize + 352, buttonsTop);
}

void TFormMain::CreateStatusBar()
{
    QStatusBar *StatusBar1 = statusBar();
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(true);
    // Each panel draws its own sunken frame; the bar's item frames would double them.
    StatusBar1->setStyleSheet("QStatusBar::item { border: none; }");
    // The panels stand side by side at their own widths; in a window narrower than all of them,
    // those that do not fit go on to a second row rather than past the window's edge.
    auto *rows = new QWidget(StatusBar1);
    auto *rowsLayout = new QVBoxLayout(rows);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(2);
    LabelLogError = new QLabel(rows);
    LabelLogError->setObjectName("LabelLogError");
    LabelLogError->setTextFormat(Qt::PlainText);
    // A long text goes on to a second line rather than past the window's edge; it must not widen
    // the window.
    LabelLogError->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    LabelLogError->setWordWrap(true);
    QFont alarmFont = font();
    alarmFont.setBold(true);
    LabelLogError->setFont(alarmFont);
    QPalette alarmPalette = LabelLogError->palette();
    alarmPalette.setColor(QPalette::WindowText, QColor(176, 0, 0));
    LabelLogError->setPalette(alarmPalette);
    LabelLogError->setVisible(false);
    rowsLayout->addWidget(LabelLogError);
    LabelPortNote = new QLabel(rows);
    LabelPortNote->setObjectName("LabelPortNote");
    LabelPortNote->setTextFormat(Qt::PlainText);
    LabelPortNote->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    LabelPortNote->setFont(font());
    LabelPortNote->setVisible(false);
    rowsLayout->addWidget(LabelPortNote);
    LabelMqtt = new QLabel(rows);
    LabelMqtt->setObjectName("LabelMqtt");
    LabelMqtt->setTextFormat(Qt::PlainText);
    LabelMqtt->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    LabelMqtt->setFont(font());
    LabelMqtt->setVisible(false);
    rowsLayout->addWidget(LabelMqtt);
    FPortNoteTimer = new QTimer(this);
    FPortNoteTimer->setSingleShot(true);
    connect(FPortNoteTimer, &QTimer::timeout, LabelPortNote, &QLabel::hide);
    StatusStrip = new QWidget(rows);
    StatusStrip->setObjectName("StatusPanels");
    StatusStrip->setMinimumWidth(0);
    StatusStrip->installEventFilter(this); // the panels are laid out whenever it changes width
    for (int i = 0; i < StatusPanelCount; ++i) {
        auto *panel = new QLabel(StatusStrip);
        panel->setObjectName(QString("StatusPanel%1").arg(i));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setTextFormat(Qt::PlainText);
        // The bar's style sheet stops the window's font from reaching the panels.
        panel->setFont(font());
        panel->resize(StatusPanelWidths[i], panel->sizeHint().height());
        StatusPanels[static_cast<size_t>(i)] = panel;
    }
    for (int i = 0; i < StatusPanelCount; ++i)
        StatusPanels[static_cast<size_t>(i)]->setToolTip(StatusPanelTip(i));
    LineStrip = new TLineStrip(FEngine, nullptr, StatusPanels[spRate], rows);
    rowsLayout->addWidget(LineStrip);
    rowsLayout->addWidget(StatusStrip);
    StatusBar1->addWidget(rows, 1);
    // A state, not a note: at the bar's end for as long as there is no port, taking no row of its own.
    LabelNoPort = new QLabel(QStringLiteral("No port open"), StatusBar1);
    LabelNoPort->setObjectName("LabelNoPort");
    LabelNoPort->setTextFormat(Qt::PlainText);
    LabelNoPort->setFont(alarmFont);
    LabelNoPort->setPalette(alarmPalette);
    LabelNoPort->setVisible(false);
    StatusBar1->addPermanentWidget(LabelNoPort);
    LineStrip->SetNoPortLabel(LabelNoPort);
    // A clock timer without a handler: it has no effect and is never started.
    TimerClock = new QTimer(this);
    TimerClock->setObjectName("TimerClock");
}

void TFormMain::LayoutStatusPanels()
{
    // Before the window is shown the strip has no width of its own yet: it will get about the
    // window's, less the size grip.
    const int room = StatusStrip->isVisible() ? StatusStrip->width() : width() - StatusGripReserve;
    const int height = StatusPanels[0]->height();
    int x = 0, y = 0;
    for (int i = 0; i < StatusPanelCount; ++i) {
        QLabel *panel = StatusPanels[static_cast<size_t>(i)];
        int width = StatusPanelWidths[i];
        const bool last = i == StatusPanelCount - 1;
        // The last panel takes what its row leaves, as long as that shows its frame whole.
        const int left = room - x;
        if (last && left >= StatusPanelMinimumLast)
            width = left;
        else if (x > 0 && x + width > room) {
            x = 0;
            y += height + StatusPanelGap;
            if (last)
                width = qMax(width, room);
        }
        panel->setGeometry(x, y, width, height);
        x += width + StatusPanelGap;
    }
    StatusStrip->setFixedHeight(y + height);
}

QString TFormMain::StatusPanelTip(int index)
{
    // A value alone ("6", "261") does not say what it is: each panel names it on the pointer.
    switch (static_cast<TStatusPanel>(index)) {
    case spM1Average: return tr("M1 average: the mean of the last 32 first correlation values (M1)");
    case spM2Average: return tr("M2 average: the mean of the last 32 second correlation values (M2)");
    case spPhase: return tr("Phase of the received signal, in degrees");
    case spM1: return tr("M1: the first correlation value of the last report");
    case spM2: return tr("M2: the second correlation value of the last report");
    case spTemperature: return tr("Temperature of the instrument, in degrees Celsius");
    case spCycle: return tr("Run: the cycle within the current hundred (arctangent test: milliseconds per batch)");
    case spPolls:
        return tr("Polls the last reply took, of 1 ms in a Run and of 5 ms in an acquisition "
                  "(arctangent test: its result)");
    case spRate: return tr("Run: cycles per second, measured over each hundred cycles");
    case spLogger: return tr("A log file that cannot be written");
    case StatusPanelCount: break;
    }
    return QString();
}
