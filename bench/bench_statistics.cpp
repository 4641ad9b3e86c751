// The statistics' cost per batch: 32 reports kept, then the figures of the Run and of the last N
// (N = 100000, the largest the operator may choose), as the engine and a view take them once per
// batch. Prints the median and the slowest batch (the slowest includes the pass over N that
// renews the sums once per N values).

#include "engine/Statistics.h"

#include "Median.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {
constexpr int BatchSize = 32;

// This thread's processor time: what the work costs, without the time other programs on a
// shared machine took the processor away.
double ThreadCpuUs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

constexpr int Batches = 20000; // 640,000 values: the window fills and turns over six times
} // namespace

int main()
{
    TStatistics statistics;
    statistics.SetWindowSize(TWindowStatistics::MaxSize);
    statistics.BeginRun(1);
    QRandomGenerator random(3);
    QDateTime time = QDateTime::currentDateTime();
    std::vector<double> addUs, figuresUs, totalUs, cpuUs;
    QElapsedTimer clock;
    double sink = 0;
    for (int b = 0; b < Batches; ++b) {
        TBatch batch(BatchSize);
        for (TReport &report : batch) {
            time = time.addMSecs(3);
            report.Record.Time = time;
            report.Record.Run = 1;
            report.Record.PhaseDeg = float(90 + random.generateDouble());
            report.Record.TimeOfFlight = float(4.5 + 5e-6 * random.generateDouble());
            report.Kept = true;
        }
        const double cpu = ThreadCpuUs();
        clock.start();
        statistics.Add(batch);
        const qint64 added = clock.nsecsElapsed();
        const TStatisticsFigures run = statistics.RunFigures();
        const TStatisticsFigures window = statistics.WindowFigures();
        const qint64 total = clock.nsecsElapsed();
        const double cpuTotal = ThreadCpuUs() - cpu;
        sink += run.ADEV[1].value_or(0) + window.ADEV[1].value_or(0);
        // Only once the window is full: that is the case that costs most.
        if (b * BatchSize >= TWindowStatistics::MaxSize) {
            addUs.push_back(added / 1000.0);
            figuresUs.push_back((total - added) / 1000.0);
            totalUs.push_back(total / 1000.0);
            cpuUs.push_back(cpuTotal);
        }
    }
    std::printf("statistics per batch of %d with N = %d (full window, %zu batches):\n", BatchSize,
                TWindowStatistics::MaxSize, totalUs.size());
    std::printf("  adding the batch:  median %.1f us, slowest %.1f us\n", MedianOf(addUs),
                *std::max_element(addUs.begin(), addUs.end()));
    std::printf("  Run and last-N figures: median %.1f us, slowest %.1f us\n", MedianOf(figuresUs),
                *std::max_element(figuresUs.begin(), figuresUs.end()));
    std::printf("  together:          median %.1f us, slowest %.1f us (budget 1000 us)\n", MedianOf(totalUs),
                *std::max_element(totalUs.begin(), totalUs.end()));
    std::printf("  processor time of this thread: median %.1f us, slowest %.1f us\n", MedianOf(cpuUs),
                *std::max_element(cpuUs.begin(), cpuUs.end()));
    std::sort(totalUs.begin(), totalUs.end());
    std::printf("  99th percentile %.1f us; %zu batches over 1000 us (on a busy machine, other work shows here)\n",
                totalUs[totalUs.size() * 99 / 100],
                size_t(totalUs.end() - std::upper_bound(totalUs.begin(), totalUs.end(), 1000.0)));
    std::printf("  (checksum %.3f)\n", sink);
    return 0;
}
