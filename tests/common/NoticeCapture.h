#pragma once
// Records the notices objects (the engine, serial components) give, for as long as it lives.

#include "platform/Notice.h"

#include <QList>
#include <QObject>
#include <QStringList>

class TNoticeCapture {
public:
    TNoticeCapture() = default;
    template <typename T>
    explicit TNoticeCapture(T *source)
    {
        Listen(source);
    }
    ~TNoticeCapture()
    {
        for (const QMetaObject::Connection &connection : std::as_const(FConnections))
            QObject::disconnect(connection);
    }
    TNoticeCapture(const TNoticeCapture &) = delete;
    TNoticeCapture &operator=(const TNoticeCapture &) = delete;

    // Listens to one more source from now on.
    template <typename T>
    void Listen(T *source)
    {
        FConnections << QObject::connect(source, &T::Notice, [this](const TNotice &notice) { Notices.append(notice); });
    }

    QStringList Texts() const
    {
        QStringList texts;
        for (const TNotice &notice : Notices)
            texts << notice.Text;
        return texts;
    }
    void Clear() { Notices.clear(); }

    QList<TNotice> Notices;

private:
    QList<QMetaObject::Connection> FConnections;
};
