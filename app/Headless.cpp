#include "app/Headless.h"

#include "app/Application.h"
#include "app/ComLogText.h"
#include "app/Pictures.h"
#include "app/Publisher.h"
#include "app/Settings.h"
#include "display/Canvas.h"
#include "display/Cgauge.h"
#include "display/Cischart.h"
#include "engine/Engine.h"
#include "engine/StatisticsLog.h"
#include "app/WaveFile.h"
#include "logger/Cdatalogger.h"
#include "platform/Platform.h"
#include "platform/SafeFile.h"
#include "platform/StopSignals.h"
#include "publish/MqttClient.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QPainter>
#include <QPointer>
#include <QPixmap>
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

// The engine's notices, and any message box, become lines on standard error, each text once (a
// loop that meets the same fault again must not flood the terminal). Held while the port is
// opened, so that a port that cannot be opened is told in one line of our own instead.
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

private:
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
// Starts a cycle of the engine and lets the event loop run until it says it has ended.
template <typename Signal>
void WaitFor(TEngine *engine, Signal ended, const std::function<void()> &start)
{
    QEventLoop loop;
    bool done = false;
    const QMetaObject::Connection connection = QObject::connect(engine, ended, &loop, [&] {
        done = true;
        loop.quit();
    });
    start();
    if (!done && engine->Busy())
        loop.exec();
    QObject::disconnect(connection);
}

// The communication log and the sample list as the Log page would show them, last lines only.
class TLogText {
public:
    static constexpr int KeptLines = 200;
    void Received(const QByteArray &chunk)
    {
        // The formatter carries an open line over to the next chunk; it shows as the last line.
        FComLogText += FFormat.Format(chunk);
        Trim(FComLogText);
    }
    void Samples(const QByteArrayList &lines)
    {
        for (const QByteArray &line : lines)
            FSamples << QString::fromLatin1(line);
        if (FSamples.size() > KeptLines)
            FSamples.remove(0, FSamples.size() - KeptLines);
    }
    QStringList ComLog() const { return FComLogText.split('\n'); }
    const QStringList &SampleList() const { return FSamples; }

private:
    static void Trim(QString &text)
    {
        qsizetype cut = text.size();
        for (int i = 0; i < KeptLines && cut > 0; ++i)
            cut = text.lastIndexOf('\n', cut - 1);
        if (cut > 0)
            text.remove(0, cut + 1);
    }
    TComLogText FFormat;
    QString FComLogText;
    QStringList FSamples;
};

class TRunner {
public:
    TRunner(const TOptions &options, const QString &device, const QString &logFolder)
        : FOptions(options), FDevice(device), FLogFolder(logFolder),
          FWaveformPath(options.WaveformFile.isEmpty() ? QString() : QFileInfo(options.WaveformFile).absoluteFilePath())
    {
    }
    int Exec();

private:
    void RequestStop(const QString &why);
    void ArmDuration();
    QString Progress();
    QString LogCount(TDataLogger *logger) const;
    bool AcquireWaveform();
    bool WritePictures();
    bool StartPublishing();
    void Fail(int status);
    // --reconnect: waits for the lost port to be open again; false when a stop came first.
    bool WaitForPort();

    const TOptions &FOptions;
    QString FDevice;
    QString FLogFolder; // empty: the working folder
    QString FWaveformPath; // --waveform's file, absolute as at the start; empty: none
    std::unique_ptr<TEngine> FEngine;
    std::unique_ptr<TPublisher> FPublisher; // with --mqtt
    QSet<QString> FToldMqtt;                // failures told since the last connection
    TLogText FLog;
    QString FStopWhy; // empty until a stop was asked for
    QElapsedTimer FClock;
    QDeadlineTimer FDeadline;
    QTimer FDurationTimer;
    QTimer FProgressTimer;
    bool FToldNoReply = false;
    QEventLoop *FPortWait = nullptr;
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
    if (FEngine && FEngine->Running())
        FEngine->StopRun();
    if (FPortWait)
        FPortWait->quit();
}

bool TRunner::WaitForPort()
{
    QEventLoop loop;
    FPortWait = &loop;
    const QMetaObject::Connection connection = QObject::connect(FEngine.get(), &TEngine::PortStateChanged, &loop, [&] {
        if (FEngine->PortOpen())
            loop.quit();
    });
    if (FStopWhy.isEmpty() && !FEngine->PortOpen() && FEngine->AwaitingPort())
        loop.exec();
    QObject::disconnect(connection);
    FPortWait = nullptr;
    return FStopWhy.isEmpty() && FEngine->PortOpen();
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
    QString text = QStringLiteral("%1 %2 lines").arg(QFileInfo(logger->FileName()).fileName()).arg(logger->WrittenCount());
    if (logger->WriteFailing())
        text += QStringLiteral(" (cannot write, %1 waiting)").arg(logger->Count());
    return text;
}

