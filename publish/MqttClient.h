#pragma once
// TMqttClient: one connection to an MQTT broker that never loses what it was given. Every message
// goes out at QoS 1 through Paho's asynchronous client, which first writes it to a folder of its
// own: while the broker cannot be reached the messages wait there, and they go out in order once
// it can, also after the program was ended or killed and started again. Paho calls back on threads
// of its own; each call is handed to the thread that made the client as a queued call, so the
// owner sees its signals from its own event loop and a publish never waits for the network.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTime>

#include <memory>

class QTimer;

struct TMqttSettings {
    QString Url;          // mqtt://host:port, or mqtts://host:port for TLS with the system's CA store
    QString ClientId;     // also names the session and the folder the messages wait in
    QString User, Password; // empty user: none
    QString WillTopic;    // what the broker publishes, retained, when the connection is lost
    QByteArray WillPayload;
    QString Folder;       // where the messages wait; made when missing
};

class TMqttClient : public QObject {
    Q_OBJECT
public:
    // Messages that may wait on disk. Past this the oldest go, one for each new message; the
    // owner is told from WarnWaiting on, before any does.
    static constexpr int MaxWaiting = 200000;
    static constexpr int WarnWaiting = MaxWaiting * 9 / 10;
    static constexpr int DefaultPort = 1883, DefaultTlsPort = 8883;

    explicit TMqttClient(QObject *parent = nullptr);
    // Closes as Finish(0) does: what waits stays on disk.
    ~TMqttClient() override;
    TMqttClient(const TMqttClient &) = delete;
    TMqttClient &operator=(const TMqttClient &) = delete;

    // "mqtt://host:port" (port optional) as Paho's address and as "host:port" to show; false with
    // the reason when it is none.
    static bool ParseUrl(const QString &url, QString &address, QString &hostPort, QString &error);

    // Makes the client (messages left from an earlier start are taken up) and starts connecting;
    // false with the reason when the address is wrong or the folder cannot be used.
    bool Start(const TMqttSettings &settings, QString &error);
    // Queues the message at QoS 1; false only when the client was not started.
    bool Publish(const QString &topic, const QByteArray &payload, bool retained = false);
    // Waits up to ms (without an event loop) until the broker has acknowledged every message, then
    // closes; what is still waiting stays on disk for the next start. Returns what is left.
    int Finish(int ms);

    bool IsConnected() const { return FConnected; }
    // Messages given and not yet acknowledged by the broker.
    int Waiting() const { return FWaiting; }
    // Messages acknowledged since the start.
    qint64 Delivered() const { return FDelivered; }
    // Oldest messages dropped because MaxWaiting were waiting.
    qint64 Dropped() const { return FDropped; }
    QString HostPort() const { return FHostPort; }
    // When the connection was last lost or first failed; null while connected or before any try.
    QTime UnreachableSince() const { return FUnreachableSince; }
    // Why the last attempt failed, to show ("the broker ... refused the user name or password").
    QString LastError() const { return FLastError; }

signals:
    // Connected, disconnected, or the count of waiting messages changed enough to show.
    void StateChanged();
    void Connected();
    // An attempt failed or the connection was lost; text says why.
    void Failed(const QString &text);
    // The waiting messages reached WarnWaiting (waiting: how many).
    void NearlyFull(int waiting);

private:
    // Paho's callbacks, on its threads.
    friend struct TPahoCallbacks;

    void Connect();
    void OnConnected();
    void OnFailed(int code, const QString &text);
    void OnLost();
    // A client made afresh from the folder, after a lost connection.
    void Renew();
    void OnDelivered();
    void CountWaiting();
    QString FailureText(int code, const QString &detail) const;

    // The broker's host name looked up once on a thread of its own, so that a failure can say
    // the name is unknown; no answer yet counts as found.
    struct THostLookup;
    std::shared_ptr<THostLookup> FLookup;
    QString FHost;
    void *FClient = nullptr; // MQTTAsync
    TMqttSettings FSettings;
    QString FAddress, FHostPort;
    QByteArray FAddressBytes, FClientIdBytes, FUserBytes, FPasswordBytes, FWillTopicBytes, FFolderBytes;
    bool FConnected = false;
    bool FEverConnected = false; // after that Paho reconnects by itself
    int FWaiting = 0;
    qint64 FDelivered = 0, FDropped = 0;
    bool FWarned = false;
    QTime FUnreachableSince;
    QString FLastError;
    QTimer *FRetryTimer = nullptr; // connection attempts until the first one succeeds
    int FRetryMs = 0;
};
