#pragma once
// The simulated instrument on a pseudo-terminal. Start() opens the terminal and serves it from a
// worker thread: commands are read from the master side, answers are queued and written paced
// like a 115200 baud line (each piece when its last byte would have arrived), and a reader that
// closes and reopens the slave finds the instrument still there. The worker never blocks on a full terminal, so a single-threaded reader in the
// same process cannot deadlock against it.

#include "sim/SimProtocol.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <thread>

class TSimInstrument {
public:
    explicit TSimInstrument(const TSimOptions &options);
    ~TSimInstrument();
    TSimInstrument(const TSimInstrument &) = delete;
    TSimInstrument &operator=(const TSimInstrument &) = delete;

    // Opens the terminal (slave in raw mode) and starts serving; false with a reason on failure.
    bool Start(QString *error = nullptr);
    // Stops serving and closes the terminal; safe to call more than once.
    void Stop();

    QString SlavePath() const { return FSlavePath; }
    // True once the line was closed because of the vanish-after option; the worker has ended.
    bool HasVanished() const { return FVanished.load(); }
    bool IsServing() const { return FServing.load(); }
    int CommandCount() const { return FCommands.load(); }
    // The command bytes taken so far, in order (the first CommandRecordLimit of them).
    QByteArray Commands() const;
    static constexpr int CommandRecordLimit = 1 << 20;
    qint64 BytesSent() const { return FBytesSent.load(); }
    // Turns of the worker's loop, so a test can see that an idle or hung-up line does not spin.
    qint64 LoopCount() const { return FLoops.load(); }
    // Times the worker found the slave side closed (no reader on the line).
    int HangupCount() const { return FHangups.load(); }
    // The model's acquisition as of the last command taken: what the last report carried, unless
    // an acquisition came after it. Lets a test check what a reader made of the line.
    TSimReading Reading() const;
    // What the instrument did with the commands taken so far.
    TSimTally Tally() const;

private:
    void Record(const char *bytes, ssize_t count);
    void Serve();

    TSimOptions FOptions;
    TSimProtocol FProtocol;     // used by the worker only, once started
    QString FSlavePath;
    int FMaster = -1;
    int FRecord = -1;           // the record file of the bytes sent, when asked for
    int FWake[2] = {-1, -1};    // a byte here wakes the worker to stop
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FVanished{false};
    std::atomic<bool> FServing{false};
    std::atomic<int> FCommands{0};
    std::atomic<qint64> FBytesSent{0};
    std::atomic<qint64> FLoops{0};
    std::atomic<int> FHangups{0};
    mutable std::mutex FReadingLock;
    TSimReading FReading;       // copy of the worker's model reading, for other threads
    QByteArray FCommandBytes;   // guarded by FReadingLock too
    TSimTally FTally;           // guarded by FReadingLock too
};
