#include "app/ComLogText.h"

#include "platform/SafeFile.h"

namespace {
const char *const ControlNames[0x20] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                        "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                        "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                        "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
} // namespace

void AppendVisibleByte(QString &text, unsigned char c)
{
    if (c == '\t' || (c >= 0x20 && c < 0x7F) || c >= 0xA0) {
        text += QChar(char16_t(c));
        return;
    }
    text += QLatin1Char('<');
    if (c < 0x20)
        text += QLatin1String(ControlNames[c]);
    else if (c == 0x7F)
        text += QLatin1String("DEL");
    else
        text += QString::number(c, 16).toUpper();
    text += QLatin1Char('>');
}

QString SaveComLog(const QString &fileName, const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.isEmpty())
        bytes += '\n';
    return SafeFile::Save(fileName, bytes).Error;
}

QString TComLogText::Format(const QByteArray &chunk, const QString &stamp)
{
    QString text;
    text.reserve(chunk.size() + 1);
    qsizetype i = 0;
    if (FAfterCR && !chunk.isEmpty() && chunk[0] == '\n')
        i = 1;
    for (; i < chunk.size(); ++i) {
        const auto c = static_cast<unsigned char>(chunk[i]);
        if (c == '\r' || c == '\n') {
            // A second break in a row: the line between them is empty, but received.
            if (FBreakPending) {
                text += QLatin1Char('\n');
                text += stamp;
            } else if (!FStarted) {
                text += stamp;
            }
            FStarted = true;
            FBreakPending = true;
            FColumn = 0;
            if (c == '\r' && i + 1 < chunk.size() && chunk[i + 1] == '\n')
                ++i;
            continue;
        }
        if (FBreakPending || FColumn == LineLengthLimit) {
            text += QLatin1Char('\n');
            if (FBreakPending)
                text += stamp;
            FBreakPending = false;
            FColumn = 0;
        } else if (!FStarted) {
            text += stamp;
        }
        FStarted = true;
        ++FColumn;
        AppendVisibleByte(text, c);
    }
    if (!chunk.isEmpty())
        FAfterCR = chunk.back() == '\r';
    return text;
}