QString TRunner::Progress()
{
    const qint64 ms = FClock.elapsed();
    const int64_t cycles = FEngine->RunCycleCount();
    const double rate = ms > FLastMs ? (cycles - FLastCycles) * 1000.0 / double(ms - FLastMs) : 0.0;
    FLastCycles = cycles;
    FLastMs = ms;
    QStringList logs;
    for (TDataLogger *logger : FEngine->Loggers())
        logs << LogCount(logger);
    if (FPublisher)
        logs.back() += "; " + FPublisher->StatusText();
    return QStringLiteral("%1 s: %2 cycles, %3 Hz, %4 reports; %5")
        .arg(qRound64(ms / 1000.0))
        .arg(cycles)
        .arg(rate, 0, 'f', 1)
        .arg(FEngine->ReportCount())
        .arg(logs.join(", "));
}

bool TRunner::StartPublishing()
{
    FPublisher = std::make_unique<TPublisher>(FEngine.get());
    // A connection is told on standard output; each failure once on standard error until the
    // next connection, as the attempts repeat.
    QObject::connect(FPublisher.get(), &TPublisher::Notice, [this](const QString &text) {
        if (FPublisher->Client()->IsConnected()) {
            FToldMqtt.clear();
            PrintOut(QStringLiteral("%1: %2").arg(ProgramName, text));
        } else if (!FToldMqtt.contains(text)) {
            FToldMqtt.insert(text);
            PrintError(text);
        }
    });
    TPublishOptions publish;
    publish.Url = FOptions.MqttUrl;
    publish.Instrument = FOptions.Instrument;
    publish.CredentialsFile = FOptions.MqttCredentials;
    QString error;
    if (!FPublisher->Start(publish, FDevice, error)) {
        PrintError("MQTT: " + error);
        FPublisher.reset();
        return false;
    }
    PrintOut(QStringLiteral("%1: publishing to %2 as %3 (%4); reports wait in %5 while it cannot be reached")
                 .arg(ProgramName, FPublisher->Client()->HostPort(), FPublisher->Instrument(),
                      Publishing::Topic(FPublisher->Instrument(), "report"),
                      Publishing::WaitingFolder(FPublisher->Instrument())));
    return true;
}

