// The window program, run as the zarnmonitor executable in a Run on a line the test answers,
// ended by SIGTERM, SIGINT or SIGHUP (a shutdown, Ctrl+C, a logout): it closes as File > Exit
// does, and both logs hold every line computed before the signal. Killed outright (SIGKILL, as a
// crash or a power cut), the three files still hold every batch it had processed.

#include "app/Settings.h"
#include "tests/app/ReportTexts.h"
#include "tests/common/PtyPair.h"
#include "tests/common/WorkingFolder.h"

#include <QDataStream>
#include <QProcess>
#include <QWidget>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

namespace {

constexpr int WaitMs = 60000;
constexpr int BatchSize = 32;
constexpr int Batches = 3;
// Reports answered: three whole batches and the start of a fourth, which no log may hold.
constexpr int Answered = Batches * BatchSize + 5;

// Report k: 90 degrees (as MeanReport), and a count of its own so that each logged time of
// flight tells which report it came from.
int CountOf(int k)
{
    return 100 + 8 * k;
}

QByteArray Report(int k)
{
    QByteArray report = MeanReport;
    report.replace(49, 3, QByteArray::number(CountOf(k)));
    return report + "\r\n";
}

// The values of a log's lines; empty when a line lacks its line end or its `fields` values (the
// last line may hold fewer).
QList<QByteArrayList> LogLines(const QString &path, int fields)
{
    QList<QByteArrayList> lines;
    QList<QByteArray> text = TWorkingFolder::Read(path).split('\n');
    if (text.takeLast() != "")
        return {};
    for (const QByteArray &line : text) {
        const qsizetype n = line.chopped(1).split(',').size();
        if (!line.endsWith('\r') || n > fields || (n < fields && &line != &text.last()))
            return {};
        lines << line.chopped(1).split(',');
    }
    return lines;
}

// Whether the process catches the signal now (its handler is installed).
bool Catches(qint64 pid, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

// The normal (not maximised) place and size in what QWidget::saveGeometry wrote.
QRect NormalGeometry(const QByteArray &kept)
{
    QDataStream stream(kept);
    stream.setVersion(QDataStream::Qt_4_0);
    quint32 magic = 0;
    quint16 major = 0, minor = 0;
    QRect frame, normal;
    stream >> magic >> major >> minor >> frame >> normal;
    return stream.status() == QDataStream::Ok && magic == 0x1D9D0CB ? normal : QRect();
}

} // namespace

class TestSignals : public QObject {
    Q_OBJECT
private slots:
    void windowWritesLogs_data();
    void windowWritesLogs();
    void signalAtStartBoxKeepsWindow();
};

void TestSignals::windowWritesLogs_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("diskFull"); // Phase.csv cannot be written (a FIFO): its lines are rescued
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGINT") << int(SIGINT) << false;
    QTest::newRow("SIGHUP") << int(SIGHUP) << false;
    QTest::newRow("SIGTERM, Phase.csv a FIFO") << int(SIGTERM) << true;
    QTest::newRow("SIGKILL") << int(SIGKILL) << false;
}

