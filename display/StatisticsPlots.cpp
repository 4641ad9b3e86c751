#include "display/StatisticsPlots.h"

#include <QDateTime>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace StatisticsPlots {

namespace {

constexpr double PicosecondsPerMicrosecond = 1e6;
constexpr int HistogramBins = 30;
// Values further apart than this are not joined on the trend.
constexpr double TrendGapMs = 5000;
const QColor PlotBackground(255, 255, 255);
const QColor GridColor(220, 220, 220);
const QColor AxisColor(0, 0, 0);
const QColor DataColor(0, 0, 128);
const QColor BarColor(70, 110, 190);

void Frame(QPainter &painter, const QRect &plot)
{
    painter.fillRect(plot, PlotBackground);
    painter.setPen(AxisColor);
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
}

void Title(QPainter &painter, const QRect &rect, const QString &text)
{
    painter.setPen(AxisColor);
    painter.drawText(rect.adjusted(2, 0, -2, 0), Qt::AlignTop | Qt::AlignHCenter, text);
}

void NoData(QPainter &painter, const QRect &plot)
{
    painter.setPen(QColor(128, 128, 128));
    painter.drawText(plot, Qt::AlignCenter, QStringLiteral("no values yet"));
}

// Decimals enough to tell ticks a step apart.
int DecimalsFor(double step)
{
    return step >= 1 ? 0 : std::min(9, int(std::ceil(-std::log10(step) - 1e-9)));
}

// Vertical ticks and grid for a linear axis from low to high (bottom to top).
void LinearYAxis(QPainter &painter, const QRect &plot, double low, double high, int decimals = -1)
{
    const QFontMetrics metrics = painter.fontMetrics();
    const double step = NiceStep(high - low, std::max(2, plot.height() / (metrics.height() * 2)));
    const int shown = decimals >= 0 ? decimals : DecimalsFor(step);
    for (double v = std::ceil(low / step) * step; v <= high + step * 1e-9; v += step) {
        const int y = plot.bottom() - int((v - low) / (high - low) * plot.height());
        painter.setPen(GridColor);
        painter.drawLine(plot.left() + 1, y, plot.right() - 1, y);
        painter.setPen(AxisColor);
        const QString text = QString::number(std::abs(v) < step * 1e-9 ? 0.0 : v, 'f', shown);
        painter.drawText(QRect(0, y - metrics.height() / 2, plot.left() - 3, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, text);
    }
}

} // namespace

std::vector<int> AllanSpans(size_t count)
{
    std::vector<int> spans;
    for (int64_t decade = 1;; decade *= 10)
        for (int64_t m : {1, 2, 5}) {
            const int64_t n = decade * m;
            if (size_t(2 * n) > count || n > std::numeric_limits<int>::max() / 2)
                return spans;
            spans.push_back(int(n));
        }
}

std::vector<std::pair<int, double>> AllanDeviations(const std::vector<double> &values)
{
    std::vector<std::pair<int, double>> points;
    if (values.empty())
        return points;
    // Offsets from the first value: sums of a few hundred thousand of them stay exact enough.
    const double reference = values.front();
    for (int n : AllanSpans(values.size())) {
        const size_t groups = values.size() / size_t(n);
        double previous = 0, squares = 0;
        for (size_t k = 0; k < groups; ++k) {
            double sum = 0;
            for (size_t i = k * size_t(n); i < (k + 1) * size_t(n); ++i)
                sum += values[i] - reference;
            const double mean = sum / n;
            if (k > 0)
                squares += (mean - previous) * (mean - previous);
            previous = mean;
        }
        points.emplace_back(n, std::sqrt(squares / (2.0 * double(groups - 1))) * PicosecondsPerMicrosecond);
    }
    return points;
}

double NiceStep(double span, int ticks)
{
    if (!(span > 0) || ticks < 1)
        return 1;
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw)
            return m * power;
    return 10 * power;
}

QRect PlotArea(const QRect &rect, const QFontMetrics &metrics)
{
    const int left = metrics.horizontalAdvance(QStringLiteral("4.541012")) + 6;
    const int top = metrics.height() + 2;
    const int bottom = 2 * metrics.height() + 4;
    return rect.adjusted(left, top, -16, -bottom);
}

