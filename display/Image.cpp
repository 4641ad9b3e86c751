#include "display/Image.h"

#include <QPaintEvent>
#include <QPainter>

TImage::TImage(QWidget *parent) : QWidget(parent), FCanvas(std::make_unique<TCanvas>(&FPicture))
{
    // The picture covers what it shows; Qt need not clear behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TImage::~TImage() = default;

void TImage::AssignBitmap(const QImage &bitmap)
{
    FCanvas->End();
    FPicture = bitmap.convertToFormat(QImage::Format_RGB32);
}

const QImage &TImage::Picture() const
{
    FCanvas->End();
    return FPicture;
}

void TImage::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QImage &picture = Picture();
    // Where the picture is smaller than the control, the page shows through.
    if (picture.width() < width() || picture.height() < height())
        painter.fillRect(rect(), palette().window());
    painter.drawImage(event->rect().topLeft(), picture, event->rect());
}
