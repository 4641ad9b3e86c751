// Throughput of TDataLogger (one open-append-close per batch of 100 lines) against the cheapest
// way to write the same bytes: one QFile kept open for the whole run.
//
// Prints lines per second for both, their ratio, and whether the two files are byte for byte
// the same. Each side runs three times, alternating; the best run of each is compared.

#include "logger/Cdatalogger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int LineCount = 1000000;
constexpr int LineBytes = 200;
constexpr int BatchLines = 100;
constexpr int Rounds = 3;

QList<QByteArray> MakeLines()
{
    QList<QByteArray> lines;
    lines.reserve(LineCount);
    for (int i = 0; i < LineCount; ++i) {
        QByteArray line(LineBytes, ' ');
        for (int j = 0; j < LineBytes; ++j)
            line[j] = char('A' + (i * 31 + j * 7) % 26);
        const QByteArray number = QByteArray::number(i).rightJustified(8, '0') + ',';
        line.replace(0, number.size(), number);
        lines.append(line);
    }
    return lines;
}

double RunLogger(const QList<QByteArray> &lines, const QString &path)
{
    QFile::remove(path);
    QElapsedTimer clock;
    clock.start();
    {
        TDataLogger logger;
        logger.SetFileName(path);
        logger.SetMaxCount(BatchLines);
        logger.SetAutoSaveTime(0);
        for (const QByteArray &line : lines)
            logger.Append(line);
    }
    return clock.nsecsElapsed() / 1e9;
}

double RunOpenFile(const QList<QByteArray> &lines, const QString &path)
{
    QFile::remove(path);
    QElapsedTimer clock;
    clock.start();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return -1;
    }
    for (const QByteArray &line : lines) {
        file.write(line);
        file.write("\r\n", 2);
    }
    file.close();
    return clock.nsecsElapsed() / 1e9;
}

bool SameBytes(const QString &a, const QString &b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd()) {
        if (fa.read(1 << 20) != fb.read(1 << 20))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv); // the logger's timer needs an event dispatcher
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const QString loggerPath = dir.filePath("logger.csv");
    const QString filePath = dir.filePath("openfile.csv");
    const QList<QByteArray> lines = MakeLines();

    std::printf("bench_logger: %d lines of %d bytes (+CR LF), logger MaxCount %d, best of %d runs\n",
                LineCount, LineBytes, BatchLines, Rounds);
    double bestLogger = 1e30, bestFile = 1e30;
    for (int round = 1; round <= Rounds; ++round) {
        const double f = RunOpenFile(lines, filePath);
        const double l = RunLogger(lines, loggerPath);
        if (f < 0)
            return 1;
        std::printf("  run %d: open file %.3f s, logger %.3f s\n", round, f, l);
        bestFile = std::min(bestFile, f);
        bestLogger = std::min(bestLogger, l);
    }
    const double fileRate = LineCount / bestFile;
    const double loggerRate = LineCount / bestLogger;
    std::printf("  QFile kept open : %12.0f lines/s\n", fileRate);
    std::printf("  TDataLogger     : %12.0f lines/s\n", loggerRate);
    std::printf("  logger / open file: %.2f (time ratio %.2f)\n", loggerRate / fileRate, bestLogger / bestFile);
    const bool same = SameBytes(loggerPath, filePath);
    std::printf("  files identical: %s (%lld bytes)\n", same ? "yes" : "NO",
                static_cast<long long>(QFile(loggerPath).size()));
    return same ? 0 : 1;
}
