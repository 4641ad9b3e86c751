#pragma once
// Watching a serial component's polling from outside: whether its poll timer runs, and waiting
// for a number of complete poll steps.

#include "comm/Comm.h"

#include <QTimer>
#include <QtTest>

inline bool PollTimerActive(const TComm &comm)
{
    const auto *timer = comm.findChild<QTimer *>();
    return timer && timer->isActive();
}

// Counts the poll steps of the components it watches: each tick of a component's poll timer,
// counted after the component's own step has run.
class TPollStepCounter {
public:
    void Watch(const TComm &comm)
    {
        if (auto *timer = comm.findChild<QTimer *>())
            QObject::connect(timer, &QTimer::timeout, &FContext, [this] { ++FSteps; });
    }

    // Waits, with a generous bound, for at least `steps` further complete poll steps.
    bool WaitSteps(int steps)
    {
        const int target = FSteps + steps;
        return QTest::qWaitFor([&] { return FSteps >= target; }, 10000);
    }

private:
    int FSteps = 0;
    QObject FContext; // the connections end with the counter
};
