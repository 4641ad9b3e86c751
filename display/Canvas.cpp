#include "display/Canvas.h"

#include <QFontMetrics>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// Wide lines whose runs are kept: extents up to this in either direction, and so many lines
// (a strip chart's lines need a few hundred; the bound keeps the memory small whatever is drawn).
constexpr int32_t WideLineMaxExtent = 1024;
constexpr size_t WideLineShapes = 4096;

constexpr double ScreenDpi = 96.0;
constexpr double PointsPerInch = 72.0;

// Angle of a ray from the centre of the ellipse as the parameter of the ellipse point it
// crosses, in degrees counter-clockwise on the screen (y grows downwards).
double ArcParameter(double dx, double dy, double rx, double ry)
{
    const double ux = rx > 0 ? dx / rx : dx;
    const double uy = ry > 0 ? dy / ry : dy;
    if (ux == 0 && uy == 0)
        return 0;
    return std::atan2(-uy, ux) * 180.0 / M_PI;
}

} // namespace

TCanvas::TCanvas(QImage *image) : FImage(image) {}

TCanvas::~TCanvas()
{
    End();
}

void TCanvas::SetImage(QImage *image)
{
    End();
    FImage = image;
}

void TCanvas::End()
{
    if (FPainter) {
        FPainter->end();
        FPainter.reset();
    }
}

bool TCanvas::Begin()
{
    if (!FPainter) {
        if (!FImage || FImage->isNull())
            return false;
        FPainter = std::make_unique<QPainter>();
        if (!FPainter->begin(FImage)) {
            FPainter.reset();
            return false;
        }
        FPainter->setRenderHint(QPainter::Antialiasing, false);
        FPainter->setRenderHint(QPainter::TextAntialiasing, false);
    }
    const QPainter::CompositionMode mode = Pen.Mode == TPenMode::Xor
                                               ? QPainter::RasterOp_SourceXorDestination
                                               : QPainter::CompositionMode_SourceOver;
    if (FPainter->compositionMode() != mode)
        FPainter->setCompositionMode(mode);
    return true;
}

void TCanvas::ApplyStrokePen()
{
    const int32_t width = std::max<int32_t>(Pen.Width, 1);
    const QColor color = QColor::fromRgb(Pen.Color);
    const Qt::PenCapStyle cap = width == 1 ? Qt::FlatCap : Qt::RoundCap;
    const QPen &current = FPainter->pen();
    if (current.style() == Qt::SolidLine && current.color() == color
        && current.width() == width && current.capStyle() == cap)
        return;
    // One pixel: the cosmetic line without end cap leaves out the last point. Wider: round
    // ends and joins, centred on the line.
    FPainter->setPen(QPen(color, width, Qt::SolidLine, cap,
                          width == 1 ? Qt::MiterJoin : Qt::RoundJoin));
}

void TCanvas::ApplyNoPen()
{
    if (FPainter->pen().style() != Qt::NoPen)
        FPainter->setPen(Qt::NoPen);
}

void TCanvas::FillBox(int32_t x1, int32_t y1, int32_t x2, int32_t y2, TColor color)
{
    if (x2 > x1 && y2 > y1)
        FPainter->fillRect(QRect(x1, y1, x2 - x1, y2 - y1), QColor::fromRgb(color));
}

void TCanvas::MoveTo(int32_t x, int32_t y)
{
    FPenPos = QPoint(x, y);
}

void TCanvas::LineTo(int32_t x, int32_t y)
{
    const QPoint to(x, y);
    if (Begin()) {
        if (Pen.Width <= 1) {
            ThinLine(FPenPos.x(), FPenPos.y(), x, y);
        } else if (!WideLine(FPenPos.x(), FPenPos.y(), x, y)) {
            ApplyStrokePen();
            FPainter->drawLine(FPenPos, to);
        }
    }
    FPenPos = to;
}

