// The timings the tests leave out, as figures (the tests check the bytes; how soon they come and
// what the waiting costs is measured here):
//
// 1. The simulator with no reader on its line: turns of its worker a second (it should wait, not spin).
// 2. A reply delay of 150 ms set: how long after the command the reply has come whole.
// 3. Reports held back by 60 ms: how long after the command each held report has come.
// 4. A serial component whose device has gone (the pseudo-terminal's other end closed): the
//    process's CPU time against the wall clock while the event loop runs on.

#include "comm/Comm.h"
#include "sim/SimInstrument.h"
#include "tests/common/PtyPair.h"
#include "Median.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int BoundMs = 20000;

// The program's end of the simulator's line.
class TLine {
public:
    explicit TLine(const QString &path) { FFd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK); }
    ~TLine()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    bool IsOpen() const { return FFd >= 0; }
    bool Write(const QByteArray &bytes) { return ::write(FFd, bytes.constData(), bytes.size()) == bytes.size(); }
    // Reads until the text holds `count` line ends, or the bound passes.
    QByteArray ReadLines(int count)
    {
        QByteArray got;
        QDeadlineTimer deadline(BoundMs);
        while (got.count("\r\n") < count && !deadline.hasExpired()) {
            pollfd p{FFd, POLLIN, 0};
            ::poll(&p, 1, 5);
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(FFd, buffer, sizeof buffer)) > 0)
                got.append(buffer, int(n));
        }
        return got;
    }

private:
    int FFd = -1;
};

TSimOptions Seeded(quint32 seed)
{
    TSimOptions options;
    options.Seed = seed;
    return options;
}

void IdleWorker()
{
    TSimInstrument instrument(Seeded(11));
    if (!instrument.Start())
        return;
    {
        TLine line(instrument.SlavePath());
        line.Write("z");
        line.ReadLines(1);
    }
    QDeadlineTimer bound(BoundMs);
    while (instrument.HangupCount() == 0 && !bound.hasExpired())
        QThread::msleep(5);
    const qint64 before = instrument.LoopCount();
    QElapsedTimer clock;
    clock.start();
    QThread::msleep(1000);
    const double turns = double(instrument.LoopCount() - before) * 1000.0 / double(clock.elapsed());
    std::printf("simulator, no reader:            %.1f turns of its worker a second\n", turns);
}

// Median time from the command to the reply whole, over `samples` commands.
double ReplyMs(const TSimOptions &options, int samples, int *held)
{
    TSimInstrument instrument(options);
    if (!instrument.Start())
        return -1;
    TLine line(instrument.SlavePath());
    TSimProtocol reference(options);
    std::vector<double> times;
    for (int i = 0; i < samples; ++i) {
        reference.Answer('a');
        const bool late = reference.Answer('z').first().HoldUs > 0;
        QElapsedTimer clock;
        clock.start();
        line.Write("az");
        line.ReadLines(1);
        if (late || !held)
            times.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (late && held)
            ++*held;
    }
    return times.empty() ? -1 : MedianOf(times);
}

void ReplyDelays()
{
    TSimOptions delayed = Seeded(6);
    delayed.ReplyDelayUs = 150000;
    std::printf("reply delay 150 ms set:          reply whole after %.1f ms (median of 10)\n",
                ReplyMs(delayed, 10, nullptr));
    TSimOptions late = Seeded(5);
    late.Late = 0.5;
    late.LateUs = 60000;
    int held = 0;
    const double ms = ReplyMs(late, 40, &held);
    std::printf("reports held 60 ms:              held report whole after %.1f ms (median of %d)\n", ms, held);
}

void LostDeviceCpu()
{
    TPtyPair pty;
    if (!pty.IsValid())
        return;
    qputenv("ZARN_COM1", pty.SlavePath().toLocal8Bit());
    TComm comm;
    comm.SetBaudRate(115200);
    comm.SetRThreshold(1);
    int errors = 0;
    comm.OnReceiveError.Bind([&errors](QObject *, uint32_t) { ++errors; });
    comm.SetPortOpen(true);
    pty.CloseMaster();
    QDeadlineTimer bound(BoundMs);
    while (errors == 0 && !bound.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const std::clock_t cpuBefore = std::clock();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpuMs = 1000.0 * double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    std::printf("serial component, device gone:   %.4f of a core (%.1f ms CPU in %lld ms), %d error event(s)\n",
                cpuMs / double(wall.elapsed()), cpuMs, wall.elapsed(), errors);
    qunsetenv("ZARN_COM1");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    IdleWorker();
    ReplyDelays();
    LostDeviceCpu();
    return 0;
}
