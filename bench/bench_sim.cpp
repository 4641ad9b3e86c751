// The simulator's pacing on a pseudo-terminal, against what a 115200 baud 8N1 line carries
// (11520 bytes a second).
//
// 1. A long stream of waveform blocks, and one of mean reports, each over 100 KB, with the next
//    commands sent while earlier replies are still on their way so the line never idles: prints
//    the bytes a second a reader saw from its first to its last byte, and the ratio to the line.
// 2. One waveform block on an idle line, read as it arrives: how many sample lines a reader
//    holds at given times after the "s", among them the end of the program's acquisition wait.

#include "sim/SimInstrument.h"
#include "sim/SimRecords.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr double LineBytesPerSecond = 11520.0;
constexpr int StreamBlocks = 7;          // 7 x 17259 bytes
constexpr int StreamReports = 1300;      // 1300 x 81 bytes
constexpr int OutstandingLimit = 20000;  // below the simulator's busy limit, so no command is refused
constexpr int BoundMs = 120000;
constexpr int BlockBytes = SimRecords::WaveHeaderLength + 1568 * SimRecords::SampleLineLength;
constexpr int ReportBytes = SimRecords::MeanLength + 2;

class TReader {
public:
    explicit TReader(const QString &path)
    {
        FFd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    ~TReader()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    bool IsOpen() const { return FFd >= 0; }
    bool Write(const QByteArray &bytes) { return ::write(FFd, bytes.constData(), bytes.size()) == bytes.size(); }

    // Waits up to waitMs for bytes and returns how many were read.
    int Read(int waitMs)
    {
        pollfd p{FFd, POLLIN, 0};
        ::poll(&p, 1, waitMs);
        int total = 0;
        char buffer[4096];
        for (;;) {
            ssize_t n = ::read(FFd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            total += static_cast<int>(n);
        }
        return total;
    }

private:
    int FFd = -1;
};

struct TStreamResult {
    qint64 Bytes = 0;
    qint64 Expected = 0;
    double Seconds = 0.0;
    double BytesPerSecond = 0.0;
};

// Sends `replies` commands, each answered by `replyBytes`, keeping the line busy, and measures
// from the first byte read to the last.
TStreamResult Stream(char command, int replies, int replyBytes)
{
    TStreamResult result;
    result.Expected = qint64(replies) * replyBytes;
    TSimOptions options;
    TSimInstrument instrument(options);
    if (!instrument.Start())
        return result;
    TReader reader(instrument.SlavePath());
    if (!reader.IsOpen())
        return result;

    QElapsedTimer clock;
    clock.start();
    QDeadlineTimer bound(BoundMs);
    int sent = 0;
    qint64 firstBytes = 0, received = 0, firstNs = -1, lastNs = 0;
    while (received < result.Expected && !bound.hasExpired()) {
        QByteArray commands;
        while (sent < replies && qint64(sent) * replyBytes - received + replyBytes <= OutstandingLimit) {
            commands += command;
            ++sent;
        }
        if (!commands.isEmpty())
            reader.Write(commands);
        const int n = reader.Read(5);
        if (n > 0) {
            const qint64 now = clock.nsecsElapsed();
            if (firstNs < 0) {
                firstNs = now;
                firstBytes = n;
            }
            lastNs = now;
            received += n;
        }
    }
    result.Bytes = received;
    result.Seconds = (lastNs - firstNs) / 1e9;
    // The first read's bytes were on the line before the clock started counting.
    result.BytesPerSecond = result.Seconds > 0 ? (received - firstBytes) / result.Seconds : 0.0;
    return result;
}

void Report(const char *what, const TStreamResult &r)
{
    std::printf("%-22s %7lld of %7lld bytes in %7.3f s: %8.1f bytes/s, ratio to the line %.4f (%+.2f %%)\n", what,
                r.Bytes, r.Expected, r.Seconds, r.BytesPerSecond, r.BytesPerSecond / LineBytesPerSecond,
                (r.BytesPerSecond / LineBytesPerSecond - 1.0) * 100.0);
}

// Bytes read by each millisecond after the command, for one block on an idle line.
QList<qint64> BlockArrival(qint64 *totalNs)
{
    QList<qint64> byMs;
    TSimOptions options;
    TSimInstrument instrument(options);
    if (!instrument.Start())
        return byMs;
    TReader reader(instrument.SlavePath());
    if (!reader.IsOpen())
        return byMs;
    QElapsedTimer clock;
    clock.start();
    reader.Write("s");
    QDeadlineTimer bound(BoundMs);
    qint64 received = 0;
    while (received < BlockBytes && !bound.hasExpired()) {
        const int n = reader.Read(1);
        const qint64 ms = clock.elapsed();
        while (byMs.size() <= ms)
            byMs += received;
        received += n;
        byMs.last() = received;
        if (received >= BlockBytes)
            *totalNs = clock.nsecsElapsed();
    }
    return byMs;
}

int LinesBy(const QList<qint64> &byMs, int ms)
{
    const qint64 bytes = byMs.isEmpty() ? 0 : byMs[std::min<int>(ms, byMs.size() - 1)];
    return static_cast<int>(std::max<qint64>(0, bytes - SimRecords::WaveHeaderLength) / SimRecords::SampleLineLength);
}

} // namespace

int main()
{
    std::printf("Simulator pacing at 115200 baud 8N1; the line carries %.0f bytes/s\n", LineBytesPerSecond);
    Report("waveform blocks", Stream('s', StreamBlocks, BlockBytes));
    Report("mean reports", Stream('z', StreamReports, ReportBytes));

    qint64 blockNs = 0;
    const QList<qint64> byMs = BlockArrival(&blockNs);
    std::printf("\nOne waveform block, %d bytes (1568 sample lines), on an idle line: all read after %.3f s "
                "(the line needs %.3f s)\n",
                BlockBytes, blockNs / 1e9, BlockBytes / LineBytesPerSecond);
    // The program's acquisition wait is 101 polls of 5 ms, plus event processing between them.
    for (int ms : {100, 250, 505, 550, 600, 700, 1000, 1250, 1500}) {
        std::printf("  after %4d ms: %4d sample lines read\n", ms, LinesBy(byMs, ms));
    }
    // The program stores 1080 pairs, and needs a little more than 1080 lines to have come.
    int ms1080 = 0;
    while (ms1080 < byMs.size() && LinesBy(byMs, ms1080) < 1081)
        ++ms1080;
    std::printf("  1081 lines (enough for the 1080 pairs the program stores) after %d ms\n", ms1080);
    return 0;
}
