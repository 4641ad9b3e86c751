// Renders every display mode of the gauge with sample data to PNG files, to look at:
//
//   gauge_pictures [FOLDER [WIDTH HEIGHT]]
//
// writes FOLDER/mode0.png .. mode9.png and dualtrend.png (UpdateDualTrend, which no mode draws)
// on a gauge of WIDTH x HEIGHT pixels (default: the current folder, 817 x 369, the main
// window's gauge). The values are fed one by one with an update after each, as in use, so the
// pictures also show that each update removes what the one before drew.

#include "display/Cgauge.h"

#include <QApplication>
#include <QDir>
#include <QImage>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int RingCapacity = 200;
constexpr int StripSamples = 3000;

// Repeatable noise in -1 .. 1.
float Noise(int i)
{
    return float((i * 7919) % 201 - 100) / 100.0f;
}

// Speeds in m/s around 1.2, and directions in degrees around 200.
float Speed(int i)
{
    return 1.2f + 0.6f * std::sin(float(i) * 0.06f) + 0.1f * Noise(i);
}

float Speed2(int i)
{
    return 0.8f + 0.4f * std::cos(float(i) * 0.05f) + 0.05f * Noise(i + 17);
}

float Direction(int i)
{
    return 200.0f + 40.0f * std::sin(float(i) * 0.045f) + 5.0f * Noise(i + 3);
}

struct TScene {
    const char *File;
    TGaugeMode Mode;
    const char *Unit;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const int width = argc > 3 ? std::atoi(argv[2]) : 817;
    const int height = argc > 3 ? std::atoi(argv[3]) : 369;
    if (width < 1 || height < 1 || !QDir().mkpath(folder)) {
        std::fprintf(stderr, "usage: gauge_pictures [FOLDER [WIDTH HEIGHT]]\n");
        return 2;
    }

    // Phases for mode 8, and two channels of 16-bit samples (interleaved) for mode 7.
    TSampleList phases, words;
    for (int i = 0; i < StripSamples; ++i) {
        phases.push_back(180.0f + 150.0f * std::sin(float(i) * 0.004f) + 8.0f * Noise(i));
        float cell = 0.0f;
        const float wave = i % 2 == 0 ? 180.0f + 120.0f * std::sin(float(i) * 0.01f)
                                      : 180.0f + 60.0f * std::cos(float(i) * 0.013f);
        const uint16_t word = uint16_t(wave);
        std::memcpy(&cell, &word, sizeof word);
        words.push_back(cell);
    }

    const TScene scenes[] = {
        {"mode0.png", TGaugeMode::DirectionDial, "m/s"},
        {"mode1.png", TGaugeMode::VelocityMeter, "m/s"},
        {"mode2.png", TGaugeMode::VelocityGauge, "degree"},
        {"mode3.png", TGaugeMode::RotationBall, "degree"},
        {"mode4.png", TGaugeMode::ValueIndicator, "m/s"},
        {"mode5.png", TGaugeMode::ValueTrend, "m/s"},
        {"mode6.png", TGaugeMode::AngleTrend, "degree"},
        {"mode7.png", TGaugeMode::DualChannel, "degree"},
        {"mode8.png", TGaugeMode::SingleChannel, "degree"},
        {"mode9.png", TGaugeMode::AngleIndicator, "degree"},
        {"dualtrend.png", TGaugeMode::ValueTrend, "m/s"},
    };
    for (const TScene &scene : scenes) {
        TGauge gauge(nullptr, width, height, 5);
        TCircularBuffer<float> values(RingCapacity), values2(RingCapacity), angles(RingCapacity);
        gauge.FValues = &values;
        gauge.FValues2 = &values2;
        gauge.FAngles = &angles;
        gauge.FSamples = scene.Mode == TGaugeMode::DualChannel ? &words : &phases;
        gauge.SetMode(scene.Mode);
        gauge.SetUnit(QString::fromLatin1(scene.Unit));
        gauge.SetZoom(2.0f); // the values' trend spans 4 m/s / 2 = 2 m/s
        const bool dual = QLatin1String(scene.File) == QLatin1String("dualtrend.png");
        // One and a half times round the buffers: the trends have scrolled.
        for (int i = 0; i < RingCapacity * 3 / 2; ++i) {
            values.Push(Speed(i));
            values2.Push(Speed2(i));
            angles.Push(Direction(i));
            if (dual)
                gauge.UpdateDualTrend();
            else
                gauge.UpdateDisplay();
        }
        const QString path = QDir(folder).filePath(QString::fromLatin1(scene.File));
        if (!gauge.Picture().save(path)) {
            std::fprintf(stderr, "gauge_pictures: cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
