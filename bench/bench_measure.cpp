// A full batch of 32 mean reports with the filter on, each asked for and taken from an in-memory
// line (the batch's 32nd report runs the outlier loop, the band filter, the trend, both log lines
// and the gauge's strip chart over a trend of 1600 to 10000 values and a span of 1600). Prints
// the median time per batch and per report, and the share of one 16 ms frame; then the same
// batches taken by an engine with no window, for the share that is drawing.

#include "app/Unitmain.h"
#include "display/Cgauge.h"
#include "tests/common/MemoryDevice.h"
#include "tests/common/MessageCapture.h"

#include "Median.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int Batches = 400;
// The strip chart's span: a trend shorter than this would draw less.
constexpr size_t ChartSpan = 1600;

// A mean report of count 290 with the phase of these correlation values.
QByteArray MeanReport(int m1, int m2)
{
    const auto hex = [](int v) { return QByteArray::number(quint32(v), 16).toUpper().rightJustified(8, '0'); };
    QByteArray record(79, ' ');
    record.replace(0, 5, "TMEAN").replace(49, 3, "290").replace(57, 8, hex(m1)).replace(69, 8, hex(m2));
    return record + "\r\n";
}

// Asks the engine for a report and hands it the reply through the line's poll step.
void Report(TEngine &engine, TMemoryLine &line, int m1, int m2)
{
    engine.Command(CommandTag('z'));
    line.Incoming += MeanReport(m1, m2);
    while (!line.Incoming.isEmpty())
        engine.Comm()->ProcTimer(nullptr);
}

// Phase near 90 degrees with noise and now and then an outlier tens of degrees off.
void NoisyReport(TEngine &engine, TMemoryLine &line, QRandomGenerator &random, int i)
{
    const double degrees = 90 + random.bounded(2.0) + (i == 7 ? 40 : 0);
    Report(engine, line, int(1e6 * std::cos(degrees * M_PI / 180)), int(1e6 * std::sin(degrees * M_PI / 180)));
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    TMessageCapture messages;
    TMemoryLine line;
    TFormMain form(nullptr, MemoryDeviceFactory(line));
    TEngine &engine = *form.FEngine;
    if (!engine.Comm()) {
        std::fprintf(stderr, "bench_measure: the in-memory port did not open\n");
        return 1;
    }

    QRandomGenerator random(7);
    std::vector<double> batch, report, withoutGauge;
    QElapsedTimer clock;
    for (int b = 0; b < Batches; ++b) {
        // A trend as long as the chart's span at least: it empties itself when full.
        while (engine.Trend().size() < ChartSpan)
            for (int i = 0; i < 32; ++i)
                NoisyReport(engine, line, random, i);
        clock.start();
        for (int i = 0; i < 32; ++i) {
            QElapsedTimer one;
            one.start();
            NoisyReport(engine, line, random, i);
            if (i < 31)
                report.push_back(one.nsecsElapsed() / 1000.0);
        }
        form.FGauge->UpdateDisplay(); // what the next frame draws
        batch.push_back(clock.nsecsElapsed() / 1e6);
    }
    // The same batches taken by an engine with no window: the share that is drawing.
    TMemoryLine bareLine;
    TEngine bare(MemoryDeviceFactory(bareLine));
    bare.OpenPort(0);
    for (int b = 0; b < Batches; ++b) {
        clock.start();
        for (int i = 0; i < 32; ++i)
            NoisyReport(bare, bareLine, random, i);
        withoutGauge.push_back(clock.nsecsElapsed() / 1e6);
    }

    const double perBatch = MedianOf(batch);
    std::printf("A batch of 32 mean reports from the line, filter on, trend of 1600 to 10000, span 1600:\n");
    std::printf("  a report inside a batch:        median %.2f us\n", MedianOf(report));
    std::printf("  a whole batch with the chart:   median %.3f ms (%.1f%% of a 16 ms frame, %.1fx below)\n",
                perBatch, 100 * perBatch / 16, 16 / perBatch);
    std::printf("  a whole batch without a window: median %.3f ms\n", MedianOf(withoutGauge));
    return 0;
}
