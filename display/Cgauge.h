#pragma once
// TGauge: the instrument display of the main window. A widget that shows a picture of its own
// and draws one of ten display modes into it:
//
//   0 direction dial with value     5 trend of the values, zoomed
//   1 velocity meter                6 trend of the angles
//   2 velocity gauge (compass)      7 two-channel strip chart
//   3 rotation ball                 8 single-channel strip chart
//   4 numeric indicator (values)    9 numeric indicator (angles)
//
// ResetDisplay clears the picture to black and draws the static parts of the mode (scales,
// frames, axis labels); UpdateDisplay takes the newest values from the sources and draws the
// moving parts over what is there. The sources belong to the owner, who must keep them alive
// while the gauge may draw; the gauge only reads them. A null source reads as empty.

#include "ringbuffer/CircularBuffer.h"
#include "display/Canvas.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

// The strip charts' source: separately allocated 4-byte cells, oldest first. Mode 8 reads each
// cell as a float, mode 7 its first two bytes as an unsigned 16-bit sample.
using TSampleList = std::vector<std::unique_ptr<float>>;

class TGauge : public QWidget {
    Q_OBJECT
public:
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

    void SetMode(int32_t mode);
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

    // Text centred on (x, y), bold, in the given size (points) and colour, on black.
    void DrawIndicatorText(int32_t x, int32_t y, int32_t size, TColor colour, const QString &text);

    // Strip charts (modes 7 and 8).
    void DrawDualChannel();
    void UpdateSingleChannel();
    void UpdateDualChannel();

    // Dials (modes 0 to 3). Not drawn yet: these draw nothing so far.
    void DrawVelocityDirection();
    void DrawAngleIndication(float angle);
    void DrawAngleArrow(float direction);
    void DrawAngleVariation(float minimum, float maximum);
    void DrawValueIndication(float value);
    void DrawVelocityMeter();
    void UpdateVelocityMeter();
    void DrawVelocityPointer(float direction);
    void DrawVelocityGauge();
    void UpdateVelocityGauge();
    void DrawRotationBall();
    void UpdateRotationBall();

    // Numeric indicator and trends (modes 4, 5, 6 and 9). Not drawn yet: these draw nothing so
    // far.
    void DrawIndicator();
    void UpdateIndicator(TCircularBuffer<float> *buffer);
    void DrawTrend(float span);
    void UpdateTrend(TCircularBuffer<float> *buffer, float span);
    void UpdateDualTrend();

    // The picture as it stands (Format_RGB32); null before the first reset.
    const QImage &Picture() const;
    const QImage &Bitmap() const { return Picture(); }
    TCanvas *Canvas() const { return FCanvas.get(); }

    int32_t Mode() const { return FMode; }
    int32_t CenterX() const { return FCenterX; }
    int32_t CenterY() const { return FCenterY; }
    int32_t XSpan() const { return FXSpan; }
    int32_t XShift() const { return FXShift; }
    int32_t VCenter() const { return FVCenter; }
    int32_t VRange() const { return FVRange; }
    float Angle() const { return FAngle; }
    float Value() const { return FValue; }
    float UnitFactor() const { return FUnitFactor; }
    float LastAngle() const { return FLastAngle; }
    float LastValue() const { return FLastValue; }
    float DegToRad() const { return FDegToRad; }
    float Zoom() const { return FZoom; }
    float FullScale() const { return FFullScale; }
    const QString &Unit() const { return FUnit; }
    // How many times ResetDisplay has cleared the picture.
    int32_t ResetCount() const { return FResetCount; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Frame geometry of the strip charts, from the current size.
    struct TStripGeometry {
        int32_t hw, hh, L, R, T, B, L1, R1, T1, B1;
        int64_t lo, hi;
    };
    TStripGeometry StripGeometry() const;
    void DrawStripFrame(const TStripGeometry &g);
    // First and last index of the samples in view, w samples wide; last < first when none.
    void SampleWindow(int64_t w, int64_t &first, int64_t &last) const;
    int64_t SampleCount() const;

    std::unique_ptr<TCanvas> FCanvas;
    int32_t FMode = 0;
    int32_t FCenterX = 0;
    int32_t FCenterY = 0;
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
    // Sources, assigned by the owner; not owned.
    TCircularBuffer<float> *FValues = nullptr;
    TCircularBuffer<float> *FValues2 = nullptr;
    TCircularBuffer<float> *FAngles = nullptr;
    TSampleList *FSamples = nullptr;

private:
    QImage FPicture;
    int32_t FResetCount = 0;
};
