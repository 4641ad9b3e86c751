#pragma once
// TGauge: the instrument display of the main window. A widget that shows a picture of its own
// and draws one of ten display modes (TGaugeMode) into it.
//
// ResetDisplay clears the picture to black and draws the static parts of the mode (scales,
// frames, axis labels); UpdateDisplay takes the newest values from the sources and draws the
// moving parts over what is there. The sources belong to the owner, who must keep them alive
// while the gauge may draw; the gauge only reads them. A null source reads as empty.
//
// Values that cannot be drawn (not a number, infinite) are put on the edge of a plot, or left
// out where there is no edge (pointers, numbers); a scale without extent (a span or full scale
// of 0) gets its frame and no trace.

#include "ringbuffer/CircularBuffer.h"
#include "display/Canvas.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

// The strip charts' source: 4-byte cells, oldest first. Mode 8 reads each cell as a float, mode 7
// its first two bytes as an unsigned 16-bit sample.
using TSampleList = std::vector<float>;

// The display modes. Any other value shows nothing: the picture stays black.
enum class TGaugeMode : int32_t {
    DirectionDial = 0,  // direction arrow, spread of the angles and the value in a circle
    VelocityMeter = 1,  // 240-degree scale with a pointer
    VelocityGauge = 2,  // compass disc with a needle
    RotationBall = 3,   // a ball rolling along the rim of a disc
    ValueIndicator = 4, // the newest value as a large number with its unit
    ValueTrend = 5,     // the values' buffer as a trend, zoomed
    AngleTrend = 6,     // the angles' buffer as a trend
    DualChannel = 7,    // strip chart of two interleaved channels of 16-bit samples
    SingleChannel = 8,  // strip chart of the float samples (the main window's mode)
    AngleIndicator = 9, // the newest angle as a large number with the unit
};

class TGauge : public QWidget {
    Q_OBJECT
public:
    // The smallest text the gauge draws (points): the meter's labels go no smaller, and the
    // numbers that shrink to fit their box stop there on a control too small for them.
    static constexpr int32_t SmallestFontSize = 4;

    // Builds the control only: numeric fields zero, no unit, no picture, nothing drawn.
    explicit TGauge(QWidget *AOwner);
    // Sets the size and the defaults and draws the mode-0 dial. The third integer is not used.
    TGauge(QWidget *AOwner, int32_t width, int32_t height, int32_t unused);
    ~TGauge() override;

    // New size, new picture, static parts drawn again; the moving parts come with the next
    // update.
    void ChangeSize(int32_t width, int32_t height);
    void ResetDisplay();
    void UpdateDisplay();

    void SetMode(TGaugeMode mode);
    // Applies the unit table; a unit not in it keeps factor and full scale. Always redraws.
    void SetUnit(const QString &unit);
    void SetFullScale(float value);
    void SetZoom(float value);
    // Taken from 32 up; takes effect at the next update.
    void SetXSpan(int32_t span);
    // Taken while 0 <= shift < (samples in FSamples)/2 - FXSpan; takes effect at the next update.
    void SetXShift(int32_t shift);
    void SetVCenter(int32_t value);
    void SetVRange(int32_t value);

    // FValues (yellow) and FValues2 (olive) together on the scale of the values' trend; no
    // mode draws it.
    void UpdateDualTrend();

    // The picture as it stands (Format_RGB32); null before the first reset.
    const QImage &Picture() const;

