// The waveform block: the header looked for across chunks cut at fuzzed places, then the sample
// lines parsed in two steps split at a fuzzed place. However the text is cut, the result is that
// of the whole text at once; the samples are those a line-by-line reading finds; nothing is
// written outside the block's places in the channels (which are exactly that long, so ASan sees
// any index beyond them).

#include "engine/Reports.h"
#include "engine/WaveBlock.h"
#include "fuzz/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QList>

#include <memory>
#include <vector>

namespace {

constexpr int16_t Untouched = -32768;

struct TSample {
    int32_t First, Second;
};

int32_t FieldValue(const QByteArray &field)
{
    const char last = field.back();
    return Reports::DecimalInteger(last >= '0' && last <= '9' ? field : field.left(3));
}

// The sample lines of a text read line by line: each line ended by CR LF gives a sample when its
// first comma is its fifth character from the end with at least four characters before it.
std::vector<TSample> SampleLines(const QByteArray &text)
{
    std::vector<TSample> samples;
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast(); // not ended yet
    QByteArray pending;
    for (const QByteArray &piece : lines) {
        // A lone LF is no line end: it stays in the line.
        pending += piece;
        if (!pending.endsWith('\r')) {
            pending += '\n';
            continue;
        }
        const QByteArray line = pending.chopped(1);
        pending.clear();
        const qsizetype comma = line.indexOf(',');
        if (comma >= 4 && comma == line.size() - 5)
            samples.push_back({FieldValue(line.mid(comma - 4, 4)), FieldValue(line.mid(comma + 1, 4))});
        if (samples.size() == size_t(WaveBlock::MaxSamples))
            break;
    }
    return samples;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const size_t step = input.ConsumeIntegralInRange<size_t>(1, 64);
    const size_t split = input.ConsumeIntegral<uint16_t>();
    const std::string bytes = input.ConsumeRemainingBytesAsString();
    const QByteArray text(bytes.data(), qsizetype(bytes.size()));

    // The header, chunk by chunk as the window receives it, and in the whole text at once.
    QByteArray whole = text;
    float wholeTemperature = 0;
    const bool wholeFound = WaveBlock::TakeHeader(whole, wholeTemperature);
    QByteArray buffer;
    float temperature = 0;
    bool found = false;
    for (qsizetype at = 0; at < text.size(); at += qsizetype(step)) {
        buffer += text.mid(at, qsizetype(step));
        if (!found)
            found = WaveBlock::TakeHeader(buffer, temperature);
    }
    FUZZ_CHECK(found == wholeFound);
    FUZZ_CHECK(buffer == whole);
    FUZZ_CHECK(temperature == wholeTemperature);
    FUZZ_CHECK(buffer.size() <= text.size());
    if (!found) {
        // Text without a header keeps at most the start of one.
        FUZZ_CHECK(buffer.isEmpty() || buffer.startsWith('T'));
        FUZZ_CHECK(buffer.size() < WaveBlock::HeaderLength);
        return 0;
    }

    // The samples, parsed in two steps, into channels exactly one block long.
    const auto channel1 = std::make_unique<int16_t[]>(WaveBlock::MaxSamples);
    const auto channel2 = std::make_unique<int16_t[]>(WaveBlock::MaxSamples);
    std::fill_n(channel1.get(), WaveBlock::MaxSamples, Untouched);
    std::fill_n(channel2.get(), WaveBlock::MaxSamples, Untouched);
    const qsizetype first = qMin<qsizetype>(qsizetype(split), buffer.size());
    QByteArray block = buffer.left(first);
    QByteArrayList listed;
    int32_t count = WaveBlock::ParseBlock(block, channel1.get(), channel2.get(), 0, &listed);
    FUZZ_CHECK(count >= 0 && count <= WaveBlock::MaxSamples);
    block += buffer.mid(first);
    count = WaveBlock::ParseBlock(block, channel1.get(), channel2.get(), count, &listed);

    const std::vector<TSample> expected = SampleLines(buffer);
    FUZZ_CHECK(count == int32_t(expected.size()));
    FUZZ_CHECK(listed.size() == count);
    for (int32_t i = 0; i < WaveBlock::MaxSamples; ++i) {
        if (i < count) {
            FUZZ_CHECK(channel1[size_t(i)] == int16_t(expected[size_t(i)].First));
            FUZZ_CHECK(channel2[size_t(i)] == int16_t(expected[size_t(i)].Second));
            FUZZ_CHECK(listed[i].size() == WaveBlock::MemoLineLength);
        } else {
            FUZZ_CHECK(channel1[size_t(i)] == Untouched && channel2[size_t(i)] == Untouched);
        }
    }
    // What is left can hold no further complete line unless the block is full.
    if (count < WaveBlock::MaxSamples)
        FUZZ_CHECK(SampleLines(block).empty());
    // A full block takes nothing more.
    const QByteArray before = block;
    FUZZ_CHECK(WaveBlock::ParseBlock(block, channel1.get(), channel2.get(), WaveBlock::MaxSamples) ==
               WaveBlock::MaxSamples);
    FUZZ_CHECK(block == before);
    return 0;
}
