#pragma once
// The real serial device with a trace of what passed through it: every read that delivered bytes
// and every write, in the order they happened, so a test can replay what the program saw. The
// trace goes to a file as it comes, so that a long run measures the program's memory, not its own.

#include "comm/SerialDevice.h"

#include <QByteArray>
#include <QDataStream>
#include <QFile>
#include <QList>
#include <memory>

struct TTraceEvent {
    enum TKind { Read, Write, RunStart, RunEnd } Kind;
    int Session; // which connection of the test the bytes belong to
    QByteArray Bytes;
};

class TTrace {
public:
    explicit TTrace(const QString &path) : FFile(path)
    {
        FOk = FFile.open(QIODevice::WriteOnly | QIODevice::Truncate);
        FStream.setDevice(&FFile);
    }
    bool IsOk() const { return FOk && FStream.status() == QDataStream::Ok; }

    void Append(TTraceEvent::TKind kind, const QByteArray &bytes = {})
    {
        FStream << qint8(kind) << qint8(Session) << bytes;
    }

    // Everything traced so far, read back from the file.
    QList<TTraceEvent> Events()
    {
        FFile.flush();
        return Read(FFile.fileName());
    }
    // The events of a trace file, such as one a failed run kept.
    static QList<TTraceEvent> Read(const QString &path)
    {
        QList<TTraceEvent> events;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return events;
        QDataStream in(&file);
        while (!in.atEnd()) {
            qint8 kind = 0, session = 0;
            QByteArray bytes;
            in >> kind >> session >> bytes;
            if (in.status() != QDataStream::Ok)
                break;
            events.append({TTraceEvent::TKind(kind), session, bytes});
        }
        return events;
    }

    int Session = 0;

private:
    QFile FFile;
    QDataStream FStream;
    bool FOk = false;
};

class TTraceDevice : public TComDevice {
public:
    explicit TTraceDevice(TTrace &trace) : FTrace(trace)
    {
        // The component listens to this device; the real one's events are handed on.
        FDevice.OnGone = [this] {
            if (OnGone)
                OnGone();
        };
        FDevice.OnDataWaiting = [this] {
            if (OnDataWaiting)
                OnDataWaiting();
        };
    }

    bool Open(const QString &name) override { return FDevice.Open(name); }
    bool IsOpen() const override { return FDevice.IsOpen(); }
    bool SetupQueues(int in, int out) override { return FDevice.SetupQueues(in, out); }
    bool Purge(uint32_t flags) override { return FDevice.Purge(flags); }
    bool GetSettings(TDeviceSettings &s) override { return FDevice.GetSettings(s); }
    bool SetSettings(const TDeviceSettings &s) override { return FDevice.SetSettings(s); }
    bool ClearError(uint32_t &error, int64_t &waiting) override { return FDevice.ClearError(error, waiting); }
    bool ModemStatus(uint32_t &bits) override { return FDevice.ModemStatus(bits); }
    bool Escape(int function) override { return FDevice.Escape(function); }
    bool Read(char *buffer, int64_t count, int64_t &bytesRead) override
    {
        const bool ok = FDevice.Read(buffer, count, bytesRead);
        if (ok && bytesRead > 0)
            FTrace.Append(TTraceEvent::Read, QByteArray(buffer, qsizetype(bytesRead)));
        return ok;
    }
    bool Write(const char *data, int64_t count) override
    {
        const bool ok = FDevice.Write(data, count);
        if (ok)
            FTrace.Append(TTraceEvent::Write, QByteArray(data, qsizetype(count)));
        return ok;
    }
    void Close() override { FDevice.Close(); }

private:
    TTrace &FTrace;
    TSerialDevice FDevice;
};

inline TComDeviceFactory TraceDeviceFactory(TTrace &trace)
{
    return [&trace] { return std::make_unique<TTraceDevice>(trace); };
}
