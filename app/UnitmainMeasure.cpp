// TFormMain: report parsing and the time-of-flight computation with its batches, trend and logs.

#include "ringbuffer/CircularBuffer.h"
#include "app/Measurement.h"
#include "app/Reports.h"
#include "app/Unitmain.h"
#include "display/Cgauge.h"
#include "logger/Cdatalogger.h"
#include "platform/Platform.h"

#include <QDateTime>
#include <QTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QStandardPaths>

using Measurement::Fixed;
using Measurement::FixedText;

// Once enough text is there, the exchange ends: with a computation when a record was read, and
// without one only when no record can be in the text. A record whose marker has come but whose
// last characters have not (its reply split into small chunks, with a line end of the last
// exchange still in front of it) is waited for. Records of either kind are taken: a reply that
// came after its wait, or two in one chunk, are each computed once.
bool TFormMain::CheckDifferenceReport()
{
    return CheckReports(Reports::DifferenceCheckLimit);
}

bool TFormMain::CheckMeanReport()
{
    return CheckReports(Reports::MeanCheckLimit);
}

bool TFormMain::CheckReports(int limit)
{
    if (TakeReports())
        return true;
    return FLineBuffer.size() > limit && !Reports::ReportPending(FLineBuffer);
}

bool TFormMain::TakeReports()
{
    bool taken = false;
    Reports::TReport report;
    // A closing window computes nothing more: its loggers may already be gone.
    while (!FClosed && Reports::TakeReport(FLineBuffer, report)) {
        taken = true;
        FRepliesAwaited = qMax(0, FRepliesAwaited - 1);
        FLastReplyTick = Platform::TickCount();
        FLastReplyTime = QTime::currentTime();
        if (!report.Values.Readable) {
            // A field that cannot be read must not become a number in the files.
            ++FRefusedCount;
            ShowRefusedCount();
            continue;
        }
        FBigCount = report.Values.BigCount;
        FM1 = report.Values.M1;
        FM2 = report.Values.M2;
        // The mean report carries no temperature; the last one stays.
        if (report.Kind == Reports::TReportKind::Difference)
            FTemperature = report.Values.Temperature;
        ComputeMeasurement();
    }
    if (taken)
        ShowReplyWarning(false);
    return taken;
}

double TFormMain::PhaseAngle(int32_t a, int32_t b)
{
    return Measurement::PhaseAngle(a, b);
}

void TFormMain::ComputeMeasurement()
{
    ++FReportCount;
    FPhaseRad = static_cast<float>(PhaseAngle(FM1, FM2));
    FPhaseDeg = Measurement::PhaseDegrees(FPhaseRad);
    FBigTime = Measurement::BigTime(FBigCount);
    FTimeOfFlight = Measurement::TimeOfFlight(FBigTime, FPhaseDeg);

    FM1Ring->Push(FM1);
    FM2Ring->Push(FM2);
    FPhaseRing->Push(FPhaseDeg);
    FTOFRing->Push(FTimeOfFlight);

    LabelBigTime->setText(QString::number(FBigTime));
    LabelSmallTime->setText(FixedText(FPhaseDeg, 3));
    LabelTOF->setText(FixedText(FTimeOfFlight, 4));

    if (FPhaseRing->Count() == FPhaseRing->Capacity())
        ProcessBatch();

    if (FM1Ring->Count() == FM1Ring->Capacity()) {
        FM1Avg = FM1Ring->Mean();
        FM2Avg = FM2Ring->Mean();
        SetPanelText(0, "M1Avg= " + QString::number(FM1Avg));
        SetPanelText(1, "M2Avg= " + QString::number(FM2Avg));
    }
    SetPanelText(2, "Phase= " + FixedText(FPhaseDeg, 3) + " deg");
    SetPanelText(3, QString::number(FM1));
    SetPanelText(4, QString::number(FM2));
    SetPanelText(TemperaturePanel, "Temp.= " + FixedText(FTemperature, 2) + " C");
}

