#pragma once
// The window's notices: each one shown in its box from the window's own event loop, once the step
// that raised it has returned, so that no box runs inside the engine's or the port's work. One box
// at a time, in the order they came; a notice already on screen or waiting is not queued again.

#include "platform/Notice.h"

#include <QList>
#include <QObject>
#include <optional>

class TNoticeBoxes : public QObject {
    Q_OBJECT
public:
    explicit TNoticeBoxes(QObject *parent = nullptr) : QObject(parent) {}

    // Queues the notice; its box opens at the next pass of the event loop that has none open.
    void Post(const TNotice &notice);
    // Shows every waiting notice now, in order (the window closes: its loop may not run again).
    void ShowAll();
    int WaitingCount() const { return int(FWaiting.size()); }

private:
    void Schedule();
    void ShowNext();
    static void Show(const TNotice &notice);

    QList<TNotice> FWaiting;
    std::optional<TNotice> FOnScreen;
    bool FScheduled = false;
};
