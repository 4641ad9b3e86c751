// TFormMain: the Statistics page, Measurements.csv files shown on it, and the waveform chart's zoom.

#include "app/Pictures.h"
#include "app/Settings.h"
#include "app/StatisticsView.h"
#include "app/Unitmain.h"
#include "display/Cischart.h"
#include "display/Image.h"
#include "engine/MeasurementLog.h"
#include "platform/Platform.h"

#include <QTabWidget>

#include <cmath>

namespace {
// The chart shows at least this many samples, zoomed all the way in.
constexpr double WaveMinimumSpan = 8;
} // namespace

void TFormMain::CreateStatisticsPage()
{
    TS_Statistics = new TStatisticsView(FEngine->Statistics());
    TS_Statistics->setObjectName("TS_Statistics");
    PageControl1->addTab(TS_Statistics, "Statistics");
    connect(FEngine, &TEngine::BatchProcessed, TS_Statistics, &TStatisticsView::AddBatch);
    connect(TS_Statistics, &TStatisticsView::WindowSizeChanged, this, [this](int size) {
        TEngineOptions options = FEngine->Options();
        options.StatisticsWindow = size;
        FEngine->SetOptions(options);
        if (FSettings)
            FSettings->SetStatisticsWindow(size);
    });
    connect(TS_Statistics, &TStatisticsView::FileRefused, this, [](const QString &text) {
        Platform::MessageBox(text, "ERROR", Platform::TMsgIcon::Error);
    });
    FWaveZoom.SetFull(0, Pictures::WaveViewCount);
    FWaveZoom.SetMinimumSpan(WaveMinimumSpan);
}

void TFormMain::mmStatisticsClick()
{
    // The window size may have been restored from the settings since the page was made.
    TS_Statistics->SetWindowSize(FEngine->Options().StatisticsWindow);
    PageControl1->setCurrentWidget(TS_Statistics);
}

void TFormMain::mmOpenMeasurementsClick()
{
    Platform::TFileDialogRequest request;
    request.Kind = Platform::TFileDialogKind::Open;
    request.Title = "Open measurements";
    request.Filter = QStringLiteral("Measurements (%1);;CSV files (*.csv);;All files (*)").arg(MeasurementLog::FileName);
    request.Owner = this;
    const QString fileName = Platform::FileDialog(request);
    if (fileName.isEmpty())
        return;
    mmStatisticsClick();
    TS_Statistics->OpenFile(fileName);
}

int TFormMain::WaveFirst() const
{
    return Pictures::WaveViewFirst + int(std::floor(FWaveZoom.Low() + 1e-9));
}

int TFormMain::WaveCount() const
{
    return qMax(1, int(std::ceil(FWaveZoom.High() - 1e-9)) + Pictures::WaveViewFirst - WaveFirst());
}

bool TFormMain::WaveChartEvent(QEvent *event)
{
    if (!FChart || !FWaveZoom.HandleEvent(event, FChart->Left() + 1, FChart->PlotWidth()))
        return false;
    RedrawWaveforms();
    return true;
}
