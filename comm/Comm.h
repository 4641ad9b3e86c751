#pragma once
// TComm owns one serial (COM) port: opens it by number, applies the line settings, raises and
// lowers DTR and RTS, writes synchronously and polls the port every 20 ms on the UI thread,
// raising its receive, modem-state and error events. When the device signals waiting data, the
// receive part of the poll step also runs at once from the event loop, so a reply reaches the
// owner within about a millisecond instead of at the next tick.

#include "comm/ComDevice.h"
#include "platform/Component.h"
#include "platform/Notice.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

class QTimer;

enum TComPortNumber : uint8_t {
    pnCOM1, pnCOM2, pnCOM3, pnCOM4, pnCOM5, pnCOM6, pnCOM7, pnCOM8,
    pnCOM9, pnCOM10, pnCOM11, pnCOM12, pnCOM13, pnCOM14, pnCOM15, pnCOM16
};
using TBaudRate = int32_t;
enum TDataBits : uint8_t { DB5 = 5, DB6 = 6, DB7 = 7, DB8 = 8 };
enum class TParity : uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum TStopBits : uint8_t { SB1 = 0, SB1_5 = 1, SB2 = 2 };
enum THwHandShaking : uint8_t { hhNone = 0, hhNoneRTSON = 1, hhRTSCTS = 2 };
enum TSwHandShaking : uint8_t { shNone = 0, shXonXoff = 1 };

// Error-event bit raised when the device went away while open (beyond the device's own CE_ bits).
constexpr uint32_t CE_DEVICEGONE = 0x80000000u;

// Modem-state event mask bits, one per line that is on.
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_DSR = 0x0010;
constexpr uint32_t EV_RLSD = 0x0020;
constexpr uint32_t EV_RING = 0x0100;

using TNotifyEvent = TEvent<QObject *>;
using TCommEvent = TEvent<QObject *, uint32_t>;
using TChunkEvent = TEvent<QObject *, const QByteArray &>;

class TComm : public TComponent {
    Q_OBJECT
public:
    // factory: makes the device at each open; empty = the product's QSerialPort device.
    explicit TComm(QObject *AOwner = nullptr, TComDeviceFactory factory = {});
    ~TComm() override;

    // The operator's name of a port: "COM1" for pnCOM1 (index 0), and so on.
    static QString PortName(int index);
    // Device for a port name "COMn": $ZARN_COMn when set, else /dev/ttyS<n-1>. The program is built
    // for Linux only.
    static QString DeviceNameFor(const QString &portName);
    // The device the port opens: the one set here, else the one its number maps to.
    QString DeviceName() const;
    // A device to open instead of the number's (any path); empty: by the number again.
    void SetDeviceName(const QString &device) { FDeviceName = device; }
    // Why the last open failed: the device and the system's reason, or who holds the port
    // ("COM1 (/dev/ttyUSB0) is in use by zarnmonitor (process 1234)").
    QString OpenError() const { return FOpenError; }
    // The same without the device in front, where the caller names it itself.
    QString OpenReason() const { return FOpenReason; }
    // The last open failed because the name is no serial device at all (a folder, FIFO, file...).
    bool OpenNotSerial() const { return FOpenNotSerial; }

