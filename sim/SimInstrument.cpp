#include "sim/SimInstrument.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// With no reader on the slave the master reports a hang-up on every poll; look again this often
// instead of spinning on it.
constexpr int HangupRetryMs = 50;
// A real instrument stops taking commands while it still has this much to send.
constexpr qint64 BusyLimitBytes = 32768;
// Closing the master discards what the reader has not taken yet; give it a few of its polls.
constexpr auto VanishLinger = std::chrono::milliseconds(200);
// After a late wake-up the writer may catch up this much at once; more would be a burst.
constexpr auto CatchUpLimit = std::chrono::milliseconds(5);
constexpr int BitsPerByte = 10;   // start bit, 8 data bits, stop bit

// A chunk on its way, and when its reply may start at the earliest (the instrument's own delay).
struct TQueuedChunk {
    TSimChunk Chunk;
    Clock::time_point NotBefore{};
    bool Recorded = false; // on record already (a partial write leaves the rest in front)
};

// Waits are to the microsecond: a late write would hold the reader back more than the line does.
long long MicrosecondsUntil(Clock::time_point when, Clock::time_point now)
{
    if (when <= now)
        return 0;
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(when - now).count() + 1;
    return std::min<long long>(us, 60LL * 1000 * 1000);
}

long long EarlierTimeout(long long a, long long b)
{
    if (a < 0)
        return b;
    if (b < 0)
        return a;
    return std::min(a, b);
}

} // namespace

TSimInstrument::TSimInstrument(const TSimOptions &options)
    : FOptions(options), FProtocol(options), FReading(FProtocol.Model().Reading())
{
}

TSimReading TSimInstrument::Reading() const
{
    std::lock_guard<std::mutex> lock(FReadingLock);
    return FReading;
}

QByteArray TSimInstrument::Commands() const
{
    std::lock_guard<std::mutex> lock(FReadingLock);
    return FCommandBytes;
}

TSimTally TSimInstrument::Tally() const
{
    std::lock_guard<std::mutex> lock(FReadingLock);
    return FTally;
}

TSimInstrument::~TSimInstrument()
{
    Stop();
}

