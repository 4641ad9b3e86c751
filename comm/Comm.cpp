#include "comm/Comm.h"

#include "comm/SerialDevice.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {
const char MsgOpenError[] = "Error opening serial port !";
const char MsgSetupError[] = "Cannot setup comm buffer !";
const char MsgAlreadyOpen[] = "COM Port has been opened !";
constexpr const char *MsgNotOpen = TComm::NotOpenMessage;
const char MsgNotOpenBuffer[] = "COM Port is not opened yet!";
constexpr int QueueSize = 4096;
} // namespace

TComm::TComm(QObject *AOwner, TComDeviceFactory factory) : TComponent(AOwner), FFactory(std::move(factory))
{
    FTimer = new QTimer(this);
    FTimer->setInterval(PollIntervalMs);
    connect(FTimer, &QTimer::timeout, this, [this] { ProcTimer(this); });
}

// The owner closes the port before destroying the component; a device still held goes with it.
TComm::~TComm()
{
    FTimer->stop();
}

QString TComm::PortName(int index)
{
    return QStringLiteral("COM%1").arg(index + 1);
}

QString TComm::DeviceNameFor(const QString &portName)
{
    const QString configured = qEnvironmentVariable(("ZARN_" + portName.toLatin1()).constData());
    if (!configured.isEmpty())
        return configured;
    bool ok = false;
    const int number = portName.mid(3).toInt(&ok);
    if (portName.startsWith(QLatin1String("COM")) && ok && number >= 1)
        return QStringLiteral("/dev/ttyS") + QString::number(number - 1);
    return portName;
}

QString TComm::DeviceName() const
{
    return FDeviceName.isEmpty() ? DeviceNameFor(PortName(FCommPort)) : FDeviceName;
}

void TComm::Tell(const char *text)
{
    emit Notice({TNoticeKind::Information, QCoreApplication::applicationName(), QString::fromLatin1(text)});
}

// ---- properties ----

void TComm::SetCommPort(TComPortNumber value)
{
    FCommPort = value; // takes effect at the next open
}

void TComm::SetBaudRate(TBaudRate value)
{
    if (value == FBaudRate)
        return;
    FBaudRate = value;
    if (FDevice)
        _SetCommState();
}

void TComm::SetDataBits(TDataBits value)
{
    if (value == FDataBits)
        return;
    FDataBits = value;
    if (FDevice)
        _SetCommState();
}

void TComm::SetParity(TParity value)
{
    if (value == FParity)
        return;
    FParity = value;
    if (FDevice)
        _SetCommState();
}

void TComm::SetStopBits(TStopBits value)
{
    if (value == FStopBits)
        return;
    FStopBits = value;
    if (FDevice)
        _SetCommState();
}

void TComm::SetHwHandShaking(THwHandShaking value)
{
    if (value == FHwHandShaking)
        return;
    FHwHandShaking = value;
    if (FDevice)
        _SetCommState();
}

void TComm::SetSwHandShaking(TSwHandShaking value)
{
    if (value == FSwHandShaking)
        return;
    FSwHandShaking = value;
    if (FDevice)
        _SetCommState();
}

void TComm::SetInputLen(int32_t value)
{
    FInputLen = value;
}

// ---- open and close ----

void TComm::SetPortOpen(bool value)
{
    FTimer->stop();
    if (!value) {
        CloseComm();
        return;
    }
    if (FDevice) {
        Tell(MsgAlreadyOpen);
        if (Polling())
            FTimer->start();
        return;
    }
    OpenComm();
}

