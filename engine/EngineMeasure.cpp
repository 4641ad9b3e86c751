// TEngine: report taking, the time-of-flight computation with its batches, trend and logs, and
// the end that leaves every value in the files.

#include "engine/Engine.h"

#include "engine/Reports.h"
#include "engine/StatisticsLog.h"
#include "logger/Cdatalogger.h"
#include "platform/Clock.h"
#include "ringbuffer/CircularBuffer.h"

#include <QDir>
#include <QPointer>
#include <QFileInfo>

using Measurement::Fixed;
using Measurement::FixedText;

// Once enough text is there, the exchange ends: with a computation when a record was read, and
// without one only when no record can be in the text. A record whose marker has come but whose
// last characters have not (its reply split into small chunks, with a line end of the last
// exchange still in front of it) is waited for. Records of either kind are taken: a reply that
// came after its wait, or two in one chunk, are each computed once.
bool TEngine::CheckDifferenceReport()
{
    return CheckReports(Reports::DifferenceCheckLimit);
}

bool TEngine::CheckMeanReport()
{
    return CheckReports(Reports::MeanCheckLimit);
}

bool TEngine::CheckReports(int limit)
{
    if (TakeReports())
        return true;
    return FLineBuffer.size() > limit && !Reports::ReportPending(FLineBuffer);
}

bool TEngine::TakeReports()
{
    bool taken = false;
    Reports::TReport report;
    // A closing engine computes nothing more: its loggers may already be gone.
    qsizetype before = FLineBuffer.size();
    while (!FClosed && Reports::TakeReport(FLineBuffer, report)) {
        taken = true;
        // The record's own bytes were counted as noise when they came: taken back. What stood in
        // front of it stays noise.
        const qsizetype removed = before - FLineBuffer.size();
        before = FLineBuffer.size();
        const int length = report.Kind == Reports::TReportKind::Mean ? Reports::MeanLength : Reports::DifferenceLength;
        const uint32_t now = Platform::TickCount();
        FLink.NoiseBytes(now, -qMin<qsizetype>(removed, length));
        FLink.ReplyTaken(now, !report.Values.Readable);
        FRepliesAwaited = qMax(0, FRepliesAwaited - 1);
        // The oldest ask is the one answered: the line keeps the replies in order.
        if (!FAwaitedRuns.empty()) {
            FReportRun = FAwaitedRuns.front();
            FAwaitedRuns.pop_front();
        }
        FDrainClock.start(); // a stopped Run gives the next reply a whole wait
        FLastReplyTick = Platform::TickCount();
        FLastReplyTime = Platform::LocalNow().time();
        if (!report.Values.Readable) {
            // A field that cannot be read must not become a number in the files.
            FReportRun = -1;
            ++FRefusedCount;
            emit RefusedChanged(FRefusedCount);
            continue;
        }
        FBigCount = report.Values.BigCount;
        FM1 = report.Values.M1;
        FM2 = report.Values.M2;
        // The mean report carries no temperature; the last one stays.
        if (report.Kind == Reports::TReportKind::Difference) {
            FTemperature = report.Values.Temperature;
            FTemperatureKnown = true;
        }
        ComputeMeasurement();
    }
    if (taken)
        SetReplyWarning(false);
    return taken;
}

double TEngine::PhaseAngle(int32_t a, int32_t b)
{
    return Measurement::PhaseAngle(a, b);
}

void TEngine::ComputeMeasurement()
{
    ++FReportCount;
    // A reply is labelled with the Run that asked for it; a report nobody asked for with the Run
    // going on, if any.
    const int64_t run = FReportRun >= 0 ? FReportRun : InRun() ? FRunNumber : 0;
    FReportRun = -1;
    FPhaseRad = static_cast<float>(PhaseAngle(FM1, FM2));
    FPhaseDeg = Measurement::PhaseDegrees(FPhaseRad);
    FBigTime = Measurement::BigTime(FBigCount);
    FTimeOfFlight = Measurement::TimeOfFlight(FBigTime, FPhaseDeg);

    FM1Ring.Push(FM1);
    FM2Ring.Push(FM2);
    FPhaseRing.Push(FPhaseDeg);
    FTOFRing.Push(FTimeOfFlight);
    FRecordRing.Push(int32_t(FBatchRecords.size()));
    TReport report;
    report.Record = {Platform::LocalNow(), run, FBigCount, FM1, FM2, FPhaseDeg,
                     FTimeOfFlight, FTemperatureKnown ? FTemperature : MeasurementLog::NoTemperature};
    report.BigTime = FBigTime;
    report.Number = ++FRunReportCount;
    FBatchRecords.push_back(report);
    emit ReportComputed(FBatchRecords.back());

    if (FPhaseRing.Count() == FPhaseRing.Capacity())
        ProcessBatch();

    if (FM1Ring.Count() == FM1Ring.Capacity()) {
        FM1Avg = FM1Ring.Mean();
        FM2Avg = FM2Ring.Mean();
        SetPanel(spM1Average, "M1Avg= " + QString::number(FM1Avg));
        SetPanel(spM2Average, "M2Avg= " + QString::number(FM2Avg));
    }
    SetPanel(spPhase, "Phase= " + FixedText(FPhaseDeg, 3) + " deg");
    SetPanel(spM1, QString::number(FM1));
    SetPanel(spM2, QString::number(FM2));
    SetPanel(spTemperature, "Temp.= " + FixedText(FTemperature, 2) + " C");
}

