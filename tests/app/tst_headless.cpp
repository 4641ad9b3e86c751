// The program's command line and its headless mode, run as the zarnmonitor executable: help,
// wrong input (one line on standard error, the exit status, nothing written), runs on the
// simulated instrument ended each way, their logs, waveform file and pictures.

#include "app/CommandLine.h"
#include "app/Pictures.h"
#include "display/Image.h"
#include "app/Unitmain.h"
#include "engine/MeasurementLog.h"
#include "engine/StatisticsLog.h"
#include "engine/Reports.h"
#include "engine/WaveBlock.h"
#include "app/WaveFile.h"
#include "sim/SimInstrument.h"
#include "sim/SimModel.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/WorkingFolder.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QtTest>

#include <cmath>
#include <numeric>
#include <csignal>
#include <sys/stat.h>

namespace {

constexpr int WaitMs = 60000;

struct TResult {
    int ExitCode = -1;
    QByteArray Out, Err;
};

// Starts the program in folder; "@" in an argument stands for the folder. Without a usable
// platform plugin or display: nothing the program does may lean on a screen.
void Launch(QProcess &program, const QStringList &arguments, const QString &folder)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("QT_QPA_PLATFORM", "no-such-platform");
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(folder);
    QStringList expanded;
    for (const QString &argument : arguments)
        expanded << QString(argument).replace('@', folder);
    program.start(QStringLiteral(ZARNMONITOR_PATH), expanded);
}

TResult Finish(QProcess &program)
{
    TResult result;
    if (!program.waitForFinished(WaitMs))
        return result;
    result.ExitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    result.Out += program.readAllStandardOutput();
    result.Err += program.readAllStandardError();
    return result;
}

TResult Start(const QStringList &arguments, const QString &folder)
{
    QProcess program;
    Launch(program, arguments, folder);
    return Finish(program);
}

// The lines of a log file; false when one of them is not a complete line of `fields` values.
bool ReadLog(const QString &path, int fields, QList<QByteArrayList> &lines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    if (!text.endsWith("\r\n"))
        return false;
    const QList<QByteArray> rows = text.chopped(2).split('\n');
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const bool last = i + 1 == rows.size();
        if (!last && !rows[i].endsWith('\r'))
            return false;
        lines << (last ? rows[i] : rows[i].chopped(1)).split(',');
        // Full lines, then a shorter last one with what the run left open.
        if (lines.last().size() > fields || (!last && lines.last().size() != fields))
            return false;
    }
    return true;
}

// Checks that every logged value is one the simulator's readings imply, in their order: the
// filter may leave values out, never add or change one. Phase and time of flight of one value
// come from the same reading.
QString MatchReadings(quint32 seed, const QList<QByteArrayList> &phaseLines, const QList<QByteArrayList> &tofLines)
{
    QList<double> phases, tofs;
    for (const QByteArrayList &line : phaseLines)
        for (const QByteArray &value : line)
            phases << value.toDouble();
    for (const QByteArrayList &line : tofLines)
        for (qsizetype i = 1; i < line.size(); ++i)
            tofs << line[i].toDouble();
    if (phases.size() != tofs.size())
        return "the logs hold different numbers of values";
    TSimModel model(seed);
    int reading = 0;
    for (qsizetype i = 0; i < phases.size(); ++i) {
        for (;; ++reading) {
            if (reading > 1000000)
                return QStringLiteral("value %1 (%2 degrees) is no reading's").arg(i).arg(phases[i]);
            model.Acquire();
            const TSimReading r = model.Reading();
            double degrees = std::atan2(double(r.M2), double(r.M1)) * 180 / M_PI;
            if (degrees < 0)
                degrees += 360;
            const double tof = (std::trunc(r.Count / 16.0) + degrees / 360) * 0.25;
            if (std::abs(phases[i] - degrees) <= 0.0006 && std::abs(tofs[i] - tof) <= 0.0006)
                break;
        }
        ++reading;
    }
    return QString();
}

