#pragma once
// The waveform block the instrument sends after "s": a header, "T=" with five characters of
// temperature and four more, then one line per sample point, "ffff,gggg" CR LF, a 4-character
// decimal field per channel. These functions need no window and work on plain byte buffers and
// channel arrays; TFormMain's waveform methods call them on its buffers.

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <cstdint>

namespace WaveBlock {

constexpr char HeaderMarker[] = "T=";
constexpr int HeaderLength = 11;      // the marker, the temperature and four characters not used
constexpr int TemperatureOffset = 2;
constexpr int TemperatureLength = 5;
constexpr int FieldLength = 4;
constexpr int SampleLineLength = 11;  // two fields, a comma, CR LF
constexpr int MemoLineLength = 9;     // the two fields and the comma as received
constexpr int MaxSamples = 1080;      // sample pairs one block fills at most (indices 0..1079)
constexpr int BlockLines = 1568;      // lines the instrument sends after the header: a whole block

// Looks for the header in the text received so far, whatever the chunking. When it stands there
// whole, reads its temperature (0 when the five characters are not a number), removes the text up
// to the header's end and returns true. Otherwise returns false and keeps only the tail that may
// still be the start of a header, so text without a header costs no memory.
bool TakeHeader(QByteArray &text, float &temperature);

// One sample line as taken: the values (a 4th character that is not a digit is dropped, a field
// that is no number reads 0) and the fields as received, for the sample list.
struct TSampleLine {
    int32_t First = 0;
    int32_t Second = 0;
    QByteArray Text;
};

// One attempt at the front of `text`: returns how many characters it takes off the front (at
// least one unless the text is empty) and whether they ended with a well-formed sample line,
// which then goes to `line`. Text before the line's first field goes with it; a malformed line
// goes up to its CR LF (or a single character when there is none).
bool ParseSampleLine(QByteArrayView text, qsizetype &used, TSampleLine &line);

// Stores the sample lines at the front of `text` at index `count` onwards of both channels (each
// value truncated to 16 bits), until no complete line is left or MaxSamples pairs are stored,
// removes the text it used and returns the new count. Each stored line's text is appended to
// `lines` when given. A count outside 0..MaxSamples-1 (no header seen, or the block full) stores
// nothing and changes nothing. Both channels must hold at least MaxSamples values.
int32_t ParseBlock(QByteArray &text, int16_t *channel1, int16_t *channel2, int32_t count,
                   QByteArrayList *lines = nullptr);

} // namespace WaveBlock