void TEngine::ProcessBatch()
{
    if (FOptions.ApplyFilter) {
        RemoveOutliers();
        BandFilter();
    }
    AppendTrend();
    LogTimeOfFlight();
    LogPhase();
    LogMeasurements();
}

void TEngine::FinishBatch()
{
    // A batch cut short (the Run stopped, the port went, the program ends) is processed as a full
    // one would be; thinning stops by itself below its minimum count.
    if (FPhaseRing.Count() > 0)
        ProcessBatch();
}

void TEngine::WriteOpenLines()
{
    FinishBatch();
    // The lines still being built go out as a last, shorter line, whatever the save options say
    // now: their values were taken while saving was on.
    if (FPhaseLogger && FPhaseLine.Count() > 0)
        FPhaseLogger->Append(FPhaseLine.TakeOpen());
    if (FTOFLogger && FTOFLine.Count() > 0)
        FTOFLogger->Append(FTOFLine.TakeOpen());
}

void TEngine::BeginRun()
{
    // Values taken since the last Run ended (a late reply, a command from the menu) are not lost.
    FinishBatch();
    FTOFRing.Reset();
    FPhaseRing.Reset();
    FRecordRing.Reset();
    FBatchRecords.clear();
    FM1Ring.Reset();
    FM2Ring.Reset();
    // A Run that a new one takes over ends here, with no RunEnded between them.
    EndRunStatistics();
    ++FRunNumber;
    FRunReportCount = 0;
    FStatistics.BeginRun(FRunNumber);
    FStatisticsRun = FRunNumber;
    FAwaitedRuns.clear();
    for (TStatusPanel panel : {spM1Average, spM2Average, spPhase, spM1, spM2})
        SetPanel(panel, QString());
    FRefusedCount = 0;
    emit RefusedChanged(FRefusedCount);
    FLastReplyTick = Platform::TickCount();
    FLastReplyTime = Platform::LocalNow().time();
    SetReplyWarning(false);
    FLink.BeginRun(FLastReplyTick);
    emit LinkHealthChanged(LinkFigures());
}

void TEngine::CheckReplyAge()
{
    if (!FNoReply && Platform::TickCount() - FLastReplyTick > NoReplyMs)
        SetReplyWarning(true);
}

QString TEngine::NoReplyText() const
{
    return "No reply from the instrument since " + FLastReplyTime.toString("HH:mm:ss");
}

void TEngine::SetReplyWarning(bool silent)
{
    if (silent == FNoReply)
        return;
    FNoReply = silent;
    emit ReplyWarningChanged(silent);
}

void TEngine::RemoveOutliers()
{
    Measurement::RemoveOutliers(FPhaseRing, FTOFRing, &FRecordRing);
}

void TEngine::BandFilter()
{
    Measurement::BandFilter(FPhaseRing, FTOFRing, &FRecordRing);
}

void TEngine::AppendTrend()
{
    for (int32_t i = 0; i < FPhaseRing.Count(); ++i) {
        if (FTrend.size() >= size_t(TrendCapacity))
            ClearTrend();
        FTrend.push_back(FPhaseRing.At(i));
    }
}

void TEngine::ClearTrend()
{
    FTrend.clear();
}

void TEngine::LogTimeOfFlight()
{
    if (FOptions.SaveTOFData) {
        for (int32_t i = 0; i < FTOFRing.Count(); ++i)
            if (FTOFLine.Add(Fixed(FTOFRing.At(i), 3), Fixed(FTemperature, 2)))
                FTOFLogger->Append(FTOFLine.Line());
    }
    FTOFRing.Reset();
}

