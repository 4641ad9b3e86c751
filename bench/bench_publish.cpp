// What publishing costs the program: zarnmonitor --headless on the simulated instrument for a
// Run of RunSeconds, without --mqtt and with it (a mosquitto of the bench's own on a free port of
// 127.0.0.1), three times each. Prints the program's CPU time (user and system, all its threads,
// Paho's included) per second of Run, the reports per second, the median of each and the ratio of
// the medians, on to off. Paho writes each message to its folder and removes it once acknowledged:
// most of the difference is that, on Paho's threads and the program's.

#include "tests/common/FreePort.h"
#include "sim/SimInstrument.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include "Median.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <vector>

namespace {

constexpr int RunSeconds = 10;
constexpr int Rounds = 3;

// CPU seconds of the children waited for so far.
double ChildrenCpu()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct TRun {
    double CpuPerSecond = 0, ReportsPerSecond = 0;
};

bool RunOnce(const QString &device, const QString &folder, const QStringList &more, TRun &run)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", folder + "/data");
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(folder);
    const double before = ChildrenCpu();
    program.start(QStringLiteral(ZARNMONITOR_PATH),
                  QStringList{"--headless", "--device", device, "--duration", QString::number(RunSeconds)} + more);
    if (!program.waitForFinished(RunSeconds * 1000 + 60000) || program.exitCode() != 0) {
        std::printf("the program failed: %s\n", program.readAllStandardError().constData());
        return false;
    }
    const double cpu = ChildrenCpu() - before;
    const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
    const QRegularExpressionMatch stopped = QRegularExpression("stopped after ([\\d.]+) s").match(out);
    const QRegularExpressionMatch reports = QRegularExpression(", (\\d+) reports\\n").match(out);
    const double seconds = stopped.captured(1).toDouble();
    if (seconds <= 0)
        return false;
    run.CpuPerSecond = cpu / seconds;
    run.ReportsPerSecond = reports.captured(1).toDouble() / seconds;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QString mosquitto = QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/bin"});
    if (mosquitto.isEmpty()) {
        std::printf("mosquitto is not installed\n");
        return 1;
    }
    QTemporaryDir folder;
    const int port = FreePort();
    QFile config(folder.filePath("mosquitto.conf"));
    if (!config.open(QIODevice::WriteOnly))
        return 1;
    config.write("listener " + QByteArray::number(port) + " 127.0.0.1\nallow_anonymous true\nuser root\n");
    config.close();
    QProcess broker;
    broker.start(mosquitto, {"-c", config.fileName()});
    broker.waitForStarted();
    QThread::msleep(500); // the broker's start is not measured; a late one only makes reports wait

    TSimOptions options;
    options.Seed = 7;
    TSimInstrument instrument(options);
    if (!instrument.Start())
        return 1;
    std::vector<double> off, on, offRate, onRate;
    for (int round = 0; round < Rounds; ++round) {
        TRun run;
        if (!RunOnce(instrument.SlavePath(), folder.path(), {}, run))
            return 1;
        off.push_back(run.CpuPerSecond);
        offRate.push_back(run.ReportsPerSecond);
        std::printf("publishing off: %.4f s CPU per s of Run, %.1f reports/s\n", run.CpuPerSecond, run.ReportsPerSecond);
        if (!RunOnce(instrument.SlavePath(), folder.path(),
                     {"--mqtt", QStringLiteral("mqtt://127.0.0.1:%1").arg(port), "--instrument", "bench"}, run))
            return 1;
        on.push_back(run.CpuPerSecond);
        onRate.push_back(run.ReportsPerSecond);
        std::printf("publishing on:  %.4f s CPU per s of Run, %.1f reports/s\n", run.CpuPerSecond, run.ReportsPerSecond);
    }
    std::printf("median: off %.4f s/s (%.1f reports/s), on %.4f s/s (%.1f reports/s), ratio on/off %.2f\n",
                MedianOf(off), MedianOf(offRate), MedianOf(on), MedianOf(onRate), MedianOf(on) / MedianOf(off));
    ::kill(pid_t(broker.processId()), SIGTERM);
    broker.waitForFinished();
    return 0;
}
