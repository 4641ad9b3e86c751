// TComm against a fake device that records every platform call: line settings, modem lines, error
// words, read sizes and failures that a real port cannot be made to show on demand.

#include "comm/Comm.h"
#include "tests/common/NoticeCapture.h"
#include "tests/common/PollSteps.h"

#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// What the fake "hardware" holds; it outlives the devices TComm makes and drops.
struct TFakeLine {
    QStringList Calls;
    TDeviceSettings Settings;
    QList<TDeviceSettings> Written;
    bool Rts = false;
    bool Dtr = false;
    uint32_t ModemBits = 0;
    bool ModemFails = false;
    uint32_t NextError = 0;
    int Queries = 0;
    QByteArray Incoming;
    bool QueuesFail = false;
    bool QueryFails = false;
    bool ReadFails = false;
    int Writes = 0;
    int FailingWrite = 0;              // this write, counted from 1, fails; 0: none does
    bool GoneWithFailingWrite = false; // the device goes away with that write
    bool GoneAtNextQuery = false;
    bool InsideGone = false;
    int Alive = 0;
};

class TFakeDevice : public TComDevice {
public:
    explicit TFakeDevice(TFakeLine &line) : L(line) { ++L.Alive; }
    ~TFakeDevice() override { --L.Alive; }

    bool Open(const QString &name) override { L.Calls << "Open " + name; return FOpen = true; }
    bool IsOpen() const override { return FOpen; }
    bool SetupQueues(int in, int out) override
    {
        L.Calls << QString("SetupQueues %1 %2").arg(in).arg(out);
        return !L.QueuesFail;
    }
    bool Purge(uint32_t flags) override
    {
        L.Calls << QString("Purge %1").arg(flags);
        if (flags & PURGE_RXCLEAR)
            L.Incoming.clear();
        return true;
    }
    bool GetSettings(TDeviceSettings &s) override { L.Calls << "GetSettings"; s = L.Settings; return true; }
    bool SetSettings(const TDeviceSettings &s) override
    {
        L.Calls << "SetSettings";
        L.Settings = s;
        L.Written << s;
        if (s.RtsControl == 1) L.Rts = true;
        if (s.RtsControl == 0) L.Rts = false;
        return true;
    }
    bool ClearError(uint32_t &error, int64_t &waiting) override
    {
        ++L.Queries;
        if (L.GoneAtNextQuery && OnGone) {
            L.GoneAtNextQuery = false;
            L.InsideGone = true;
            OnGone();
            L.InsideGone = false;
            return false;
        }
        if (L.QueryFails)
            return false;
        error = L.NextError;
        L.NextError = 0;
        waiting = L.Incoming.size();
        return true;
    }
    bool ModemStatus(uint32_t &bits) override
    {
        bits = L.ModemBits;
        return !L.ModemFails;
    }
    bool Escape(int function) override
    {
        L.Calls << QString("Escape %1").arg(function);
        if (function == SETRTS || function == CLRRTS) L.Rts = function == SETRTS;
        if (function == SETDTR || function == CLRDTR) L.Dtr = function == SETDTR;
        return true;
    }
    bool Read(char *buffer, int64_t count, int64_t &bytesRead) override
    {
        L.Calls << QString("Read %1").arg(count);
        if (L.ReadFails)
            return false;
        bytesRead = std::min<int64_t>(count, L.Incoming.size());
        memcpy(buffer, L.Incoming.constData(), size_t(bytesRead));
        L.Incoming.remove(0, int(bytesRead));
        return true;
    }
    bool Write(const char *, int64_t count) override
    {
        L.Calls << QString("Write %1").arg(count);
        if (++L.Writes != L.FailingWrite)
            return true;
        if (L.GoneWithFailingWrite && OnGone)
            OnGone();
        return false;
    }
    void Close() override { L.Calls << (L.InsideGone ? "Close inside OnGone" : "Close"); FOpen = false; }

private:
    TFakeLine &L;
    bool FOpen = false;
};

