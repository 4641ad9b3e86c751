// The Run cycle of the main window against the simulated instrument paced at 115200 baud, with
// the window shown on its Main page: a Run of at least 1000 cycles, then
// - the cycles per second it achieved,
// - the limit the line allows for the bytes actually exchanged (commands out, reports in, 10 bits
//   a byte) plus the instrument's own reply delay per report, and the ratio of the two
//   (target at least 0.96),
// - the CPU time of the program's thread per second of Run (target at most 0.04 s).
// Once with no reply delay (the line sets the limit) and once with 3 ms (the instrument does).
// Then the same Run with the Statistics page shown instead, its last N at 100,000 (the most).
// Then Acquire on the Waveform page: the time from the click until the block is drawn, against the
// time the block needs on the line (target at most 1.1), and from the block's last chunk taken
// until the block is drawn and listed (target at most 0.15 s).
// The bench watches the Run from the window's receive signal, so that it adds no timer of its own
// to the thread it measures.

#include "app/StatisticsView.h"
#include "app/Unitmain.h"
#include "sim/SimInstrument.h"
#include "tests/common/InLoop.h"
#include "tests/common/MessageCapture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstdio>
#include <ctime>

namespace {

constexpr int Cycles = 1000;
constexpr double BitsPerByte = 10.0;
constexpr double BaudRate = 115200.0;
constexpr double RateTarget = 0.96;    // of the line's limit, at least
constexpr double CpuTarget = 0.04;     // s per second of Run, at most
constexpr double AcquireTarget = 0.15; // s from the block's last chunk to drawn, at most

double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Starts the instrument; COM1 of the windows made afterwards is its line.
bool StartInstrument(TSimInstrument &instrument)
{
    QString error;
    if (!instrument.Start(&error)) {
        std::printf("cannot start the simulator: %s\n", qPrintable(error));
        return false;
    }
    qputenv("ZARN_COM1", instrument.SlavePath().toLocal8Bit());
    return true;
}

void MeasureRun(int replyDelayUs, bool statistics = false)
{
    TSimOptions options;
    options.ReplyDelayUs = replyDelayUs;
    TSimInstrument instrument(options);
    if (!StartInstrument(instrument))
        return;
    TMessageCapture messages;
    TFormMain form;
    form.show();
    if (statistics) {
        form.mmStatisticsClick();
        form.TS_Statistics->SE_Window->setValue(TWindowStatistics::MaxSize);
        std::printf(" Statistics page shown, last N %d:\n", form.TS_Statistics->WindowSize());
    }
    QApplication::processEvents();

    QElapsedTimer wall;
    double cpuStart = 0, seconds = 0, cpu = 0;
    int commands = 0;
    qint64 bytesIn = 0;
    bool stopped = false;
    QObject::connect(&form, &TFormMain::ReceiveHandled, &form, [&] {
        if (stopped || instrument.CommandCount() < 2 * Cycles)
            return;
        stopped = true;
        seconds = wall.nsecsElapsed() / 1e9;
        cpu = ThreadCpuSeconds() - cpuStart;
        commands = instrument.CommandCount();
        bytesIn = instrument.BytesSent();
        form.TB_RunClick(form.TB_Run);
    });
    QSignalSpy ended(&form, &TFormMain::RunEnded);
    wall.start();
    cpuStart = ThreadCpuSeconds();
    form.TB_RunClick(form.TB_Run);
    if (!Ended(ended, 600000))
        std::printf("  the Run did not end\n");

    const int cycles = commands / 2;
    const double lineSeconds = double(bytesIn + commands) * BitsPerByte / BaudRate;
    const double limit = cycles / (lineSeconds + cycles * replyDelayUs / 1e6);
    const double rate = cycles / seconds;
    std::printf(" reply delay %.1f ms: %d cycles in %.3f s, %lld bytes in and %d out\n", replyDelayUs / 1000.0,
                cycles, seconds, static_cast<long long>(bytesIn), commands);
    std::printf("  rate:   %.1f cycles/s (panel 8 last showed %s)\n", rate, qPrintable(form.PanelText(8)));
    std::printf("  limit:  %.1f cycles/s (line time of those bytes plus the reply delays)\n", limit);
    std::printf("  ratio:  %.3f (target at least %.2f: %.2f of it)\n", rate / limit, RateTarget,
                rate / limit / RateTarget);
    std::printf("  CPU:    %.4f s per second of Run, %.1f us per cycle (target at most %.2f: %.2f of it)\n",
                cpu / seconds, cpu / cycles * 1e6, CpuTarget, cpu / seconds / CpuTarget);
    if (messages.Texts() != QStringList{"Open COM1 !"})
        std::printf("  messages: %s\n", qPrintable(messages.Texts().join(" | ")));
}

void MeasureAcquire()
{
    TSimInstrument instrument{TSimOptions()};
    if (!StartInstrument(instrument))
        return;
    TMessageCapture messages;
    TFormMain form;
    form.show();
    form.mmWaveformClick();
    QApplication::processEvents();
    QElapsedTimer wall;
    wall.start();
    qint64 lastChunkNs = 0;
    QObject::connect(&form, &TFormMain::ReceiveHandled, &form, [&] { lastChunkNs = wall.nsecsElapsed(); });
    QSignalSpy ended(&form, &TFormMain::AcquireEnded);
    form.TB_AcquireClick(form.TB_Acquire);
    Ended(ended);
    QApplication::processEvents(); // the drawn chart reaches the screen
    const double seconds = wall.nsecsElapsed() / 1e9;
    const double afterLast = seconds - lastChunkNs / 1e9;
    const double lineSeconds = double(instrument.BytesSent()) * BitsPerByte / BaudRate;
    std::printf("Acquire on the Waveform page, block of %lld bytes (%s polls of 5 ms):\n",
                static_cast<long long>(instrument.BytesSent()), qPrintable(form.PanelText(7)));
    std::printf("  click to drawn: %.3f s; the block's line time: %.3f s\n", seconds, lineSeconds);
    std::printf("  ratio:  %.3f (target at most 1.1)\n", seconds / lineSeconds);
    std::printf("  last chunk to drawn: %.3f s (target at most %.2f: %.2f of it)\n", afterLast, AcquireTarget,
                afterLast / AcquireTarget);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 2) {
        // Each measurement in a process of its own, so none starts with what another left behind.
        std::printf("Run against the simulator at 115200 baud, window shown on the Main page:\n");
        std::fflush(stdout);
        for (const char *mode : {"run0", "run3", "statistics", "acquire"}) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedOutputChannel);
            child.start(QApplication::applicationFilePath(), {QString::fromLatin1(mode)});
            child.waitForFinished(-1);
        }
        return 0;
    }
    QTemporaryDir dir;
    QDir::setCurrent(dir.path()); // the measurement logs land here
    if (arguments[1] == "run0")
        MeasureRun(0);
    else if (arguments[1] == "run3")
        MeasureRun(3000);
    else if (arguments[1] == "statistics")
        MeasureRun(0, true);
    else
        MeasureAcquire();
    return 0;
}
