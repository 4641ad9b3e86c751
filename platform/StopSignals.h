#pragma once
// SIGINT, SIGTERM and SIGHUP (Ctrl+C, a shutdown or a logout, a closed terminal) as requests to
// stop, handed to the event loop: the handler only writes the signal's number into a pipe, and
// a socket notifier on the pipe calls the owner's function from the loop, where any call is safe.
// Only one catcher lives at a time; the handlers it replaced are back once it is destroyed.

#include <QString>
#include <functional>
#include <memory>

class QSocketNotifier;

class TStopSignals {
public:
    using THandler = std::function<void(int signal)>;

    // Needs the application object; onSignal runs once for each signal caught.
    explicit TStopSignals(THandler onSignal);
    ~TStopSignals();
    TStopSignals(const TStopSignals &) = delete;
    TStopSignals &operator=(const TStopSignals &) = delete;

    // False when no pipe could be made, or another catcher already lives: nothing is caught.
    bool IsValid() const { return FReadFd >= 0; }
    // "SIGINT, Ctrl+C", "SIGTERM", "SIGHUP".
    static QString Name(int signal);

private:
    static void Handler(int signal);

    THandler FOnSignal;
    int FReadFd = -1;
    std::unique_ptr<QSocketNotifier> FNotifier;
    struct TSaved;
    std::unique_ptr<TSaved> FSaved;
};
