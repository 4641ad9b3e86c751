#include "app/ComLogText.h"

namespace {
constexpr char16_t ControlPictures = 0x2400; // U+2400 SYMBOL FOR NULL, then one per C0 code
constexpr char16_t DeletePicture = 0x2421;
} // namespace

QString TComLogText::Format(const QByteArray &chunk)
{
    QString text;
    text.reserve(chunk.size() + 1);
    qsizetype i = 0;
    if (FAfterCR && !chunk.isEmpty() && chunk[0] == '\n')
        i = 1;
    for (; i < chunk.size(); ++i) {
        const auto c = static_cast<unsigned char>(chunk[i]);
        if (c == '\r' || c == '\n') {
            if (FBreakPending)
                text += QLatin1Char('\n');
            FBreakPending = true;
            if (c == '\r' && i + 1 < chunk.size() && chunk[i + 1] == '\n')
                ++i;
            continue;
        }
        if (FBreakPending) {
            text += QLatin1Char('\n');
            FBreakPending = false;
        }
        if (c == '\t') {
            text += QLatin1Char('\t');
        } else if (c < 0x20) {
            text += QChar(char16_t(ControlPictures + c));
        } else if (c == 0x7F) {
            text += QChar(DeletePicture);
        } else {
            text += QChar(char16_t(c));
        }
    }
    if (!chunk.isEmpty())
        FAfterCR = chunk.back() == '\r';
    return text;
}
