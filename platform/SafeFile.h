#pragma once
// Every file the program writes goes through here. A save writes the new content aside and then
// renames it over the file, but only over a regular file (or where nothing is yet): renaming
// over a device node, a FIFO, a socket or a folder would replace it, and as root a device node
// replaced is gone for the whole machine. A symbolic link is followed to the file it ends at,
// which is written, and the link stays. A write that fails says why, in the system's words.

#include <QByteArray>
#include <QString>

class QSaveFile;

namespace SafeFile {

// Where a path leads, and whether a file may be written there.
struct TTarget {
    QString Path;  // as asked, absolute
    QString Final; // where the bytes go: the end of the symbolic links, absolute; Path when none
    QString Kind;  // empty when writable as a file (a regular file, or nothing yet); else "a FIFO", ...
    bool Writable() const { return Kind.isEmpty(); }
    // Why nothing may be written, naming the paths:
    // "/tmp/x/fifo is not a regular file (a FIFO); nothing was written."
    // "/tmp/x/log leads to /tmp/x/fifo, which is not a regular file (a FIFO); nothing was written."
    QString Refusal() const;
};

// Follows the symbolic links at path (relative ones against their own folder) and looks at what
// is at their end, without opening it.
TTarget Resolve(const QString &path);

struct TResult {
    bool Ok = true;
    QString Error; // the reason, for the operator; empty when Ok
};

// Writes bytes as the whole new content of the file `file` names (not open yet): aside first,
// then renamed over the file; a refused target or a failure leaves what was there as it was.
TResult Save(QSaveFile &file, const QByteArray &bytes);
TResult Save(const QString &path, const QByteArray &bytes);

} // namespace SafeFile
