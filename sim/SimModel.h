#pragma once
// The simulated instrument's physics: a time of flight that wanders slowly around 4.5 µs with the
// temperature, measured as whole carrier cycles (the coarse count) plus a phase carried by two
// correlation values. Everything follows from the seed and the number of acquisitions, so a test
// or a second simulator with the same seed sees the same instrument.

#include "sim/SimRandom.h"

#include <QVector>
#include <QtGlobal>

// One acquisition as the instrument reports it.
struct TSimReading {
    int Index = 0;              // acquisitions since start, first one is 0
    int Count = 0;              // coarse delay: whole carrier cycles x 16
    qint32 M1 = 0;              // correlation with the in-phase reference: A cos(phase)
    qint32 M2 = 0;              // correlation with the quadrature reference: A sin(phase)
    double PhaseDeg = 0.0;      // the phase M1, M2 stand for, 0 <= phase < 360
    double TimeOfFlight = 0.0;  // µs: Count / 16 cycles plus PhaseDeg / 360 of a cycle
    double Temperature = 0.0;   // °C
    int Averages = 0;           // shots averaged into the mean report
    int Peak = 0;               // echo peak above mid-scale, converter counts
    int Snr = 0;                // echo to noise, dB
    int Gain = 0;               // receiver gain, dB
};

// Both channels of one acquisition, 12-bit converter counts around mid-scale.
struct TSimWaveform {
    QVector<int> Transmit;
    QVector<int> Receive;
};

class TSimModel {
public:
    static constexpr double CarrierPeriodUs = 0.25;   // 4 MHz carrier
    static constexpr int CountsPerCycle = 16;         // the count is in samples: 16 per cycle
    static constexpr double SamplesPerUs = 64.0;      // so the converter runs at 64 MHz
    static constexpr int MidScale = 2048;
    static constexpr int FullScale = 4095;
    static constexpr int BurstStart = 600;            // first transmit sample of the burst
    static constexpr int BurstCycles = 8;
    static constexpr int TransmitAmplitude = 1500;
    static constexpr double NominalAmplitude = 1.5e6; // correlation magnitude at nominal echo
    static constexpr int NominalPeak = 600;
    static constexpr double ReceiveNoise = 6.0;
    static constexpr double TransmitNoise = 1.5;

    explicit TSimModel(quint32 seed);

    // Takes the next acquisition: the model moves on by one step.
    void Acquire();
    const TSimReading &Reading() const { return FReading; }

    // The sampled burst and its echo for the current acquisition; the same acquisition always
    // gives the same samples.
    TSimWaveform Waveform(int samples) const;

private:
    void Measure();

    quint32 FSeed;
    TSimRandom FRandom;
    int FIndex = 0;
    double FTemperature = 25.0;
    double FWander = 0.0;      // µs, slow drift of the path itself
    double FAmplitude = NominalAmplitude;
    TSimReading FReading;
};
