#pragma once
// Readings in record tests: how close a temperature read back must be, and a reading made by
// hand for values the model would not produce.

#include "sim/SimModel.h"

// The record's five characters carry the temperature to the hundredth; the parse is a float.
constexpr double TemperatureTolerance = 0.005 + 1e-4;

inline TSimReading Crafted(int count, qint32 m1, qint32 m2, double temperature, int peak = 600)
{
    TSimReading r;
    r.Count = count;
    r.M1 = m1;
    r.M2 = m2;
    r.Temperature = temperature;
    r.Averages = 64;
    r.Peak = peak;
    r.Snr = 40;
    r.Gain = 12;
    return r;
}
