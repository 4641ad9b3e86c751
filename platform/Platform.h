#pragma once
// The small layer that stands in for the desktop platform: message boxes, file dialogs,
// the millisecond clock and the blocking sleep. Each of the interactive pieces goes through a
// replaceable sink so that tests never block on a dialog.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

class QPrinter;
class QWidget;

namespace Platform {

enum class TMsgIcon { None, Information, Warning, Error };

struct TMessage {
    QString Text;
    QString Caption;
    TMsgIcon Icon = TMsgIcon::None;
};

using TMessageSink = std::function<void(const TMessage &)>;

// Shows a modal box with an OK button (or hands it to the installed sink).
void MessageBox(const QString &text, const QString &caption, TMsgIcon icon = TMsgIcon::None);
// A plain message: the text under the application's title, OK button, no icon.
void ShowMessage(const QString &text);
// Installs a sink for every message box; an empty sink restores the modal boxes.
// Returns the sink that was installed before.
TMessageSink SetMessageSink(TMessageSink sink);

// A question with Yes and No (No the default); true for Yes. A sink stands in for the operator.
using TQuestionSink = std::function<bool(const TMessage &)>;
bool Question(const QString &text, const QString &caption);
TQuestionSink SetQuestionSink(TQuestionSink sink);

// Folder: an existing folder is chosen; InitialName is the folder the dialog opens in.
enum class TFileDialogKind { Open, Save, Folder };

struct TFileDialogRequest {
    TFileDialogKind Kind = TFileDialogKind::Open;
    QString Title;
    QString Filter;      // Qt filter string, e.g. "CSV files (*.csv);;All files (*)"
    QString DefaultSuffix;
    QString InitialName;
    QWidget *Owner = nullptr; // the window the dialog stays above
};

// Returns the chosen file (or folder), or an empty string when the operator cancelled. Saving over a file
// that exists asks first; No goes back to the dialog.
using TFileDialogSink = std::function<QString(const TFileDialogRequest &)>;
QString FileDialog(const TFileDialogRequest &request);
TFileDialogSink SetFileDialogSink(TFileDialogSink sink);

// Print dialog: returns true when the operator confirmed printing on the printer as set up
// there. A sink stands in for the operator: it may set up the printer (a PDF file, say).
using TPrintDialogSink = std::function<bool(QPrinter *)>;
bool PrintDialog(QPrinter *printer);
TPrintDialogSink SetPrintDialogSink(TPrintDialogSink sink);

// Milliseconds since an arbitrary start; wraps like a 32-bit tick counter.
uint32_t TickCount();
// A test's clock in place of the real one; an empty hook restores it. Returns the one before.
using TTickCountHook = std::function<uint32_t()>;
TTickCountHook SetTickCountHook(TTickCountHook hook);
// Blocks the calling thread; the user interface is not serviced meanwhile.
void Sleep(int milliseconds);
// Hands memory the program freed back to the system, where the allocator keeps it otherwise
// (after a large buffer such as a full log is emptied).
void ReturnFreedMemory();

} // namespace Platform