    TGaugeMode Mode() const { return FMode; }
    int32_t CenterX() const { return FCenterX; }
    int32_t CenterY() const { return FCenterY; }
    int32_t XSpan() const { return FXSpan; }
    int32_t XShift() const { return FXShift; }
    float Angle() const { return FAngle; }
    float Value() const { return FValue; }
    float UnitFactor() const { return FUnitFactor; }
    float LastValue() const { return FLastValue; }
    float Zoom() const { return FZoom; }
    float FullScale() const { return FFullScale; }
    const QString &Unit() const { return FUnit; }
    // How many times ResetDisplay has cleared the picture.
    int32_t ResetCount() const { return FResetCount; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // The size to draw at and the centre, for the gauge's size now.
    void TakeSize();
    // Text centred on (x, y), bold, in the given size (points) and colour, on black.
    void DrawIndicatorText(int32_t x, int32_t y, int32_t size, TColor colour, const QString &text);
    // Bold text of this size and colour, whatever font the text drawn before left behind.
    void SetTextFont(int32_t size, TColor colour);

    // The frame of a strip chart or a trend: half width W/2 - 40 and half height H/2 - 20
    // about the centre, moved 15 pixels right, its left edge a further leftInset pixels in
    // (room for the axis labels); L1, R1, T1, B1 are the inner edges.
    struct TPlotFrame {
        int32_t hw, hh, L, R, T, B, L1, R1, T1, B1;
    };
    TPlotFrame PlotFrame(int32_t leftInset) const;
    // The frame in a pen 2 pixels wide, filled black.
    void DrawPlotFrame(const TPlotFrame &f, TColor colour);
    // An axis label, right-aligned a gap left of the inner edge and centred on y.
    void DrawAxisLabel(int32_t innerLeft, int32_t y, const QString &text);
    // Of count steps of spacing pixels between labels, every how many is labelled so that no two
    // labels overlap (a divisor of count).
    int32_t AxisLabelEvery(float spacing, int32_t count);

    // Strip charts (modes 7 and 8), CgaugeStrip.cpp.
    struct TStripGeometry : TPlotFrame {
        int64_t lo, hi;
    };
    TStripGeometry StripGeometry() const;
    // First and last index of the samples in view, w samples wide; last < first when none.
    void SampleWindow(int64_t w, int64_t &first, int64_t &last) const;
    int64_t SampleCount() const;
    void DrawDualChannel();
    void UpdateSingleChannel();
    void UpdateDualChannel();

    // Numeric indicator (modes 4 and 9) and trends (modes 5 and 6), CgaugeIndicator.cpp.
    struct TTrendGeometry : TPlotFrame {
        int32_t g; // grid step
    };
    TTrendGeometry TrendGeometry() const;
    // Yellow frame filled black, and the grey grid lines inside it.
    void DrawTrendFrame(const TTrendGeometry &t);
    // Magnitudes of the buffer, oldest at the left, in the current pen.
    void DrawTrendTrace(const TTrendGeometry &t, const TCircularBuffer<float> *buffer, float xStep,
                        float yScale);
    // Half width of the indicator box for a given divisor of the height; the box is
    // (cx - s, cy - s/2) to (cx + s, cy + s/2).
    int32_t IndicatorHalfWidth(int32_t divisor) const;
    // Lowers the canvas font by 2 points while half the text's width (or height) exceeds the
    // limit, but not below SmallestFontSize.
    void ShrinkFont(const QString &text, double limit, bool byHeight);
    void DrawIndicator();
    void UpdateIndicator(float value); // the newest of the buffer shown, as stored
    // The span of the values' trend: the full scale in the stored unit, zoomed.
    float ValueTrendSpan() const { return FFullScale / FUnitFactor / FZoom; }
    void DrawTrend(float span);
    void UpdateTrend(const TCircularBuffer<float> *buffer, float span);

    // Dials (modes 0 to 3), CgaugeDials.cpp. Directions in radians unless named degrees.
    void DrawVelocityDirection();
    void DrawAngleIndication(float angle); // degrees
    void DrawAngleArrow(float direction);
    void DrawAngleVariation(float minimum, float maximum); // degrees
    void DrawValueIndication(float value);
    void DrawVelocityMeter();
    void UpdateVelocityMeter();
    void DrawVelocityPointer(float direction);
    void DrawVelocityGauge();
    void UpdateVelocityGauge();
    void DrawRotationBall();
    void UpdateRotationBall();

    std::unique_ptr<TCanvas> FCanvas;
    TGaugeMode FMode = TGaugeMode::DirectionDial;
    int32_t FCenterX = 0;
    int32_t FCenterY = 0;
    // What the picture covers, in the gauge's own pixels: its size, or less for a gauge larger
    // than the screens (the picture is then shown stretched).
    QSize FDrawSize;
    bool FStretched = false;
    int32_t FXSpan = 0;
    int32_t FXShift = 0;
    int32_t FVCenter = 0;
    int32_t FVRange = 0;
    float FAngle = 0;
    float FValue = 0;
    float FUnitFactor = 0;
    float FLastAngle = 0;
    float FLastValue = 0;
    float FDegToRad = 0;
    float FZoom = 0;
    float FFullScale = 0;
    QString FUnit;

public:
    // Sources, assigned by the owner; not owned, only read.
    const TCircularBuffer<float> *FValues = nullptr;
    const TCircularBuffer<float> *FValues2 = nullptr;
    const TCircularBuffer<float> *FAngles = nullptr;
    const TSampleList *FSamples = nullptr;

private:
    QImage FPicture;
    int32_t FResetCount = 0;
};
