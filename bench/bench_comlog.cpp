// The communication log as the operator watches it, on the Log page: the CPU one 81-byte chunk
// costs with the log at 10 and at 39,999 lines (painting included: chunks come at the line's
// pace, one every 7 ms, and the CPU of the whole run is shared out over them), the share of a
// core that random text at 115200 baud takes, and the memory of a full log, of a log after a
// clear and of a log that NUL bytes or one endless line fill. Each figure is the median of 5 runs,
// beside the same work done by a plain text view as the log was before (the reference; its NUL
// figure is measured on a tenth of the log and scaled, since the whole would take hundreds of MB).

#include "app/ComLogText.h"
#include "app/Memo.h"
#include "app/Unitmain.h"
#include "ProcessMemory.h"
#include "platform/Platform.h"
#include "tests/common/MemoryWindow.h"

#include "Median.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

constexpr int Runs = 5;
constexpr int Chunks = 100;         // per timed run
constexpr int ChunkInterval = 7;    // ms: 81 bytes at 115200 baud
constexpr int RandomInterval = 4;   // ms between chunks of random text...
constexpr int RandomChunk = 46;     // ...of this many bytes: 11.5 KB/s, the line's rate
constexpr int RandomMs = 2000;      // per run
const QByteArray Report = "TMEAN   64  PEAK= 600   SNR= 40  GAIN=12   DELAY=288  M1=0016E360 M2=FFE91CA0\r\n";

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Context switches of all the program's threads so far.
double Switches()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_nvcsw + usage.ru_nivcsw);
}

double RestingMB()
{
    QApplication::processEvents();
    Platform::ReturnFreedMemory();
    return StatusMB("VmRSS:");
}

void ResetPeak()
{
    QFile refs("/proc/self/clear_refs");
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

// Lets the event loop run for `ms`, so that what is due (a frame) is painted.
void Settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct TPaced {
    double CpuPerChunk; // s
    double CoreShare;   // CPU s per wall s
    double Switches;    // context switches per wall s
};

// Calls `feed` `count` times, every `interval` ms as a line delivers chunks, and settles the
// last frame; the CPU of all of it is what the chunks cost.
TPaced Paced(int count, int interval, const std::function<void()> &feed)
{
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    int done = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        feed();
        if (++done == count)
            loop.quit();
    });
    const double cpu = CpuSeconds();
    const double switches = Switches();
    QElapsedTimer wall;
    wall.start();
    timer.start(interval);
    loop.exec();
    timer.stop();
    Settle(40);
    const double used = CpuSeconds() - cpu;
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    return {used / count, used / seconds, (Switches() - switches) / seconds};
}

// The log as it was: a plain text view appended with every chunk, following the end.
class TOldLog {
public:
    TOldLog()
    {
        View.setReadOnly(true);
        View.setLineWrapMode(QPlainTextEdit::NoWrap);
        View.setUndoRedoEnabled(false);
        View.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        View.resize(360, 420);
    }
    void Receive(const QByteArray &chunk)
    {
        if (View.document()->blockCount() >= TMemo::LineLimit)
            Clear();
        QTextCursor end(View.document());
        end.movePosition(QTextCursor::End);
        end.insertText(Format.Format(chunk));
        View.verticalScrollBar()->setValue(View.verticalScrollBar()->maximum());
    }
    void Clear()
    {
        View.clear();
        Format.Reset();
    }
    int Lines() const { return View.document()->blockCount(); }

    QPlainTextEdit View;
    TComLogText Format;
};

// The log as it is, alone: the same formatting in front of the memo.
class TNewLog {
public:
    TNewLog() { View.resize(360, 420); }
    void Receive(const QByteArray &chunk)
    {
        if (View.Full())
            Clear();
        View.AppendText(Format.Format(chunk));
    }
    void Clear()
    {
        View.clear();
        Format.Reset();
    }

    TMemo View;
    TComLogText Format;
};

template <typename TLog> void FillReports(TLog &log, int lines)
{
    log.Clear();
    QByteArray hundred;
    for (int i = 0; i < 100; ++i)
        hundred += Report;
    for (int i = 0; i < lines / 100; ++i)
        log.Receive(hundred);
    for (int i = 0; i < lines % 100; ++i)
        log.Receive(Report);
}

QByteArray RandomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

double MedianOfRuns(const std::function<double()> &run)
{
    std::vector<double> values;
    for (int i = 0; i < Runs; ++i)
        values.push_back(run());
    return MedianOf(values);
}

