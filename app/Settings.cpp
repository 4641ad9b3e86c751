#include "app/Settings.h"

#include "engine/Statistics.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace {
const QString PortKey = QStringLiteral("Port/Name");
const QString TypedDevicesKey = QStringLiteral("Port/Typed");
const QString OptionsGroup = QStringLiteral("Options/");
const QString GeometryKey = QStringLiteral("Window/Geometry");
const QString PageKey = QStringLiteral("Window/Page");
const QString LogFolderKey = QStringLiteral("Logs/Folder");
const QString StatisticsWindowKey = QStringLiteral("Statistics/Window");
const QString GaugeModeKey = QStringLiteral("Gauge/Mode");
const QString LogFolderName = QStringLiteral("Zarn Monitor");
const QString PublishUrlKey = QStringLiteral("Publishing/Broker");
const QString PublishInstrumentKey = QStringLiteral("Publishing/Instrument");
const QString PublishCredentialsKey = QStringLiteral("Publishing/CredentialsFile");
} // namespace

TSettings::TSettings() : FStore(std::make_unique<QSettings>()) {}

TSettings::TSettings(const QString &fileName) : FStore(std::make_unique<QSettings>(fileName, QSettings::IniFormat)) {}

TSettings::~TSettings() = default;

QString TSettings::Port() const
{
    return FStore->value(PortKey).toString();
}

void TSettings::SetPort(const QString &port)
{
    FStore->setValue(PortKey, port);
}

QStringList TSettings::TypedDevices() const
{
    QStringList devices;
    for (const QString &device : FStore->value(TypedDevicesKey).toStringList())
        if (device.startsWith('/') && !devices.contains(device) && devices.size() < TypedDeviceCount)
            devices << device;
    return devices;
}

void TSettings::AddTypedDevice(const QString &device)
{
    QStringList devices = TypedDevices();
    devices.removeAll(device);
    devices.prepend(device);
    FStore->setValue(TypedDevicesKey, devices.mid(0, TypedDeviceCount));
}

bool TSettings::Option(const QString &name, bool fallback) const
{
    // A value edited by hand into something else is no switch: the first start's stands.
    const QString text = FStore->value(OptionsGroup + name).toString();
    return text == "true" ? true : text == "false" ? false : fallback;
}

void TSettings::SetOption(const QString &name, bool on)
{
    FStore->setValue(OptionsGroup + name, on);
}

QByteArray TSettings::Geometry() const
{
    return FStore->value(GeometryKey).toByteArray();
}

void TSettings::SetGeometry(const QByteArray &geometry)
{
    FStore->setValue(GeometryKey, geometry);
}

QString TSettings::Page() const
{
    return FStore->value(PageKey).toString();
}

void TSettings::SetPage(const QString &page)
{
    FStore->setValue(PageKey, page);
}

QString TSettings::LogFolder() const
{
    return FStore->value(LogFolderKey).toString();
}

void TSettings::SetLogFolder(const QString &folder)
{
    FStore->setValue(LogFolderKey, folder);
}

int32_t TSettings::StatisticsWindow() const
{
    bool ok = false;
    const int values = FStore->value(StatisticsWindowKey).toString().toInt(&ok);
    return ok && values >= TWindowStatistics::MinSize && values <= TWindowStatistics::MaxSize
               ? values
               : TWindowStatistics::DefaultSize;
}

void TSettings::SetStatisticsWindow(int32_t values)
{
    FStore->setValue(StatisticsWindowKey, values);
}

int TSettings::GaugeMode() const
{
    bool ok = false;
    const int mode = FStore->value(GaugeModeKey).toString().toInt(&ok);
    return ok ? mode : -1;
}

void TSettings::SetGaugeMode(int mode)
{
    FStore->setValue(GaugeModeKey, mode);
}

TPublishOptions TSettings::Publishing() const
{
    TPublishOptions options;
    options.Url = FStore->value(PublishUrlKey).toString();
    options.Instrument = FStore->value(PublishInstrumentKey).toString();
    options.CredentialsFile = FStore->value(PublishCredentialsKey).toString();
    return options;
}

void TSettings::SetPublishing(const TPublishOptions &options)
{
    FStore->setValue(PublishUrlKey, options.Url);
    FStore->setValue(PublishInstrumentKey, options.Instrument);
    FStore->setValue(PublishCredentialsKey, options.CredentialsFile);
}

void TSettings::Sync()
{
    FStore->sync();
}

QString TSettings::DocumentsLogFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir(documents.isEmpty() ? QDir::homePath() : documents).filePath(LogFolderName);
}
