// Publishing to an MQTT broker, as a consumer sees it: the program runs headless on the simulated
// instrument against a mosquitto of the test's own (127.0.0.1, a free port, its configuration and
// persistence in a temporary folder, stopped by its process id), and a subscriber in the test
// collects what arrives. What arrives must be the rows of Measurements.csv, each once, in order:
// with the broker up, stopped for a while, and with the program killed while it was down.

#include "tests/common/FreePort.h"
#include "app/CommandLine.h"
#include "app/Publisher.h"
#include "app/PublishingDialog.h"
#include "app/Settings.h"
#include "app/Unitmain.h"
#include "engine/MeasurementLog.h"
#include "publish/MqttClient.h"
#include "sim/SimInstrument.h"
#include "tests/common/MemoryDevice.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/WorkingFolder.h"

#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <MQTTAsync.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <mutex>

namespace {

constexpr int WaitMs = 60000;
constexpr char Instrument[] = "bench-A";

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// mosquitto with persistence (a subscriber's session and its queue survive a restart) and,
// when asked, a password file with the user "zarn" and the password "secret".
class TBroker {
public:
    TBroker(const QString &folder, bool passwords) : FFolder(folder), Port(FreePort())
    {
        QByteArray config = "listener " + QByteArray::number(Port) + " 127.0.0.1\n" +
                            "persistence true\npersistence_location " + folder.toUtf8() + "/\n" +
                            "max_queued_messages 0\nuser root\n";
        if (passwords) {
            QProcess::execute(QStandardPaths::findExecutable("mosquitto_passwd", {"/usr/bin", "/usr/sbin"}),
                              {"-c", "-b", folder + "/passwords", "zarn", "secret"});
            config += "allow_anonymous false\npassword_file " + folder.toUtf8() + "/passwords\n";
        } else
            config += "allow_anonymous true\n";
        TWorkingFolder::Write(folder + "/mosquitto.conf", config);
    }
    ~TBroker() { Stop(); }

    static QString Program() { return QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/bin"}); }
    bool Start()
    {
        FProcess.start(Program(), {"-c", FFolder + "/mosquitto.conf"});
        return FProcess.waitForStarted() && QTest::qWaitFor([this] { return Accepts(Port); }, WaitMs);
    }
    // SIGTERM: mosquitto saves its sessions and queues, then ends.
    void Stop()
    {
        if (FProcess.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(FProcess.processId()), SIGTERM);
        FProcess.waitForFinished(WaitMs);
    }

private:
    QString FFolder;
    QProcess FProcess;

public:
    const int Port;
};

struct TMessage {
    QByteArray Topic, Payload;
};

// Subscribes to zarn/# at QoS 1 with a session the broker keeps, and reconnects by itself.
class TSubscriber {
public:
    explicit TSubscriber(int port)
    {
        const QByteArray address = "tcp://127.0.0.1:" + QByteArray::number(port);
        MQTTAsync_create(&FClient, address.constData(), "tst-publish-subscriber", MQTTCLIENT_PERSISTENCE_NONE, nullptr);
        MQTTAsync_setCallbacks(FClient, this, nullptr, Arrived, nullptr);
        MQTTAsync_setConnected(FClient, this, [](void *context, char *) { static_cast<TSubscriber *>(context)->Subscribe(); });
        MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer;
        options.cleansession = 0;
        options.automaticReconnect = 1;
        options.minRetryInterval = 1;
        options.maxRetryInterval = 2;
        options.context = this;
        options.onSuccess = [](void *context, MQTTAsync_successData *) { static_cast<TSubscriber *>(context)->Subscribe(); };
        MQTTAsync_connect(FClient, &options);
    }
    ~TSubscriber() { MQTTAsync_destroy(&FClient); }
    bool Subscribed() const { return FSubscribed; }
    QList<TMessage> Messages() const
    {
        std::lock_guard<std::mutex> lock(FMutex);
        return FMessages;
    }

private:
    void Subscribe()
    {
        MQTTAsync_responseOptions options = MQTTAsync_responseOptions_initializer;
        options.context = this;
        options.onSuccess = [](void *context, MQTTAsync_successData *) { static_cast<TSubscriber *>(context)->FSubscribed = true; };
        MQTTAsync_subscribe(FClient, "zarn/#", 1, &options);
    }
    static int Arrived(void *context, char *topic, int, MQTTAsync_message *message)
    {
        auto *self = static_cast<TSubscriber *>(context);
        {
            std::lock_guard<std::mutex> lock(self->FMutex);
            self->FMessages.push_back({topic, QByteArray(static_cast<const char *>(message->payload), message->payloadlen)});
        }
        MQTTAsync_freeMessage(&message);
        MQTTAsync_free(topic);
        return 1;
    }

