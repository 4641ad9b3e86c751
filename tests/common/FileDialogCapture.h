#pragma once

#include "platform/Platform.h"

#include <QList>
#include <QString>

// Answers every file dialog with `Answer` and records what was asked.
class TFileDialogCapture {
public:
    TFileDialogCapture()
    {
        FPrevious = Platform::SetFileDialogSink([this](const Platform::TFileDialogRequest &r) {
            Requests.append(r);
            return Answer;
        });
    }
    ~TFileDialogCapture() { Platform::SetFileDialogSink(FPrevious); }
    TFileDialogCapture(const TFileDialogCapture &) = delete;
    TFileDialogCapture &operator=(const TFileDialogCapture &) = delete;

    QString Answer;
    QList<Platform::TFileDialogRequest> Requests;

private:
    Platform::TFileDialogSink FPrevious;
};