bool TCanvas::WideLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    // Only opaque copies: there QPainter's pixels are the pen's colour, whatever was below.
    const int32_t dx = x1 - x0, dy = y1 - y0;
    // Runs are in device pixels: a picture at a screen's pixel ratio is left to the painter.
    if (FImage->devicePixelRatio() != 1.0 || Pen.Mode != TPenMode::Copy || qAlpha(Pen.Color) != 255
        || std::abs(dx) > WideLineMaxExtent
        || std::abs(dy) > WideLineMaxExtent || Pen.Width > 64)
        return false;
    const int32_t width = Pen.Width;
    const uint64_t key = (uint64_t(uint32_t(width)) << 48) | (uint64_t(uint16_t(int16_t(dx))) << 16)
                         | uint64_t(uint16_t(int16_t(dy)));
    auto found = FWideRuns.find(key);
    if (found == FWideRuns.end()) {
        if (FWideRuns.size() >= WideLineShapes)
            FWideRuns.clear();
        // The line as QPainter paints it, on a scratch image a margin wider than the pen.
        const int32_t pad = width + 2;
        const QPoint from(pad + std::max(0, -dx), pad + std::max(0, -dy));
        QImage scratch(std::abs(dx) + 2 * pad + 1, std::abs(dy) + 2 * pad + 1, QImage::Format_RGB32);
        scratch.fill(Qt::black);
        {
            QPainter painter(&scratch);
            painter.setRenderHint(QPainter::Antialiasing, false);
            painter.setPen(QPen(Qt::white, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawLine(from, from + QPoint(dx, dy));
        }
        std::vector<TRun> runs;
        for (int32_t y = 0; y < scratch.height(); ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(scratch.constScanLine(y));
            for (int32_t x = 0; x < scratch.width(); ++x) {
                if (line[x] == 0xffffffffu) {
                    int32_t end = x;
                    while (end + 1 < scratch.width() && line[end + 1] == 0xffffffffu)
                        ++end;
                    runs.push_back({int16_t(y - from.y()), int16_t(x - from.x()), int16_t(end - from.x())});
                    x = end;
                }
            }
        }
        found = FWideRuns.emplace(key, std::move(runs)).first;
    }
    const QRgb color = Pen.Color;
    const int32_t imageWidth = FImage->width(), imageHeight = FImage->height();
    uchar *bits = FImage->bits();
    const qsizetype stride = FImage->bytesPerLine();
    for (const TRun &run : found->second) {
        const int32_t y = y0 + run.Dy;
        const int32_t from = std::max(0, x0 + run.X0), to = std::min(imageWidth - 1, x0 + run.X1);
        if (y < 0 || y >= imageHeight || from > to)
            continue;
        std::fill_n(reinterpret_cast<QRgb *>(bits + y * stride) + from, to - from + 1, color);
    }
    return true;
}

void TCanvas::ThinLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    // QPainter's one-pixel lines leave out whichever end comes last in its own drawing order,
    // which is not always the line's end; so these pixels are set here, from the start point.
    const int64_t dx = std::abs(int64_t(x1) - x0), dy = std::abs(int64_t(y1) - y0);
    const int32_t sx = x1 > x0 ? 1 : -1, sy = y1 > y0 ? 1 : -1;
    const int64_t steps = std::max(dx, dy);
    const int64_t minor = std::min(dx, dy);
    const QRgb color = Pen.Color | 0xff000000u;
    const bool xorMode = Pen.Mode == TPenMode::Xor;
    const int32_t width = FImage->width(), height = FImage->height();
    QRgb *bits = reinterpret_cast<QRgb *>(FImage->bits());
    const qsizetype stride = FImage->bytesPerLine() / qsizetype(sizeof(QRgb));
    // On a picture drawn at a screen's pixel ratio each point covers its block of device pixels.
    const double ratio = FImage->devicePixelRatio();
    const auto device = [ratio](int64_t v) { return int64_t(std::floor(double(v) * ratio)); };
    int64_t x = x0, y = y0;
    // Bresenham: the error term starts half a step in, so the minor axis moves at the midpoint.
    int64_t error = steps / 2;
    for (int64_t i = 0; i < steps; ++i) {
        if (ratio == 1.0) {
            if (x >= 0 && y >= 0 && x < width && y < height) {
                QRgb &pixel = bits[y * stride + x];
                pixel = xorMode ? (pixel ^ (color & 0x00ffffffu)) : color;
            }
        } else {
            for (int64_t py = std::max<int64_t>(device(y), 0); py < std::min<int64_t>(device(y + 1), height); ++py)
                for (int64_t px = std::max<int64_t>(device(x), 0); px < std::min<int64_t>(device(x + 1), width); ++px) {
                    QRgb &pixel = bits[py * stride + px];
                    pixel = xorMode ? (pixel ^ (color & 0x00ffffffu)) : color;
                }
        }
        error += minor;
        if (error >= steps) {
            error -= steps;
            if (dx >= dy)
                y += sy;
            else
                x += sx;
        }
        if (dx >= dy)
            x += sx;
        else
            y += sy;
    }
}