// Statistics.csv's row of the Run against the Run's kept values in Measurements.csv, figured here
// by definition, and the summary's line against the row. The row is figured from the values
// before they were rounded to the file's 6 decimals: each may differ by 0.5 ps, and each figure
// by what that can move it.
QString CheckStatistics(const TWorkingFolder &folder, const QString &out)
{
    const QList<QByteArray> rows = TWorkingFolder::Read(folder.Path("Statistics.csv")).split('\n');
    if (rows.size() != 3 || !rows[0].startsWith("Time,Run,Values,"))
        return "Statistics.csv is not a header and one row";
    const QByteArrayList row = rows[1].trimmed().split(',');
    QList<double> values, seconds;
    for (const QByteArray &line : TWorkingFolder::Read(folder.Path("Measurements.csv")).split('\n')) {
        const QByteArrayList fields = line.trimmed().split(',');
        if (fields.size() == 9 && fields[1] == "1" && fields[8] == "1") {
            values << fields[6].toDouble();
            seconds << QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs).toMSecsSinceEpoch() / 1000.0;
        }
    }
    const qsizetype n = values.size();
    if (n < 2 || row.size() != 14 || row[1] != "1" || row[2].toLongLong() != n)
        return "the row does not count the Run's kept values: " + QString::fromLatin1(rows[1]);
    double mean = 0, t = 0;
    for (qsizetype i = 0; i < n; ++i) {
        mean += values[i] / n;
        t += seconds[i] / n;
    }
    double ss = 0, tt = 0, ty = 0, spread = 0;
    for (qsizetype i = 0; i < n; ++i) {
        ss += (values[i] - mean) * (values[i] - mean);
        tt += (seconds[i] - t) * (seconds[i] - t);
        ty += (seconds[i] - t) * (values[i] - mean);
        spread += std::abs(seconds[i] - t);
    }
    QList<double> groups;
    for (qsizetype g = 0; (g + 1) * 10 <= n; ++g)
        groups << std::accumulate(values.begin() + g * 10, values.begin() + (g + 1) * 10, 0.0) / 10;
    double squares = 0;
    for (qsizetype k = 1; k < groups.size(); ++k)
        squares += (groups[k] - groups[k - 1]) * (groups[k] - groups[k - 1]);
    constexpr double Rounding = 0.5; // ps
    const struct {
        int Field;
        double Want, Tolerance;
    } checks[] = {{3, mean, 1e-6},
                  {4, std::sqrt(ss / (n - 1)) * 1e6, Rounding + 0.01},
                  {8, ty / tt * 60e6, Rounding * spread / tt * 60 + 0.01},
                  {12, std::sqrt(squares / (2.0 * (groups.size() - 1))) * 1e6, Rounding * std::sqrt(2.0) + 0.01}};
    if (row[12].isEmpty() != (groups.size() < 2))
        return "ADEV 10 is given for too few values, or not given for enough";
    for (const auto &check : checks)
        if (!row[check.Field].isEmpty() && std::abs(row[check.Field].toDouble() - check.Want) > check.Tolerance)
            return QStringLiteral("field %1 of the row is %2, not %3").arg(check.Field).arg(QString::fromLatin1(row[check.Field])).arg(check.Want);
    QString summary = QStringLiteral("\n  time of flight: %1 values kept, mean %2 us, SD %3 ps, drift %4 ps/min")
                          .arg(QString::fromLatin1(row[2]), QString::fromLatin1(row[3]), QString::fromLatin1(row[4]),
                               QString::fromLatin1(row[8]));
    summary += row[12].isEmpty() ? "\n" : ", ADEV 10: " + QString::fromLatin1(row[12]) + " ps\n";
    return out.contains(summary) ? QString() : "the summary does not say" + summary;
}

} // namespace

class TestHeadless : public QObject {
    Q_OBJECT
private slots:
    void helpListsEveryOption();
    void badInput_data();
    void badInput();
    void runEnds_data();
    void runEnds();
    void reconnectGoesOnMeasuring();
    void waveformAndPictures();
    void incompleteWaveformIsNotWritten();
    void logFailsAndRecovers();
    void deletedFolderIsRescuedToDataFolder();
    void statisticsOfAFile();
    void killedKeepsProcessedBatches_data();
    void killedKeepsProcessedBatches();
};

void TestHeadless::helpListsEveryOption()
{
    TWorkingFolder folder;
    const TResult result = Start({"--help"}, folder.Folder());
    QCOMPARE(result.ExitCode, 0);
    QCOMPARE(result.Err, QByteArray());
    for (const char *option : {"-h, --help", "-v, --version", "--device DEVICE", "--headless", "--duration SECONDS",
                               "--waveform FILE", "--pictures FOLDER", "--run", "--documents", "--statistics FILE",
                               "Exit status: 0"})
        QVERIFY2(result.Out.contains(option), option);
}

