#pragma once
// View > Display: the gauge's ten modes by name, one checked at a time, the choice kept between
// runs. Each mode is fed the quantity it suits: the phase for the dials, the angle trend and
// indicator and the strip chart; the kept time of flight in microseconds for the value indicator
// and trend; the two waveform channels for the two-channel strip chart.

#include "display/Cgauge.h"
#include "engine/Report.h"
#include "ringbuffer/CircularBuffer.h"

#include <QObject>
#include <QPointer>

class QActionGroup;
class QMenu;
class TEngine;
class TSettings;

namespace GaugeChoice {

struct TModeName {
    TGaugeMode Mode;
    const char *Caption;
    const char *ObjectName;
};

// In the menu's order; the first is the mode of a first start.
inline constexpr TModeName Modes[] = {
    {TGaugeMode::SingleChannel, "&Strip Chart of Phase", "mmDisplayStripChart"},
    {TGaugeMode::AngleTrend, "Phase &Trend", "mmDisplayAngleTrend"},
    {TGaugeMode::AngleIndicator, "&Phase Indicator", "mmDisplayAngleIndicator"},
    {TGaugeMode::DirectionDial, "&Direction Dial (phase)", "mmDisplayDirectionDial"},
    {TGaugeMode::VelocityMeter, "&Meter (phase)", "mmDisplayVelocityMeter"},
    {TGaugeMode::VelocityGauge, "&Compass (phase)", "mmDisplayVelocityGauge"},
    {TGaugeMode::RotationBall, "&Rotating Ball (phase)", "mmDisplayRotationBall"},
    {TGaugeMode::ValueIndicator, "Time of Flight &Indicator", "mmDisplayValueIndicator"},
    {TGaugeMode::ValueTrend, "Time of &Flight Trend", "mmDisplayValueTrend"},
    {TGaugeMode::DualChannel, "&Waveform Strip Chart", "mmDisplayDualChannel"},
};

} // namespace GaugeChoice

class TGaugeChoice : public QObject {
    Q_OBJECT
public:
    // Values kept for the ring-fed modes: the trends show this many.
    static constexpr int32_t ShownValues = 100;
    // The time-of-flight trend's scale: 0 to this many microseconds.
    static constexpr float TimeOfFlightFullScale = 8.0f;

    // Adds View > Display to the menu and shows the kept mode. The gauge, engine and settings
    // (which may be null) belong to the window.
    TGaugeChoice(QObject *parent, QMenu *view, TGauge *gauge, TEngine *engine, TSettings *settings);
    void Choose(TGaugeMode mode);
    TGaugeMode Mode() const { return FMode; }

private:
    void Apply();
    void TakeBatch(const TBatch &batch);
    void TakeWaveform();

    QPointer<TGauge> FGauge;
    TEngine *FEngine;
    TSettings *FSettings;
    TGaugeMode FMode = GaugeChoice::Modes[0].Mode;
    QActionGroup *FGroup = nullptr;
    TCircularBuffer<float> FPhases{ShownValues};
    TCircularBuffer<float> FTimesOfFlight{ShownValues};
    TSampleList FChannels; // the waveform, transmitted and received samples in turn
};
