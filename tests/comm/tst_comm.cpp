// TComm end to end: the component opens the slave of a pseudo-terminal pair as COM1 and the test plays
// the instrument on the master side.

#include "comm/Comm.h"
#include "comm/SerialDevice.h"
#include "tests/common/NoticeCapture.h"
#include "tests/common/NotSerial.h"
#include "tests/common/PollSteps.h"
#include "tests/common/PtyPair.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSerialPort>
#include <QSysInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray AllByteValues()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes;
}

// Records the events of one component; reads on every receive event unless told not to.
struct TRecorder {
    explicit TRecorder(TComm &comm) : Comm(comm)
    {
        comm.OnReceiveData.Bind([this](QObject *) {
            ++Received;
            if (ReadOnEvent)
                Collected += Comm.ReadInputData();
        });
        comm.OnReceiveError.Bind([this](QObject *, uint32_t mask) { Errors << mask; });
    }
    TComm &Comm;
    bool ReadOnEvent = true;
    int Received = 0;
    QByteArray Collected;
    QList<uint32_t> Errors;
};

} // namespace

class TestComm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TPtyPair> FPty;
    std::unique_ptr<TNoticeCapture> FNotices;
    std::unique_ptr<TPollStepCounter> FPolls;

    std::unique_ptr<TComm> OpenPort(int threshold = 1)
    {
        auto comm = std::make_unique<TComm>();
        FNotices->Listen(comm.get());
        comm->SetBaudRate(115200);
        comm->SetRThreshold(threshold);
        FPolls->Watch(*comm);
        comm->SetPortOpen(true);
        return comm;
    }
    bool WaitTicks(int ticks) { return FPolls->WaitSteps(ticks); }

