#pragma once
// Watching a serial component's polling from outside: whether its poll timer runs, and waiting
// for a number of complete poll steps (each step lets pending events run three times).

#include "comm/Comm.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QTimer>
#include <QtTest>

inline bool PollTimerActive(const TComm &comm)
{
    const auto *timer = comm.findChild<QTimer *>();
    return timer && timer->isActive();
}

// Counts the "process pending events" calls while it lives.
class TPollStepCounter {
public:
    TPollStepCounter()
    {
        FPrevious = Platform::SetProcessMessagesHook([this] {
            ++FCalls;
            QCoreApplication::processEvents();
        });
    }
    ~TPollStepCounter() { Platform::SetProcessMessagesHook(FPrevious); }
    TPollStepCounter(const TPollStepCounter &) = delete;
    TPollStepCounter &operator=(const TPollStepCounter &) = delete;

    // Waits, with a generous bound, for at least `steps` further complete poll steps.
    bool WaitSteps(int steps)
    {
        const int target = FCalls + 3 * steps;
        return QTest::qWaitFor([&] { return FCalls >= target; }, 10000);
    }

private:
    int FCalls = 0;
    Platform::TProcessMessagesHook FPrevious;
};