void TestHeadless::badInput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    using namespace CommandLine;
    const QString absurd = QString::number(MaxDurationSeconds + 1, 'f', 0);
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << int(ExitUsage) << "Unknown option 'frobnicate'.";
    QTest::newRow("missing value") << QStringList{"--headless", "--duration"} << int(ExitUsage)
                                   << "Missing value after '--duration'.";
    QTest::newRow("argument") << QStringList{"--headless", "10"} << int(ExitUsage) << "Unexpected argument '10'";
    QTest::newRow("empty device") << QStringList{"--device="} << int(ExitUsage) << "--device wants";
    QTest::newRow("option needs --headless") << QStringList{"--duration", "5"} << int(ExitUsage)
                                            << "--duration works only with --headless.";
    for (const QString &duration :
         {QString("-5"), QString("0.0009"), QString("ten"), QString("nan"), QString("inf"), absurd})
        QTest::addRow("duration %s", qPrintable(duration))
            << QStringList{"--headless", "--duration=" + duration} << int(ExitUsage)
            << "--duration wants 0 (no end) or a number of seconds from 0.001 to 31622400, not '" + duration + "'.";
    QTest::newRow("instrument without --mqtt") << QStringList{"--headless", "--instrument", "a"} << int(ExitUsage)
                                               << "--instrument works only with --mqtt.";
    QTest::newRow("mqtt not a URL") << QStringList{"--headless", "--mqtt", "http://h:1"} << int(ExitUsage)
                                    << "--mqtt: not a broker address: 'http://h:1' (mqtt://host:port";
    QTest::newRow("instrument name") << QStringList{"--headless", "--mqtt", "mqtt://h", "--instrument", "a/b"}
                                     << int(ExitUsage) << "--instrument wants letters, digits, '-' and '_' only";
    QTest::newRow("run with --headless") << QStringList{"--headless", "--run"} << int(ExitUsage)
                                         << "--run is for the window; --headless always runs.";
    QTest::newRow("no such device") << QStringList{"--headless", "--device", "@/ttyNone"} << int(ExitNoPort)
                                    << "no such device: @/ttyNone";
    QTest::newRow("pictures under a file") << QStringList{"--headless", "--device", "/dev/null", "--pictures", "@/f/sub"}
                                           << int(ExitCannotWrite) << "--pictures cannot be made inside @/f: not a folder";
    QTest::newRow("pictures folder read-only") << QStringList{"--headless", "--device", "/dev/null", "--pictures", "/proc/zarn"}
                                               << int(ExitCannotWrite) << "cannot write in /proc:";
    QTest::newRow("waveform is a folder") << QStringList{"--headless", "--device", "/dev/null", "--waveform", "@"}
                                          << int(ExitCannotWrite) << "--waveform names a folder: @";
    QTest::newRow("device in use") << QStringList{"--headless", "--device", "%busy"} << int(ExitNoPort)
                                   << QStringLiteral("cannot open %busy as COM1: COM1 (%busy) is in use by %1 (process %2)")
                                          .arg(QCoreApplication::applicationName())
                                          .arg(QCoreApplication::applicationPid());
    QTest::newRow("waveform is a FIFO") << QStringList{"--headless", "--device", "/dev/null", "--waveform", "@/fifo"}
                                        << int(ExitCannotWrite)
                                        << "@/fifo is not a regular file (a FIFO); nothing was written.";
    QTest::newRow("statistics of nothing") << QStringList{"--statistics", "@/f"} << int(ExitUsage)
                                           << "@/f is not a Measurements.csv: it is empty";
    QTest::newRow("statistics of no file") << QStringList{"--statistics", "@/none.csv"} << int(ExitUsage)
                                           << "cannot read @/none.csv: ";
    QTest::newRow("statistics while measuring") << QStringList{"--headless", "--statistics", "@/f"} << int(ExitUsage)
                                                << "--statistics reads a file and measures nothing";
    QTest::newRow("waveform folder missing") << QStringList{"--headless", "--device", "/dev/null", "--waveform", "@/no/w.csv"}
                                             << int(ExitCannotWrite) << "no such folder: @/no";
    // Given twice: refused, whatever the option takes.
    const QList<QPair<QString, QStringList>> twice{
        {"--duration", {"--headless", "--duration", "5", "--duration=6"}},
        {"--headless", {"--headless", "--headless"}},
        {"--help", {"-h", "--help"}},
        {"--device", {"--device", "a", "--device", "a"}},
        {"--run", {"--run", "--run"}},
        {"--documents", {"--documents", "--run", "--documents"}},
        {"--pictures", {"--headless", "--pictures", "p", "--waveform", "w", "--pictures", "p"}},
    };
    for (const auto &[option, arguments] : twice)
        QTest::addRow("%s given twice", qPrintable(option)) << arguments << int(ExitUsage) << option + " given twice";
    // The same in both front ends.
    QTest::newRow("empty device, window") << QStringList{"--device", ""} << int(ExitUsage)
                                          << "--device wants the path of a serial device.";
    QTest::newRow("empty device, headless") << QStringList{"--headless", "--device", ""} << int(ExitUsage)
                                            << "--device wants the path of a serial device.";
    // Folders for the pictures that cannot be made: told before the port is even opened.
    QTest::newRow("pictures on a link to nothing") << QStringList{"--headless", "--device", "%tty", "--pictures", "%gone"}
                                                   << int(ExitCannotWrite) << "--pictures cannot be made: %gone is not a folder";
    QTest::newRow("pictures under a link to nothing")
        << QStringList{"--headless", "--device", "%tty", "--pictures", "%gone/sub"} << int(ExitCannotWrite)
        << "--pictures cannot be made: %gone is not a folder";
    const QString longName(300, 'x');
    QTest::newRow("pictures name too long") << QStringList{"--headless", "--device", "%tty", "--pictures", "@/" + longName}
                                            << int(ExitCannotWrite)
                                            << "--pictures cannot be made: @/" + longName + ": File name too long";
}

