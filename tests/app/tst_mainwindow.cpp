// The main window as the operator meets it: start-up with and without a port, pages and menus,
// the COM port page, commands on the line and the communication log.

#include "app/Unitmain.h"
#include "app/UpDown.h"
#include "logger/Cdatalogger.h"
#include "tests/app/ReportTexts.h"
#include "tests/common/InLoop.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/WorkingFolder.h"
#include "tests/common/PtyPair.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QToolBar>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

namespace {
const QString Missing = QStringLiteral("/nonexistent/zarn-no-such-port");
// The specified text, then the device and the system's reason.
const QString FailCOM1 = "Cannot open COM1 !\n\n\n Please try another COM port!\n\n" + Missing + ": No such file or directory";
const QString FailCOM8 = "Cannot open COM8 !\n\n\n Please try another COM port!\n\n" + Missing + ": No such file or directory";

void SetPort(int n, const QString &device)
{
    qputenv(QStringLiteral("ZARN_COM%1").arg(n).toLocal8Bit(), device.toLocal8Bit());
}
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startsWithoutCom1();
    void startsWithCom1BeforeTheWindow();
    void windowLayout();
    void menuItems_data();
    void menuItems();
    void mnemonicsReachOneItem_data();
    void mnemonicsReachOneItem();
    void pagesSwitch_data();
    void pagesSwitch();
    void checkMarkFollowsThePage_data();
    void checkMarkFollowsThePage();
    void tabGoesRoundEachPage_data();
    void tabGoesRoundEachPage();
    void okWithMissingPortKeepsThePortInUse();
    void cancelKeepsThePort();
    void pageShowsLastPortOpened();
    void okReopensTheSamePort();
    void upDownWrapsAround_data();
    void upDownWrapsAround();
    void typedPortNameIsUsed_data();
    void typedPortNameIsUsed();
    void commandsSendOneByte_data();
    void commandsSendOneByte();
    void commandWithoutPort();
    void receivedChunksAreLogged();
    void meanReportInPiecesOverTheLine();
    void vanishedPortIsReported();
    void optionItemsToggle();
    void closeWritesPendingLogLines();
    void closeSavesLinesThatCannotBeWritten();
    void messageBoxBelongsToTheWindow_data();
    void messageBoxBelongsToTheWindow();

private:
    std::unique_ptr<TWorkingFolder> FFolder;
};

void TestMainWindow::init()
{
    for (int n = 1; n <= 8; ++n)
        SetPort(n, Missing);
    FFolder = std::make_unique<TWorkingFolder>();
    QVERIFY(FFolder->IsValid());
}

void TestMainWindow::cleanup()
{
    FFolder.reset();
}

void TestMainWindow::startsWithoutCom1()
{
    // Each box runs an event loop of its own, as a modal one does: the next waits for it.
    TMessageCapture messages;
    int onScreen = 0, most = 0;
    Platform::SetMessageSink([&](const Platform::TMessage &m) {
        messages.Messages.append(m);
        most = std::max(most, ++onScreen);
        QCoreApplication::processEvents();
        --onScreen;
    });
    TFormMain form;
    QCOMPARE(messages.Texts(), QStringList({"Error opening serial port !", FailCOM1}));
    QCOMPARE(most, 1);
    QCOMPARE(messages.Messages[0].Caption, QApplication::applicationName());
    QCOMPARE(messages.Messages[1].Caption, QStringLiteral("Information"));
    QCOMPARE(messages.Messages[1].Icon, Platform::TMsgIcon::None);
    QVERIFY(form.FEngine->Comm() == nullptr);

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.PageControl1->currentWidget(), form.TS_Main);
    QCOMPARE(form.LabelBigTime->text(), QStringLiteral("18"));
    QCOMPARE(form.LabelSmallTime->text(), QStringLiteral("90"));
    QCOMPARE(form.LabelTOF->text(), QStringLiteral("4.5625"));
    QVERIFY(!form.PageControl1->tabBar()->isVisible());
}

void TestMainWindow::startsWithCom1BeforeTheWindow()
{
    TPtyPair pty;
    QVERIFY(pty.IsValid());
    SetPort(1, pty.SlavePath());
    QList<bool> windowVisibleAtMessage;
    TMessageCapture messages;
    auto previous = Platform::SetMessageSink([&](const Platform::TMessage &m) {
        messages.Messages.append(m);
        bool anyVisible = false;
        for (QWidget *w : QApplication::topLevelWidgets())
            anyVisible = anyVisible || w->isVisible();
        windowVisibleAtMessage.append(anyVisible);
    });
    {
        TFormMain form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(messages.Texts(), QStringList({"Open COM1 !"}));
        QCOMPARE(messages.Messages[0].Caption, QStringLiteral("Information"));
        QCOMPARE(windowVisibleAtMessage, QList<bool>({false}));
        QVERIFY(form.FEngine->Comm() != nullptr);
        QVERIFY(form.FEngine->Comm()->PortOpen());
        QCOMPARE(form.FEngine->PortIndex(), 0);
    }
    Platform::SetMessageSink(previous);
}