    MQTTAsync FClient = nullptr;
    std::atomic<bool> FSubscribed{false};
    mutable std::mutex FMutex;
    QList<TMessage> FMessages;
};

QByteArray Field(const QByteArray &json, const char *name)
{
    const QRegularExpression field(QStringLiteral("\"%1\":(\"[^\"]*\"|[^,}]+)").arg(QLatin1String(name)));
    const QByteArray value = field.match(QString::fromUtf8(json)).captured(1).toUtf8();
    return value.startsWith('"') ? value.mid(1, value.size() - 2) : value;
}

// The Measurements.csv row a report's message stands for.
QByteArray Row(const QByteArray &m)
{
    const QByteArray temperature = Field(m, "temperature_c");
    return Field(m, "time") + ',' + Field(m, "run") + ',' + Field(m, "count") + ',' + Field(m, "m1") + ',' +
           Field(m, "m2") + ',' + Field(m, "phase_deg") + ',' + Field(m, "tof_us") + ',' +
           (temperature == "null" ? "" : temperature) + ',' + (Field(m, "kept") == "true" ? "1" : "0");
}

// The reports received, each once (QoS 1 may bring one again: the same bytes), in the order they
// first came, as the Measurements.csv rows they stand for; empty when one is not numbered.
QByteArrayList ReceivedRows(const QList<TMessage> &messages)
{
    QByteArrayList rows;
    QSet<QByteArray> seen;
    for (const TMessage &message : messages) {
        if (message.Topic != "zarn/" + QByteArray(Instrument) + "/report" || seen.contains(message.Payload))
            continue;
        seen.insert(message.Payload);
        const QByteArray &m = message.Payload;
        if (Field(m, "instrument") != Instrument || Field(m, "report").toLongLong() < 1) {
            qWarning("not a numbered report of %s: %s", Instrument, m.constData());
            return {};
        }
        rows << Row(m);
    }
    return rows;
}

// How many different reports came: cheap enough to ask again and again while waiting.
qsizetype DistinctReports(const QList<TMessage> &messages)
{
    QSet<QByteArray> seen;
    for (const TMessage &message : messages)
        if (message.Topic.endsWith("/report"))
            seen.insert(message.Payload);
    return seen.size();
}

// Rows by their time: the reports in flight when a connection goes may come again after those
// queued meanwhile.
QByteArrayList Sorted(QByteArrayList rows)
{
    std::sort(rows.begin(), rows.end());
    return rows;
}

QByteArrayList CsvRows(const QString &path)
{
    QByteArrayList rows = TWorkingFolder::Read(path).split('\n');
    rows.removeFirst(); // the header
    rows.removeAll(QByteArray());
    for (QByteArray &row : rows)
        row = row.trimmed();
    return rows;
}

// The program, headless, on the simulated instrument, publishing to the port as Instrument, with
// its waiting messages under data/ of the folder.
void Launch(QProcess &program, const QString &folder, const QString &device, int port, const QStringList &more,
            const QString &host = "127.0.0.1")
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", folder + "/data");
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(folder);
    program.start(QStringLiteral(ZARNMONITOR_PATH), QStringList{"--headless", "--device", device, "--mqtt",
                                                                QStringLiteral("mqtt://%1:%2").arg(host).arg(port),
                                                                "--instrument", Instrument} + more);
}

} // namespace

