#pragma once
// TDataLogger collects 8-bit text lines in memory and appends them to one file in batches:
// when MaxCount lines are waiting, on the auto-save timer, on request and on destruction.
// Each line is written with its bytes unchanged followed by CR LF. The file is opened for each
// flush and closed again, so other programs may read it (or move it away) between flushes.
//
// Every batch goes to the end of the file in append mode, whole lines per write call, so two
// programs logging into one file lose nothing and split no line. The logger also holds an
// advisory lock (flock) on the file from its first write to its destruction; finding it taken
// tells the owner once, through OnShared, that another program logs into the same file.
//
// Only a regular file (or a symbolic link that ends at one) is written: a folder, a device, a
// FIFO or a socket in the file's place is refused like a file that cannot be written, with a
// reason naming it (SafeFile::TTarget::Refusal).
//
// Lines that a flush could not write completely stay in the logger and are written first at
// the next flush. The first failure after a good flush is reported once through OnWriteError,
// the next complete write through OnWriteRecovered; the logger shows nothing itself. When the
// waiting lines reach MaxKeptLines, they are spilled to a rescue file (OnSpilled); only when
// no rescue file can be written either are the oldest lines beyond that limit dropped, each
// time announced through OnDropped and counted in DroppedCount. Handlers take note and return:
// they must not destroy the logger, which goes on after them.

#include "platform/Component.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

class QTimer;

// Sender, file name, error text.
using TWriteErrorEvent = TEvent<QObject *, const QString &, const QString &>;
// Sender, file name.
using TSharedLogEvent = TEvent<QObject *, const QString &>;
// Sender, file name, number of lines, rescue file they were saved in.
using TSpilledEvent = TEvent<QObject *, const QString &, int32_t, const QString &>;
// Sender, file name, number of lines lost this time.
using TDroppedEvent = TEvent<QObject *, const QString &, int32_t>;

class TDataLogger : public TComponent {
    Q_OBJECT
public:
    explicit TDataLogger(QObject *AOwner = nullptr);
    // Stops the timer first, then writes what is waiting (spilling it if need be, without
    // events: the owner is going away) and releases the lock on the file.
    ~TDataLogger() override;

    // A relative name is resolved against the working directory at the time of each write.
    // Nothing is opened here; a new name gives up the lock on the old file.
    void SetFileName(const QString &name);
    // Lines waiting beyond the new size are written first. A size of 1 or less (negative
    // included) makes every Append write at once.
    void SetMaxCount(int32_t count);
    // Restarts the period from now; 0 stops auto-saving.
    void SetAutoSaveTime(int32_t seconds);
    // Restarts the timer from now; 0 or less leaves it inactive.
    void SetTimerInterval(int32_t milliseconds);
    // Waiting lines at which a failing file's backlog is spilled to a rescue file; at least 1.
    void SetMaxKeptLines(int32_t count);
    // Folders tried in turn for rescue files, created when missing. Empty (the default): the
    // log's own folder while it is there (never made again, never read against "/" when the
    // working folder is gone), then the application's data folder, made when missing.
    void SetRescueFolders(const QStringList &folders);
    // A line written first into a file that is empty or new (a log or a rescue file), so that the
    // file reads alone; none (the default) writes nothing of the kind.
    void SetHeader(const QByteArray &line) { FHeader = line; }
    QByteArray Header() const { return FHeader; }

    void Append(const QByteArray &line);
    // Writes the waiting lines and drops those written. An empty file name writes nothing and
    // drops every line. Nothing waiting: the file is not touched.
    void FlushData();
    // Appends every waiting line to the file and keeps them all waiting. True when all were
    // written (or there was nothing to write).
    bool SaveData();
    // Replaces the waiting lines with the file's lines (ends CR LF, LF or CR; a zero byte ends
    // the text), makes MaxCount their number and stops auto-saving, so the next Append writes
    // them all with the new line. False, with the buffer emptied and nothing else changed,
    // when the file cannot be read.
    bool LoadData();
    // Writes every waiting line to a new file named after the log and the time, such as
    // Phase-20261207-101500.csv, in the first rescue folder that takes them all, and empties
    // the buffer; savedIn is that file's absolute path. False, with the lines still waiting
    // and no file of ours left behind, when no folder takes them. Nothing waiting: true, and
    // savedIn empty.
    bool Rescue(QString &savedIn);
    void TimerOnTimer(QObject *Sender);

    QString FileName() const { return FFileName; }
    int32_t MaxCount() const { return FMaxCount; }
    int32_t AutoSaveTime() const { return FAutoSaveTime; }
    int32_t TimerInterval() const;
    bool TimerActive() const;
    int32_t MaxKeptLines() const { return FMaxKeptLines; }
    QStringList RescueFolders() const { return FRescueFolders; }
    // Lines waiting, including those kept from failed writes, oldest first.
    int32_t Count() const { return static_cast<int32_t>(FLines.size()); }
    const QList<QByteArray> &Lines() const { return FLines; }
    // Lines kept from failed writes (the oldest Count() waiting).
    int32_t KeptCount() const { return FKept; }
    // True from a failed write until the next write that gets every line out.
    bool WriteFailing() const { return FWriteFailing; }
    // Lines that reached the log file since the logger was made (rescued lines not included).
    int64_t WrittenCount() const { return FWrittenCount; }
    // Lines saved in rescue files since the logger was made.
    int64_t RescuedCount() const { return FRescuedCount; }
    // Lines lost because neither the log nor any rescue file could take them.
    int64_t DroppedCount() const { return FDroppedCount; }

    TWriteErrorEvent OnWriteError;
    // Raised by the first write that gets every line out after a failure.
    TEvent<QObject *> OnWriteRecovered;
    // Raised once per file name, at the first write that finds the file's lock held by
    // another logger (in this program or another). The lines are written all the same.
    TSharedLogEvent OnShared;
    // Raised for each spill of waiting lines to a rescue file.
    TSpilledEvent OnSpilled;
    // Raised at each flush that has to drop lines.
    TDroppedEvent OnDropped;

    // Default limit of waiting lines; a file that stays unwritable would otherwise grow the
    // buffer without end.
    static constexpr int32_t DefaultMaxKeptLines = 100000;

private:
    enum class TTarget { Log, RescueFile };
    // Appends the waiting lines to the file at path; returns how many leading lines were
    // completely written, and sets error to why not all were. A rescue file takes all or
    // nothing: on failure our bytes are cut off again, and a file we created is removed.
    int32_t WriteLines(const QString &path, TTarget target, QString &error);
    // Locks the log open on fd unless it is the file already locked; notes when it is taken.
    void LockLog(int fd);
    void ReleaseLock();
    // After a failed flush: spills the backlog once it reaches the limit, or drops beyond it.
    void SpillBacklog();
    void ReportFailure(const QString &error);
    void ReportRecovery();

    QList<QByteArray> FLines;
    QTimer *FTimer = nullptr;
    QString FFileName;
    int32_t FMaxCount = 0;
    int32_t FAutoSaveTime = 0;
    int32_t FMaxKeptLines = DefaultMaxKeptLines;
    QStringList FRescueFolders;
    QByteArray FHeader;

    int32_t FKept = 0;
    int64_t FWrittenCount = 0;
    int64_t FRescuedCount = 0;
    int64_t FDroppedCount = 0;
    bool FWriteFailing = false;
    QByteArray FWriteBuffer;

    // A descriptor of the log kept open to hold its lock, or -1.
    int FLockFd = -1;
    bool FLocked = false;
    bool FSharedFound = false;    // since the file name was set
    bool FSharedReported = false; // since the file name was set
};
