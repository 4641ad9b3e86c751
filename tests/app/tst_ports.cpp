// Any port: the COM Port page's list of COM names and system devices, a device chosen by its
// path, why an open failed, and a lost port that opens again by itself when its device is back.

#include "app/Settings.h"
#include "app/Unitmain.h"
#include "tests/common/MemoryDevice.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/PtyPair.h"
#include "tests/common/WorkingFolder.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QToolButton>
#include <QtTest>

namespace {
const QString Stable0 = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
const TSystemPort Usb0{"/dev/ttyUSB0", Stable0, "FT232R USB UART"};
const TSystemPort Acm0{"/dev/ttyACM0", {}, {}};
const TSystemPort Usb1{"/dev/ttyUSB1", {}, "CP2102"};
const QString Missing = QStringLiteral("/nonexistent/zarn-no-such-port");
const QString Retry = QStringLiteral("\n\n\n Please try another COM port!\n\n");

QStringList Column(const QComboBox *box, int column)
{
    QStringList texts;
    for (int row = 0; row < box->count(); ++row)
        texts << box->model()->index(row, column).data().toString();
    return texts;
}
} // namespace

class TestPorts : public QObject {
    Q_OBJECT
private slots:
    void init();
    void listShowsComNamesAndSystemDevices();
    void listShowsWhatExists_data();
    void listShowsWhatExists();
    void pageKeysEditTheBox();
    void choosingOpens_data();
    void choosingOpens();
    void failedOpenSaysWhy_data();
    void failedOpenSaysWhy();
    void failedChangeKeepsThePortInUse_data();
    void failedChangeKeepsThePortInUse();
    void lostPortComesBack_data();
    void lostPortComesBack();
};

void TestPorts::init()
{
    for (int n = 1; n <= TFormMain::PortCount; ++n)
        qputenv(QStringLiteral("ZARN_COM%1").arg(n).toLocal8Bit(), QStringLiteral("/dev/ttyS%1").arg(n - 1).toLocal8Bit());
    qputenv("ZARN_COM2", "/dev/ttyUSB0");
}

void TestPorts::listShowsComNamesAndSystemDevices()
{
    TWorkingFolder folder;
    TMemoryLine line;
    TPortEnumerator ports;
    ports.SetPorts({Acm0, Usb0});
    TMessageCapture messages;
    TFormMain form(nullptr, MemoryDeviceFactory(line), nullptr, &ports);
    form.mmComPortClick();
    QCOMPARE(Column(form.CB_Port, 0), QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8",
                                                   "/dev/ttyACM0", "/dev/ttyUSB0"}));
    QCOMPARE(Column(form.CB_Port, 1).mid(0, 3), QStringList({"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyS2"}));
    QCOMPARE(Column(form.CB_Port, 1).mid(8),
             QStringList({"", "FT232R USB UART  usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"}));
    // Shown: only the COM names whose device is there, and each device once (COM2 is /dev/ttyUSB0).
    QCOMPARE(form.ListedPorts(), QStringList({"COM2", "/dev/ttyACM0"}));

    // An adapter plugged in while the page is open is listed at once; what the operator typed stays.
    form.CB_Port->setEditText("/dev/pts/11");
    ports.SetPorts({Acm0, Usb0, Usb1});
    QCOMPARE(Column(form.CB_Port, 0).mid(8), QStringList({"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB1"}));
    QCOMPARE(form.ListedPorts(), QStringList({"COM2", "/dev/ttyACM0", "/dev/ttyUSB1"}));
    QCOMPARE(form.CB_Port->currentText(), QStringLiteral("/dev/pts/11"));
    // A chosen device that is unplugged stays chosen: OK then says why it cannot be opened.
    form.CB_Port->setCurrentIndex(10);
    ports.SetPorts({Acm0});
    QCOMPARE(form.CB_Port->count(), 9);
    QCOMPARE(form.ListedPorts(), QStringList({"/dev/ttyACM0"}));
    QCOMPARE(form.CB_Port->currentText(), QStringLiteral("/dev/ttyUSB1"));
    // One that is still there stays selected across a change.
    form.CB_Port->setCurrentIndex(8);
    ports.SetPorts({Acm0, Usb1});
    QCOMPARE(form.CB_Port->currentIndex(), 8);
}

