#include "display/ZoomRange.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

void TZoomRange::SetFull(double low, double high)
{
    FFullLow = low;
    FFullHigh = std::max(high, low);
    if (!FZoomed) {
        FLow = FFullLow;
        FHigh = FFullHigh;
    }
    Clamp();
}

void TZoomRange::Reset()
{
    FZoomed = false;
    FLow = FFullLow;
    FHigh = FFullHigh;
}

void TZoomRange::ZoomAbout(double at, double factor)
{
    const double fullSpan = FFullHigh - FFullLow;
    const double span = std::clamp((FHigh - FLow) * factor, std::min(FMinimumSpan, fullSpan), fullSpan);
    if (FHigh > FLow) {
        const double share = std::clamp((at - FLow) / (FHigh - FLow), 0.0, 1.0);
        FLow = at - share * span;
    }
    FHigh = FLow + span;
    FZoomed = true;
    Clamp();
}

void TZoomRange::Pan(double delta)
{
    if (!FZoomed)
        return;
    FLow += delta;
    FHigh += delta;
    Clamp();
}

void TZoomRange::Clamp()
{
    const double span = std::min(FHigh - FLow, FFullHigh - FFullLow);
    if (FLow < FFullLow)
        FLow = FFullLow;
    if (FLow + span > FFullHigh)
        FLow = FFullHigh - span;
    FHigh = FLow + span;
    // Zoomed all the way out is no zoom: the view follows what comes again.
    if (FZoomed && FLow <= FFullLow && FHigh >= FFullHigh)
        FZoomed = false;
}

bool TZoomRange::HandleEvent(QEvent *event, int plotLeft, int plotWidth)
{
    const double span = FHigh - FLow;
    const double perPixel = plotWidth > 0 ? span / plotWidth : 0;
    const auto valueAt = [&](double x) { return FLow + (x - plotLeft) * perPixel; };
    switch (event->type()) {
    case QEvent::Wheel: {
        const auto *wheel = static_cast<QWheelEvent *>(event);
        const int notches = wheel->angleDelta().y() / 120;
        if (notches == 0)
            return wheel->angleDelta().y() != 0;
        ZoomAbout(valueAt(wheel->position().x()), std::pow(StepFactor, notches));
        return true;
    }
    case QEvent::MouseButtonPress: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        FDragging = true;
        FDragX = mouse->position().x();
        FDragLow = FLow;
        return true;
    }
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (!FDragging || !(mouse->buttons() & Qt::LeftButton))
            return false;
        Pan(FDragLow - (mouse->position().x() - FDragX) * perPixel - FLow);
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!FDragging)
            return false;
        FDragging = false;
        return true;
    case QEvent::MouseButtonDblClick:
        Reset();
        return true;
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        const double middle = (FLow + FHigh) / 2;
        switch (key->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            ZoomAbout(middle, KeyFactor);
            return true;
        case Qt::Key_Minus:
            ZoomAbout(middle, 1 / KeyFactor);
            return true;
        case Qt::Key_Left:
            Pan(-span * PanShare);
            return true;
        case Qt::Key_Right:
            Pan(span * PanShare);
            return true;
        case Qt::Key_Home:
            Reset();
            return true;
        default:
            return false;
        }
    }
    default:
        return false;
    }
}