void TestHeadless::badInput()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    TWorkingFolder folder;
    QVERIFY(folder.IsValid());
    QFile file(folder.Path("f"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QStringList entries{"f"};
    if (arguments.contains("@/fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(folder.Path("fifo")).constData(), 0600), 0);
        entries << "fifo";
    }
    // "%busy": a terminal another program holds open.
    TSimInstrument instrument{TSimOptions()};
    QSerialPort holder;
    // "%gone": a symbolic link that leads nowhere, beside the working folder.
    QTemporaryDir links;
    QVERIFY(QFile::link(links.filePath("nowhere"), links.filePath("gone")));
    arguments.replaceInStrings("%gone", links.filePath("gone"));
    message.replace("%gone", links.filePath("gone"));
    if (arguments.contains("%tty")) {
        QVERIFY(instrument.Start());
        arguments.replaceInStrings("%tty", instrument.SlavePath());
    }
    if (arguments.contains("%busy")) {
        QVERIFY(instrument.Start());
        holder.setPortName(instrument.SlavePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        arguments.replaceInStrings("%busy", instrument.SlavePath());
        message.replace("%busy", instrument.SlavePath());
    }

    const TResult result = Start(arguments, folder.Folder());
    QCOMPARE(result.ExitCode, exitCode);
    QCOMPARE(result.Out, QByteArray());
    QVERIFY2(result.Err.startsWith(QByteArray(CommandLine::ProgramName) + ": "), result.Err.constData());
    QCOMPARE(result.Err.count('\n'), 1);
    QVERIFY2(result.Err.contains(message.replace('@', folder.Folder()).toLocal8Bit()), result.Err.constData());
    // Nothing half-written: the folder holds what the test put there.
    QCOMPARE(QDir(folder.Folder()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot), entries);
}

void TestHeadless::runEnds_data()
{
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stopped");
    QTest::newRow("duration") << "duration" << int(CommandLine::ExitDone) << "(the duration was reached)";
    QTest::newRow("SIGINT") << "SIGINT" << int(CommandLine::ExitDone) << "(SIGINT, Ctrl+C)";
    QTest::newRow("SIGTERM") << "SIGTERM" << int(CommandLine::ExitDone) << "(SIGTERM)";
    QTest::newRow("SIGHUP") << "SIGHUP" << int(CommandLine::ExitDone) << "(SIGHUP)";
    QTest::newRow("line vanishes") << "vanish" << int(CommandLine::ExitIncomplete) << " went away)";
    QTest::newRow("no reply") << "silent" << int(CommandLine::ExitIncomplete) << "(the duration was reached)";
}

void TestHeadless::runEnds()
{
    QFETCH(QString, end);
    QFETCH(int, exitCode);
    QFETCH(QString, stopped);
    constexpr quint32 Seed = 16;
    TWorkingFolder folder;
    TSimOptions options;
    options.Seed = Seed;
    options.VanishAfter = end == "vanish" ? 400 : 0;
    options.Drop = end == "silent" ? 1.0 : 0.0;
    TSimInstrument instrument(options);
    QVERIFY(instrument.Start());

    QStringList arguments{"--headless", "--device", instrument.SlavePath()};
    if (end == "duration" || end == "silent")
        arguments << "--duration" << "4";
    QProcess program;
    Launch(program, arguments, folder.Folder());
    TResult result;
    if (end.startsWith("SIG")) {
        // Stopped once a line of each log is on disk, as an operator would press Ctrl+C.
        const QRegularExpression written("Phase.csv [1-9]\\d* lines, TimeOfFlight.csv [1-9]\\d* lines, Measurements.csv [1-9]");
        QTRY_VERIFY_WITH_TIMEOUT(QString::fromLocal8Bit(result.Out += program.readAllStandardOutput()).contains(written), WaitMs);
        ::kill(static_cast<pid_t>(program.processId()), end == "SIGINT" ? SIGINT : end == "SIGHUP" ? SIGHUP : SIGTERM);
    }
    const TResult rest = Finish(program);
    result.ExitCode = rest.ExitCode;
    result.Out += rest.Out;
    result.Err = rest.Err;
    QCOMPARE(result.ExitCode, exitCode);

    // Progress once a second, then the summary.
    const QString out = QString::fromLocal8Bit(result.Out);
    QVERIFY2(out.contains(QRegularExpression("\\n\\d+ s: \\d+ cycles, \\d+\\.\\d Hz, \\d+ reports; Phase.csv \\d+ lines, "
                                             "TimeOfFlight.csv \\d+ lines, Measurements.csv \\d+ lines, "
                                             "Statistics.csv \\d+ lines\\n")),
             qPrintable(out));
    QVERIFY2(out.contains(QRegularExpression("\\nzarnmonitor: stopped after \\d+\\.\\d s .*" + QRegularExpression::escape(stopped))),
             qPrintable(out));
    // Messages once each: the port's opening, and the line's loss when it went.
    QStringList expectedErr{"zarnmonitor: Open COM1 !"};
    if (end == "vanish")
        expectedErr << "zarnmonitor: COM1 has been disconnected ! Please check the line and open the port again.";
    if (end == "silent")
        expectedErr << "zarnmonitor: No reply from the instrument since @"
                    << "zarnmonitor: no report arrived from the instrument on " + instrument.SlavePath();
    QStringList err = QString::fromLocal8Bit(result.Err).split('\n', Qt::SkipEmptyParts);
    err.replaceInStrings(QRegularExpression("since \\d\\d:\\d\\d:\\d\\d$"), "since @");
    QCOMPARE(err, expectedErr);
    if (end == "silent") {
        QVERIFY(!QFile::exists(folder.Path("Phase.csv")) && !QFile::exists(folder.Path("TimeOfFlight.csv")));
        QVERIFY2(out.contains("\n  time of flight: no values kept\n"), qPrintable(out));
        QVERIFY(TWorkingFolder::Read(folder.Path("Statistics.csv")).endsWith(",1,0,,,,,,,,,,,\r\n"));
        return;
    }
    const QString statistics = CheckStatistics(folder, out);
    QVERIFY2(statistics.isEmpty(), qPrintable(statistics));

    // The logs are complete whatever ended the run, and the summary counts what they hold.
    QList<QByteArrayList> phaseLines, tofLines;
    QVERIFY(ReadLog(folder.Path("Phase.csv"), 32, phaseLines));
    QVERIFY(ReadLog(folder.Path("TimeOfFlight.csv"), 33, tofLines));
    QVERIFY(!phaseLines.isEmpty());
    QVERIFY2(out.contains(QStringLiteral("  Phase.csv %1 lines written, %2").arg(phaseLines.size()).arg(folder.Path("Phase.csv"))),
             qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("  TimeOfFlight.csv %1 lines written").arg(tofLines.size())), qPrintable(out));
    // One time-stamped line per report, after the header.
    QVERIFY2(out.contains(QStringLiteral("  Measurements.csv %1 lines written, %2")
                              .arg(TWorkingFolder::LineCount(folder.Path("Measurements.csv")) - 1)
                              .arg(folder.Path("Measurements.csv"))),
             qPrintable(out));
    const QString mismatch = MatchReadings(Seed, phaseLines, tofLines);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

// --reconnect: the line goes away twice in the middle of the Run and comes back at the same path
// (a link to another terminal each time); the Run goes on under its number until the duration.
void TestHeadless::reconnectGoesOnMeasuring()
{
    TWorkingFolder folder;
    QTemporaryDir links;
    const QString link = links.filePath("instrument");
    TSimOptions options;
    options.VanishAfter = 200;
    auto instrument = std::make_unique<TSimInstrument>(options);
    QVERIFY(instrument->Start());
    QVERIFY(QFile::link(instrument->SlavePath(), link));
    QProcess program;
    Launch(program, {"--headless", "--reconnect", "--device", link, "--duration", "8"}, folder.Folder());
    for (int round = 0; round < 2; ++round) {
        QTRY_VERIFY_WITH_TIMEOUT(instrument->HasVanished(), WaitMs);
        options.VanishAfter = round == 0 ? 200 : 0; // the third terminal stays
        instrument = std::make_unique<TSimInstrument>(options);
        QVERIFY(instrument->Start());
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(instrument->SlavePath(), link));
    }
    const TResult result = Finish(program);
    QCOMPARE(result.ExitCode, int(CommandLine::ExitDone));
    const QString out = QString::fromLocal8Bit(result.Out);
    QVERIFY2(out.contains("(the duration was reached)"), qPrintable(out));
    QVERIFY2(out.contains(QRegularExpression("\\n  link: \\d+ sent, \\d+ replies, \\d+ missing, \\d+ late, \\d+ refused, "
                                             "\\d+ noise bytes\\n")),
             qPrintable(out));
    QStringList err = QString::fromLocal8Bit(result.Err).split('\n', Qt::SkipEmptyParts);
    err.replaceInStrings(QRegularExpression("\\d\\d:\\d\\d:\\d\\d"), "@");
    // The device stands for COM1; the second loss's box is the first one's text, told once.
    const QString lost = "zarnmonitor: COM1 lost at @, waiting for " + link;
    const QString back = "zarnmonitor: COM1 reopened at @";
    QVERIFY2(err.size() == 6, qPrintable(err.join('\n')));
    QCOMPARE(err, QStringList({"zarnmonitor: Open COM1 !", lost,
                               "zarnmonitor: COM1 has been disconnected ! Zarn Monitor will reopen it when it comes back.",
                               back, lost, back}));
    // One Run throughout, with reports from all three terminals (200 commands each before the
    // first two went: 100 reports at most from each).
    const QList<QByteArray> lines = TWorkingFolder::Read(folder.Path("Measurements.csv")).split('\n');
    QVERIFY2(lines.size() > 250, qPrintable(QString::number(lines.size())));
    for (qsizetype i = 1; i < lines.size(); ++i)
        if (!lines[i].isEmpty())
            QCOMPARE(lines[i].split(',').value(1), QByteArray("1"));
}

void TestHeadless::incompleteWaveformIsNotWritten()
{
    TWorkingFolder folder;
    TSimOptions options;
    options.Samples = 700;
    TSimInstrument instrument(options);
    QVERIFY(instrument.Start());
    const TResult result = Start({"--headless", "--device", instrument.SlavePath(), "--duration", "1",
                                  "--waveform", "@/block.csv"},
                                 folder.Folder());
    QCOMPARE(result.ExitCode, int(CommandLine::ExitIncomplete));
    QVERIFY2(result.Err.contains("zarnmonitor: 700 of 1568 lines received; the previous waveform is kept.\n"
                                 "zarnmonitor: no whole waveform block arrived; " + folder.Path("block.csv").toLocal8Bit()
                                 + " is not written\n"),
             result.Err.constData());
    QVERIFY(!QFile::exists(folder.Path("block.csv")));
    QVERIFY(!result.Out.contains("waveform:"));
}

void TestHeadless::waveformAndPictures()
{
    constexpr quint32 Seed = 5;
    TWorkingFolder folder;
    TSimOptions options;
    options.Seed = Seed;
    TSimInstrument instrument(options);
    QVERIFY(instrument.Start());
    const TResult result = Start({"--headless", "--device", instrument.SlavePath(), "--duration", "1",
                                  "--waveform", "@/block.csv", "--pictures", "@/pictures"},
                                 folder.Folder());
    QCOMPARE(result.ExitCode, int(CommandLine::ExitDone));
    QVERIFY(result.Out.contains("  waveform: " + folder.Path("block.csv").toLocal8Bit()));

    // The file holds the block the instrument sent (the samples a block fills, mid-scale after).
    const TSimWaveform sent = TSimModel(Seed).Waveform(options.Samples);
    TChannel expected1, expected2;
    expected1.fill(ChannelMidScale);
    expected2.fill(ChannelMidScale);
    for (int i = 0; i < WaveBlock::MaxSamples; ++i) {
        expected1[i] = int16_t(sent.Transmit[i]);
        expected2[i] = int16_t(sent.Receive[i]);
    }
    QFile file(folder.Path("block.csv"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), WaveFile::WaveformText(expected1, expected2));

    // Each picture as the window's page shows it at its opening size, drawn without a window: the
    // gauge with the trend, the chart with both curves, the log with text.
    TMessageCapture messages;
    TFormMain form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.PanelGauge->size(), Pictures::GaugeSize);
    form.mmWaveformClick();
    QTRY_COMPARE(form.ImageChart->size(), Pictures::ChartSize);
    const QList<QPair<QString, QSize>> pictures{
        {"Main.png", Pictures::GaugeSize}, {"Waveform.png", Pictures::ChartSize}, {"Log.png", Pictures::ChartSize}};
    for (const auto &[name, size] : pictures) {
        const QImage picture(folder.Path("pictures/" + name));
        QCOMPARE(picture.size(), size);
        QSet<QRgb> colours;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                colours.insert(picture.pixel(x, y) & 0xffffff);
        QVERIFY2(colours.size() > 2, qPrintable(name));
        if (name == "Main.png")
            QVERIFY(colours.contains(0xff0000));
        if (name == "Waveform.png")
            QVERIFY(colours.contains(0xff0000) && colours.contains(0xffff00) && colours.contains(0x000080));
    }
}

void TestHeadless::logFailsAndRecovers()
{
    constexpr quint32 Seed = 9;
    TWorkingFolder folder;
    // A FIFO where Phase.csv should be: it is refused (a reader would get the lines, and none
    // waits) until a file can take its place.
    QCOMPARE(::mkfifo(QFile::encodeName(folder.Path("Phase.csv")).constData(), 0600), 0);
    TSimOptions options;
    options.Seed = Seed;
    TSimInstrument instrument(options);
    QVERIFY(instrument.Start());
    QProcess program;
    Launch(program, {"--headless", "--device", instrument.SlavePath()}, folder.Folder());

    // Told once when it starts failing, once when it is written again.
    const QString failing = "zarnmonitor: cannot write " + folder.Path("Phase.csv") + ": " + folder.Path("Phase.csv") +
                            " is not a regular file (a FIFO); nothing was written.";
    const QString recovered = "zarnmonitor: " + folder.Path("Phase.csv") + " is written again";
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += program.readAllStandardError()).contains(failing.toLocal8Bit()), WaitMs);
    QVERIFY(QFile::remove(folder.Path("Phase.csv")));
    QTRY_VERIFY_WITH_TIMEOUT((err += program.readAllStandardError()).contains(recovered.toLocal8Bit()), WaitMs);
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    const TResult rest = Finish(program);
    QCOMPARE(rest.ExitCode, int(CommandLine::ExitDone));
    err += rest.Err;
    QCOMPARE(QString::fromLocal8Bit(err).split('\n', Qt::SkipEmptyParts),
             QStringList({"zarnmonitor: Open COM1 !", failing, recovered}));

    // The lines kept while the disk was full went out first: both logs hold the same readings.
    QList<QByteArrayList> phaseLines, tofLines;
    QVERIFY(ReadLog(folder.Path("Phase.csv"), 32, phaseLines));
    QVERIFY(ReadLog(folder.Path("TimeOfFlight.csv"), 33, tofLines));
    QCOMPARE(phaseLines.size(), tofLines.size());
    const QString mismatch = MatchReadings(Seed, phaseLines, tofLines);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void TestHeadless::deletedFolderIsRescuedToDataFolder()
{
    QTemporaryDir data, parent;
    QVERIFY(data.isValid() && parent.isValid());
    const QString working = parent.filePath("work");
    QVERIFY(QDir(parent.path()).mkdir("work"));
    const QString dataFolder = data.filePath("Dunmeridge/Zarn Monitor");
    TSimInstrument instrument{TSimOptions()};
    QVERIFY(instrument.Start());
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    QProcess program;
    Launch(program, {"--headless", "--device", instrument.SlavePath()}, working);
    if (savedData.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", savedData);

    // The working folder goes while the logs are being written.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(working + "/Phase.csv").size() > 0, WaitMs);
    QVERIFY(QDir(working).removeRecursively());
    const QString failing = "zarnmonitor: cannot write " + working + "/Phase.csv: No such file or directory";
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += program.readAllStandardError()).contains(failing.toLocal8Bit()), WaitMs);
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    const TResult rest = Finish(program);
    QCOMPARE(rest.ExitCode, int(CommandLine::ExitCannotWrite));
    err += rest.Err;

    // The lines are in the user's data folder, and the message names both files in full.
    const QStringList rescued = QDir(dataFolder).entryList({"Phase-*.csv"}, QDir::Files);
    QCOMPARE(rescued.size(), 1);
    const QRegularExpression told("zarnmonitor: \\d+ lines of " + QRegularExpression::escape(working + "/Phase.csv") +
                                  " could not be written. They were saved in " +
                                  QRegularExpression::escape(dataFolder + "/" + rescued[0]) + " instead.");
    QVERIFY2(told.match(QString::fromLocal8Bit(err)).hasMatch(), err.constData());
    QVERIFY(!QFile::exists("/" + rescued[0]));
    QList<QByteArrayList> lines;
    QVERIFY(ReadLog(dataFolder + "/" + rescued[0], 32, lines));
}