void TestPorts::listShowsWhatExists_data()
{
    // "pty" and "pty2" stand for two pseudo-terminals, "link" for a symbolic link to the first,
    // "missing" for a path that leads nowhere.
    QTest::addColumn<QStringList>("mapped"); // "n=device": ZARN_COMn; the others are unset
    QTest::addColumn<QStringList>("system"); // the devices the system lists
    QTest::addColumn<QStringList>("typed");  // device paths kept from earlier runs
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("nothing mapped, no port reported") << QStringList() << QStringList() << QStringList()
                                                      << QStringList();
    QTest::newRow("UARTs the system reports") << QStringList() << QStringList({"/dev/ttyS0", "/dev/ttyS3"})
                                              << QStringList() << QStringList({"COM1", "COM4"});
    QTest::newRow("mapped pty, missing mapping") << QStringList({"2=pty", "3=missing"}) << QStringList()
                                                 << QStringList() << QStringList({"COM2"});
    QTest::newRow("one device under two names") << QStringList({"1=pty", "5=link", "6=pty"}) << QStringList()
                                                << QStringList() << QStringList({"COM1"});
    QTest::newRow("mapped adapter listed once")
        << QStringList({"2=/dev/ttyUSB0"}) << QStringList({"/dev/ttyACM0", "/dev/ttyUSB0"}) << QStringList()
        << QStringList({"COM2", "/dev/ttyACM0"});
    QTest::newRow("typed before, while there") << QStringList({"1=pty"}) << QStringList()
                                               << QStringList({"pty2", "missing", "pty", "link"})
                                               << QStringList({"COM1", "pty2"});
}

void TestPorts::listShowsWhatExists()
{
    QFETCH(QStringList, mapped);
    QFETCH(QStringList, system);
    QFETCH(QStringList, typed);
    QFETCH(QStringList, listed);
    TWorkingFolder folder;
    TPtyPair pty, pty2;
    QVERIFY(pty.IsValid() && pty2.IsValid());
    QVERIFY(QFile::link(pty.SlavePath(), folder.Path("link")));
    const auto path = [&](const QString &name) {
        return name == "pty" ? pty.SlavePath() : name == "pty2" ? pty2.SlavePath() : name == "link" ? folder.Path("link")
               : name == "missing" ? Missing : name;
    };
    for (int n = 1; n <= TFormMain::PortCount; ++n)
        qunsetenv(QStringLiteral("ZARN_COM%1").arg(n).toLocal8Bit());
    for (const QString &map : mapped)
        qputenv(("ZARN_COM" + map.section('=', 0, 0)).toLocal8Bit(), path(map.section('=', 1)).toLocal8Bit());
    TSettings settings(folder.Path("settings.conf"));
    for (auto it = typed.crbegin(); it != typed.crend(); ++it)
        settings.AddTypedDevice(path(*it));
    QList<TSystemPort> systemPorts;
    for (const QString &device : system)
        systemPorts << TSystemPort{device, {}, {}};
    TPortEnumerator ports;
    ports.SetPorts(systemPorts);
    TMemoryLine line;
    TMessageCapture messages;
    TFormMain form(nullptr, MemoryDeviceFactory(line), &settings, &ports);
    form.mmComPortClick();
    QStringList expected;
    for (const QString &name : listed)
        expected << path(name);
    QCOMPARE(form.ListedPorts(), expected);
    // A hidden entry is disabled too: the arrow keys and the wheel pass over it.
    for (int row = 0; row < form.CB_Port->count(); ++row)
        QCOMPARE(form.CB_Port->model()->index(row, 0).flags().testFlag(Qt::ItemIsEnabled),
                 expected.contains(form.CB_Port->itemText(row)));
}

