#pragma once
// What the operator must know, as the layers below the front ends report it: they show nothing
// themselves and wait for no one. The window shows a notice in a box once the step that raised it
// has returned; the headless mode writes it to standard error.

#include <QMetaType>
#include <QString>

enum class TNoticeKind {
    Information, // a plain box: OK, no icon
    Warning,     // with the warning (exclamation) icon
    Error        // with the error icon
};

struct TNotice {
    TNoticeKind Kind = TNoticeKind::Information;
    QString Caption;
    QString Text;

    friend bool operator==(const TNotice &a, const TNotice &b)
    {
        return a.Kind == b.Kind && a.Caption == b.Caption && a.Text == b.Text;
    }
    friend bool operator!=(const TNotice &a, const TNotice &b) { return !(a == b); }
};

Q_DECLARE_METATYPE(TNotice)