void TestSignals::windowWritesLogs()
{
    QFETCH(int, signal);
    QFETCH(bool, diskFull);
    TWorkingFolder folder;
    QVERIFY(folder.IsValid());
    // A FIFO where Phase.csv should be: no log is written into it.
    if (diskFull)
        QCOMPARE(::mkfifo(QFile::encodeName(folder.Path("Phase.csv")).constData(), 0600), 0);
    TPtyPair line;
    QVERIFY(line.IsValid());

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    // The program keeps its settings in the folder's, not in those of whoever runs the test.
    environment.insert("XDG_CONFIG_HOME", folder.Path("config"));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(folder.Folder());
    program.start(QStringLiteral(ZARNMONITOR_PATH), {"--device", line.SlavePath(), "--run"});
    QVERIFY(program.waitForStarted(WaitMs));

    // The test plays the instrument: each "z" gets the next report until all are answered; "a"
    // and "x" get nothing. Two requests after the last report prove it was taken: a cycle asks
    // again only once its report was handled or its wait gave up, and the wait after that one
    // leaves no received byte unread.
    int answered = 0, asksAfter = 0;
    const bool served = QTest::qWaitFor(
        [&] {
            for (const char c : line.ReadAvailable()) {
                if (answered < Answered && c == 'z')
                    line.Write(Report(answered++));
                else if (answered == Answered && (c == 'z' || c == 'x'))
                    ++asksAfter;
            }
            return asksAfter >= 2 || program.state() == QProcess::NotRunning;
        },
        WaitMs);
    QVERIFY2(served && asksAfter >= 2, qPrintable(QStringLiteral("%1 reports answered").arg(answered)));
    const QDateTime killed = QDateTime::currentDateTime();
    ::kill(static_cast<pid_t>(program.processId()), signal);
    QVERIFY(program.waitForFinished(WaitMs));
    const bool crash = signal == SIGKILL;
    QCOMPARE(program.exitStatus(), crash ? QProcess::CrashExit : QProcess::NormalExit);
    if (!crash)
        QCOMPARE(program.exitCode(), 0);
    // What the start and the close have to say goes to standard error: no box waits.
    QStringList told;
    for (const QString &text : QString::fromLocal8Bit(program.readAllStandardError()).split('\n'))
        if (text.startsWith("zarnmonitor: "))
            told << text;
    QStringList expected{"zarnmonitor: Open COM1 !"};
    QString phaseFile = folder.Path("Phase.csv");
    if (diskFull) {
        const QStringList rescued = QDir(folder.Folder()).entryList({"Phase-*.csv"});
        QCOMPARE(rescued.size(), 1);
        phaseFile = folder.Path(rescued.first());
        expected << QStringLiteral("zarnmonitor: %1 lines of %2 could not be written. They were saved in %3 instead.")
                        .arg(Batches + 1)
                        .arg(folder.Path("Phase.csv"), phaseFile);
    }
    QCOMPARE(told, expected);

    // One line of 32 values for each whole batch and a shorter one with the rest: 90 degrees, and
    // the time of flight of each report's count, in order.
    const QList<QByteArrayList> phaseLines = LogLines(phaseFile, BatchSize);
    const QList<QByteArrayList> tofLines = LogLines(folder.Path("TimeOfFlight.csv"), BatchSize + 1);
    // Killed, the batch in progress was never processed: the whole batches are there, nothing of it.
    const int computed = crash ? Batches * BatchSize : Answered;
    QCOMPARE(phaseLines.size(), crash ? Batches : Batches + 1);
    QCOMPARE(tofLines.size(), crash ? Batches : Batches + 1);
    QCOMPARE(phaseLines.last().size(), crash ? BatchSize : Answered - Batches * BatchSize);
    // One row per report, each computed before the signal.
    QList<QByteArray> rows = TWorkingFolder::Read(folder.Path("Measurements.csv")).split('\n');
    QCOMPARE(rows.takeLast(), QByteArray());
    QCOMPARE(rows.size(), 1 + computed);
    for (const QByteArray &row : rows.mid(1)) {
        const QDateTime time = QDateTime::fromString(QString::fromLatin1(row.left(row.indexOf(','))), Qt::ISODateWithMs);
        QVERIFY2(time.isValid() && time < killed, row.constData());
    }
    for (int k = 0; k < computed; ++k) {
        const QByteArray phase = phaseLines[k / BatchSize][k % BatchSize];
        const QByteArray tof = tofLines[k / BatchSize][1 + k % BatchSize];
        const double expected = (CountOf(k) / 16 + 0.25) * 0.25;
        QVERIFY2(phase == "90.000" && std::abs(tof.toDouble() - expected) <= 0.0006,
                 qPrintable(QStringLiteral("value %1: %2, %3").arg(k).arg(phase, tof)));
    }
}

void TestSignals::signalAtStartBoxKeepsWindow()
{
    TWorkingFolder folder;
    QVERIFY(folder.IsValid());
    TPtyPair line;
    QVERIFY(line.IsValid());
    // Kept: a port that is gone (its box opens at the start), the Log page, and a size no screen
    // holds.
    QWidget kept;
    kept.setGeometry(20, 40, 30000, 20000);
    {
        TSettings settings(folder.Path("config/Dunmeridge/Zarn Monitor.conf"));
        settings.SetPort("COM3");
        settings.SetPage("TS_Log");
        settings.SetGeometry(kept.saveGeometry());
    }

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("QT_QPA_PLATFORM", "offscreen"); // one screen of 800x800
    environment.insert("XDG_CONFIG_HOME", folder.Path("config"));
    environment.insert("ZARN_COM1", line.SlavePath());
    environment.insert("ZARN_COM3", folder.Path("ttyGone"));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(folder.Folder());
    program.start(QStringLiteral(ZARNMONITOR_PATH), QStringList());
    QVERIFY(program.waitForStarted(WaitMs));
    // Once the program catches SIGTERM, the signal is handled by the first event loop that
    // runs: the box about the missing port.
    QVERIFY(QTest::qWaitFor([&] { return Catches(program.processId(), SIGTERM); }, WaitMs));
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    QVERIFY(program.waitForFinished(WaitMs));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    // The box after it had no one to wait for: its text went to standard error.
    QVERIFY(program.readAllStandardError().contains("zarnmonitor: Open COM1 !"));

    TSettings settings(folder.Path("config/Dunmeridge/Zarn Monitor.conf"));
    QCOMPARE(settings.Port(), QStringLiteral("COM3"));
    QCOMPARE(settings.Page(), QStringLiteral("TS_Log"));
    // The place and size the window would have opened at: on the screen, whole.
    const QRect normal = NormalGeometry(settings.Geometry());
    QVERIFY2(QRect(0, 0, 800, 800).contains(normal),
             qPrintable(QStringLiteral("%1,%2 %3x%4").arg(normal.x()).arg(normal.y()).arg(normal.width()).arg(normal.height())));
}

QTEST_MAIN(TestSignals)
#include "tst_signals.moc"
