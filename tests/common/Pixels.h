#pragma once
// Pixels of one colour in a picture, for tests that check what was drawn.

#include <QImage>
#include <QList>
#include <QPoint>

// How many pixels have the colour.
inline int Count(const QImage &image, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
}

// Where they are, row by row.
inline QList<QPoint> PixelsOf(const QImage &image, QRgb colour)
{
    QList<QPoint> points;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour)
                points << QPoint(x, y);
    return points;
}
