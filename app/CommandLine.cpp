#include "app/CommandLine.h"

#include "platform/SafeFile.h"
#include "engine/StatisticsLog.h"
#include "app/Publisher.h"
#include "publish/MqttClient.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef ZARN_VERSION
#error "ZARN_VERSION is set by the build"
#endif

namespace CommandLine {

namespace {

struct TOptionSet {
    QCommandLineOption Help{{"h", "help"}, "Show this help and exit."};
    QCommandLineOption Version{{"v", "version"}, "Show the program's version and exit."};
    QCommandLineOption Device{"device",
                              "Use DEVICE as COM1 (default: $ZARN_COM1, else /dev/ttyS0). With or without a window.",
                              "DEVICE"};
    QCommandLineOption Headless{"headless",
                                "Measure without a window: open COM1, run the Run cycle and append to Phase.csv, "
                                "TimeOfFlight.csv and Measurements.csv in the working folder. A progress line each "
                                "second on standard output, a summary at the end; messages on standard error.",
                                {}};
    QCommandLineOption Run{"run",
                           "Without --headless: start the Run cycle as soon as the window opens. Messages of "
                           "the start (the port's opening) go to standard error instead of a box, so no one "
                           "need be at the screen.",
                           {}};
    QCommandLineOption Documents{"documents",
                                 "Write the logs into the folder \"Zarn Monitor\" in the user's documents folder "
                                 "(made when missing) instead of the working folder, unless a folder was chosen "
                                 "with File > Log Folder. The desktop entry starts the program so.",
                                 {}};
    QCommandLineOption Duration{"duration",
                                "With --headless: stop after SECONDS, at least 0.001; 0 (the default) runs until "
                                "Ctrl+C, SIGTERM or SIGHUP.",
                                "SECONDS"};
    QCommandLineOption Reconnect{"reconnect",
                                 "With --headless: when the line goes away, wait for its device to come back at "
                                 "the same path and go on measuring in the same Run (default: end the run).",
                                 {}};
    QCommandLineOption Waveform{"waveform",
                                "With --headless: first acquire one waveform block and save it as FILE.", "FILE"};
    QCommandLineOption Pictures{"pictures",
                                "With --headless: at the end write Main.png, Waveform.png and Log.png, pictures of "
                                "the window's pages, into FOLDER (made when missing).",
                                "FOLDER"};

    QCommandLineOption Statistics{"statistics",
                                  "Read FILE, a Measurements.csv, and write the Statistics.csv rows of every Run in "
                                  "it (header first) to standard output; then exit. No instrument is needed.",
                                  "FILE"};

    QCommandLineOption Mqtt{"mqtt",
                            "Publish every report, and the program's state, to the MQTT broker at URL "
                            "(mqtt://host:port, or mqtts://host:port for TLS checked against the system's CA "
                            "store) under zarn/NAME/. Reports wait on disk while the broker cannot be reached. "
                            "In the window this start's choice; else File > Publishing... keeps one.",
                            "URL"};
    QCommandLineOption Instrument{"instrument",
                                  "With --mqtt: the instrument's NAME in the topics, letters, digits, - and _ "
                                  "(default: the host's name and the device's, such as lab3-ttyUSB0).",
                                  "NAME"};
    QCommandLineOption MqttCredentials{"mqtt-credentials",
                                       "With --mqtt: log in to the broker with the user name on the first line "
                                       "of FILE and the password on the second.",
                                       "FILE"};

