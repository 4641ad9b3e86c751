// Dials: modes 0 (direction dial with value), 1 (velocity meter), 2 (velocity gauge) and
// 3 (rotation ball). Each update erases the previous pointer by drawing it again, at the
// previous value, in the colour underneath; then draws the new one. A direction that is no
// number (or infinite) has no pointer: there is nothing to draw, and so nothing to erase.

#include "display/Cgauge.h"
#include "display/CgaugePlot.h"

#include <algorithm>
#include <cmath>

namespace {

// Points around a centre c at radius rho and direction a (radians), truncated to pixels.
// Compass (modes 0 and 2): 0 at the top, clockwise.
QPoint Compass(QPoint c, double rho, float a)
{
    return QPoint(c.x() + int32_t(rho * std::sin(a)), c.y() - int32_t(rho * std::cos(a)));
}

// Meter (mode 1): 0 straight down, clockwise, so 60 degrees is lower left and 180 the top.
QPoint MeterPoint(QPoint c, double rho, float a)
{
    return QPoint(c.x() - int32_t(rho * std::sin(a)), c.y() + int32_t(rho * std::cos(a)));
}

// Ball (modes 2 and 3): 0 at the bottom, 90 degrees at the right.
QPoint BallPoint(QPoint c, double rho, float a)
{
    return QPoint(c.x() + int32_t(rho * std::sin(a)), c.y() + int32_t(rho * std::cos(a)));
}

void Segment(TCanvas &canvas, QPoint from, QPoint to)
{
    canvas.MoveTo(from.x(), from.y());
    canvas.LineTo(to.x(), to.y());
}

// An ellipse of a float radius, its box truncated to pixels.
void Circle(TCanvas &canvas, QPoint c, double radius)
{
    canvas.Ellipse(int32_t(c.x() - radius), int32_t(c.y() - radius), int32_t(c.x() + radius),
                   int32_t(c.y() + radius));
}

// A filled disc in one colour.
void Disc(TCanvas &canvas, QPoint c, double radius, TColor colour)
{
    canvas.Pen.Color = colour;
    canvas.Brush.Color = colour;
    Circle(canvas, c, radius);
}

// Mode 0: the scale's labels stand outside the ring, beyond the band of the angles' spread, and
// within the picture: half a label's height (10 points) above the top one and below the bottom one.
constexpr float DialLabelHalf = 9;
constexpr float DialLabelGap = 17; // the least distance of a label's centre from the ring
constexpr float DialSpreadGap = 4; // the spread's band, 6 wide, about this far outside the ring

float DialLabelDistance(float radius)
{
    return radius + std::max(radius / 8, DialLabelGap);
}

// Mode 0: the ring's outer radius, from the height, as large as the labels let it be.
float DialRadius(int32_t height)
{
    const float room = float(height) * 0.5f - DialLabelHalf;
    return std::max(0.0f, std::min(room / 1.125f, room - DialLabelGap));
}

// Mode 1: the scale's radius and its pivot, below the centre.
struct TMeter {
    float Rv;
    QPoint Pivot;
};

TMeter Meter(int32_t height, QPoint centre)
{
    const float rv = float((height + 40) / 2);
    return {rv, QPoint(centre.x(), int32_t(float(centre.y()) + rv * 0.25f))};
}

constexpr int32_t DialLabelSize = 10;
constexpr int32_t ValueFontSize = 36;
constexpr float MeterSweep = 240;  // degrees from 0 to the full scale
constexpr float MeterStart = 60;   // where 0 points
constexpr int32_t GaugeRim = 150;  // modes 2 and 3: radius of the disc
constexpr int32_t GaugeFace = 130; // mode 2: the silver face inside the grey rim
constexpr int32_t NeedleLength = 128;
constexpr int32_t NeedleTail = 20;
constexpr int32_t HubRadius = 6;
constexpr int32_t BallRadius = 24;
constexpr int32_t MarkRadius = 4;

// Modes 2 and 3 are drawn for a gauge at least 2 x GaugeRim high and wide; a smaller one draws
// them smaller, whole, rather than cut off at its edges.
double DiscScale(QSize size)
{
    const double room = std::min(size.width(), size.height()) / 2.0 - 2;
    return std::clamp(room / GaugeRim, 0.1, 1.0);
}

} // namespace