void TCanvas::Rectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    if (x1 > x2)
        std::swap(x1, x2);
    if (y1 > y2)
        std::swap(y1, y2);
    if (x2 == x1 || y2 == y1 || !Begin())
        return;
    const int32_t w = std::max<int32_t>(Pen.Width, 1);
    // The bands never overlap, so an XOR outline changes every pixel exactly once.
    if (x2 - x1 <= 2 * w || y2 - y1 <= 2 * w) {
        FillBox(x1, y1, x2, y2, Pen.Color);
        return;
    }
    FillBox(x1, y1, x2, y1 + w, Pen.Color);
    FillBox(x1, y2 - w, x2, y2, Pen.Color);
    FillBox(x1, y1 + w, x1 + w, y2 - w, Pen.Color);
    FillBox(x2 - w, y1 + w, x2, y2 - w, Pen.Color);
    if (Brush.Style == TBrushStyle::Solid)
        FillBox(x1 + w, y1 + w, x2 - w, y2 - w, Brush.Color);
}

QRectF TCanvas::EllipseBox(int32_t x1, int32_t y1, int32_t x2, int32_t y2) const
{
    // An aliased one-pixel outline of this box paints from x1 to x2-1 inclusive.
    return QRectF(QPointF(std::min(x1, x2), std::min(y1, y2)),
                  QPointF(std::max(x1, x2) - 1, std::max(y1, y2) - 1));
}

void TCanvas::Ellipse(int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    if (x1 == x2 || y1 == y2 || !Begin())
        return;
    ApplyStrokePen();
    FPainter->setBrush(Brush.Style == TBrushStyle::Solid ? QBrush(QColor::fromRgb(Brush.Color))
                                                         : QBrush(Qt::NoBrush));
    FPainter->drawEllipse(EllipseBox(x1, y1, x2, y2));
}

void TCanvas::Arc(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3,
                  int32_t x4, int32_t y4)
{
    if (x1 == x2 || y1 == y2 || !Begin())
        return;
    const QRectF box = EllipseBox(x1, y1, x2, y2);
    const QPointF c = box.center();
    const double rx = box.width() / 2, ry = box.height() / 2;
    const double start = ArcParameter(x3 - c.x(), y3 - c.y(), rx, ry);
    const double end = ArcParameter(x4 - c.x(), y4 - c.y(), rx, ry);
    // Sweep in (0, 360]: equal rays go all the way round.
    double sweep = ArcDirection == TArcDirection::CounterClockwise ? end - start : start - end;
    sweep = std::fmod(sweep, 360.0);
    if (sweep <= 0)
        sweep += 360.0;
    if (ArcDirection == TArcDirection::Clockwise)
        sweep = -sweep;
    QPainterPath path;
    path.arcMoveTo(box, start);
    path.arcTo(box, start, sweep);
    ApplyStrokePen();
    FPainter->strokePath(path, FPainter->pen());
}

QFont TCanvas::QtFont(const TFont &font)
{
    QFont f(font.Name);
    f.setStyleHint(QFont::SansSerif, QFont::NoAntialias);
    f.setPixelSize(std::max(1, int(std::lround(font.Size * ScreenDpi / PointsPerInch))));
    f.setBold(font.Bold);
    return f;
}

void TCanvas::TextOut(int32_t x, int32_t y, const QString &text)
{
    if (text.isEmpty() || !Begin())
        return;
    const QFont font = QtFont(Font);
    const QFontMetrics metrics(font);
    if (Brush.Style == TBrushStyle::Solid)
        FillBox(x, y, x + metrics.horizontalAdvance(text), y + metrics.height(), Brush.Color);
    FPainter->setFont(font);
    FPainter->setPen(QColor::fromRgb(Font.Color));
    FPainter->drawText(QPoint(x, y + metrics.ascent()), text);
}

int32_t TCanvas::TextWidth(const QString &text) const
{
    return QFontMetrics(QtFont(Font)).horizontalAdvance(text);
}

int32_t TCanvas::TextHeight(const QString &text) const
{
    Q_UNUSED(text);
    return QFontMetrics(QtFont(Font)).height();
}