void Row(const char *what, double now, double before, const char *unit, double target)
{
    std::printf("  %-44s %8.3f %s   plain text view %8.3f %s   ratio %.2f   (target %.3g %s)\n", what, now, unit,
                before, unit, now / before, target, unit);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TMemoryWindow window;
    TFormMain &form = *window.Form;
    TMemoryLine &line = window.Line;
    const auto receive = [&](const QByteArray &chunk) {
        line.Incoming = chunk;
        while (!line.Incoming.isEmpty())
            form.FEngine->Comm()->ProcTimer(nullptr);
    };
    std::printf("communication log on the Log page (medians of %d runs):\n", Runs);

    // Memory first, before timing runs leave their own garbage behind ("cpu" as the argument
    // leaves it out).
    const bool memory = !(argc > 1 && qstrcmp(argv[1], "cpu") == 0);
    const bool cpu = !(argc > 1 && qstrcmp(argv[1], "memory") == 0);
    const double idle = RestingMB();
    const auto fillForm = [&] {
        form.MemoDblClick(form.MemoComLog);
        QByteArray hundred;
        for (int i = 0; i < 100; ++i)
            hundred += Report;
        for (int i = 0; i < TMemo::LineLimit / 100; ++i)
            receive(hundred);
    };
    form.resize(907, 669);
    form.show();
    form.mmCommunicationClick();
    Settle(50);
    if (memory) {
    const double formIdle = RestingMB();
    fillForm();
    Settle(50);
    const double full = StatusMB("VmRSS:") - formIdle;
    form.MemoDblClick(form.MemoComLog);
    const double cleared = RestingMB() - formIdle;
    // NUL bytes (5 characters each, lines of 1024) and one endless line of text, through two
    // emptyings of the log: the peak above the empty log.
    const auto flood = [&](char fill) {
        form.MemoDblClick(form.MemoComLog);
        const double base = RestingMB();
        ResetPeak();
        const QByteArray chunk(4096, fill);
        int emptied = 0;
        int before = 0;
        for (int i = 0; emptied < 2 && i < 100000; ++i) {
            receive(chunk);
            if (form.MemoComLog->LineCount() < before)
                ++emptied;
            before = form.MemoComLog->LineCount();
            if (i % 64 == 0)
                QApplication::processEvents();
        }
        return StatusMB("VmHWM:") - base;
    };
    const double nulPeak = flood('\0');
    const double linePeak = flood('x');
    form.MemoDblClick(form.MemoComLog);
    form.hide();

    // The same through a plain text view, for the ratio.
    double oldFull = 0, oldCleared = 0, oldNul = 0;
    {
        const double base = RestingMB();
        TOldLog old;
        old.View.show();
        FillReports(old, TMemo::LineLimit - 1);
        Settle(50);
        oldFull = StatusMB("VmRSS:") - base;
        old.Clear();
        oldCleared = RestingMB() - base;
        old.Clear();
        const double nulBase = RestingMB();
        const QByteArray nul(4096, '\0');
        while (old.Lines() < TMemo::LineLimit / 10)
            old.Receive(nul);
        Settle(50);
        oldNul = (StatusMB("VmRSS:") - nulBase) * 10;
    }
    std::printf(" memory (MB above the window at rest, %.1f MB resident):\n", idle);
    Row("full log, 40,000 report lines", full, oldFull, "MB", 10);
    Row("after a clear", cleared, oldCleared, "MB", 0);
    Row("peak, NUL bytes (reference: 4,000 lines x 10)", nulPeak, oldNul, "MB", 20);
    Row("peak, one endless line", linePeak, oldNul, "MB", 20);
    }
    if (!cpu)
        return 0;
    const double loop = MedianOfRuns([&] { return Paced(Chunks, ChunkInterval, [] {}).CpuPerChunk * 1e3; });
    std::printf(" the event loop alone, waking every %d ms: %.3f ms CPU per wake-up\n", ChunkInterval, loop);

    // CPU per 81-byte chunk, at the line's pace, painting included.
    std::printf(" one 81-byte chunk, one every %d ms, CPU per chunk with painting:\n", ChunkInterval);
    form.show();
    form.mmCommunicationClick();
    Settle(50);
    TOldLog old;
    old.View.show();
    TNewLog alone;
    alone.View.show();
    Settle(50);
    for (const int lines : {10, TMemo::LineLimit - 1}) {
        const int start = lines - (lines > Chunks ? Chunks : 0);
        const double window = MedianOfRuns([&] {
            form.MemoDblClick(form.MemoComLog);
            QByteArray hundred;
            for (int i = 0; i < 100; ++i)
                hundred += Report;
            for (int i = 0; i < start / 100; ++i)
                receive(hundred);
            for (int i = 0; i < start % 100; ++i)
                receive(Report);
            Settle(20);
            return Paced(Chunks, ChunkInterval, [&] { receive(Report); }).CpuPerChunk * 1e3;
        });
        const auto run = [&](auto &log) {
            return MedianOfRuns([&] {
                FillReports(log, start);
                Settle(20);
                return Paced(Chunks, ChunkInterval, [&] { log.Receive(Report); }).CpuPerChunk * 1e3;
            });
        };
        const double memo = run(alone);
        const double plain = run(old);
        std::printf("  log at %5d lines: window's receive path %.3f ms, %.3f ms beyond the wake-up (target 0.3 ms)\n",
                    lines, window, window - loop);
        Row("  the log alone", memo, plain, "ms", 0.3);
    }
    old.Clear();
    alone.Clear();

    // Random bytes at the line's rate.
    std::printf(" random bytes at 115200 baud, %d-byte chunks every %d ms, share of one core:\n", RandomChunk,
                RandomInterval);
    const int count = RandomMs / RandomInterval;
    double windowSwitches = 0;
    const double windowShare = MedianOfRuns([&] {
        form.MemoDblClick(form.MemoComLog);
        const TPaced paced = Paced(count, RandomInterval, [&] { receive(RandomBytes(RandomChunk)); });
        windowSwitches += paced.Switches / Runs;
        return paced.CoreShare * 100;
    });
    const auto share = [&](auto &log) {
        return MedianOfRuns([&] {
            log.Clear();
            return Paced(count, RandomInterval, [&] { log.Receive(RandomBytes(RandomChunk)); }).CoreShare * 100;
        });
    };
    const double memoShare = share(alone);
    const double plainShare = share(old);
    std::printf("  window's receive path: %.1f %% of a core (target 4 %%), %.0f context switches a second\n",
                windowShare, windowSwitches);
    Row("the log alone", memoShare, plainShare, "%", 4);
    return 0;
}