// Which write call a row makes, and what has become of the device by then.
enum { wcString, wcBuffer, wcBytes };
enum { dsPresent, dsGoneBefore, dsGoneWithWrite };

} // namespace

class TestCommFake : public QObject {
    Q_OBJECT

private:
    TFakeLine FLine;
    std::unique_ptr<TNoticeCapture> FNotices;
    std::unique_ptr<TPollStepCounter> FPolls;

    std::unique_ptr<TComm> MakeComm()
    {
        auto comm = std::make_unique<TComm>(nullptr, [this] { return std::make_unique<TFakeDevice>(FLine); });
        FNotices->Listen(comm.get());
        FPolls->Watch(*comm);
        return comm;
    }
    bool WaitTicks(int ticks) { return FPolls->WaitSteps(ticks); }

private slots:
    void initTestCase()
    {
        for (const char *name : {"ZARN_COM1", "ZARN_COM3"})
            qunsetenv(name);
    }

    void init()
    {
        FLine = TFakeLine{};
        FNotices = std::make_unique<TNoticeCapture>();
        FPolls = std::make_unique<TPollStepCounter>();
    }

    void cleanup()
    {
        FPolls.reset();
        FNotices.reset();
    }

    void openRaisesDtrThenAppliesStoredRts()
    {
        auto comm = MakeComm();
        comm->SetHwHandShaking(hhNoneRTSON);
        comm->SetDTRStatus(false);
        QVERIFY(FLine.Calls.isEmpty()); // closed: settings are only stored
        comm->SetPortOpen(true);
        QVERIFY(comm->PortOpen());
        QVERIFY(PollTimerActive(*comm));
        const QStringList expected{"Open /dev/ttyS0", "SetupQueues 4096 4096", "Purge 15", "GetSettings",
                                   "SetSettings", "Escape 5", "Escape 4"};
        QCOMPARE(FLine.Calls, expected);
        QCOMPARE(FLine.Written.last().RtsControl, uint8_t(1)); // the settings raised RTS ...
        QVERIFY(!FLine.Rts);                                   // ... the stored setting lowered it
        QVERIFY(FLine.Dtr);
        QVERIFY(comm->GetDTRStatus());

        comm->SetDTRStatus(false);
        QVERIFY(!FLine.Dtr);
        comm->SetPortOpen(false);
        QVERIFY(!PollTimerActive(*comm));
        QCOMPARE(FLine.Alive, 0);
        comm->SetPortOpen(true);
        QVERIFY(FLine.Dtr);
        comm->SetPortOpen(false);
    }

    void modemLinesSetFlagsAndMask_data()
    {
        QTest::addColumn<uint32_t>("bits");
        QTest::addColumn<uint32_t>("mask");
        QTest::newRow("none") << 0u << 0u;
        QTest::newRow("CTS") << MS_CTS_ON << EV_CTS;
        QTest::newRow("DSR") << MS_DSR_ON << EV_DSR;
        QTest::newRow("RING") << MS_RING_ON << EV_RING;
        QTest::newRow("RLSD") << MS_RLSD_ON << EV_RLSD;
        QTest::newRow("all") << (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON) << 0x0138u;
    }

