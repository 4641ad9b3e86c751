// TFormMain: what the engine computed, drawn: the Main page's values and warnings, the gauge, and
// the logs that cannot be written.

#include "app/GaugeChoice.h"
#include "app/Pictures.h"
#include "app/Unitmain.h"
#include "display/Cgauge.h"

#include <QLabel>
#include <QMenu>

using Measurement::FixedText;

void TFormMain::ShowReport()
{
    LabelBigTime->setText(QString::number(FShownReport.BigTime));
    LabelSmallTime->setText(FixedText(FShownReport.Record.PhaseDeg, 3));
    LabelTOF->setText(FixedText(FShownReport.Record.TimeOfFlight, 4));
    FReportShown = true;
    ShowValuesLive();
}

void TFormMain::ShowValuesLive()
{
    // Values that do not come from the instrument, or no longer, must not look live: the design
    // texts until the first report, and the last values while the instrument is silent.
    for (QLabel *label : {LabelBigTime, LabelSmallTime, LabelTOF})
        label->setEnabled(FReportShown && !FSilent);
}

void TFormMain::SetupGauge()
{
    FGauge = new TGauge(PanelGauge, PanelGauge->width(), PanelGauge->height(), 5);
    FGauge->move(0, 0);
    Pictures::SetupPhaseGauge(*FGauge, *FEngine);
    // View > Display chooses its mode; the strip chart of the phase unless another was kept.
    new TGaugeChoice(this, findChild<QMenu *>("mmView"), FGauge, FEngine, FSettings);
    FGauge->show();
}

void TFormMain::ShowRefusedCount(int64_t refused)
{
    LabelRefused->setText(
        QString("%1 %2 refused: a field could not be read").arg(refused).arg(refused == 1 ? "report" : "reports"));
    LabelRefused->setVisible(refused > 0);
}

void TFormMain::ShowReplyWarning(bool silent)
{
    LabelNoReply->setText(silent ? FEngine->NoReplyText() : QString());
    LabelNoReply->setVisible(silent);
    FSilent = silent;
    // A report that ended the silence is drawn at once, not a frame later in grey.
    if (!silent && FReportDue)
        DrawFrame();
    ShowValuesLive();
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
    SetPanelText(spLogger, text);
    StatusPanels[spLogger]->setToolTip(text.isEmpty() ? StatusPanelTip(spLogger) : text);
    LabelLogError->setText(text);
    LabelLogError->setVisible(!text.isEmpty());
}
