// TFormMain: report parsing and the time-of-flight computation with its batches, trend and logs.

#include "ringbuffer/CircularBuffer.h"
#include "app/Measurement.h"
#include "app/Reports.h"
#include "app/Unitmain.h"
#include "display/Cgauge.h"
#include "logger/Cdatalogger.h"
#include "platform/Platform.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QStandardPaths>

using Measurement::Fixed;
using Measurement::FixedText;

// Once enough text is there, the exchange ends: with a computation when a record was read, and
// without one only when no record can be in the text. A record whose marker has come but whose
// last characters have not (its reply split into small chunks, with a line end of the last
// exchange still in front of it) is waited for.
bool TFormMain::CheckDifferenceReport()
{
    if (FLineBuffer.size() <= Reports::DifferenceCheckLimit)
        return false;
    if (ParseDifferenceReport()) {
        ComputeMeasurement();
        return true;
    }
    return !Reports::DifferenceReportPending(FLineBuffer);
}

bool TFormMain::CheckMeanReport()
{
    if (FLineBuffer.size() <= Reports::MeanCheckLimit)
        return false;
    if (ParseMeanReport()) {
        ComputeMeasurement();
        return true;
    }
    return !Reports::MeanReportPending(FLineBuffer);
}

bool TFormMain::ParseDifferenceReport()
{
    Reports::TReportValues values;
    if (!Reports::TakeDifferenceReport(FLineBuffer, values))
        return false;
    FBigCount = values.BigCount;
    FM1 = values.M1;
    FM2 = values.M2;
    FTemperature = values.Temperature;
    return true;
}

bool TFormMain::ParseMeanReport()
{
    Reports::TReportValues values;
    if (!Reports::TakeMeanReport(FLineBuffer, values))
        return false;
    // The mean report carries no temperature; the last one stays.
    FBigCount = values.BigCount;
    FM1 = values.M1;
    FM2 = values.M2;
    return true;
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

    if (FPhaseRing->Count() == FPhaseRing->Capacity()) {
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
