#include "app/Publisher.h"

#include "engine/StatisticsLog.h"

#include "engine/Engine.h"
#include "engine/MeasurementLog.h"
#include "platform/FixedText.h"
#include "publish/MqttClient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>

#include <cmath>

namespace Publishing {

namespace {

// A JSON string of text that needs no escape but the quote and the backslash (names, times,
// device paths); any other control character is dropped.
QByteArray JsonString(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (static_cast<unsigned char>(c) >= 0x20)
            out += c;
    }
    return out + '"';
}

// A CSV field as a JSON value: a number stays the number token it is, empty is null, else a string.
QByteArray JsonValue(const QByteArray &field)
{
    static const QRegularExpression number(R"(^-?(0|[1-9]\d*)(\.\d+)?$)");
    if (field.isEmpty())
        return "null";
    if (number.match(QString::fromLatin1(field)).hasMatch())
        return field;
    return JsonString(QString::fromUtf8(field));
}

} // namespace

bool ValidInstrument(const QString &name)
{
    static const QRegularExpression allowed("^[A-Za-z0-9_-]+$");
    return name.size() <= MaxInstrumentLength && allowed.match(name).hasMatch();
}

QString DefaultInstrument(const QString &device)
{
    QString name = QSysInfo::machineHostName().section('.', 0, 0) + '-' + QFileInfo(device).fileName();
    name.replace(QRegularExpression("[^A-Za-z0-9_-]"), "_");
    return name.left(MaxInstrumentLength);
}

bool ReadCredentials(const QString &fileName, QString &user, QString &password, QString &error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error = "cannot read the credentials file " + fileName + ": " + file.errorString();
        return false;
    }
    const QStringList lines = QString::fromUtf8(file.read(64 * 1024)).split('\n');
    user = lines.value(0).trimmed();
    password = lines.value(1);
    if (password.endsWith('\r'))
        password.chop(1);
    if (user.isEmpty()) {
        error = "the credentials file " + fileName + " holds no user name on its first line";
        return false;
    }
    return true;
}

QString WaitingFolder(const QString &instrument)
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/mqtt/" + instrument;
}

QString Topic(const QString &instrument, const char *leaf)
{
    return "zarn/" + instrument + '/' + QLatin1String(leaf);
}

QByteArray ReportMessage(const QString &instrument, const TReport &report)
{
    using namespace MeasurementLog;
    const TRecord &r = report.Record;
    QByteArray out;
    out.reserve(256);
    out += "{\"instrument\":" + JsonString(instrument);
    out += ",\"run\":" + QByteArray::number(qint64(r.Run));
    out += ",\"report\":" + QByteArray::number(qint64(report.Number));
    out += ",\"time\":\"" + TimeText(r.Time) + '"';
    out += ",\"count\":" + QByteArray::number(r.BigCount);
    out += ",\"m1\":" + QByteArray::number(r.M1);
    out += ",\"m2\":" + QByteArray::number(r.M2);
    out += ",\"phase_deg\":" + Platform::Fixed(r.PhaseDeg, PhaseDecimals);
    out += ",\"tof_us\":" + Platform::Fixed(r.TimeOfFlight, TimeOfFlightDecimals);
    out += ",\"temperature_c\":" +
           (std::isnan(r.Temperature) ? QByteArray("null") : Platform::Fixed(r.Temperature, TemperatureDecimals));
    out += QByteArray(",\"kept\":") + (report.Kept ? "true" : "false") + '}';
    return out;
}

QByteArray StatusMessage(const QString &device, bool running)
{
    return "{\"state\":\"online\",\"device\":" + JsonString(device) + ",\"running\":" + (running ? "true" : "false") +
           '}';
}

QByteArray OfflineMessage()
{
    return "{\"state\":\"offline\"}";
}

QByteArray StatisticsMessage(const QString &instrument, const QByteArray &header, const QByteArray &row)
{
    const QByteArrayList names = header.split(',');
    const QByteArrayList fields = row.split(',');
    QByteArray out = "{\"instrument\":" + JsonString(instrument);
    for (qsizetype i = 0; i < names.size() && i < fields.size(); ++i)
        out += ',' + JsonString(QString::fromUtf8(names[i])) + ':' + JsonValue(fields[i]);
    return out + '}';
}

} // namespace Publishing