class TestPublish : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void brokerAddress_data();
    void brokerAddress();
    void reportMessage_data();
    void reportMessage();
    void publishesEveryRow_data();
    void publishesEveryRow();
    void killedWhileBrokerDown();
    void brokerRefuses_data();
    void brokerRefuses();
    void window();
};

void TestPublish::initTestCase()
{
    if (TBroker::Program().isEmpty())
        QSKIP("mosquitto is not installed (./zarn test installs it)");
}

void TestPublish::brokerAddress_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("address"); // Paho's, or the start of the error
    QTest::newRow("default port") << "mqtt://broker.lab" << "tcp://broker.lab:1883";
    QTest::newRow("TLS") << "mqtts://broker.lab" << "ssl://broker.lab:8883";
    QTest::newRow("IPv6 and a port") << "mqtt://[::1]:1884/" << "tcp://[::1]:1884";
    QTest::newRow("other scheme") << "http://broker.lab:1883" << "not a broker address: 'http://broker.lab:1883'";
    QTest::newRow("no host") << "mqtt://:1883" << "not a broker address";
    QTest::newRow("a path") << "mqtt://h/zarn" << "not a broker address";
    QTest::newRow("password") << "mqtt://u:p@h:1883" << "the broker address carries a user name";
}

void TestPublish::brokerAddress()
{
    QFETCH(QString, url);
    QFETCH(QString, address);
    QString paho, hostPort, error;
    const bool ok = TMqttClient::ParseUrl(url, paho, hostPort, error);
    QCOMPARE(ok ? paho : error.left(address.size()), address);
    if (ok)
        QCOMPARE("tcp://" + hostPort, paho.replace("ssl://", "tcp://"));
}

void TestPublish::reportMessage_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<float>("phase");
    QTest::addColumn<float>("temperature");
    QTest::addColumn<bool>("kept");
    QTest::newRow("kept") << 290 << 90.0f << 23.456f << true;
    QTest::newRow("dropped, negative count") << -17 << 359.9996f << -4.5f << false;
    QTest::newRow("no temperature yet") << 0 << 0.0004f << MeasurementLog::NoTemperature << true;
}

void TestPublish::reportMessage()
{
    QFETCH(int, count);
    QFETCH(float, phase);
    QFETCH(float, temperature);
    QFETCH(bool, kept);
    TReport report;
    report.Record.Time = QDateTime(QDate(2026, 12, 7), QTime(10, 15, 0, 250), Qt::OffsetFromUTC, 3600);
    report.Record.Run = 3;
    report.Record.BigCount = count;
    report.Record.M1 = -1000;
    report.Record.M2 = 1000;
    report.Record.PhaseDeg = phase;
    report.Record.TimeOfFlight = (count / 16 + phase / 360.0f) * 0.25f;
    report.Record.Temperature = temperature;
    report.Number = 17;
    report.Kept = kept;
    const QByteArray message = Publishing::ReportMessage(Instrument, report);
    QVERIFY2(QJsonDocument::fromJson(message).isObject(), message.constData());
    QCOMPARE(Row(message), MeasurementLog::Line(report.Record, kept));
    QCOMPARE(Field(message, "report"), QByteArray("17"));
    QCOMPARE(Field(message, "instrument"), QByteArray(Instrument));
}

void TestPublish::publishesEveryRow_data()
{
    QTest::addColumn<bool>("outage");
    QTest::newRow("broker up") << false;
    QTest::newRow("broker stopped for 3 s") << true;
}