    // Properties
    TComPortNumber CommPort() const { return FCommPort; }
    void SetCommPort(TComPortNumber value);
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate value);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits value);
    TParity Parity() const { return FParity; }
    void SetParity(TParity value);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits value);
    THwHandShaking GetHwHandShaking() const { return FHwHandShaking; }
    void SetHwHandShaking(THwHandShaking value);
    TSwHandShaking GetSwHandShaking() const { return FSwHandShaking; }
    void SetSwHandShaking(TSwHandShaking value);
    uint32_t ReadCommEvent() const { return FCommEvent; }
    uint32_t ReadCommError() const { return FCommError; }
    int32_t InputLen() const { return FInputLen; }
    void SetInputLen(int32_t value);
    int32_t RThreshold() const { return FRThreshold; }
    void SetRThreshold(int32_t value) { FRThreshold = value; }
    bool ReadCDHolding() const { return FCDHolding; }
    bool ReadCTSHolding() const { return FCTSHolding; }
    bool ReadDSRHolding() const { return FDSRHolding; }
    bool ReadRIHolding() const { return FRIHolding; }
    bool PortOpen() const { return FPortOpen; }
    bool ParityCheck() const { return FParityCheck; }

    TNotifyEvent OnReceiveData;
    // When assigned, the receive step reads the waiting bytes itself and hands them over here (in
    // place of OnReceiveData), so the owner need not call back into the component to read them.
    TChunkEvent OnReceiveChunk;
    TCommEvent OnReceiveError;
    TCommEvent OnModemStateChange;

    // Operations
    void SetPortOpen(bool value);
    // tell: give the component's own notices when it fails; a reopen nobody asked for is quiet.
    bool OpenComm(bool tell = true);
    void CloseComm();
    bool _SetCommState();
    bool GetDTRStatus() const { return FDTR; }
    void SetDTRStatus(bool value);
    bool GetRTSStatus() const { return FRTS; }
    void SetRTSStatus(bool value);
    int64_t ReadInDataCount();
    QByteArray ReadInputData();
    QByteArray ReadInputByte();
    void ReadProcess();
    bool GetModemState();
    void ReceiveData();
    void ReceiveError(uint32_t mask);
    void ModemStateChange(uint32_t mask);
    void ProcTimer(QObject *Sender);
    // The poll step's receive and error part (steps 1-3 and 8, no event processing), run from the
    // event loop as soon as the device signals waiting data.
    void ReceiveStep();
    // Writes: true only when every byte went out; false when a write fails, the port is closed
    // (with the not-open message) or the device went away (quietly: the error event tells of it).
    bool OutputString(const QByteArray &text);
    bool OutputBuffer(int length, const char *buffer);
    bool OutputByte(const QByteArray &bytes);

    static QByteArray StringToASCIIString(const QByteArray &text);
    static char IntegerToHex(signed char value);

    // What every call that needs an open port shows while it is closed.
    static constexpr char NotOpenMessage[] = "COM Port is not opened yet !";
    static constexpr int ReceiveBufferSize = 4096;
    static constexpr int PollIntervalMs = 20;

signals:
    // What the operator must know (a port that will not open, a call that needs an open port); the
    // owner shows it once the component's call has returned.
    void Notice(const TNotice &notice);

private:
    // A plain notice under the application's name.
    void Tell(const char *text);
    // implementation-defined members follow
    void DeviceGone();
    void FinishDeviceGone(uint32_t openCount);
    void DataWaiting();
    // Queries the device and raises the receive event when enough bytes wait. False when the
    // port was closed or its device went away meanwhile.
    bool PollReceive();
    // Reads what the query found waiting, without asking the device again.
    void ReadWaiting(int64_t waiting);
    // A device is held and has not gone away: the poll step has something to poll.
    bool Polling() const { return FDevice && !FGone; }
    // One write to the device; false when it fails or the device went away.
    bool WriteDevice(const char *data, int64_t count);

    QTimer *FTimer = nullptr;
    char FReceiveBuffer[ReceiveBufferSize] = {};
    std::unique_ptr<TComDevice> FDevice;
    QString FDeviceName;
    QString FOpenError;
    QString FOpenReason;
    bool FOpenNotSerial = false;
    TComDeviceFactory FFactory;
    TComPortNumber FCommPort = pnCOM1;
    bool FPortOpen = false;
    TBaudRate FBaudRate = 9600;
    bool FParityCheck = false;
    THwHandShaking FHwHandShaking = hhNone;
    TSwHandShaking FSwHandShaking = shNone;
    TDataBits FDataBits = DB8;
    TParity FParity = TParity::None;
    TStopBits FStopBits = SB1;
    int32_t FInputLen = 0;
    int32_t FRThreshold = 0;
    bool FDTR = false;
    bool FRTS = false;
    QByteArray FInput;
    QByteArray FInputBytes;
    uint32_t FCommEvent = 0;
    uint32_t FCommError = 0;
    bool FCDHolding = false;
    bool FCTSHolding = false;
    bool FDSRHolding = false;
    bool FRIHolding = false;
    bool FGone = false;        // the device went away; the close is queued
    uint32_t FOpenCount = 0;   // tells a queued close which open it belongs to
    bool FReceiveQueued = false; // a receive step waits in the event loop
    bool FReceiving = false;     // inside PollReceive: data signalled now is read by it
};
