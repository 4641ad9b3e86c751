#pragma once
// TPublisher: the sink that sends what the engine computes to an MQTT broker. Each report of a
// processed batch goes to zarn/<instrument>/report as one JSON object with the numbers of its
// Measurements.csv row; the program's state goes, retained, to zarn/<instrument>/status, and the
// broker sets it to offline when the program vanishes. The messages wait on disk in the user's
// data folder while the broker cannot be reached (TMqttClient).

#include "engine/Report.h"

#include <QObject>
#include <QString>

class TEngine;
class TMqttClient;

// What the operator chooses: on the command line, or in File > Publishing... (kept).
struct TPublishOptions {
    QString Url;             // empty: nothing is published
    QString Instrument;      // empty: DefaultInstrument of the device
    QString CredentialsFile; // empty: no user name
};

namespace Publishing {

// The longest instrument name taken: it is part of every topic and of a folder's name.
inline constexpr int MaxInstrumentLength = 64;
// How long the end of the program waits for the broker to acknowledge what is queued.
inline constexpr int FinishMs = 5000;

// Letters, digits, "-" and "_" only, at most MaxInstrumentLength of them.
bool ValidInstrument(const QString &name);
// The host's name and the device's base name: "lab3-ttyUSB0" for /dev/ttyUSB0 on lab3.
QString DefaultInstrument(const QString &device);
// User name on the first line, password on the second; false with the reason.
bool ReadCredentials(const QString &fileName, QString &user, QString &password, QString &error);
// The folder the messages of an instrument wait in.
QString WaitingFolder(const QString &instrument);
QString Topic(const QString &instrument, const char *leaf);
// The report's message: numbers as JSON number tokens with the text of its CSV row.
QByteArray ReportMessage(const QString &instrument, const TReport &report);
QByteArray StatusMessage(const QString &device, bool running);
QByteArray OfflineMessage();
// A Statistics.csv row as a JSON object, its header's column names as keys; numbers stay as the
// row writes them, an empty field becomes null.
QByteArray StatisticsMessage(const QString &instrument, const QByteArray &header, const QByteArray &row);

} // namespace Publishing

class TPublisher : public QObject {
    Q_OBJECT
public:
    // Follows the engine's batches and Run state from Start on. The engine must outlive it.
    explicit TPublisher(TEngine *engine, QObject *parent = nullptr);
    ~TPublisher() override;

    // device: the serial device measured on, for the status and the default instrument name.
    // False with the reason (a wrong address, an unreadable credentials file, a wrong name).
    bool Start(const TPublishOptions &options, const QString &device, QString &error);
    bool Active() const;
    // The status again (the device or the Run changed).
    void PublishStatus();
    void SetDevice(const QString &device);
    // The end of a Run: its Statistics.csv row goes to zarn/<instrument>/statistics.
    void PublishStatistics(const QByteArray &header, const QByteArray &row);
    // Tells the broker the program goes offline and waits up to ms for it to acknowledge every
    // message; returns how many stay on disk for the next start.
    int Finish(int ms = Publishing::FinishMs);

    // "MQTT: connected to broker:1883", "MQTT: 312 reports waiting, broker unreachable since
    // 14:02:11"; empty when nothing is published.
    QString StatusText() const;
    QString Instrument() const { return FInstrument; }
    qint64 Published() const { return FPublished; }
    TMqttClient *Client() const { return FClient; }

signals:
    // The state to show has changed (StatusText).
    void StateChanged();
    // Something the operator must be told: a connection that failed, a queue nearly full.
    void Notice(const QString &text);

private:
    void PublishBatch(const TBatch &batch);

    TEngine *FEngine;
    TMqttClient *FClient;
    QString FInstrument, FDevice;
    bool FRunning = false;
    qint64 FPublished = 0;
};
