#include "platform/FixedText.h"

#include <cmath>
#include <cstdio>

namespace Platform {

QByteArray Fixed(double value, int decimals)
{
    // An exact tie rounds away from zero (4.5625 gives 4.563), as people round; printf alone
    // would round it to even.
    const long double scale = std::pow(10.0L, decimals);
    const long double scaled = static_cast<long double>(value) * scale;
    if (std::isfinite(value) && std::fabs(scaled - std::trunc(scaled)) == 0.5L)
        value = static_cast<double>((std::trunc(scaled) + (value < 0 ? -1 : 1)) / scale);
    char text[400];
    const int n = std::snprintf(text, sizeof text, "%.*f", decimals, value);
    if (n <= 0 || n >= int(sizeof text))
        return QByteArray::number(value, 'g', 17);
    QByteArray result(text, n);
    // A value that rounds to zero shows no sign.
    if (result.startsWith('-') && result.count('0') == result.size() - 1 - (decimals > 0 ? 1 : 0))
        result.remove(0, 1);
    return result;
}

} // namespace Platform
