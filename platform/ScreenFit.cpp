#include "platform/ScreenFit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace Platform {

namespace {
// What a frame takes before the window manager has framed the window: a title bar and thin borders.
constexpr int EstimatedBorder = 4;
constexpr int EstimatedTitleBar = 30;
// Kept places and sizes beyond this are nonsense; cut before any arithmetic can overflow.
constexpr int FarCoordinate = 1 << 24;
// Two 8K screens' worth of pixels: the most any picture takes, whatever the screens say.
constexpr double MaxPictureArea = 2.0 * 7680 * 4320;
// A picture may always be as large as an ordinary screen, so that what is drawn without one
// (the headless mode's pictures, on the offscreen platform's small screen) keeps its size.
constexpr QSize SmallestPictureBound(2048, 2048);

// The rectangle around all screens, in the desktop's coordinates; empty without screens.
QRect Desktop()
{
    QRect all;
    for (const QScreen *screen : QGuiApplication::screens())
        all |= screen->geometry();
    return all;
}
} // namespace

QRect AvailableArea(const QWidget *window)
{
    QScreen *screen = window->isVisible() ? window->screen() : QGuiApplication::screenAt(window->pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(window->pos(), window->frameSize());
}

QList<QRect> AvailableAreas()
{
    QList<QRect> areas;
    if (const QScreen *primary = QGuiApplication::primaryScreen())
        areas << primary->availableGeometry();
    for (const QScreen *screen : QGuiApplication::screens())
        if (screen != QGuiApplication::primaryScreen())
            areas << screen->availableGeometry();
    return areas;
}

QMargins FrameMargins(const QWidget *window)
{
    const QRect outer = window->frameGeometry(), inner = window->geometry();
    if (window->isVisible() && outer != inner)
        return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                        outer.bottom() - inner.bottom());
    return QMargins(EstimatedBorder, EstimatedTitleBar, EstimatedBorder, EstimatedBorder);
}

QRect FitGeometry(const QRect &wanted, const QList<QRect> &areas, const QMargins &frame, const QSize &minimum)
{
    const auto cut = [](int value, int low) { return std::clamp(value, low, FarCoordinate); };
    const QRect sane(cut(wanted.x(), -FarCoordinate), cut(wanted.y(), -FarCoordinate), cut(wanted.width(), 0),
                     cut(wanted.height(), 0));
    if (areas.isEmpty())
        return sane;
    // The screen it was on is the one holding most of it; a screen that is gone holds nothing.
    const QRect outerWanted = sane.marginsAdded(frame);
    QRect area = areas.first();
    qint64 most = 0;
    for (const QRect &candidate : areas) {
        const QRect common = candidate.intersected(outerWanted);
        const qint64 shared = qint64(common.width()) * common.height();
        if (shared > most) {
            most = shared;
            area = candidate;
        }
    }
    const QSize room = area.marginsRemoved(frame).size();
    const QSize size = sane.size().boundedTo(room).expandedTo(minimum);
    const QSize outer = size.grownBy(frame);
    // Moved in from the right and bottom first, so that a window larger than the area keeps its
    // title bar and top-left corner on the screen.
    QPoint at = outerWanted.topLeft();
    at.setX(qMax(area.left(), qMin(at.x(), area.right() + 1 - outer.width())));
    at.setY(qMax(area.top(), qMin(at.y(), area.bottom() + 1 - outer.height())));
    return QRect(at + QPoint(frame.left(), frame.top()), size);
}

void FitToScreen(QWidget *window, const QSize &wanted, const QPoint &topLeft, bool centre)
{
    const QRect area = AvailableArea(window);
    const QMargins frame = FrameMargins(window);
    const QRect fitted = FitGeometry(QRect(topLeft + QPoint(frame.left(), frame.top()), wanted), {area}, frame,
                                     window->minimumSize());
    QPoint at = fitted.topLeft() - QPoint(frame.left(), frame.top());
    if (centre) {
        const QSize outer = fitted.size().grownBy(frame);
        at = area.center() - QRect(QPoint(0, 0), outer).center();
        at.setX(qMax(area.left(), at.x()));
        at.setY(qMax(area.top(), at.y()));
    }
    window->resize(fitted.size());
    window->move(at);
}

void FitRestoredGeometry(QWidget *window)
{
    const QRect fitted =
        FitGeometry(window->normalGeometry(), AvailableAreas(), FrameMargins(window), window->minimumSize());
    // A maximised window's normal geometry is what it returns to and what is kept at the end:
    // it is fitted too, and the state set again records it.
    const Qt::WindowStates states = window->windowState();
    if (states & (Qt::WindowMaximized | Qt::WindowFullScreen))
        window->setWindowState(states & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
    window->setGeometry(fitted);
    if (window->windowState() != states)
        window->setWindowState(states);
}

void BoundToScreens(QWidget *window)
{
    const auto apply = [window] {
        const QRect desktop = Desktop();
        if (!desktop.isEmpty())
            window->setMaximumSize(desktop.size().expandedTo(window->minimumSize()));
    };
    const auto follow = [window, apply](QScreen *screen) {
        QObject::connect(screen, &QScreen::geometryChanged, window, apply);
    };
    apply();
    for (QScreen *screen : QGuiApplication::screens())
        follow(screen);
    QObject::connect(qGuiApp, &QGuiApplication::screenAdded, window, [apply, follow](QScreen *screen) {
        follow(screen);
        apply();
    });
    // The screen going is still listed while it says so.
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, window,
                     [window, apply] { QTimer::singleShot(0, window, apply); });
}

QSize PictureBound()
{
    qreal ratio = 1.0;
    for (const QScreen *screen : QGuiApplication::screens())
        ratio = qMax(ratio, screen->devicePixelRatio());
    const QSize screens = (QSizeF(Desktop().size()) * ratio).toSize();
    return screens.expandedTo(SmallestPictureBound).boundedTo(QSize(MaxPicturePixels, MaxPicturePixels));
}

QSize PictureSize(const QSize &widget, qreal ratio)
{
    return PictureSize(widget, ratio, PictureBound());
}

QSize PictureSize(const QSize &widget, qreal ratio, const QSize &bound)
{
    if (widget.isEmpty() || !(ratio > 0))
        return widget;
    const double width = widget.width() * ratio, height = widget.height() * ratio;
    double scaleX = std::min(1.0, bound.width() / width), scaleY = std::min(1.0, bound.height() / height);
    const double area = width * scaleX * height * scaleY;
    if (area > MaxPictureArea) {
        scaleX *= std::sqrt(MaxPictureArea / area);
        scaleY *= std::sqrt(MaxPictureArea / area);
    }
    if (scaleX >= 1.0 && scaleY >= 1.0)
        return widget;
    // Rounded down: the picture at this size and ratio stays inside the bound.
    return QSize(qMax(1, int(widget.width() * scaleX)), qMax(1, int(widget.height() * scaleY)));
}

} // namespace Platform