void TFormMain::ProcessBatch()
{
    if (FApplyFilter) {
        RemoveOutliers();
        BandFilter();
    }
    AppendTrend();
    LogTimeOfFlight();
    LogPhase();
    if (FGauge)
        FGauge->UpdateDisplay();
}

void TFormMain::FinishBatch()
{
    // A batch cut short (the Run stopped, the port went, the window closes) is processed as a full
    // one would be; thinning stops by itself below its minimum count.
    if (FPhaseRing && FPhaseRing->Count() > 0)
        ProcessBatch();
}

void TFormMain::WriteOpenLines()
{
    FinishBatch();
    // The lines still being built go out as a last, shorter line, whatever the save options say
    // now: their values were taken while saving was on.
    if (FPhaseLogger && FPhaseLine.Count() > 0)
        FPhaseLogger->Append(FPhaseLine.TakeOpen());
    if (FTOFLogger && FTOFLine.Count() > 0)
        FTOFLogger->Append(FTOFLine.TakeOpen());
}

void TFormMain::ShowRefusedCount()
{
    LabelRefused->setText(QString("%1 %2 refused: a field could not be read")
                              .arg(FRefusedCount)
                              .arg(FRefusedCount == 1 ? "report" : "reports"));
    LabelRefused->setVisible(FRefusedCount > 0);
}

void TFormMain::CheckReplyAge()
{
    if (!FNoReply && Platform::TickCount() - FLastReplyTick > NoReplyMs)
        ShowReplyWarning(true);
}

void TFormMain::ShowReplyWarning(bool silent)
{
    if (silent == FNoReply)
        return;
    FNoReply = silent;
    LabelNoReply->setText(silent ? "No reply from the instrument since " + FLastReplyTime.toString("HH:mm:ss")
                                 : QString());
    LabelNoReply->setVisible(silent);
    // Values that no longer come from the instrument must not look live.
    for (QLabel *label : {LabelBigTime, LabelSmallTime, LabelTOF})
        label->setEnabled(!silent);
}

void TFormMain::RemoveOutliers()
{
    Measurement::RemoveOutliers(*FPhaseRing, *FTOFRing);
}

void TFormMain::BandFilter()
{
    Measurement::BandFilter(*FPhaseRing, *FTOFRing);
}

void TFormMain::AppendTrend()
{
    for (int32_t i = 0; i < FPhaseRing->Count(); ++i) {
        if (FTrend->size() >= size_t(TrendCapacity))
            ClearTrend();
        FTrend->push_back(std::make_unique<float>(FPhaseRing->At(i)));
    }
}

void TFormMain::ClearTrend()
{
    if (!FTrend)
        return;
    FTrend->clear();
    FTrend->reserve(TrendCapacity);
}

void TFormMain::LogTimeOfFlight()
{
    if (FSaveTOFData) {
        for (int32_t i = 0; i < FTOFRing->Count(); ++i)
            if (FTOFLine.Add(Fixed(FTOFRing->At(i), 3), Fixed(FTemperature, 2)))
                FTOFLogger->Append(FTOFLine.Line());
    }
    FTOFRing->Reset();
}

void TFormMain::LogPhase()
{
    if (FSavePhaseData) {
        for (int32_t i = 0; i < FPhaseRing->Count(); ++i)
            if (FPhaseLine.Add(Fixed(FPhaseRing->At(i), 3)))
                FPhaseLogger->Append(FPhaseLine.Line());
    }
    FPhaseRing->Reset();
}

