#pragma once
// TDataLogger collects 8-bit text lines in memory and appends them to one file in batches:
// when MaxCount lines are waiting, on the auto-save timer, on request and on destruction.
// Each line is written with its bytes unchanged followed by CR LF. The file is opened for each
// flush and closed again, so other programs may read it (or move it away) between flushes.
//
// Lines that a flush could not write completely stay in the logger and are written first at
// the next flush (at most MaxKeptLines of them; beyond that the oldest are dropped). The first
// failure after a good flush is reported once through OnWriteError, the next complete write
// through OnWriteRecovered; the logger shows nothing itself.

#include "platform/Component.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

class QTimer;

// Sender, file name, error text.
using TWriteErrorEvent = TEvent<QObject *, const QString &, const QString &>;

class TDataLogger : public TComponent {
    Q_OBJECT
public:
    explicit TDataLogger(QObject *AOwner = nullptr);
    // Stops the timer first, then writes what is waiting.
    ~TDataLogger() override;

    // A relative name is resolved against the working directory at the time of each write.
    // Nothing is opened here.
    void SetFileName(const QString &name);
    // Lines waiting beyond the new size are written first. A size of 1 or less (negative
    // included) makes every Append write at once.
    void SetMaxCount(int32_t count);
    // Restarts the period from now; 0 stops auto-saving.
    void SetAutoSaveTime(int32_t seconds);
    // Restarts the timer from now; 0 or less leaves it inactive.
    void SetTimerInterval(int32_t milliseconds);

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
    void TimerOnTimer(QObject *Sender);

    QString FileName() const { return FFileName; }
    int32_t MaxCount() const { return FMaxCount; }
    int32_t AutoSaveTime() const { return FAutoSaveTime; }
    int32_t TimerInterval() const;
    bool TimerActive() const;
    // Lines waiting, including those kept from failed writes, oldest first.
    int32_t Count() const { return static_cast<int32_t>(FLines.size()); }
    const QList<QByteArray> &Lines() const { return FLines; }
    // Lines kept from failed writes (the oldest Count() waiting).
    int32_t KeptCount() const { return FKept; }
    // True from a failed write until the next write that gets every line out.
    bool WriteFailing() const { return FWriteFailing; }
    // Lines flushes have written to the file since the logger was made.
    int64_t WrittenCount() const { return FWrittenCount; }

    TWriteErrorEvent OnWriteError;
    // Raised by the first write that gets every line out after a failure.
    TEvent<QObject *> OnWriteRecovered;

    // Lines kept across failed writes at most; a file that stays unwritable would otherwise
    // grow the buffer without end.
    static constexpr int32_t MaxKeptLines = 100000;

private:
    // Appends the waiting lines to the file; returns how many leading lines were completely
    // written, and sets error to why not all were.
    int32_t WriteLines(QString &error);
    void ReportFailure(const QString &error);
    void ReportRecovery();

    QList<QByteArray> FLines;
    QTimer *FTimer = nullptr;
    QString FFileName;
    int32_t FMaxCount = 0;
    int32_t FAutoSaveTime = 0;

    int32_t FKept = 0;
    int64_t FWrittenCount = 0;
    bool FWriteFailing = false;
    QByteArray FWriteBuffer;
};
