#pragma once
// A read-only log memo. Qt scrolls a plain text view sideways to the end of its text when it is
// first shown; a log is read from the start of its lines, so the column stays where it was.
// While it has the focus, the standard keys for select-all and (with text selected) copy act on
// the memo, before the window's command shortcuts on the same keys.

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

class TMemo : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;

    // Adds text at the end of the last line ("\n" starts a new one) without touching the rest
    // of the document. A view that showed the end keeps following it.
    void AppendText(const QString &text)
    {
        if (text.isEmpty())
            return;
        QScrollBar *bar = verticalScrollBar();
        const bool following = isVisible() && bar->value() >= bar->maximum();
        QTextCursor end(document());
        end.movePosition(QTextCursor::End);
        end.beginEditBlock();
        end.insertText(text);
        end.endEditBlock();
        if (following)
            bar->setValue(bar->maximum());
    }

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::ShortcutOverride) {
            auto *key = static_cast<QKeyEvent *>(event);
            if (key->matches(QKeySequence::SelectAll) ||
                (key->matches(QKeySequence::Copy) && textCursor().hasSelection())) {
                key->accept();
                return true;
            }
        }
        return QPlainTextEdit::event(event);
    }

    void showEvent(QShowEvent *event) override
    {
        const int column = horizontalScrollBar()->value();
        QPlainTextEdit::showEvent(event);
        horizontalScrollBar()->setValue(column);
    }
};
