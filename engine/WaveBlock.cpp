#include "engine/WaveBlock.h"

#include "engine/Reports.h"

namespace WaveBlock {

namespace {

constexpr qsizetype Unknown = -2;
constexpr char LineEnd[] = "\r\n";

// A field's value: a fourth character that is not a digit is not part of the number.
int32_t FieldValue(QByteArrayView field)
{
    if (!Reports::IsDigit(field[FieldLength - 1]))
        field = field.first(FieldLength - 1);
    return Reports::DecimalInteger(field.toByteArray());
}

// The front of the text being parsed, with the next comma and the next CR LF at or after it.
// A position found is kept until the front passes it, so a whole block is searched only once
// however many lines it holds.
class TScanner {
public:
    explicit TScanner(QByteArrayView text) : FText(text) {}

    qsizetype Front() const { return FFront; }
    qsizetype Remaining() const { return FText.size() - FFront; }
    qsizetype NextComma() { return Next(FComma, [this] { return FText.indexOf(',', FFront); }); }
    qsizetype NextLineEnd() { return Next(FLineEnd, [this] { return FText.indexOf(LineEnd, FFront); }); }

    // One attempt at the front: moves the front past what it takes; true with a sample line.
    bool Take(TSampleLine &line)
    {
        const qsizetype comma = NextComma();
        // The first field needs its four characters between the front and the comma.
        if (comma < 0 || comma - FFront < FieldLength)
            return Skip();
        const qsizetype start = comma - FieldLength;
        // A field that would begin with the LF of a line end spans two lines: the line after
        // that end is too short, not a sample.
        if (start > FFront && FText[start - 1] == '\r' && FText[start] == '\n')
            return Skip();
        const QByteArrayView w = FText.sliced(start, qMin<qsizetype>(SampleLineLength, FText.size() - start));
        // Well formed only when the first CR LF in the 11 characters is the line's own end.
        const qsizetype end = w.indexOf(LineEnd);
        if (end != SampleLineLength - 2)
            return Skip();
        line.Text = w.first(MemoLineLength).toByteArray();
        line.First = FieldValue(w.first(FieldLength));
        line.Second = FieldValue(w.sliced(FieldLength + 1, FieldLength));
        FFront = start + SampleLineLength;
        return true;
    }

private:
    template <typename Search>
    qsizetype Next(qsizetype &cached, Search search)
    {
        if (cached == Unknown || (cached >= 0 && cached < FFront))
            cached = search();
        return cached;
    }

    // A malformed line goes up to its CR LF, or a single character when no line end follows.
    bool Skip()
    {
        const qsizetype end = NextLineEnd();
        FFront = end >= 0 ? end + 2 : FFront + 1;
        return false;
    }

    QByteArrayView FText;
    qsizetype FFront = 0;
    qsizetype FComma = Unknown;   // -1 once there is none left
    qsizetype FLineEnd = Unknown;
};

} // namespace

bool TakeHeader(QByteArray &text, float &temperature)
{
    const qsizetype at = text.indexOf(HeaderMarker);
    if (at < 0) {
        // What may be the first part of the marker stays for the next chunk.
        text = text.right(Reports::MarkerStartAtEnd(text, HeaderMarker));
        return false;
    }
    if (text.size() - at < HeaderLength) {
        text.remove(0, at); // the rest of the header is still to come
        return false;
    }
    temperature = Reports::DecimalNumber(text.mid(at + TemperatureOffset, TemperatureLength));
    text.remove(0, at + HeaderLength);
    return true;
}

bool ParseSampleLine(QByteArrayView text, qsizetype &used, TSampleLine &line)
{
    if (text.isEmpty()) {
        used = 0;
        return false;
    }
    TScanner scanner(text);
    const bool taken = scanner.Take(line);
    used = scanner.Front();
    return taken;
}

int32_t ParseBlock(QByteArray &text, int16_t *channel1, int16_t *channel2, int32_t count, QByteArrayList *lines)
{
    if (count < 0 || count >= MaxSamples)
        return count;
    TScanner scanner(text);
    TSampleLine line;
    // A line needs its 11 characters, a comma and a line end; without them nothing more can come.
    while (count < MaxSamples && scanner.Remaining() >= SampleLineLength && scanner.NextComma() >= 0
           && scanner.NextLineEnd() >= 0) {
        if (!scanner.Take(line))
            continue;
        channel1[count] = static_cast<int16_t>(line.First);
        channel2[count] = static_cast<int16_t>(line.Second);
        ++count;
        if (lines)
            lines->append(line.Text);
    }
    text.remove(0, scanner.Front());
    return count;
}

} // namespace WaveBlock