    void modemLinesSetFlagsAndMask()
    {
        QFETCH(uint32_t, bits);
        QFETCH(uint32_t, mask);
        auto comm = MakeComm();
        comm->SetPortOpen(true);
        FLine.ModemBits = bits;
        for (int i = 0; i < 2; ++i) { // the same lines twice: no change
            QVERIFY(comm->GetModemState());
            QCOMPARE(comm->ReadCommEvent(), mask);
            QCOMPARE(comm->ReadCTSHolding(), bool(bits & MS_CTS_ON));
            QCOMPARE(comm->ReadDSRHolding(), bool(bits & MS_DSR_ON));
            QCOMPARE(comm->ReadRIHolding(), bool(bits & MS_RING_ON));
            QCOMPARE(comm->ReadCDHolding(), bool(bits & MS_RLSD_ON));
        }
        FLine.ModemFails = true;
        FLine.ModemBits = 0;
        QVERIFY(!comm->GetModemState());
        QCOMPARE(comm->ReadCommEvent(), mask);
        FLine.ModemFails = false;
        QVERIFY(comm->GetModemState());
        QCOMPARE(comm->ReadCommEvent(), 0u);
        QVERIFY(!comm->ReadCTSHolding() && !comm->ReadDSRHolding() && !comm->ReadRIHolding() && !comm->ReadCDHolding());
        comm->SetPortOpen(false);
    }

    void modemEventOnEveryTickWhileLineOn()
    {
        auto comm = MakeComm();
        QList<uint32_t> masks;
        comm->OnModemStateChange.Bind([&](QObject *sender, uint32_t mask) {
            QCOMPARE(sender, comm.get());
            masks << mask;
        });
        FLine.ModemBits = MS_CTS_ON | MS_DSR_ON;
        comm->SetPortOpen(true);
        QTRY_VERIFY_WITH_TIMEOUT(masks.size() >= 3, 10000);
        QCOMPARE(masks, QList<uint32_t>(masks.size(), EV_CTS | EV_DSR));
        FLine.ModemBits = MS_DSR_ON;
        masks.clear();
        QTRY_VERIFY_WITH_TIMEOUT(masks.size() >= 3, 10000);
        QCOMPARE(masks, QList<uint32_t>(masks.size(), EV_DSR));
        comm->SetPortOpen(false);
    }

    void settersCompareFirst_data()
    {
        QTest::addColumn<int>("setter");
        QTest::newRow("BaudRate") << 0;
        QTest::newRow("DataBits") << 1;
        QTest::newRow("Parity") << 2;
        QTest::newRow("StopBits") << 3;
        QTest::newRow("HwHandShaking") << 4;
        QTest::newRow("SwHandShaking") << 5;
    }

    void settersCompareFirst()
    {
        QFETCH(int, setter);
        // step 0 repeats the default, 1 and 2 are new values; each row checks the field it set.
        const auto apply = [setter](TComm &c, int step) {
            switch (setter) {
            case 0: c.SetBaudRate(step == 0 ? 9600 : step == 1 ? 115200 : 300); break;
            case 1: c.SetDataBits(step == 0 ? DB8 : step == 1 ? DB7 : DB5); break;
            case 2: c.SetParity(step == 0 ? TParity::None : step == 1 ? TParity::Even : TParity::Mark); break;
            case 3: c.SetStopBits(step == 0 ? SB1 : step == 1 ? SB2 : SB1_5); break;
            case 4: c.SetHwHandShaking(step == 0 ? hhNone : step == 1 ? hhNoneRTSON : hhRTSCTS); break;
            case 5: c.SetSwHandShaking(step == 0 ? shNone : shXonXoff); break;
            }
        };
        const auto field = [setter](const TDeviceSettings &s) {
            switch (setter) {
            case 0: return int(s.BaudRate);
            case 1: return int(s.ByteSize);
            case 2: return int(s.Parity);
            case 3: return int(s.StopBits);
            case 4: return int(s.RtsControl);
            default: return int(s.OutX);
            }
        };
        const int expected[6][3] = {{9600, 115200, 300}, {8, 7, 5}, {0, 2, 3}, {0, 2, 1}, {0, 1, 2}, {0, 1, 1}};

        auto comm = MakeComm();
        comm->SetPortOpen(true);
        FLine.Calls.clear();
        apply(*comm, 0);
        QCOMPARE(FLine.Calls, QStringList());
        apply(*comm, 1);
        QCOMPARE(FLine.Calls.count("SetSettings"), 1);
        QCOMPARE(field(FLine.Written.last()), expected[setter][1]);
        comm->SetPortOpen(false);

        FLine.Calls.clear();
        apply(*comm, 2);
        QCOMPARE(FLine.Calls, QStringList());
        comm->SetPortOpen(true);
        QCOMPARE(field(FLine.Written.last()), expected[setter][2]);
        comm->SetPortOpen(false);
    }

