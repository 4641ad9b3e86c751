// The two report records and their field conversions. Each conversion is compared with a reading
// made another way (a regular expression and the C library's number parsers); taking a record
// must cut exactly up to its end and only when a whole record and one more character stand there.

#include "engine/Reports.h"
#include "fuzz/FuzzCheck.h"

#include <QByteArray>
#include <QRegularExpression>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace {

// Whole-text patterns (\\z, since $ would also match before a final line feed).
const QRegularExpression IntegerPattern(QStringLiteral("\\A *[+-]?[0-9]+\\z"));
const QRegularExpression HexPattern(QStringLiteral("\\A[0-9A-Fa-f]{8}\\z"));
const QRegularExpression NumberPattern(QStringLiteral("\\A *[+-]?([0-9]+([.,][0-9]*)?|[.,][0-9]+) *\\z"));

bool Matches(const QRegularExpression &pattern, const QByteArray &text)
{
    // Latin-1 keeps one character per byte.
    return pattern.match(QString::fromLatin1(text)).hasMatch();
}

int32_t ExpectedInteger(const QByteArray &text)
{
    if (text.contains('\0') || !Matches(IntegerPattern, text))
        return 0;
    errno = 0;
    const long long value = std::strtoll(text.constData(), nullptr, 10);
    if (errno == ERANGE || value > std::numeric_limits<int32_t>::max() ||
        value < std::numeric_limits<int32_t>::min())
        return 0;
    return int32_t(value);
}

int32_t ExpectedHex(const QByteArray &text)
{
    if (text.size() != 8 || text.contains('\0') || !Matches(HexPattern, text))
        return 0;
    return int32_t(uint32_t(std::strtoul(text.constData(), nullptr, 16)));
}

float ExpectedNumber(const QByteArray &text)
{
    if (text.contains('\0') || !Matches(NumberPattern, text))
        return 0;
    QByteArray number = text;
    number.replace(',', '.');
    // A number out of the double's range does not convert either.
    errno = 0;
    const double value = std::strtod(number.constData(), nullptr);
    return errno == ERANGE ? 0.0f : float(value);
}

int32_t ExpectedMeanCount(const QByteArray &field)
{
    QByteArray text = field;
    while (text.endsWith(' '))
        text.chop(1);
    if (text.size() >= 3 && !(text[2] >= '0' && text[2] <= '9'))
        text.truncate(2);
    return ExpectedInteger(text);
}

bool Same(const Reports::TReportValues &a, const Reports::TReportValues &b)
{
    return a.BigCount == b.BigCount && a.M1 == b.M1 && a.M2 == b.M2 && a.Temperature == b.Temperature;
}

// Where the fields stand in each record.
Reports::TReportValues ExpectedDifference(const QByteArray &record)
{
    Reports::TReportValues v;
    v.BigCount = ExpectedInteger(record.mid(7, 3));
    v.M1 = ExpectedHex(record.mid(14, 8));
    v.M2 = ExpectedHex(record.mid(26, 8));
    v.Temperature = ExpectedNumber(record.mid(37, 5));
    return v;
}

Reports::TReportValues ExpectedMean(const QByteArray &record)
{
    Reports::TReportValues v;
    v.BigCount = ExpectedMeanCount(record.mid(49, 3));
    v.M1 = ExpectedHex(record.mid(57, 8));
    v.M2 = ExpectedHex(record.mid(69, 8));
    return v;
}

void CheckTake(const QByteArray &input, const char *marker, int length,
               bool (*take)(QByteArray &, Reports::TReportValues &),
               Reports::TReportValues (*expected)(const QByteArray &))
{
    QByteArray buffer = input;
    Reports::TReportValues values;
    values.BigCount = 12345; // must stay when nothing is taken
    const bool taken = take(buffer, values);
    const qsizetype p = input.indexOf(marker);
    const bool whole = p >= 0 && input.size() - p >= length + 1;
    FUZZ_CHECK(taken == whole);
    if (!taken) {
        FUZZ_CHECK(buffer == input);
        FUZZ_CHECK(values.BigCount == 12345);
        return;
    }
    FUZZ_CHECK(buffer == input.mid(p + length));
    FUZZ_CHECK(Same(values, expected(input.mid(p, length))));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));

    // The conversions on the whole input and on its first field-sized pieces.
    for (const QByteArray &text : {input, input.left(3), input.left(5), input.left(8)}) {
        FUZZ_CHECK(Reports::DecimalInteger(text) == ExpectedInteger(text));
        FUZZ_CHECK(Reports::Hex32(text) == ExpectedHex(text));
        FUZZ_CHECK(Reports::DecimalNumber(text) == ExpectedNumber(text));
        FUZZ_CHECK(Reports::MeanCount(text) == ExpectedMeanCount(text));
    }

    CheckTake(input, Reports::DifferenceMarker, Reports::DifferenceLength, Reports::TakeDifferenceReport,
              ExpectedDifference);
    CheckTake(input, Reports::MeanMarker, Reports::MeanLength, Reports::TakeMeanReport, ExpectedMean);
    return 0;
}
