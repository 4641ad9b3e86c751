// Cost of one strip-chart update as the main window does it: mode 8 on an 817 x 369 gauge, a
// span of 1600 samples, a trend of 10000 phase values. Each run appends one value, so the
// window moves as in use, and times UpdateDisplay (frame refill and the 1599 segments of the
// 2-pixel trace). Prints median and minimum over the runs and how many times they fit into
// one frame of 16 ms.

#include "display/Cgauge.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int Width = 817;
constexpr int Height = 369;
constexpr int Span = 1600;
constexpr int TrendValues = 10000;
constexpr int Runs = 500;
constexpr double FrameMs = 16.0;

// A phase that wanders over the whole axis with some noise, as a live trend does.
float Phase(int i)
{
    const float noise = float((i * 7919) % 101 - 50) * 0.2f;
    return 180.0f + 150.0f * std::sin(float(i) * 0.013f) + noise;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TSampleList trend;
    for (int i = 0; i < TrendValues; ++i)
        trend.push_back(std::make_unique<float>(Phase(i)));

    TGauge gauge(nullptr, Width, Height, 5);
    TCircularBuffer<float> ring(32);
    gauge.FValues = gauge.FValues2 = gauge.FAngles = &ring;
    gauge.FSamples = &trend;
    gauge.SetMode(TGaugeMode::SingleChannel);
    gauge.SetUnit(QStringLiteral("degree"));
    gauge.SetZoom(1.0f);
    gauge.SetXSpan(Span);
    gauge.UpdateDisplay(); // warm-up: painter, pens

    std::vector<double> ms;
    ms.reserve(Runs);
    QElapsedTimer clock;
    for (int r = 0; r < Runs; ++r) {
        trend.push_back(std::make_unique<float>(Phase(TrendValues + r)));
        clock.start();
        gauge.UpdateDisplay();
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const double best = ms.front();
    std::printf("gauge mode 8 update, %dx%d, span %d, trend %d values, %d runs\n", Width, Height,
                Span, TrendValues, Runs);
    std::printf("  median %.3f ms, min %.3f ms, 90th percentile %.3f ms\n", median, best,
                ms[ms.size() * 9 / 10]);
    std::printf("  one frame (%.0f ms) / median = %.1f\n", FrameMs, FrameMs / median);
    return 0;
}