bool TRunner::AcquireWaveform()
{
    bool whole = false;
    const QMetaObject::Connection ended =
        QObject::connect(FEngine.get(), &TEngine::AcquireEnded, [&whole](bool complete) { whole = complete; });
    WaitFor(FEngine.get(), &TEngine::AcquireEnded, [this] { FEngine->StartAcquire(); });
    QObject::disconnect(ended);
    if (!FEngine->PortOpen()) {
        Fail(ExitIncomplete);
        return false;
    }
    // The engine has said whether the whole block came; only a whole one is saved.
    if (!whole) {
        PrintError("no whole waveform block arrived; " + FWaveformPath + " is not written");
        Fail(ExitIncomplete);
        return false;
    }
    const WaveFile::TResult saved = WaveFile::SaveWaveformFile(FWaveformPath, FEngine->Channel1(), FEngine->Channel2());
    if (!saved.Ok) {
        PrintError(saved.Message.simplified());
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
    // Drawn by the display classes as the window's pages would show them, without a window.
    TGauge gauge(nullptr, Pictures::GaugeSize.width(), Pictures::GaugeSize.height(), 5);
    Pictures::SetupPhaseGauge(gauge, *FEngine);
    gauge.UpdateDisplay();

    QImage chartImage(Pictures::ChartSize, QImage::Format_RGB32);
    TCanvas canvas(&chartImage);
    TCISChart chart(nullptr, &canvas);
    chart.SetPosition(0, 0, chartImage.width(), chartImage.height());
    chart.SetBackgroundColor(clNavy);
    Pictures::DrawWaveforms(chart, FEngine->Channel1(), FEngine->Channel2());
    canvas.End();

    // The Log page: the communication log beside the sample list, black on white.
    QImage logImage(Pictures::ChartSize, QImage::Format_RGB32);
    logImage.fill(Qt::white);
    {
        QPainter painter(&logImage);
        painter.setPen(Qt::black);
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(11);
        painter.setFont(font);
        const int line = painter.fontMetrics().height();
        const int rows = logImage.height() / line;
        const int half = logImage.width() / 2;
        for (const auto &[column, lines] : {std::pair{0, FLog.ComLog()}, std::pair{half, FLog.SampleList()}}) {
            const qsizetype first = qMax<qsizetype>(0, lines.size() - rows);
            for (qsizetype i = first; i < lines.size(); ++i)
                painter.drawText(QRect(column + 4, int(i - first) * line, half - 8, line), Qt::AlignLeft, lines[i]);
        }
    }

    bool ok = true;
    const QPair<const char *, const QImage *> pictures[] = {
        {"Main.png", &gauge.Picture()}, {"Waveform.png", &chartImage}, {"Log.png", &logImage}};
    for (const auto &[name, image] : pictures) {
        const QString path = folder.absoluteFilePath(name);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        const SafeFile::TResult saved =
            image->save(&buffer, "PNG") ? SafeFile::Save(path, png) : SafeFile::TResult{false, "the picture could not be made"};
        if (!saved.Ok) {
            PrintError("cannot write " + path + ": " + saved.Error);
            Fail(ExitCannotWrite);
            ok = false;
        }
    }
    return ok;
}

int TRunner::Exec()
{
    TErrorMessages messages;
    TStopSignals stopSignals([this](int signal) { RequestStop(TStopSignals::Name(signal)); });

    messages.Hold();
    FEngine = std::make_unique<TEngine>();
    // Every log written and every batch filtered, as a first start of the window has it.
    TEngineOptions options;
    options.Reconnect = FOptions.Reconnect;
    FEngine->SetOptions(options);
    // The loss and the return of the line, each with its time.
    QObject::connect(FEngine.get(), &TEngine::LineStateChanged, [](const TLineState &state) {
        if (state.Kind == TLineState::TKind::Lost || state.Kind == TLineState::TKind::Reopened)
            PrintError(state.Text());
    });
    QObject::connect(FEngine.get(), &TEngine::Received, [this](const QByteArray &chunk) { FLog.Received(chunk); });
    QObject::connect(FEngine.get(), &TEngine::BlockParsed, [this](const QByteArrayList &lines) { FLog.Samples(lines); });
    QObject::connect(FEngine.get(), &TEngine::Notice, [&messages](const TNotice &notice) { messages.Show(notice.Text); });
    if (!FEngine->OpenPort(0)) {
        messages.Release(false);
        PrintError("cannot open " + FDevice + " as COM1: " + FEngine->OpenFailure().Reason);
        return ExitNoPort;
    }
    // Each log line goes to its file at once: an unattended run keeps nothing back that a
    // power cut or a kill could lose.
    // A log that cannot be written is told on standard error when it starts failing and when it
    // is written again; the window's own handlers still run, for its status bar.
    FEngine->SetLogFolder(FLogFolder);
    for (TDataLogger *logger : FEngine->Loggers())
        logger->SetMaxCount(1);
    QObject::connect(FEngine.get(), &TEngine::LoggerFailing,
                     [](QObject *, const QString &fileName, const QString &error) {
                         PrintError("cannot write " + fileName + ": " + error);
                     });
    QObject::connect(FEngine.get(), &TEngine::LoggerRecovered, [](QObject *logger) {
        if (const auto *recovered = qobject_cast<TDataLogger *>(logger))
            PrintError(recovered->FileName() + " is written again");
    });

    const QString working = FLogFolder.isEmpty() ? QDir::currentPath() : FLogFolder;
    PrintOut(QStringLiteral("%1: measuring on %2 (COM1) %3; logs in %4")
                 .arg(ProgramName, FDevice,
                      FOptions.DurationSeconds > 0 ? "for " + QString::number(FOptions.DurationSeconds) + " s"
                                                   : "until Ctrl+C, SIGTERM or SIGHUP",
                      working));

    messages.Release(true);
    if (!FOptions.MqttUrl.isEmpty() && !StartPublishing()) {
        FEngine->Close();
        return ExitCannotWrite;
    }

    QString waveform;
    if (!FOptions.WaveformFile.isEmpty() && AcquireWaveform())
        waveform = FWaveformPath;

    FClock.start();
    bool ran = false;
    if (FStopWhy.isEmpty() && FEngine->PortOpen()) {
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
            if (FEngine->NoReply() && !FToldNoReply)
                PrintError(FEngine->NoReplyText());
            FToldNoReply = FEngine->NoReply();
        });
        FProgressTimer.start(ProgressIntervalMs);
        ran = true;
        WaitFor(FEngine.get(), &TEngine::RunEnded, [this] { FEngine->StartRun(); });
        // With --reconnect a Run the loss ended goes on, under its number, once the line is back.
        while (FOptions.Reconnect && WaitForPort())
            WaitFor(FEngine.get(), &TEngine::RunEnded, [this] { FEngine->ResumeRun(); });
        FProgressTimer.stop();
        FDurationTimer.stop();
    }
    const qint64 runMs = FClock.elapsed();
    if (FStopWhy.isEmpty()) {
        FStopWhy = FEngine->PortOpen() ? "the Run cycle ended by itself" : "the line to " + FDevice + " went away";
        Fail(ExitIncomplete);
    }
    if (ran && FEngine->ReportCount() == 0) {
        PrintError("no report arrived from the instrument on " + FDevice);
        Fail(ExitIncomplete);
    }

    const bool pictures = !FOptions.PictureFolder.isEmpty() && WritePictures();

    // The summary counts every value: the last, shorter lines are written before it.
    FEngine->WriteOpenLines();
    for (TDataLogger *logger : FEngine->Loggers()) {
        logger->FlushData();
        if (logger->WriteFailing())
            Fail(ExitCannotWrite);
    }
    const int64_t cycles = FEngine->RunCycleCount();
    QStringList summary;
    summary << QStringLiteral("%1: stopped after %2 s (%3)").arg(ProgramName).arg(runMs / 1000.0, 0, 'f', 1).arg(FStopWhy);
    summary << QStringLiteral("  %1 cycles (%2 per second), %3 reports")
                   .arg(cycles)
                   .arg(runMs > 0 ? cycles * 1000.0 / double(runMs) : 0.0, 0, 'f', 1)
                   .arg(FEngine->ReportCount());
    if (FEngine->RefusedCount() > 0)
        summary.back() += QStringLiteral(", %1 refused (a field could not be read)").arg(FEngine->RefusedCount());
    summary << "  link: " + TLinkHealth::Summary(FEngine->LinkFigures().Total, 0, false);
    if (ran)
        summary << "  " + StatisticsLog::Summary(FEngine->Statistics().RunFigures());
    for (TDataLogger *logger : FEngine->Loggers())
        summary << "  " + LogCount(logger) + " written, " + TEngine::LogPath(logger);
    if (!waveform.isEmpty())
        summary << "  waveform: " + waveform;
    if (pictures)
        summary << "  pictures: " + QDir(FOptions.PictureFolder).absolutePath() + "/{Main,Waveform,Log}.png";
    if (FPublisher) {
        // The broker has a few seconds to acknowledge the last reports; the rest waits on disk.
        const QString broker = FPublisher->Client()->HostPort();
        const QString instrument = FPublisher->Instrument();
        const qint64 published = FPublisher->Published();
        const int left = FPublisher->Finish();
        summary << QStringLiteral("  MQTT: %1 reports published to %2, %3")
                       .arg(published)
                       .arg(broker)
                       .arg(left == 0 ? QStringLiteral("all acknowledged")
                                      : QStringLiteral("%1 messages wait in %2").arg(left).arg(Publishing::WaitingFolder(instrument)));
        FPublisher.reset();
    }
    PrintOut(summary.join('\n'));

    FEngine->Close();
    FEngine.reset();
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
    // The logs' folder, made when it is wanted and missing.
    const QString logFolder = options.Documents ? TSettings::DocumentsLogFolder() : QString();
    if (!logFolder.isEmpty() && !QDir().mkpath(logFolder)) {
        PrintError("cannot make the folder " + logFolder);
        return ExitCannotWrite;
    }
    if (!CheckOutputs(options, error) || !CanWriteIn(logFolder, error)) {
        PrintError(error);
        return ExitCannotWrite;
    }
    // Made now, so that a folder that cannot be made is told before the measurement, not after it.
    if (!options.PictureFolder.isEmpty() && !MakeFolder(options.PictureFolder, error)) {
        PrintError("--pictures cannot be made: " + error);
        return ExitCannotWrite;
    }
    QString user, password;
    if (!options.MqttCredentials.isEmpty() && !Publishing::ReadCredentials(options.MqttCredentials, user, password, error)) {
        PrintError("MQTT: " + error);
        return ExitUsage;
    }
    // The window's own code draws into memory: no display is needed or used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QtMessages);
    TApplication application(argc, argv);
    TRunner runner(options, device, logFolder);
    return runner.Exec();
}

} // namespace Headless
