#include "display/Cischart.h"

namespace {

constexpr int32_t DefaultCount = 1024;
constexpr int32_t DefaultWidth = 400;
constexpr int32_t DefaultHeight = 300;
constexpr int32_t BaselineAboveBottom = 8; // value 0 sits this far above the rectangle's end
constexpr float PerFullScale = 0.000244140625f; // 1 / 4096: a 12-bit converter
constexpr int32_t CursorOff = -4;          // a cursor position whose circle lies off the canvas
constexpr int32_t CursorRadius = 4;
constexpr int32_t MarkSize = 5;
constexpr int32_t MarkPenWidth = 2;

} // namespace

TCISChart::TCISChart(QObject *AOwner) : TComponent(AOwner) {}

TCISChart::TCISChart(QObject *AOwner, TCanvas *canvas)
    : TComponent(AOwner), FCanvas(canvas), FBackgroundColor(clNavy), FCount(DefaultCount)
{
    SetPosition(0, 0, DefaultWidth, DefaultHeight);
}

void TCISChart::SetCanvas(TCanvas *canvas)
{
    FCanvas = canvas;
}

void TCISChart::SetData(int32_t count, const int16_t *samples)
{
    FCount = count;
    FData = samples;
    UpdateXScale();
}

void TCISChart::SetPosition(int32_t left, int32_t top, int32_t width, int32_t height)
{
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
    FRight = FLeft + FWidth - 1;
    FBottom = FTop + FHeight - 1;
    FPlotWidth = FWidth - 2;
    FPlotHeight = FHeight - 2;
    FBaseline = FTop + FHeight - BaselineAboveBottom;
    UpdateXScale();
    FYScale = static_cast<float>(FPlotHeight) * PerFullScale;
}

void TCISChart::UpdateXScale()
{
    // Without samples there is no scale; nothing is drawn until a count of one or more comes.
    FXScale = FCount >= 1 ? static_cast<float>(FPlotWidth) / static_cast<float>(FCount) : 0.0f;
}

void TCISChart::SetBackgroundColor(TColor color)
{
    FBackgroundColor = color;
}

int32_t TCISChart::XOf(int32_t index) const
{
    // Products in double are exact, so the truncation is that of the true value.
    return FLeft + 1 + static_cast<int32_t>(static_cast<double>(index) * FXScale);
}

int32_t TCISChart::YOf(int32_t value) const
{
    return FBaseline - static_cast<int32_t>(static_cast<double>(value) * FYScale);
}

bool TCISChart::HasSeries() const
{
    return FCanvas && FData && FCount >= 1;
}

void TCISChart::SetPen(TColor color, int32_t width)
{
    FCanvas->Pen.Color = color;
    FCanvas->Pen.Width = width;
}

void TCISChart::Clear()
{
    if (FCanvas) {
        FCanvas->Pen.Width = 1;
        FCanvas->Pen.Color = clNavy; // the outline stays navy whatever the background
        FCanvas->Brush.Color = FBackgroundColor;
        FCanvas->Brush.Style = TBrushStyle::Solid;
        FCanvas->Rectangle(FLeft, FTop, FRight, FBottom);
    }
    FCursorX = CursorOff;
    FCursorY = CursorOff;
}

void TCISChart::DrawCurve(TColor color, int32_t width)
{
    if (!HasSeries())
        return;
    // The x positions accumulate in single precision; they may differ from XOf by a pixel.
    float x = static_cast<float>(FLeft) + 1.0f;
    SetPen(color, width);
    FCanvas->MoveTo(static_cast<int32_t>(x), YOf(FData[0]));
    for (int32_t i = 1; i < FCount; ++i) {
        x += FXScale;
        FCanvas->LineTo(static_cast<int32_t>(x), YOf(FData[i]));
    }
}

void TCISChart::DrawMark(int32_t index, TColor color)
{
    if (!HasSeries() || index < 0 || index >= FCount)
        return;
    const int32_t x = XOf(index), y = YOf(FData[index]);
    SetPen(color, MarkPenWidth);
    FCanvas->MoveTo(x - MarkSize, y - MarkSize);
    FCanvas->LineTo(x + MarkSize, y + MarkSize);
    FCanvas->MoveTo(x - MarkSize, y + MarkSize);
    FCanvas->LineTo(x + MarkSize, y - MarkSize);
}

void TCISChart::DrawVLine(int32_t index, TColor color, int32_t width)
{
    if (!FCanvas)
        return;
    const int32_t x = XOf(index);
    SetPen(color, width);
    FCanvas->MoveTo(x, FTop + 1);
    FCanvas->LineTo(x, FTop + FPlotHeight);
}

void TCISChart::DrawHLine(int32_t value, TColor color, int32_t width)
{
    if (!FCanvas)
        return;
    const int32_t y = YOf(value);
    SetPen(color, width);
    FCanvas->MoveTo(FLeft + 1, y);
    FCanvas->LineTo(FLeft + FPlotWidth, y);
}

void TCISChart::DrawHSegment(int32_t value, int32_t from, int32_t to, TColor color, int32_t width)
{
    if (!FCanvas)
        return;
    const int32_t y = YOf(value);
    SetPen(color, width);
    FCanvas->MoveTo(XOf(from), y);
    FCanvas->LineTo(XOf(to), y);
}

void TCISChart::DrawCursor(int32_t x, int32_t y)
{
    if (!FCanvas)
        return;
    FCanvas->Pen.Color = clWhite;
    FCanvas->Pen.Mode = TPenMode::Xor;
    FCanvas->Pen.Width = 1;
    FCanvas->Brush.Style = TBrushStyle::Clear;
    FCanvas->Ellipse(x - CursorRadius, y - CursorRadius, x + CursorRadius, y + CursorRadius);
    FCanvas->Pen.Mode = TPenMode::Copy;
}

void TCISChart::GetCursorValueAtXY(int32_t x, int32_t y, int32_t &index, int32_t &value)
{
    Q_UNUSED(y);
    if (!HasSeries() || FXScale <= 0 || x <= FLeft || x >= FRight)
        return;
    // Within the plot's columns the index is below the count; the float scale must not push the
    // last column past the series.
    const int32_t at = qMin(static_cast<int32_t>(static_cast<double>(x - FLeft - 1) / FXScale), FCount - 1);
    DrawCursor(FCursorX, FCursorY);
    index = at;
    value = FData[at];
    const int32_t cursorY = YOf(value);
    DrawCursor(x, cursorY);
    FCursorX = x;
    FCursorY = cursorY;
}
