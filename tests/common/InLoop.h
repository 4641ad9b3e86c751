#pragma once
// Acts from inside a loop that runs in a click handler: a 1 ms timer fires while the loop lets
// pending events run, and calls the step until the step returns true.

#include <QObject>
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
