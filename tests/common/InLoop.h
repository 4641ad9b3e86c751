#pragma once
// Acting while the window's Run, acquisition or test goes on, and waiting for its end. TInLoop's
// 1 ms timer calls the step from the event loop until the step returns true; Ended waits, with a
// generous bound, until a spy on the window's RunEnded or AcquireEnded has seen it.

#include <QObject>
#include <QSignalSpy>
#include <QTimer>

#include <functional>
#include <utility>

class TInLoop {
public:
    explicit TInLoop(std::function<bool()> step) : FStep(std::move(step))
    {
        FTimer.setInterval(1);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            if (FStep())
                FTimer.stop();
        });
        FTimer.start();
    }
    TInLoop(const TInLoop &) = delete;
    TInLoop &operator=(const TInLoop &) = delete;

    bool Finished() const { return !FTimer.isActive(); }

private:
    std::function<bool()> FStep;
    QTimer FTimer;
};

inline bool Ended(QSignalSpy &spy, int timeoutMs = 30000)
{
    return !spy.isEmpty() || spy.wait(timeoutMs);
}
