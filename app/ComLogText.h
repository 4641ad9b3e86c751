#pragma once
// Turns received chunks into the text of the communication log. Every byte stays visible:
// CR LF, CR and LF break lines (also a CR LF split across two chunks), a tab stays a tab, other
// control characters and zero bytes show as their Unicode control pictures (␀, ␛, ␡, ...), and
// bytes above 127 as Latin-1. A line break that ends a chunk ends its entry without adding an
// empty line.

#include <QByteArray>
#include <QString>

class TComLogText {
public:
    QString Format(const QByteArray &chunk);
    void Reset() { FAfterCR = false; }

private:
    bool FAfterCR = false; // the last chunk ended in CR; a leading LF belongs to it
};