    void commPortChangeWaitsForNextOpen()
    {
        auto comm = MakeComm();
        comm->SetPortOpen(true);
        comm->SetCommPort(pnCOM3);
        QCOMPARE(comm->CommPort(), pnCOM3);
        QCOMPARE(FLine.Calls.filter("Open"), QStringList{"Open /dev/ttyS0"});
        QCOMPARE(FLine.Alive, 1);
        comm->SetPortOpen(false);
        comm->SetPortOpen(true);
        QCOMPARE(FLine.Calls.filter("Open").last(), QString("Open /dev/ttyS2"));
        comm->SetPortOpen(false);
    }

    void setCommStateFields_data()
    {
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("hw");
        QTest::addColumn<int>("sw");
        QTest::addColumn<bool>("asRead"); // parity check, CTS flow and XON/XOFF as the device had them
        QTest::addColumn<bool>("parityCheck");
        QTest::addColumn<int>("rtsControl");
        QTest::addColumn<bool>("ctsFlow");
        QTest::addColumn<bool>("xonXoff");
        QTest::newRow("none keeps what was read") << 0 << int(hhNone) << int(shNone) << true << true << 0 << true << true;
        QTest::newRow("none, clean device") << 0 << int(hhNone) << int(shNone) << false << false << 0 << false << false;
        QTest::newRow("RTS on") << 0 << int(hhNoneRTSON) << int(shNone) << false << false << 1 << false << false;
        QTest::newRow("RTS/CTS") << 0 << int(hhRTSCTS) << int(shNone) << false << false << 2 << true << false;
        QTest::newRow("XON/XOFF") << 0 << int(hhNone) << int(shXonXoff) << false << false << 0 << false << true;
        QTest::newRow("odd parity") << 1 << int(hhNone) << int(shNone) << true << false << 0 << true << true;
        QTest::newRow("space parity") << 4 << int(hhNone) << int(shNone) << false << false << 0 << false << false;
    }

    void setCommStateFields()
    {
        QFETCH(int, parity);
        QFETCH(int, hw);
        QFETCH(int, sw);
        QFETCH(bool, asRead);
        QFETCH(bool, parityCheck);
        QFETCH(int, rtsControl);
        QFETCH(bool, ctsFlow);
        QFETCH(bool, xonXoff);
        FLine.Settings.Binary = false;
        FLine.Settings.ParityCheck = FLine.Settings.OutxCtsFlow = FLine.Settings.OutX = FLine.Settings.InX = asRead;
        FLine.Settings.RtsControl = 2;
        auto comm = MakeComm();
        comm->SetBaudRate(115200);
        comm->SetDataBits(DB7);
        comm->SetStopBits(SB2);
        comm->SetParity(TParity(parity));
        comm->SetHwHandShaking(THwHandShaking(hw));
        comm->SetSwHandShaking(TSwHandShaking(sw));
        comm->SetPortOpen(true);
        const TDeviceSettings s = FLine.Written.last();
        QCOMPARE(s.BaudRate, 115200);
        QVERIFY(s.Binary);
        QCOMPARE(s.ByteSize, uint8_t(7));
        QCOMPARE(s.StopBits, uint8_t(2));
        QCOMPARE(int(s.Parity), parity);
        QCOMPARE(comm->ParityCheck(), parity != 0);
        QCOMPARE(s.ParityCheck, parityCheck);
        QCOMPARE(int(s.RtsControl), rtsControl);
        QCOMPARE(s.OutxCtsFlow, ctsFlow);
        QCOMPARE(s.OutX, xonXoff);
        QCOMPARE(s.InX, xonXoff);
        comm->SetPortOpen(false);
    }

