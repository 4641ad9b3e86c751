#pragma once
// The time-of-flight arithmetic and the batch filter, free of any window so they can be tested
// and timed alone. TFormMain's measurement methods call these.

#include "platform/FixedText.h"
#include "ringbuffer/CircularBuffer.h"

#include <QByteArray>
#include <cstdint>

namespace Measurement {

constexpr int BatchSize = 32;
constexpr double Pi = 3.141592653589793;
constexpr double TwoPi = 6.283185307179586;
constexpr float OutlierSpread = 1.0f;  // degrees; the batch is thinned while its spread is larger
constexpr int OutlierKeepAtLeast = 10; // thinning stops below this many values
constexpr double BandWidth = 1.6;      // standard deviations kept either side of the mean

// Four-quadrant angle of (a, b) in radians, 0 to 2 pi; 0 when either is 0.
double PhaseAngle(int32_t a, int32_t b);
// Radians to degrees in extended precision, with the reciprocal of pi as the constant, stored as
// float: the order of the operations decides the last digit of the logged phase.
float PhaseDegrees(float phaseRad);
// Whole carrier cycles from the instrument's count (cycles x 16), truncated toward zero.
int32_t BigTime(int32_t bigCount);
// (big time + phase / 360) x 0.25 microseconds.
float TimeOfFlight(int32_t bigTime, float phaseDeg);

// Fixed-point text, as everything the program shows and logs.
using Platform::Fixed;
using Platform::FixedText;

// Thins a complete batch: while the phase spread exceeds one degree, the first largest and the
// first smallest phase values go, each with the time of flight of the same report (and its entry
// in reports, when given, which so ends up holding the reports kept).
void RemoveOutliers(TCircularBuffer<float> &phases, TCircularBuffer<float> &tofs,
                    TCircularBuffer<int32_t> *reports = nullptr);
// Drops the phase values outside mean +- 1.6 standard deviations (clamped to 0..360), each with
// its time of flight (and its entry in reports).
void BandFilter(TCircularBuffer<float> &phases, TCircularBuffer<float> &tofs,
                TCircularBuffer<int32_t> *reports = nullptr);

// A log line built from batches: values joined by ",", handed over once it holds 32 values.
// A line may start with a fixed first field (the temperature of the time-of-flight log).
class TLogLine {
public:
    // Adds one value; returns true when the line is complete (then Line() holds it until the
    // next Add starts a new one).
    bool Add(const QByteArray &value, const QByteArray &firstField = QByteArray());
    const QByteArray &Line() const { return FLine; }
    // The line as far as it goes; the next Add starts a new one.
    QByteArray TakeOpen()
    {
        FCount = 0;
        return FLine;
    }
    int32_t Count() const { return FCount; }

private:
    QByteArray FLine;
    int32_t FCount = 0;
};

} // namespace Measurement