TPublisher::TPublisher(TEngine *engine, QObject *parent)
    : QObject(parent), FEngine(engine), FClient(new TMqttClient(this))
{
    connect(FClient, &TMqttClient::StateChanged, this, &TPublisher::StateChanged);
    connect(FClient, &TMqttClient::Connected, this,
            [this] { emit Notice("MQTT: connected to " + FClient->HostPort()); });
    connect(FClient, &TMqttClient::Failed, this, [this](const QString &text) { emit Notice("MQTT: " + text); });
    connect(FClient, &TMqttClient::NearlyFull, this, [this](int waiting) {
        emit Notice(QStringLiteral("MQTT: %1 reports wait on disk for the broker; from %2 on, the oldest are dropped")
                        .arg(waiting)
                        .arg(TMqttClient::MaxWaiting));
    });
}

TPublisher::~TPublisher()
{
    Finish(0);
}

bool TPublisher::Start(const TPublishOptions &options, const QString &device, QString &error)
{
    Finish(0);
    FInstrument = options.Instrument.isEmpty() ? Publishing::DefaultInstrument(device) : options.Instrument;
    if (!Publishing::ValidInstrument(FInstrument)) {
        error = QStringLiteral("the instrument name '%1' may hold only letters, digits, '-' and '_' (at most %2)")
                    .arg(FInstrument)
                    .arg(Publishing::MaxInstrumentLength);
        return false;
    }
    TMqttSettings settings;
    if (!options.CredentialsFile.isEmpty() &&
        !Publishing::ReadCredentials(options.CredentialsFile, settings.User, settings.Password, error))
        return false;
    settings.Url = options.Url;
    settings.ClientId = "zarnmonitor-" + FInstrument;
    settings.WillTopic = Publishing::Topic(FInstrument, "status");
    settings.WillPayload = Publishing::OfflineMessage();
    settings.Folder = Publishing::WaitingFolder(FInstrument);
    if (!FClient->Start(settings, error))
        return false;
    FDevice = device;
    FRunning = FEngine->Running();
    // A start while publishing (new settings) connects afresh: each report and row goes out once.
    disconnect(FEngine, nullptr, this, nullptr);
    connect(FEngine, &TEngine::BatchProcessed, this, &TPublisher::PublishBatch);
    // Each Run's Statistics.csv row, as the engine tells it when the Run ends.
    connect(FEngine, &TEngine::RunStatistics, this,
            [this](const QByteArray &row) { PublishStatistics(StatisticsLog::Header(), row); });
    connect(FEngine, &TEngine::RunningChanged, this, [this](bool running) {
        if (running != FRunning) {
            FRunning = running;
            PublishStatus();
        }
    });
    PublishStatus();
    emit StateChanged();
    return true;
}

bool TPublisher::Active() const
{
    return !FInstrument.isEmpty();
}

void TPublisher::PublishStatus()
{
    if (Active())
        FClient->Publish(Publishing::Topic(FInstrument, "status"), Publishing::StatusMessage(FDevice, FRunning), true);
}

void TPublisher::SetDevice(const QString &device)
{
    if (device == FDevice)
        return;
    FDevice = device;
    PublishStatus();
}

void TPublisher::PublishBatch(const TBatch &batch)
{
    const QString topic = Publishing::Topic(FInstrument, "report");
    for (const TReport &report : batch)
        if (FClient->Publish(topic, Publishing::ReportMessage(FInstrument, report)))
            ++FPublished;
}

void TPublisher::PublishStatistics(const QByteArray &header, const QByteArray &row)
{
    if (Active())
        FClient->Publish(Publishing::Topic(FInstrument, "statistics"),
                         Publishing::StatisticsMessage(FInstrument, header, row));
}

int TPublisher::Finish(int ms)
{
    if (!Active())
        return 0;
    disconnect(FEngine, nullptr, this, nullptr);
    // Retained, so that a consumer that comes later sees the program went away cleanly.
    FClient->Publish(Publishing::Topic(FInstrument, "status"), Publishing::OfflineMessage(), true);
    FInstrument.clear();
    const int left = FClient->Finish(ms);
    emit StateChanged();
    return left;
}

QString TPublisher::StatusText() const
{
    if (!Active())
        return QString();
    if (FClient->IsConnected()) {
        QString text = "MQTT: connected to " + FClient->HostPort();
        if (FClient->Waiting() > 0)
            text += QStringLiteral(", %1 waiting").arg(FClient->Waiting());
        return text;
    }
    const QTime since = FClient->UnreachableSince();
    if (since.isNull())
        return QStringLiteral("MQTT: connecting to %1, %2 reports waiting").arg(FClient->HostPort()).arg(FClient->Waiting());
    return QStringLiteral("MQTT: %1 reports waiting, broker unreachable since %2")
        .arg(FClient->Waiting())
        .arg(since.toString("HH:mm:ss"));
}
