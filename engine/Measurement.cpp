#include "engine/Measurement.h"

#include <cmath>

namespace Measurement {

double PhaseAngle(int32_t a, int32_t b)
{
    if (a == 0 || b == 0)
        return 0;
    const double r = std::atan(double(b) / double(a));
    if (b > 0)
        return a > 0 ? r : r + Pi;
    return a < 0 ? r + Pi : r + TwoPi;
}

float PhaseDegrees(float phaseRad)
{
    constexpr long double InversePi = 1.0L / 3.14159265358979323846264338327950288L;
    return static_cast<float>(static_cast<long double>(phaseRad) * 180 * InversePi);
}

int32_t BigTime(int32_t bigCount)
{
    return bigCount / 16;
}

float TimeOfFlight(int32_t bigTime, float phaseDeg)
{
    constexpr long double Inverse360 = 1.0L / 360;
    return static_cast<float>((bigTime + static_cast<long double>(phaseDeg) * Inverse360) * 0.25L);
}

namespace {
void RemoveCompanions(int32_t p, TCircularBuffer<float> &tofs, TCircularBuffer<int32_t> *reports)
{
    tofs.RemoveAt(p);
    if (reports)
        reports->RemoveAt(p);
}
} // namespace

void RemoveOutliers(TCircularBuffer<float> &phases, TCircularBuffer<float> &tofs, TCircularBuffer<int32_t> *reports)
{
    float s = phases.StdDev();
    while (s > OutlierSpread) {
        phases.Max();
        RemoveCompanions(phases.RemoveAtCursor(), tofs, reports);
        phases.Min();
        RemoveCompanions(phases.RemoveAtCursor(), tofs, reports);
        if (phases.Count() < OutlierKeepAtLeast)
            break;
        s = phases.StdDev();
    }
}

void BandFilter(TCircularBuffer<float> &phases, TCircularBuffer<float> &tofs, TCircularBuffer<int32_t> *reports)
{
    const float m = phases.Mean();
    const float s = phases.StdDev();
    const double hi = std::min(360.0, double(m) + BandWidth * s);
    const double lo = std::max(0.0, double(m) - BandWidth * s);
    for (int32_t i = 0; i < phases.Count();) {
        const float v = phases.At(i);
        if (v < lo || v > hi) {
            phases.RemoveAt(i);
            RemoveCompanions(i, tofs, reports);
        } else {
            ++i;
        }
    }
}

bool TLogLine::Add(const QByteArray &value, const QByteArray &firstField)
{
    ++FCount;
    if (FCount == 1) {
        FLine = firstField.isNull() ? value : firstField + ',' + value;
        return false;
    }
    FLine += ',';
    FLine += value;
    if (FCount >= BatchSize) {
        FCount = 0;
        return true;
    }
    return false;
}

} // namespace Measurement
