#include "platform/Platform.h"
#include "platform/ScreenFit.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QTreeView>
#include <QMainWindow>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QPrintDialog>
#include <QPrinter>

namespace Platform {

namespace {
// Room a title bar needs beside its caption: the window icon and the close button, with margins.
constexpr int TitleBarReserve = 96;
// A file dialog shows its columns whole at this size, where the screen has room for it.
constexpr int FileDialogWidth = 760, FileDialogHeight = 460;

// The window a box belongs to: the window in use, or at start-up the main window about to show.
QWidget *BoxParent()
{
    QWidget *parent = QApplication::activeWindow();
    for (QWidget *window : QApplication::topLevelWidgets())
        if (!parent && qobject_cast<QMainWindow *>(window))
            parent = window;
    return parent;
}

// A box sized to a short text is narrower than its caption, which the window manager then cuts
// ("I...", "Save wav..."): keep room for the caption and the title bar's buttons.
void KeepCaptionRoom(QMessageBox &box)
{
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout())) {
        const int captionWidth = box.fontMetrics().horizontalAdvance(box.windowTitle()) + TitleBarReserve;
        grid->addItem(new QSpacerItem(captionWidth, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
}

TQuestionSink &QuestionSink()
{
    static TQuestionSink sink;
    return sink;
}

TMessageSink &MessageSink()
{
    static TMessageSink sink;
    return sink;
}
TFileDialogSink &FileSink()
{
    static TFileDialogSink sink;
    return sink;
}
TPrintDialogSink &PrintSink()
{
    static TPrintDialogSink sink;
    return sink;
}
} // namespace

void MessageBox(const QString &text, const QString &caption, TMsgIcon icon)
{
    if (MessageSink()) {
        MessageSink()(TMessage{text, caption, icon});
        return;
    }
    // A dialog of the window in use, centred on it, and with no buttons to minimise or maximise
    // what only wants an OK.
    QMessageBox box(BoxParent());
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (icon) {
    case TMsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case TMsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case TMsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case TMsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    KeepCaptionRoom(box);
    box.exec();
}

bool Question(const QString &text, const QString &caption)
{
    if (QuestionSink())
        return QuestionSink()(TMessage{text, caption, TMsgIcon::Warning});
    QMessageBox box(BoxParent());
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    box.setWindowTitle(caption);
    box.setText(text);
    box.setIcon(QMessageBox::Warning);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    KeepCaptionRoom(box);
    return box.exec() == QMessageBox::Yes;
}

TQuestionSink SetQuestionSink(TQuestionSink sink)
{
    TQuestionSink old = std::move(QuestionSink());
    QuestionSink() = std::move(sink);
    return old;
}

void ShowMessage(const QString &text)
{
    MessageBox(text, QApplication::applicationName(), TMsgIcon::None);
}

TMessageSink SetMessageSink(TMessageSink sink)
{
    TMessageSink old = std::move(MessageSink());
    MessageSink() = std::move(sink);
    return old;
}

QString FileDialog(const TFileDialogRequest &request)
{
    if (FileSink())
        return FileSink()(request);
    if (request.Kind == TFileDialogKind::Folder)
        return QFileDialog::getExistingDirectory(request.Owner, request.Title, request.InitialName);
    QFileDialog dialog(request.Owner, request.Title, QString(), request.Filter);
    dialog.setAcceptMode(request.Kind == TFileDialogKind::Open ? QFileDialog::AcceptOpen
                                                              : QFileDialog::AcceptSave);
    dialog.setFileMode(request.Kind == TFileDialogKind::Open ? QFileDialog::ExistingFile
                                                            : QFileDialog::AnyFile);
    if (!request.DefaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.DefaultSuffix);
    if (!request.InitialName.isEmpty())
        dialog.selectFile(request.InitialName);
    // The file list in columns wide enough for their contents: names take what is left. The
    // dialog's own overwrite question is sized to its text and cuts its caption; ours keeps it.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setViewMode(QFileDialog::Detail);
    if (auto *list = dialog.findChild<QTreeView *>()) {
        list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    CentreOnScreen(&dialog, QSize(FileDialogWidth, FileDialogHeight));
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        const QString chosen = dialog.selectedFiles().constFirst();
        if (request.Kind == TFileDialogKind::Open || !QFileInfo::exists(chosen) ||
            Question(QStringLiteral("%1 already exists.\nDo you want to replace it?")
                         .arg(QFileInfo(chosen).fileName()),
                     request.Title))
            return chosen;
    }
}

TFileDialogSink SetFileDialogSink(TFileDialogSink sink)
{
    TFileDialogSink old = std::move(FileSink());
    FileSink() = std::move(sink);
    return old;
}

bool PrintDialog(QPrinter *printer)
{
    if (PrintSink())
        return PrintSink()(printer);
    QPrintDialog dialog(printer);
    CentreOnScreen(&dialog, dialog.sizeHint());
    return dialog.exec() == QDialog::Accepted;
}

TPrintDialogSink SetPrintDialogSink(TPrintDialogSink sink)
{
    TPrintDialogSink old = std::move(PrintSink());
    PrintSink() = std::move(sink);
    return old;
}

} // namespace Platform
