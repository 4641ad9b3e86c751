#pragma once
// The device layer under TComm: what the component needs of a serial device. The product uses
// TSerialDevice (QSerialPort); tests supply fakes to inject faults and watch the platform calls.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

// The device's line settings record, read, changed and written back by TComm::_SetCommState.
struct TDeviceSettings {
    int32_t BaudRate = 9600;
    bool Binary = true;
    uint8_t Parity = 0;      // 0 none, 1 odd, 2 even, 3 mark, 4 space
    bool ParityCheck = false;
    uint8_t RtsControl = 0;  // 0 disable, 1 enable, 2 handshake
    bool OutxCtsFlow = false;
    bool OutX = false;       // XON/XOFF on output
    bool InX = false;        // XON/XOFF on input
    uint8_t ByteSize = 8;
    uint8_t StopBits = 0;    // 0 one, 1 one and a half, 2 two

    bool operator==(const TDeviceSettings &o) const
    {
        return BaudRate == o.BaudRate && Binary == o.Binary && Parity == o.Parity &&
               ParityCheck == o.ParityCheck && RtsControl == o.RtsControl && OutxCtsFlow == o.OutxCtsFlow &&
               OutX == o.OutX && InX == o.InX && ByteSize == o.ByteSize && StopBits == o.StopBits;
    }
    bool operator!=(const TDeviceSettings &o) const { return !(*this == o); }
};

// Modem-line status bits.
constexpr uint32_t MS_CTS_ON = 0x10;
constexpr uint32_t MS_DSR_ON = 0x20;
constexpr uint32_t MS_RING_ON = 0x40;
constexpr uint32_t MS_RLSD_ON = 0x80;

// Line escape functions.
constexpr int SETRTS = 3;
constexpr int CLRRTS = 4;
constexpr int SETDTR = 5;
constexpr int CLRDTR = 6;

// Purge flags.
constexpr uint32_t PURGE_TXABORT = 0x01;
constexpr uint32_t PURGE_RXABORT = 0x02;
constexpr uint32_t PURGE_TXCLEAR = 0x04;
constexpr uint32_t PURGE_RXCLEAR = 0x08;

// Device error word bits (what ClearCommError reports).
constexpr uint32_t CE_RXOVER = 0x0001;
constexpr uint32_t CE_OVERRUN = 0x0002;
constexpr uint32_t CE_RXPARITY = 0x0004;
constexpr uint32_t CE_FRAME = 0x0008;
constexpr uint32_t CE_BREAK = 0x0010;
constexpr uint32_t CE_TXFULL = 0x0100;
constexpr uint32_t CE_IOE = 0x0400;

// Why the last open failed, where the operator is told more than the system's words.
struct TOpenRefusal {
    // The name is no terminal (a folder, a FIFO, a regular file, a device such as /dev/null):
    // there is no line behind it, whoever asks and whenever.
    bool NotSerial = false;
    // The port is locked by this live process; 0 when no live process holds it.
    int64_t OwnerPid = 0;
    QString OwnerName; // that process's name
};

class TComDevice {
public:
    virtual ~TComDevice() = default;

    // Opens the device by platform name, read and write, exclusive, existing devices only.
    virtual bool Open(const QString &systemName) = 0;
    virtual bool IsOpen() const = 0;
    virtual bool SetupQueues(int inputSize, int outputSize) = 0;
    virtual bool Purge(uint32_t flags) = 0;
    virtual bool GetSettings(TDeviceSettings &settings) = 0;
    virtual bool SetSettings(const TDeviceSettings &settings) = 0;
    // Returns the error word since the last query and the number of bytes waiting; clears the
    // error state. False when the query itself fails.
    virtual bool ClearError(uint32_t &errorWord, int64_t &waiting) = 0;
    virtual bool ModemStatus(uint32_t &bits) = 0;
    virtual bool Escape(int function) = 0;
    // Reads up to count bytes into buffer; bytesRead tells how many arrived.
    virtual bool Read(char *buffer, int64_t count, int64_t &bytesRead) = 0;
    virtual bool Write(const char *data, int64_t count) = 0;
    virtual void Close() = 0;
    // Why the last open failed, in the system's words; empty when it did not say.
    virtual QString OpenErrorText() const { return {}; }
    virtual TOpenRefusal OpenRefusal() const { return {}; }

    // Raised (at most once per open) when the device has gone away: unplugged, or the peer of a
    // pseudo-terminal closed. Called from the device's own event handling; the receiver must not
    // close the device from inside the call.
    std::function<void()> OnGone;
    // Raised when bytes have arrived, from the device's own event handling (and again from inside
    // its reads). The receiver must not read, close the device or process events inside the call:
    // it schedules its read.
    std::function<void()> OnDataWaiting;
};

using TComDeviceFactory = std::function<std::unique_ptr<TComDevice>()>;
