#include "sim/SimModel.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double Pi = 3.141592653589793;
constexpr double BaseTimeOfFlightUs = 4.535;  // 18 cycles and about 50 degrees at 25 °C
constexpr double BaseTemperature = 25.0;
constexpr double TofPerDegree = -0.0005;      // relative: the path gets faster when warm
constexpr double MaxWanderUs = 0.03;          // keeps the phase clear of a cycle boundary
constexpr double WanderStepUs = 0.0005;
constexpr double WanderPull = 0.002;          // mean reversion per acquisition
constexpr double TemperatureStep = 0.01;
constexpr double TemperaturePull = 0.002;
constexpr double JitterUs = 0.0001;           // per-measurement timing noise
constexpr double AmplitudeSpread = 0.02;

qint32 RoundNonZero(double value)
{
    // A zero correlation value makes the phase read as 0; a real instrument never reports
    // exactly zero for a live echo, so keep the sign at least.
    long rounded = std::lround(value);
    if (rounded == 0)
        rounded = value < 0.0 ? -1 : 1;
    return static_cast<qint32>(rounded);
}

} // namespace

TSimModel::TSimModel(quint32 seed) : FSeed(seed), FRandom(seed)
{
    FTemperature = BaseTemperature + 0.3 * FRandom.Normal();
    FWander = 0.5 * MaxWanderUs * (2.0 * FRandom.Uniform() - 1.0);
    Measure();
}

void TSimModel::Acquire()
{
    ++FIndex;
    FTemperature += TemperatureStep * FRandom.Normal() - TemperaturePull * (FTemperature - BaseTemperature);
    FWander += WanderStepUs * FRandom.Normal() - WanderPull * FWander;
    FWander = std::clamp(FWander, -MaxWanderUs, MaxWanderUs);
    Measure();
}

void TSimModel::Measure()
{
    double path = BaseTimeOfFlightUs * (1.0 + TofPerDegree * (FTemperature - BaseTemperature)) + FWander;
    double measured = path + JitterUs * FRandom.Normal();
    FAmplitude = NominalAmplitude * (1.0 + AmplitudeSpread * FRandom.Normal());

    double cycles = measured / CarrierPeriodUs;
    int whole = static_cast<int>(std::floor(cycles));
    double phaseRad = (cycles - whole) * 2.0 * Pi;

    TSimReading r;
    r.Index = FIndex;
    r.Count = whole * CountsPerCycle;
    r.M1 = RoundNonZero(FAmplitude * std::cos(phaseRad));
    r.M2 = RoundNonZero(FAmplitude * std::sin(phaseRad));
    r.PhaseDeg = (cycles - whole) * 360.0;
    r.TimeOfFlight = whole * CarrierPeriodUs + r.PhaseDeg / 360.0 * CarrierPeriodUs;
    r.Temperature = FTemperature;
    r.Averages = 64;
    r.Peak = static_cast<int>(std::lround(NominalPeak * FAmplitude / NominalAmplitude));
    r.Snr = static_cast<int>(std::lround(20.0 * std::log10(r.Peak / ReceiveNoise)));
    r.Gain = 12;
    FReading = r;
}

TSimWaveform TSimModel::Waveform(int samples) const
{
    // Its own stream per acquisition, so asking for a waveform never changes later readings.
    TSimRandom noise(static_cast<std::uint64_t>(FSeed) * 1000003ull + static_cast<std::uint64_t>(FIndex) + 1);
    const double burstLength = BurstCycles * CountsPerCycle;
    const double delay = FReading.TimeOfFlight * SamplesPerUs;

    // Hann-windowed tone burst starting at t = 0, t in samples.
    auto burst = [&](double t) {
        if (t < 0.0 || t >= burstLength)
            return 0.0;
        double window = 0.5 * (1.0 - std::cos(2.0 * Pi * t / burstLength));
        return window * std::sin(2.0 * Pi * t / CountsPerCycle);
    };
    auto toCounts = [](double value) {
        return std::clamp(static_cast<int>(std::lround(value)), 0, FullScale);
    };

    TSimWaveform w;
    w.Transmit.resize(samples);
    w.Receive.resize(samples);
    for (int n = 0; n < samples; ++n) {
        double t = n - BurstStart;
        w.Transmit[n] = toCounts(MidScale + TransmitAmplitude * burst(t) + TransmitNoise * noise.Normal());
        w.Receive[n] = toCounts(MidScale + FReading.Peak * burst(t - delay) + ReceiveNoise * noise.Normal());
    }
    return w;
}
