#pragma once
// The instrument's texts, formatted from model values. The two analysis reports are fixed-column
// records; the column tables below are the single place their layout is written down.
//
// Difference report, 44 characters, answer to "x":
//   TRFDIF 288 M1=0016E360 M2=FFE91CA0 t=25.31 C
//   0-5 marker | 7-9 count, right-aligned | 14-21 M1, 8 hex digits, two's complement |
//   26-33 M2, likewise | 37-41 temperature, 5 characters | the rest fixed labels
//
// Mean report, 79 characters, answer to "z":
//   TMEAN   64  PEAK= 600   SNR= 40  GAIN=12   DELAY=288  M1=0016E360 M2=FFE91CA0
//   0-4 marker | 6-9 shots averaged | 17-20 echo peak | 28-30 SNR dB | 38-40 gain dB, left-aligned |
//   49-51 count, left-aligned | 57-64 M1 | 69-76 M2 | 77-78 blank
//
// Neither record uses "T=" (the waveform header's mark) so a late report can never be taken for
// the start of a waveform block.

#include "sim/SimModel.h"

#include <QByteArray>
#include <QList>

struct TSimField {
    int Offset;
    int Length;
};

namespace SimRecords {

constexpr int DifferenceLength = 44;
constexpr TSimField DifferenceCount{7, 3};
constexpr TSimField DifferenceM1{14, 8};
constexpr TSimField DifferenceM2{26, 8};
constexpr TSimField DifferenceTemperature{37, 5};

constexpr int MeanLength = 79;
constexpr TSimField MeanAverages{6, 4};
constexpr TSimField MeanPeak{17, 4};
constexpr TSimField MeanSnr{28, 3};
constexpr TSimField MeanGain{38, 3};
constexpr TSimField MeanCount{49, 3};
constexpr TSimField MeanM1{57, 8};
constexpr TSimField MeanM2{69, 8};

constexpr int SampleLineLength = 11;   // "ffff,gggg" CR LF
constexpr int WaveHeaderLength = 11;   // "T=" temperature " C" CR LF

// Eight upper-case hex digits of the 32-bit two's complement.
QByteArray Hex32(qint32 value);
// Exactly five characters: 25.31, 09.50, -5.25, 100.0.
QByteArray Temperature5(double celsius);

QByteArray DifferenceReport(const TSimReading &reading);   // 44 characters, no line end
QByteArray MeanReport(const TSimReading &reading);         // 79 characters, no line end
QByteArray WaveHeader(double celsius);                     // 11 characters with CR LF
QByteArray SampleLine(int transmit, int receive);          // 11 characters with CR LF

// Free texts (each line ends in CR LF).
QByteArray MenuText();
QByteArray ParameterText(int samples);
QByteArray TemperatureText(double celsius);
QByteArray AveragedText(const TSimReading &reading);

// The characters a garbled record may lose: each field, except a last character that a reader
// drops when it is not a digit (the mean report's count, the sample fields).
QList<TSimField> DifferenceFields();
QList<TSimField> MeanFields();
QList<TSimField> SampleFields();

} // namespace SimRecords