bool TSimInstrument::Start(QString *error)
{
    auto fail = [&](const char *what) {
        if (error)
            *error = QString::fromLatin1("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
        for (int *fd : {&FMaster, &FRecord}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
        return false;
    };
    if (FMaster >= 0 || FThread.joinable()) {
        if (error)
            *error = QStringLiteral("already started");
        return false;
    }
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0)
        return fail("posix_openpt");
    if (::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0)
        return fail("grantpt/unlockpt");
    char name[128];
    if (::ptsname_r(FMaster, name, sizeof name) != 0)
        return fail("ptsname");
    FSlavePath = QString::fromLocal8Bit(name);

    // Raw mode on the slave: no echo, no CR/LF translation, no signals. The settings stay with
    // the terminal while the master is open, whoever opens the slave later.
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
        return fail("open slave");
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B115200);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::close(slave);

    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    if (!FOptions.RecordFile.isEmpty()) {
        FRecord = ::open(QFile::encodeName(FOptions.RecordFile).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                         0644);
        if (FRecord < 0)
            return fail("open record file");
    }
    if (::pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail("pipe");
    FStop = false;
    FServing = true;
    FThread = std::thread(&TSimInstrument::Serve, this);
    return true;
}

void TSimInstrument::Stop()
{
    if (FThread.joinable()) {
        FStop = true;
        char wake = 1;
        [[maybe_unused]] ssize_t n = ::write(FWake[1], &wake, 1);
        FThread.join();
    }
    for (int &fd : FWake) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    if (FMaster >= 0)
        ::close(FMaster);
    FMaster = -1;
    if (FRecord >= 0)
        ::close(FRecord);
    FRecord = -1;
    FServing = false;
}

// Unbuffered, so what went out is on record even when the process is killed right after.
void TSimInstrument::Record(const char *bytes, ssize_t count)
{
    while (FRecord >= 0 && count > 0) {
        const ssize_t n = ::write(FRecord, bytes, static_cast<size_t>(count));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes += n;
        count -= n;
    }
}

void TSimInstrument::Serve()
{
    std::deque<TQueuedChunk> queue;
    qint64 queued = 0;
    Clock::time_point nextDue = Clock::now();   // when the line is free for the front chunk, before its gap
    bool hungUp = false;
    bool wantWrite = false;                     // the terminal was full: wait for POLLOUT
    bool vanishing = false;
    bool vanishArmed = false;
    Clock::time_point vanishAt{};
    const std::chrono::duration<double, std::micro> perByte(
        FOptions.BaudRate > 0 ? 1e6 * BitsPerByte / FOptions.BaudRate : 0.0);

    const auto replyDelay = std::chrono::microseconds(FOptions.ReplyDelayUs);
    auto lineTime = [&](qsizetype bytes) {
        return std::chrono::duration_cast<Clock::duration>(perByte * static_cast<double>(bytes));
    };
    // When the chunk's first byte goes on the line.
    auto startOf = [&](const TQueuedChunk &queuedChunk) {
        return std::max(nextDue + std::chrono::microseconds(queuedChunk.Chunk.GapUs), queuedChunk.NotBefore);
    };
    // A chunk is written when its last byte would have arrived over a real line, so a reader
    // answering it cannot get ahead of the line.
    auto dueOf = [&](const TQueuedChunk &queuedChunk) {
        return startOf(queuedChunk) + lineTime(queuedChunk.Chunk.Bytes.size());
    };
    auto hangUp = [&] {
        // Nobody listens: what was on its way is lost, as on a real line with no receiver.
        if (!hungUp)
            ++FHangups;
        hungUp = true;
        wantWrite = false;
        queue.clear();
        queued = 0;
        ::tcflush(FMaster, TCOFLUSH);
    };
    auto take = [&](char byte) {
        if (vanishing || queued > BusyLimitBytes)
            return;
        const int before = FProtocol.CommandCount();
        const QList<TSimChunk> chunks = FProtocol.Answer(byte);
        {
            std::lock_guard<std::mutex> lock(FReadingLock);
            FReading = FProtocol.Model().Reading();
            if (FProtocol.CommandCount() > before && FCommandBytes.size() < CommandRecordLimit)
                FCommandBytes += byte;
            FTally = FProtocol.Tally();
        }
        FCommands = FProtocol.CommandCount();
        const Clock::time_point replyStart = Clock::now() + replyDelay;
        for (const TSimChunk &chunk : chunks) {
            queue.push_back(TQueuedChunk{chunk, replyStart + std::chrono::microseconds(chunk.HoldUs)});
            queued += chunk.Bytes.size();
        }
        if (FOptions.VanishAfter > 0 && FProtocol.CommandCount() >= FOptions.VanishAfter)
            vanishing = true;
    };

    while (!FStop.load()) {
        ++FLoops;
        Clock::time_point now = Clock::now();
        long long timeout = -1;   // microseconds; -1 waits for the terminal or a wake-up only
        if (hungUp)
            timeout = HangupRetryMs * 1000LL;
        else if (!queue.empty() && !wantWrite)
            timeout = MicrosecondsUntil(dueOf(queue.front()), now);
        if (vanishing && queue.empty()) {
            if (!vanishArmed) {
                vanishAt = std::max(now, nextDue) + VanishLinger;
                vanishArmed = true;
            }
            if (now >= vanishAt)
                break;
            timeout = EarlierTimeout(timeout, MicrosecondsUntil(vanishAt, now));
        }

        pollfd fds[2] = {{FWake[0], POLLIN, 0},
                         {hungUp ? -1 : FMaster, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0}};
        const timespec wait{static_cast<time_t>(timeout / 1000000), static_cast<long>(timeout % 1000000) * 1000};
        if (::ppoll(fds, 2, timeout < 0 ? nullptr : &wait, nullptr) < 0 && errno != EINTR)
            break;
        if (FStop.load())
            break;
        now = Clock::now();

        if (hungUp) {
            pollfd probe{FMaster, POLLIN, 0};
            if (::poll(&probe, 1, 0) < 0 || (probe.revents & POLLHUP))
                continue;
            hungUp = false;   // a reader has opened the slave again
            nextDue = now;
        } else {
            short events = fds[1].revents;
            if (events & (POLLHUP | POLLERR | POLLNVAL)) {
                // The hang-up may be stale: a reader can have opened the slave since the poll.
                pollfd probe{FMaster, POLLIN, 0};
                ::poll(&probe, 1, 0);
                events = probe.revents;
                if (events & (POLLHUP | POLLERR | POLLNVAL)) {
                    hangUp();
                    events = 0;
                }
            }
            if (events & POLLIN) {
                char buffer[256];
                for (;;) {
                    ssize_t n = ::read(FMaster, buffer, sizeof buffer);
                    if (n > 0) {
                        for (ssize_t i = 0; i < n; ++i)
                            take(buffer[i]);
                        continue;
                    }
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n == 0 || errno != EAGAIN)
                        hangUp();   // EIO: the last reader closed the slave
                    break;
                }
            }
            if (fds[1].revents & POLLOUT)
                wantWrite = false;
        }

        while (!hungUp && !wantWrite && !queue.empty()) {
            TQueuedChunk &queuedFront = queue.front();
            TSimChunk &front = queuedFront.Chunk;
            const Clock::time_point start = startOf(queuedFront);
            if (now < start + lineTime(front.Bytes.size()))
                break;
            // On record before it goes out, so a reader never has a byte the record lacks.
            if (!queuedFront.Recorded) {
                Record(front.Bytes.constData(), front.Bytes.size());
                queuedFront.Recorded = true;
            }
            ssize_t n = ::write(FMaster, front.Bytes.constData(), static_cast<size_t>(front.Bytes.size()));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN)
                    wantWrite = true;
                else
                    hangUp();
                break;
            }
            FBytesSent += n;
            queued -= n;
            // Pace from when this chunk was due, so wake-up latency does not slow the line down,
            // but never bank more than a few milliseconds of idle time as a burst.
            nextDue = std::max(start + lineTime(n), now - std::chrono::duration_cast<Clock::duration>(CatchUpLimit));
            if (n == front.Bytes.size()) {
                queue.pop_front();
            } else {
                front.Bytes.remove(0, static_cast<int>(n));
                front.GapUs = 0;
                queuedFront.NotBefore = {};
            }
            now = Clock::now();
        }
    }

    if (vanishing && !FStop.load()) {
        // The line goes away: the reader sees its device vanish.
        ::close(FMaster);
        FMaster = -1;
        FVanished = true;
    }
    FServing = false;
}
