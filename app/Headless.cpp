#include "app/Headless.h"

#include "app/Application.h"
#include "app/Unitmain.h"
#include "engine/WaveBlock.h"
#include "app/WaveFile.h"
#include "logger/Cdatalogger.h"
#include "platform/Platform.h"
#include "platform/StopSignals.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPixmap>
#include <QSaveFile>
#include <QSet>
#include <QToolButton>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

namespace Headless {

using namespace CommandLine;

namespace {

constexpr int ProgressIntervalMs = 1000;
constexpr qint64 LongestTimerMs = 3600 * 1000; // a duration beyond a QTimer's range is waited out in steps

void PrintOut(const QString &line)
{
    std::fputs((line + '\n').toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

// Message boxes become lines on standard error, each text once (a loop that meets the same
// fault again must not flood the terminal). Held while the window is made, so that a port
// that cannot be opened is told in one line of our own instead of the box's text.
class TErrorMessages {
public:
    TErrorMessages()
    {
        FPrevious = Platform::SetMessageSink([this](const Platform::TMessage &message) { Show(message.Text); });
    }
    ~TErrorMessages() { Platform::SetMessageSink(FPrevious); }
    TErrorMessages(const TErrorMessages &) = delete;
    TErrorMessages &operator=(const TErrorMessages &) = delete;

    void Hold() { FHolding = true; }
    void Release(bool show)
    {
        FHolding = false;
        if (show)
            for (const QString &line : std::as_const(FHeld))
                PrintError(line);
        FHeld.clear();
    }

private:
    void Show(const QString &text)
    {
        const QString line = text.simplified();
        if (FShown.contains(line))
            return;
        FShown.insert(line);
        if (FHolding)
            FHeld << line;
        else
            PrintError(line);
    }

    Platform::TMessageSink FPrevious;
    QSet<QString> FShown;
    QStringList FHeld;
    bool FHolding = false;
};

// Qt's own notes (no runtime folder, a window feature the offscreen platform lacks) are no
// business of an operator reading standard error; its critical errors still show.
void QtMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        PrintError(text);
}

// Starts something of the window with `start` and runs the event loop until the window says it
// has ended; returns at once when nothing started (no port, say).
template <typename Signal>
void WaitFor(TFormMain *form, Signal ended, const std::function<void()> &start)
{
    QEventLoop loop;
    bool done = false;
    const QMetaObject::Connection connection = QObject::connect(form, ended, &loop, [&] {
        done = true;
        loop.quit();
    });
    start();
    if (!done && form->Busy())
        loop.exec();
    QObject::disconnect(connection);
}

class TRunner {
public:
    TRunner(const TOptions &options, const QString &device) : FOptions(options), FDevice(device) {}
    int Exec();

private:
    void RequestStop(const QString &why);
    void ArmDuration();
    QString Progress();
    QString LogCount(TDataLogger *logger) const;
    bool AcquireWaveform();
    bool WritePictures();
    void Fail(int status);

    const TOptions &FOptions;
    QString FDevice;
    std::unique_ptr<TFormMain> FForm;
    QString FStopWhy; // empty until a stop was asked for
    QElapsedTimer FClock;
    QDeadlineTimer FDeadline;
    QTimer FDurationTimer;
    QTimer FProgressTimer;
    bool FToldNoReply = false;
    int64_t FLastCycles = 0;
    qint64 FLastMs = 0;
    int FStatus = ExitDone;
};

void TRunner::Fail(int status)
{
    if (FStatus == ExitDone)
        FStatus = status;
}

void TRunner::RequestStop(const QString &why)
{
    // The first reason is the one told; every request stops a Run that is going, even one
    // started after an earlier request (a duration that ended before the Run began).
    if (FStopWhy.isEmpty())
        FStopWhy = why;
    // The stop click, as the operator gives it: the Run ends after the cycle in progress.
    if (FForm && FForm->FEngine->FRunning)
        FForm->TB_RunClick(FForm->TB_Run);
}

void TRunner::ArmDuration()
{
    const qint64 remaining = FDeadline.remainingTime();
    if (remaining == 0)
        RequestStop("the duration was reached");
    else
        FDurationTimer.start(static_cast<int>(qMin(remaining, LongestTimerMs)));
}

QString TRunner::LogCount(TDataLogger *logger) const
{
    if (!logger)
        return QString();
    QString text = QStringLiteral("%1 %2 lines").arg(logger->FileName()).arg(logger->WrittenCount());
    if (logger->WriteFailing())
        text += QStringLiteral(" (cannot write, %1 waiting)").arg(logger->Count());
    return text;
}

QString TRunner::Progress()
{
    const qint64 ms = FClock.elapsed();
    const int64_t cycles = FForm->FEngine->FRunCycleCount;
    const double rate = ms > FLastMs ? (cycles - FLastCycles) * 1000.0 / double(ms - FLastMs) : 0.0;
    FLastCycles = cycles;
    FLastMs = ms;
    return QStringLiteral("%1 s: %2 cycles, %3 Hz, %4 reports; %5, %6")
        .arg(qRound64(ms / 1000.0))
        .arg(cycles)
        .arg(rate, 0, 'f', 1)
        .arg(FForm->FEngine->FReportCount)
        .arg(LogCount(FForm->FEngine->FPhaseLogger), LogCount(FForm->FEngine->FTOFLogger));
}

bool TRunner::AcquireWaveform()
{
    WaitFor(FForm.get(), &TFormMain::AcquireEnded, [this] { FForm->TB_AcquireClick(FForm->TB_Acquire); });
    if (!FForm->FEngine->FComm) {
        Fail(ExitIncomplete);
        return false;
    }
    // The window has said how much of the block came; only a whole one is saved.
    if (FForm->FEngine->FWaveLines < WaveBlock::BlockLines) {
        PrintError("no whole waveform block arrived; " + FOptions.WaveformFile + " is not written");
        Fail(ExitIncomplete);
        return false;
    }
    const WaveFile::TResult saved =
        WaveFile::SaveWaveformFile(FOptions.WaveformFile, FForm->FEngine->FChannel1, FForm->FEngine->FChannel2);
    if (!saved.Ok) {
        PrintError("cannot write " + FOptions.WaveformFile + ": " + saved.Message.simplified());
        Fail(ExitCannotWrite);
        return false;
    }
    return true;
}

bool TRunner::WritePictures()
{
    const QDir folder(FOptions.PictureFolder);
    if (!QDir().mkpath(folder.absolutePath())) {
        PrintError("cannot make the folder " + folder.absolutePath());
        Fail(ExitCannotWrite);
        return false;
    }
    struct TPage {
        const char *Name;
        QWidget *Page;
        void (TFormMain::*Show)();
    };
    const TPage pages[] = {{"Main.png", FForm->TS_Main, &TFormMain::mmTimeOfFlightClick},
                           {"Waveform.png", FForm->TS_Waveform, &TFormMain::mmWaveformClick},
                           {"Log.png", FForm->TS_Log, &TFormMain::mmCommunicationClick}};
    bool ok = true;
    for (const TPage &page : pages) {
        // Each page drawn as the operator would see it, made current with the View menu's own handler.
        (FForm.get()->*page.Show)();
        QCoreApplication::processEvents();
        QSaveFile file(folder.absoluteFilePath(page.Name));
        if (!file.open(QIODevice::WriteOnly) || !page.Page->grab().save(&file, "PNG") || !file.commit()) {
            PrintError("cannot write " + file.fileName() + ": " + file.errorString());
            Fail(ExitCannotWrite);
            ok = false;
        }
    }
    FForm->mmTimeOfFlightClick();
    return ok;
}

int TRunner::Exec()
{
    TErrorMessages messages;
    TStopSignals stopSignals([this](int signal) { RequestStop(TStopSignals::Name(signal)); });

    messages.Hold();
    FForm = std::make_unique<TFormMain>();
    if (!FForm->FEngine->FComm) {
        messages.Release(false);
        PrintError("cannot open " + FDevice + " as COM1: it is in use, or not a serial device we may open");
        return ExitNoPort;
    }
    FForm->show();
    QCoreApplication::processEvents();
    // Each log line goes to its file at once: an unattended run keeps nothing back that a
    // power cut or a kill could lose.
    // A log that cannot be written is told on standard error when it starts failing and when it
    // is written again; the window's own handlers still run, for its status bar.
    for (TDataLogger *logger : {FForm->FEngine->FPhaseLogger.data(), FForm->FEngine->FTOFLogger.data()})
        logger->SetMaxCount(1);
    QObject::connect(FForm->FEngine, &TEngine::LoggerFailing,
                     [](QObject *, const QString &fileName, const QString &error) {
                         PrintError("cannot write " + fileName + ": " + error);
                     });
    QObject::connect(FForm->FEngine, &TEngine::LoggerRecovered, [](QObject *logger) {
        if (const auto *recovered = qobject_cast<TDataLogger *>(logger))
            PrintError(recovered->FileName() + " is written again");
    });

    const QString working = QDir::currentPath();
    PrintOut(QStringLiteral("%1: measuring on %2 (COM1) %3; logs in %4")
                 .arg(ProgramName, FDevice,
                      FOptions.DurationSeconds > 0 ? "for " + QString::number(FOptions.DurationSeconds) + " s"
                                                   : "until Ctrl+C, SIGTERM or SIGHUP",
                      working));

    messages.Release(true);

    QString waveform;
    if (!FOptions.WaveformFile.isEmpty() && AcquireWaveform())
        waveform = QFileInfo(FOptions.WaveformFile).absoluteFilePath();

    FClock.start();
    bool ran = false;
    if (FStopWhy.isEmpty() && FForm->FEngine->FComm) {
        FDurationTimer.setSingleShot(true);
        FDurationTimer.setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5 % late
        QObject::connect(&FDurationTimer, &QTimer::timeout, [this] { ArmDuration(); });
        if (FOptions.DurationSeconds > 0) {
            FDeadline = QDeadlineTimer(static_cast<qint64>(FOptions.DurationSeconds * 1000.0));
            ArmDuration();
        }
        QObject::connect(&FProgressTimer, &QTimer::timeout, [this] {
            PrintOut(Progress());
            // What the Main page shows in red, told once each time the instrument falls silent.
            if (FForm->FEngine->FNoReply && !FToldNoReply)
                PrintError(FForm->LabelNoReply->text());
            FToldNoReply = FForm->FEngine->FNoReply;
        });
        FProgressTimer.start(ProgressIntervalMs);
        ran = true;
        WaitFor(FForm.get(), &TFormMain::RunEnded, [this] { FForm->TB_RunClick(FForm->TB_Run); });
        FProgressTimer.stop();
        FDurationTimer.stop();
    }
    const qint64 runMs = FClock.elapsed();
    // What the Run left queued (a lost line's message) is shown before the summary.
    QCoreApplication::processEvents();
    if (FStopWhy.isEmpty()) {
        FStopWhy = FForm->FEngine->FComm ? "the Run cycle ended by itself" : "the line to " + FDevice + " went away";
        Fail(ExitIncomplete);
    }
    if (ran && FForm->FEngine->FReportCount == 0) {
        PrintError("no report arrived from the instrument on " + FDevice);
        Fail(ExitIncomplete);
    }

    if (!FOptions.PictureFolder.isEmpty())
        WritePictures();

    // The summary counts every value: the last, shorter lines are written before it.
    FForm->FEngine->WriteOpenLines();
    for (TDataLogger *logger : {FForm->FEngine->FPhaseLogger.data(), FForm->FEngine->FTOFLogger.data()}) {
        logger->FlushData();
        if (logger->WriteFailing())
            Fail(ExitCannotWrite);
    }
    const int64_t cycles = FForm->FEngine->FRunCycleCount;
    QStringList summary;
    summary << QStringLiteral("%1: stopped after %2 s (%3)").arg(ProgramName).arg(runMs / 1000.0, 0, 'f', 1).arg(FStopWhy);
    summary << QStringLiteral("  %1 cycles (%2 per second), %3 reports")
                   .arg(cycles)
                   .arg(runMs > 0 ? cycles * 1000.0 / double(runMs) : 0.0, 0, 'f', 1)
                   .arg(FForm->FEngine->FReportCount);
    if (FForm->FEngine->FRefusedCount > 0)
        summary.back() += QStringLiteral(", %1 refused (a field could not be read)").arg(FForm->FEngine->FRefusedCount);
    for (TDataLogger *logger : {FForm->FEngine->FPhaseLogger.data(), FForm->FEngine->FTOFLogger.data()})
        summary << "  " + LogCount(logger) + " written, " + QDir(working).absoluteFilePath(logger->FileName());
    if (!waveform.isEmpty())
        summary << "  waveform: " + waveform;
    if (!FOptions.PictureFolder.isEmpty())
        summary << "  pictures: " + QDir(FOptions.PictureFolder).absolutePath() + "/{Main,Waveform,Log}.png";
    PrintOut(summary.join('\n'));

    FForm->close();
    FForm.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return FStatus;
}

} // namespace

int Run(int &argc, char **argv, const TOptions &options)
{
    QString error;
    const QString device = TComm::DeviceNameFor(TComm::PortName(0));
    if (!QFileInfo::exists(device)) {
        PrintError("no such device: " + device);
        return ExitNoPort;
    }
    if (!CheckOutputs(options, error)) {
        PrintError(error);
        return ExitCannotWrite;
    }
    // The window's own code draws into memory: no display is needed or used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QtMessages);
    TApplication application(argc, argv);
    TRunner runner(options, device);
    return runner.Exec();
}

} // namespace Headless
