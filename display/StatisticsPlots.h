#pragma once
// The pictures of the Statistics view, drawn with QPainter: a histogram of times of flight, the
// Allan deviation against the group size on log-log axes, and a trend of the time of flight
// against clock time. Each fills the rectangle it is given, axes and their texts included.

#include <QRect>

#include <cstdint>
#include <utility>
#include <vector>

class QFontMetrics;
class QPainter;

namespace StatisticsPlots {

// One value of the trend: when it came (ms since the epoch) and the time of flight (us).
struct TTrendPoint {
    int64_t TimeMs = 0;
    double TimeOfFlight = 0;
};

// The group sizes the Allan deviation is drawn for: 1, 2, 5, 10, 20, 50, ... while at least two
// whole groups fit in count values.
std::vector<int> AllanSpans(size_t count);
// (n, Allan deviation in ps) for each of AllanSpans, of values in us in order.
std::vector<std::pair<int, double>> AllanDeviations(const std::vector<double> &values);
// A step of 1, 2 or 5 times a power of ten that splits span into at most ticks parts.
double NiceStep(double span, int ticks);

// Where the plot itself lies inside rect, its axes' texts around it.
QRect PlotArea(const QRect &rect, const QFontMetrics &metrics);

// values in us; the axis counts picoseconds from their mean.
void DrawHistogram(QPainter &painter, const QRect &rect, const std::vector<double> &values);
void DrawAllan(QPainter &painter, const QRect &rect, const std::vector<std::pair<int, double>> &points);
// The points between lowMs and highMs (oldest first, in time order); the axis is clock time.
void DrawTrend(QPainter &painter, const QRect &rect, const std::vector<TTrendPoint> &points, double lowMs,
               double highMs);

} // namespace StatisticsPlots
