#include "app/Pictures.h"

#include "display/Canvas.h"
#include "display/Cgauge.h"
#include "display/Cischart.h"
#include "engine/Engine.h"

namespace Pictures {

static_assert(WaveViewFirst + WaveViewCount <= ChannelLength, "the view lies within the channels");

void SetupPhaseGauge(TGauge &gauge, const TEngine &engine)
{
    gauge.FValues2 = &engine.PhaseRing();
    gauge.FValues = &engine.PhaseRing();
    gauge.FAngles = &engine.PhaseRing();
    gauge.FSamples = &engine.Trend();
    gauge.SetMode(TGaugeMode::SingleChannel);
    gauge.SetUnit("degree");
    gauge.SetZoom(1.0f);
    gauge.SetXSpan(1600);
}

void DrawWaveforms(TCISChart &chart, const TChannel &channel1, const TChannel &channel2, int first, int count)
{
    chart.Clear();
    chart.SetData(count, channel1.data() + first);
    chart.DrawCurve(clRed, 1);
    chart.SetData(count, channel2.data() + first);
    chart.DrawCurve(clYellow, 1);
}

} // namespace Pictures
