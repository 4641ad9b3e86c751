// Soak: the Run cycle against the simulated instrument with every fault on (garbled fields, split
// chunks, dropped replies, noise) for a given time; halfway the device vanishes (the simulator is
// killed) and comes back (a new one, the port opened again, Run clicked again). The bytes the
// program read are traced at its device. Checks: no crash or hang; the bytes read are what the
// simulator recorded sending; both measurement logs hold exactly the lines the program's rules
// make of the reports received (so none was computed twice or lost while whole); memory flat
// after warm-up. Prints its figures; exit status 1 when a check fails.
//
//   zarn_soak MINUTES

#include "engine/CommandTable.h"
#include "engine/Measurement.h"
#include "engine/Reports.h"
#include "app/Unitmain.h"
#include "ringbuffer/CircularBuffer.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/ReceiveRules.h"
#include "tests/soak/TraceDevice.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Memory may grow by this much after warm-up: the communication log fills up to its 40000 lines
// before it is cleared, and Qt's text document holds 40000 report lines in about 27 MB.
constexpr double MemoryBoundMb = 48;
constexpr double WarmUpShare = 0.2; // of the run's time
const QStringList Faults{"--garble", "0.02", "--split", "--drop", "0.02", "--noise", "0.02"};

int Failures = 0;

void Fail(const QString &what)
{
    std::fprintf(stderr, "soak: FAILED: %s\n", qPrintable(what));
    ++Failures;
}

double RssMb()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One simulated instrument in a process of its own, recording every byte it sends.
struct TSim {
    QProcess Process;
    QString Device;
    QString Record;

    bool Start(int seed, const QString &record)
    {
        Record = record;
        Process.setProgram(QStringLiteral(ZARNSIM_PATH));
        Process.setArguments(QStringList{"--seed", QString::number(seed), "--record", record} + Faults);
        Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Process.start();
        if (!Process.waitForStarted(10000))
            return false;
        QElapsedTimer waited;
        waited.start();
        while (!Process.canReadLine() && waited.elapsed() < 10000)
            Process.waitForReadyRead(100);
        Device = QString::fromLocal8Bit(Process.readLine()).trimmed();
        return !Device.isEmpty();
    }
    void Stop()
    {
        if (Process.state() == QProcess::NotRunning)
            return;
        Process.terminate();
        if (!Process.waitForFinished(10000))
            Process.kill();
        Process.waitForFinished(10000);
    }
};

// What the receive dispatcher's rules and the measurement make of the traced events.
class TReplay {
public:
    explicit TReplay(bool applyFilter) : FApplyFilter(applyFilter) {}

    void Run(const QList<TTraceEvent> &events)
    {
        int session = 0;
        for (const TTraceEvent &e : events) {
            if ((e.Kind == TTraceEvent::Read || e.Kind == TTraceEvent::Write) && e.Session != session) {
                session = e.Session;
                FRules.NewLine();
            }
            if (e.Kind == TTraceEvent::RunStart)
                StartRun();
            else if (e.Kind == TTraceEvent::RunEnd)
                FinishBatch();
            else if (e.Kind == TTraceEvent::Write)
                for (char letter : e.Bytes)
                    Command(letter);
            else
                Receive(e.Bytes);
        }
    }

    QByteArrayList PhaseLines, TOFLines;
    int Refused() const { return FRules.Refused; }
    int Computed = 0;
    int Late = 0;     // report markers that came when no exchange was waiting for them

private:
public:
    // At exit: the open batch, then the shorter last lines.
    void Exit()
    {
        FinishBatch();
        if (FPhaseLine.Count() > 0)
            PhaseLines.append(FPhaseLine.TakeOpen());
        if (FTOFLine.Count() > 0)
            TOFLines.append(FTOFLine.TakeOpen());
    }

private:
    // Values taken between two Runs are processed when the next one starts.
    void StartRun() { FinishBatch(); }

    void FinishBatch()
    {
        if (FPhases.Count() > 0)
            ProcessBatch();
    }

