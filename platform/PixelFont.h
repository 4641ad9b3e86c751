#pragma once
// Window texts are laid out in pixels, so their fonts are sized in pixels, not points: the same
// layout then holds whatever the screen's resolution.

#include <QFont>

inline QFont PixelFont(const QFont &base, int pixels)
{
    QFont font(base);
    font.setPixelSize(pixels);
    return font;
}
