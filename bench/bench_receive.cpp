// The whole receive path of the main window (the port's poll step reads the chunk, the
// dispatcher handles it, the communication log appends it) for an 81-byte chunk, with the log
// holding 10 lines and 39,999 lines. Prints the median time per chunk of each and their ratio;
// appending must not grow with the size of the log.

#include "app/Unitmain.h"
#include "tests/common/MemoryWindow.h"

#include "Median.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Samples = 2000;

// Fills the log to `lines` lines with chunks that end on line ends.
void FillLog(TFormMain &form, TMemoryLine &line, int lines)
{
    form.MemoComLog->clear();
    for (int i = 0; i < lines;) {
        QByteArray chunk;
        for (int j = 0; j < 100 && i < lines; ++j, ++i)
            chunk += "TMEAN   64  PEAK= 600   SNR= 40  GAIN=12   DELAY=288  M1=0016E360 M2=FFE91CA0\r\n";
        line.Incoming = chunk;
        while (!line.Incoming.isEmpty())
            form.FEngine->Comm()->ProcTimer(nullptr);
    }
}

// Median microseconds per chunk; the log holds `lines` lines before each chunk (a full log
// before each of a batch of 200: from 200 lines fewer up to `lines`).
double Measure(TFormMain &form, TMemoryLine &line, int lines)
{
    // 79 characters and CR LF: one line of the log per chunk.
    const QByteArray chunk = "TMEAN   64  PEAK= 600   SNR= 40  GAIN=12   DELAY=288  M1=0016E360 M2=FFE91CA0\r\n";
    const int batch = lines >= 1000 ? 200 : 1;
    std::vector<double> times;
    times.reserve(Samples);
    QElapsedTimer clock;
    for (int i = 0; i < Samples; ++i) {
        // Refilled outside the timed part, so the size stays put.
        if (i % batch == 0)
            FillLog(form, line, lines - batch + 1);
        form.mmCommandClick(form.mmAnalyzeAcquired);
        line.Written.clear();
        clock.start();
        line.Incoming = chunk;
        form.FEngine->Comm()->ProcTimer(nullptr);
        times.push_back(clock.nsecsElapsed() / 1000.0);
    }
    return MedianOf(times);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TMemoryWindow window;
    TFormMain &form = *window.Form;
    TMemoryLine &line = window.Line;
    std::printf("receive path, 81-byte chunk (read, dispatch with a mean report, log):\n");
    for (const bool shown : {false, true}) {
        if (shown) {
            // The log as the operator watches it: shown, on its page. It paints at its next frame,
            // outside the chunk: bench_comlog shares that out over the chunks.
            form.show();
            form.mmCommunicationClick();
            QApplication::processEvents();
        }
        const double small = Measure(form, line, 10);
        const double large = Measure(form, line, 39999);
        const double smallAgain = Measure(form, line, 10);
        const double base = std::min(small, smallAgain);
        std::printf(" %s\n", shown ? "window shown on the Log page:" : "window hidden:");
        std::printf("  log at 10 lines:     median %.1f us per chunk\n", base);
        std::printf("  log at 39,999 lines: median %.1f us per chunk\n", large);
        std::printf("  ratio 39,999 / 10:   %.2f (target below 2)\n", large / base);
    }
    return 0;
}
