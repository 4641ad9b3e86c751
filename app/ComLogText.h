#pragma once
// Turns received chunks into the text of the communication log, read as one byte stream: how
// the bytes were chunked does not show. Every byte stays visible: CR LF, CR and LF break lines
// (also a CR LF split across two chunks), a tab stays a tab, other control characters and zero
// bytes show as their Unicode control pictures (␀, ␛, ␡, ...), and bytes above 127 as Latin-1.
//
// Format returns what to add at the end of the log's last line, "\n" standing for a line
// break. A line break is handed on only when more text follows it, so the log never ends in an
// empty line while it waits for the rest of the stream.

#include <QByteArray>
#include <QString>

class TComLogText {
public:
    QString Format(const QByteArray &chunk);
    // The log was emptied: the next text starts its first line.
    void Reset()
    {
        FAfterCR = false;
        FBreakPending = false;
    }

private:
    bool FAfterCR = false;      // the last chunk ended in CR; a leading LF belongs to it
    bool FBreakPending = false; // a line has ended; its break goes out with the next text
};
