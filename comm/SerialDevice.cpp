#include "comm/SerialDevice.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif

namespace {

QSerialPort::Parity ToQtParity(uint8_t code)
{
    switch (code) {
    case 1: return QSerialPort::OddParity;
    case 2: return QSerialPort::EvenParity;
    case 3: return QSerialPort::MarkParity;
    case 4: return QSerialPort::SpaceParity;
    default: return QSerialPort::NoParity;
    }
}

uint8_t FromQtParity(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::OddParity: return 1;
    case QSerialPort::EvenParity: return 2;
    case QSerialPort::MarkParity: return 3;
    case QSerialPort::SpaceParity: return 4;
    default: return 0;
    }
}

QSerialPort::StopBits ToQtStopBits(uint8_t code)
{
    switch (code) {
    case 1: return QSerialPort::OneAndHalfStop;
    case 2: return QSerialPort::TwoStop;
    default: return QSerialPort::OneStop;
    }
}

uint8_t FromQtStopBits(QSerialPort::StopBits stopBits)
{
    switch (stopBits) {
    case QSerialPort::OneAndHalfStop: return 1;
    case QSerialPort::TwoStop: return 2;
    default: return 0;
    }
}

const char NotSerialText[] = "Not a serial device";

// A name that is not a character device (a folder, a FIFO, a regular file) must not be taken for a
// port: QSerialPort would try to configure whatever it is given. error: why not, in the system's
// words; notSerial: the name is there but is no device at all.
bool IsCharacterDevice(const QString &systemName, QString &error, bool &notSerial)
{
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::stat(systemName.toLocal8Bit().constData(), &info) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!S_ISCHR(info.st_mode)) {
        error = QString::fromLatin1(NotSerialText);
        notSerial = true;
        return false;
    }
    return true;
#else
    Q_UNUSED(systemName);
    Q_UNUSED(error);
    Q_UNUSED(notSerial);
    return true;
#endif
}

// After QSerialPort refused a character device: whether it is one that is no terminal (/dev/zero,
// /dev/null), whatever else went wrong. Asked only after a refusal, so a real port's lines are
// never touched by the question; a device that cannot be opened here is not judged.
bool OpensAsNonTerminal(const QString &systemName)
{
#ifdef Q_OS_UNIX
    const int handle = ::open(systemName.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0)
        return false;
    const bool terminal = ::isatty(handle);
    ::close(handle);
    return !terminal;
#else
    Q_UNUSED(systemName);
    return false;
#endif
}

// Many USB serial adapters hold received bytes for up to 16 ms before passing them on, which would
// stretch every reply wait. Linux drivers that honour the low-latency flag pass bytes on at once.
// Pseudo-terminals and some drivers refuse it, and changing it may need privileges: a refusal
// leaves the port as it was and is no fault.
void RequestLowLatency(int handle)
{
#ifdef Q_OS_LINUX
    serial_struct serial {};
    if (::ioctl(handle, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY) != 0)
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    (void)::ioctl(handle, TIOCSSERIAL, &serial);
#else
    Q_UNUSED(handle);
#endif
}

} // namespace

TSerialDevice::TSerialDevice() = default;

TSerialDevice::~TSerialDevice()
{
    Close();
}

bool TSerialDevice::Open(const QString &systemName)
{
    FOpenError.clear();
    FRefusal = TOpenRefusal();
    if (FPort.isOpen()) {
        FOpenError = QStringLiteral("The device is already open");
        return false;
    }
    if (!IsCharacterDevice(systemName, FOpenError, FRefusal.NotSerial))
        return false;
    FPort.setPortName(systemName);
    // QSerialPort takes the lock file and TIOCEXCL: a second opener, even root, is refused.
    if (!FPort.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = FPort.error();
        FOpenError = FPort.errorString();
        FPort.clearError();
        if (error == QSerialPort::PermissionError)
            LockOwner(systemName, FRefusal.OwnerPid, FRefusal.OwnerName);
        if (FRefusal.OwnerPid == 0 && OpensAsNonTerminal(systemName)) {
            FRefusal.NotSerial = true;
            FOpenError = QString::fromLatin1(NotSerialText);
        }
        return false;
    }
#ifdef Q_OS_UNIX
    if (!::isatty(static_cast<int>(FPort.handle()))) {
        FPort.close();
        FPort.clearError();
        FOpenError = QString::fromLatin1(NotSerialText);
        FRefusal.NotSerial = true;
        return false;
    }
    RequestLowLatency(static_cast<int>(FPort.handle()));
#endif
    FGone = false;
    FErrorWord = 0;
    FRecordApplied = false;
    FRecord = TDeviceSettings{};
    FHaveCounters = false;
    FNoCounters = false;
    FNoModemLines = false;
    LineErrorsFromCounters(); // baseline: errors from before the open are not ours
    FErrorConnection = QObject::connect(&FPort, &QSerialPort::errorOccurred, &FPort,
                                        [this](QSerialPort::SerialPortError e) { ErrorOccurred(e); });
    FReadyConnection = QObject::connect(&FPort, &QSerialPort::readyRead, &FPort, [this] {
        if (OnDataWaiting && !FGone)
            OnDataWaiting();
    });
    return true;
}

