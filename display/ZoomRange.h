#pragma once
// TZoomRange: the stretch of a chart's horizontal axis that is shown, within all there is. The
// operator zooms with the wheel about the pointer or with + and -, pans with a drag or the arrow
// keys, and shows everything again with a double-click or Home; the chart draws Low()..High().

class QEvent;

class TZoomRange {
public:
    // Zoom steps: a wheel notch or a key press shows this share of the span.
    static constexpr double StepFactor = 0.8;
    static constexpr double KeyFactor = 0.5;
    // An arrow key pans by this share of the shown span.
    static constexpr double PanShare = 0.1;

    // All there is. Shown unzoomed, the view follows it; zoomed, it stays where it is (inside it).
    void SetFull(double low, double high);
    // The narrowest span the view may show.
    void SetMinimumSpan(double span) { FMinimumSpan = span; }
    void Reset();
    bool Zoomed() const { return FZoomed; }
    double Low() const { return FLow; }
    double High() const { return FHigh; }
    double FullLow() const { return FFullLow; }
    double FullHigh() const { return FFullHigh; }
    // factor < 1 zooms in; at: the axis value that stays under the pointer.
    void ZoomAbout(double at, double factor);
    void Pan(double delta);

    // The operator's wheel, drag, double-click or key on a chart whose plot spans plotWidth pixels
    // from plotLeft: true when it was one of them (the range may have changed).
    bool HandleEvent(QEvent *event, int plotLeft, int plotWidth);

private:
    void Clamp();
    double FFullLow = 0, FFullHigh = 1, FLow = 0, FHigh = 1;
    double FMinimumSpan = 0;
    bool FZoomed = false;
    bool FDragging = false;
    double FDragX = 0, FDragLow = 0;
};