void TEngine::LogPhase()
{
    if (FOptions.SavePhaseData) {
        for (int32_t i = 0; i < FPhaseRing.Count(); ++i)
            if (FPhaseLine.Add(Fixed(FPhaseRing.At(i), 3)))
                FPhaseLogger->Append(FPhaseLine.Line());
    }
    FPhaseRing.Reset();
}

void TEngine::LogMeasurements()
{
    for (int32_t i = 0; i < FRecordRing.Count(); ++i)
        if (const size_t position = size_t(FRecordRing.At(i)); position < FBatchRecords.size())
            FBatchRecords[position].Kept = true;
    if (FOptions.SaveMeasurements)
        for (const TReport &report : FBatchRecords)
            FMeasurementLogger->Append(MeasurementLog::Line(report.Record, report.Kept));
    FRecordRing.Reset();
    FStatistics.Add(FBatchRecords);
    // What the batch made goes to the files now, not when a logger's buffer fills or its
    // auto-save comes round: a crash or a power cut then loses at most the batch in progress
    // (and a log line still being built). One write per file and batch; a file that cannot be
    // written keeps its lines waiting in its logger and is tried again at the next batch.
    QPointer<TEngine> self(this);
    FlushLoggers();
    if (!self)
        return;
    // The batch leaves before it is emitted, so that a sink that stops the Run or closes the
    // engine from its slot cannot process it a second time.
    const TBatch batch = std::move(FBatchRecords);
    FBatchRecords.clear();
    FBatchRecords.reserve(RingCapacity);
    emit BatchProcessed(batch);
}

void TEngine::EndRunStatistics()
{
    if (FStatisticsRun == 0)
        return;
    FStatisticsRun = 0;
    FStatisticsLine = StatisticsLog::Line(Platform::LocalNow(), FStatistics.Run(), FStatistics.RunFigures());
    if (FOptions.SaveStatistics && FStatisticsLogger) {
        FStatisticsLogger->Append(FStatisticsLine);
        FStatisticsLogger->FlushData();
    }
    emit RunStatistics(FStatisticsLine);
}

bool TEngine::InRun() const
{
    switch (FLoopState) {
    case TLoopState::RunCommanded:
    case TLoopState::RunFirstPass:
    case TLoopState::RunPolling:
    case TLoopState::RunBatchPass:
    case TLoopState::RunDraining:
        return true;
    default:
        return false;
    }
}

void TEngine::FlushLoggers()
{
    for (TDataLogger *logger : Loggers())
        logger->FlushData();
}

QList<TDataLogger *> TEngine::Loggers() const
{
    QList<TDataLogger *> loggers;
    for (TDataLogger *logger :
         {FPhaseLogger.data(), FTOFLogger.data(), FMeasurementLogger.data(), FStatisticsLogger.data()})
        if (logger)
            loggers << logger;
    return loggers;
}

void TEngine::SetLogFolder(const QString &folder)
{
    FLogFolder = folder;
    for (TDataLogger *logger : Loggers()) {
        // What waits goes to the log it was made for while that can be written; what cannot be
        // goes to the new folder at once.
        logger->FlushData();
        logger->SetFileName(LogFileIn(folder, QFileInfo(logger->FileName()).fileName()));
        logger->FlushData();
    }
    ReadLastRun();
}

void TEngine::ReadLastRun()
{
    // Runs are numbered on from the last one in the file the reports go to, so that a Run's
    // number names one Run of that file whatever program wrote it.
    if (FMeasurementLogger)
        FRunNumber = MeasurementLog::LastRun(FMeasurementLogger->FileName());
}

QString TEngine::LogPath(const TDataLogger *logger)
{
    return QDir::toNativeSeparators(QFileInfo(logger->FileName()).absoluteFilePath());
}

QString TEngine::LogFileIn(const QString &folder, const QString &name) const
{
    const QString path = folder.isEmpty() ? name : QDir(folder).filePath(name);
    return FWorkingFolder.isEmpty() ? path : QDir::cleanPath(QDir(FWorkingFolder).absoluteFilePath(path));
}

