// Dials: modes 0 (direction dial with value), 1 (velocity meter), 2 (velocity gauge) and
// 3 (rotation ball).
//
// NOT DRAWN YET: every routine below is an empty slot that the mode table already calls; the
// dials come in a later change.

#include "display/Cgauge.h"

void TGauge::DrawVelocityDirection() {}

void TGauge::DrawAngleIndication(float angle)
{
    Q_UNUSED(angle);
}

void TGauge::DrawAngleArrow(float direction)
{
    Q_UNUSED(direction);
}

void TGauge::DrawAngleVariation(float minimum, float maximum)
{
    Q_UNUSED(minimum);
    Q_UNUSED(maximum);
}

void TGauge::DrawValueIndication(float value)
{
    Q_UNUSED(value);
}

void TGauge::DrawVelocityMeter() {}

void TGauge::UpdateVelocityMeter() {}

void TGauge::DrawVelocityPointer(float direction)
{
    Q_UNUSED(direction);
}

void TGauge::DrawVelocityGauge() {}

void TGauge::UpdateVelocityGauge() {}

void TGauge::DrawRotationBall() {}

void TGauge::UpdateRotationBall() {}
