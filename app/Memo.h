#pragma once
// A read-only log memo. Qt scrolls a plain text view sideways to the end of its text when it is
// first shown; a log is read from the start of its lines, so the column stays where it was.

#include <QPlainTextEdit>
#include <QScrollBar>

class TMemo : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    void showEvent(QShowEvent *event) override
    {
        const int column = horizontalScrollBar()->value();
        QPlainTextEdit::showEvent(event);
        horizontalScrollBar()->setValue(column);
    }
};
