#pragma once
// Numbers as the program shows and logs them: fixed-point decimal text.

#include <QByteArray>
#include <QString>

namespace Platform {

// Fixed-point text with the given number of decimals. An exact tie rounds away from zero, and a
// value that rounds to zero shows no sign.
QByteArray Fixed(double value, int decimals);
// The same, as the text a label or a picture shows.
inline QString FixedText(double value, int decimals)
{
    return QString::fromLatin1(Fixed(value, decimals));
}

} // namespace Platform
