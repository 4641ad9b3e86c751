#include "sim/SimRecords.h"

#include <algorithm>
#include <cstdio>

namespace SimRecords {

namespace {

// Writes text into the record at a column; the record was pre-filled with blanks.
void Put(QByteArray &record, int offset, const QByteArray &text)
{
    record.replace(offset, text.size(), text);
}

QByteArray Printf(const char *format, int value)
{
    char buffer[32];
    int n = std::snprintf(buffer, sizeof buffer, format, value);
    return QByteArray(buffer, std::clamp(n, 0, static_cast<int>(sizeof buffer) - 1));
}

// Counts outside what a field can hold are pinned to its limits rather than overflowing it.
int Fit(int value, int low, int high) { return std::clamp(value, low, high); }

} // namespace

QByteArray Hex32(qint32 value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08X", static_cast<unsigned>(static_cast<quint32>(value)));
    return QByteArray(buffer, 8);
}

QByteArray Temperature5(double celsius)
{
    celsius = std::clamp(celsius, -9.99, 999.9);
    char buffer[32];
    if (celsius >= 99.995)
        std::snprintf(buffer, sizeof buffer, "%5.1f", celsius);
    else if (celsius >= 0.0)
        std::snprintf(buffer, sizeof buffer, "%05.2f", celsius);   // leading zero, never a blank
    else
        std::snprintf(buffer, sizeof buffer, "%5.2f", celsius);
    return QByteArray(buffer, 5);
}

QByteArray DifferenceReport(const TSimReading &r)
{
    QByteArray record(DifferenceLength, ' ');
    Put(record, 0, "TRFDIF");
    Put(record, DifferenceCount.Offset, Printf("%3d", Fit(r.Count, -99, 999)));
    Put(record, DifferenceM1.Offset - 4, " M1=");
    Put(record, DifferenceM1.Offset, Hex32(r.M1));
    Put(record, DifferenceM2.Offset - 4, " M2=");
    Put(record, DifferenceM2.Offset, Hex32(r.M2));
    Put(record, DifferenceTemperature.Offset - 3, " t=");
    Put(record, DifferenceTemperature.Offset, Temperature5(r.Temperature));
    Put(record, DifferenceTemperature.Offset + DifferenceTemperature.Length, " C");
    return record;
}

QByteArray MeanReport(const TSimReading &r)
{
    QByteArray record(MeanLength, ' ');
    Put(record, 0, "TMEAN");
    Put(record, MeanAverages.Offset, Printf("%4d", Fit(r.Averages, 0, 9999)));
    Put(record, MeanPeak.Offset - 7, "  PEAK=");
    Put(record, MeanPeak.Offset, Printf("%4d", Fit(r.Peak, 0, 9999)));
    Put(record, MeanSnr.Offset - 7, "   SNR=");
    Put(record, MeanSnr.Offset, Printf("%3d", Fit(r.Snr, -99, 999)));
    Put(record, MeanGain.Offset - 7, "  GAIN=");
    Put(record, MeanGain.Offset, Printf("%-3d", Fit(r.Gain, -99, 999)));
    Put(record, MeanCount.Offset - 8, "  DELAY=");
    Put(record, MeanCount.Offset, Printf("%-3d", Fit(r.Count, -99, 999)));
    Put(record, MeanM1.Offset - 5, "  M1=");
    Put(record, MeanM1.Offset, Hex32(r.M1));
    Put(record, MeanM2.Offset - 4, " M2=");
    Put(record, MeanM2.Offset, Hex32(r.M2));
    return record;
}

QByteArray WaveHeader(double celsius)
{
    return "T=" + Temperature5(celsius) + " C\r\n";
}

QByteArray SampleLine(int transmit, int receive)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%4d,%4d\r\n", Fit(transmit, -999, 9999), Fit(receive, -999, 9999));
    return QByteArray(buffer, SampleLineLength);
}

QByteArray MenuText()
{
    return "\r\n"
           "ZARN TOF-4 time of flight unit  firmware 2.07\r\n"
           "  (M) Menu\r\n"
           "  (A) Acquire Data\r\n"
           "  (C) Transmit Continuous Signal\r\n"
           "  (D) Display Parameters\r\n"
           "  (F) Write Program to Flash\r\n"
           "  (K) Test Keypad\r\n"
           "  (P) Enter New Parameters\r\n"
           "  (S) Send Acquired Data to Host\r\n"
           "  (T) Display Temperature\r\n"
           "  (V) Send Averaged Data\r\n"
           "  (X) Analyze Data\r\n"
           "  (Z) Analyze Acquired Data\r\n"
           "Enter command: \r\n";
}

QByteArray ParameterText(int samples)
{
    QByteArray text = "Parameters\r\n";
    text += "  Carrier frequency   4.000 MHz\r\n";
    text += "  Burst length        " + QByteArray::number(TSimModel::BurstCycles) + " cycles\r\n";
    text += "  Sample rate         64.000 MHz\r\n";
    text += "  Samples per block   " + QByteArray::number(samples) + "\r\n";
    text += "  Averages            64\r\n";
    text += "  Receiver gain       12 dB\r\n";
    text += "  Line                115200 8N1\r\n";
    return text;
}

QByteArray TemperatureText(double celsius)
{
    return "Temperature = " + Temperature5(celsius) + " C\r\n";
}

QByteArray AveragedText(const TSimReading &r)
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "AVG N=%d DELAY=%d M1=%s M2=%s TOF=%.4f us PH=%.3f deg\r\n", r.Averages,
                  r.Count, Hex32(r.M1).constData(), Hex32(r.M2).constData(), r.TimeOfFlight, r.PhaseDeg);
    return QByteArray(buffer);
}

QList<TSimField> DifferenceFields()
{
    return {DifferenceCount, DifferenceM1, DifferenceM2, DifferenceTemperature};
}

QList<TSimField> MeanFields()
{
    // A reader drops the count's third character when it is not a digit, so a spoiled third
    // character would turn 288 into a plausible 28; only the first two are spoiled.
    return {MeanAverages, MeanPeak, MeanSnr, MeanGain, {MeanCount.Offset, MeanCount.Length - 1}, MeanM1, MeanM2};
}

QList<TSimField> SampleFields()
{
    // Likewise a reader drops a sample field's fourth character when it is not a digit
    // ("204?" would read as 204): only the first three are spoiled.
    return {{0, 3}, {5, 3}};
}

} // namespace SimRecords
