#include "publish/MqttClient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <MQTTAsync.h>
#include <netdb.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

constexpr int KeepAliveSeconds = 20;
constexpr int ConnectTimeoutSeconds = 10;
// Paho's own reconnection after a lost connection, and ours until a first one succeeds.
constexpr int MinRetrySeconds = 1, MaxRetrySeconds = 16;
// How often the waiting messages are counted again from Paho's own list.
constexpr int CountIntervalMs = 1000;
constexpr int FinishPollMs = 20;
constexpr int DisconnectMs = 1000;

MQTTAsync Handle(void *client)
{
    return static_cast<MQTTAsync>(client);
}

} // namespace

// Paho's threads: nothing here but handing over to the client's own thread.
struct TPahoCallbacks {
    static void ConnectionLost(void *context, char *)
    {
        auto *self = static_cast<TMqttClient *>(context);
        QMetaObject::invokeMethod(self, [self] { self->OnLost(); }, Qt::QueuedConnection);
    }
    // Nothing is subscribed; Paho wants the callback all the same.
    static int MessageArrived(void *, char *topicName, int, MQTTAsync_message *message)
    {
        MQTTAsync_freeMessage(&message);
        MQTTAsync_free(topicName);
        return 1;
    }
    static void DeliveryComplete(void *context, MQTTAsync_token)
    {
        auto *self = static_cast<TMqttClient *>(context);
        QMetaObject::invokeMethod(self, [self] { self->OnDelivered(); }, Qt::QueuedConnection);
    }
    static void ConnectSucceeded(void *context, MQTTAsync_successData *)
    {
        auto *self = static_cast<TMqttClient *>(context);
        QMetaObject::invokeMethod(self, [self] { self->OnConnected(); }, Qt::QueuedConnection);
    }
    static void Reconnected(void *context, char *) { ConnectSucceeded(context, nullptr); }
    static void ConnectFailed(void *context, MQTTAsync_failureData *failure)
    {
        auto *self = static_cast<TMqttClient *>(context);
        const int code = failure ? failure->code : MQTTASYNC_FAILURE;
        const QString detail = failure && failure->message ? QString::fromUtf8(failure->message) : QString();
        QMetaObject::invokeMethod(self, [self, code, detail] { self->OnFailed(code, detail); }, Qt::QueuedConnection);
    }
};

struct TMqttClient::THostLookup {
    std::atomic<int> Error{0}; // getaddrinfo's, 0 while found or not answered
};

TMqttClient::TMqttClient(QObject *parent) : QObject(parent)
{
    FRetryTimer = new QTimer(this);
    FRetryTimer->setSingleShot(true);
    connect(FRetryTimer, &QTimer::timeout, this, [this] { Connect(); });
    auto *countTimer = new QTimer(this);
    connect(countTimer, &QTimer::timeout, this, [this] { CountWaiting(); });
    countTimer->start(CountIntervalMs);
}

TMqttClient::~TMqttClient()
{
    Finish(0);
}

bool TMqttClient::ParseUrl(const QString &url, QString &address, QString &hostPort, QString &error)
{
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    const bool tls = scheme == "mqtts";
    if (!parsed.isValid() || (scheme != "mqtt" && !tls) || parsed.host().isEmpty() ||
        !(parsed.path().isEmpty() || parsed.path() == "/") || parsed.hasQuery() || parsed.hasFragment()) {
        error = QStringLiteral("not a broker address: '%1' (mqtt://host:port, or mqtts://host:port for TLS)").arg(url);
        return false;
    }
    // A password in the address would show in the process list and in the settings.
    if (!parsed.userInfo().isEmpty()) {
        error = QStringLiteral("the broker address carries a user name: give it in a credentials file instead");
        return false;
    }
    const int port = parsed.port(tls ? DefaultTlsPort : DefaultPort);
    const QString host = parsed.host().contains(':') ? '[' + parsed.host() + ']' : parsed.host();
    hostPort = host + ':' + QString::number(port);
    address = (tls ? "ssl://" : "tcp://") + hostPort;
    return true;
}

