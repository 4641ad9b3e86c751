// The waveform file reader. Either the input is the file itself, or (to reach files of the right
// length) it edits a good file: lines replaced by fuzzed text, the line ends of one style, a
// final line end or none. A load either fails and changes nothing, or succeeds and gives exactly
// the file's values on every line; a file written by the writer reads back every value.

#include "app/WaveFile.h"
#include "fuzz/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QRegularExpression>

#include <cstdlib>
#include <optional>
#include <vector>

namespace {

const QRegularExpression LineEnd(QStringLiteral("\\r\\n|\\r|\\n"));
const QRegularExpression Integer(QStringLiteral("\\A *[+-]?[0-9]+\\z"));
const QRegularExpression Written(QStringLiteral("\\A(-?[0-9]+),(-?[0-9]+)\\z"));
const QRegularExpression Binary(QStringLiteral("[\\x00-\\x08\\x0b\\x0c\\x0e-\\x1f\\x7f]"));

struct TLine {
    int16_t First = 0, Second = 0;
};

// A value of the writer's form within 16 bits; leading zeros may make it longer than any number.
std::optional<int16_t> Sample(QString text)
{
    const bool negative = text.startsWith(QLatin1Char('-'));
    if (negative)
        text.remove(0, 1);
    while (text.size() > 1 && text.startsWith(QLatin1Char('0')))
        text.remove(0, 1);
    if (text.size() > 5)
        return std::nullopt;
    const int value = negative ? -text.toInt() : text.toInt();
    if (value < -32768 || value > 32767)
        return std::nullopt;
    return int16_t(value);
}

// What the file says, or nothing when it must be refused.
std::optional<std::vector<TLine>> Expected(const QByteArray &text)
{
    if (text.size() > WaveFile::MaxFileSize)
        return std::nullopt;
    const QString latin = QString::fromLatin1(text);
    if (latin.contains(Binary))
        return std::nullopt;
    QStringList lines = latin.split(LineEnd);
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast(); // a final line end makes no line
    if (lines.size() != WaveFile::LineCount)
        return std::nullopt;
    std::vector<TLine> result(static_cast<size_t>(WaveFile::LineCount));
    for (int k = 0; k < WaveFile::LineCount; ++k) {
        const QString &line = lines[k];
        if (line.size() == 9 && line.indexOf(QLatin1Char(',')) == 4) {
            const QString first = line.left(4), second = line.mid(5);
            if (!Integer.match(first).hasMatch() || !Integer.match(second).hasMatch())
                return std::nullopt;
            result[size_t(k)] = {int16_t(std::strtol(first.toLatin1().constData(), nullptr, 10)),
                                 int16_t(std::strtol(second.toLatin1().constData(), nullptr, 10))};
            continue;
        }
        const QRegularExpressionMatch match = Written.match(line);
        if (!match.hasMatch())
            return std::nullopt;
        const auto first = Sample(match.captured(1)), second = Sample(match.captured(2));
        if (!first || !second)
            return std::nullopt;
        result[size_t(k)] = {*first, *second};
    }
    return result;
}

TChannel Pattern(int offset)
{
    TChannel channel;
    for (int k = 0; k < ChannelLength; ++k)
        channel[size_t(k)] = int16_t(offset + k);
    return channel;
}

void CheckLoad(const QByteArray &text)
{
    const TChannel before1 = Pattern(1), before2 = Pattern(-3000);
    TChannel channel1 = before1, channel2 = before2;
    const WaveFile::TResult result = WaveFile::ReadWaveform(text, channel1, channel2);
    const auto expected = Expected(text);
    FUZZ_CHECK(result.Ok == expected.has_value());
    if (!result.Ok) {
        FUZZ_CHECK(!result.Message.isEmpty());
        FUZZ_CHECK(channel1 == before1 && channel2 == before2);
        return;
    }
    for (size_t k = 0; k < size_t(ChannelLength); ++k) {
        FUZZ_CHECK(channel1[k] == (*expected)[k].First);
        FUZZ_CHECK(channel2[k] == (*expected)[k].Second);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool()) {
        CheckLoad(QByteArray::fromStdString(input.ConsumeRemainingBytesAsString()));
        return 0;
    }
    // A file the writer made from fuzzed channels reads back exactly. The values come from a
    // small generator seeded by the input, which is too short to give all of them; every 16-bit
    // value is as likely.
    uint32_t state = input.ConsumeIntegral<uint32_t>();
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return int16_t(uint16_t(state >> 16));
    };
    TChannel written1, written2;
    for (size_t k = 0; k < size_t(ChannelLength); ++k) {
        written1[k] = next();
        written2[k] = next();
    }
    const QByteArray good = WaveFile::WaveformText(written1, written2);
    TChannel read1 = Pattern(7), read2 = Pattern(9);
    FUZZ_CHECK(WaveFile::ReadWaveform(good, read1, read2).Ok);
    FUZZ_CHECK(read1 == written1 && read2 == written2);

    // That file edited: lines replaced, the line ends of one style, a final one or not.
    QList<QByteArray> lines = good.split('\n');
    lines.removeLast();
    for (QByteArray &line : lines)
        line.chop(1);
    while (input.remaining_bytes() > 0) {
        const auto k = input.ConsumeIntegralInRange<qsizetype>(0, lines.size());
        const QByteArray replacement = QByteArray::fromStdString(input.ConsumeRandomLengthString(16));
        if (k == lines.size())
            lines.append(replacement);
        else if (input.ConsumeBool())
            lines[k] = replacement;
        else
            lines.removeAt(k);
    }
    static const char *const ends[] = {"\r\n", "\n", "\r"};
    const QByteArray end = ends[size % 3];
    QByteArray text = lines.join(end);
    if (size % 2)
        text += end;
    CheckLoad(text);
    return 0;
}
