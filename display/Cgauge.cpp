#include "display/Cgauge.h"

#include "platform/ScreenFit.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace {

constexpr int32_t AxisLabelGap = 4; // between an axis label's right end and the frame's inner edge

// Unit names with the factor from the stored unit and the full scale of the meters and trends.
struct TUnitRow {
    const char16_t *Name;
    float Factor;
    float FullScale;
};

constexpr TUnitRow UnitTable[] = {
    {u"m/s", 1.0f, 4.0f},
    {u"km/hour", 3.6f, 16.0f},
    {u"ft/min", 196.85f, 800.0f},
    {u"mile/hour", 2.232f, 8.0f},
    {u"dB", 1.0f, 100.0f},
    {u"\u842Cppm", 1.0f, 80.0f}, // ten thousand ppm
    {u"\u2103", 1.0f, 40.0f},    // degree Celsius
    {u"Volt", 1.0f, 10.0f},
    {u"degree", 1.0f, 360.0f},
};

// An empty (or missing) buffer reads as 0, whatever its slots still hold.
float Newest(const TCircularBuffer<float> *buffer)
{
    if (!buffer || buffer->Count() == 0)
        return 0.0f;
    return buffer->At(buffer->Head() == 0 ? buffer->Capacity() - 1 : buffer->Head() - 1);
}

// The smallest and largest value held (the sources are only read, so no cursor moves).
void Extremes(const TCircularBuffer<float> &buffer, float &minimum, float &maximum)
{
    minimum = maximum = buffer.At(0);
    for (int32_t i = 1; i < buffer.Count(); ++i) {
        minimum = std::min(minimum, buffer.At(i));
        maximum = std::max(maximum, buffer.At(i));
    }
}

} // namespace

TGauge::TGauge(QWidget *AOwner) : QWidget(AOwner) {}

TGauge::TGauge(QWidget *AOwner, int32_t width, int32_t height, int32_t unused)
    : QWidget(AOwner)
{
    Q_UNUSED(unused);
    resize(width, height);
    TakeSize();
    FDegToRad = 0.017453292f;
    FMode = TGaugeMode::DirectionDial;
    FUnit = QStringLiteral("m/s");
    FFullScale = 40.0f;
    FUnitFactor = 1.0f;
    FZoom = 8.0f;
    FXSpan = 400;
    FVCenter = 180;
    FVRange = 180;
    ResetDisplay();
}

TGauge::~TGauge()
{
    // The painter must let go of the picture before the picture goes.
    if (FCanvas)
        FCanvas->End();
}

const QImage &TGauge::Picture() const
{
    if (FCanvas)
        FCanvas->End();
    return FPicture;
}

void TGauge::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    if (FStretched)
        painter.drawImage(rect(), Picture());
    else
        painter.drawImage(0, 0, Picture());
}

void TGauge::TakeSize()
{
    // A gauge larger than all screens together draws a smaller picture, shown stretched: the
    // picture never takes more memory than the screens can show.
    FDrawSize = Platform::PictureSize(size(), devicePixelRatioF());
    FStretched = FDrawSize != size();
    FCenterX = FDrawSize.width() / 2;
    FCenterY = FDrawSize.height() / 2;
}

void TGauge::ChangeSize(int32_t width, int32_t height)
{
    resize(width, height);
    TakeSize();
    if (FCanvas)
        FCanvas->SetImage(nullptr);
    FPicture = QImage();
    ResetDisplay();
}

void TGauge::ResetDisplay()
{
    if (FPicture.isNull()) {
        // At the screen's pixel ratio, so that a scaled screen shows sharp labels rather than
        // doubled pixels; drawing stays in the gauge's own coordinates.
        const qreal ratio = devicePixelRatioF();
        FDrawSize = Platform::PictureSize(size(), ratio);
        FStretched = FDrawSize != size();
        FPicture = QImage(qRound(FDrawSize.width() * ratio), qRound(FDrawSize.height() * ratio), QImage::Format_RGB32);
        FPicture.setDevicePixelRatio(ratio);
        if (!FCanvas)
            FCanvas = std::make_unique<TCanvas>(&FPicture);
        else
            FCanvas->SetImage(&FPicture);
    }
    ++FResetCount;
    FCanvas->Pen.Color = clBlack;
    FCanvas->Brush.Color = clBlack;
    FCanvas->Rectangle(0, 0, FDrawSize.width(), FDrawSize.height());

    switch (FMode) {
    case TGaugeMode::DirectionDial:
        DrawVelocityDirection();
        break;
    case TGaugeMode::VelocityMeter:
        DrawVelocityMeter();
        break;
    case TGaugeMode::VelocityGauge:
        DrawVelocityGauge();
        break;
    case TGaugeMode::RotationBall:
        DrawRotationBall();
        break;
    case TGaugeMode::ValueIndicator:
    case TGaugeMode::AngleIndicator:
        DrawIndicator();
        break;
    case TGaugeMode::ValueTrend:
        DrawTrend(ValueTrendSpan());
        break;
    case TGaugeMode::AngleTrend:
        DrawTrend(FFullScale);
        break;
    case TGaugeMode::DualChannel:
    case TGaugeMode::SingleChannel:
        DrawDualChannel();
        break;
    }
    update();
}