bool TMqttClient::Start(const TMqttSettings &settings, QString &error)
{
    Finish(0);
    if (!ParseUrl(settings.Url, FAddress, FHostPort, error))
        return false;
    if (!QDir().mkpath(settings.Folder)) {
        error = "cannot make the folder " + settings.Folder;
        return false;
    }
    FSettings = settings;
    FHost = QUrl(settings.Url.trimmed()).host();
    // The thread holds nothing of the client's: a lookup that hangs outlives no one.
    FLookup = std::make_shared<THostLookup>();
    std::thread([lookup = FLookup, host = FHost.toStdString()] {
        addrinfo *found = nullptr;
        const int rc = getaddrinfo(host.c_str(), nullptr, nullptr, &found);
        if (found)
            freeaddrinfo(found);
        lookup->Error = rc;
    }).detach();
    FAddressBytes = FAddress.toUtf8();
    FClientIdBytes = settings.ClientId.toUtf8();
    FUserBytes = settings.User.toUtf8();
    FPasswordBytes = settings.Password.toUtf8();
    FWillTopicBytes = settings.WillTopic.toUtf8();
    FFolderBytes = QDir(settings.Folder).absolutePath().toLocal8Bit();

    MQTTAsync_createOptions options = MQTTAsync_createOptions_initializer;
    options.sendWhileDisconnected = 1;
    options.allowDisconnectedSendAtAnyTime = 1; // also before the first connection succeeds
    options.maxBufferedMessages = MaxWaiting;
    options.deleteOldestMessages = 1; // the newest values matter most once the disk bound is reached
    options.restoreMessages = 1;
    options.MQTTVersion = MQTTVERSION_3_1_1;
    MQTTAsync client = nullptr;
    int rc = MQTTAsync_createWithOptions(&client, FAddressBytes.constData(), FClientIdBytes.constData(),
                                         MQTTCLIENT_PERSISTENCE_DEFAULT, FFolderBytes.data(),
                                         &options);
    if (rc != MQTTASYNC_SUCCESS) {
        error = QStringLiteral("cannot use the folder %1 for the messages waiting for the broker (%2)")
                    .arg(settings.Folder, QString::fromUtf8(MQTTAsync_strerror(rc)));
        return false;
    }
    FClient = client;
    rc = MQTTAsync_setCallbacks(client, this, TPahoCallbacks::ConnectionLost, TPahoCallbacks::MessageArrived,
                                TPahoCallbacks::DeliveryComplete);
    if (rc == MQTTASYNC_SUCCESS)
        rc = MQTTAsync_setConnected(client, this, TPahoCallbacks::Reconnected);
    if (rc != MQTTASYNC_SUCCESS) {
        error = QString::fromUtf8(MQTTAsync_strerror(rc));
        Finish(0);
        return false;
    }
    FConnected = FEverConnected = FWarned = false;
    FDelivered = FDropped = 0;
    FUnreachableSince = QTime();
    FLastError.clear();
    FRetryMs = MinRetrySeconds * 1000;
    CountWaiting(); // what an earlier start left waiting
    Connect();
    return true;
}

void TMqttClient::Connect()
{
    if (!FClient)
        return;
    MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer;
    options.keepAliveInterval = KeepAliveSeconds;
    // The session outlives a connection: messages sent but not acknowledged go again after it.
    options.cleansession = 0;
    options.connectTimeout = ConnectTimeoutSeconds;
    options.automaticReconnect = 1;
    options.minRetryInterval = MinRetrySeconds;
    options.maxRetryInterval = MaxRetrySeconds;
    options.onSuccess = TPahoCallbacks::ConnectSucceeded;
    options.onFailure = TPahoCallbacks::ConnectFailed;
    options.context = this;
    MQTTAsync_willOptions will = MQTTAsync_willOptions_initializer;
    if (!FWillTopicBytes.isEmpty()) {
        will.topicName = FWillTopicBytes.constData();
        will.payload.data = FSettings.WillPayload.constData();
        will.payload.len = int(FSettings.WillPayload.size());
        will.message = nullptr;
        will.retained = 1;
        will.qos = 1;
        options.will = &will;
    }
    if (!FUserBytes.isEmpty()) {
        options.username = FUserBytes.constData();
        options.password = FPasswordBytes.constData();
    }
    MQTTAsync_SSLOptions ssl = MQTTAsync_SSLOptions_initializer;
    if (FAddress.startsWith("ssl://")) {
        // The system's CA store, and the host name checked against the certificate.
        ssl.enableServerCertAuth = 1;
        ssl.verify = 1;
        options.ssl = &ssl;
    }
    const int rc = MQTTAsync_connect(Handle(FClient), &options);
    if (rc != MQTTASYNC_SUCCESS)
        OnFailed(rc, QString::fromUtf8(MQTTAsync_strerror(rc)));
}

// The client's thread.

void TMqttClient::OnConnected()
{
    // Paho tells a first connection twice (its answer and the connected callback); what comes
    // after Finish is past.
    if (FConnected || !FClient)
        return;
    FConnected = FEverConnected = true;
    FUnreachableSince = QTime();
    FLastError.clear();
    FRetryTimer->stop();
    FRetryMs = MinRetrySeconds * 1000;
    emit Connected();
    emit StateChanged();
}

QString TMqttClient::FailureText(int code, const QString &detail) const
{
    // A broker's refusal (its CONNACK code) says what to mend; anything else is the way there.
    switch (code) {
    case 1: return "the broker " + FHostPort + " does not speak MQTT 3.1.1";
    case 2: return "the broker " + FHostPort + " refused the client name " + FSettings.ClientId;
    case 3: return "the broker " + FHostPort + " is unavailable";
    case 4: return "the broker " + FHostPort + " refused the user name or password";
    case 5:
        return FSettings.User.isEmpty() ? "the broker " + FHostPort + " refused: not authorised without a user name"
                                        : "the broker " + FHostPort + " refused the user name or password (not authorised)";
    default: break;
    }
    if (FLookup && FLookup->Error != 0)
        return "cannot find the host " + FHost + " (" + QString::fromLocal8Bit(gai_strerror(FLookup->Error)) + ')';
    QString text = "cannot connect to " + FHostPort;
    if (!detail.isEmpty())
        text += " (" + detail + ")";
    return text;
}