bool TComm::OpenComm(bool tell)
{
    if (FDevice)
        return FPortOpen;
    const QString deviceName = DeviceName();
    const auto fail = [&](const char *message, const QString &reason) {
        FOpenReason = reason.isEmpty() ? QString::fromLatin1(message) : reason;
        if (FOpenError.isEmpty())
            FOpenError = deviceName + ": " + FOpenReason;
        if (tell)
            Tell(message);
        return false;
    };
    FOpenError.clear();
    FOpenReason.clear();
    FOpenNotSerial = false;
    std::unique_ptr<TComDevice> device = FFactory ? FFactory() : std::make_unique<TSerialDevice>();
    if (!device)
        return fail(MsgOpenError, {});
    if (!device->Open(deviceName)) {
        const TOpenRefusal refusal = device->OpenRefusal();
        FOpenNotSerial = refusal.NotSerial;
        if (refusal.OwnerPid > 0) {
            // The port as the operator chose it: by its COM name (with the device it maps to), or by path.
            const QString port = FDeviceName.isEmpty() ? PortName(FCommPort) + " (" + deviceName + ")" : deviceName;
            FOpenError = QStringLiteral("%1 is in use by %2 (process %3)")
                             .arg(port, refusal.OwnerName, QString::number(refusal.OwnerPid));
            return fail(MsgOpenError, FOpenError);
        }
        return fail(MsgOpenError, device->OpenErrorText());
    }
    if (!device->SetupQueues(QueueSize, QueueSize)) {
        device->Close();
        return fail(MsgSetupError, {});
    }
    FDevice = std::move(device);
    FGone = false;
    ++FOpenCount;
    FDevice->OnGone = [this] { DeviceGone(); };
    FDevice->OnDataWaiting = [this] { DataWaiting(); };
    FDevice->Purge(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    _SetCommState();
    SetDTRStatus(true); // every open raises DTR, whatever was asked before
    SetRTSStatus(FRTS);
    FPortOpen = true;
    if (!FGone)
        FTimer->start();
    return true;
}

void TComm::CloseComm()
{
    if (!FDevice)
        return;
    FTimer->stop();
    FDevice->OnGone = nullptr;
    FDevice->OnDataWaiting = nullptr;
    FDevice->Close();
    FDevice.reset();
    FPortOpen = false;
    FGone = false;
}

// The device reports from inside its own error handling, where closing it would pull the port out
// from under Qt: stop polling now and close from the event loop. The close clears the open flag, so
// the owner, told once through the error event, sees there is no port any more; until then reads and
// writes fail quietly.
void TComm::DeviceGone()
{
    if (!Polling())
        return;
    FGone = true;
    FTimer->stop();
    QPointer<TComm> self(this);
    const uint32_t openCount = FOpenCount;
    // Queued on the application, not on this object, so that the owner may destroy the component
    // from its error handler.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, openCount] {
            if (self)
                self->FinishDeviceGone(openCount);
        },
        Qt::QueuedConnection);
}

void TComm::FinishDeviceGone(uint32_t openCount)
{
    // The owner closed (and perhaps reopened) the port meanwhile: nothing is left to report.
    if (openCount != FOpenCount || !FDevice || !FGone)
        return;
    // What the device sent before it went is the instrument's data all the same: handed over first.
    for (int round = 0; round < 64 && OnReceiveChunk.Assigned(); ++round) {
        uint32_t error = 0;
        int64_t waiting = 0;
        if (!FDevice->ClearError(error, waiting) || waiting <= 0)
            break;
        FInput.clear();
        ReadWaiting(waiting);
        const QByteArray chunk = FInput;
        if (chunk.isEmpty())
            break;
        OnReceiveChunk(this, chunk);
        // The handler may have closed the port.
        if (openCount != FOpenCount || !FDevice)
            return;
    }
    CloseComm();
    FCommError = CE_DEVICEGONE;
    ReceiveError(CE_DEVICEGONE);
}