    QList<QCommandLineOption> All() const
    {
        return {Help, Version, Device, Headless, Run, Documents, Duration, Reconnect, Waveform, Pictures, Statistics, Mqtt, Instrument, MqttCredentials};
    }
};

QString OptionName(const QCommandLineOption &option)
{
    return "--" + option.names().constLast();
}

} // namespace

bool Parse(const QStringList &arguments, TOptions &options, QString &error)
{
    const TOptionSet set;
    QCommandLineParser parser;
    parser.addOptions(set.All());
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    // An option given twice is a slip: which of the two was meant cannot be told.
    const QStringList found = parser.optionNames();
    for (const QCommandLineOption &option : set.All()) {
        qsizetype times = 0;
        for (const QString &name : found)
            times += option.names().contains(name) ? 1 : 0;
        if (times > 1) {
            error = OptionName(option) + " given twice";
            return false;
        }
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("Unexpected argument '%1' (see --help).").arg(parser.positionalArguments().constFirst());
        return false;
    }
    options = TOptions();
    options.Help = parser.isSet(set.Help);
    options.Version = parser.isSet(set.Version);
    options.Headless = parser.isSet(set.Headless);
    options.Run = parser.isSet(set.Run);
    options.Documents = parser.isSet(set.Documents);
    options.Reconnect = parser.isSet(set.Reconnect);
    if (options.Reconnect && !options.Headless) {
        error = "--reconnect works only with --headless; the window always reopens a lost port.";
        return false;
    }
    if (options.Run && options.Headless) {
        error = "--run is for the window; --headless always runs.";
        return false;
    }
    if (parser.isSet(set.Device)) {
        options.Device = parser.value(set.Device);
        if (options.Device.isEmpty()) {
            error = "--device wants the path of a serial device.";
            return false;
        }
    }
    for (const QCommandLineOption *option : {&set.Duration, &set.Waveform, &set.Pictures}) {
        if (!parser.isSet(*option))
            continue;
        if (!options.Headless) {
            error = OptionName(*option) + " works only with --headless.";
            return false;
        }
        if (parser.value(*option).isEmpty()) {
            error = OptionName(*option) + " wants " + (option == &set.Duration ? "a number of seconds." : "a path.");
            return false;
        }
    }
    if (parser.isSet(set.Duration)) {
        bool ok = false;
        const QString text = parser.value(set.Duration);
        options.DurationSeconds = text.toDouble(&ok);
        // NaN fails both comparisons.
        if (!ok || !(options.DurationSeconds == 0 ||
                     (options.DurationSeconds >= MinDurationSeconds && options.DurationSeconds <= MaxDurationSeconds))) {
            error = QStringLiteral("--duration wants 0 (no end) or a number of seconds from %1 to %2, not '%3'.")
                        .arg(MinDurationSeconds)
                        .arg(static_cast<long long>(MaxDurationSeconds))
                        .arg(text);
            return false;
        }
    }
    if (parser.isSet(set.Statistics)) {
        options.StatisticsFile = parser.value(set.Statistics);
        if (options.StatisticsFile.isEmpty()) {
            error = "--statistics wants the path of a Measurements.csv.";
            return false;
        }
        if (options.Headless || options.Run) {
            error = "--statistics reads a file and measures nothing: it goes without --headless and --run.";
            return false;
        }
    }
    options.WaveformFile = parser.value(set.Waveform);
    options.PictureFolder = parser.value(set.Pictures);
    for (const QCommandLineOption *option : {&set.Instrument, &set.MqttCredentials})
        if (parser.isSet(*option) && !parser.isSet(set.Mqtt)) {
            error = OptionName(*option) + " works only with --mqtt.";
            return false;
        }
    if (parser.isSet(set.Mqtt)) {
        QString address, hostPort;
        options.MqttUrl = parser.value(set.Mqtt);
        if (!TMqttClient::ParseUrl(options.MqttUrl, address, hostPort, error)) {
            error = "--mqtt: " + error + '.';
            return false;
        }
    }
    options.Instrument = parser.value(set.Instrument);
    if (parser.isSet(set.Instrument) && !Publishing::ValidInstrument(options.Instrument)) {
        error = QStringLiteral("--instrument wants letters, digits, '-' and '_' only (at most %1), not '%2'.")
                    .arg(Publishing::MaxInstrumentLength)
                    .arg(options.Instrument);
        return false;
    }
    options.MqttCredentials = parser.value(set.MqttCredentials);
    if (parser.isSet(set.MqttCredentials) && options.MqttCredentials.isEmpty()) {
        error = "--mqtt-credentials wants a path.";
        return false;
    }
    return true;
}

QString HelpText()
{
    const TOptionSet set;
    QString text = QStringLiteral(
        "Usage: %1 [--device DEVICE] [--documents] [--run | --headless [--duration SECONDS]\n"
        "       [--reconnect] [--waveform FILE] [--pictures FOLDER]]\n"
        "       [--mqtt URL [--instrument NAME] [--mqtt-credentials FILE]]\n"
        "       %1 --statistics FILE\n"
        "\n"
        "Zarn Monitor talks to a time-of-flight instrument on an RS232 line (115200 baud, 8N1), measures\n"
        "time of flight continuously and logs it. Without --headless it opens its window.\n"
        "\n"
        "Options:\n")
                       .arg(QLatin1String(ProgramName));
    constexpr int Column = 22;
    for (const QCommandLineOption &option : set.All()) {
        QStringList names;
        for (const QString &name : option.names())
            names << (name.size() == 1 ? "-" : "--") + name;
        QString left = "  " + names.join(", ");
        if (!option.valueName().isEmpty())
            left += ' ' + option.valueName();
        text += left.size() < Column ? left.leftJustified(Column) : left + '\n' + QString(Column, ' ');
        // Descriptions are wrapped at word boundaries to keep within 100 columns.
        QString line;
        for (const QString &word : option.description().split(' ')) {
            if (!line.isEmpty() && Column + line.size() + 1 + word.size() > 100) {
                text += line + '\n' + QString(Column, ' ');
                line.clear();
            }
            line += (line.isEmpty() ? "" : " ") + word;
        }
        text += line + '\n';
    }
    text += QStringLiteral(
                "\n"
                "Exit status: %1 the run completed (also when ended by Ctrl+C, SIGTERM or SIGHUP); %2 the device\n"
                "does not exist or cannot be opened; %3 the command line is wrong, or --statistics names a file\n"
                "that is not a Measurements.csv; %4 a file or folder cannot be written; %5 the run did not\n"
                "complete (the line went away, no report or no waveform arrived).\n")
                .arg(ExitDone)
                .arg(ExitNoPort)
                .arg(ExitUsage)
                .arg(ExitCannotWrite)
                .arg(ExitIncomplete);
    return text;
}

int WriteStatistics(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        PrintError("cannot read " + fileName + ": " + file.errorString());
        return ExitUsage;
    }
    // Nothing goes out unless the whole file is one: half a table would pass for a whole one.
    QByteArray rows = StatisticsLog::Header() + '\n';
    QString error;
    if (!StatisticsLog::FromMeasurements(file, [&rows](const QByteArray &row) { rows += row + '\n'; }, error)) {
        PrintError(fileName + " is not a Measurements.csv: " + error);
        return ExitUsage;
    }
    std::fwrite(rows.constData(), 1, size_t(rows.size()), stdout);
    std::fflush(stdout);
    return ExitDone;
}