void TFormMain::SetupLoggers()
{
    FPhaseLogger = new TDataLogger(this);
    FPhaseLogger->SetFileName("Phase.csv");
    FPhaseLogger->SetMaxCount(100);
    FPhaseLogger->SetAutoSaveTime(60);
    FTOFLogger = new TDataLogger(this);
    FTOFLogger->SetFileName("TimeOfFlight.csv");
    FTOFLogger->SetMaxCount(100);
    FTOFLogger->SetAutoSaveTime(60);
    for (TDataLogger *logger : {FPhaseLogger.data(), FTOFLogger.data()}) {
        logger->OnWriteError.Bind(this, &TFormMain::LoggerWriteError);
        logger->OnWriteRecovered.Bind(this, &TFormMain::LoggerWriteRecovered);
        // A log that stays unwritable has its backlog saved elsewhere before any line is lost.
        logger->OnSpilled.Bind([](QObject *, const QString &fileName, int32_t lines, const QString &savedIn) {
            Platform::MessageBox(QString("%1 could not be written for a long time: %2 waiting lines were saved in %3.")
                                     .arg(fileName)
                                     .arg(lines)
                                     .arg(QDir::toNativeSeparators(savedIn)),
                                 "Information", Platform::TMsgIcon::Warning);
        });
        // Appends stay whole either way, but the operator should know the two runs' lines mix.
        logger->OnShared.Bind([](QObject *, const QString &fileName) {
            Platform::MessageBox(QString("Another program is writing %1 too. Both keep appending whole lines, but "
                                         "their measurements are mixed in the file.")
                                     .arg(fileName),
                                 "Information", Platform::TMsgIcon::Warning);
        });
        // Nowhere to save them either: the status line keeps the count of lines lost.
        logger->OnDropped.Bind([this](QObject *sender, const QString &fileName, int32_t) {
            const auto *dropping = qobject_cast<TDataLogger *>(sender);
            LoggerWriteError(sender, fileName,
                             QString("%1 lines could not be saved anywhere and are lost")
                                 .arg(dropping ? dropping->DroppedCount() : 0));
        });
    }
}

void TFormMain::SetupGauge()
{
    FGauge = new TGauge(PanelGauge, PanelGauge->width(), PanelGauge->height(), 5);
    FGauge->move(0, 0);
    FGauge->FValues2 = FPhaseRing;
    FGauge->FValues = FPhaseRing;
    FGauge->FAngles = FPhaseRing;
    FGauge->FSamples = FTrend;
    FGauge->SetMode(TGaugeMode::SingleChannel);
    FGauge->SetUnit("degree");
    FGauge->SetZoom(1.0f);
    FGauge->SetXSpan(1600);
    FGauge->show();
}

void TFormMain::LoggerWriteError(QObject *Sender, const QString &fileName, const QString &error)
{
    RemoveLoggerError(Sender);
    FLoggerErrors.append({Sender, QString("Cannot write %1: %2").arg(fileName, error)});
    ShowLoggerErrors();
}

void TFormMain::LoggerWriteRecovered(QObject *Sender)
{
    RemoveLoggerError(Sender);
    ShowLoggerErrors();
}

void TFormMain::RemoveLoggerError(QObject *logger)
{
    for (qsizetype i = 0; i < FLoggerErrors.size(); ++i)
        if (FLoggerErrors[i].first == logger)
            FLoggerErrors.removeAt(i--);
}

void TFormMain::ShowLoggerErrors()
{
    // The newest failure still going on, or nothing. The panel is narrow; the whole text stays
    // readable on the pointer, and on the line above the panels.
    const QString text = FLoggerErrors.isEmpty() ? QString() : FLoggerErrors.back().second;
    SetPanelText(LoggerPanel, text);
    StatusPanels[LoggerPanel]->setToolTip(text);
    LabelLogError->setText(text);
    LabelLogError->setVisible(!text.isEmpty());
}

void TFormMain::RescueLoggerLines(TDataLogger *logger)
{
    logger->FlushData();
    const int32_t held = logger->Count();
    if (held == 0)
        return;
    const QString fileName = logger->FileName();
    QString rescue;
    if (logger->Rescue(rescue)) {
        Platform::MessageBox(QString("%1 lines of %2 could not be written").arg(held).arg(fileName) +
                                 ".\nThey were saved in " + QDir::toNativeSeparators(rescue) + " instead.",
                             "Information", Platform::TMsgIcon::Warning);
        return;
    }
    Platform::MessageBox(QString("%1 lines of %2 could not be written anywhere and are lost.")
                             .arg(logger->Count())
                             .arg(fileName),
                         "Information", Platform::TMsgIcon::Error);
}