void TEngine::SetupLoggers()
{
    // Taken once: relative names read against a working folder deleted later would land in "/".
    FWorkingFolder = QDir::currentPath();
    FPhaseLogger = new TDataLogger(this);
    FPhaseLogger->SetFileName(LogFileIn(QString(), "Phase.csv"));
    FPhaseLogger->SetMaxCount(100);
    FPhaseLogger->SetAutoSaveTime(60);
    FTOFLogger = new TDataLogger(this);
    FTOFLogger->SetFileName(LogFileIn(QString(), "TimeOfFlight.csv"));
    FTOFLogger->SetMaxCount(100);
    FTOFLogger->SetAutoSaveTime(60);
    // Beside them, one time-stamped line per report, written as often.
    FMeasurementLogger = new TDataLogger(this);
    FMeasurementLogger->SetFileName(LogFileIn(QString(), MeasurementLog::FileName));
    FMeasurementLogger->SetHeader(MeasurementLog::Header());
    FMeasurementLogger->SetMaxCount(100);
    FMeasurementLogger->SetAutoSaveTime(60);
    // One row per Run, written when the Run ends.
    FStatisticsLogger = new TDataLogger(this);
    FStatisticsLogger->SetFileName(LogFileIn(QString(), StatisticsLog::FileName));
    FStatisticsLogger->SetHeader(StatisticsLog::Header());
    FStatisticsLogger->SetMaxCount(100);
    FStatisticsLogger->SetAutoSaveTime(60);
    for (TDataLogger *logger : Loggers()) {
        // The operator is told the whole path: the logs need not be where the program started.
        logger->OnWriteError.Bind([this](QObject *sender, const QString &, const QString &error) {
            if (const auto *failing = qobject_cast<TDataLogger *>(sender))
                emit LoggerFailing(sender, LogPath(failing), error);
        });
        logger->OnWriteRecovered.Bind([this](QObject *sender) { emit LoggerRecovered(sender); });
        // A log that stays unwritable has its backlog saved elsewhere before any line is lost.
        logger->OnSpilled.Bind([this](QObject *, const QString &fileName, int32_t lines, const QString &savedIn) {
            emit Notice({TNoticeKind::Warning, "Information",
                         QString("%1 could not be written for a long time: %2 waiting lines were saved in %3.")
                             .arg(QDir::toNativeSeparators(fileName))
                             .arg(lines)
                             .arg(QDir::toNativeSeparators(savedIn))});
        });
        // Appends stay whole either way, but the operator should know the two runs' lines mix.
        logger->OnShared.Bind([this](QObject *, const QString &fileName) {
            emit Notice({TNoticeKind::Warning, "Information",
                         QString("Another program is writing %1 too. Both keep appending whole lines, but "
                                 "their measurements are mixed in the file.")
                             .arg(QDir::toNativeSeparators(fileName))});
        });
        // Nowhere to save them either: the status line keeps the count of lines lost.
        logger->OnDropped.Bind([this](QObject *sender, const QString &fileName, int32_t) {
            const auto *dropping = qobject_cast<TDataLogger *>(sender);
            emit LoggerFailing(sender, dropping ? LogPath(dropping) : fileName,
                               QString("%1 lines could not be saved anywhere and are lost")
                                   .arg(dropping ? dropping->DroppedCount() : 0));
        });
    }
}

void TEngine::RescueLoggerLines(TDataLogger *logger)
{
    logger->FlushData();
    const int32_t held = logger->Count();
    if (held == 0)
        return;
    const QString fileName = LogPath(logger);
    QString rescue;
    if (logger->Rescue(rescue)) {
        emit Notice({TNoticeKind::Warning, "Information",
                     QString("%1 lines of %2 could not be written").arg(held).arg(fileName) + ".\nThey were saved in " +
                         QDir::toNativeSeparators(rescue) + " instead."});
        return;
    }
    emit Notice({TNoticeKind::Error, "Information",
                 QString("%1 lines of %2 could not be written anywhere and are lost.")
                     .arg(logger->Count())
                     .arg(fileName)});
}

void TEngine::Close()
{
    if (FClosed)
        return;
    StopCycles();
    // Nothing computed stays behind: the open batch and the shorter last lines go to the loggers.
    WriteOpenLines();
    FClosed = true;
    FReceiveState = rsNone;
    // Lines no write could get out must not go with the loggers: the notice says where they are.
    // Nothing waits for an answer here, so the close goes on to the end whoever is at the screen.
    for (TDataLogger *logger : Loggers())
        RescueLoggerLines(logger);
    // The loggers, whose destruction writes what they still hold; the trend.
    delete FPhaseLogger.data();
    FPhaseLogger = nullptr;
    delete FTOFLogger.data();
    FTOFLogger = nullptr;
    delete FMeasurementLogger.data();
    FMeasurementLogger = nullptr;
    delete FStatisticsLogger.data();
    FStatisticsLogger = nullptr;
    ClearTrend();
    ClosePort();
}
