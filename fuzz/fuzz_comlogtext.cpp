// The communication log's text: the input is cut into chunks at fuzzed places and each chunk is
// formatted as the window does. However it is cut, the log reads as the whole stream formatted at
// once (line breaks aside), no raw control character other than a line break or a tab reaches it,
// and a stream without control bytes reads exactly as its characters.

#include "app/ComLogText.h"
#include "fuzz/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QString>

namespace {

QString WithoutBreaks(QString text)
{
    return text.remove(QLatin1Char('\n'));
}

bool IsControl(unsigned char c)
{
    return (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || (c >= 0x7F && c < 0xA0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    TComLogText log;
    QByteArray stream;
    QString shown;
    while (input.remaining_bytes() > 0) {
        const size_t length = input.ConsumeIntegralInRange<size_t>(0, 64);
        const std::string bytes = input.ConsumeBytesAsString(length);
        const QByteArray chunk(bytes.data(), qsizetype(bytes.size()));
        const QString entry = log.Format(chunk);
        for (QChar c : entry)
            FUZZ_CHECK(c == QLatin1Char('\n') || c == QLatin1Char('\t') || (c.unicode() >= 0x20 && c.unicode() != 0x7F));
        stream += chunk;
        shown += entry;
    }
    TComLogText whole;
    FUZZ_CHECK(WithoutBreaks(shown) == WithoutBreaks(whole.Format(stream)));
    bool plain = true;
    for (char c : stream)
        plain = plain && !IsControl(static_cast<unsigned char>(c));
    if (plain) {
        QByteArray text = stream;
        text.replace('\r', QByteArray()).replace('\n', QByteArray());
        FUZZ_CHECK(WithoutBreaks(shown) == QString::fromLatin1(text));
    }
    return 0;
}
