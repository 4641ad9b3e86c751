#pragma once
// The instrument's two analysis reports: fixed-column text records that begin with a marker word.
// These functions need no window; TFormMain's report methods call them on its line buffer.

#include <QByteArray>
#include <cstdint>

namespace Reports {

constexpr char DifferenceMarker[] = "TRFDIF";
constexpr int DifferenceLength = 44;   // characters of the record
constexpr int DifferenceCheckLimit = 45; // the buffer must be longer than this before it is searched

constexpr char MeanMarker[] = "TMEAN";
constexpr int MeanLength = 79;
constexpr int MeanCheckLimit = 80;

// What a record delivers. The mean report carries no temperature. Readable is false when a field
// the computation uses did not convert: such a record is taken, but must not become a number.
struct TReportValues {
    int32_t BigCount = 0;
    int32_t M1 = 0;
    int32_t M2 = 0;
    float Temperature = 0;
    bool Readable = true;
};

enum class TReportKind { Difference, Mean };

// A record taken from the received text.
struct TReport {
    TReportKind Kind = TReportKind::Mean;
    TReportValues Values;
};

inline bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// How many of the marker's first characters (never all of them) end `text`: a marker that may
// be arriving in pieces.
qsizetype MarkerStartAtEnd(const QByteArray &text, const char *marker);

// Optional leading blanks, an optional sign, decimal digits and nothing after them; anything
// else (or a value outside 32 bits) gives 0.
int32_t DecimalInteger(const QByteArray &text);
// The same grammar; false (and `value` untouched) when the text is not such an integer.
bool ReadDecimalInteger(const QByteArray &text, int32_t &value);
// Exactly eight hexadecimal digits of either case, read as 32-bit two's complement; else 0.
int32_t Hex32(const QByteArray &text);
// The same; false (and `value` untouched) when the text is not such a number.
bool ReadHex32(const QByteArray &text, int32_t &value);
// Blanks, an optional sign, digits with an optional fraction (after "." or ","), blanks; else 0.
float DecimalNumber(const QByteArray &text);
bool ReadDecimalNumber(const QByteArray &text, float &value);
// The mean report's count: trailing blanks removed, a third character that is not a digit
// dropped, then a decimal integer.
int32_t MeanCount(const QByteArray &field);
bool ReadMeanCount(const QByteArray &field, int32_t &value);

// Fields of a record that starts at offset 0 of `record` (at least the record's length).
TReportValues DifferenceFields(const QByteArray &record);
TReportValues MeanFields(const QByteArray &record);

// Looks for the marker from the start of `buffer`; when a whole record stands there with at least
// one character after it, reads its fields into `values`, cuts everything up to the record's end
// out of `buffer` and returns true. Otherwise leaves both alone and returns false.
bool TakeDifferenceReport(QByteArray &buffer, TReportValues &values);
bool TakeMeanReport(QByteArray &buffer, TReportValues &values);

// True while a record may still be arriving in `buffer`: its marker stands there without the
// record and the one character after it, or the text ends in the marker's first characters.
bool DifferenceReportPending(const QByteArray &buffer);
bool MeanReportPending(const QByteArray &buffer);

// Takes the first record of either kind from `buffer`, as the Take functions above do, once the
// buffer is longer than that kind's check limit. A record cut short by the marker of the next
// one is taken as unreadable up to that marker, so the record after it is not lost. False, with
// the buffer untouched, while no whole record stands first.
bool TakeReport(QByteArray &buffer, TReport &report);
// True while a record of either kind may still be arriving in `buffer`.
bool ReportPending(const QByteArray &buffer);

} // namespace Reports
