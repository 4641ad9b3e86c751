// The program's command line and its headless mode, run as the zarnmonitor executable: help,
// wrong input (one line on standard error, the exit status, nothing written), runs on the
// simulated instrument ended each way, their logs, waveform file and pictures.

#include "app/CommandLine.h"
#include "app/Pictures.h"
#include "display/Image.h"
#include "app/Unitmain.h"
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
#include <csignal>

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

} // namespace

class TestHeadless : public QObject {
    Q_OBJECT
private slots:
    void helpListsEveryOption();
    void badInput_data();
    void badInput();
    void runEnds_data();
    void runEnds();
    void waveformAndPictures();
    void incompleteWaveformIsNotWritten();
    void logFailsAndRecovers();
};

void TestHeadless::helpListsEveryOption()
{
    TWorkingFolder folder;
    const TResult result = Start({"--help"}, folder.Folder());
    QCOMPARE(result.ExitCode, 0);
    QCOMPARE(result.Err, QByteArray());
    for (const char *option : {"-h, --help", "-v, --version", "--device DEVICE", "--headless", "--duration SECONDS",
                               "--waveform FILE", "--pictures FOLDER", "--run", "--documents", "Exit status: 0"})
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
                                   << "cannot open %busy as COM1: it is in use";
    QTest::newRow("waveform folder missing") << QStringList{"--headless", "--device", "/dev/null", "--waveform", "@/no/w.csv"}
                                             << int(ExitCannotWrite) << "no such folder: @/no";
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
    // "%busy": a terminal another program holds open.
    TSimInstrument instrument{TSimOptions()};
    QSerialPort holder;
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
    QCOMPARE(QDir(folder.Folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"f"});
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
                                             "TimeOfFlight.csv \\d+ lines, Measurements.csv \\d+ lines\\n")),
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
        return;
    }

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
    // A full disk under Phase.csv: every write fails, whoever runs the test.
    QVERIFY(QFile::link("/dev/full", folder.Path("Phase.csv")));
    TSimOptions options;
    options.Seed = Seed;
    TSimInstrument instrument(options);
    QVERIFY(instrument.Start());
    QProcess program;
    Launch(program, {"--headless", "--device", instrument.SlavePath()}, folder.Folder());

    // Told once when it starts failing, once when it is written again.
    const QString failing = "zarnmonitor: cannot write " + folder.Path("Phase.csv") + ": No space left on device";
    const QString recovered = "zarnmonitor: Phase.csv is written again";
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

QTEST_MAIN(TestHeadless)
#include "tst_headless.moc"