void TestPublish::publishesEveryRow()
{
    QFETCH(bool, outage);
    TWorkingFolder folder;
    TBroker broker(folder.Folder(), false);
    QVERIFY(broker.Start());
    TSubscriber subscriber(broker.Port);
    QTRY_VERIFY_WITH_TIMEOUT(subscriber.Subscribed(), WaitMs);
    TSimOptions options;
    options.Seed = 31;
    TSimInstrument instrument(options);
    QVERIFY(instrument.Start());

    QProcess program;
    Launch(program, folder.Folder(), instrument.SlavePath(), broker.Port, {"--duration", outage ? "15" : "4"});
    QByteArray out;
    if (outage) {
        // In the middle of the Run, once reports have arrived: the broker goes for 3 s.
        QTRY_VERIFY_WITH_TIMEOUT((out += program.readAllStandardOutput()).contains("\n5 s: "), WaitMs);
        QVERIFY(!ReceivedRows(subscriber.Messages()).isEmpty());
        broker.Stop();
        QTest::qWait(3000);
        QVERIFY(broker.Start());
    }
    QVERIFY(program.waitForFinished(WaitMs));
    out += program.readAllStandardOutput();
    const QByteArray err = program.readAllStandardError();
    QCOMPARE(program.exitCode(), int(CommandLine::ExitDone));

    const QByteArrayList rows = CsvRows(folder.Path("Measurements.csv"));
    QVERIFY(rows.size() > 32);
    QTRY_VERIFY2_WITH_TIMEOUT(DistinctReports(subscriber.Messages()) == rows.size(),
                              qPrintable(QStringLiteral("%1 of %2 rows arrived\n").arg(DistinctReports(subscriber.Messages())).arg(rows.size()) +
                                         QString::fromUtf8(out + err).right(1200)),
                              WaitMs);
    QCOMPARE(Sorted(ReceivedRows(subscriber.Messages())), Sorted(rows));
    qInfo("%lld rows in Measurements.csv, %lld messages received, every row once", qlonglong(rows.size()),
          qlonglong(subscriber.Messages().size()));
    QVERIFY2(out.contains(QStringLiteral("  MQTT: %1 reports published to 127.0.0.1:%2, all acknowledged")
                              .arg(rows.size())
                              .arg(broker.Port)
                              .toUtf8()),
             out.constData());
    QVERIFY2(out.contains(QStringLiteral("zarnmonitor: MQTT: connected to 127.0.0.1:%1\n").arg(broker.Port).toUtf8()),
             out.constData());
    if (outage) {
        QVERIFY2(err.contains(QStringLiteral("zarnmonitor: MQTT: lost the connection to 127.0.0.1:%1\n").arg(broker.Port).toUtf8()),
                 err.constData());
        QVERIFY2(QString::fromUtf8(out).contains(QRegularExpression("MQTT: \\d+ reports waiting, broker unreachable since "
                                                                    "\\d\\d:\\d\\d:\\d\\d\\n")),
                 out.constData());
    } else
        QCOMPARE(err, QByteArray("zarnmonitor: Open COM1 !\n"));
    // The state, retained: online while it ran, offline once it ended.
    QList<QByteArray> states;
    for (const TMessage &message : subscriber.Messages())
        if (message.Topic.endsWith("/status"))
            states << message.Payload;
    QVERIFY(states.contains(Publishing::StatusMessage(instrument.SlavePath(), true)));
    QCOMPARE(states.value(states.size() - 1), QByteArray("{\"state\":\"offline\"}"));
    // The Run's Statistics.csv row, as one message.
    const QByteArray statistics = TWorkingFolder::Read(folder.Path("Statistics.csv")).trimmed();
    QSet<QByteArray> published;
    for (const TMessage &message : subscriber.Messages())
        if (message.Topic == "zarn/" + QByteArray(Instrument) + "/statistics")
            published << message.Payload;
    const QByteArrayList lines = statistics.split('\n');
    QCOMPARE(lines.size(), 2);
    QCOMPARE(published, QSet<QByteArray>{Publishing::StatisticsMessage(Instrument, lines[0].trimmed(), lines[1].trimmed())});
}