void TestMainWindow::windowLayout()
{
    // With a port open: without one the status bar ends in "No port open".
    TPtyPair pty;
    SetPort(1, pty.SlavePath());
    TMessageCapture messages;
    TFormMain form;
    QVERIFY(form.FEngine->Comm() && form.LabelNoPort->isHidden());
    QCOMPARE(form.windowTitle(), QStringLiteral("Zarn Monitor"));
    QCOMPARE(form.pos(), QPoint(90, 79));
    QCOMPARE(form.size(), QSize(907, 669));
    QCOMPARE(form.minimumSize(), QSize(TFormMain::MinimumWidth, TFormMain::MinimumHeight));
    QVERIFY(!form.windowIcon().isNull());
    QVERIFY(!form.createPopupMenu()); // nothing offers to hide the tool bar
    QCOMPARE(form.font().pixelSize(), 11);
    QCOMPARE(form.ToolBar1->height(), 57);
    const QList<QToolButton *> buttons = {form.TB_Exit, form.TB_TimeOfFlight, form.TB_Waveform,
                                          form.TB_Communcation, form.TB_Acquire, form.TB_Run, form.TB_UsersGuide};
    const QStringList captions = {"Exit", "Time Of Flight", "Waveform", "Communication", "Acquire", "Run",
                                  "User's Guide"};
    for (int i = 0; i < buttons.size(); ++i) {
        QCOMPARE(buttons[i]->text(), captions[i]);
        QCOMPARE(buttons[i]->size(), QSize(79, 52));
        QVERIFY2(QFontMetrics(buttons[i]->font()).horizontalAdvance(captions[i]) <= 79 - 6, qPrintable(captions[i]));
        QCOMPARE(buttons[i]->font(), buttons[0]->font()); // one caption size for the row
        QVERIFY(!buttons[i]->icon().isNull());
    }
    QCOMPARE(TFormMain::Tag(form.TB_Run), 1);
    QCOMPARE(TFormMain::ImageIndex(form.TB_Run), 11);

    const QList<int> widths = {120, 120, 120, 100, 100, 100, 40, 40, 100, 80};
    for (int i = 0; i < TFormMain::StatusPanelCount - 1; ++i)
        QCOMPARE(form.StatusPanels[static_cast<size_t>(i)]->width(), widths[i]);

    // Side by side, never over each other, in the window's font.
    for (size_t i = 1; i < form.StatusPanels.size(); ++i) {
        QVERIFY(form.StatusPanels[i]->x() >= form.StatusPanels[i - 1]->geometry().right() + 1);
        QCOMPARE(form.StatusPanels[i]->y(), form.StatusPanels[0]->y());
    }
    QCOMPARE(form.StatusPanels[2]->font().pixelSize(), 11);

    QCOMPARE(form.LabelTimeOfFlight->text(), QStringLiteral("Big Time  +  Small Time  =  Time of Flight"));
    QCOMPARE(form.LabelBTUnit->text(), QStringLiteral("cycles   + ("));
    QCOMPARE(form.LabelSTUnit->text(), QStringLiteral("/ 360 )  cycles   = "));
    QCOMPARE(form.LabelTOFUnit->text(), QStringLiteral("us"));
    // The row of value labels reads left to right at one height.
    const QList<QLabel *> row = {form.LabelBigTime, form.LabelBTUnit, form.LabelSmallTime,
                                 form.LabelSTUnit, form.LabelTOF, form.LabelTOFUnit};
    for (int i = 0; i < row.size(); ++i) {
        QCOMPARE(row[i]->y(), 72);
        if (i > 0)
            QVERIFY(row[i]->x() >= row[i - 1]->x() + row[i - 1]->width());
    }

    // The COM port page: the port is the only choice.
    QCOMPARE(form.GBox_Com->title(), QStringLiteral("COM Port Setup"));
    // COM1 to COM8 first; the serial devices the machine has follow them.
    QVERIFY(form.CB_Port->count() >= 8);
    for (int i = 0; i < 8; ++i)
        QCOMPARE(form.CB_Port->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    QCOMPARE(form.CB_Port->currentText(), QStringLiteral("0"));
    QVERIFY(form.CB_Port->isEnabled());
    for (QComboBox *box : {form.CB_BaudRate, form.CB_DataBits, form.CB_Parity, form.CB_StopBit})
        QVERIFY(!box->isEnabled());
    QCOMPARE(form.CB_BaudRate->currentText(), QStringLiteral("115200"));
    QCOMPARE(form.CB_DataBits->currentText(), QStringLiteral("8 Bits"));
    QCOMPARE(form.CB_Parity->currentText(), QStringLiteral("None"));
    QCOMPARE(form.CB_StopBit->currentText(), QStringLiteral("1 Bit"));
    QVERIFY(form.CB_HWHS->isHidden() && form.CB_SWHS->isHidden());
    QCOMPARE(form.BBtnComOK->text(), QStringLiteral("&OK"));
    QCOMPARE(form.BBtnComCancel->text(), QStringLiteral("C&ancel"));
    QCOMPARE(form.BBtnComOK->geometry(), QRect(352, 424, 91, 41));
    QCOMPARE(form.BBtnComCancel->geometry(), QRect(248, 424, 91, 41));

    // The Log page lays its memos out side by side whenever it changes size.
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // The last status panel takes the rest of the row: whole, not past the window's edge.
    QLabel *last = form.StatusPanels.back();
    QTRY_VERIFY(last->width() >= 16 && last->parentWidget()->rect().contains(last->geometry()));
    QCOMPARE(last->y(), form.StatusPanels[0]->y());
    form.mmCommunicationClick();
    QTRY_VERIFY(form.TS_Log->width() > 0);
    // Again until it holds: the status rows may settle to another height after a resize.
    const auto logFits = [&form] {
        form.resize(form.width() + 840 - form.TS_Log->width(), form.height() + 500 - form.TS_Log->height());
        return form.TS_Log->size() == QSize(840, 500);
    };
    QTRY_VERIFY(logFits());
    QCOMPARE(form.MemoComLog->geometry(), QRect(40, 40, 360, 420));
    QCOMPARE(form.MemoData->geometry(), QRect(440, 40, 360, 420));
}

void TestMainWindow::menuItems_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("tag");
    QTest::addColumn<QString>("shortcut");
    QTest::newRow("load") << "mmLoad" << "&Load Waveform" << true << 0 << "";
    QTest::newRow("save") << "mmSave" << "&Save Waveform" << true << 0 << "";
    QTest::newRow("print") << "mmPrint" << "&Print" << false << 0 << "";
    QTest::newRow("exit") << "mmExit" << "E&xit" << true << 0 << "";
    QTest::newRow("comport") << "mmComPort" << "&COM Port" << true << 0 << "";
    QTest::newRow("filter") << "mmApplyFilter" << "Apply &Filter" << true << 0 << "";
    QTest::newRow("savephase") << "mmSavePhaseData" << "Save &Phase Data" << true << 0 << "";
    QTest::newRow("savetof") << "mmSaveTOFData" << "Save &TOF Data" << true << 0 << "";
    QTest::newRow("tof") << "mmTimeOfFlight" << "&Time Of Flight" << true << 0 << "";
    QTest::newRow("waveform") << "mmWaveform" << "&Waveform" << true << 0 << "";
    QTest::newRow("communication") << "mmCommunication" << "&Communication" << true << 0 << "";
    QTest::newRow("statistics") << "mmStatistics" << "St&atistics" << true << 0 << "";
    QTest::newRow("open measurements") << "mmOpenMeasurements" << "Open &Measurements..." << true << 0 << "";
    QTest::newRow("testatan") << "mmTestATan" << "Test ATan" << false << 0 << "";
    QTest::newRow("menu") << "mmMenu" << "(&M) Menu" << true << 13 << "Ctrl+M";
    QTest::newRow("acquire") << "mmAcquire" << "(&A) Acquire Data" << true << 1 << "Ctrl+A";
    QTest::newRow("transmit") << "mmTransmit" << "(&C) Transmit Continuous Signal" << true << 3 << "Ctrl+C";
    QTest::newRow("parameters") << "mmParameters" << "(&D) Display Parameters" << true << 4 << "Ctrl+D";
    QTest::newRow("program") << "mmProgram" << "(&F) Write Program to Flash" << false << 6 << "Ctrl+F";
    QTest::newRow("keypad") << "mmKeypad" << "(&K) Test Keypad" << false << 11 << "Ctrl+K";
    QTest::newRow("newpars") << "mmNewPars" << "(&P) Enter New Parameters" << false << 16 << "Ctrl+P";
    QTest::newRow("senddata") << "mmSendData" << "(&S) Send Acquired Data to Host" << true << 19 << "Ctrl+S";
    QTest::newRow("temperature") << "mmTemperature" << "(&T) Display Temperature" << true << 20 << "Ctrl+T";
    QTest::newRow("averaged") << "mmAveragedData" << "(&V) Send Averaged Data" << true << 22 << "Ctrl+V";
    QTest::newRow("analyze") << "mmAnalyzeData" << "(&X) Analyze Data" << true << 24 << "Ctrl+X";
    QTest::newRow("analyzeacq") << "mmAnalyzeAcquired" << "(&Z) Analyze Acquired Data" << true << 26 << "Ctrl+Z";
    QTest::newRow("guide") << "mmUsersGuide" << "User's &Guide ..." << true << 0 << "";
    QTest::newRow("about") << "mmAbout" << "&About ..." << true << 0 << "";
}

