#include "app/WaveFile.h"

#include "engine/Reports.h"
#include "engine/WaveBlock.h"
#include "platform/SafeFile.h"

#include <QByteArrayView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QVector>

#include <limits>

namespace WaveFile {

namespace {

// A line is the sample list's "ffff,gggg": two 4-character fields around the comma.
constexpr int LineLength = WaveBlock::MemoLineLength;
constexpr int CommaPosition = WaveBlock::FieldLength;

TResult Failed(const QString &message)
{
    return TResult{false, message};
}

TResult FormatFailed(const QString &detail)
{
    return Failed(QString::fromLatin1(FormatMessage) + "\n\n" + detail);
}

// Control characters other than the line breaks and the tab: the file is no text.
bool IsBinary(const QByteArray &text)
{
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && c != '\r' && c != '\n' && c != '\t') || b == 0x7f)
            return true;
    }
    return false;
}

// CR LF, LF and CR each end a line; a final line break makes no empty line after it.
QVector<QByteArrayView> SplitLines(const QByteArray &text)
{
    QVector<QByteArrayView> lines;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.append(QByteArrayView(text.constData() + start, i - start));
        if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(QByteArrayView(text.constData() + start, n - start));
    return lines;
}

enum class TLineRead { Ok, NotNumbers, OutOfRange };

constexpr int32_t SampleMin = std::numeric_limits<int16_t>::min();
constexpr int32_t SampleMax = std::numeric_limits<int16_t>::max();

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The writer's form of a value: an optional minus and digits, nothing else.
TLineRead ReadValue(QByteArrayView field, int16_t &value)
{
    const bool negative = !field.isEmpty() && field.front() == '-';
    if (negative)
        field = field.sliced(1);
    if (field.isEmpty())
        return TLineRead::NotNumbers;
    int32_t magnitude = 0;
    bool tooLarge = false;
    for (char c : field) {
        if (!IsDigit(c))
            return TLineRead::NotNumbers;
        // Leading zeros make a field as long as they like: the sum stops once out of range.
        if (!tooLarge) {
            magnitude = magnitude * 10 + (c - '0');
            tooLarge = magnitude > -SampleMin;
        }
    }
    const int32_t signedValue = negative ? -magnitude : magnitude;
    if (tooLarge || signedValue < SampleMin || signedValue > SampleMax)
        return TLineRead::OutOfRange;
    value = static_cast<int16_t>(signedValue);
    return TLineRead::Ok;
}

TLineRead ReadLine(QByteArrayView line, int16_t &first, int16_t &second)
{
    // The sample list's "ffff,gggg", all that older readers took: its fields may have blanks in
    // front and a plus sign, and four characters keep a value within 16 bits.
    if (line.size() == LineLength && line.indexOf(',') == CommaPosition) {
        int32_t a = 0, b = 0;
        if (!Reports::ReadDecimalInteger(line.first(CommaPosition).toByteArray(), a)
            || !Reports::ReadDecimalInteger(line.sliced(CommaPosition + 1).toByteArray(), b))
            return TLineRead::NotNumbers;
        first = static_cast<int16_t>(a);
        second = static_cast<int16_t>(b);
        return TLineRead::Ok;
    }
    const qsizetype comma = line.indexOf(',');
    if (comma < 0)
        return TLineRead::NotNumbers;
    const TLineRead a = ReadValue(line.first(comma), first);
    const TLineRead b = ReadValue(line.sliced(comma + 1), second);
    if (a == TLineRead::NotNumbers || b == TLineRead::NotNumbers)
        return TLineRead::NotNumbers;
    return a == TLineRead::Ok ? b : a;
}

// A line as the message shows it: a stray long line must not fill the operator's screen.
QString ShownLine(QByteArrayView line)
{
    constexpr qsizetype Longest = 40;
    if (line.size() <= Longest)
        return QString::fromLatin1(line.data(), line.size());
    return QString::fromLatin1(line.data(), Longest) + "...";
}

QString Shown(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName);
}