    void Command(char letter)
    {
        // The Run cycle's commands; the Run clears the reply flag before it waits.
        FRules.Command(FindCommand(CommandTag(letter)));
        if (letter == 'x' || letter == 'z')
            FRules.ReplyDone = false;
    }

    void Receive(const QByteArray &chunk)
    {
        if (FRules.State != 1 && FRules.State != 3)
            Late += chunk.count(Reports::MeanMarker) + chunk.count(Reports::DifferenceMarker);
        for (const Reports::TReportValues &values : FRules.Receive(chunk))
            Compute(values);
    }

    // As the window computes: the batch of 32 filtered when the option is on, then logged.
    void Compute(const Reports::TReportValues &v)
    {
        ++Computed;
        const float phaseDeg = Measurement::PhaseDegrees(float(Measurement::PhaseAngle(v.M1, v.M2)));
        FPhases.Push(phaseDeg);
        FTimes.Push(Measurement::TimeOfFlight(Measurement::BigTime(v.BigCount), phaseDeg));
        FTemperature = v.Temperature;
        if (FPhases.Count() == FPhases.Capacity())
            ProcessBatch();
    }

    void ProcessBatch()
    {
        if (FApplyFilter) {
            Measurement::RemoveOutliers(FPhases, FTimes);
            Measurement::BandFilter(FPhases, FTimes);
        }
        for (int32_t i = 0; i < FTimes.Count(); ++i)
            if (FTOFLine.Add(Measurement::Fixed(FTimes.At(i), 3), Measurement::Fixed(FTemperature, 2)))
                TOFLines.append(FTOFLine.Line());
        for (int32_t i = 0; i < FPhases.Count(); ++i)
            if (FPhaseLine.Add(Measurement::Fixed(FPhases.At(i), 3)))
                PhaseLines.append(FPhaseLine.Line());
        FPhases.Reset();
        FTimes.Reset();
    }

    const bool FApplyFilter;
    TReceiveRules FRules;
    TCircularBuffer<float> FPhases{Measurement::BatchSize}, FTimes{Measurement::BatchSize};
    float FTemperature = 0;
    Measurement::TLogLine FPhaseLine, FTOFLine;
};