void TestMainWindow::menuItems()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(bool, visible);
    QFETCH(int, tag);
    QFETCH(QString, shortcut);
    TMessageCapture messages;
    TFormMain form;
    auto *item = form.findChild<QAction *>(name);
    QVERIFY2(item, qPrintable(name));
    QCOMPARE(item->text(), caption);
    QCOMPARE(item->isVisible(), visible);
    QCOMPARE(TFormMain::Tag(item), tag);
    QCOMPARE(item->shortcut().toString(), shortcut);
}

// Every menu of the window, each checked for its own Alt keys.
static const QStringList Menus{"mmFile",    "mmEdit", "mmOptions", "mmView", "mmDisplay",
                               "mmMeasure", "mmRun",  "mmCommand", "mmHelp"};

void TestMainWindow::mnemonicsReachOneItem_data()
{
    QTest::addColumn<QString>("scope");
    // Every menu, the menu bar, and the COM Port page with the menu bar (both take Alt keys there).
    for (const QString &scope : QStringList{"MainMenu1"} + Menus + QStringList{"TS_RS232"})
        QTest::newRow(qPrintable(scope)) << scope;
}

void TestMainWindow::mnemonicsReachOneItem()
{
    QFETCH(QString, scope);
    TMessageCapture messages;
    TFormMain form;
    QStringList texts;
    if (scope == "MainMenu1" || scope == "TS_RS232") {
        // The bar takes the keys of its hidden menus too.
        for (const QAction *item : form.menuBar()->actions())
            texts << item->text();
    }
    if (scope == "TS_RS232") {
        for (const QAbstractButton *button : form.TS_RS232->findChildren<QAbstractButton *>())
            texts << button->text();
        for (const QLabel *label : form.TS_RS232->findChildren<QLabel *>())
            if (label->buddy())
                texts << label->text();
    } else if (scope != "MainMenu1") {
        const QMenu *menu = form.findChild<QMenu *>(scope);
        QVERIFY(menu);
        for (const QAction *item : menu->actions())
            if (item->isVisible())
                texts << item->text();
    } else {
        // No menu is left out of the rows.
        for (const QMenu *menu : form.findChildren<QMenu *>())
            QVERIFY2(Menus.contains(menu->objectName()),
                     qPrintable(menu->objectName()));
    }
    QMap<QString, QStringList> byKey;
    for (const QString &text : texts) {
        const QKeySequence key = QKeySequence::mnemonic(text);
        if (!key.isEmpty())
            byKey[key.toString()] << text;
    }
    // The Run menu's items are all hidden; every other scope has keys to check.
    QVERIFY(!byKey.isEmpty() || scope == "mmRun");
    for (auto it = byKey.cbegin(); it != byKey.cend(); ++it)
        QVERIFY2(it.value().size() == 1, qPrintable(it.key() + ": " + it.value().join(", ")));
}

