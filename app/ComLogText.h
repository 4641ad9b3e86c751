#pragma once
// Turns received chunks into the text of the communication log, read as one byte stream: how
// the bytes were chunked does not show. Every byte stays visible: CR LF, CR and LF break lines
// (also a CR LF split across two chunks), other bytes read as AppendVisibleByte shows them.
//
// Format returns what to add at the end of the log's last line, "\n" standing for a line
// break. A line break is handed on only when more text follows it, so the log never ends in an
// empty line while it waits for the rest of the stream. A line that never ends (noise on the
// line) is continued on the next one after LineLengthLimit bytes, as a terminal wraps: one
// endless line would grow without bound and cost more to lay out with every chunk.
// A stamp handed to Format starts each received line that begins in the chunk (a wrapped
// line's continuation is no received line and goes without).

#include <QByteArray>
#include <QString>

// Writes the log's text to a file, a line end after each line. Returns what went wrong, or an
// empty text.
QString SaveComLog(const QString &fileName, const QString &text);

// A received byte as the logs show it, readable in any font: printable characters and the tab as
// they are (bytes above 127 as Latin-1), other control codes as their names in angle brackets
// (<NUL>, <ESC>, <CR>, <DEL>), the codes 0x80 to 0x9F, which no font draws, as their value (<9B>).
void AppendVisibleByte(QString &text, unsigned char c);

class TComLogText {
public:
    static constexpr int LineLengthLimit = 1024;

    QString Format(const QByteArray &chunk, const QString &stamp = QString());
    // The log was emptied: the next text starts its first line.
    void Reset()
    {
        FAfterCR = false;
        FBreakPending = false;
        FColumn = 0;
        FStarted = false;
    }

private:
    bool FAfterCR = false;      // the last chunk ended in CR; a leading LF belongs to it
    bool FBreakPending = false; // a line has ended; its break goes out with the next text
    int FColumn = 0;            // characters in the last line
    bool FStarted = false;      // the first line has begun
};