void DrawHistogram(QPainter &painter, const QRect &rect, const std::vector<double> &values)
{
    const QRect plot = PlotArea(rect, painter.fontMetrics());
    const QFontMetrics metrics = painter.fontMetrics();
    Frame(painter, plot);
    if (values.empty()) {
        Title(painter, rect, QStringLiteral("Histogram"));
        NoData(painter, plot);
        return;
    }
    double mean = 0;
    for (double v : values)
        mean += (v - values.front());
    mean = values.front() + mean / double(values.size());
    const auto [least, most] = std::minmax_element(values.begin(), values.end());
    double low = (*least - mean) * PicosecondsPerMicrosecond, high = (*most - mean) * PicosecondsPerMicrosecond;
    if (high - low < 1e-3) {
        low -= 0.5;
        high += 0.5;
    }
    std::vector<int64_t> bins(HistogramBins, 0);
    for (double v : values) {
        const int bin = int((((v - mean) * PicosecondsPerMicrosecond) - low) / (high - low) * HistogramBins);
        ++bins[size_t(std::clamp(bin, 0, HistogramBins - 1))];
    }
    const int64_t tallest = *std::max_element(bins.begin(), bins.end());
    Title(painter, rect, QStringLiteral("Histogram, last %1").arg(values.size()));
    LinearYAxis(painter, plot, 0, double(tallest), 0);
    for (int b = 0; b < HistogramBins; ++b) {
        const int x0 = plot.left() + 1 + b * (plot.width() - 2) / HistogramBins;
        const int x1 = plot.left() + 1 + (b + 1) * (plot.width() - 2) / HistogramBins;
        const int h = int(double(bins[size_t(b)]) / double(tallest) * (plot.height() - 2));
        painter.fillRect(QRect(x0, plot.bottom() - h, std::max(1, x1 - x0 - 1), h), BarColor);
    }
    const double step = NiceStep(high - low, std::max(2, plot.width() / (metrics.horizontalAdvance("-0000.0") + 8)));
    painter.setPen(AxisColor);
    for (double v = std::ceil(low / step) * step; v <= high + step * 1e-9; v += step) {
        const int x = plot.left() + int((v - low) / (high - low) * plot.width());
        painter.drawLine(x, plot.bottom(), x, plot.bottom() + 3);
        painter.drawText(QRect(x - 40, plot.bottom() + 3, 80, metrics.height()), Qt::AlignHCenter | Qt::AlignTop,
                         QString::number(std::abs(v) < step * 1e-9 ? 0.0 : v, 'f', DecimalsFor(step)));
    }
    painter.drawText(rect.adjusted(0, 0, 0, -1), Qt::AlignBottom | Qt::AlignHCenter,
                     QStringLiteral("time of flight - mean (ps)"));
}

