#pragma once
// Top-level windows open inside the part of the screen that windows may use: at the size and
// place they ask for where that fits, shrunk and moved in where it does not (never below their
// minimum size, which keeps their texts readable).

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace Platform {

// The area windows may take on the screen the window is on (before it is shown: the screen
// under its place, else the primary screen).
QRect AvailableArea(const QWidget *window);
// The window manager's frame around the window; before the window is framed, a generous guess.
QMargins FrameMargins(const QWidget *window);
// Gives the window the wanted size with its frame's top-left corner at topLeft (as move() does),
// or centred when centre is set, so that the window and its frame lie inside AvailableArea.
void FitToScreen(QWidget *window, const QSize &wanted, const QPoint &topLeft, bool centre = false);
inline void CentreOnScreen(QWidget *window, const QSize &wanted)
{
    FitToScreen(window, wanted, QPoint(), true);
}

} // namespace Platform
