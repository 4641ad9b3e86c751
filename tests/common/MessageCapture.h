#pragma once
// Records every message box instead of showing it, for as long as it lives.

#include "platform/Platform.h"

#include <QList>
#include <QStringList>

class TMessageCapture {
public:
    TMessageCapture()
    {
        FPrevious = Platform::SetMessageSink([this](const Platform::TMessage &m) { Messages.append(m); });
    }
    ~TMessageCapture() { Platform::SetMessageSink(FPrevious); }
    TMessageCapture(const TMessageCapture &) = delete;
    TMessageCapture &operator=(const TMessageCapture &) = delete;

    QStringList Texts() const
    {
        QStringList texts;
        for (const auto &m : Messages)
            texts << m.Text;
        return texts;
    }
    void Clear() { Messages.clear(); }

    QList<Platform::TMessage> Messages;

private:
    Platform::TMessageSink FPrevious;
};
