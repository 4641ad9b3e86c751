#include "tests/common/PtyPair.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

TPtyPair::TPtyPair()
{
    FMaster = posix_openpt(O_RDWR | O_NOCTTY);
    if (FMaster < 0)
        return;
    if (grantpt(FMaster) != 0 || unlockpt(FMaster) != 0) {
        ::close(FMaster);
        FMaster = -1;
        return;
    }
    FSlavePath = QString::fromLocal8Bit(ptsname(FMaster));
    // Raw mode on the slave so that no byte is translated or echoed before the program opens it.
    FSlaveKeeper = ::open(ptsname(FMaster), O_RDWR | O_NOCTTY);
    if (FSlaveKeeper >= 0) {
        termios tio{};
        if (tcgetattr(FSlaveKeeper, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(FSlaveKeeper, TCSANOW, &tio);
        }
    }
    fcntl(FMaster, F_SETFL, fcntl(FMaster, F_GETFL) | O_NONBLOCK);
}

TPtyPair::~TPtyPair()
{
    CloseMaster();
    if (FSlaveKeeper >= 0)
        ::close(FSlaveKeeper);
}

bool TPtyPair::Write(const QByteArray &bytes)
{
    if (FMaster < 0)
        return false;
    qint64 done = 0;
    QDeadlineTimer deadline(10000);
    while (done < bytes.size()) {
        ssize_t n = ::write(FMaster, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (deadline.hasExpired())
            return false;
        // The terminal is full: let the program's poll drain it.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{FMaster, POLLOUT, 0};
        ::poll(&p, 1, 5);
    }
    return true;
}

qint64 TPtyPair::WriteSome(const char *bytes, qint64 count)
{
    if (FMaster < 0 || count <= 0)
        return 0;
    const ssize_t n = ::write(FMaster, bytes, static_cast<size_t>(count));
    return n > 0 ? n : 0;
}

QByteArray TPtyPair::ReadAvailable()
{
    QByteArray result;
    if (FMaster < 0)
        return result;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(FMaster, buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.append(buffer, static_cast<int>(n));
    }
    return result;
}

QByteArray TPtyPair::ReadAtLeast(int count, int timeoutMs)
{
    QByteArray result = ReadAvailable();
    QDeadlineTimer deadline(timeoutMs);
    while (result.size() < count && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{FMaster, POLLIN, 0};
        ::poll(&p, 1, 5);
        result += ReadAvailable();
    }
    return result;
}

void TPtyPair::CloseMaster()
{
    if (FMaster >= 0) {
        ::close(FMaster);
        FMaster = -1;
    }
    // The slave keeper would keep the terminal alive; a vanished device means both ends gone
    // from the instrument's side, so close it too.
    if (FSlaveKeeper >= 0) {
        ::close(FSlaveKeeper);
        FSlaveKeeper = -1;
    }
}