bool TComm::_SetCommState()
{
    if (!FDevice)
        return false;
    TDeviceSettings settings;
    if (!FDevice->GetSettings(settings))
        return false;
    settings.BaudRate = FBaudRate;
    settings.Binary = true;
    settings.Parity = static_cast<uint8_t>(FParity);
    FParityCheck = FParity != TParity::None;
    if (FParityCheck)
        settings.ParityCheck = false;
    switch (FHwHandShaking) {
    case hhNone:
        settings.RtsControl = 0;
        break;
    case hhNoneRTSON:
        settings.RtsControl = 1;
        break;
    case hhRTSCTS:
        settings.RtsControl = 2;
        settings.OutxCtsFlow = true;
        break;
    }
    if (FSwHandShaking == shXonXoff) {
        settings.OutX = true;
        settings.InX = true;
    }
    settings.ByteSize = static_cast<uint8_t>(FDataBits);
    settings.StopBits = static_cast<uint8_t>(FStopBits);
    return FDevice->SetSettings(settings);
}

// ---- modem lines ----

void TComm::SetDTRStatus(bool value)
{
    FDTR = value;
    if (FDevice)
        FDevice->Escape(value ? SETDTR : CLRDTR);
}

void TComm::SetRTSStatus(bool value)
{
    FRTS = value;
    if (FDevice)
        FDevice->Escape(value ? SETRTS : CLRRTS);
}

bool TComm::GetModemState()
{
    if (!FDevice) {
        Tell(MsgNotOpen);
        return false;
    }
    uint32_t bits = 0;
    if (!FDevice->ModemStatus(bits))
        return false;
    // CommEvent stays the sum of the mask bits of the lines that are on.
    const auto track = [this](bool on, bool &holding, uint32_t mask) {
        if (on && !holding) {
            FCommEvent += mask;
            holding = true;
        } else if (!on && holding) {
            FCommEvent -= mask;
            holding = false;
        }
    };
    track(bits & MS_RLSD_ON, FCDHolding, EV_RLSD);
    track(bits & MS_DSR_ON, FDSRHolding, EV_DSR);
    track(bits & MS_RING_ON, FRIHolding, EV_RING);
    track(bits & MS_CTS_ON, FCTSHolding, EV_CTS);
    return true;
}

// ---- input ----

int64_t TComm::ReadInDataCount()
{
    if (!FDevice)
        return 0;
    uint32_t error = 0;
    int64_t waiting = 0;
    FDevice->ClearError(error, waiting);
    return waiting;
}

QByteArray TComm::ReadInputData()
{
    if (!FDevice) {
        Tell(MsgNotOpen);
        return FInput;
    }
    ReadProcess();
    return FInput;
}

QByteArray TComm::ReadInputByte()
{
    if (!FDevice) {
        Tell(MsgNotOpen);
        return FInputBytes;
    }
    ReadProcess();
    return FInputBytes;
}

void TComm::ReadProcess()
{
    if (!FDevice)
        return;
    uint32_t error = 0;
    int64_t waiting = 0;
    // A failed query or read delivers nothing: handing on the last chunk again would repeat it.
    if (!FDevice->ClearError(error, waiting)) {
        FInput.clear();
        FInputBytes.clear();
        return;
    }
    FCommError = error;
    ReadWaiting(waiting);
}

void TComm::ReadWaiting(int64_t waiting)
{
    if (waiting <= 0)
        return;
    // A backlog larger than the buffer is read a buffer at a time: the rest stays queued and the next
    // poll reads on, so no instrument data is thrown away.
    const int64_t wanted = FInputLen > 0 ? FInputLen : waiting;
    const int64_t count = std::min<int64_t>(wanted, ReceiveBufferSize);
    int64_t bytesRead = 0;
    if (!FDevice->Read(FReceiveBuffer, count, bytesRead)) {
        FInput.clear();
        FInputBytes.clear();
        return;
    }
    bytesRead = std::clamp<int64_t>(bytesRead, 0, count);
    FInput = QByteArray(FReceiveBuffer, static_cast<int>(bytesRead));
    FInputBytes = FInput;
}

// ---- events ----

void TComm::ReceiveData()
{
    OnReceiveData(this);
}

void TComm::ReceiveError(uint32_t mask)
{
    OnReceiveError(this, mask);
}

