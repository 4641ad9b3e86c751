#include "sim/SimProtocol.h"

#include "sim/SimRecords.h"

namespace {

// Sample lines are grouped so that the line is written in pieces of a few milliseconds each.
constexpr int SampleLinesPerChunk = 4;
constexpr int NoiseMinBytes = 1;
constexpr int NoiseMaxBytes = 8;
constexpr int SplitMinBytes = 1;
constexpr int SplitMaxBytes = 7;
constexpr int SplitMaxGapUs = 3000;
// Characters that are neither decimal nor hex digits nor blanks: a spoiled field never reads as
// another valid number.
constexpr char GarbleCharacters[] = "?#*:GZ!%";

} // namespace

TSimProtocol::TSimProtocol(const TSimOptions &options)
    : FOptions(options),
      FModel(options.Seed),
      FGarbleRandom(static_cast<std::uint64_t>(options.Seed) * 4 + 1),
      FDropRandom(static_cast<std::uint64_t>(options.Seed) * 4 + 2),
      FNoiseRandom(static_cast<std::uint64_t>(options.Seed) * 4 + 3),
      FSplitRandom(static_cast<std::uint64_t>(options.Seed) * 4 + 4),
      // Beyond every seed's four streams above, so it is no other seed's stream either.
      FLateRandom((std::uint64_t(1) << 40) + options.Seed)
{
}

QByteArray TSimProtocol::Join(const QList<TSimChunk> &chunks)
{
    QByteArray all;
    for (const TSimChunk &chunk : chunks)
        all += chunk.Bytes;
    return all;
}

QList<TSimChunk> TSimProtocol::Answer(char command)
{
    if (command == '\r' || command == '\n' || command == ' ' || command == '\0')
        return {};
    ++FTally.Commands;
    FSpoiled = false;
    // The command still acts (an acquisition still happens) when only its reply is lost.
    QList<QByteArray> pieces = Reply(command);
    if (FDropRandom.Chance(FOptions.Drop))
        pieces.clear();
    // Drawn for every report asked for, answered or not, so the drop choice does not shift it.
    const bool report = command == 'z' || command == 'Z' || command == 'x' || command == 'X';
    const bool late = report && FLateRandom.Chance(FOptions.Late);
    if (report) {
        ++FTally.Asks;
        FTally.Dropped += pieces.isEmpty();
        FTally.Late += late && !pieces.isEmpty();
        FTally.Garbled += FSpoiled && !pieces.isEmpty();
    }
    if (!pieces.isEmpty() && FNoiseRandom.Chance(FOptions.Noise)) {
        QByteArray noise;
        int n = FNoiseRandom.Between(NoiseMinBytes, NoiseMaxBytes);
        for (int i = 0; i < n; ++i)
            noise += static_cast<char>(FNoiseRandom.Next() & 0xFF);
        pieces += noise;
        // Line ends among them are not noise to a reader.
        FTally.NoiseBytes += noise.size() - noise.count('\r') - noise.count('\n');
    }

    QList<TSimChunk> chunks;
    if (!FOptions.Split) {
        for (const QByteArray &piece : pieces)
            chunks += TSimChunk{piece, 0};
    } else {
        QByteArray all;
        for (const QByteArray &piece : pieces)
            all += piece;
        for (int at = 0; at < all.size();) {
            int n = FSplitRandom.Between(SplitMinBytes, SplitMaxBytes);
            int gap = FSplitRandom.Between(0, SplitMaxGapUs);
            chunks += TSimChunk{all.mid(at, n), gap};
            at += n;
        }
    }
    // Holding the first piece holds the rest: the line carries the output in order.
    if (late && !chunks.isEmpty())
        chunks.first().HoldUs = FOptions.LateUs;
    return chunks;
}

QList<QByteArray> TSimProtocol::Reply(char command)
{
    const TSimReading &r = FModel.Reading();
    switch (command) {
    case '?':
    case 'm':
    case 'M':
        return {SimRecords::MenuText()};
    case 'a':
    case 'A':
        // Acquires silently: anything sent here would land in front of the report the program
        // asks for next and could end its wait before the whole report has arrived.
        FModel.Acquire();
        return {};
    case 'c':
    case 'C':
        FContinuous = !FContinuous;
        return {FContinuous ? QByteArray("Continuous signal ON\r\n") : QByteArray("Continuous signal OFF\r\n")};
    case 'd':
    case 'D':
        return {SimRecords::ParameterText(FOptions.Samples)};
    case 'f':
    case 'F':
        return {"Flash is write protected\r\n"};
    case 'k':
    case 'K':
        return {"Keypad test: no keypad fitted\r\n"};
    case 'p':
    case 'P':
        return {"Parameters are locked; use the front panel\r\n"};
    case 's':
    case 'S':
        return WaveBlock();
    case 't':
    case 'T':
        return {SimRecords::TemperatureText(r.Temperature)};
    case 'v':
    case 'V':
        return {SimRecords::AveragedText(r)};
    case 'x':
    case 'X':
        return {Garbled(SimRecords::DifferenceReport(r), SimRecords::DifferenceFields()) + "\r\n"};
    case 'z':
    case 'Z':
        return {Garbled(SimRecords::MeanReport(r), SimRecords::MeanFields()) + "\r\n"};
    default:
        return {"Unknown command\r\n"};
    }
}

QList<QByteArray> TSimProtocol::WaveBlock()
{
    const TSimReading &r = FModel.Reading();
    TSimWaveform wave = FModel.Waveform(FOptions.Samples);
    // The header goes out on its own, in one write, so that a reader sees it whole in one chunk.
    QList<QByteArray> pieces{Garbled(SimRecords::WaveHeader(r.Temperature), {{2, 5}})};
    QByteArray group;
    for (int i = 0; i < FOptions.Samples; ++i) {
        group += Garbled(SimRecords::SampleLine(wave.Transmit[i], wave.Receive[i]), SimRecords::SampleFields());
        if ((i + 1) % SampleLinesPerChunk == 0) {
            pieces += group;
            group.clear();
        }
    }
    if (!group.isEmpty())
        pieces += group;
    return pieces;
}

QByteArray TSimProtocol::Garbled(QByteArray text, const QList<TSimField> &fields)
{
    if (FOptions.Garble <= 0.0)
        return text;
    for (const TSimField &field : fields) {
        if (!FGarbleRandom.Chance(FOptions.Garble))
            continue;
        int at = field.Offset + FGarbleRandom.Between(0, field.Length - 1);
        text[at] = GarbleCharacters[FGarbleRandom.Between(0, int(sizeof GarbleCharacters) - 2)];
        FSpoiled = true;
    }
    return text;
}
