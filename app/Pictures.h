#pragma once
// The two pictures of a measurement, drawn the same way by the window and by the headless mode:
// the phase gauge on the engine's trend, and the waveform chart on its channels.

#include "engine/Channel.h"

#include <QSize>

class TCISChart;
class TEngine;
class TGauge;

namespace Pictures {

// Where the window's pages put them at its opening size; the headless mode draws them so.
constexpr QSize GaugeSize(827, 404);
constexpr QSize ChartSize(867, 532);
// The stretch of each channel the chart shows.
constexpr int WaveViewFirst = 540;
constexpr int WaveViewCount = 512;

// The gauge of the Main page: a strip chart of the engine's phase trend, in degrees.
void SetupPhaseGauge(TGauge &gauge, const TEngine &engine);
// Both channels' shown stretch on the chart: red, then yellow on top where they meet.
// first, count: a stretch of it, zoomed in.
void DrawWaveforms(TCISChart &chart, const TChannel &channel1, const TChannel &channel2, int first = WaveViewFirst,
                   int count = WaveViewCount);

} // namespace Pictures