void TestMainWindow::pagesSwitch_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("page");
    QTest::newRow("menu waveform") << "mmWaveform" << "TS_Waveform";
    QTest::newRow("menu communication") << "mmCommunication" << "TS_Log";
    QTest::newRow("menu time of flight") << "mmTimeOfFlight" << "TS_Main";
    QTest::newRow("button waveform") << "TB_Waveform" << "TS_Waveform";
    QTest::newRow("button communication") << "TB_Communcation" << "TS_Log";
    QTest::newRow("button time of flight") << "TB_TimeOfFlight" << "TS_Main";
    QTest::newRow("menu statistics") << "mmStatistics" << "TS_Statistics";
    QTest::newRow("button statistics") << "TB_Statistics" << "TS_Statistics";
}

void TestMainWindow::pagesSwitch()
{
    QFETCH(QString, control);
    QFETCH(QString, page);
    TMessageCapture messages;
    TFormMain form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // Start from another page so that every switch is seen.
    form.PageControl1->setCurrentWidget(page == "TS_Log" ? form.TS_Main : form.TS_Log);
    if (auto *action = form.findChild<QAction *>(control))
        action->trigger();
    else
        QTest::mouseClick(form.findChild<QToolButton *>(control), Qt::LeftButton);
    QCOMPARE(form.PageControl1->currentWidget()->objectName(), page);
    QVERIFY(!form.PageControl1->tabBar()->isVisible());
    QVERIFY(messages.Messages.size() == 2); // only the start-up failure
}

void TestMainWindow::checkMarkFollowsThePage_data()
{
    QTest::addColumn<QString>("control");
    QTest::newRow("Cancel") << "BBtnComCancel";
    QTest::newRow("OK") << "BBtnComOK";
    QTest::newRow("View > Time Of Flight") << "mmTimeOfFlight";
    QTest::newRow("View > Waveform") << "mmWaveform";
    QTest::newRow("View > Communication") << "mmCommunication";
    QTest::newRow("tool bar Time Of Flight") << "TB_TimeOfFlight";
    QTest::newRow("tool bar Waveform") << "TB_Waveform";
    QTest::newRow("tool bar Communication") << "TB_Communcation";
}

