#pragma once
// The part of the platform layer that has windows: message boxes, file and print dialogs. Each goes
// through a replaceable sink so that tests never block on a dialog. Only the front ends (app/) and
// the windows' own folders use it; the clock is in Clock.h, which this includes for them.

#include "platform/Clock.h"

#include <QString>
#include <QStringList>
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

} // namespace Platform