void TMqttClient::OnFailed(int code, const QString &detail)
{
    if (!FClient)
        return;
    FConnected = false;
    if (FUnreachableSince.isNull())
        FUnreachableSince = QTime::currentTime();
    FLastError = FailureText(code, detail);
    // Paho tries again by itself once a connection was made; before that, we do.
    if (!FEverConnected) {
        FRetryTimer->start(FRetryMs);
        FRetryMs = qMin(FRetryMs * 2, MaxRetrySeconds * 1000);
    }
    emit Failed(FLastError);
    emit StateChanged();
}

void TMqttClient::OnLost()
{
    if (!FConnected || !FClient)
        return;
    FConnected = false;
    FUnreachableSince = QTime::currentTime();
    FLastError = "lost the connection to " + FHostPort;
    emit Failed(FLastError);
    emit StateChanged();
    // The library's own resend of the messages in flight has garbled a payload after a broken
    // connection, and the broker then refused the connection again and again. A client made afresh
    // sends them again as they were stored in the folder.
    QMetaObject::invokeMethod(this, &TMqttClient::Renew, Qt::QueuedConnection);
}

void TMqttClient::Renew()
{
    if (!FClient || FConnected)
        return;
    const TMqttSettings settings = FSettings;
    const qint64 delivered = FDelivered, dropped = FDropped;
    const QTime since = FUnreachableSince;
    const QString lastError = FLastError;
    QString error;
    Finish(0);
    if (!Start(settings, error)) {
        emit Failed(error);
        return;
    }
    FEverConnected = true;
    FDelivered = delivered;
    FDropped = dropped;
    FUnreachableSince = since;
    FLastError = lastError;
    emit StateChanged();
}

void TMqttClient::OnDelivered()
{
    ++FDelivered;
    if (FWaiting > 0)
        --FWaiting;
    if (FWaiting < WarnWaiting)
        FWarned = false;
}

void TMqttClient::CountWaiting()
{
    if (!FClient)
        return;
    MQTTAsync_token *tokens = nullptr;
    if (MQTTAsync_getPendingTokens(Handle(FClient), &tokens) != MQTTASYNC_SUCCESS)
        return;
    int count = 0;
    if (tokens) {
        while (tokens[count] != -1)
            ++count;
        MQTTAsync_free(tokens);
    }
    FWaiting = count;
    if (FWaiting < WarnWaiting)
        FWarned = false;
}

bool TMqttClient::Publish(const QString &topic, const QByteArray &payload, bool retained)
{
    if (!FClient)
        return false;
    MQTTAsync_message message = MQTTAsync_message_initializer;
    message.payload = const_cast<char *>(payload.constData());
    message.payloadlen = int(payload.size());
    message.qos = 1;
    message.retained = retained ? 1 : 0;
    MQTTAsync_responseOptions options = MQTTAsync_responseOptions_initializer;
    const int rc = MQTTAsync_sendMessage(Handle(FClient), topic.toUtf8().constData(), &message, &options);
    if (rc != MQTTASYNC_SUCCESS)
        return false;
    if (FWaiting >= MaxWaiting)
        ++FDropped; // Paho let the oldest go for this one
    else
        ++FWaiting;
    if (FWaiting >= WarnWaiting && !FWarned) {
        FWarned = true;
        emit NearlyFull(FWaiting);
    }
    return true;
}

int TMqttClient::Finish(int ms)
{
    if (!FClient)
        return 0;
    FRetryTimer->stop();
    MQTTAsync client = Handle(FClient);
    QElapsedTimer clock;
    clock.start();
    CountWaiting();
    // Waiting is worth it only where a connection was made; Paho's threads do the work meanwhile.
    while (FWaiting > 0 && clock.elapsed() < ms && (FEverConnected || MQTTAsync_isConnected(client))) {
        QThread::msleep(FinishPollMs);
        CountWaiting();
    }
    if (FWaiting == 0 && MQTTAsync_isConnected(client)) {
        MQTTAsync_disconnectOptions options = MQTTAsync_disconnectOptions_initializer;
        options.timeout = DisconnectMs;
        if (MQTTAsync_disconnect(client, &options) == MQTTASYNC_SUCCESS) {
            QElapsedTimer disconnecting;
            disconnecting.start();
            while (MQTTAsync_isConnected(client) && disconnecting.elapsed() < DisconnectMs)
                QThread::msleep(FinishPollMs);
        }
    }
    // Messages still waiting stay in the folder; the session is kept, so none is thrown away.
    MQTTAsync_destroy(&client);
    FClient = nullptr;
    FConnected = false;
    return FWaiting;
}