void TestMainWindow::checkMarkFollowsThePage()
{
    QFETCH(QString, control);
    TPtyPair pty;
    SetPort(1, pty.SlavePath());
    TMessageCapture messages;
    TFormMain form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.mmComPort->trigger();
    QCOMPARE(form.PageControl1->currentWidget(), form.TS_RS232);
    QVERIFY(form.mmComPort->isChecked());
    if (auto *item = form.findChild<QAction *>(control))
        item->trigger();
    else
        QTest::mouseClick(form.findChild<QAbstractButton *>(control), Qt::LeftButton);
    QVERIFY(form.PageControl1->currentWidget() != form.TS_RS232);
    QVERIFY(!form.mmComPort->isChecked());
    // One click opens the page again.
    form.mmComPort->trigger();
    QCOMPARE(form.PageControl1->currentWidget(), form.TS_RS232);
    QVERIFY(form.mmComPort->isChecked());
}

void TestMainWindow::tabGoesRoundEachPage_data()
{
    const QStringList toolBar = {"TB_Exit",       "TB_TimeOfFlight", "TB_Waveform", "TB_Communcation",
                                 "TB_Statistics", "TB_Acquire",      "TB_Run",      "TB_UsersGuide"};
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("Main") << "TS_Main" << toolBar;
    QTest::newRow("COM Port") << "TS_RS232" << QStringList({"CB_Port", "BBtnComCancel", "BBtnComOK"}) + toolBar;
    QTest::newRow("Waveform") << "TS_Waveform" << QStringList({"ImageChart"}) + toolBar;
    QTest::newRow("Log") << "TS_Log" << QStringList({"MemoComLog", "MemoData"}) + toolBar;
}

void TestMainWindow::tabGoesRoundEachPage()
{
    QFETCH(QString, page);
    QFETCH(QStringList, order);
    TMessageCapture messages;
    TFormMain form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.PageControl1->setCurrentWidget(form.findChild<QWidget *>(page));
    QWidget *first = form.findChild<QWidget *>(order.first());
    first->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(first->hasFocus());
    // The control that has the focus: an edit-style box has it in its line.
    const auto focused = [] {
        QWidget *w = QApplication::focusWidget();
        if (w && qobject_cast<QComboBox *>(w->parentWidget()))
            w = w->parentWidget();
        return w ? w->objectName() : QString();
    };
    QStringList visited = {focused()};
    for (qsizetype i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << focused();
    }
    QCOMPARE(visited, order + QStringList(order.first()));
}

void TestMainWindow::okWithMissingPortKeepsThePortInUse()
{
    TPtyPair pty;
    SetPort(1, pty.SlavePath());
    TMessageCapture messages;
    TFormMain form;
    QVERIFY(form.FEngine->Comm());
    form.mmComPort->trigger();
    QCOMPARE(form.PageControl1->currentWidget(), form.TS_RS232);
    QVERIFY(form.mmComPort->isChecked());
    form.CB_Port->setCurrentIndex(7);
    messages.Clear();
    QTest::mouseClick(form.BBtnComOK, Qt::LeftButton);
    // COM1 was closed for the attempt and is open again.
    QTRY_COMPARE(messages.Texts(), QStringList({"Error opening serial port !",
                                            FailCOM8 + "\n\nThe port in use is still COM1 (" + pty.SlavePath() + ")."}));
    QVERIFY(form.FEngine->Comm() && form.FEngine->Comm()->PortOpen());
    QCOMPARE(form.PageControl1->currentWidget(), form.TS_RS232);
    QVERIFY(form.mmComPort->isChecked());
    QCOMPARE(form.FEngine->PortIndex(), 0);
}

void TestMainWindow::cancelKeepsThePort()
{
    TPtyPair pty;
    SetPort(1, pty.SlavePath());
    TMessageCapture messages;
    TFormMain form;
    TComm *before = form.FEngine->Comm();
    QVERIFY(before);
    form.mmComPortClick();
    form.UD_ComPort->StepUp();
    form.UD_ComPort->StepUp();
    QCOMPARE(form.CB_Port->currentText(), QStringLiteral("COM3"));
    QTest::mouseClick(form.BBtnComCancel, Qt::LeftButton);
    QCOMPARE(form.FEngine->Comm(), before);
    QVERIFY(form.FEngine->Comm()->PortOpen());
    QCOMPARE(form.FEngine->PortIndex(), 0);
    QCOMPARE(form.PageControl1->currentWidget(), form.TS_Main);
    QVERIFY(!form.mmComPort->isChecked());
    QCOMPARE(messages.Texts(), QStringList({"Open COM1 !"}));
}