QString VersionText()
{
    return QStringLiteral("Zarn Monitor " ZARN_VERSION);
}

bool CanWriteIn(const QString &folder, QString &error)
{
    const QString path = QDir(folder).absolutePath();
    const QFileInfo info(path);
    if (!info.isDir()) {
        error = info.exists() ? "not a folder: " + path : "no such folder: " + path;
        return false;
    }
    // Permissions alone do not tell (root ignores them, a read-only mount does not show in them).
    QTemporaryFile probe(path + "/.zarnmonitor-XXXXXX");
    if (!probe.open()) {
        error = "cannot write in " + path + ": " + probe.errorString();
        return false;
    }
    return true;
}

bool MakeFolder(const QString &folder, QString &error)
{
    const QString path = QDir(folder).absolutePath();
    if (QDir().mkpath(path) && QFileInfo(path).isDir())
        return true;
    // Why not: the nearest thing on the way that is there (a symbolic link that leads nowhere
    // counts), and the folder below it that could not be made.
    QFileInfo there(path);
    QString missing;
    while (!there.exists() && !there.isSymLink() && !there.isRoot()) {
        missing = there.absoluteFilePath();
        there.setFile(there.absolutePath());
    }
    if (!there.isDir()) {
        error = there.absoluteFilePath() + " is not a folder";
        return false;
    }
    errno = 0;
    const bool made = !missing.isEmpty() && QDir().mkdir(missing);
    const int reason = errno;
    error = (missing.isEmpty() ? path : missing) + ": " +
            (made || reason == 0 ? QStringLiteral("cannot be made") : QString::fromLocal8Bit(std::strerror(reason)));
    return false;
}

void PrintError(const QString &line)
{
    std::fprintf(stderr, "%s: %s\n", ProgramName, line.toLocal8Bit().constData());
    std::fflush(stderr);
}


bool CheckOutputs(const TOptions &options, QString &error)
{
    if (!CanWriteIn(QString(), error))
        return false;
    if (!options.WaveformFile.isEmpty()) {
        const QFileInfo file(options.WaveformFile);
        if (file.isDir()) {
            error = "--waveform names a folder: " + file.absoluteFilePath();
            return false;
        }
        // A device, a FIFO or a socket there is refused now, before anything is measured.
        const SafeFile::TTarget target = SafeFile::Resolve(file.absoluteFilePath());
        if (!target.Writable()) {
            error = target.Refusal();
            return false;
        }
        if (!CanWriteIn(QFileInfo(target.Final).absolutePath(), error))
            return false;
    }
    if (!options.PictureFolder.isEmpty()) {
        // The folder is made when the pictures are written; here the nearest folder that exists
        // must take it.
        QFileInfo folder(QDir(options.PictureFolder).absolutePath());
        while (!folder.exists() && !folder.isRoot())
            folder.setFile(folder.absolutePath());
        if (!folder.isDir()) {
            error = "--pictures cannot be made inside " + folder.absoluteFilePath() + ": not a folder";
            return false;
        }
        if (!CanWriteIn(folder.absoluteFilePath(), error))
            return false;
    }
    return true;
}

} // namespace CommandLine
