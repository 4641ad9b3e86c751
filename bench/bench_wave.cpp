// One waveform block through the main window: a 1568-line block parsed into the channels and
// listed in MemoData (the list holding 10 lines and 38,000 lines), the block format alone, the
// Waveform page redrawn at 834 x 497, and a whole block from its first received chunk to the
// redrawn page. Prints medians and ratios; a whole block must take well under 100 ms.

#include "app/Unitmain.h"
#include "engine/WaveBlock.h"
#include "display/Image.h"
#include "tests/common/MemoryWindow.h"

#include "Median.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QTextBlock>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int Runs = 15;
constexpr int BlockLines = 1568;
constexpr int ChunkSize = 1024;
constexpr int BlocksPerCycle = 38; // 37 blocks fill the list, the 38th finds it full
constexpr int Cycles = 4;

QByteArray SampleLines()
{
    QByteArray text;
    for (int i = 0; i < BlockLines; ++i)
        text += QByteArray::number((i * 37) % 4096).rightJustified(4, ' ') + ','
                + QByteArray::number((i * 91) % 4096).rightJustified(4, ' ') + "\r\n";
    return text;
}

// Median milliseconds of `step`, with `prepare` run untimed before each.
double Median(const std::function<void()> &prepare, const std::function<void()> &step)
{
    std::vector<double> times;
    QElapsedTimer clock;
    for (int i = 0; i < Runs; ++i) {
        prepare();
        clock.start();
        step();
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    return MedianOf(times);
}

// Brings MemoData to `lines` lines before every run, appended as blocks would append them (a
// list set in one piece leaves layout work for the next append, which no operator's list has).
void KeepList(TMemo *memo, int lines)
{
    memo->clear();
    for (int done = 0; done < lines;) {
        QStringList list;
        for (int i = 0; i < 1080 && done < lines; ++i, ++done)
            list << QStringLiteral("%1,%2").arg(done % 4096, 4).arg(done % 4096, 4);
        memo->appendPlainText(list.join('\n'));
    }
    QApplication::processEvents();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TMemoryWindow window;
    TFormMain &form = *window.Form;
    TMemoryLine &line = window.Line;
    const QByteArray lines = SampleLines();
    const QByteArray block = "T=25.31 C\r\n" + lines;

    std::array<int16_t, TFormMain::ChannelLength> one{}, two{};
    const double alone = Median([] {}, [&] {
        QByteArray text = lines;
        WaveBlock::ParseBlock(text, one.data(), two.data(), 0);
    });
    std::printf("waveform block of %d lines:\n", BlockLines);
    std::printf(" block format alone (into two arrays):   median %.3f ms\n", alone);

    // Blocks one after another, as acquisitions fill the list: it grows by 1080 lines a block and
    // is emptied when full. The blocks that meet a short list and those that meet a long one are
    // compared (median and mean: the text widget now and then moves its storage, which the mean
    // shows).
    for (const bool shown : {false, true}) {
        if (shown) {
            form.resize(907, 669);
            form.show();
            form.mmCommunicationClick();
            QApplication::processEvents();
        }
        std::printf(" %s\n", shown ? "window shown on the Log page (includes repainting):" : "window hidden:");
        form.MemoData->clear();
        std::vector<double> shortList, longList;
        QElapsedTimer clock;
        for (int i = 0; i < Cycles * BlocksPerCycle; ++i) {
            const int before = form.MemoData->LineCount();
            clock.start();
            // What the engine does with a whole block, then the window's listing of it.
            QByteArray text = lines;
            QByteArrayList parsed;
            WaveBlock::ParseBlock(text, one.data(), two.data(), 0, &parsed);
            form.AppendDataLines(parsed);
            if (shown)
                QApplication::processEvents();
            const double ms = clock.nsecsElapsed() / 1e6;
            if (before < 2 * WaveBlock::MaxSamples)
                shortList.push_back(ms);
            else if (before >= 36000)
                longList.push_back(ms);
        }
        const auto report = [](const char *what, std::vector<double> &times) {
            std::sort(times.begin(), times.end());
            double sum = 0;
            for (double t : times)
                sum += t;
            std::printf("  parse and list, %s: median %.3f ms, mean %.3f ms (%zu blocks)\n", what,
                        times[times.size() / 2], sum / double(times.size()), times.size());
            return times[times.size() / 2];
        };
        const double small = report("MemoData below  2,160 lines", shortList);
        const double large = report("MemoData at 36,000 or more ", longList);
        std::printf("  ratio of the medians, long / short list: %.2f\n", large / small);
        // What listing costs when each line is appended on its own, as the block parse gives them.
        QByteArrayList fields;
        for (int i = 0; i < WaveBlock::MaxSamples; ++i)
            fields << lines.mid(i * WaveBlock::SampleLineLength, WaveBlock::MemoLineLength);
        const double single = Median([&] { form.MemoData->clear(); }, [&] {
            for (const QByteArray &f : fields)
                form.MemoData->appendPlainText(QString::fromLatin1(f));
            if (shown)
                QApplication::processEvents();
        });
        std::printf("  for comparison, 1080 lines appended one by one, short list: median %.3f ms (%.0f x the block)\n",
                    single, single / small);
    }

    // The Waveform page as the operator sees it, 834 x 497.
    form.mmWaveformClick();
    form.PanelImage->resize(874, 537);
    QApplication::processEvents();
    const double redraw = Median([] {}, [&] { form.RedrawWaveforms(); });
    const double redrawShown = Median([] {}, [&] {
        form.RedrawWaveforms();
        form.ImageChart->repaint();
    });
    std::printf(" redraw at %d x %d: median %.3f ms, with the repaint %.3f ms\n", form.ImageChart->width(),
                form.ImageChart->height(), redraw, redrawShown);

    // A whole block: received in 1 KB chunks, routed, parsed, listed and drawn.
    const double whole = Median([&] { KeepList(form.MemoData, 10); }, [&] {
        form.FEngine->StartAcquire();
        for (int at = 0; at < block.size(); at += ChunkSize) {
            line.Incoming = block.mid(at, ChunkSize);
            while (!line.Incoming.isEmpty())
                form.FEngine->Comm()->ProcTimer(nullptr);
        }
        // The wait ends on the next pass of the event loop; the window lists and draws the block.
        while (form.FEngine->Acquiring())
            QApplication::processEvents();
        form.ImageChart->repaint();
    });
    std::printf(" whole block, %d-byte chunks to the redrawn page: median %.3f ms (%.1f%% of 100 ms)\n", ChunkSize,
                whole, whole);
    return 0;
}
