// zarnsim: the simulated instrument on a pseudo-terminal. Prints the terminal's device as the
// first line on stdout (the launcher reads it and points COM1 there), then serves until SIGTERM
// or SIGINT, or until the line vanishes when asked to.

#include "sim/SimInstrument.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <ctime>

namespace {

constexpr int UsageError = 2;
constexpr int MaxReplyDelayMs = 60000;
constexpr int MaxLateMs = 60000;
constexpr long WatchIntervalNs = 100 * 1000 * 1000;

bool ReadProbability(const QCommandLineParser &parser, const QString &name, double &value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    value = parser.value(name).toDouble(&ok);
    return ok && value >= 0.0 && value <= 1.0;
}

bool ReadCount(const QCommandLineParser &parser, const QString &name, int low, int high, int &value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    value = parser.value(name).toInt(&ok);
    return ok && value >= low && value <= high;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zarnsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated Zarn time-of-flight instrument on a pseudo-terminal.\n"
        "Prints the terminal's device path as the first line, then answers the instrument's\n"
        "commands on it, paced like a 115200 baud line, until SIGTERM or SIGINT."));
    parser.addHelpOption();
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed of the repeatable model (default 1)."),
                                  QStringLiteral("N"));
    const QCommandLineOption garble(QStringLiteral("garble"),
                                    QStringLiteral("Probability that a field of a report or sample line is garbled."),
                                    QStringLiteral("P"));
    const QCommandLineOption split(QStringLiteral("split"),
                                   QStringLiteral("Send replies in random small chunks with short gaps."));
    const QCommandLineOption drop(QStringLiteral("drop"), QStringLiteral("Probability that a command gets no reply."),
                                  QStringLiteral("P"));
    const QCommandLineOption noise(QStringLiteral("noise"),
                                   QStringLiteral("Probability of random bytes after a reply."), QStringLiteral("P"));
    const QCommandLineOption vanish(QStringLiteral("vanish-after"),
                                    QStringLiteral("Close the terminal after N commands and exit."), QStringLiteral("N"));
    const QCommandLineOption baud(QStringLiteral("baud"),
                                  QStringLiteral("Pace output like this baud rate, 8N1 (default 115200; 0 = unpaced)."),
                                  QStringLiteral("RATE"));
    const QCommandLineOption samples(QStringLiteral("samples"),
                                     QStringLiteral("Sample lines in a waveform block (default 1568)."),
                                     QStringLiteral("N"));
    const QCommandLineOption replyDelay(QStringLiteral("reply-delay"),
                                        QStringLiteral("The instrument's own time before each reply, in milliseconds "
                                                       "(default 0)."),
                                        QStringLiteral("MS"));
    const QCommandLineOption late(QStringLiteral("late"),
                                  QStringLiteral("Probability that a report (\"z\", \"x\") is held back by --late-ms; "
                                                 "the output after it waits too, so the line stays in order."),
                                  QStringLiteral("P"));
    const QCommandLineOption lateMs(QStringLiteral("late-ms"),
                                    QStringLiteral("How long a late report is held back, in milliseconds (default 60, "
                                                   "beyond the program's 41 ms wait)."),
                                    QStringLiteral("MS"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("Append every byte to FILE as it is handed to the line (a test's record)."),
                                    QStringLiteral("FILE"));
    parser.addOptions({seed, garble, split, drop, noise, vanish, baud, samples, replyDelay, late, lateMs, record});
    parser.process(app);

    TSimOptions options;
    if (parser.isSet(seed)) {
        bool ok = false;
        options.Seed = parser.value(seed).toUInt(&ok);
        if (!ok) {
            std::fprintf(stderr, "zarnsim: --seed wants a whole number from 0 to 4294967295\n");
            return UsageError;
        }
    }
    if (!ReadProbability(parser, garble.names().first(), options.Garble)
        || !ReadProbability(parser, drop.names().first(), options.Drop)
        || !ReadProbability(parser, noise.names().first(), options.Noise)
        || !ReadProbability(parser, late.names().first(), options.Late)) {
        std::fprintf(stderr, "zarnsim: --garble, --drop, --noise and --late want a probability from 0 to 1\n");
        return UsageError;
    }
    if (!ReadCount(parser, vanish.names().first(), 1, 1000000000, options.VanishAfter)
        || !ReadCount(parser, baud.names().first(), 0, 100000000, options.BaudRate)
        || !ReadCount(parser, samples.names().first(), 1, 1000000, options.Samples)) {
        std::fprintf(stderr, "zarnsim: --vanish-after, --baud and --samples want a whole number in range\n");
        return UsageError;
    }
    if (parser.isSet(replyDelay)) {
        bool ok = false;
        const double ms = parser.value(replyDelay).toDouble(&ok);
        if (!ok || !(ms >= 0.0 && ms <= MaxReplyDelayMs)) {
            std::fprintf(stderr, "zarnsim: --reply-delay wants milliseconds from 0 to %d\n", MaxReplyDelayMs);
            return UsageError;
        }
        options.ReplyDelayUs = static_cast<int>(ms * 1000.0 + 0.5);
    }
    if (parser.isSet(lateMs)) {
        bool ok = false;
        const double ms = parser.value(lateMs).toDouble(&ok);
        if (!ok || !(ms >= 0.0 && ms <= MaxLateMs)) {
            std::fprintf(stderr, "zarnsim: --late-ms wants milliseconds from 0 to %d\n", MaxLateMs);
            return UsageError;
        }
        options.LateUs = static_cast<int>(ms * 1000.0 + 0.5);
    }
    options.Split = parser.isSet(split);
    options.RecordFile = parser.value(record);

    // The launcher stops reading stdout after the first line: later writes there must not kill us.
    std::signal(SIGPIPE, SIG_IGN);
    // Taken synchronously below; blocked before the worker starts so that it inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TSimInstrument instrument(options);
    QString error;
    if (!instrument.Start(&error)) {
        std::fprintf(stderr, "zarnsim: cannot open a pseudo-terminal: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::printf("%s\n", instrument.SlavePath().toLocal8Bit().constData());
    std::fflush(stdout);
    std::fprintf(stderr, "zarnsim: instrument on %s (seed %u)\n", instrument.SlavePath().toLocal8Bit().constData(),
                 options.Seed);

    const timespec interval{0, WatchIntervalNs};
    for (;;) {
        int signal = sigtimedwait(&stopSignals, nullptr, &interval);
        if (signal > 0)
            break;
        if (!instrument.IsServing()) {
            if (instrument.HasVanished())
                std::fprintf(stderr, "zarnsim: line closed after %d commands\n", instrument.CommandCount());
            break;
        }
    }
    instrument.Stop();
    // Its own record of the faults, to set beside what a reader counted.
    const TSimTally tally = instrument.Tally();
    std::fprintf(stderr,
                 "zarnsim: %lld commands, %lld reports asked, %lld dropped, %lld late, %lld garbled, %lld noise bytes\n",
                 tally.Commands, tally.Asks, tally.Dropped, tally.Late, tally.Garbled, tally.NoiseBytes);
    return 0;
}