void TComm::ModemStateChange(uint32_t mask)
{
    OnModemStateChange(this, mask);
}

// The device signals from inside its own reads, where the owner's handler must not run: the
// receive step is queued, once, and runs as soon as the event loop gets control.
void TComm::DataWaiting()
{
    if (FReceiveQueued || FReceiving || !Polling())
        return;
    FReceiveQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FReceiveQueued = false;
            ReceiveStep();
        },
        Qt::QueuedConnection);
}

bool TComm::PollReceive()
{
    uint32_t error = 0;
    int64_t waiting = 0;
    FReceiving = true;
    if (FDevice->ClearError(error, waiting))
        FCommError = error;
    // The query may have found the device gone.
    if (Polling() && FRThreshold > 0 && waiting >= FRThreshold) {
        if (OnReceiveChunk.Assigned()) {
            // The query just made tells what waits: one read, and the bytes go with the event.
            FInput.clear();
            ReadWaiting(waiting);
            const QByteArray chunk = FInput; // the handler may read again
            if (Polling() && !chunk.isEmpty())
                OnReceiveChunk(this, chunk);
        } else {
            ReceiveData();
        }
    }
    FReceiving = false;
    return Polling();
}

void TComm::ReceiveStep()
{
    if (!Polling() || !PollReceive())
        return;
    // An error word this query took would be gone by the next tick's query.
    if (FCommError != 0)
        ReceiveError(FCommError);
}

// A handler may close the port (its owner frees the component only once the step has returned),
// and a write in it may find the device gone: the step ends as soon as there is nothing left to
// poll, so it reports nothing on a port that is closed or going. Nothing here runs the event loop:
// what the handlers cause happens after the step.
void TComm::ProcTimer(QObject *Sender)
{
    Q_UNUSED(Sender);
    if (!Polling())
        return;
    if (!PollReceive())
        return;
    GetModemState();
    if (FCommEvent != 0) {
        ModemStateChange(FCommEvent);
        if (!Polling())
            return;
    }
    if (FCommError != 0)
        ReceiveError(FCommError);
}

// ---- output ----

bool TComm::OutputString(const QByteArray &text)
{
    if (!FDevice) {
        Tell(MsgNotOpen);
        return false;
    }
    return WriteDevice(text.constData(), text.size());
}

bool TComm::OutputBuffer(int length, const char *buffer)
{
    if (!FDevice) {
        Tell(MsgNotOpenBuffer);
        return false;
    }
    if (length < 0 || (length > 0 && !buffer))
        return false;
    return WriteDevice(buffer, length);
}

bool TComm::OutputByte(const QByteArray &bytes)
{
    if (!FDevice) {
        Tell(MsgNotOpen);
        return false;
    }
    if (!Polling())
        return false;
    // The bytes after a lost one would reach the instrument out of their context: stop at the first
    // failure. A device that goes away during a write fails the rest the same way.
    for (const char byte : bytes) {
        if (!WriteDevice(&byte, 1))
            return false;
    }
    return true;
}

// A device that went away is still held until its queued close; writing to it fails quietly, as the
// owner hears of the loss once, through the error event.
bool TComm::WriteDevice(const char *data, int64_t count)
{
    return Polling() && FDevice->Write(data, count);
}

// ---- display conversion ----

char TComm::IntegerToHex(signed char value)
{
    if (value >= 0 && value <= 9)
        return static_cast<char>('0' + value);
    if (value >= 10 && value <= 15)
        return static_cast<char>('A' + value - 10);
    return '*';
}

QByteArray TComm::StringToASCIIString(const QByteArray &text)
{
    QByteArray result;
    result.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte <= 0x7E) {
            result += c;
        } else {
            result += '(';
            result += IntegerToHex(static_cast<signed char>(byte >> 4));
            result += IntegerToHex(static_cast<signed char>(byte & 0x0F));
            result += ')';
        }
    }
    return result;
}
