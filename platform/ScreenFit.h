#pragma once
// Top-level windows open inside the part of the screen that windows may use: at the size and
// place they ask for where that fits, shrunk and moved in where it does not (never below their
// minimum size, which keeps their texts readable). Pictures drawn for a window are bounded by
// what the screens can show, whatever size the window is given.

#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace Platform {

// The area windows may take on the screen the window is on (before it is shown: the screen
// under its place, else the primary screen).
QRect AvailableArea(const QWidget *window);
// The areas windows may take on every screen, the primary screen's first; empty without screens.
QList<QRect> AvailableAreas();
// The window manager's frame around the window; before the window is framed, a generous guess.
QMargins FrameMargins(const QWidget *window);
// Where a window of the wanted geometry (without its frame) goes: on the screen whose area holds
// most of it, or on the first area (the primary screen's) when it is on none of them; shrunk to
// that area (not below minimum) and moved in from the right and bottom, then from the left and
// top, so that its whole frame, title bar first, lies in the area. Without areas: as wanted.
QRect FitGeometry(const QRect &wanted, const QList<QRect> &areas, const QMargins &frame, const QSize &minimum);
// Gives the window the wanted size with its frame's top-left corner at topLeft (as move() does),
// or centred when centre is set, so that the window and its frame lie inside AvailableArea.
void FitToScreen(QWidget *window, const QSize &wanted, const QPoint &topLeft, bool centre = false);
inline void CentreOnScreen(QWidget *window, const QSize &wanted)
{
    FitToScreen(window, wanted, QPoint(), true);
}
// Fits the window's own (normal) geometry, as a kept one was restored into it, onto the screens
// as they are now; a maximised or full-screen state stays.
void FitRestoredGeometry(QWidget *window);
// Keeps the window no larger than all screens together, so that no back buffer outgrows what
// they show; follows screens as they come, go and change.
void BoundToScreens(QWidget *window);

// The most device pixels a picture needs in each direction: all screens together at the
// highest pixel ratio among them, and never more than MaxPicturePixels.
inline constexpr int MaxPicturePixels = 16384;
QSize PictureBound();
// The size (in the widget's own pixels) to draw a picture for a widget of this size at this
// pixel ratio: the widget's size where that fits PictureBound, else scaled down in the
// direction (or both) that does not fit. Never empty for a widget that is not.
QSize PictureSize(const QSize &widget, qreal ratio);
QSize PictureSize(const QSize &widget, qreal ratio, const QSize &bound);

} // namespace Platform
