// ComputeMeasurement for a full batch of 32 reports with the filter on (the batch's 32nd report
// runs the outlier loop, the band filter, the trend, both log lines and the gauge's strip chart
// over a trend of 10000 values and a span of 1600). Prints the median time per batch and per
// report, and the share of one 16 ms frame.

#include "app/Unitmain.h"
#include "display/Cgauge.h"
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


} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    qputenv("ZARN_COM1", "/nonexistent/zarn-bench");
    TMessageCapture messages;
    TFormMain form;

    // A full trend, as after a long run.
    QRandomGenerator random(7);
    while (form.FEngine->FTrend.size() < size_t(TEngine::TrendCapacity - 32))
        form.FEngine->FTrend.push_back(float(90 + random.bounded(4.0)));

    std::vector<double> batch, report, withoutGauge;
    QElapsedTimer clock;
    for (int b = 0; b < Batches; ++b) {
        if (form.FEngine->FTrend.size() > size_t(TEngine::TrendCapacity - 64))
            form.FEngine->FTrend.resize(TEngine::TrendCapacity - 64);
        clock.start();
        for (int i = 0; i < 32; ++i) {
            // Phase near 90 degrees with noise and now and then an outlier tens of degrees off.
            const double degrees = 90 + random.bounded(2.0) + (i == 7 ? 40 : 0);
            form.FEngine->FBigCount = 290;
            form.FEngine->FM1 = int(1e6 * std::cos(degrees * M_PI / 180));
            form.FEngine->FM2 = int(1e6 * std::sin(degrees * M_PI / 180));
            QElapsedTimer one;
            one.start();
            form.FEngine->ComputeMeasurement();
            if (i < 31)
                report.push_back(one.nsecsElapsed() / 1000.0);
        }
        batch.push_back(clock.nsecsElapsed() / 1e6);
    }
    // The same batches with the gauge's update left out: the share that is drawing.
    TGauge *gauge = form.FGauge;
    form.FGauge = nullptr;
    for (int b = 0; b < Batches; ++b) {
        clock.start();
        for (int i = 0; i < 32; ++i) {
            form.FEngine->FM1 = 1000 + i;
            form.FEngine->FM2 = 1000;
            form.FEngine->ComputeMeasurement();
        }
        withoutGauge.push_back(clock.nsecsElapsed() / 1e6);
    }
    form.FGauge = gauge;

    const double perBatch = MedianOf(batch);
    std::printf("ComputeMeasurement, %d batches of 32 reports, filter on, trend of 10000, span 1600:\n", Batches);
    std::printf("  a report inside a batch:        median %.2f us\n", MedianOf(report));
    std::printf("  a whole batch with the chart:   median %.3f ms (%.1f%% of a 16 ms frame, %.1fx below)\n",
                perBatch, 100 * perBatch / 16, 16 / perBatch);
    std::printf("  a whole batch without the chart: median %.3f ms\n", MedianOf(withoutGauge));
    return 0;
}