bool TSerialDevice::LockOwner(const QString &systemName, int64_t &pid, QString &name)
{
#ifdef Q_OS_UNIX
    // QSerialPort names the lock "LCK.." and the device's name below /dev with '/' as '_', in the
    // first of these folders it may write to; the lock holds the pid, program and host (QLockFile).
    static const char *const Folders[] = {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                          "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"};
    QString portName = systemName;
    if (portName.startsWith(QLatin1String("/dev/")))
        portName = portName.mid(5);
    const QString fileName = QStringLiteral("LCK..") + portName.replace(u'/', u'_');
    for (const char *folder : Folders) {
        const QString path = QDir(QString::fromLatin1(folder)).filePath(fileName);
        if (!QFileInfo::exists(path))
            continue;
        qint64 owner = 0;
        QString host, program;
        if (!QLockFile(path).getLockInfo(&owner, &host, &program) || owner <= 0)
            continue;
        if (!host.isEmpty() && host != QSysInfo::machineHostName())
            continue;
        if (::kill(static_cast<pid_t>(owner), 0) != 0 && errno != EPERM)
            continue; // stale: the next open takes the lock over
        QFile comm(QStringLiteral("/proc/%1/comm").arg(owner));
        name = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
        if (name.isEmpty())
            name = program;
        pid = owner;
        return true;
    }
#else
    Q_UNUSED(systemName);
    Q_UNUSED(pid);
    Q_UNUSED(name);
#endif
    return false;
}

bool TSerialDevice::IsOpen() const
{
    return FPort.isOpen();
}

bool TSerialDevice::SetupQueues(int inputSize, int outputSize)
{
    Q_UNUSED(outputSize); // writes are synchronous: nothing waits on our side
    if (!FPort.isOpen() || inputSize <= 0)
        return false;
    // Qt's buffer is the input queue. Bounded, a source faster than the component's reads fills
    // the kernel's buffer behind it and the line pushes back, as a real serial line does;
    // unbounded, Qt would take in all the kernel holds, again and again, without end.
    FPort.setReadBufferSize(inputSize);
    return true;
}

bool TSerialDevice::Purge(uint32_t flags)
{
    if (!Usable())
        return false;
    // Writes and reads are synchronous: there is never a pending one to abort.
    bool ok = true;
    if (flags & PURGE_RXCLEAR)
        ok = FPort.clear(QSerialPort::Input) && ok; // Qt's buffer and the kernel's
    if (flags & PURGE_TXCLEAR)
        ok = FPort.clear(QSerialPort::Output) && ok;
    if (!ok)
        FPort.clearError();
    return ok;
}

bool TSerialDevice::GetSettings(TDeviceSettings &settings)
{
    if (!Usable())
        return false;
    settings = FRecord;
    settings.BaudRate = FPort.baudRate();
    settings.ByteSize = static_cast<uint8_t>(FPort.dataBits());
    settings.Parity = FromQtParity(FPort.parity());
    settings.StopBits = FromQtStopBits(FPort.stopBits());
    switch (FPort.flowControl()) {
    case QSerialPort::HardwareControl:
        settings.OutxCtsFlow = true;
        settings.RtsControl = 2;
        settings.OutX = settings.InX = false;
        break;
    case QSerialPort::SoftwareControl:
        settings.OutX = settings.InX = true;
        settings.OutxCtsFlow = false;
        if (settings.RtsControl == 2)
            settings.RtsControl = 0;
        break;
    default:
        settings.OutxCtsFlow = settings.OutX = settings.InX = false;
        if (settings.RtsControl == 2)
            settings.RtsControl = 0;
        break;
    }
    return true;
}

