// Numeric indicator (modes 4 and 9) and trends (modes 5 and 6, and the two-trace trend that
// no mode uses). Each update redraws its whole area: the indicator's box, the trend's frame
// with its grid and the whole buffer.

#include "display/Cgauge.h"
#include "display/CgaugePlot.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int32_t ResetBoxDivisor = 12;  // the yellow outline
constexpr int32_t UpdateBoxDivisor = 11; // the black box inside it that erases the number
constexpr double IndicatorFill = 0.8;    // share of the box's half width the number may take
constexpr int32_t NumberFontSize = 64;
constexpr int32_t UnitFontDrop = 44;     // the unit is this much smaller than the number
constexpr int32_t UnitFontSmallest = 8;
constexpr int32_t TrendLabelsPerHeight = 12; // label size: the frame's half height / 12
constexpr int32_t TrendLabelSmallest = 8;
constexpr int32_t TrendDivisions = 8;

// A trend span that gives a scale: not zero, not infinite, a number.
bool HasExtent(float span)
{
    return span != 0 && std::isfinite(span);
}

} // namespace

TGauge::TTrendGeometry TGauge::TrendGeometry() const
{
    const TPlotFrame f = PlotFrame(0);
    return {f, (f.B1 - f.T1 + 1) / TrendDivisions};
}

void TGauge::DrawTrendFrame(const TTrendGeometry &t)
{
    DrawPlotFrame(t, clYellow);
    FCanvas->Pen.Color = clGray;
    FCanvas->Pen.Width = 1;
    // A plot less than 8 pixels high has a step of 0: no grid rather than an endless one.
    if (t.g <= 0)
        return;
    for (int32_t y = t.B1 - t.g; y > t.T1; y -= t.g) {
        FCanvas->MoveTo(t.L1, y);
        FCanvas->LineTo(t.R1, y);
    }
}

void TGauge::DrawTrendTrace(const TTrendGeometry &t, const TCircularBuffer<float> *buffer, float xStep,
                            float yScale)
{
    if (!buffer || buffer->Count() == 0)
        return;
    // Magnitudes: a negative value stands at the height of its absolute value.
    float x = float(t.L1) + xStep * 0.5f;
    const auto row = [&](float v) {
        return PlotRow(double(t.B1) - double(std::fabs(v) * yScale), t.T1, t.B1);
    };
    TColumnTrace trace(*FCanvas);
    // Oldest first: from the slot the head will write next once full, else from slot 0.
    const int32_t capacity = buffer->Capacity();
    int32_t slot = buffer->Head() - buffer->Count();
    if (slot < 0)
        slot += capacity;
    trace.Add(int32_t(x), row(buffer->At(slot)));
    for (int32_t i = 1; i < buffer->Count(); ++i) {
        if (++slot >= capacity)
            slot -= capacity;
        x += xStep;
        trace.Add(int32_t(x), row(buffer->At(slot)));
    }
}

int32_t TGauge::IndicatorHalfWidth(int32_t divisor) const
{
    const int32_t m = FDrawSize.height() / divisor;
    return std::min(FDrawSize.height() - 2 * m, FDrawSize.width() / 2 - 2 * m);
}

void TGauge::DrawIndicator()
{
    const int32_t s = IndicatorHalfWidth(ResetBoxDivisor);
    FCanvas->Pen.Color = clYellow;
    FCanvas->Brush.Color = clBlack;
    FCanvas->Rectangle(FCenterX - s, FCenterY - s / 2, FCenterX + s, FCenterY + s / 2);
}

void TGauge::UpdateIndicator(float value)
{
    const int32_t s = IndicatorHalfWidth(UpdateBoxDivisor);
    FCanvas->Pen.Color = clBlack;
    FCanvas->Brush.Color = clBlack;
    FCanvas->Rectangle(FCenterX - s, FCenterY - s / 2, FCenterX + s, FCenterY + s / 2);
    // A value that is no number shows nothing rather than "nan" or "inf".
    const float shown = value * FUnitFactor;
    if (!std::isfinite(shown))
        return;

    const QString text = FixedText(shown, 2);
    SetTextFont(NumberFontSize, clYellow);
    // Beyond 0.8 of the box, the number also shrinks where it would stick out of the box (its
    // left end is 1.5 tw left of the centre): what stuck out would stay on the picture, as no
    // later update erases it.
    ShrinkFont(text, std::min(IndicatorFill * s, s / 1.5), false);
    const int32_t tw = FCanvas->TextWidth(text) / 2;
    ShrinkFont(text, std::min(IndicatorFill * s, s / 2.0), true);
    const int32_t th = FCanvas->TextHeight(text) / 2;
    // The number stands left of the centre and the unit follows it, a little lower.
    FCanvas->TextOut(int32_t(FCenterX - 1.5 * tw), FCenterY - th, text);
    FCanvas->Font.Size = std::max(FCanvas->Font.Size - UnitFontDrop, UnitFontSmallest);
    FCanvas->TextOut(FCenterX + tw / 2, FCenterY + th / 2, FUnit);
}

void TGauge::DrawTrend(float span)
{
    const TTrendGeometry t = TrendGeometry();
    DrawTrendFrame(t);
    // A span of 0 (or no number) is no scale: the frame and grid stand without labels.
    if (!HasExtent(span))
        return;
    // Bold, as the strip chart's labels.
    SetTextFont(std::max(t.hh / TrendLabelsPerHeight, TrendLabelSmallest), clYellow);
    const float step = span * 0.125f;
    float value = 0;
    int32_t y = t.B1;
    const int32_t every = AxisLabelEvery(float(t.g), TrendDivisions);
    for (int32_t i = 0; i <= TrendDivisions; ++i) {
        if (i % every == 0)
            DrawAxisLabel(t.L1, y, FixedText(value, value < 99 ? 1 : 0));
        value += step;
        y -= t.g;
    }
}

void TGauge::UpdateTrend(const TCircularBuffer<float> *buffer, float span)
{
    const TTrendGeometry t = TrendGeometry();
    DrawTrendFrame(t);
    if (!buffer || !HasExtent(span))
        return;
    const float yScale = float(2 * t.hh - 2) / span;
    const float xStep = float(2 * t.hw - 2) / float(buffer->Capacity());
    FCanvas->Pen.Width = 3;
    FCanvas->Pen.Color = clYellow;
    DrawTrendTrace(t, buffer, xStep, yScale);
    FCanvas->Pen.Width = 1;
}

void TGauge::UpdateDualTrend()
{
    if (!FCanvas)
        return;
    const TTrendGeometry t = TrendGeometry();
    DrawTrendFrame(t);
    if (!FValues || !HasExtent(ValueTrendSpan()))
        return;
    const float yScale = float(2 * t.hh - 2) / FFullScale * FUnitFactor * FZoom;
    const float xStep = float(2 * t.hw - 2) / float(FValues->Capacity());
    FCanvas->Pen.Width = 2;
    FCanvas->Pen.Color = clYellow;
    DrawTrendTrace(t, FValues, xStep, yScale);
    FCanvas->Pen.Color = clOlive;
    DrawTrendTrace(t, FValues2, xStep, yScale);
    FCanvas->Pen.Width = 1;
    update();
}
