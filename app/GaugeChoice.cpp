#include "app/GaugeChoice.h"

#include "app/Settings.h"
#include "engine/Engine.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

#include <cstring>

namespace {
constexpr int32_t PhaseSpan = 1600;      // values of the phase strip chart across its width
constexpr int32_t PhaseCentre = 180, PhaseRange = 180; // 0 to 360 degrees
constexpr int32_t SampleCentre = 2048, SampleRange = 2048; // the 12-bit samples
} // namespace

TGaugeChoice::TGaugeChoice(QObject *parent, QMenu *view, TGauge *gauge, TEngine *engine, TSettings *settings)
    : QObject(parent), FGauge(gauge), FEngine(engine), FSettings(settings)
{
    QMenu *display = view->addMenu("&Display");
    display->setObjectName("mmDisplay");
    FGroup = new QActionGroup(this);
    if (FSettings)
        for (const GaugeChoice::TModeName &mode : GaugeChoice::Modes)
            if (FSettings->GaugeMode() == int(mode.Mode))
                FMode = mode.Mode;
    for (const GaugeChoice::TModeName &mode : GaugeChoice::Modes) {
        QAction *item = display->addAction(QString::fromLatin1(mode.Caption));
        item->setObjectName(QString::fromLatin1(mode.ObjectName));
        item->setCheckable(true);
        item->setChecked(mode.Mode == FMode);
        FGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, chosen = mode.Mode] { Choose(chosen); });
    }
    connect(FEngine, &TEngine::BatchProcessed, this, &TGaugeChoice::TakeBatch);
    connect(FEngine, &TEngine::AcquireEnded, this, [this](bool whole) {
        if (whole)
            TakeWaveform();
    });
    TakeWaveform();
    Apply();
}

void TGaugeChoice::Choose(TGaugeMode mode)
{
    FMode = mode;
    for (QAction *item : FGroup->actions())
        for (const GaugeChoice::TModeName &name : GaugeChoice::Modes)
            if (item->objectName() == QLatin1String(name.ObjectName))
                item->setChecked(name.Mode == mode);
    if (FSettings)
        FSettings->SetGaugeMode(int(mode));
    Apply();
}

void TGaugeChoice::Apply()
{
    if (!FGauge)
        return;
    TGauge &gauge = *FGauge;
    const bool timeOfFlight = FMode == TGaugeMode::ValueIndicator || FMode == TGaugeMode::ValueTrend;
    gauge.FValues = gauge.FValues2 = timeOfFlight ? &FTimesOfFlight : &FPhases;
    gauge.FAngles = &FPhases;
    const bool waveform = FMode == TGaugeMode::DualChannel;
    gauge.FSamples = waveform ? &FChannels : &FEngine->Trend();
    // The scales before the mode, whose change draws them.
    if (timeOfFlight) {
        gauge.SetUnit("us");
        gauge.SetFullScale(TimeOfFlightFullScale);
    } else {
        gauge.SetUnit("degree");
    }
    gauge.SetZoom(1.0f);
    gauge.SetVCenter(waveform ? SampleCentre : PhaseCentre);
    gauge.SetVRange(waveform ? SampleRange : PhaseRange);
    gauge.SetXSpan(waveform ? ChannelLength : PhaseSpan);
    gauge.SetMode(FMode);
    gauge.ResetDisplay();
    gauge.UpdateDisplay();
}

void TGaugeChoice::TakeBatch(const TBatch &batch)
{
    // What the filter kept, as the trend and the logs have it.
    for (const TReport &report : batch) {
        if (!report.Kept)
            continue;
        FPhases.Push(report.Record.PhaseDeg);
        FTimesOfFlight.Push(report.Record.TimeOfFlight);
    }
}

void TGaugeChoice::TakeWaveform()
{
    FChannels.clear();
    FChannels.reserve(2 * size_t(ChannelLength));
    const TChannel &channel1 = FEngine->Channel1(), &channel2 = FEngine->Channel2();
    for (size_t i = 0; i < size_t(ChannelLength); ++i)
        for (const int16_t sample : {channel1[i], channel2[i]}) {
            // A cell of four bytes whose first two hold the sample, as the strip chart reads it.
            float cell = 0.0f;
            const uint16_t value = uint16_t(sample);
            std::memcpy(&cell, &value, sizeof value);
            FChannels.push_back(cell);
        }
    if (FGauge && FMode == TGaugeMode::DualChannel)
        FGauge->UpdateDisplay();
}