void TGauge::DrawVelocityDirection()
{
    const QPoint c(FCenterX, FCenterY);
    const float r = DialRadius(FDrawSize.height());
    Disc(*FCanvas, c, r, clYellow);
    Disc(*FCanvas, c, r - r / 16, clBlack);

    // On a small dial the labels of every 30 degrees would run into each other: every 90 then.
    SetTextFont(DialLabelSize, clWhite);
    const float labelSpacing = DialLabelDistance(r) * 30 * FDegToRad;
    const int32_t labelStep = labelSpacing < float(FCanvas->TextWidth(QStringLiteral("330 "))) ? 90 : 30;
    FCanvas->Pen.Width = 3;
    for (int32_t d = 0; d <= 330; d += 30) {
        const float a = float(d) * FDegToRad;
        FCanvas->Pen.Color = clWhite;
        Segment(*FCanvas, Compass(c, r - r / 8, a), Compass(c, r - r / 16, a));
        FCanvas->Pen.Color = clBlack; // a notch through the ring
        Segment(*FCanvas, Compass(c, r - r / 16, a), Compass(c, r, a));
        if (d % labelStep != 0)
            continue;
        // A label's edge clear of the spread's band, whichever way it points.
        const QString text = QString::number(d);
        const float halfWidth = float(FCanvas->TextWidth(text)) / 2, halfHeight = float(FCanvas->TextHeight(text)) / 2;
        const float clear = r + DialSpreadGap + 5 + std::abs(std::sin(a)) * halfWidth + std::abs(std::cos(a)) * halfHeight;
        const QPoint label = Compass(c, std::max(DialLabelDistance(r), clear), a);
        DrawIndicatorText(label.x(), label.y(), DialLabelSize, clWhite, text);
    }
    FCanvas->Pen.Width = 1;
    FCanvas->Pen.Color = clBlack;
    for (int32_t d = 0; d <= 355; d += 5) {
        const float a = float(d) * FDegToRad;
        Segment(*FCanvas, Compass(c, r - r / 16, a), Compass(c, r - r / 32, a));
    }
}

void TGauge::DrawAngleIndication(float angle)
{
    FCanvas->Pen.Color = clBlack;
    DrawAngleArrow(FLastAngle * FDegToRad);
    FCanvas->Pen.Color = clWhite;
    DrawAngleArrow(angle * FDegToRad);
}

void TGauge::DrawAngleArrow(float direction)
{
    if (!std::isfinite(direction))
        return;
    const QPoint c(FCenterX, FCenterY);
    const float r = DialRadius(FDrawSize.height());
    const double s = std::sin(direction), k = std::cos(direction);
    // The base lies across the centre from the tip, u away, q to either side.
    const float u = r * 0.5f + 10, q = r * 0.125f;
    const QPoint tip = Compass(c, r - 20, direction);
    const QPoint base1(c.x() - int32_t(u * s + q * k), c.y() + int32_t(u * k - q * s));
    const QPoint base2(c.x() - int32_t(u * s - q * k), c.y() + int32_t(u * k + q * s));
    FCanvas->Pen.Width = 2;
    FCanvas->MoveTo(tip.x(), tip.y());
    FCanvas->LineTo(base1.x(), base1.y());
    FCanvas->LineTo(base2.x(), base2.y());
    FCanvas->LineTo(tip.x(), tip.y());
    FCanvas->Pen.Width = 1;
}

