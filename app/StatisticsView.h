#pragma once
// TStatisticsView: the Statistics page. It shows the figures of the time of flight the filter
// kept, for the Run and for the last N values, as the engine's statistics give them once a batch;
// a histogram of the last N, their Allan deviation against the group size, and a trend of the time
// of flight against clock time that the operator zooms and pans. It also shows a Measurements.csv
// read from a file, a Run at a time, until the operator returns to the live values.

#include "display/StatisticsPlots.h"
#include "display/ZoomRange.h"
#include "engine/Report.h"
#include "engine/Statistics.h"

#include <QStringList>
#include <QWidget>

#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;

class TStatisticsView : public QWidget {
    Q_OBJECT
public:
    // statistics: the engine's, read after each batch; it must outlive the view.
    explicit TStatisticsView(const TStatistics &statistics, QWidget *parent = nullptr);
    ~TStatisticsView() override;

    // The live values keep this many kept values for the trend (the oldest half goes beyond).
    static constexpr size_t LiveLimit = 1000000;
    // The rows of the figures, as the clipboard and Statistics.csv name them.
    static QStringList FigureLabels();
    // A figure's texts, in the order of FigureLabels; an undefined one is empty.
    static QStringList FigureTexts(const TStatisticsFigures &figures);

    // A processed batch: its kept values join the trend and the figures are shown again.
    void AddBatch(const TBatch &batch);
    // The N of the last N values, as the spin box shows it (no WindowSizeChanged).
    void SetWindowSize(int size);
    int WindowSize() const;

    // The figures as tab-separated text: a line of column names, then label, Run, Last N a line.
    QString FiguresText() const;
    void CopyFigures();

    // Reads a Measurements.csv away from the event loop, with a progress bar; once read it is
    // shown, or refused with FileRefused.
    void OpenFile(const QString &path);
    void ShowLive();
    bool ShowingFile() const { return !FFilePath.isEmpty(); }
    bool Loading() const { return FLoad != nullptr; }
    // The Runs of the file shown.
    int FileRunCount() const { return int(FFileRuns.size()); }
    void ShowFileRun(int index);

    TZoomRange &TrendZoom() { return FTrendZoom; }
    // The controls in the order the Tab key visits them.
    QList<QWidget *> FocusChain() const;

    QLabel *LabelSource = nullptr; // "Live", or "File: " and the path
    QPushButton *BtnLive = nullptr, *BtnCopy = nullptr;
    QComboBox *CB_Run = nullptr;
    QSpinBox *SE_Window = nullptr;
    QProgressBar *ProgressFile = nullptr;
    QTableWidget *GridFigures = nullptr;
    QWidget *PlotHistogram = nullptr, *PlotAllan = nullptr, *PlotTrend = nullptr;

signals:
    void WindowSizeChanged(int size);
    // A file read and shown, or refused (text: the file and the line that does not fit).
    void FileShown();
    void FileRefused(const QString &text);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    struct TFileRun {
        int64_t Run = 0;
        size_t First = 0, Last = 0; // its values in FFilePoints
        TStatisticsFigures Figures;
    };
    struct TLoad;
    void FinishLoad();
    // "Live", "File: PATH" or "Reading PATH ...", cut to the label's width.
    void SetSource(const QString &text);
    void ElideSource();
    void ShowFigures();
    void ShowColumn(int column, const QString &title, const TStatisticsFigures &figures);
    // The values the plots show now: the trend's and the last N of them.
    const std::vector<StatisticsPlots::TTrendPoint> &TrendPoints() const;
    std::vector<double> LastValues() const;
    void PaintTrend(QPainter &painter, const QRect &rect);
    bool TrendEvent(QEvent *event);

    const TStatistics &FStatistics;
    std::vector<StatisticsPlots::TTrendPoint> FLive;
    TZoomRange FTrendZoom;
    // The file shown: its path, the kept values of its Runs (with their phases), its Runs.
    QString FFilePath;
    QString FSource;
    std::vector<StatisticsPlots::TTrendPoint> FFilePoints;
    std::vector<double> FFilePhases;
    std::vector<TFileRun> FFileRuns;
    std::vector<StatisticsPlots::TTrendPoint> FRunPoints; // the shown Run's
    int FFileRun = -1;
    bool FFiguresStale = false; // batches came while the page was hidden
    std::shared_ptr<TLoad> FLoad;
    QTimer *FProgressTimer = nullptr;
};