private slots:
    void init()
    {
        FPty = std::make_unique<TPtyPair>();
        QVERIFY(FPty->IsValid());
        qputenv("ZARN_COM1", FPty->SlavePath().toLocal8Bit());
        FNotices = std::make_unique<TNoticeCapture>();
        FPolls = std::make_unique<TPollStepCounter>();
    }

    void cleanup()
    {
        FPolls.reset();
        FNotices.reset();
        FPty.reset();
        qunsetenv("ZARN_COM1");
    }

    void writeAllByteValues_data()
    {
        QTest::addColumn<int>("call");
        QTest::newRow("OutputString") << 0;
        QTest::newRow("OutputBuffer") << 1;
        QTest::newRow("OutputByte") << 2;
    }

    void writeAllByteValues()
    {
        QFETCH(int, call);
        auto comm = OpenPort();
        QVERIFY(comm->PortOpen());
        const QByteArray bytes = AllByteValues();
        bool ok = false;
        switch (call) {
        case 0: ok = comm->OutputString(bytes); break;
        case 1: ok = comm->OutputBuffer(bytes.size(), bytes.constData()); break;
        case 2: ok = comm->OutputByte(bytes); break;
        }
        QVERIFY(ok);
        QCOMPARE(FPty->ReadAtLeast(bytes.size()), bytes);
        QVERIFY(comm->OutputString(QByteArray()));
        QVERIFY(FNotices->Texts().isEmpty());
        comm->SetPortOpen(false);
    }

    void receiveAllByteValuesKeepsZeroBytes()
    {
        auto comm = OpenPort();
        TRecorder recorder(*comm);
        QByteArray bytes = AllByteValues();
        bytes += QByteArray(3, '\0');
        QVERIFY(FPty->Write(bytes));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.Collected.size(), bytes.size(), 10000);
        QCOMPARE(recorder.Collected, bytes);
        QVERIFY(TComm::StringToASCIIString(comm->ReadInputData()).endsWith("(00)(00)(00)"));
        // Nothing waits now: the last read's bytes are returned again.
        const QByteArray last = comm->ReadInputData();
        QVERIFY(!last.isEmpty());
        QCOMPARE(comm->ReadInputData(), last);
        QCOMPARE(comm->ReadInputByte(), last);
        comm->SetPortOpen(false);
    }

    void receiveEventsFollowThreshold_data()
    {
        QTest::addColumn<int>("threshold");
        QTest::newRow("0: never") << 0;
        QTest::newRow("1: every tick with data") << 1;
    }

    void receiveEventsFollowThreshold()
    {
        QFETCH(int, threshold);
        auto comm = OpenPort(threshold);
        TRecorder recorder(*comm);
        recorder.ReadOnEvent = false;
        QVERIFY(FPty->Write("0123456789"));
        QTRY_COMPARE_WITH_TIMEOUT(comm->ReadInDataCount(), int64_t(10), 10000);
        QVERIFY(WaitTicks(5));
        if (threshold == 0)
            QCOMPARE(recorder.Received, 0);
        else
            QVERIFY(recorder.Received >= 4); // unread data raises the event on every tick
        QCOMPARE(comm->ReadInDataCount(), int64_t(10));
        comm->SetPortOpen(false);
    }

    void inputLenLeavesTheRestQueued()
    {
        auto comm = OpenPort();
        comm->SetInputLen(4);
        TRecorder recorder(*comm);
        QVERIFY(FPty->Write("0123456789"));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.Received >= 2, 10000);
        QCOMPARE(recorder.Collected.left(8), QByteArray("01234567"));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.Collected, QByteArray("0123456789"), 10000);
        comm->SetPortOpen(false);
    }

    void backlogIsReceivedWhole()
    {
        QByteArray bytes(20000, '\0');
        QRandomGenerator random(4711);
        for (char &b : bytes)
            b = static_cast<char>(random.bounded(256));
        // Pile up what the line takes before the component reads any of it: the port holds one
        // input queue's worth, the rest waits in the terminal.
        auto comm = OpenPort(0);
        TRecorder recorder(*comm);
        qint64 piled = 0;
        QTRY_VERIFY_WITH_TIMEOUT((piled += FPty->WriteSome(bytes.constData() + piled, bytes.size() - piled),
                                  comm->ReadInDataCount() == TComm::ReceiveBufferSize),
                                 10000);
        comm->SetRThreshold(1);
        QVERIFY(FPty->Write(bytes.mid(piled)));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.Collected.size(), bytes.size(), 20000);
        QCOMPARE(recorder.Collected, bytes);
        QVERIFY(recorder.Received >= 5);
        comm->SetPortOpen(false);
    }

    void floodIsHeldBackByTheLine()
    {
        // The instrument sends far faster than the component reads; the port must never hold more
        // than its input queue, and every byte must still arrive, in order, the reply at the end too.
        constexpr qint64 Flood = 8 << 20;
        const QByteArray reply = "\r\nTMEAN reply\r\n";
        QByteArray pattern(1 << 16, Qt::Uninitialized);
        for (int i = 0; i < pattern.size(); ++i)
            pattern[i] = static_cast<char>(i % 251);
        auto comm = OpenPort(0);
        qint64 written = 0, received = 0;
        int64_t most = 0;
        QByteArray tail;
        for (int round = 0; received < Flood + reply.size() && round < 100000; ++round) {
            if (written < Flood) {
                const qint64 offset = written % 251;
                written += FPty->WriteSome(pattern.constData() + offset,
                                           qMin<qint64>(pattern.size() - offset, Flood - written));
            } else if (written == Flood && FPty->Write(reply)) {
                written += reply.size();
            }
            const int64_t waiting = comm->ReadInDataCount();
            most = qMax(most, waiting);
            if (waiting == 0)
                continue;
            const QByteArray chunk = comm->ReadInputData();
            for (int i = 0; i < chunk.size() && received + i < Flood; ++i)
                QCOMPARE(chunk[i], static_cast<char>((received + i) % 251));
            received += chunk.size();
            tail = (tail + chunk).right(reply.size());
        }
        QCOMPARE(received, Flood + reply.size());
        QCOMPARE(tail, reply);
        QVERIFY2(most <= TComm::ReceiveBufferSize, qPrintable(QString::number(most)));
        comm->SetPortOpen(false);
    }

    void secondOpenerIsRefused()
    {
        auto first = OpenPort();
        QVERIFY(first->PortOpen());
        TComm second;
        FNotices->Listen(&second);
        second.SetPortOpen(true);
        QVERIFY(!second.PortOpen());
        QCOMPARE(FNotices->Texts(), QStringList{"Error opening serial port !"});
        QVERIFY(first->OutputString("still mine"));
        QCOMPARE(FPty->ReadAtLeast(10), QByteArray("still mine"));
        first->SetPortOpen(false);
        second.SetPortOpen(true); // free again
        QVERIFY(second.PortOpen());
        second.SetPortOpen(false);
    }

    void closedPortCallsShowMessage_data()
    {
        QTest::addColumn<int>("call");
        QTest::addColumn<QString>("message");
        const QString spaced = "COM Port is not opened yet !";
        QTest::newRow("GetModemState") << 0 << spaced;
        QTest::newRow("ReadInputData") << 1 << spaced;
        QTest::newRow("ReadInputByte") << 2 << spaced;
        QTest::newRow("OutputString") << 3 << spaced;
        QTest::newRow("OutputByte") << 4 << spaced;
        QTest::newRow("OutputBuffer") << 5 << QString("COM Port is not opened yet!");
    }

    void closedPortCallsShowMessage()
    {
        QFETCH(int, call);
        QFETCH(QString, message);
        auto comm = OpenPort();
        TRecorder recorder(*comm);
        QVERIFY(FPty->Write("xyz"));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.Collected, QByteArray("xyz"), 10000);
        comm->SetPortOpen(false);
        QVERIFY(FPty->Write("late"));
        switch (call) {
        case 0: QVERIFY(!comm->GetModemState()); break;
        case 1: QCOMPARE(comm->ReadInputData(), QByteArray("xyz")); break;
        case 2: QCOMPARE(comm->ReadInputByte(), QByteArray("xyz")); break;
        case 3: QVERIFY(!comm->OutputString("a")); break;
        case 4: QVERIFY(!comm->OutputByte("a")); break;
        case 5: QVERIFY(!comm->OutputBuffer(1, "a")); break;
        }
        QCOMPARE(FNotices->Texts(), QStringList{message});
        QCOMPARE(FPty->ReadAvailable(), QByteArray());
    }

    void openingTwiceKeepsPolling()
    {
        auto comm = OpenPort();
        TRecorder recorder(*comm);
        comm->SetPortOpen(true);
        QCOMPARE(FNotices->Texts(), QStringList{"COM Port has been opened !"});
        QVERIFY(comm->PortOpen());
        QVERIFY(FPty->Write("go"));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.Collected, QByteArray("go"), 10000);
        comm->SetPortOpen(false);
    }

    void unusableDeviceIsNotOpened_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("notSerial"); // no serial device at all, rather than one missing
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing" << false << "No such file or directory";
        QTest::newRow("folder") << "folder" << true << "Not a serial device";
        QTest::newRow("regular file") << "file" << true << "Not a serial device";
        QTest::newRow("FIFO") << "fifo" << true << "Not a serial device";
        QTest::newRow("device that is no terminal") << "node" << true << "Not a serial device";
    }

    void unusableDeviceIsNotOpened()
    {
        QFETCH(QString, kind);
        QFETCH(bool, notSerial);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (kind == "node" && ::geteuid() != 0)
            QSKIP("making a device node needs root");
        const QString path = kind == "missing" ? dir.filePath("missing") : MakeNotSerial(dir.path(), kind);
        QVERIFY(!path.isEmpty());
        qputenv("ZARN_COM1", path.toLocal8Bit());
        auto comm = OpenPort();
        QVERIFY(!comm->PortOpen());
        QVERIFY(!PollTimerActive(*comm));
        QCOMPARE(FNotices->Texts(), QStringList{"Error opening serial port !"});
        QCOMPARE(comm->OpenNotSerial(), notSerial);
        QCOMPARE(comm->OpenError(), path + ": " + reason);
    }

    void portInUseNamesItsHolder_data()
    {
        QTest::addColumn<QString>("holder"); // who holds the port
        QTest::addColumn<bool>("byPath");    // the port chosen by its path rather than as COM1
        QTest::addColumn<QString>("error");  // @: the device
        QTest::newRow("this program") << "self" << false << "COM1 (@) is in use by %name (process %pid)";
        QTest::newRow("this program, by path") << "self" << true << "@ is in use by %name (process %pid)";
        QTest::newRow("another program") << "child" << false << "COM1 (@) is in use by sleep (process %pid)";
        QTest::newRow("another host: the system's words")
            << "remote" << false << "@: Permission error while locking the device";
        QTest::newRow("a process that has ended") << "ended" << false << "";
    }

    void portInUseNamesItsHolder()
    {
        QFETCH(QString, holder);
        QFETCH(bool, byPath);
        QFETCH(QString, error);
        const QString device = FPty->SlavePath();
        // Where QSerialPort keeps its lock files on this system: it says by taking one.
        QString lockPath;
        {
            QSerialPort probe(device);
            QVERIFY(probe.open(QIODevice::ReadWrite));
            for (const char *folder : {"/var/lock", "/run/lock", "/tmp"}) {
                const QString candidate = QStringLiteral("%1/LCK..%2").arg(folder, device.mid(5).replace('/', '_'));
                if (QFileInfo::exists(candidate) && lockPath.isEmpty())
                    lockPath = candidate;
            }
        }
        QVERIFY(!lockPath.isEmpty());
        QVERIFY(!QFileInfo::exists(lockPath));
        const auto removeLock = qScopeGuard([&] {
            if (holder != "self")
                QFile::remove(lockPath);
        });

        std::unique_ptr<TComm> first;
        QProcess child;
        qint64 pid = QCoreApplication::applicationPid();
        QString name = QString::fromLocal8Bit(ReadAll("/proc/self/comm")).trimmed();
        const auto writeLock = [&](qint64 owner, const QString &program, const QString &host) {
            QFile lock(lockPath);
            return lock.open(QIODevice::WriteOnly) &&
                   lock.write(QStringLiteral("%1\n%2\n%3\n").arg(owner).arg(program, host).toLocal8Bit()) > 0;
        };
        if (holder == "self") {
            first = OpenPort();
            QVERIFY(first->PortOpen());
        } else if (holder == "child" || holder == "remote") {
            child.start("sleep", {"600"});
            QVERIFY(child.waitForStarted());
            pid = child.processId();
            QVERIFY(writeLock(pid, "sleep", holder == "child" ? QSysInfo::machineHostName() : "elsewhere.invalid"));
        } else {
            child.start("sleep", {"600"});
            QVERIFY(child.waitForStarted());
            const qint64 ended = child.processId();
            child.kill();
            QVERIFY(child.waitForFinished());
            QVERIFY(writeLock(ended, "sleep", QSysInfo::machineHostName()));
        }

        TComm second;
        if (byPath)
            second.SetDeviceName(device);
        second.SetPortOpen(true);
        if (child.state() != QProcess::NotRunning) {
            child.kill();
            child.waitForFinished();
        }
        if (error.isEmpty()) {
            // A stale lock is taken over.
            QVERIFY(second.PortOpen());
            second.SetPortOpen(false);
            QVERIFY(!QFileInfo::exists(lockPath));
            return;
        }
        QVERIFY(!second.PortOpen());
        QCOMPARE(second.OpenError(),
                 QString(error).replace("@", device).replace("%name", name).replace("%pid", QString::number(pid)));
        QVERIFY(!second.OpenNotSerial());
        if (first)
            first->SetPortOpen(false);
        QVERIFY(holder != "self" || !QFileInfo::exists(lockPath));
    }

    void vanishedPeerIsReportedOnce()
    {
        auto comm = OpenPort();
        TRecorder recorder(*comm);
        QVERIFY(FPty->Write("last"));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.Collected, QByteArray("last"), 10000);
        FPty->CloseMaster();
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.Errors.isEmpty(), 10000);
        QVERIFY(!comm->PortOpen());
        QVERIFY(!PollTimerActive(*comm));

        // Nothing more is raised while the event loop keeps turning, and no poll step runs on the
        // dead device (bench_timing prints the CPU the process takes meanwhile).
        int steps = 0;
        if (auto *timer = comm->findChild<QTimer *>())
            connect(timer, &QTimer::timeout, comm.get(), [&steps] { ++steps; });
        QTest::qWait(500);
        QCOMPARE(recorder.Errors, QList<uint32_t>{CE_DEVICEGONE});
        QCOMPARE(steps, 0);
        QVERIFY(!PollTimerActive(*comm));
        QVERIFY(FNotices->Texts().isEmpty());

        QCOMPARE(comm->ReadInputData(), QByteArray("last"));
        QVERIFY(!comm->OutputString("x"));
        QCOMPARE(FNotices->Texts().size(), 2);
    }

    void deviceSignalsWaitingData()
    {
        TSerialDevice device;
        QVERIFY(device.Open(FPty->SlavePath()));
        int raised = 0;
        device.OnDataWaiting = [&] { ++raised; };
        QVERIFY(FPty->Write("ab"));
        QTRY_VERIFY_WITH_TIMEOUT(raised > 0, 10000);
        char buffer[4] = {};
        int64_t got = 0;
        QVERIFY(device.Read(buffer, sizeof buffer, got));
        QCOMPARE(QByteArray(buffer, int(got)), QByteArray("ab"));
        device.Close();
    }

    void deviceNameFor_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QString>("device");
        QTest::newRow("COM1 default") << "COM1" << QByteArray() << "/dev/ttyS0";
        QTest::newRow("COM10 default") << "COM10" << QByteArray() << "/dev/ttyS9";
        QTest::newRow("COM3 from variable") << "COM3" << QByteArray("/dev/ttyUSB0") << "/dev/ttyUSB0";
    }

    void deviceNameFor()
    {
        QFETCH(QString, port);
        QFETCH(QByteArray, variable);
        QFETCH(QString, device);
        const QByteArray name = "ZARN_" + port.toLatin1();
        if (variable.isEmpty())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), variable);
        QCOMPARE(TComm::DeviceNameFor(port), device);
        qunsetenv(name.constData());
    }

    void stringToASCIIString_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("line end") << QByteArray("AB\r\n") << QByteArray("AB(0D)(0A)");
        QTest::newRow("printable edges") << QByteArray(" ~") << QByteArray(" ~");
        QTest::newRow("7F FF 00") << QByteArray("\x7f\xff\0", 3) << QByteArray("(7F)(FF)(00)");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("600 bytes") << (QByteArray(300, 'a') + QByteArray(300, '\x01'))
                                   << (QByteArray(300, 'a') + QByteArray("(01)").repeated(300));
    }

    void stringToASCIIString()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, shown);
        QCOMPARE(TComm::StringToASCIIString(text), shown);
    }

    void integerToHex_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<char>("digit");
        QTest::newRow("0") << 0 << '0';
        QTest::newRow("9") << 9 << '9';
        QTest::newRow("10") << 10 << 'A';
        QTest::newRow("15") << 15 << 'F';
        QTest::newRow("16") << 16 << '*';
        QTest::newRow("-1") << -1 << '*';
    }

    void integerToHex()
    {
        QFETCH(int, value);
        QFETCH(char, digit);
        QCOMPARE(TComm::IntegerToHex(static_cast<signed char>(value)), digit);
    }
};

QTEST_MAIN(TestComm)
#include "tst_comm.moc"