void TestHeadless::statisticsOfAFile()
{
    // Two Runs, lines outside any Run and a line of the filter's dropped values among them.
    TWorkingFolder folder;
    QByteArray text = MeasurementLog::Header() + "\r\n";
    const struct {
        const char *Time;
        int Run;
        float TimeOfFlight;
        bool Kept;
    } lines[] = {{"2026-12-07T10:00:00.000+01:00", 1, 4.531250f, true},
                 {"2026-12-07T10:00:30.000+01:00", 1, 4.531252f, true},
                 {"2026-12-07T10:00:40.000+01:00", 1, 4.6f, false},
                 {"2026-12-07T10:00:50.000+01:00", 0, 4.0f, true},
                 {"2026-12-07T10:01:00.000+01:00", 2, 4.531250f, true}};
    for (const auto &line : lines) {
        MeasurementLog::TRecord record;
        record.Time = QDateTime::fromString(QString::fromLatin1(line.Time), Qt::ISODateWithMs);
        record.Run = line.Run;
        record.PhaseDeg = 45;
        record.TimeOfFlight = line.TimeOfFlight;
        text += MeasurementLog::Line(record, line.Kept) + "\r\n";
    }
    QVERIFY(TWorkingFolder::Write(folder.Path("Measurements.csv"), text));
    const TResult result = Start({"--statistics", "@/Measurements.csv"}, folder.Folder());
    QCOMPARE(result.ExitCode, int(CommandLine::ExitDone));
    QCOMPARE(result.Err, QByteArray());
    QCOMPARE(result.Out, StatisticsLog::Header() + "\n"
                             "2026-12-07T10:00:40.000+01:00,1,2,4.531251,1.41,4.531250,4.531252,2.00,4.00,45.000,0.000,1.41,,\n"
                             "2026-12-07T10:01:00.000+01:00,2,1,4.531250,,4.531250,4.531250,0.00,,45.000,,,,\n");

    // A line that does not fit is named, and nothing goes to standard output.
    QVERIFY(TWorkingFolder::Write(folder.Path("Measurements.csv"), text + "2026-12-07T10:02:00.000+01:00,2,290\r\n"));
    const TResult broken = Start({"--statistics", "@/Measurements.csv"}, folder.Folder());
    QCOMPARE(broken.ExitCode, int(CommandLine::ExitUsage));
    QCOMPARE(broken.Out, QByteArray());
    QCOMPARE(broken.Err, "zarnmonitor: " + folder.Path("Measurements.csv").toLocal8Bit()
                             + " is not a Measurements.csv: line 7 does not fit: \"2026-12-07T10:02:00.000+01:00,2,290\"\n");
}