void TestPorts::pageKeysEditTheBox()
{
    TWorkingFolder folder;
    TPtyPair pty;
    QVERIFY(pty.IsValid());
    TSettings settings(folder.Path("settings.conf"));
    TMemoryLine line;
    TPortEnumerator ports;
    TMessageCapture messages;
    TFormMain form(nullptr, MemoryDeviceFactory(line), &settings, &ports);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    const qsizetype opens = line.Names.size();
    // The page opens with the keys in the Port box: Ctrl+A selects, Ctrl+V pastes, nothing is sent.
    form.mmComPortClick();
    QCOMPARE(QApplication::focusWidget(), form.CB_Port);
    QTest::keyClick(form.CB_Port->lineEdit(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(form.CB_Port->lineEdit()->selectedText(), QStringLiteral("COM1"));
    QApplication::clipboard()->setText(pty.SlavePath());
    QTest::keyClick(form.CB_Port->lineEdit(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(form.CB_Port->currentText(), pty.SlavePath());
    QCOMPARE(line.Written, QByteArray());
    // Esc is Cancel: back to the Main page, the port untouched.
    QTest::keyClick(form.CB_Port->lineEdit(), Qt::Key_Escape);
    QCOMPARE(form.PageControl1->currentWidget(), form.TS_Main);
    QVERIFY(!form.mmComPort->isChecked());
    QCOMPARE(line.Names.size(), opens);
    // A pseudo-terminal typed and opened is offered again, in this run and the next.
    form.mmComPortClick();
    form.CB_Port->setEditText(pty.SlavePath());
    QTest::keyClick(form.CB_Port->lineEdit(), Qt::Key_Return);
    QTRY_COMPARE(form.PageControl1->currentWidget(), form.TS_Main);
    QCOMPARE(line.Names.last(), pty.SlavePath());
    QCOMPARE(settings.TypedDevices(), QStringList({pty.SlavePath()}));
    form.mmComPortClick();
    QVERIFY(form.ListedPorts().contains(pty.SlavePath()));
    QCOMPARE(form.CB_Port->lineEdit()->selectedText(), pty.SlavePath());
}

void TestPorts::choosingOpens_data()
{
    QTest::addColumn<int>("row");      // a row of the list, or -1 to type
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("enter");   // Enter in the box instead of OK
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("message");
    QTest::newRow("listed device") << 9 << "" << false << "/dev/ttyUSB0" << Stable0 << "Open /dev/ttyUSB0 !";
    QTest::newRow("typed path") << -1 << " /dev/pts/11 " << false << "/dev/pts/11" << "/dev/pts/11"
                                << "Open /dev/pts/11 !";
    QTest::newRow("typed path, Enter") << -1 << "/dev/pts/0" << true << "/dev/pts/0" << "/dev/pts/0"
                                       << "Open /dev/pts/0 !";
    QTest::newRow("typed COM name, Enter") << -1 << "com2" << true << "/dev/ttyUSB0" << "COM2" << "Open COM2 !";
}

void TestPorts::choosingOpens()
{
    QFETCH(int, row);
    QFETCH(QString, typed);
    QFETCH(bool, enter);
    QFETCH(QString, opened);
    QFETCH(QString, choice);
    QFETCH(QString, message);
    TWorkingFolder folder;
    TMemoryLine line;
    TPortEnumerator ports;
    ports.SetPorts({Acm0, Usb0});
    TMessageCapture messages;
    TFormMain form(nullptr, MemoryDeviceFactory(line), nullptr, &ports);
    form.show();
    form.mmComPortClick();
    if (row >= 0) {
        form.CB_Port->setCurrentIndex(row);
    } else {
        form.CB_Port->lineEdit()->clear();
        QTest::keyClicks(form.CB_Port->lineEdit(), typed);
    }
    messages.Clear();
    if (enter)
        QTest::keyClick(form.CB_Port->lineEdit(), Qt::Key_Return);
    else
        form.BBtnComOKClick();
    QTRY_COMPARE(messages.Texts(), QStringList({message}));
    QCOMPARE(line.Names.last(), opened);
    QCOMPARE(form.FEngine->PortChoice(), choice);
    QCOMPARE(form.PageControl1->currentWidget(), form.TS_Main);
    // The page opened again shows the choice.
    form.mmComPortClick();
    QCOMPARE(form.CB_Port->currentText(), row >= 0 ? opened : choice);
    // The choice kept as one string opens the same device again.
    form.FEngine->ClosePort();
    QVERIFY(form.FEngine->OpenPortChoice(choice));
    QCOMPARE(line.Names.last(), choice.startsWith('/') ? choice : opened);
}

void TestPorts::failedOpenSaysWhy_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("missing path") << Missing << QStringList({"Error opening serial port !",
                                                             "Cannot open " + Missing + " !" + Retry + Missing +
                                                                 ": No such file or directory"});
    QTest::newRow("not a device") << "/dev" << QStringList({"Error opening serial port !",
                                                          "Cannot open /dev !" + Retry + "/dev: Not a serial device"});
    QTest::newRow("nonsense") << "9600"
                              << QStringList({"Please select a COM port (COM1 to COM8) or type the path of a "
                                              "serial device !"});
}

void TestPorts::failedOpenSaysWhy()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, expected);
    qputenv("ZARN_COM1", Missing.toLocal8Bit()); // the real device layer opens COM1 at start
    TWorkingFolder folder;
    TMemoryLine line;
    TPortEnumerator ports;
    TMessageCapture messages;
    // The real device layer: the reason is the system's.
    TFormMain form(nullptr, {}, nullptr, &ports);
    form.mmComPortClick();
    form.CB_Port->setEditText(typed);
    messages.Clear();
    form.BBtnComOKClick();
    QTRY_COMPARE(messages.Texts(), expected);
    QCOMPARE(form.PageControl1->currentWidget(), form.TS_RS232);
}

void TestPorts::failedChangeKeepsThePortInUse_data()
{
    QTest::addColumn<bool>("oldGoneToo"); // COM1 cannot be opened again either
    QTest::addColumn<QString>("tail");    // what the failure box says last; @: the terminal
    QTest::newRow("back on the port in use") << false << "\n\nThe port in use is still COM1 (@).";
    QTest::newRow("the port in use gone too")
        << true << "\n\nCOM1 (@), the port in use before, cannot be opened again either: No such file or directory\n"
                   "No port is open.";
}

void TestPorts::failedChangeKeepsThePortInUse()
{
    QFETCH(bool, oldGoneToo);
    QFETCH(QString, tail);
    TPtyPair pty;
    QVERIFY(pty.IsValid());
    qputenv("ZARN_COM1", pty.SlavePath().toLocal8Bit());
    TWorkingFolder folder;
    TPortEnumerator ports;
    TMessageCapture messages;
    // The real device layer, on a working terminal.
    TFormMain form(nullptr, {}, nullptr, &ports);
    form.show();
    QVERIFY(form.FEngine->Comm());
    QVERIFY(form.LabelNoPort->isHidden());
    form.mmComPortClick();
    form.CB_Port->lineEdit()->clear();
    QTest::keyClicks(form.CB_Port->lineEdit(), Missing);
    if (oldGoneToo)
        qputenv("ZARN_COM1", Missing.toLocal8Bit());
    messages.Clear();
    QTest::keyClick(form.CB_Port->lineEdit(), Qt::Key_Return);
    QTRY_COMPARE(messages.Texts(), QStringList({"Error opening serial port !", "Cannot open " + Missing + " !" + Retry +
                                                                               Missing + ": No such file or directory" +
                                                                               tail.replace("@", pty.SlavePath())}));
    QCOMPARE(form.PageControl1->currentWidget(), form.TS_RS232);
    form.BBtnComCancelClick();
    QCOMPARE(form.PageControl1->currentWidget(), form.TS_Main);
    QCOMPARE(form.FEngine->PortChoice(), QStringLiteral("COM1"));
    if (oldGoneToo) {
        QVERIFY(!form.FEngine->Comm());
        QVERIFY(form.LabelNoPort->isVisible());
        QCOMPARE(form.LabelNoPort->text(), QStringLiteral("No port open"));
        return;
    }
    // COM1 works as before.
    QVERIFY(form.LabelNoPort->isHidden());
    form.mmMenu->trigger();
    QCOMPARE(pty.ReadAtLeast(1), QByteArray("?"));
}

void TestPorts::lostPortComesBack_data()
{
    QTest::addColumn<QString>("stable");     // the lost device's stable name
    QTest::addColumn<QString>("backPath");   // what the system then lists
    QTest::addColumn<QString>("backStable");
    QTest::addColumn<QString>("reopened");   // empty: not opened again
    QTest::newRow("same node") << "" << "/dev/ttyUSB0" << "" << "/dev/ttyUSB0";
    QTest::newRow("same stable name, new node") << Stable0 << "/dev/ttyUSB1" << Stable0 << "/dev/ttyUSB1";
    QTest::newRow("another adapter at the node") << Stable0 << "/dev/ttyUSB0" << Stable0 + "x" << "";
    QTest::newRow("another node") << "" << "/dev/ttyUSB1" << "" << "";
}

void TestPorts::lostPortComesBack()
{
    QFETCH(QString, stable);
    QFETCH(QString, backPath);
    QFETCH(QString, backStable);
    QFETCH(QString, reopened);
    qputenv("ZARN_COM1", "/dev/ttyUSB0");
    TWorkingFolder folder;
    TMemoryLine line;
    TPortEnumerator ports;
    ports.SetPorts({{"/dev/ttyUSB0", stable, {}}});
    TMessageCapture messages;
    TFormMain form(nullptr, MemoryDeviceFactory(line), nullptr, &ports);
    QVERIFY(form.FEngine->Comm());
    form.TB_RunClick(form.TB_Run);
    QVERIFY(form.FEngine->Running());

    LoseDevice(line);
    QTRY_VERIFY_WITH_TIMEOUT(!form.FEngine->Running() && form.TB_Run->text() == "Run", 10000);
    QTRY_COMPARE_WITH_TIMEOUT(messages.Texts().size(), 2, 10000);
    QVERIFY(messages.Texts().last().startsWith("COM1 has been disconnected !"));
    QVERIFY(!form.FEngine->Comm());
    // Still listed (the system has not noticed yet): nothing to open again.
    ports.SetPorts({{"/dev/ttyUSB0", stable, {}}, Acm0});
    QCOMPARE(line.Opens, 1);

    ports.SetPorts({Acm0});
    line.Written.clear();
    ports.SetPorts({Acm0, {backPath, backStable, {}}});
    ports.SetPorts({{backPath, backStable, {}}});
    if (reopened.isEmpty()) {
        QCOMPARE(line.Opens, 1);
        QVERIFY(!form.FEngine->Comm());
        QVERIFY(form.LabelPortNote->isHidden());
        return;
    }
    QCOMPARE(line.Opens, 2);
    QCOMPARE(line.Names.last(), reopened);
    QVERIFY(form.FEngine->Comm());
    QCOMPARE(form.LabelPortNote->text(), "COM1 is back: " + reopened);
    QVERIFY(!form.LabelPortNote->isHidden());
    // Said once, in the status bar: no box; the Run the loss stopped stays stopped.
    QCOMPARE(messages.Texts().size(), 2);
    QVERIFY(!form.FEngine->Running());
    QCOMPARE(form.TB_Run->text(), QStringLiteral("Run"));
    QCOMPARE(line.Written, QByteArray());
    // The port works, and COM1 is still the choice.
    form.mmMenu->trigger();
    QCOMPARE(line.Written, QByteArray("?"));
    QCOMPARE(form.FEngine->PortChoice(), QStringLiteral("COM1"));
}

QTEST_MAIN(TestPorts)
#include "tst_ports.moc"
