#pragma once
// The product's serial device: TComDevice on QSerialPort.
//
// What QSerialPort cannot express is approximated, not faked:
// - driver queue sizes do not exist; the input size bounds Qt's own read buffer instead, so a source
//   faster than the component's reads meets a full kernel buffer and the line pushes back; the output
//   size is not used, as writes wait until the line took them;
// - flow control is one of none / hardware / software: CTS output flow or RTS handshake selects hardware
//   (RTS/CTS both ways), else XON/XOFF on output or input selects software (both ways);
// - RTS "enable" / "disable" are carried out by raising / lowering RTS when the mode changes (or at the
//   first settings after an open), as a Windows driver does; with hardware flow the driver owns RTS;
// - parity checking is not Qt's to switch: the field is kept in the record only;
// - one and a half stop bits: termios has no such setting; Qt accepts it and sends one stop bit;
// - mark and space parity work where the kernel has CMSPAR (Linux does);
// - Qt 6 reports no parity, framing or break errors; on Linux they are taken from the UART's error
//   counters (TIOCGICOUNT), which a pseudo-terminal does not have.

#include "comm/ComDevice.h"

#include <QSerialPort>

class TSerialDevice : public TComDevice {
public:
    TSerialDevice();
    ~TSerialDevice() override;

    bool Open(const QString &systemName) override;
    bool IsOpen() const override;
    bool SetupQueues(int inputSize, int outputSize) override;
    bool Purge(uint32_t flags) override;
    bool GetSettings(TDeviceSettings &settings) override;
    bool SetSettings(const TDeviceSettings &settings) override;
    bool ClearError(uint32_t &errorWord, int64_t &waiting) override;
    bool ModemStatus(uint32_t &bits) override;
    bool Escape(int function) override;
    bool Read(char *buffer, int64_t count, int64_t &bytesRead) override;
    bool Write(const char *data, int64_t count) override;
    void Close() override;
    QString OpenErrorText() const override { return FOpenError; }
    TOpenRefusal OpenRefusal() const override { return FRefusal; }

    // The live process that holds the lock file of a device, as QSerialPort writes it; false when
    // none does (no lock file, a stale one, or one from another host).
    static bool LockOwner(const QString &systemName, int64_t &pid, QString &name);

private:
    void ErrorOccurred(QSerialPort::SerialPortError error);
    bool HungUp();
    void PullKernelInput();
    uint32_t LineErrorsFromCounters();
    bool Usable() const { return FPort.isOpen() && !FGone; }

    QSerialPort FPort;
    QMetaObject::Connection FErrorConnection;
    QMetaObject::Connection FReadyConnection;
    TDeviceSettings FRecord;      // the fields QSerialPort keeps no state for
    bool FRecordApplied = false;  // RTS mode applied since the open
    bool FGone = false;
    QString FOpenError;
    TOpenRefusal FRefusal;
    uint32_t FErrorWord = 0;      // CE_ bits gathered since the last ClearError
    bool FHaveCounters = false;
    // What the device refused once it always refuses (a pseudo-terminal has neither): not asked again
    // until the next open.
    bool FNoCounters = false;
    bool FNoModemLines = false;
    int FCounters[5] = {};        // frame, overrun, parity, brk, buf_overrun
};
