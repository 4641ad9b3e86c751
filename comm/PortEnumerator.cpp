#include "comm/PortEnumerator.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QSerialPortInfo>
#include <QTimer>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
const char DeviceFolder[] = "/dev";
const char StableFolder[] = "/dev/serial/by-id";
// A device appears as a node first and its links a moment later: one look once things settle.
constexpr int SettleMs = 300;

// "/dev/ttyUSB10" after "/dev/ttyUSB9": the name's stem, then its number.
bool ComesBefore(const TSystemPort &a, const TSystemPort &b)
{
    const auto split = [](const QString &path) {
        qsizetype digits = path.size();
        while (digits > 0 && path.at(digits - 1).isDigit())
            --digits;
        return std::make_pair(path.left(digits), path.mid(digits).toLongLong());
    };
    return split(a.Path) < split(b.Path);
}
} // namespace

const TSystemPort *TPortEnumerator::Find(const QString &device) const
{
    if (device.isEmpty())
        return nullptr;
    const QString target = QFileInfo(device).canonicalFilePath();
    for (const TSystemPort &port : FPorts) {
        if (port.Path == device || (!port.StableName.isEmpty() && port.StableName == device))
            return &port;
    }
    for (const TSystemPort &port : FPorts) {
        if (!target.isEmpty() && port.Path == target)
            return &port;
    }
    return nullptr;
}

void TPortEnumerator::SetPorts(const QList<TSystemPort> &ports)
{
    if (ports == FPorts)
        return;
    FPorts = ports;
    emit Changed();
}

TSystemPortEnumerator::TSystemPortEnumerator(QObject *parent) : TPortEnumerator(parent)
{
    FSettle = new QTimer(this);
    FSettle->setSingleShot(true);
    FSettle->setInterval(SettleMs);
    connect(FSettle, &QTimer::timeout, this, &TSystemPortEnumerator::Refresh);
    // Plugging or unplugging an adapter adds or removes a node in /dev and a link in by-id.
    FWatcher = new QFileSystemWatcher(this);
    connect(FWatcher, &QFileSystemWatcher::directoryChanged, FSettle, qOverload<>(&QTimer::start));
    Refresh();
}

void TSystemPortEnumerator::Refresh()
{
    Watch();
    SetPorts(Scan());
}

// The by-id folder comes and goes with the first and last adapter.
void TSystemPortEnumerator::Watch()
{
    for (const char *folder : {DeviceFolder, "/dev/serial", StableFolder}) {
        const QString path = QString::fromLatin1(folder);
        if (!FWatcher->directories().contains(path) && QFileInfo(path).isDir())
            FWatcher->addPath(path);
    }
}

QList<TSystemPort> TSystemPortEnumerator::Scan()
{
    // The by-id links, by the node they lead to.
    QHash<QString, QString> stable;
    const QDir links(QString::fromLatin1(StableFolder));
    for (const QFileInfo &link : links.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString node = link.canonicalFilePath();
        if (!node.isEmpty() && !stable.contains(node))
            stable.insert(node, link.absoluteFilePath());
    }
    // Qt's list leaves out the on-board UART nodes that have no hardware behind them.
    QList<TSystemPort> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        TSystemPort port;
        port.Path = info.systemLocation();
        port.StableName = stable.value(port.Path);
        port.Description = info.description();
        ports << port;
    }
    std::sort(ports.begin(), ports.end(), ComesBefore);
    return ports;
}

bool TSystemPortEnumerator::DevicePresent(const QString &path)
{
#ifdef Q_OS_UNIX
    const QByteArray name = path.toLocal8Bit();
    struct stat info {};
    if (path.isEmpty() || ::stat(name.constData(), &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    // A node whose device has gone (a hung-up adapter, a terminal without its other side, a bind
    // mount of a node nobody serves) refuses the open.
    const int handle = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0)
        return errno == EBUSY; // held by another: there, and the open will say by whom
    const bool terminal = ::isatty(handle);
    ::close(handle);
    return terminal;
#else
    Q_UNUSED(path);
    return false;
#endif
}
