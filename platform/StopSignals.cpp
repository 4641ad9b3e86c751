#include "platform/StopSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int CaughtSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int CaughtCount = sizeof(CaughtSignals) / sizeof(CaughtSignals[0]);
// The pipe's writing end, the only thing the handler touches; -1 while no catcher lives.
std::atomic<int> WriteFd{-1};
} // namespace

struct TStopSignals::TSaved {
    struct sigaction Actions[CaughtCount];
};

TStopSignals::TStopSignals(THandler onSignal) : FOnSignal(std::move(onSignal))
{
    int fds[2];
    if (WriteFd.load() >= 0 || ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    FReadFd = fds[0];
    WriteFd.store(fds[1]);
    FNotifier = std::make_unique<QSocketNotifier>(FReadFd, QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(), [this] {
        unsigned char signal = 0;
        while (::read(FReadFd, &signal, 1) == 1)
            FOnSignal(signal);
    });
    FSaved = std::make_unique<TSaved>();
    struct sigaction action {};
    action.sa_handler = &Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // a read or write the signal interrupts goes on
    for (int i = 0; i < CaughtCount; ++i)
        sigaction(CaughtSignals[i], &action, &FSaved->Actions[i]);
}

TStopSignals::~TStopSignals()
{
    if (FReadFd < 0)
        return;
    for (int i = 0; i < CaughtCount; ++i)
        sigaction(CaughtSignals[i], &FSaved->Actions[i], nullptr);
    FNotifier.reset();
    ::close(WriteFd.exchange(-1));
    ::close(FReadFd);
}

QString TStopSignals::Name(int signal)
{
    switch (signal) {
    case SIGINT: return QStringLiteral("SIGINT, Ctrl+C");
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGHUP: return QStringLiteral("SIGHUP");
    default: return QStringLiteral("signal %1").arg(signal);
    }
}

void TStopSignals::Handler(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    const int fd = WriteFd.load();
    if (fd >= 0 && ::write(fd, &byte, 1) < 0) {
        // The pipe is full: requests enough are already waiting to be read.
    }
    errno = saved;
}
