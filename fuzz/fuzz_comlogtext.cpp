// The communication log's text: the input is cut into chunks at fuzzed places and each chunk is
// formatted as the window does. However it is cut, every received byte shows exactly once and in
// order, and no raw control character other than a line break or a tab reaches the log.

#include "app/ComLogText.h"
#include "fuzz/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QString>

namespace {

// The byte stream as it should read, line ends left out.
QString Visible(const QByteArray &bytes)
{
    QString text;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r' || c == '\n')
            continue;
        if (c == '\t' || (c >= 0x20 && c != 0x7F))
            text += QChar(char16_t(c));
        else
            text += QChar(char16_t(c == 0x7F ? 0x2421 : 0x2400 + c));
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    TComLogText log;
    QByteArray stream;
    QString shown; // every entry, line breaks removed
    while (input.remaining_bytes() > 0) {
        const size_t length = input.ConsumeIntegralInRange<size_t>(0, 64);
        const std::string bytes = input.ConsumeBytesAsString(length);
        const QByteArray chunk(bytes.data(), qsizetype(bytes.size()));
        const QString entry = log.Format(chunk);
        for (QChar c : entry)
            FUZZ_CHECK(c == QLatin1Char('\n') || c == QLatin1Char('\t') || (c.unicode() >= 0x20 && c.unicode() != 0x7F));
        FUZZ_CHECK(entry.size() <= chunk.size());
        stream += chunk;
        shown += QString(entry).remove(QLatin1Char('\n'));
    }
    FUZZ_CHECK(shown == Visible(stream));
    return 0;
}