bool TSerialDevice::SetSettings(const TDeviceSettings &settings)
{
    if (!Usable())
        return false;
    bool ok = true;
    ok = FPort.setBaudRate(settings.BaudRate) && ok;
    ok = FPort.setDataBits(static_cast<QSerialPort::DataBits>(settings.ByteSize)) && ok;
    ok = FPort.setParity(ToQtParity(settings.Parity)) && ok;
    ok = FPort.setStopBits(ToQtStopBits(settings.StopBits)) && ok;

    const bool hardware = settings.OutxCtsFlow || settings.RtsControl == 2;
    const bool software = settings.OutX || settings.InX;
    const QSerialPort::FlowControl flow = hardware   ? QSerialPort::HardwareControl
                                          : software ? QSerialPort::SoftwareControl
                                                     : QSerialPort::NoFlowControl;
    ok = FPort.setFlowControl(flow) && ok;

    // A driver moves RTS only when its control mode changes, so a settings write (a new baud rate, say)
    // leaves an RTS level set by hand alone. A terminal without modem lines refuses; that is no failure.
    if (!hardware && (!FRecordApplied || settings.RtsControl != FRecord.RtsControl))
        FPort.setRequestToSend(settings.RtsControl == 1);
    FRecordApplied = true;
    FRecord = settings;
    FPort.clearError();
    return ok;
}

void TSerialDevice::PullKernelInput()
{
    // bytesAvailable() counts only Qt's buffer, and each wait moves at most one read's worth (a
    // pseudo-terminal hands over 4095 bytes per read) from the kernel, none once the input queue is
    // full; the bound on rounds keeps a device that never stops sending from holding the UI here.
    for (int round = 0; round < 64 && Usable(); ++round) {
        if (!FPort.waitForReadyRead(0))
            break;
    }
    if (FPort.error() == QSerialPort::TimeoutError)
        FPort.clearError();
}

uint32_t TSerialDevice::LineErrorsFromCounters()
{
    uint32_t word = 0;
#ifdef Q_OS_LINUX
    if (FNoCounters)
        return 0;
    serial_icounter_struct counts {};
    if (::ioctl(static_cast<int>(FPort.handle()), TIOCGICOUNT, &counts) != 0) {
        FNoCounters = errno == ENOTTY || errno == EINVAL;
        return 0;
    }
    const int now[5] = {counts.frame, counts.overrun, counts.parity, counts.brk, counts.buf_overrun};
    if (FHaveCounters) {
        if (now[0] != FCounters[0]) word |= CE_FRAME;
        if (now[1] != FCounters[1]) word |= CE_OVERRUN;
        if (now[2] != FCounters[2]) word |= CE_RXPARITY;
        if (now[3] != FCounters[3]) word |= CE_BREAK;
        if (now[4] != FCounters[4]) word |= CE_RXOVER;
    }
    std::copy(now, now + 5, FCounters);
    FHaveCounters = true;
#endif
    return word;
}

bool TSerialDevice::ClearError(uint32_t &errorWord, int64_t &waiting)
{
    errorWord = 0;
    waiting = 0;
    if (!FPort.isOpen())
        return false;
    // A device gone still hands over what it had sent: those bytes are in Qt's buffer.
    if (FGone) {
        errorWord = CE_IOE;
        waiting = FPort.bytesAvailable();
        return true;
    }
    PullKernelInput();
    if (FGone)
        return false;
    errorWord = FErrorWord | LineErrorsFromCounters();
    FErrorWord = 0;
    waiting = FPort.bytesAvailable();
    return true;
}