    void readTakesAtMostABufferful_data()
    {
        QTest::addColumn<int>("waiting");
        QTest::addColumn<int>("inputLen");
        QTest::addColumn<int>("taken");
        QTest::addColumn<int>("takenNext"); // by a second read; 0: nothing left, the first read's bytes again
        QTest::newRow("all 10") << 10 << 0 << 10 << 0;
        QTest::newRow("4 of 10") << 10 << 4 << 4 << 4;
        QTest::newRow("exactly 4096") << 4096 << 0 << 4096 << 0;
        QTest::newRow("4097: 4096 now, 1 stays") << 4097 << 0 << 4096 << 1;
        QTest::newRow("InputLen 5000 clamps") << 5000 << 5000 << 4096 << 904;
    }

    void readTakesAtMostABufferful()
    {
        QFETCH(int, waiting);
        QFETCH(int, inputLen);
        QFETCH(int, taken);
        QFETCH(int, takenNext);
        auto comm = MakeComm();
        comm->SetPortOpen(true);
        QByteArray data(waiting, '\0');
        for (int i = 0; i < waiting; ++i)
            data[i] = char(i * 13);
        FLine.Incoming = data;
        comm->SetInputLen(inputLen);
        QCOMPARE(comm->ReadInputData(), data.left(taken));
        QCOMPARE(comm->ReadInputByte(), takenNext ? data.mid(taken, takenNext) : data.left(taken));
        comm->SetPortOpen(false);
    }

    void chunkEventCarriesEveryByte_data()
    {
        QTest::addColumn<int>("waiting");
        QTest::addColumn<int>("steps");
        QTest::newRow("10 bytes, one step") << 10 << 1;
        QTest::newRow("4097 bytes, a bufferful then the rest") << 4097 << 2;
    }

    // With the chunk event assigned, the poll step reads and hands the bytes over itself: every byte
    // once, in order, and the plain receive event stays silent.
    void chunkEventCarriesEveryByte()
    {
        QFETCH(int, waiting);
        QFETCH(int, steps);
        auto comm = MakeComm();
        comm->SetPortOpen(true);
        comm->SetRThreshold(1);
        QByteArray received;
        int chunks = 0, plain = 0;
        comm->OnReceiveChunk.Bind([&](QObject *, const QByteArray &chunk) {
            received += chunk;
            ++chunks;
        });
        comm->OnReceiveData.Bind([&](QObject *) { ++plain; });
        QByteArray data(waiting, '\0');
        for (int i = 0; i < waiting; ++i)
            data[i] = char(i * 7);
        FLine.Incoming = data;
        for (int i = 0; i < steps + 1; ++i)
            comm->ProcTimer(comm.get());
        QCOMPARE(received, data);
        QCOMPARE(chunks, steps);
        QCOMPARE(plain, 0);
        comm->SetPortOpen(false);
    }

    void failedReadDeliversNothing_data()
    {
        QTest::addColumn<bool>("queryFails");
        QTest::newRow("read fails") << false;
        QTest::newRow("status query fails") << true;
    }

    void failedReadDeliversNothing()
    {
        QFETCH(bool, queryFails);
        auto comm = MakeComm();
        comm->SetPortOpen(true);
        FLine.Incoming = "first";
        QCOMPARE(comm->ReadInputData(), QByteArray("first"));
        FLine.Incoming = "second";
        (queryFails ? FLine.QueryFails : FLine.ReadFails) = true;
        QCOMPARE(comm->ReadInputData(), QByteArray());
        QCOMPARE(comm->ReadInputByte(), QByteArray());
        FLine.QueryFails = FLine.ReadFails = false;
        QCOMPARE(comm->ReadInputData(), QByteArray("second"));
        comm->SetPortOpen(false);
    }