void TGauge::DrawAngleVariation(float minimum, float maximum)
{
    const int32_t e = int32_t(DialRadius(FDrawSize.height()) + DialSpreadGap);
    const int32_t x1 = FCenterX - e, y1 = FCenterY - e, x2 = FCenterX + e, y2 = FCenterY + e;
    FCanvas->ArcDirection = TArcDirection::Clockwise;
    // A black band over the previous arc.
    FCanvas->Pen.Width = 6;
    FCanvas->Pen.Color = clBlack;
    FCanvas->Brush.Color = clBlack;
    FCanvas->Brush.Style = TBrushStyle::Clear;
    FCanvas->Ellipse(x1, y1, x2, y2);

    if (std::isfinite(minimum) && std::isfinite(maximum)) {
        const auto at = [&](float degrees) {
            const float a = degrees * FDegToRad;
            return QPoint(int32_t(std::sin(a) * e + FCenterX),
                          int32_t(FCenterY - std::cos(a) * e));
        };
        const QPoint p1 = at(minimum), p2 = at(maximum);
        FCanvas->Pen.Width = 4;
        FCanvas->Pen.Color = clRed;
        // Within 2 degrees an arc is too short to draw as one: a straight line.
        if (maximum - minimum > 2)
            FCanvas->Arc(x1, y1, x2, y2, p1.x(), p1.y(), p2.x(), p2.y());
        else
            Segment(*FCanvas, p1, p2);
    }
    FCanvas->Brush.Style = TBrushStyle::Solid;
    FCanvas->Pen.Width = 1;
}

void TGauge::DrawValueIndication(float value)
{
    const int32_t rc = (FDrawSize.height() - 50) / 4;
    FCanvas->Pen.Color = clWhite;
    FCanvas->Brush.Color = clBlack;
    SetTextFont(ValueFontSize, clRed);
    // The circle covers the previous number; a value that is no number leaves it empty.
    FCanvas->Ellipse(FCenterX - rc, FCenterY - rc, FCenterX + rc, FCenterY + rc);
    if (!std::isfinite(value))
        return;
    QString text = FixedText(value, 2);
    if (!text.startsWith(QLatin1Char('-')))
        text.prepend(QLatin1Char('+'));
    ShrinkFont(text, rc - 16, false);
    FCanvas->TextOut(FCenterX - FCanvas->TextWidth(text) / 2,
                     FCenterY - FCanvas->TextHeight(text) / 2, text);
}

void TGauge::DrawVelocityMeter()
{
    const TMeter m = Meter(FDrawSize.height(), QPoint(FCenterX, FCenterY));
    FCanvas->Pen.Width = 2;
    FCanvas->Pen.Color = clYellow;
    FCanvas->Brush.Color = clBlack;
    FCanvas->Brush.Style = TBrushStyle::Clear;
    Circle(*FCanvas, m.Pivot, 0.2 * m.Rv);
    // 41 ticks 6 degrees apart; every 30 degrees a long one.
    for (int32_t t = 60; t <= 300; t += 6) {
        const float a = float(t) * FDegToRad;
        const float inner = t % 5 == 0 ? m.Rv - 20 : m.Rv - 10;
        Segment(*FCanvas, MeterPoint(m.Pivot, inner, a), MeterPoint(m.Pivot, m.Rv, a));
    }
    FCanvas->Pen.Width = 1;

    const int32_t fs = std::max(int32_t(m.Rv * (1.0f / 12)), SmallestFontSize);
    // A full scale of 0 (or no number) has no values to mark the scale with.
    if (FFullScale != 0 && std::isfinite(FFullScale)) {
        const float step = FFullScale * 0.125f;
        float value = 0;
        for (int32_t t = 60; t <= 300; t += 30) {
            const QPoint label = MeterPoint(m.Pivot, m.Rv - 40, float(t) * FDegToRad);
            DrawIndicatorText(label.x(), label.y(), fs, clYellow, FixedText(value, 1));
            value += step;
        }
    }
    DrawIndicatorText(m.Pivot.x(), int32_t(m.Pivot.y() - m.Rv / 3), fs, clYellow, FUnit);
    FCanvas->Brush.Style = TBrushStyle::Solid;
}

