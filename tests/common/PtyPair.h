#pragma once
// A pseudo-terminal pair for end-to-end serial tests: the program opens SlavePath() as its
// COM port; the test plays the instrument on the master side.

#include <QByteArray>
#include <QString>

class TPtyPair {
public:
    TPtyPair();
    ~TPtyPair();
    TPtyPair(const TPtyPair &) = delete;
    TPtyPair &operator=(const TPtyPair &) = delete;

    bool IsValid() const { return FMaster >= 0; }
    QString SlavePath() const { return FSlavePath; }

    // Writes all bytes to the master side (the program reads them); false on failure.
    bool Write(const QByteArray &bytes);
    // Writes what the terminal takes now, without blocking; returns how many bytes that was.
    qint64 WriteSome(const char *bytes, qint64 count);
    // Reads what the program has written so far, without blocking.
    QByteArray ReadAvailable();
    // Reads until at least count bytes have arrived or timeoutMs has passed; returns what arrived.
    QByteArray ReadAtLeast(int count, int timeoutMs = 5000);
    // Closes the master side: the program's end sees the device go away.
    void CloseMaster();

private:
    int FMaster = -1;
    int FSlaveKeeper = -1; // keeps the slave configured (raw) between opens
    QString FSlavePath;
};