// What was found instead of LineCount lines.
QString LineCountText(const QVector<QByteArrayView> &lines)
{
    const qsizetype count = lines.size();
    if (count == 0)
        return QString("The file is empty; a waveform file holds %1 lines.").arg(LineCount);
    // LF CR line ends read as a line break and an empty line each.
    bool everySecondEmpty = count == 2 * LineCount;
    for (qsizetype k = 1; everySecondEmpty && k < count; k += 2)
        everySecondEmpty = lines[k].isEmpty();
    return QString("The file holds %1 line%2%3; a waveform file holds %4.")
        .arg(count)
        .arg(count == 1 ? "" : "s")
        .arg(everySecondEmpty ? ", every second one empty (line ends LF CR?)" : "")
        .arg(LineCount);
}

} // namespace

TResult ReadWaveform(const QByteArray &text, TChannel &channel1, TChannel &channel2)
{
    if (text.size() > MaxFileSize)
        return FormatFailed(QString("The file is larger than a waveform file can be (more than %1 bytes).")
                                .arg(MaxFileSize));
    if (IsBinary(text))
        return FormatFailed("The file holds binary data, not text.");
    const QVector<QByteArrayView> lines = SplitLines(text);
    if (lines.size() != LineCount)
        return FormatFailed(LineCountText(lines));
    // The channels change only once every line has been read.
    TChannel read1{}, read2{};
    for (int k = 0; k < LineCount; ++k) {
        const QByteArrayView line = lines[k];
        switch (ReadLine(line, read1[k], read2[k])) {
        case TLineRead::Ok:
            break;
        case TLineRead::NotNumbers:
            return FormatFailed(QString("Line %1 does not hold two numbers: %2").arg(k + 1).arg(ShownLine(line)));
        case TLineRead::OutOfRange:
            return FormatFailed(QString("Line %1 holds a number outside %2..%3: %4")
                                    .arg(k + 1)
                                    .arg(SampleMin)
                                    .arg(SampleMax)
                                    .arg(ShownLine(line)));
        }
    }
    channel1 = read1;
    channel2 = read2;
    return TResult{};
}

TResult LoadWaveformFile(const QString &fileName, TChannel &channel1, TChannel &channel2)
{
    const auto cannotLoad = [&](const QString &reason) {
        return Failed(QString("Cannot load the waveform file %1:\n%2").arg(Shown(fileName), reason));
    };
    const QFileInfo info(fileName);
    // A device or a pipe may never end (or never open): only plain files are read.
    if (info.exists() && !info.isFile())
        return cannotLoad("It is not a file.");
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return cannotLoad(file.errorString());
    // A refused file is named under what was found in it.
    const auto named = [&](TResult result) {
        if (!result.Ok)
            result.Message += "\nFile: " + Shown(fileName);
        return result;
    };
    if (file.size() > MaxFileSize)
        return named(
            FormatFailed(QString("The file is larger than a waveform file can be (%1 bytes).").arg(file.size())));
    // One byte more than allowed, so a file that grew meanwhile is still refused whole.
    const QByteArray text = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return cannotLoad(file.errorString());
    return named(ReadWaveform(text, channel1, channel2));
}

QByteArray WaveformText(const TChannel &channel1, const TChannel &channel2)
{
    QByteArray text;
    text.reserve(LineCount * 15);
    for (int k = 0; k < LineCount; ++k) {
        text += QByteArray::number(channel1[k]);
        text += ',';
        text += QByteArray::number(channel2[k]);
        text += "\r\n";
    }
    return text;
}

TResult SaveWaveformFile(QSaveFile &file, const TChannel &channel1, const TChannel &channel2)
{
    const QString fileName = file.fileName();
    const SafeFile::TResult saved = SafeFile::Save(file, WaveformText(channel1, channel2));
    if (!saved.Ok)
        return Failed(QString("Cannot save the waveform file %1:\n%2\n\nAn existing file of that name is left as it was.")
                          .arg(Shown(fileName), saved.Error));
    return TResult{};
}

TResult SaveWaveformFile(const QString &fileName, const TChannel &channel1, const TChannel &channel2)
{
    QSaveFile file(fileName);
    return SaveWaveformFile(file, channel1, channel2);
}

} // namespace WaveFile