void TGauge::UpdateVelocityMeter()
{
    // A full scale of 0 gives no direction at all (not a number): no pointer.
    const float k = MeterSweep / FFullScale;
    FCanvas->Pen.Color = clBlack;
    DrawVelocityPointer((FLastValue * FUnitFactor * k + MeterStart) * FDegToRad);
    // The black pointer crossed the scale; draw it again.
    DrawVelocityMeter();
    FCanvas->Pen.Color = clRed;
    DrawVelocityPointer((FValue * FUnitFactor * k + MeterStart) * FDegToRad);
}

void TGauge::DrawVelocityPointer(float direction)
{
    if (!std::isfinite(direction))
        return;
    const TMeter m = Meter(FDrawSize.height(), QPoint(FCenterX, FCenterY));
    const QPoint p = m.Pivot;
    const double s = std::sin(direction), k = std::cos(direction);
    // An open V from just outside the hub to the tip.
    const double u = m.Rv * 0.2 + 2;
    const float w = m.Rv / 30;
    const QPoint tip = MeterPoint(p, m.Rv - 5, direction);
    FCanvas->Pen.Width = 2;
    FCanvas->MoveTo(p.x() - int32_t(u * s + w * k), p.y() + int32_t(u * k - w * s));
    FCanvas->LineTo(tip.x(), tip.y());
    FCanvas->LineTo(p.x() - int32_t(u * s - w * k), p.y() + int32_t(u * k + w * s));
    FCanvas->Pen.Width = 1;
}

void TGauge::DrawVelocityGauge()
{
    const QPoint c(FCenterX, FCenterY);
    const double k = DiscScale(FDrawSize);
    Disc(*FCanvas, c, GaugeRim * k, clGray);
    Disc(*FCanvas, c, GaugeFace * k, clSilver);
    FCanvas->Pen.Color = clWhite;
    for (int32_t d = 0; d <= 330; d += 30) {
        const float a = float(d) * FDegToRad;
        const int32_t outer = d % 90 == 0 ? 145 : 138; // longer at the four cardinal points
        Segment(*FCanvas, BallPoint(c, 132 * k, a), BallPoint(c, outer * k, a));
    }
}

void TGauge::UpdateVelocityGauge()
{
    const QPoint c(FCenterX, FCenterY);
    const double k = DiscScale(FDrawSize);
    const auto needle = [&](float degrees, TColor colour) {
        const float a = degrees * FDegToRad;
        if (!std::isfinite(a))
            return;
        FCanvas->Pen.Color = colour;
        Segment(*FCanvas, Compass(c, -NeedleTail * k, a), Compass(c, NeedleLength * k, a));
    };
    needle(FLastAngle, clSilver);
    needle(FAngle, clRed);
    Disc(*FCanvas, c, HubRadius, clBlack);
}

void TGauge::DrawRotationBall()
{
    Disc(*FCanvas, QPoint(FCenterX, FCenterY), GaugeRim * DiscScale(FDrawSize), clBlue);
}

void TGauge::UpdateRotationBall()
{
    const QPoint c(FCenterX, FCenterY);
    const double k = DiscScale(FDrawSize);
    // The ball touches the rim from inside.
    const double orbit = (GaugeRim - BallRadius) * k;
    const float last = FLastAngle * FDegToRad;
    if (std::isfinite(last))
        Disc(*FCanvas, BallPoint(c, orbit, last), BallRadius * k, clBlue); // with its mark
    const float a = FAngle * FDegToRad;
    if (!std::isfinite(a))
        return;
    const QPoint ball = BallPoint(c, orbit, a);
    Disc(*FCanvas, ball, BallRadius * k, clYellow);
    // The mark turns rim / ball radius times as fast, the other way round: the ball rolls.
    const float spin = -a * float(GaugeRim) / float(BallRadius);
    Disc(*FCanvas, BallPoint(ball, (BallRadius - 2 * MarkRadius) * k, spin), MarkRadius * k, clRed);
}
