#pragma once
// Waveform files: both channels as comma-separated text, one index per line, "c1,c2" CR LF, no
// header. This reader and this writer own the format; they need no window.

#include "engine/Channel.h"

#include <QByteArray>
#include <QString>

class QSaveFile;

namespace WaveFile {

constexpr int LineCount = ChannelLength;
// Our writer makes at most 15 bytes a line; a file far beyond that is no waveform file, and it
// is refused before it is read into memory.
constexpr qint64 MaxFileSize = 1 << 20;

// Texts the operator sees, under the caption, with a warning icon.
constexpr char MessageCaption[] = "ERROR";
constexpr char FormatMessage[] = "Incorrect data format!";

struct TResult {
    bool Ok = true;
    QString Message; // why it failed, for the operator; empty when Ok
};

// Reads the text of a waveform file. The whole text is checked first: the channels change only
// when it is good. It must hold exactly LineCount lines (CR LF, LF or CR; a final line break adds
// no line). Each line sets that index of both channels and is either the writer's own form (an
// optional "-" and digits, a comma, an optional "-" and digits; each value -32768..32767) or 9
// characters whose first comma is the 5th, around two decimal integers (blanks ahead of them and
// a sign allowed). The first line that is neither refuses the file, named by its number; a wrong
// number of lines is refused with the number found. The loader adds the file's name below.
TResult ReadWaveform(const QByteArray &text, TChannel &channel1, TChannel &channel2);
TResult LoadWaveformFile(const QString &fileName, TChannel &channel1, TChannel &channel2);

// The text of a waveform file: LineCount lines, each value in shortest decimal form.
QByteArray WaveformText(const TChannel &channel1, const TChannel &channel2);
// Writes the whole file aside and only then puts it in the file's place (SafeFile::Save: a
// symbolic link is followed, anything but a regular file refused), so a failure leaves an
// existing file as it was. `file` names the file and is not open yet.
TResult SaveWaveformFile(QSaveFile &file, const TChannel &channel1, const TChannel &channel2);
TResult SaveWaveformFile(const QString &fileName, const TChannel &channel1, const TChannel &channel2);

} // namespace WaveFile
