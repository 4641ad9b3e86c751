#pragma once
// Small helpers that the gauge's drawing files share; not part of the gauge's interface.

#include "display/Canvas.h"
#include "platform/FixedText.h"

#include <QString>

#include <algorithm>
#include <cstdint>

// Where a value lands between a plot's inner top and bottom edges: the row as computed, held
// on the edges, truncated to a pixel; not-a-number goes to the bottom edge.
inline int32_t PlotRow(double y, int32_t top, int32_t bottom)
{
    float v = float(y);
    if (!(v <= float(bottom)))
        v = float(bottom);
    if (v < float(top))
        v = float(top);
    return int32_t(v);
}

using Platform::FixedText;

// A trace of many points in a pen 2 or more pixels wide, drawn with as few segments as paint
// the same pixels. Such a pen paints each segment with round ends, so the segments between
// points in one pixel column together paint one vertical stroke from the column's highest to
// its lowest point; that stroke, entered at the column's first point and left at its last,
// replaces them. A trace of 10000 values across some 700 columns then needs a few segments per
// column instead of 10000.
class TColumnTrace {
public:
    explicit TColumnTrace(TCanvas &canvas) : FCanvas(canvas) {}
    ~TColumnTrace() { Flush(); }
    TColumnTrace(const TColumnTrace &) = delete;
    TColumnTrace &operator=(const TColumnTrace &) = delete;

    // The first point moves the pen there, every later one is joined to the one before.
    void Add(int32_t x, int32_t y)
    {
        if (FStarted && x == FX) {
            FLow = std::min(FLow, y);
            FHigh = std::max(FHigh, y);
            FLast = y;
            return;
        }
        if (FStarted) {
            Flush();
            To(x, y);
        } else {
            FCanvas.MoveTo(x, y);
            FStarted = true;
        }
        FX = x;
        FLow = FHigh = FLast = y;
    }

private:
    void Flush()
    {
        if (!FStarted)
            return;
        // From the first point over both ends to the last; where the last is an end, that end
        // comes last (two points in a column stay one segment).
        if (FLast == FHigh) {
            To(FX, FLow);
            To(FX, FHigh);
        } else if (FLast == FLow) {
            To(FX, FHigh);
            To(FX, FLow);
        } else {
            To(FX, FLow);
            To(FX, FHigh);
            To(FX, FLast);
        }
    }
    void To(int32_t x, int32_t y)
    {
        if (FCanvas.PenPos() != QPoint(x, y))
            FCanvas.LineTo(x, y);
    }

    TCanvas &FCanvas;
    bool FStarted = false;
    int32_t FX = 0, FLow = 0, FHigh = 0, FLast = 0;
};