void DrawAllan(QPainter &painter, const QRect &rect, const std::vector<std::pair<int, double>> &points)
{
    const QRect plot = PlotArea(rect, painter.fontMetrics());
    const QFontMetrics metrics = painter.fontMetrics();
    Frame(painter, plot);
    Title(painter, rect, QStringLiteral("Allan deviation (ps)"));
    std::vector<std::pair<int, double>> shown;
    for (const auto &point : points)
        if (point.second > 0)
            shown.push_back(point);
    if (shown.empty()) {
        NoData(painter, plot);
        return;
    }
    // Whole decades on both axes.
    const double xHigh = std::max(1.0, std::ceil(std::log10(double(shown.back().first)) + 1e-9));
    double yLow = std::numeric_limits<double>::max(), yHigh = -yLow;
    for (const auto &point : shown) {
        yLow = std::min(yLow, std::log10(point.second));
        yHigh = std::max(yHigh, std::log10(point.second));
    }
    yLow = std::floor(yLow);
    yHigh = std::max(yLow + 1, std::ceil(yHigh));
    const auto xOf = [&](double n) { return plot.left() + int(std::log10(n) / xHigh * (plot.width() - 1)); };
    const auto yOf = [&](double v) {
        return plot.bottom() - int((std::log10(v) - yLow) / (yHigh - yLow) * (plot.height() - 1));
    };
    for (int d = 0; d <= int(xHigh); ++d) {
        const int x = xOf(std::pow(10.0, d));
        painter.setPen(GridColor);
        painter.drawLine(x, plot.top() + 1, x, plot.bottom() - 1);
        painter.setPen(AxisColor);
        painter.drawText(QRect(x - 40, plot.bottom() + 3, 80, metrics.height()), Qt::AlignHCenter | Qt::AlignTop,
                         QString::number(std::pow(10.0, d), 'g', 12));
    }
    for (int d = int(yLow); d <= int(yHigh); ++d) {
        const int y = yOf(std::pow(10.0, d));
        painter.setPen(GridColor);
        painter.drawLine(plot.left() + 1, y, plot.right() - 1, y);
        painter.setPen(AxisColor);
        painter.drawText(QRect(0, y - metrics.height() / 2, plot.left() - 3, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(std::pow(10.0, d), 'g', 6));
    }
    painter.drawText(rect.adjusted(0, 0, 0, -1), Qt::AlignBottom | Qt::AlignHCenter, QStringLiteral("n (values per group)"));
    painter.setPen(QPen(DataColor, 1));
    QPoint last;
    for (size_t i = 0; i < shown.size(); ++i) {
        const QPoint p(xOf(shown[i].first), yOf(shown[i].second));
        if (i > 0)
            painter.drawLine(last, p);
        painter.drawRect(p.x() - 2, p.y() - 2, 4, 4);
        last = p;
    }
}

void DrawTrend(QPainter &painter, const QRect &rect, const std::vector<TTrendPoint> &points, double lowMs,
               double highMs)
{
    const QRect plot = PlotArea(rect, painter.fontMetrics());
    const QFontMetrics metrics = painter.fontMetrics();
    Frame(painter, plot);
    Title(painter, rect, QStringLiteral("Time of flight (us)"));
    const auto first = std::lower_bound(points.begin(), points.end(), lowMs,
                                        [](const TTrendPoint &p, double ms) { return double(p.TimeMs) < ms; });
    const auto last = std::upper_bound(points.begin(), points.end(), highMs,
                                       [](double ms, const TTrendPoint &p) { return ms < double(p.TimeMs); });
    if (first >= last) {
        NoData(painter, plot);
        return;
    }
    double low = first->TimeOfFlight, high = low;
    for (auto p = first; p != last; ++p) {
        low = std::min(low, p->TimeOfFlight);
        high = std::max(high, p->TimeOfFlight);
    }
    const double pad = std::max((high - low) * 0.05, 1e-6);
    low -= pad;
    high += pad;
    LinearYAxis(painter, plot, low, high);
    const double span = std::max(highMs - lowMs, 1.0);
    // Clock time on the axis, with seconds' decimals when the span is short.
    const double step = NiceStep(span, std::max(2, plot.width() / (metrics.horizontalAdvance("00:00:00.0") + 12)));
    const QString format = step < 1000 ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss");
    painter.setPen(AxisColor);
    // A time whose text would run past the picture's right edge (or into the one before) goes
    // unlabelled; its tick stays.
    int labelsEnd = rect.left();
    for (double t = std::ceil(lowMs / step) * step; t <= highMs; t += step) {
        const int x = plot.left() + int((t - lowMs) / span * plot.width());
        painter.drawLine(x, plot.bottom(), x, plot.bottom() + 3);
        const QString text = QDateTime::fromMSecsSinceEpoch(int64_t(t)).toString(format);
        const int width = metrics.horizontalAdvance(text);
        const int left = x - width / 2;
        if (left < labelsEnd || left + width > rect.right())
            continue;
        painter.drawText(QRect(left, plot.bottom() + 3, width, metrics.height()), Qt::AlignHCenter | Qt::AlignTop, text);
        labelsEnd = left + width + metrics.horizontalAdvance(QLatin1Char(' '));
    }
    painter.drawText(rect.adjusted(0, 0, 0, -1), Qt::AlignBottom | Qt::AlignHCenter,
                     QDateTime::fromMSecsSinceEpoch(int64_t(lowMs)).toString(QStringLiteral("'clock time, from' yyyy-MM-dd HH:mm:ss")));
    // A column of the plot shows the least and most of its values: millions of them draw as fast
    // as a few thousand.
    painter.setClipRect(plot.adjusted(1, 1, -1, -1));
    painter.setPen(DataColor);
    const auto yOf = [&](double v) { return plot.bottom() - int((v - low) / (high - low) * plot.height()); };
    int column = -1, top = 0, bottom = 0, lastY = 0;
    bool any = false;
    for (auto p = first; p != last; ++p) {
        const int x = plot.left() + int((double(p->TimeMs) - lowMs) / span * (plot.width() - 1));
        const int y = yOf(p->TimeOfFlight);
        // No line across a stretch without values (a port lost, the Runs in between): it
        // would look like values that were never measured.
        const bool joined = any && p != first && double(p->TimeMs - (p - 1)->TimeMs) <= TrendGapMs;
        if (x != column) {
            if (any)
                painter.drawLine(column, top, column, bottom);
            if (joined)
                painter.drawLine(column, lastY, x, y);
            column = x;
            top = bottom = y;
            any = true;
        }
        top = std::min(top, y);
        bottom = std::max(bottom, y);
        lastY = y;
    }
    if (any)
        painter.drawLine(column, top, column, bottom);
    painter.setClipping(false);
}

} // namespace StatisticsPlots