void TestHeadless::killedKeepsProcessedBatches_data()
{
    QTest::addColumn<bool>("window");
    QTest::newRow("headless") << false;
    QTest::newRow("window") << true;
}

void TestHeadless::killedKeepsProcessedBatches()
{
    // Killed outright during a Run (a crash, a power cut), either front end leaves in the files
    // every batch it processed: what the simulator sent, less the batch in progress and the reply
    // on the line.
    QFETCH(bool, window);
    constexpr int BatchSize = 32;
    TWorkingFolder folder;
    TSimOptions options;
    options.Seed = 21;
    options.RecordFile = folder.Path("sent.txt");
    TSimInstrument instrument(options);
    QVERIFY(instrument.Start());
    QProcess program;
    if (window) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_CONFIG_HOME", folder.Path("config"));
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(folder.Folder());
        program.start(QStringLiteral(ZARNMONITOR_PATH), {"--device", instrument.SlavePath(), "--run"});
    } else {
        Launch(program, {"--headless", "--device", instrument.SlavePath()}, folder.Folder());
    }
    const auto reportsSent = [&] {
        const QByteArray sent = TWorkingFolder::Read(options.RecordFile);
        return sent.count(Reports::MeanMarker) + sent.count(Reports::DifferenceMarker);
    };
    QTRY_VERIFY_WITH_TIMEOUT(reportsSent() >= 6 * BatchSize, WaitMs);
    ::kill(static_cast<pid_t>(program.processId()), SIGKILL);
    QVERIFY(program.waitForFinished(WaitMs));
    instrument.Stop();

    // What the simulator sent, in order.
    QList<QPair<int32_t, int32_t>> sent;
    QByteArray line = TWorkingFolder::Read(options.RecordFile) + QByteArray(100, ' ');
    Reports::TReport report;
    while (Reports::TakeReport(line, report))
        sent << qMakePair(report.Values.M1, report.Values.M2);
    // Measurements.csv: the first reports sent, all but the batch in progress and the reply on the
    // line. A kill while a batch is being written keeps what had gone out of it, its last line
    // perhaps cut short.
    QList<QByteArray> rows = TWorkingFolder::Read(folder.Path("Measurements.csv")).split('\n');
    rows.removeLast(); // after the last line end: nothing, or a line the kill cut
    rows.removeFirst(); // the header
    const int written = int(rows.size());
    QVERIFY2(written >= 5 * BatchSize && sent.size() - written <= BatchSize + 1,
             qPrintable(QStringLiteral("%1 reports sent, %2 in Measurements.csv").arg(sent.size()).arg(written)));
    QByteArrayList keptPhases, keptTofs;
    for (int i = 0; i < written; ++i) {
        const QByteArrayList fields = rows[i].chopped(1).split(',');
        QCOMPARE(qMakePair(fields[3].toInt(), fields[4].toInt()), sent[i]);
        if (fields[8] == "1") {
            keptPhases << fields[5];
            keptTofs << fields[6];
        }
    }
    // Phase.csv and TimeOfFlight.csv: every finished line of the kept values; only the line still
    // being built (fewer than 32 values, each in Measurements.csv) is not there.
    QList<QByteArrayList> phaseLines, tofLines;
    QVERIFY(ReadLog(folder.Path("Phase.csv"), BatchSize, phaseLines));
    QVERIFY(ReadLog(folder.Path("TimeOfFlight.csv"), BatchSize + 1, tofLines));
    QCOMPARE(phaseLines.size(), keptPhases.size() / BatchSize);
    QCOMPARE(tofLines.size(), keptTofs.size() / BatchSize);
    for (qsizetype i = 0; i < phaseLines.size() * BatchSize; ++i) {
        QCOMPARE(phaseLines[i / BatchSize][i % BatchSize], keptPhases[i]);
        QVERIFY(std::abs(tofLines[i / BatchSize][1 + i % BatchSize].toDouble() - keptTofs[i].toDouble()) <= 0.0006);
    }
}

QTEST_MAIN(TestHeadless)
#include "tst_headless.moc"