void TestMainWindow::pageShowsLastPortOpened()
{
    TPtyPair pty1, pty2;
    SetPort(1, pty1.SlavePath());
    SetPort(2, pty2.SlavePath());
    TMessageCapture messages;
    TFormMain form;
    form.mmComPortClick();
    form.CB_Port->setCurrentIndex(1);
    form.BBtnComOKClick();
    QTRY_COMPARE(messages.Texts().last(), QStringLiteral("Open COM2 !"));
    QCOMPARE(form.FEngine->PortIndex(), 1);
    QCOMPARE(form.PageControl1->currentWidget(), form.TS_Main);
    QVERIFY(!form.mmComPort->isChecked());

    form.mmComPortClick();
    QCOMPARE(form.CB_Port->currentText(), QStringLiteral("COM2"));
    form.CB_Port->setCurrentIndex(7);
    form.BBtnComOKClick();
    QTRY_COMPARE(messages.Texts().last(), FailCOM8 + "\n\nThe port in use is still COM2 (" + pty2.SlavePath() + ").");
    form.BBtnComCancelClick();
    form.mmComPortClick();
    QCOMPARE(form.CB_Port->currentText(), QStringLiteral("COM2"));
}

void TestMainWindow::okReopensTheSamePort()
{
    TPtyPair pty;
    SetPort(1, pty.SlavePath());
    TMessageCapture messages;
    TFormMain form;
    TComm *before = form.FEngine->Comm();
    form.mmComPortClick();
    QCOMPARE(form.CB_Port->currentText(), QStringLiteral("COM1"));
    form.BBtnComOKClick();
    QTRY_COMPARE(messages.Texts(), QStringList({"Open COM1 !", "Open COM1 !"}));
    QVERIFY(form.FEngine->Comm() && form.FEngine->Comm() != before);
    // The new connection carries traffic.
    form.mmMenu->trigger();
    QCOMPARE(pty.ReadAtLeast(1), QByteArray("?"));
}

void TestMainWindow::upDownWrapsAround_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("up");
    QTest::addColumn<QString>("shown");
    QTest::newRow("down from COM1") << 0 << false << "COM8";
    QTest::newRow("up from COM8") << 7 << true << "COM1";
    QTest::newRow("up from COM1") << 0 << true << "COM2";
    QTest::newRow("down from COM8") << 7 << false << "COM7";
}

void TestMainWindow::upDownWrapsAround()
{
    QFETCH(int, start);
    QFETCH(bool, up);
    QFETCH(QString, shown);
    TMessageCapture messages;
    TFormMain form;
    form.show();
    form.mmComPortClick();
    form.UD_ComPort->SetPosition(start);
    QTest::mouseClick(up ? form.UD_ComPort->UpButton() : form.UD_ComPort->DownButton(), Qt::LeftButton);
    QCOMPARE(form.CB_Port->currentText(), shown);
}

void TestMainWindow::typedPortNameIsUsed_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("lower case") << "com2" << QStringList({"Open COM2 !"});
    QTest::newRow("blanks") << " COM2 " << QStringList({"Open COM2 !"});
    const QString select = "Please select a COM port (COM1 to COM8) or type the path of a serial device !";
    QTest::newRow("nonsense") << "9600" << QStringList({select});
    QTest::newRow("empty") << "" << QStringList({select});
}

void TestMainWindow::typedPortNameIsUsed()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, expected);
    TPtyPair pty1, pty2;
    SetPort(1, pty1.SlavePath());
    SetPort(2, pty2.SlavePath());
    TMessageCapture messages;
    TFormMain form;
    TComm *before = form.FEngine->Comm();
    form.mmComPortClick();
    form.CB_Port->setEditText(typed);
    messages.Clear();
    form.BBtnComOKClick();
    QTRY_COMPARE(messages.Texts(), expected);
    if (expected.first().startsWith("Please")) {
        // Nothing usable was typed: the port in use is left alone.
        QCOMPARE(form.FEngine->Comm(), before);
        QCOMPARE(form.PageControl1->currentWidget(), form.TS_RS232);
    } else {
        QCOMPARE(form.FEngine->PortIndex(), 1);
    }
}

void TestMainWindow::commandsSendOneByte_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("state");
    QTest::newRow("menu") << "mmMenu" << QByteArray("?") << 0;
    QTest::newRow("acquire") << "mmAcquire" << QByteArray("a") << 0;
    QTest::newRow("transmit") << "mmTransmit" << QByteArray("c") << 0;
    QTest::newRow("parameters") << "mmParameters" << QByteArray("d") << 0;
    QTest::newRow("program") << "mmProgram" << QByteArray("f") << 0;
    QTest::newRow("keypad") << "mmKeypad" << QByteArray("k") << 0;
    QTest::newRow("newpars") << "mmNewPars" << QByteArray("p") << 0;
    QTest::newRow("senddata") << "mmSendData" << QByteArray("s") << 2;
    QTest::newRow("temperature") << "mmTemperature" << QByteArray("t") << 0;
    QTest::newRow("averaged") << "mmAveragedData" << QByteArray("v") << 0;
    QTest::newRow("analyze") << "mmAnalyzeData" << QByteArray("x") << 1;
    QTest::newRow("analyze acquired") << "mmAnalyzeAcquired" << QByteArray("z") << 3;
}

