#include "platform/ScreenFit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace Platform {

namespace {
// What a frame takes before the window manager has framed the window: a title bar and thin borders.
constexpr int EstimatedBorder = 4;
constexpr int EstimatedTitleBar = 30;
} // namespace

QRect AvailableArea(const QWidget *window)
{
    QScreen *screen = window->isVisible() ? window->screen() : QGuiApplication::screenAt(window->pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(window->pos(), window->frameSize());
}

QMargins FrameMargins(const QWidget *window)
{
    const QRect outer = window->frameGeometry(), inner = window->geometry();
    if (window->isVisible() && outer != inner)
        return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                        outer.bottom() - inner.bottom());
    return QMargins(EstimatedBorder, EstimatedTitleBar, EstimatedBorder, EstimatedBorder);
}

void FitToScreen(QWidget *window, const QSize &wanted, const QPoint &topLeft, bool centre)
{
    const QRect area = AvailableArea(window);
    const QMargins frame = FrameMargins(window);
    const QSize room = area.marginsRemoved(frame).size();
    const QSize size = wanted.boundedTo(room).expandedTo(window->minimumSize());
    const QSize outer = size.grownBy(frame);
    QPoint at = centre ? area.center() - QRect(QPoint(0, 0), outer).center() : topLeft;
    // Moved in from the right and bottom first, so that a window larger than the area keeps its
    // title bar and top-left corner on the screen.
    at.setX(qMax(area.left(), qMin(at.x(), area.right() + 1 - outer.width())));
    at.setY(qMax(area.top(), qMin(at.y(), area.bottom() + 1 - outer.height())));
    window->resize(size);
    window->move(at);
}

} // namespace Platform
