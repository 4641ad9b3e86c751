#pragma once
// An in-memory serial device for window tests: the test puts the instrument's bytes into
// Incoming and reads what the program wrote from Written. Every open of the factory's devices
// shares one line, which outlives them. Replies plays a quick instrument: the answer to a command
// byte arrives the moment the byte is written, and the device signals it. LoseDevice pulls the
// open device out, as an unplugged adapter.

#include "comm/ComDevice.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHash>
#include <QStringList>
#include <cstring>
#include <memory>

class TMemoryDevice;

struct TMemoryLine {
    QByteArray Incoming;
    QByteArray Written;
    int Opens = 0;
    QStringList Names; // the device names opened, in order
    QHash<char, QByteArray> Replies;
    TMemoryDevice *Current = nullptr;
};

class TMemoryDevice : public TComDevice {
public:
    explicit TMemoryDevice(TMemoryLine &line) : L(line) {}
    ~TMemoryDevice() override { Close(); }

    bool Open(const QString &name) override
    {
        ++L.Opens;
        L.Names << name;
        L.Current = this;
        return FOpen = true;
    }
    bool IsOpen() const override { return FOpen; }
    bool SetupQueues(int, int) override { return true; }
    bool Purge(uint32_t flags) override
    {
        if (flags & PURGE_RXCLEAR)
            L.Incoming.clear();
        return true;
    }
    bool GetSettings(TDeviceSettings &s) override
    {
        s = FSettings;
        return true;
    }
    bool SetSettings(const TDeviceSettings &s) override
    {
        FSettings = s;
        return true;
    }
    bool ClearError(uint32_t &error, int64_t &waiting) override
    {
        error = 0;
        waiting = L.Incoming.size();
        return true;
    }
    bool ModemStatus(uint32_t &bits) override
    {
        bits = 0;
        return true;
    }
    bool Escape(int) override { return true; }
    bool Read(char *buffer, int64_t count, int64_t &bytesRead) override
    {
        bytesRead = std::min<int64_t>(count, L.Incoming.size());
        std::memcpy(buffer, L.Incoming.constData(), size_t(bytesRead));
        L.Incoming.remove(0, qsizetype(bytesRead));
        return true;
    }
    bool Write(const char *data, int64_t count) override
    {
        L.Written.append(data, qsizetype(count));
        bool answered = false;
        for (int64_t i = 0; i < count; ++i) {
            if (L.Replies.contains(data[i])) {
                L.Incoming += L.Replies.value(data[i]);
                answered = true;
            }
        }
        if (answered && OnDataWaiting)
            OnDataWaiting();
        return true;
    }
    void Close() override
    {
        FOpen = false;
        if (L.Current == this)
            L.Current = nullptr;
    }

private:
    TMemoryLine &L;
    TDeviceSettings FSettings;
    bool FOpen = false;
};

inline void LoseDevice(TMemoryLine &line)
{
    if (line.Current && line.Current->OnGone)
        line.Current->OnGone();
}

// As a device does: the bytes wait on the line, and the device says so at each turn of the event
// loop (a step reads at most a buffer's worth) until the program has taken them all, for up to
// 10 s. True when every byte was taken.
inline bool HandOver(TMemoryLine &line, const QByteArray &bytes)
{
    line.Incoming += bytes;
    QDeadlineTimer bound(10000);
    while (!line.Incoming.isEmpty() && !bound.hasExpired()) {
        if (line.Current && line.Current->OnDataWaiting)
            line.Current->OnDataWaiting();
        QCoreApplication::processEvents();
    }
    return line.Incoming.isEmpty();
}

inline TComDeviceFactory MemoryDeviceFactory(TMemoryLine &line)
{
    return [&line] { return std::make_unique<TMemoryDevice>(line); };
}
