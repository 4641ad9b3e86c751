#pragma once
// Whether a serial component's poll timer is running, as seen from outside.

#include "comm/Comm.h"

#include <QTimer>

inline bool PollTimerActive(const TComm &comm)
{
    const auto *timer = comm.findChild<QTimer *>();
    return timer && timer->isActive();
}
