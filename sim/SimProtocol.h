#pragma once
// What the instrument says to each command byte, as timed chunks ready for the line, with the
// configured faults applied. No I/O here: the pty server and the tests feed bytes in and take
// chunks out.

#include "sim/SimModel.h"
#include "sim/SimRandom.h"
#include "sim/SimRecords.h"

#include <QByteArray>
#include <QString>
#include <QList>

struct TSimOptions {
    quint32 Seed = 1;
    double Garble = 0.0;      // probability that a field of a record or sample line is spoiled
    bool Split = false;       // replies go out in random small chunks with short gaps
    double Drop = 0.0;        // probability that a command gets no reply
    double Noise = 0.0;       // probability of a burst of random bytes after a reply
    int VanishAfter = 0;      // close the line after this many commands; 0 = never
    int BaudRate = 115200;    // pacing, 8N1 (10 bits a byte); 0 = as fast as the terminal takes it
    int Samples = 1568;       // sample lines in a waveform block
    int ReplyDelayUs = 0;     // the instrument's own time before a reply starts, from its command
    double Late = 0.0;        // probability that a report ("z", "x") is held back by LateUs
    int LateUs = 60000;       // beyond the program's wait for a report; later output waits too
    QString RecordFile;       // when set, every byte is appended here as it is handed to the line
};

// A piece of output: written in one go, GapUs after the previous piece was due, and no sooner
// than HoldUs after its command (on top of the reply delay); what follows it waits behind it.
struct TSimChunk {
    QByteArray Bytes;
    int GapUs = 0;
    int HoldUs = 0;
};

// What the instrument did with the commands so far, as its own record to set beside a reader's counts.
struct TSimTally {
    qint64 Commands = 0;   // bytes that count as commands
    qint64 Asks = 0;       // of them, reports asked for ("z", "x")
    qint64 Dropped = 0;    // asks left without their report
    qint64 Late = 0;       // reports held back by the late fault
    qint64 Garbled = 0;    // reports with a spoiled field
    qint64 NoiseBytes = 0; // random bytes sent after replies
};

class TSimProtocol {
public:
    explicit TSimProtocol(const TSimOptions &options);

    // The chunks that answer one received byte (none for line ends, blanks or a dropped reply).
    QList<TSimChunk> Answer(char command);

    // Bytes that count as commands so far (line ends and blanks do not).
    int CommandCount() const { return int(FTally.Commands); }
    const TSimTally &Tally() const { return FTally; }
    const TSimModel &Model() const { return FModel; }

    // Concatenated bytes of chunks, for callers that do not care about the timing.
    static QByteArray Join(const QList<TSimChunk> &chunks);

private:
    QList<QByteArray> Reply(char command);
    QList<QByteArray> WaveBlock();
    QByteArray Garbled(QByteArray text, const QList<TSimField> &fields);

    TSimOptions FOptions;
    TSimModel FModel;
    // One stream per fault, so switching one fault on leaves the others' choices unchanged.
    TSimRandom FGarbleRandom;
    TSimRandom FDropRandom;
    TSimRandom FNoiseRandom;
    TSimRandom FSplitRandom;
    TSimRandom FLateRandom;
    TSimTally FTally;
    bool FSpoiled = false; // the last Garbled() changed its text
    bool FContinuous = false;
};
