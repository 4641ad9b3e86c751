// Cost of one gauge update in each display mode on the main window's 817 x 369 gauge, with
// full sources: ring buffers of 10000 values and a trend list of 10000 phase values (mode 8
// with the main window's span of 1600). Each run appends one value everywhere, so the
// pictures move as in use, and times UpdateDisplay. Prints the median and minimum per mode,
// how many times the median fits into one frame of 16 ms, the ratio to mode 8, the mode
// the main window draws at every batch, and the ratio to the target of 1 ms an update (the one
// set for the trends and the strip chart, modes 5, 6 and 8).

#include "display/Cgauge.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int Width = 817;
constexpr int Height = 369;
constexpr int Span = 1600;
constexpr int Values = 10000;
constexpr int Runs = 200;
constexpr double FrameMs = 16.0;
constexpr double TargetMs = 1.0;

// A phase that wanders over the whole axis with some noise, as a live trend does.
float Phase(int i)
{
    const float noise = float((i * 7919) % 101 - 50) * 0.2f;
    return 180.0f + 150.0f * std::sin(float(i) * 0.013f) + noise;
}

struct TResult {
    double Median;
    double Best;
};

TResult Measure(TGaugeMode mode)
{
    TSampleList trend;
    TCircularBuffer<float> ring(Values);
    for (int i = 0; i < Values; ++i) {
        trend.push_back(Phase(i));
        ring.Push(Phase(i));
    }
    TGauge gauge(nullptr, Width, Height, 5);
    gauge.FValues = gauge.FValues2 = gauge.FAngles = &ring;
    gauge.FSamples = &trend;
    gauge.SetMode(mode);
    gauge.SetUnit(QStringLiteral("degree"));
    gauge.SetZoom(1.0f);
    gauge.SetXSpan(Span);
    gauge.UpdateDisplay(); // warm-up: painter, pens, fonts

    std::vector<double> ms;
    ms.reserve(Runs);
    QElapsedTimer clock;
    for (int r = 0; r < Runs; ++r) {
        trend.push_back(Phase(Values + r));
        ring.Push(Phase(Values + r));
        clock.start();
        gauge.UpdateDisplay();
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front()};
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    static const char *const Names[] = {
        "direction dial", "velocity meter", "velocity gauge", "rotation ball",
        "value indicator", "value trend",   "angle trend",    "two-channel strip",
        "strip chart",    "angle indicator",
    };
    std::vector<TResult> results;
    for (int m = 0; m <= 9; ++m)
        results.push_back(Measure(TGaugeMode(m)));
    const double main = results[int(TGaugeMode::SingleChannel)].Median;

    std::printf("gauge update, %dx%d, buffers of %d values, strip span %d, %d runs per mode\n",
                Width, Height, Values, Span, Runs);
    std::printf("  mode                       median ms    min ms   frame/median  median/mode 8  median/1 ms\n");
    for (int m = 0; m <= 9; ++m)
        std::printf("  %d %-22s %10.3f %9.3f %14.1f %14.2f %12.2f\n", m, Names[m], results[m].Median,
                    results[m].Best, FrameMs / results[m].Median, results[m].Median / main,
                    results[m].Median / TargetMs);
    return 0;
}