void TestMainWindow::commandsSendOneByte()
{
    QFETCH(QString, item);
    QFETCH(QByteArray, sent);
    QFETCH(int, state);
    TPtyPair pty;
    SetPort(1, pty.SlavePath());
    TMessageCapture messages;
    TFormMain form;
    form.mmCommandClick(form.findChild<QAction *>(item));
    QCOMPARE(pty.ReadAtLeast(1), sent);
    QCOMPARE(int(form.FEngine->Receiving().State), state);
    QCOMPARE(form.FEngine->Receiving().CommandLetter, sent.at(0));
    // A sender outside the table sends the last letter again and keeps the state.
    form.mmCommandClick(form.TB_Exit);
    QCOMPARE(pty.ReadAtLeast(1), sent);
    QCOMPARE(int(form.FEngine->Receiving().State), state);
    QCOMPARE(messages.Texts(), QStringList({"Open COM1 !"}));
}

void TestMainWindow::commandWithoutPort()
{
    TMessageCapture messages;
    TFormMain form;
    messages.Clear();
    form.mmMenu->trigger();
    QTRY_COMPARE(messages.Texts(), QStringList({"COM Port is not opened yet !"}));
}

void TestMainWindow::receivedChunksAreLogged()
{
    TPtyPair pty;
    SetPort(1, pty.SlavePath());
    TMessageCapture messages;
    TFormMain form;
    QVERIFY(pty.Write("Menu\r\n(M) Menu\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(form.MemoComLog->toPlainText().contains("(M) Menu"), 10000);
    QVERIFY(form.MemoComLog->toPlainText().startsWith("Menu\n(M) Menu"));
    QVERIFY(form.FEngine->Receiving().Pending.isEmpty()); // state 0: logged and dropped
    QTest::mouseDClick(form.MemoComLog->viewport(), Qt::LeftButton);
    QCOMPARE(form.MemoComLog->toPlainText(), QString());
}

namespace {
// The engine's log that writes to a file of this name, while it has one.
TDataLogger *LogNamed(const TEngine &engine, const QString &name)
{
    for (TDataLogger *logger : engine.Loggers())
        if (QFileInfo(TEngine::LogPath(logger)).fileName() == name)
            return logger;
    return nullptr;
}

// Count 290, M1 1000, M2 -1000 (315 degrees), at the mean report's columns.
const QByteArray MeanRecord = Record(79, {{0, "TMEAN"}, {49, "290"}, {57, "000003E8"}, {69, "FFFFFC18"}});
} // namespace

void TestMainWindow::meanReportInPiecesOverTheLine()
{
    TPtyPair pty;
    SetPort(1, pty.SlavePath());
    TMessageCapture messages;
    TFormMain form;
    form.mmCommandClick(form.mmAnalyzeAcquired);
    QCOMPARE(pty.ReadAtLeast(1), QByteArray("z"));
    const QByteArray report = "\r\n" + MeanRecord + "\r\n";
    // Each piece is in the line buffer before the next is written: three separate chunks.
    QVERIFY(pty.Write(report.left(30)));
    QTRY_COMPARE_WITH_TIMEOUT(form.FEngine->Receiving().Pending.size(), 30, 10000);
    QVERIFY(pty.Write(report.mid(30, 30)));
    QTRY_COMPARE_WITH_TIMEOUT(form.FEngine->Receiving().Pending.size(), 60, 10000);
    QVERIFY(!form.FEngine->Receiving().ReplyDone);
    QVERIFY(pty.Write(report.mid(60)));
    QTRY_VERIFY_WITH_TIMEOUT(form.FEngine->Receiving().ReplyDone, 10000);
    QCOMPARE(form.FEngine->Receiving().State, rsNone);
    QTRY_COMPARE(form.LabelSmallTime->text(), QStringLiteral("315.000"));
    QCOMPARE(form.LabelBigTime->text(), QStringLiteral("18")); // count 290
    QCOMPARE(form.PanelText(spM1), QStringLiteral("1000"));
    QCOMPARE(form.PanelText(spM2), QStringLiteral("-1000"));
    // The log reads as the stream: the leading line end opens an empty line, the record is whole.
    QCOMPARE(form.MemoComLog->toPlainText(), QString::fromLatin1("\n" + MeanRecord));
}

void TestMainWindow::vanishedPortIsReported()
{
    auto pty = std::make_unique<TPtyPair>();
    SetPort(1, pty->SlavePath());
    TMessageCapture messages;
    TFormMain form;
    QVERIFY(form.FEngine->Comm());
    pty.reset();
    QTRY_VERIFY_WITH_TIMEOUT(form.FEngine->Comm() == nullptr, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(messages.Messages.size(), 2, 10000);
    QVERIFY(messages.Texts().last().startsWith("COM1 has been disconnected !"));
    // Afterwards the window behaves as without a port.
    messages.Clear();
    form.mmMenu->trigger();
    QTRY_COMPARE(messages.Texts(), QStringList({"COM Port is not opened yet !"}));
}

void TestMainWindow::optionItemsToggle()
{
    TMessageCapture messages;
    TFormMain form;
    const TEngineOptions &options = form.FEngine->Options();
    QVERIFY(options.ApplyFilter && options.SavePhaseData && options.SaveTOFData);
    QVERIFY(form.mmApplyFilter->isChecked());
    form.mmApplyFilter->trigger();
    QVERIFY(!form.mmApplyFilter->isChecked());
    QVERIFY(!options.ApplyFilter);
    form.mmSavePhaseDataClick();
    QVERIFY(!form.mmSavePhaseData->isChecked());
    QVERIFY(!options.SavePhaseData);
    QVERIFY(options.SaveTOFData);
    form.mmApplyFilter->trigger();
    form.mmSavePhaseDataClick();
    QVERIFY(options.ApplyFilter && form.mmApplyFilter->isChecked());
    QVERIFY(options.SavePhaseData && form.mmSavePhaseData->isChecked());
}

void TestMainWindow::closeWritesPendingLogLines()
{
    TMessageCapture messages;
    {
        TFormMain form;
        form.show();
        LogNamed(*form.FEngine, "Phase.csv")->Append("1.000,2.000");
        LogNamed(*form.FEngine, "TimeOfFlight.csv")->Append("4.500,4.501");
        form.mmExit->trigger();
        QVERIFY(!LogNamed(*form.FEngine, "Phase.csv"));
    }
    QFile phase("Phase.csv"), tof("TimeOfFlight.csv");
    QVERIFY(phase.open(QIODevice::ReadOnly));
    QVERIFY(tof.open(QIODevice::ReadOnly));
    QCOMPARE(phase.readAll(), QByteArray("1.000,2.000\r\n"));
    QCOMPARE(tof.readAll(), QByteArray("4.500,4.501\r\n"));
}

void TestMainWindow::closeSavesLinesThatCannotBeWritten()
{
    TMessageCapture messages;
    QVERIFY(QDir().mkdir("Phase.csv"));
    {
        TFormMain form;
        form.show();
        messages.Clear();
        TDataLogger *phase = LogNamed(*form.FEngine, "Phase.csv");
        phase->Append("1.000,2.000");
        phase->Append("3.000,4.000");
        form.mmExit->trigger();
    }
    const QStringList saved = QDir().entryList({"Phase-*.csv"}, QDir::Files);
    QCOMPARE(saved.size(), 1);
    QCOMPARE(TWorkingFolder::Read(saved[0]), QByteArray("1.000,2.000\r\n3.000,4.000\r\n"));
    QCOMPARE(messages.Texts(), QStringList("2 lines of " + QDir::toNativeSeparators(QDir().absoluteFilePath("Phase.csv")) +
                                           " could not be written.\nThey were saved in " +
                                           QDir::toNativeSeparators(QDir().absoluteFilePath(saved[0])) +
                                           " instead."));
}

void TestMainWindow::messageBoxBelongsToTheWindow_data()
{
    QTest::addColumn<bool>("shown");
    QTest::newRow("the active window") << true;
    QTest::newRow("at start-up, the main window") << false;
}

void TestMainWindow::messageBoxBelongsToTheWindow()
{
    QFETCH(bool, shown);
    std::unique_ptr<TFormMain> form;
    {
        TMessageCapture messages;
        form = std::make_unique<TFormMain>();
    }
    if (shown) {
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    QWidget *parent = nullptr;
    Qt::WindowFlags flags;
    TInLoop closer([&parent, &flags] {
        QWidget *box = QApplication::activeModalWidget();
        if (!box)
            return false;
        parent = box->parentWidget();
        flags = box->windowFlags();
        box->close();
        return true;
    });
    form->FEngine->SendCommand('m'); // no port: the real box, opened from the event loop
    QTRY_VERIFY(closer.Finished());
    QCOMPARE(parent, form.get());
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));

    // A text shorter than its caption: the box still leaves the caption room in the title bar.
    int width = 0, captionWidth = 0;
    QTimer::singleShot(0, form.get(), [&width, &captionWidth] {
        if (QWidget *box = QApplication::activeModalWidget()) {
            width = box->width();
            captionWidth = box->fontMetrics().horizontalAdvance(box->windowTitle());
            box->close();
        }
    });
    Platform::MessageBox("Open COM1 !", "Information", Platform::TMsgIcon::Information);
    // A title bar shows an icon and up to three buttons beside the caption.
    QVERIFY2(width >= captionWidth + 90, qPrintable(QString("box %1, caption %2").arg(width).arg(captionWidth)));

    // So does the question before a file is overwritten, whose caption is the save dialog's.
    width = captionWidth = 0;
    QTimer::singleShot(0, form.get(), [&width, &captionWidth] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            width = box->width();
            captionWidth = box->fontMetrics().horizontalAdvance(box->windowTitle());
            box->button(QMessageBox::No)->click();
        }
    });
    QVERIFY(!Platform::Question("a.csv already exists.\nDo you want to replace it?", "Save waveform signal as file ..."));
    QVERIFY2(width >= captionWidth + 90, qPrintable(QString("box %1, caption %2").arg(width).arg(captionWidth)));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
