#include "app/ToolBarImages.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>
#include <functional>

namespace {

QIcon Draw(const std::function<void(QPainter &)> &paint)
{
    QPixmap pixmap(ToolBarImage::Size, ToolBarImage::Size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, true);
    paint(p);
    p.end();
    return QIcon(pixmap);
}

void ExitImage(QPainter &p)
{
    p.setPen(QPen(QColor(90, 60, 30), 2));
    p.setBrush(QColor(200, 150, 90));
    p.drawRect(5, 3, 16, 26);
    p.setBrush(QColor(60, 40, 20));
    p.drawEllipse(QPointF(17, 16), 1.5, 1.5);
    p.setPen(QPen(QColor(200, 0, 0), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(16, 16, 29, 16);
    p.drawLine(29, 16, 24, 11);
    p.drawLine(29, 16, 24, 21);
}

void TimeOfFlightImage(QPainter &p)
{
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(250, 250, 235));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    p.setPen(QPen(QColor(80, 80, 80), 1.5));
    for (int i = 0; i <= 6; ++i) {
        const double a = qDegreesToRadians(210.0 - i * 40.0);
        p.drawLine(QPointF(16 + 10 * qCos(a), 16 - 10 * qSin(a)), QPointF(16 + 13 * qCos(a), 16 - 13 * qSin(a)));
    }
    p.setPen(QPen(QColor(200, 0, 0), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(16, 16), QPointF(23, 9));
    p.setBrush(QColor(40, 40, 40));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(16, 16), 2.5, 2.5);
}

void WaveformImage(QPainter &p)
{
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(0, 0, 128));
    p.drawRect(1, 4, 30, 24);
    QPainterPath red, yellow;
    for (int x = 2; x <= 30; ++x) {
        const double t = (x - 2) / 28.0 * 4 * M_PI;
        const double y1 = 16 - 9 * qSin(t) * qExp(-0.25 * t);
        const double y2 = 16 - 5 * qSin(t - 1.5) * (1 - qExp(-0.5 * t));
        if (x == 2) {
            red.moveTo(x, y1);
            yellow.moveTo(x, y2);
        } else {
            red.lineTo(x, y1);
            yellow.lineTo(x, y2);
        }
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::red, 1.5));
    p.drawPath(red);
    p.setPen(QPen(Qt::yellow, 1.5));
    p.drawPath(yellow);
}

void CommunicationImage(QPainter &p)
{
    // A 9-pin serial connector with traffic arrows above it.
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(QColor(170, 170, 180));
    QPolygonF shell({QPointF(3, 16), QPointF(29, 16), QPointF(26, 29), QPointF(6, 29)});
    p.drawPolygon(shell);
    p.setBrush(QColor(30, 30, 30));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF(8 + i * 4, 20), 1.2, 1.2);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(10 + i * 4, 25), 1.2, 1.2);
    p.setPen(QPen(QColor(0, 128, 0), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(4, 6, 18, 6);
    p.drawLine(18, 6, 14, 2);
    p.setPen(QPen(QColor(0, 0, 200), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(28, 12, 14, 12);
    p.drawLine(14, 12, 18, 8);
}

void AcquireImage(QPainter &p)
{
    p.setPen(QPen(QColor(60, 60, 60), 2));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(4, 20), QPointF(4, 29), QPointF(28, 29), QPointF(28, 20)}));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 110, 200));
    p.drawPolygon(QPolygonF({QPointF(12, 3), QPointF(20, 3), QPointF(20, 14), QPointF(25, 14), QPointF(16, 24),
                             QPointF(7, 14), QPointF(12, 14)}));
}

void UsersGuideImage(QPainter &p)
{
    p.setPen(QPen(QColor(30, 30, 90), 1.5));
    p.setBrush(QColor(60, 90, 170));
    p.drawRect(5, 3, 22, 26);
    p.setBrush(QColor(245, 245, 245));
    p.drawRect(8, 26, 19, 3);
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawPoint(16, 9);
    p.drawLine(16, 14, 16, 21);
}

void RunImage(QPainter &p)
{
    p.setPen(QPen(QColor(0, 90, 0), 1.5));
    p.setBrush(QColor(0, 170, 0));
    p.drawPolygon(QPolygonF({QPointF(8, 4), QPointF(27, 16), QPointF(8, 28)}));
}

void StopImage(QPainter &p)
{
    p.setPen(QPen(QColor(120, 0, 0), 1.5));
    p.setBrush(QColor(210, 0, 0));
    p.drawRoundedRect(QRectF(6, 6, 20, 20), 3, 3);
}

} // namespace

QVector<QIcon> MakeToolBarImages()
{
    QVector<QIcon> images(ToolBarImage::Count);
    for (QIcon &icon : images)
        icon = Draw([](QPainter &) {});
    images[ToolBarImage::Exit] = Draw(ExitImage);
    images[ToolBarImage::TimeOfFlight] = Draw(TimeOfFlightImage);
    images[ToolBarImage::Waveform] = Draw(WaveformImage);
    images[ToolBarImage::Communication] = Draw(CommunicationImage);
    images[ToolBarImage::Acquire] = Draw(AcquireImage);
    images[ToolBarImage::UsersGuide] = Draw(UsersGuideImage);
    images[ToolBarImage::Run] = Draw(RunImage);
    images[ToolBarImage::Stop] = Draw(StopImage);
    return images;
}