QByteArrayList FileLines(const QString &name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArrayList lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

QByteArray FileBytes(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void CompareLines(const char *name, const QByteArrayList &written, const QByteArrayList &expected)
{
    std::printf("soak: %s: %lld lines written, %lld expected\n", name, (long long)written.size(),
                (long long)expected.size());
    for (qsizetype i = 0; i < qMin(written.size(), expected.size()); ++i)
        if (written[i] != expected[i]) {
            Fail(QString("%1 line %2 is %3, the reports make %4")
                     .arg(name)
                     .arg(i + 1)
                     .arg(QString::fromLatin1(written[i]), QString::fromLatin1(expected[i])));
            return;
        }
    if (written.size() != expected.size())
        Fail(QString("%1 holds %2 lines, the reports make %3").arg(name).arg(written.size()).arg(expected.size()));
}

// Ends the process when the event loop stops turning for far longer than a cycle can take.
class TWatchdog {
public:
    explicit TWatchdog(int seconds)
        : FThread([this, seconds] {
              std::unique_lock<std::mutex> lock(FLock);
              if (!FDone.wait_for(lock, std::chrono::seconds(seconds), [this] { return FStop; })) {
                  std::fprintf(stderr, "soak: FAILED: no end after %d s (hang)\n", seconds);
                  std::_Exit(1);
              }
          })
    {
    }
    ~TWatchdog()
    {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FStop = true;
        }
        FDone.notify_all();
        FThread.join();
    }

private:
    std::mutex FLock;
    std::condition_variable FDone;
    bool FStop = false;
    std::thread FThread;
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--replay") {
        // The logs a failed run kept, checked again against its trace (with the filter on, as the
        // program starts).
        if (!QDir::setCurrent(QString::fromLocal8Bit(argv[2]))) {
            std::fprintf(stderr, "soak: no folder %s\n", argv[2]);
            return 2;
        }
        TReplay replay(true);
        replay.Run(TTrace::Read("trace.bin"));
        replay.Exit();
        CompareLines("Phase.csv", FileLines("Phase.csv"), replay.PhaseLines);
        CompareLines("TimeOfFlight.csv", FileLines("TimeOfFlight.csv"), replay.TOFLines);
        std::printf("soak: %s\n", Failures ? "FAILED" : "passed");
        return Failures ? 1 : 0;
    }
    const double minutes = argc > 1 ? QString::fromLocal8Bit(argv[1]).toDouble() : 1.0;
    if (!(minutes > 0)) {
        std::fprintf(stderr, "usage: zarn_soak MINUTES | zarn_soak --replay FOLDER\n");
        return 2;
    }
    const qint64 totalMs = qint64(minutes * 60000);
    TWatchdog watchdog(int(totalMs / 1000) + 120);

    QTemporaryDir folder;
    if (!folder.isValid() || !QDir::setCurrent(folder.path())) {
        std::fprintf(stderr, "soak: no working folder\n");
        return 1;
    }
    TMessageCapture messages;
    TTrace trace(folder.filePath("trace.bin"));
    if (!trace.IsOk()) {
        std::fprintf(stderr, "soak: cannot write the trace\n");
        return 1;
    }
    TSim sims[2];
    if (!sims[0].Start(1, folder.filePath("sent-0.bin"))) {
        std::fprintf(stderr, "soak: the simulator did not start\n");
        return 1;
    }
    qputenv("ZARN_COM1", sims[0].Device.toLocal8Bit());

    auto form = std::make_unique<TFormMain>(nullptr, TraceDeviceFactory(trace));
    if (!form->FEngine->Comm()) {
        std::fprintf(stderr, "soak: COM1 did not open\n");
        return 1;
    }
    if (!form->FEngine->Options().SavePhaseData)
        form->mmSavePhaseDataClick();
    if (!form->FEngine->Options().SaveTOFData)
        form->mmSaveTOFDataClick();
    // The filter as the operator finds it (on).
    const bool applyFilter = form->FEngine->Options().ApplyFilter;

    QElapsedTimer clock;
    clock.start();
    const double cpuAtStart = CpuSeconds();
    QList<QPair<qint64, double>> memory{{0, RssMb()}};
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { memory.append({clock.elapsed(), RssMb()}); });
    sampler.start(1000);

    // First half: Run until the device vanishes under it.
    bool vanished = false;
    QTimer::singleShot(totalMs / 2, [&] {
        vanished = true;
        std::printf("soak: %.1f s: the device vanishes\n", clock.elapsed() / 1000.0);
        std::fflush(stdout);
        sims[0].Process.kill();
    });
    // Marked as the Run ends, right after its open batch was processed, with nothing read in between.
    QObject::connect(form.get(), &TFormMain::RunEnded, form.get(), [&] { trace.Append(TTraceEvent::RunEnd); });
    const auto runUntilEnded = [&] {
        QEventLoop loop;
        QObject::connect(form.get(), &TFormMain::RunEnded, &loop, &QEventLoop::quit);
        trace.Append(TTraceEvent::RunStart);
        form->TB_RunClick(form->TB_Run);
        if (form->Busy())
            loop.exec();
    };
    runUntilEnded();
    if (!vanished)
        Fail(QString("the first Run ended after %1 ms, before the device vanished").arg(clock.elapsed()));
    if (!QTest::qWaitFor([&] { return !form->FEngine->Comm(); }, 10000))
        Fail("the port was not closed when the device vanished");
    sims[0].Process.waitForFinished(10000);

    // The device comes back: a new simulator, the port opened again, Run again until the end.
    std::printf("soak: %.1f s: the first Run has ended; the device comes back\n", clock.elapsed() / 1000.0);
    std::fflush(stdout);
    if (!sims[1].Start(2, folder.filePath("sent-1.bin"))) {
        std::fprintf(stderr, "soak: the second simulator did not start\n");
        return 1;
    }
    qputenv("ZARN_COM1", sims[1].Device.toLocal8Bit());
    trace.Session = 1;
    if (!form->OpenPort(0)) {
        Fail("COM1 did not open again");
    } else {
        QTimer::singleShot(qMax<qint64>(0, totalMs - clock.elapsed()), [&] {
            if (form->FEngine->Running())
                form->TB_RunClick(form->TB_Run);
        });
        runUntilEnded();
    }
    sampler.stop();
    const double seconds = clock.elapsed() / 1000.0;
    const double cpu = CpuSeconds() - cpuAtStart;
    memory.append({clock.elapsed(), RssMb()});
    // Closing writes what the loggers still hold.
    form.reset();
    sims[1].Stop();

    const QList<TTraceEvent> events = trace.Events();
    if (!trace.IsOk())
        Fail("the trace could not be written");
    // What was read is what the simulators sent (the rest was still on its way when it ended).
    qint64 reportsSent = 0, reportsRead = 0, bytesRead = 0;
    for (int s = 0; s < 2; ++s) {
        QByteArray read;
        for (const TTraceEvent &e : events)
            if (e.Kind == TTraceEvent::Read && e.Session == s)
                read += e.Bytes;
        const QByteArray sent = FileBytes(sims[s].Record);
        bytesRead += read.size();
        reportsRead += read.count(Reports::MeanMarker) + read.count(Reports::DifferenceMarker);
        reportsSent += sent.count(Reports::MeanMarker) + sent.count(Reports::DifferenceMarker);
        if (!sent.startsWith(read))
            Fail(QString("connection %1: the %2 bytes read are not the first of the %3 sent")
                     .arg(s + 1)
                     .arg(read.size())
                     .arg(sent.size()));
    }

    TReplay replay(applyFilter);
    replay.Run(events);
    replay.Exit();
    CompareLines("Phase.csv", FileLines("Phase.csv"), replay.PhaseLines);
    CompareLines("TimeOfFlight.csv", FileLines("TimeOfFlight.csv"), replay.TOFLines);
    const int disconnects = messages.Texts().filter("has been disconnected").size();
    if (disconnects != 1)
        Fail(QString("the vanished device was reported %1 times").arg(disconnects));

    // Memory after warm-up.
    double afterWarmUp = -1, peak = 0;
    for (const auto &[at, mb] : memory) {
        if (at >= qint64(totalMs * WarmUpShare) && afterWarmUp < 0)
            afterWarmUp = mb;
        if (afterWarmUp >= 0)
            peak = qMax(peak, mb);
    }
    if (afterWarmUp >= 0 && peak - afterWarmUp > MemoryBoundMb)
        Fail(QString("memory grew from %1 MB after warm-up to %2 MB").arg(afterWarmUp).arg(peak));

    std::printf("soak: %.1f s; reports sent %lld, read %lld, computed %d, refused as unreadable %d (came in no "
                "exchange %d); bytes read %lld; commands written %lld\n",
                seconds, reportsSent, reportsRead, replay.Computed, replay.Refused(), replay.Late, bytesRead,
                (long long)std::count_if(events.begin(), events.end(),
                                         [](const TTraceEvent &e) { return e.Kind == TTraceEvent::Write; }));
    std::printf("soak: memory %.1f MB at start, %.1f MB after warm-up, %.1f MB peak after it, %.1f MB at the end "
                "(bound: %.0f MB of growth after warm-up)\n",
                memory.front().second, afterWarmUp, peak, memory.back().second, MemoryBoundMb);
    std::printf("soak: CPU %.3f s per second of run\n", cpu / seconds);
    std::printf("soak: %s\n", Failures ? "FAILED" : "passed");
    if (Failures) {
        // The logs, the trace and what the simulators sent, for whoever looks into it.
        folder.setAutoRemove(false);
        std::printf("soak: its files are kept in %s (zarn_soak --replay checks them again)\n", qPrintable(folder.path()));
    }
    return Failures ? 1 : 0;
}
