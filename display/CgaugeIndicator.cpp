// Numeric indicator (modes 4 and 9) and trends (modes 5 and 6, and the two-trace trend that
// no mode uses).
//
// NOT DRAWN YET: every routine below is an empty slot that the mode table already calls; the
// indicator and the trends come in a later change.

#include "display/Cgauge.h"

void TGauge::DrawIndicator() {}

void TGauge::UpdateIndicator(TCircularBuffer<float> *buffer)
{
    Q_UNUSED(buffer);
}

void TGauge::DrawTrend(float span)
{
    Q_UNUSED(span);
}

void TGauge::UpdateTrend(TCircularBuffer<float> *buffer, float span)
{
    Q_UNUSED(buffer);
    Q_UNUSED(span);
}

void TGauge::UpdateDualTrend() {}