void TestPublish::killedWhileBrokerDown()
{
    TWorkingFolder folder;
    TBroker broker(folder.Folder(), false);
    QVERIFY(broker.Start());
    TSubscriber subscriber(broker.Port);
    QTRY_VERIFY_WITH_TIMEOUT(subscriber.Subscribed(), WaitMs);
    TSimOptions options;
    options.Seed = 32;
    TSimInstrument instrument(options);
    QVERIFY(instrument.Start());

    QProcess first;
    Launch(first, folder.Folder(), instrument.SlavePath(), broker.Port, {});
    QTRY_VERIFY_WITH_TIMEOUT(DistinctReports(subscriber.Messages()) > 0, WaitMs);
    broker.Stop();
    // Two batches more come while the broker is down; the program is killed once its progress
    // line counts every logged report as waiting (a kill between a row's write and its
    // message's can always lose that message).
    const qsizetype before = CsvRows(folder.Path("Measurements.csv")).size();
    const qsizetype arrived = DistinctReports(subscriber.Messages());
    const QRegularExpression progress("Measurements.csv (\\d+) lines, [^;]*; MQTT: (\\d+) reports waiting");
    QByteArray firstOut;
    QTRY_VERIFY_WITH_TIMEOUT([&] {
        firstOut += first.readAllStandardOutput();
        const QStringList lines = QString::fromUtf8(firstOut).split('\n', Qt::SkipEmptyParts);
        const QRegularExpressionMatch m = progress.match(lines.value(lines.size() - 1));
        return m.hasMatch() && m.captured(1).toInt() >= before + 64 && m.captured(2).toInt() >= m.captured(1).toInt() - arrived;
    }(), WaitMs);
    first.kill();
    QVERIFY(first.waitForFinished(WaitMs));
    const qsizetype killedWith = CsvRows(folder.Path("Measurements.csv")).size();
    const qsizetype arrivedBefore = DistinctReports(subscriber.Messages());
    QVERIFY(arrivedBefore < killedWith);

    // Started again with the broker up, the reports that waited go first.
    QVERIFY(broker.Start());
    QProcess second;
    Launch(second, folder.Folder(), instrument.SlavePath(), broker.Port, {"--duration", "2"});
    QVERIFY(second.waitForFinished(WaitMs));
    QCOMPARE(second.exitCode(), int(CommandLine::ExitDone));
    const QByteArray secondOut = second.readAllStandardOutput();
    QVERIFY2(secondOut.contains(", all acknowledged\n"), secondOut.constData());
    const QByteArrayList rows = CsvRows(folder.Path("Measurements.csv"));
    QVERIFY(rows.size() > killedWith);
    QTRY_COMPARE_WITH_TIMEOUT(DistinctReports(subscriber.Messages()), rows.size(), WaitMs);
    QCOMPARE(Sorted(ReceivedRows(subscriber.Messages())), Sorted(rows));
    qInfo("killed with %lld rows, %lld of them arrived; %lld rows in all, %lld messages received, every row once",
          qlonglong(killedWith), qlonglong(arrivedBefore), qlonglong(rows.size()), qlonglong(subscriber.Messages().size()));
}

void TestPublish::brokerRefuses_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("wrongPort");
    QTest::addColumn<QString>("message");
    QTest::newRow("wrong port") << "127.0.0.1" << true << "zarnmonitor: MQTT: cannot connect to 127.0.0.1:%1";
    QTest::newRow("unknown host") << "no-such-host.invalid" << false
                                  << "zarnmonitor: MQTT: cannot find the host no-such-host.invalid (";
    QTest::newRow("refused password") << "127.0.0.1" << false
                                      << "zarnmonitor: MQTT: the broker 127.0.0.1:%1 refused the user name or password";
}