    void writesTellTheTruth_data()
    {
        QTest::addColumn<int>("call");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("failingWrite");
        QTest::addColumn<int>("device");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("writes");
        const QStringList one{"Write 1"}, two{"Write 1", "Write 1"};
        QTest::newRow("string") << int(wcString) << QByteArray("ab\0c", 4) << 0 << int(dsPresent) << true
                                << QStringList{"Write 4"};
        QTest::newRow("string fails") << int(wcString) << QByteArray("ab") << 1 << int(dsPresent) << false
                                      << QStringList{"Write 2"};
        QTest::newRow("empty string") << int(wcString) << QByteArray() << 0 << int(dsPresent) << true
                                      << QStringList{"Write 0"};
        QTest::newRow("buffer fails") << int(wcBuffer) << QByteArray("ab") << 1 << int(dsPresent) << false
                                      << QStringList{"Write 2"};
        QTest::newRow("bytes, one each") << int(wcBytes) << QByteArray("abc") << 0 << int(dsPresent) << true
                                         << QStringList{"Write 1", "Write 1", "Write 1"};
        QTest::newRow("bytes, first fails") << int(wcBytes) << QByteArray("abc") << 1 << int(dsPresent) << false
                                            << one;
        QTest::newRow("bytes, second fails") << int(wcBytes) << QByteArray("abc") << 2 << int(dsPresent) << false
                                             << two;
        QTest::newRow("no bytes") << int(wcBytes) << QByteArray() << 0 << int(dsPresent) << true << QStringList{};
        QTest::newRow("string, device gone") << int(wcString) << QByteArray("a") << 0 << int(dsGoneBefore) << false
                                             << QStringList{};
        QTest::newRow("buffer, device gone") << int(wcBuffer) << QByteArray("a") << 0 << int(dsGoneBefore) << false
                                             << QStringList{};
        QTest::newRow("bytes, device gone") << int(wcBytes) << QByteArray("ab") << 0 << int(dsGoneBefore) << false
                                            << QStringList{};
        QTest::newRow("no bytes, device gone") << int(wcBytes) << QByteArray() << 0 << int(dsGoneBefore) << false
                                               << QStringList{};
        QTest::newRow("string, gone while writing") << int(wcString) << QByteArray("ab") << 1 << int(dsGoneWithWrite)
                                                    << false << QStringList{"Write 2"};
        QTest::newRow("bytes, gone while writing") << int(wcBytes) << QByteArray("abc") << 2 << int(dsGoneWithWrite)
                                                   << false << two;
    }

    void writesTellTheTruth()
    {
        QFETCH(int, call);
        QFETCH(QByteArray, bytes);
        QFETCH(int, failingWrite);
        QFETCH(int, device);
        QFETCH(bool, result);
        QFETCH(QStringList, writes);
        auto comm = MakeComm();
        QList<uint32_t> errors;
        comm->OnReceiveError.Bind([&](QObject *, uint32_t mask) { errors << mask; });
        comm->SetPortOpen(true);
        if (device == dsGoneBefore) {
            FLine.GoneAtNextQuery = true;
            comm->ReadInputData(); // the query finds the device gone; its close waits in the event loop
        }
        FLine.Calls.clear();
        FLine.FailingWrite = failingWrite;
        FLine.GoneWithFailingWrite = device == dsGoneWithWrite;
        const auto write = [&](const QByteArray &b) {
            switch (call) {
            case wcString: return comm->OutputString(b);
            case wcBuffer: return comm->OutputBuffer(b.size(), b.constData());
            default: return comm->OutputByte(b);
            }
        };
        QCOMPARE(write(bytes), result);
        QCOMPARE(FLine.Calls, writes);
        if (device != dsPresent) {
            // Until the close, every further write fails without reaching the device.
            QVERIFY(!write("z"));
            QCOMPARE(FLine.Calls, writes);
            QTRY_VERIFY_WITH_TIMEOUT(!comm->PortOpen(), 10000);
            QCOMPARE(errors, QList<uint32_t>{CE_DEVICEGONE});
        }
        QVERIFY(FNotices->Texts().isEmpty());
        comm->SetPortOpen(false);
    }

