// Strip charts: modes 7 (two interleaved channels of 16-bit samples) and 8 (one channel of
// floats). Every update refills the frame and draws the whole window of samples again.

#include "display/Cgauge.h"
#include "display/CgaugePlot.h"

#include <cstring>

namespace {

constexpr int32_t LabelFontSize = 8;
constexpr int32_t AxisLabels = 9;
constexpr int32_t IndexLabelBox = 100; // width of the box that erases an old index label
constexpr int32_t IndexLabelHeight = 12;

// Height of a sample on the axis lo .. hi, held on the frame's inner edges.
int32_t SampleRow(float v, int64_t lo, float yScale, int32_t top, int32_t bottom)
{
    return PlotRow(double(bottom) - (double(v) - double(lo)) * double(yScale), top, bottom);
}

} // namespace

TGauge::TStripGeometry TGauge::StripGeometry() const
{
    // 64-bit, so that no centre and range overflow the sum.
    return {PlotFrame(10), int64_t(FVCenter) - FVRange, int64_t(FVCenter) + FVRange};
}

int64_t TGauge::SampleCount() const
{
    return FSamples ? int64_t(FSamples->size()) : 0;
}

void TGauge::SampleWindow(int64_t w, int64_t &first, int64_t &last) const
{
    last = SampleCount() - 1 - 2 * int64_t(FXShift);
    first = last < w ? 0 : last - w + 1;
}

void TGauge::DrawDualChannel()
{
    if (!FCanvas)
        return;
    const TStripGeometry g = StripGeometry();
    DrawPlotFrame(g, clCyan);
    SetTextFont(LabelFontSize, clCyan);
    FCanvas->Pen.Width = 1;
    // An axis without extent has no scale to label.
    if (g.hi == g.lo)
        return;

    const float yStep = float(g.B1 - g.T1 + 1) * 0.125f;
    const float valueStep = float(g.hi - g.lo) * 0.125f;
    float y = float(g.B1);
    float value = float(g.lo);
    const int32_t every = AxisLabelEvery(yStep, AxisLabels - 1);
    for (int32_t i = 0; i < AxisLabels; ++i) {
        if (i % every == 0)
            DrawAxisLabel(g.L1, int32_t(y), FixedText(value, 0));
        value += valueStep;
        y -= yStep;
    }
}

void TGauge::UpdateSingleChannel()
{
    if (!FCanvas || SampleCount() == 0)
        return;
    const TStripGeometry g = StripGeometry();
    DrawPlotFrame(g, clCyan);
    // No axis extent (or no span) gives no scale: the frame stays empty.
    if (g.hi == g.lo || FXSpan <= 0)
        return;
    int64_t first, last;
    SampleWindow(FXSpan, first, last);
    const float yScale = float(double(2 * g.hh - 2) / double(g.hi - g.lo));
    const float xStep = float(2 * g.hw - 12) / float(FXSpan);

    FCanvas->Pen.Width = 2;
    FCanvas->Pen.Color = clRed;
    float x = float(g.L1) + xStep * 0.5f;
    {
        TColumnTrace trace(*FCanvas);
        for (int64_t i = first; i <= last; ++i) {
            trace.Add(int32_t(x), SampleRow((*FSamples)[size_t(i)], g.lo, yScale, g.T1, g.B1));
            x += xStep;
        }
    }
    FCanvas->Pen.Width = 1;
}

void TGauge::UpdateDualChannel()
{
    if (!FCanvas || SampleCount() == 0)
        return;
    const TStripGeometry g = StripGeometry();
    DrawPlotFrame(g, clCyan);
    int64_t first, last;
    SampleWindow(2 * int64_t(FXSpan), first, last);

    FCanvas->Pen.Width = 1;
    if (g.hi != g.lo && FXSpan > 0) {
        static const TColor ChannelColours[4] = {clBlue, clRed, clYellow, clGreen};
        const float yScale = float(double(2 * g.hh - 2) / double(g.hi - g.lo));
        const float xStep = float(2 * g.hw - 12) / float(FXSpan);
        for (int32_t ch = 0; ch < 2; ++ch) {
            FCanvas->Pen.Color = ChannelColours[ch];
            float x = float(g.L1) + xStep * 0.5f;
            for (int64_t i = first + ch; i <= last; i += 2) {
                uint16_t sample = 0;
                std::memcpy(&sample, &(*FSamples)[size_t(i)], sizeof sample);
                const int32_t y = SampleRow(float(sample), g.lo, yScale, g.T1, g.B1);
                if (i == first + ch)
                    FCanvas->MoveTo(int32_t(x), y);
                else
                    FCanvas->LineTo(int32_t(x), y);
                x += xStep;
            }
        }
    }

    FCanvas->Pen.Color = clBlack;
    FCanvas->Brush.Color = clBlack;
    SetTextFont(LabelFontSize, clCyan);
    const int32_t y = g.B1 + 4;
    int32_t x = g.L1 + 4;
    FCanvas->Rectangle(x, y, x + IndexLabelBox, y + IndexLabelHeight);
    FCanvas->TextOut(x, y, QString::number(first));
    const QString lastText = QString::number(last);
    FCanvas->Rectangle(g.R1 - IndexLabelBox, y, g.R1, y + IndexLabelHeight);
    FCanvas->TextOut(g.R1 - FCanvas->TextWidth(lastText), y, lastText);
}
