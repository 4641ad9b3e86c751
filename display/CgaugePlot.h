#pragma once
// Small helpers that the gauge's drawing files share; not part of the gauge's interface.

#include "platform/FixedText.h"

#include <QString>

#include <cstdint>

// Gap between an axis label's right end and the plot frame's inner left edge.
constexpr int32_t AxisLabelGap = 4;

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

// A number as the gauge shows it: fixed-point with the given decimals.
inline QString FixedText(double value, int decimals)
{
    return QString::fromLatin1(Platform::Fixed(value, decimals));
}
