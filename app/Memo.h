#pragma once
// A read-only log memo. Qt scrolls a plain text view sideways to the end of its text when it is
// first shown; a log is read from the start of its lines, so the column stays where it was.
// Vertically it shows the newest lines, also when text arrived while it was hidden, until the
// operator scrolls away from the end; scrolling back to the end follows it again.
// While it has the focus, the standard keys for select-all and (with text selected) copy act on
// the memo, before the window's command shortcuts on the same keys.

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

class TMemo : public QPlainTextEdit {
public:
    // A log memo is emptied before it grows past this many lines.
    static constexpr int LineLimit = 40000;

    explicit TMemo(QWidget *parent = nullptr) : QPlainTextEdit(parent)
    {
        QScrollBar *bar = verticalScrollBar();
        connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
            if (!FScrolling)
                FFollowing = value >= bar->maximum();
        });
        connect(bar, &QScrollBar::rangeChanged, this, [this] { FollowEnd(); });
    }

    // Adds text at the end of the last line ("\n" starts a new one) without touching the rest
    // of the document. A view that showed the end keeps following it.
    void AppendText(const QString &text)
    {
        if (text.isEmpty())
            return;
        QTextCursor end(document());
        end.movePosition(QTextCursor::End);
        end.beginEditBlock();
        end.insertText(text);
        end.endEditBlock();
        FollowEnd();
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
        FollowEnd();
    }

private:
    void FollowEnd()
    {
        if (!FFollowing)
            return;
        FScrolling = true;
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
        FScrolling = false;
    }

    bool FFollowing = true;
    bool FScrolling = false;
};