void TestPublish::brokerRefuses()
{
    QFETCH(QString, host);
    QFETCH(bool, wrongPort);
    QFETCH(QString, message);
    TWorkingFolder folder;
    TBroker broker(folder.Folder(), true);
    QVERIFY(broker.Start());
    TWorkingFolder::Write(folder.Path("credentials"), "zarn\nnot the secret\n");
    TSimInstrument instrument{TSimOptions()};
    QVERIFY(instrument.Start());
    const int port = wrongPort ? FreePort() : broker.Port;

    QProcess program;
    Launch(program, folder.Folder(), instrument.SlavePath(), port,
           {"--duration", "3", "--mqtt-credentials", folder.Path("credentials")}, host);
    QVERIFY(program.waitForFinished(WaitMs));
    const QByteArray out = program.readAllStandardOutput();
    const QByteArray err = program.readAllStandardError();
    // Measuring and the files go on; the reports wait on disk for a broker that will take them.
    QCOMPARE(program.exitCode(), int(CommandLine::ExitDone));
    const QByteArray expected = (message.contains("%1") ? message.arg(port) : message).toUtf8();
    QVERIFY2(err.contains(expected), err.constData());
    QCOMPARE(err.count(expected), 1);
    const qsizetype rows = CsvRows(folder.Path("Measurements.csv")).size();
    QVERIFY(rows > 32);
    QVERIFY2(out.contains(QStringLiteral("  Measurements.csv %1 lines written").arg(rows).toUtf8()), out.constData());
    QVERIFY2(QString::fromUtf8(out).contains(QRegularExpression(
                 QStringLiteral("  MQTT: %1 reports published to %2:%3, \\d+ messages wait in ").arg(rows).arg(host).arg(port))),
             out.constData());
}

void TestPublish::window()
{
    TWorkingFolder folder;
    qputenv("ZARN_COM1", folder.Path("ttyX").toLocal8Bit());
    qputenv("XDG_DATA_HOME", folder.Path("data").toLocal8Bit());
    TBroker broker(folder.Folder(), false);
    QVERIFY(broker.Start());
    const QString url = QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.Port);
    const QString connected = QStringLiteral("MQTT: connected to 127.0.0.1:%1").arg(broker.Port);
    TMessageCapture messages;
    TMemoryLine line;
    TSettings settings(folder.Path("settings.ini"));
    settings.SetPublishing({url, "win", ""});
    TFormMain form(nullptr, MemoryDeviceFactory(line), &settings);
    form.show();
    // The state under the panels, as the broker comes and goes.
    QTRY_COMPARE_WITH_TIMEOUT(form.LabelMqtt->text(), connected, WaitMs);
    QVERIFY(form.LabelMqtt->isVisible());
    broker.Stop();
    const QRegularExpression unreachable(QStringLiteral("^MQTT: \\d+ reports waiting, broker unreachable since "
                                                        "\\d\\d:\\d\\d:\\d\\d \\(lost the connection to 127.0.0.1:%1\\)$")
                                             .arg(broker.Port));
    QTRY_VERIFY_WITH_TIMEOUT(form.LabelMqtt->text().contains(unreachable), WaitMs);

    // File > Publishing...: the Test button says what happened; OK keeps a choice it can take.
    form.mmPublishing->trigger();
    QPointer<TPublishingDialog> dialog = form.PublishingDialog;
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->EditUrl->text(), url);
    QCOMPARE(dialog->EditInstrument->text(), QString("win"));
    dialog->BtnTest->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->LabelTestResult->text().startsWith(
                                 QStringLiteral("Cannot publish: cannot connect to 127.0.0.1:%1").arg(broker.Port)),
                             WaitMs);
    QVERIFY(broker.Start());
    dialog->BtnTest->click();
    QTRY_COMPARE_WITH_TIMEOUT(dialog->LabelTestResult->text(),
                              QStringLiteral("Connected to 127.0.0.1:%1: the broker takes the reports.").arg(broker.Port), WaitMs);
    dialog->EditInstrument->setText("bench/2");
    dialog->accept();
    QVERIFY(dialog->isVisible());
    QVERIFY2(dialog->LabelTestResult->text().startsWith("Cannot publish so: the instrument name may hold only"),
             qPrintable(dialog->LabelTestResult->text()));
    dialog->EditInstrument->setText("win2");
    dialog->accept();
    QTRY_VERIFY(!dialog);
    QCOMPARE(settings.Publishing().Instrument, QString("win2"));
    QTRY_COMPARE_WITH_TIMEOUT(form.LabelMqtt->text(), connected, WaitMs);
    QCOMPARE(form.FPublisher->Instrument(), QString("win2"));
    QCOMPARE(messages.Texts().filter("MQTT"), QStringList());
    form.close();
}

QTEST_MAIN(TestPublish)
#include "tst_publish.moc"
