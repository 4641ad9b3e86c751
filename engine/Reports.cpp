#include "engine/Reports.h"

#include <limits>

namespace Reports {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QByteArray Field(const QByteArray &record, int offset, int length)
{
    return record.mid(offset, length);
}

// Finds the marker and checks that `minimum` characters stand from it on; -1 when not.
qsizetype FindRecord(const QByteArray &buffer, const char *marker, int minimum)
{
    const qsizetype p = buffer.indexOf(marker);
    if (p < 0 || buffer.size() - p < minimum)
        return -1;
    return p;
}

} // namespace

bool ReadDecimalInteger(const QByteArray &text, int32_t &value)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == n)
        return false;
    int64_t magnitude = 0;
    for (; i < n; ++i) {
        if (!IsDigit(text[i]))
            return false;
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > int64_t(std::numeric_limits<int32_t>::max()) + 1)
            return false;
    }
    if (negative)
        magnitude = -magnitude;
    if (magnitude > std::numeric_limits<int32_t>::max() || magnitude < std::numeric_limits<int32_t>::min())
        return false;
    value = static_cast<int32_t>(magnitude);
    return true;
}

int32_t DecimalInteger(const QByteArray &text)
{
    int32_t value = 0;
    return ReadDecimalInteger(text, value) ? value : 0;
}

bool ReadHex32(const QByteArray &text, int32_t &result)
{
    if (text.size() != 8)
        return false;
    uint32_t value = 0;
    for (char c : text) {
        const int digit = HexValue(c);
        if (digit < 0)
            return false;
        value = (value << 4) | uint32_t(digit);
    }
    result = static_cast<int32_t>(value);
    return true;
}

int32_t Hex32(const QByteArray &text)
{
    int32_t value = 0;
    return ReadHex32(text, value) ? value : 0;
}

float DecimalNumber(const QByteArray &text)
{
    float value = 0;
    return ReadDecimalNumber(text, value) ? value : 0;
}

bool ReadDecimalNumber(const QByteArray &text, float &value)
{
    qsizetype i = 0, n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    while (n > i && text[n - 1] == ' ')
        --n;
    QByteArray number;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        number += text[i++];
    int digits = 0;
    for (; i < n && IsDigit(text[i]); ++i, ++digits)
        number += text[i];
    if (i < n && (text[i] == '.' || text[i] == ',')) {
        number += '.';
        for (++i; i < n && IsDigit(text[i]); ++i, ++digits)
            number += text[i];
    }
    if (i != n || digits == 0)
        return false;
    value = static_cast<float>(number.toDouble());
    return true;
}

bool ReadMeanCount(const QByteArray &field, int32_t &value)
{
    QByteArray text = field;
    while (!text.isEmpty() && text.back() == ' ')
        text.chop(1);
    if (text.size() >= 3 && !IsDigit(text[2]))
        text.truncate(2);
    return ReadDecimalInteger(text, value);
}

int32_t MeanCount(const QByteArray &field)
{
    int32_t value = 0;
    return ReadMeanCount(field, value) ? value : 0;
}

// A field that does not convert leaves its value 0, as the instrument's own tools read it, and
// marks the record unreadable.
TReportValues DifferenceFields(const QByteArray &record)
{
    TReportValues values;
    const bool count = ReadDecimalInteger(Field(record, 7, 3), values.BigCount);
    const bool m1 = ReadHex32(Field(record, 14, 8), values.M1);
    const bool m2 = ReadHex32(Field(record, 26, 8), values.M2);
    const bool temperature = ReadDecimalNumber(Field(record, 37, 5), values.Temperature);
    values.Readable = count && m1 && m2 && temperature;
    return values;
}

TReportValues MeanFields(const QByteArray &record)
{
    TReportValues values;
    const bool count = ReadMeanCount(Field(record, 49, 3), values.BigCount);
    const bool m1 = ReadHex32(Field(record, 57, 8), values.M1);
    const bool m2 = ReadHex32(Field(record, 69, 8), values.M2);
    values.Readable = count && m1 && m2;
    return values;
}

namespace {

// Reads the record of `length` characters at the marker when one more character follows it, and
// cuts everything up to the record's end out of the buffer.
bool TakeRecord(QByteArray &buffer, const char *marker, int length,
                TReportValues (*fields)(const QByteArray &), TReportValues &values)
{
    const qsizetype p = FindRecord(buffer, marker, length + 1);
    if (p < 0)
        return false;
    values = fields(buffer.mid(p, length));
    buffer.remove(0, p + length);
    return true;
}

} // namespace

bool TakeDifferenceReport(QByteArray &buffer, TReportValues &values)
{
    return TakeRecord(buffer, DifferenceMarker, DifferenceLength, DifferenceFields, values);
}

bool TakeMeanReport(QByteArray &buffer, TReportValues &values)
{
    return TakeRecord(buffer, MeanMarker, MeanLength, MeanFields, values);
}

namespace {

bool RecordPending(const QByteArray &buffer, const char *marker, int length)
{
    if (buffer.contains(marker))
        return FindRecord(buffer, marker, length + 1) < 0;
    return MarkerStartAtEnd(buffer, marker) > 0;
}

} // namespace

qsizetype MarkerStartAtEnd(const QByteArray &text, const char *marker)
{
    const QByteArrayView start(marker);
    for (qsizetype n = qMin(start.size() - 1, text.size()); n > 0; --n)
        if (text.endsWith(start.first(n)))
            return n;
    return 0;
}

bool DifferenceReportPending(const QByteArray &buffer)
{
    return RecordPending(buffer, DifferenceMarker, DifferenceLength);
}

bool MeanReportPending(const QByteArray &buffer)
{
    return RecordPending(buffer, MeanMarker, MeanLength);
}

bool TakeReport(QByteArray &buffer, TReport &report)
{
    const qsizetype difference = buffer.indexOf(DifferenceMarker);
    const qsizetype mean = buffer.indexOf(MeanMarker);
    if (difference < 0 && mean < 0)
        return false;
    const bool isMean = difference < 0 || (mean >= 0 && mean < difference);
    const qsizetype p = isMean ? mean : difference;
    const qsizetype next = isMean ? difference : mean;
    const int length = isMean ? MeanLength : DifferenceLength;
    const int limit = isMean ? MeanCheckLimit : DifferenceCheckLimit;
    report.Kind = isMean ? TReportKind::Mean : TReportKind::Difference;
    // Another record starting inside this one: this one lost its end on the way.
    const qsizetype same = buffer.indexOf(isMean ? MeanMarker : DifferenceMarker, p + 1);
    qsizetype cut = -1;
    for (const qsizetype q : {next, same})
        if (q > p && q < p + length && (cut < 0 || q < cut))
            cut = q;
    if (cut >= 0) {
        report.Values = TReportValues();
        report.Values.Readable = false;
        buffer.remove(0, cut);
        return true;
    }
    if (buffer.size() <= limit)
        return false;
    return isMean ? TakeMeanReport(buffer, report.Values) : TakeDifferenceReport(buffer, report.Values);
}

bool ReportPending(const QByteArray &buffer)
{
    // A whole record in a buffer not yet above its kind's check limit is taken with the next
    // character: it is still to come, not to be dropped.
    return DifferenceReportPending(buffer) || MeanReportPending(buffer)
           || (buffer.size() <= DifferenceCheckLimit && buffer.contains(DifferenceMarker))
           || (buffer.size() <= MeanCheckLimit && buffer.contains(MeanMarker));
}

} // namespace Reports