bool TSerialDevice::ModemStatus(uint32_t &bits)
{
    if (!Usable() || FNoModemLines)
        return false;
    FPort.clearError();
    const QSerialPort::PinoutSignals lines = FPort.pinoutSignals();
    if (FPort.error() != QSerialPort::NoError) {
        // A pseudo-terminal has no modem lines: not a fault of the port, and no use asking again.
        FNoModemLines = FPort.error() == QSerialPort::UnsupportedOperationError;
        FPort.clearError();
        return false;
    }
    bits = 0;
    if (lines & QSerialPort::ClearToSendSignal) bits |= MS_CTS_ON;
    if (lines & QSerialPort::DataSetReadySignal) bits |= MS_DSR_ON;
    if (lines & QSerialPort::RingIndicatorSignal) bits |= MS_RING_ON;
    if (lines & QSerialPort::DataCarrierDetectSignal) bits |= MS_RLSD_ON;
    return true;
}

bool TSerialDevice::Escape(int function)
{
    if (!Usable())
        return false;
    bool ok = false;
    switch (function) {
    case SETRTS: ok = FPort.setRequestToSend(true); break;
    case CLRRTS: ok = FPort.setRequestToSend(false); break;
    case SETDTR: ok = FPort.setDataTerminalReady(true); break;
    case CLRDTR: ok = FPort.setDataTerminalReady(false); break;
    default: break;
    }
    FPort.clearError();
    return ok;
}

bool TSerialDevice::Read(char *buffer, int64_t count, int64_t &bytesRead)
{
    bytesRead = 0;
    // Reads go on after the device has gone, for what Qt's buffer still holds.
    if (!FPort.isOpen() || count < 0)
        return false;
    // No read time-outs are set: a read takes what is waiting and never holds the UI for more.
    const qint64 n = FPort.read(buffer, count);
    if (n < 0) {
        FPort.clearError();
        return false;
    }
    bytesRead = n;
    return true;
}

bool TSerialDevice::Write(const char *data, int64_t count)
{
    if (!Usable() || count < 0)
        return false;
    if (count == 0)
        return true;
    if (FPort.write(data, count) != count) {
        FPort.clearError();
        return false;
    }
    // Synchronous like the rest of the component: wait until the line took every byte, allowing
    // twice the time the bytes need at the current rate (10 bits each) plus a second. The driver
    // mostly takes them at once, which needs no wait (and no poll of the descriptor) at all.
    FPort.flush();
    const qint64 rate = std::max<qint64>(FPort.baudRate(), 1);
    QDeadlineTimer deadline(1000 + count * 10 * 2000 / rate);
    while (Usable() && FPort.bytesToWrite() > 0) {
        const qint64 left = deadline.remainingTime();
        if (left == 0 || !FPort.waitForBytesWritten(static_cast<int>(std::min<qint64>(left, 1000))))
            break;
    }
    const bool done = Usable() && FPort.bytesToWrite() == 0;
    if (FPort.error() == QSerialPort::TimeoutError)
        FPort.clearError();
    // What did not go out in time stays queued and leaves with the event loop; the caller learns of
    // the failure from the result.
    return done;
}

void TSerialDevice::Close()
{
    QObject::disconnect(FErrorConnection);
    QObject::disconnect(FReadyConnection);
    if (FPort.isOpen())
        FPort.close();
    FPort.clearError();
    FGone = false;
}

bool TSerialDevice::HungUp()
{
#ifdef Q_OS_UNIX
    pollfd probe{static_cast<int>(FPort.handle()), POLLIN, 0};
    if (::poll(&probe, 1, 0) < 0)
        return errno != EINTR;
    return probe.revents & (POLLHUP | POLLERR | POLLNVAL);
#else
    return true;
#endif
}

void TSerialDevice::ErrorOccurred(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
        // Qt also reports a read that finds nothing: its notifier can fire for bytes one of our own
        // reads took meanwhile (a terminal in raw mode then reads 0 bytes, or fails with EAGAIN,
        // which Qt calls a resource error; a full input queue makes that common). Only a line that
        // has hung up is gone.
        if (!FGone && !HungUp()) {
            FPort.clearError();
            return;
        }
        [[fallthrough]];
    case QSerialPort::WriteError:
        // The first of these means the device went away; Qt 6.4 then repeats ReadError endlessly while
        // the port stays open, so everything after the first is ignored until the owner closes it.
        if (FGone)
            return;
        FGone = true;
        FErrorWord |= CE_IOE;
        if (OnGone)
            OnGone();
        return;
    case QSerialPort::UnknownError:
        FErrorWord |= CE_IOE;
        return;
    default:
        // Time-outs of our own zero-length waits, and operations a terminal without modem lines refuses.
        return;
    }
}
