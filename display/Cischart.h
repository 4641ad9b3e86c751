#pragma once
// TCISChart: a small drawing component that plots one series of 16-bit samples as a polyline on
// a canvas it is given, inside a rectangle it is given, and adds markers, reference lines and a
// measuring cursor. It owns neither the canvas nor the samples: the caller points it at both and
// asks it to draw. The vertical scale is fixed for 12-bit data: value 0 sits 7 pixels above the
// bottom edge, 4096 spans the plot height.

#include "display/Canvas.h"
#include "platform/Component.h"

#include <cstdint>

class TCISChart : public TComponent {
    Q_OBJECT
public:
    // Base construction only: no canvas, colour 0, count 0, until the caller sets them.
    explicit TCISChart(QObject *AOwner);
    // Draws on `canvas`: navy background, 1024 samples, rectangle (0, 0, 400, 300).
    TCISChart(QObject *AOwner, TCanvas *canvas);

    void SetCanvas(TCanvas *canvas);
    // The series: `count` samples from `samples`, which must stay alive while the chart draws.
    void SetData(int32_t count, const int16_t *samples);
    void SetPosition(int32_t left, int32_t top, int32_t width, int32_t height);
    // Takes effect at the next Clear.
    void SetBackgroundColor(TColor color);

    // Fills the rectangle (outlined in navy) and forgets the cursor.
    void Clear();
    void DrawCurve(TColor color, int32_t width);
    // An X-shaped marker on the sample at index.
    void DrawMark(int32_t index, TColor color);
    void DrawVLine(int32_t index, TColor color, int32_t width);
    void DrawHLine(int32_t value, TColor color, int32_t width);
    void DrawHSegment(int32_t value, int32_t from, int32_t to, TColor color, int32_t width);
    // The cursor circle in XOR: drawn a second time at the same place, it is gone.
    void DrawCursor(int32_t x, int32_t y);
    // Moves the cursor to the sample under canvas column x and returns its index and value;
    // outside the plot's columns (or without data) changes nothing. y is not used.
    void GetCursorValueAtXY(int32_t x, int32_t y, int32_t &index, int32_t &value);

    // Pixel of a sample index and of a sample value.
    int32_t XOf(int32_t index) const;
    int32_t YOf(int32_t value) const;

    TCanvas *Canvas() const { return FCanvas; }
    TColor BackgroundColor() const { return FBackgroundColor; }
    int32_t Left() const { return FLeft; }
    int32_t Top() const { return FTop; }
    int32_t Right() const { return FRight; }
    int32_t Bottom() const { return FBottom; }
    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    int32_t Count() const { return FCount; }
    int32_t PlotWidth() const { return FPlotWidth; }
    int32_t PlotHeight() const { return FPlotHeight; }
    int32_t Baseline() const { return FBaseline; }
    int32_t CursorX() const { return FCursorX; }
    int32_t CursorY() const { return FCursorY; }
    float XScale() const { return FXScale; }
    float YScale() const { return FYScale; }
    const int16_t *Data() const { return FData; }

private:
    void UpdateXScale();
    // A series to draw: canvas, data and a count of at least one.
    bool HasSeries() const;
    void SetPen(TColor color, int32_t width);

    TCanvas *FCanvas = nullptr;
    TColor FBackgroundColor = 0;
    int32_t FLeft = 0;
    int32_t FTop = 0;
    int32_t FRight = 0;
    int32_t FBottom = 0;
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    int32_t FCount = 0;
    int32_t FPlotWidth = 0;
    int32_t FPlotHeight = 0;
    int32_t FBaseline = 0;
    int32_t FCursorX = 0;
    int32_t FCursorY = 0;
    float FXScale = 0;
    float FYScale = 0;
    const int16_t *FData = nullptr;
};