void TGauge::UpdateDisplay()
{
    FValue = Newest(FValues);
    FAngle = Newest(FAngles);

    // Without a picture (the bare constructor, never reset) there is nothing to draw on.
    if (FCanvas) {
        switch (FMode) {
        case TGaugeMode::DirectionDial: {
            DrawAngleIndication(FAngle);
            float minimum = 0, maximum = 0;
            if (FAngles && FAngles->Count() > 0)
                Extremes(*FAngles, minimum, maximum);
            DrawAngleVariation(minimum, maximum);
            DrawValueIndication(FValue * FUnitFactor);
            break;
        }
        case TGaugeMode::VelocityMeter:
            UpdateVelocityMeter();
            break;
        case TGaugeMode::VelocityGauge:
            UpdateVelocityGauge();
            break;
        case TGaugeMode::RotationBall:
            UpdateRotationBall();
            break;
        case TGaugeMode::ValueIndicator:
            UpdateIndicator(FValue);
            break;
        case TGaugeMode::ValueTrend:
            UpdateTrend(FValues, ValueTrendSpan());
            break;
        case TGaugeMode::AngleTrend:
            UpdateTrend(FAngles, FFullScale);
            break;
        case TGaugeMode::DualChannel:
            UpdateDualChannel();
            break;
        case TGaugeMode::SingleChannel:
            UpdateSingleChannel();
            break;
        case TGaugeMode::AngleIndicator:
            UpdateIndicator(FAngle);
            break;
        }
        update();
    }

    FLastValue = FValue;
    FLastAngle = FAngle;
}

void TGauge::SetMode(TGaugeMode mode)
{
    if (mode == FMode)
        return;
    FMode = mode;
    ResetDisplay();
}

void TGauge::SetUnit(const QString &unit)
{
    FUnit = unit;
    for (const TUnitRow &row : UnitTable) {
        if (unit == QStringView(row.Name)) {
            FUnitFactor = row.Factor;
            FFullScale = row.FullScale;
            break;
        }
    }
    ResetDisplay();
}

void TGauge::SetFullScale(float value)
{
    if (value == FFullScale)
        return;
    FFullScale = value;
    ResetDisplay();
}

void TGauge::SetZoom(float value)
{
    if (value == FZoom)
        return;
    FZoom = value;
    ResetDisplay();
}

void TGauge::SetXSpan(int32_t span)
{
    if (span != FXSpan && span >= 32)
        FXSpan = span;
}

void TGauge::SetXShift(int32_t shift)
{
    if (shift == FXShift)
        return;
    if (shift >= 0 && shift < SampleCount() / 2 - FXSpan)
        FXShift = shift;
}

void TGauge::SetVCenter(int32_t value)
{
    if (value == FVCenter)
        return;
    FVCenter = value;
    ResetDisplay();
}

void TGauge::SetVRange(int32_t value)
{
    if (value == FVRange)
        return;
    FVRange = value;
    ResetDisplay();
}

void TGauge::SetTextFont(int32_t size, TColor colour)
{
    FCanvas->Font.Size = size;
    FCanvas->Font.Bold = true;
    FCanvas->Font.Color = colour;
}

void TGauge::DrawIndicatorText(int32_t x, int32_t y, int32_t size, TColor colour,
                               const QString &text)
{
    if (!FCanvas)
        return;
    SetTextFont(size, colour);
    FCanvas->Brush.Color = clBlack;
    const int32_t w = FCanvas->TextWidth(text);
    const int32_t h = FCanvas->TextHeight(text);
    FCanvas->TextOut(x - w / 2, y - h / 2, text);
}

TGauge::TPlotFrame TGauge::PlotFrame(int32_t leftInset) const
{
    TPlotFrame f;
    f.hw = FDrawSize.width() / 2 - 40;
    f.hh = FDrawSize.height() / 2 - 20;
    f.L = FCenterX - f.hw + 15 + leftInset;
    f.R = FCenterX + f.hw + 15;
    f.T = FCenterY - f.hh;
    f.B = FCenterY + f.hh;
    f.L1 = f.L + 1;
    f.R1 = f.R - 1;
    f.T1 = f.T + 1;
    f.B1 = f.B - 1;
    return f;
}

void TGauge::DrawPlotFrame(const TPlotFrame &f, TColor colour)
{
    FCanvas->Pen.Width = 2;
    FCanvas->Pen.Color = colour;
    FCanvas->Brush.Color = clBlack;
    FCanvas->Rectangle(f.L, f.T, f.R, f.B);
}

int32_t TGauge::AxisLabelEvery(float spacing, int32_t count)
{
    // Every second, fourth... label where they would overlap; the lowest and the highest stay.
    const int32_t height = FCanvas->TextHeight(QStringLiteral("0"));
    int32_t every = 1;
    while (every < count && float(every) * spacing < float(height) && count % (every * 2) == 0)
        every *= 2;
    return every;
}

void TGauge::DrawAxisLabel(int32_t innerLeft, int32_t y, const QString &text)
{
    FCanvas->TextOut(innerLeft - FCanvas->TextWidth(text) - AxisLabelGap, y - FCanvas->TextHeight(text) / 2, text);
}

void TGauge::ShrinkFont(const QString &text, double limit, bool byHeight)
{
    // Without the floor a control too small for the text would shrink it for ever.
    while (FCanvas->Font.Size > SmallestFontSize) {
        const int32_t extent = byHeight ? FCanvas->TextHeight(text) : FCanvas->TextWidth(text);
        if (!(limit < extent / 2))
            break;
        FCanvas->Font.Size = std::max(FCanvas->Font.Size - 2, SmallestFontSize);
    }
}