    void lineErrorIsReportedInItsPollStep_data()
    {
        QTest::addColumn<bool>("handlerReads");
        QTest::newRow("reported") << false;
        QTest::newRow("replaced by the handler's read") << true;
    }

    void lineErrorIsReportedInItsPollStep()
    {
        QFETCH(bool, handlerReads);
        auto comm = MakeComm();
        QList<uint32_t> errors;
        int queriesAtError = -1;
        int received = 0;
        comm->OnReceiveData.Bind([&](QObject *) {
            ++received;
            if (handlerReads)
                comm->ReadInputData();
        });
        comm->OnReceiveError.Bind([&](QObject *, uint32_t mask) {
            errors << mask;
            queriesAtError = FLine.Queries;
        });
        comm->SetRThreshold(1);
        comm->SetPortOpen(true);
        FLine.Incoming = handlerReads ? "x" : "";
        FLine.NextError = CE_FRAME;
        const int errorQuery = FLine.Queries + 1;
        QVERIFY(WaitTicks(4));
        if (handlerReads) {
            QCOMPARE(received, 1);
            QCOMPARE(errors, QList<uint32_t>());
        } else {
            QCOMPARE(errors, QList<uint32_t>{CE_FRAME});
            QCOMPARE(queriesAtError, errorQuery);
        }
        comm->SetPortOpen(false);
    }

    void failingQueueSetupClosesAgain()
    {
        FLine.QueuesFail = true;
        auto comm = MakeComm();
        comm->SetPortOpen(true);
        QCOMPARE(FNotices->Texts(), QStringList{"Cannot setup comm buffer !"});
        QVERIFY(!comm->PortOpen());
        QVERIFY(!PollTimerActive(*comm));
        QCOMPARE(FLine.Calls.last(), QString("Close"));
        QCOMPARE(FLine.Alive, 0);
    }

    void goneDeviceIsClosedOutsideItsOwnCall()
    {
        auto comm = MakeComm();
        QList<uint32_t> errors;
        comm->OnReceiveError.Bind([&](QObject *, uint32_t mask) { errors << mask; });
        comm->SetPortOpen(true);
        FLine.GoneAtNextQuery = true;
        QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty(), 10000);
        QCOMPARE(errors, QList<uint32_t>{CE_DEVICEGONE});
        QCOMPARE(FLine.Calls.last(), QString("Close"));
        QVERIFY(!comm->PortOpen());
        QCOMPARE(comm->ReadCommError(), CE_DEVICEGONE);
        QVERIFY(FNotices->Texts().isEmpty());
    }

    void ownerMayDestroyComponentDuringPollStep()
    {
        auto owned = MakeComm();
        TComm *comm = owned.release();
        comm->SetRThreshold(1);
        FLine.ModemBits = MS_CTS_ON;
        comm->OnReceiveData.Bind([&](QObject *) {
            // The owner closes the port from its receive event and frees the component once the
            // step has returned, as a lost line does.
            comm->SetPortOpen(false);
            QTimer::singleShot(0, [&] {
                delete comm;
                comm = nullptr;
            });
        });
        int modemEvents = 0;
        comm->OnModemStateChange.Bind([&](QObject *, uint32_t) { ++modemEvents; });
        comm->SetPortOpen(true);
        FLine.Incoming = "x";
        QTRY_VERIFY_WITH_TIMEOUT(comm == nullptr, 10000);
        QCOMPARE(modemEvents, 0);
        QCOMPARE(FLine.Alive, 0);
    }
};

QTEST_MAIN(TestCommFake)
#include "tst_comm_fake.moc"
