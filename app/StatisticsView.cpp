#include "app/StatisticsView.h"

#include "engine/StatisticsLog.h"
#include "platform/FixedText.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <functional>

namespace {

constexpr int MicrosecondDecimals = 6, PicosecondDecimals = 2, DegreeDecimals = 3;
constexpr int ProgressMs = 100;
constexpr int ProgressLines = 4096; // lines read between two looks at the progress and a cancel
// The trend's narrowest view, ms.
constexpr double TrendMinimumSpan = 10;

// A picture of the view: drawn by its owner, handing the operator's wheel, mouse and keys to it.
class TPlot : public QWidget {
public:
    using TPaint = std::function<void(QPainter &, const QRect &)>;
    using TEvent = std::function<bool(QEvent *)>;
    TPlot(const QString &name, const QString &description, TPaint paint, QWidget *parent)
        : QWidget(parent), FPaint(std::move(paint))
    {
        setAccessibleName(name);
        setAccessibleDescription(description);
        setFocusPolicy(Qt::StrongFocus);
        setMinimumSize(60, 60);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    TEvent Events;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        FPaint(painter, rect());
        if (hasFocus()) {
            painter.setPen(QPen(palette().highlight().color(), 1, Qt::DotLine));
            painter.drawRect(rect().adjusted(0, 0, -1, -1));
        }
    }
    bool event(QEvent *event) override
    {
        if (Events && Events(event)) {
            event->accept();
            update();
            return true;
        }
        return QWidget::event(event);
    }

private:
    TPaint FPaint;
};

QString Field(const std::optional<double> &value, int decimals)
{
    return value ? Platform::FixedText(*value, decimals) : QString();
}

} // namespace

// A file being read on a thread of its own; the view takes what it read once it has finished.
struct TStatisticsView::TLoad {
    QString Path;
    QThread *Thread = nullptr;
    std::atomic<qint64> Done{0}, Size{0};
    std::atomic<bool> Cancel{false};
    bool Ok = false;
    QString Error;
    std::vector<StatisticsPlots::TTrendPoint> Points;
    std::vector<double> Phases;
    std::vector<TFileRun> Runs;

    void Read()
    {
        QFile file(Path);
        if (!file.open(QIODevice::ReadOnly)) {
            Error = "cannot read " + Path + ": " + file.errorString();
            return;
        }
        Size = file.size();
        int64_t run = 0, lines = 0;
        size_t first = 0;
        TRunningStatistics values;
        const auto endRun = [&] {
            if (run != 0)
                Runs.push_back({run, first, Points.size(), values.Figures()});
            run = 0;
            values.Reset();
        };
        const auto record = [&](const MeasurementLog::TReadLine &read) {
            if (read.Record.Run != run) {
                endRun();
                run = read.Record.Run;
                first = Points.size();
            }
            if (run != 0 && read.Kept) {
                const int64_t ms = read.Record.Time.toMSecsSinceEpoch();
                Points.push_back({ms, read.TimeOfFlight});
                Phases.push_back(read.PhaseDeg);
                values.Add({read.TimeOfFlight, ms, read.PhaseDeg});
            }
            if (++lines % ProgressLines == 0) {
                Done = file.pos();
                // Closed, the file reads as ended: the reader stops at the next line.
                if (Cancel)
                    file.close();
            }
        };
        QString error;
        Ok = StatisticsLog::ReadMeasurements(file, record, endRun, error);
        if (Ok)
            endRun();
        else
            Error = Path + " is not a Measurements.csv: " + error;
    }
};

TStatisticsView::TStatisticsView(const TStatistics &statistics, QWidget *parent)
    : QWidget(parent), FStatistics(statistics)
{
    setAccessibleName(tr("Statistics"));
    // The window's own least size holds: the page takes what is left (the plots shrink first).
    setMinimumSize(1, 1);
    LabelSource = new QLabel(tr("Live"), this);
    LabelSource->setObjectName("LabelSource");
    LabelSource->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    LabelSource->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LabelSource->installEventFilter(this);
    FSource = LabelSource->text();
    CB_Run = new QComboBox(this);
    CB_Run->setObjectName("CB_Run");
    CB_Run->setAccessibleName(tr("Run of the file"));
    CB_Run->hide();
    ProgressFile = new QProgressBar(this);
    ProgressFile->setObjectName("ProgressFile");
    ProgressFile->setAccessibleName(tr("Reading the file"));
    ProgressFile->setRange(0, 1000);
    ProgressFile->setMaximumWidth(160);
    ProgressFile->hide();
    auto *windowLabel = new QLabel(tr("Last &N:"), this);
    SE_Window = new QSpinBox(this);
    SE_Window->setObjectName("SE_Window");
    SE_Window->setAccessibleName(tr("Last N values"));
    SE_Window->setRange(TWindowStatistics::MinSize, TWindowStatistics::MaxSize);
    SE_Window->setValue(statistics.WindowSize());
    SE_Window->setKeyboardTracking(false);
    windowLabel->setBuddy(SE_Window);
    BtnCopy = new QPushButton(tr("&Copy"), this);
    BtnCopy->setObjectName("BtnCopy");
    BtnCopy->setToolTip(tr("Copy the figures as tab-separated text (Ctrl+C)"));
    BtnLive = new QPushButton(tr("&Live"), this);
    BtnLive->setObjectName("BtnLive");
    BtnLive->setToolTip(tr("Show the values of the instrument again"));
    BtnLive->hide();

    GridFigures = new QTableWidget(int(FigureLabels().size()), 3, this);
    GridFigures->setObjectName("GridFigures");
    GridFigures->setAccessibleName(tr("Figures of the time of flight"));
    GridFigures->verticalHeader()->hide();
    GridFigures->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridFigures->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    GridFigures->installEventFilter(this);
    for (int row = 0; row < FigureLabels().size(); ++row) {
        GridFigures->setItem(row, 0, new QTableWidgetItem(FigureLabels()[row]));
        for (int column : {1, 2}) {
            auto *item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            GridFigures->setItem(row, column, item);
        }
    }
    GridFigures->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // As wide as its texts: the plots take the rest.
    GridFigures->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    GridFigures->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    GridFigures->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);

    auto *histogram = new TPlot(tr("Histogram"), tr("Histogram of the last N times of flight"),
                                [this](QPainter &p, const QRect &r) { StatisticsPlots::DrawHistogram(p, r, LastValues()); },
                                this);
    auto *allan = new TPlot(tr("Allan deviation"), tr("Allan deviation of the last N values against n, log-log"),
                            [this](QPainter &p, const QRect &r) {
                                StatisticsPlots::DrawAllan(p, r, StatisticsPlots::AllanDeviations(LastValues()));
                            },
                            this);
    auto *trend = new TPlot(tr("Time-of-flight trend"),
                            tr("Time of flight against clock time; wheel or +/- zoom, drag or arrows pan, "
                               "double-click or Home shows all"),
                            [this](QPainter &p, const QRect &r) { PaintTrend(p, r); }, this);
    trend->Events = [this](QEvent *event) { return TrendEvent(event); };
    PlotHistogram = histogram;
    PlotAllan = allan;
    PlotTrend = trend;
    PlotHistogram->setObjectName("PlotHistogram");
    PlotAllan->setObjectName("PlotAllan");
    PlotTrend->setObjectName("PlotTrend");

    auto *top = new QHBoxLayout;
    top->addWidget(LabelSource, 1);
    top->addWidget(CB_Run);
    top->addWidget(ProgressFile);
    top->addWidget(windowLabel);
    top->addWidget(SE_Window);
    top->addWidget(BtnCopy);
    top->addWidget(BtnLive);
    auto *plots = new QVBoxLayout;
    auto *row = new QHBoxLayout;
    row->addWidget(PlotHistogram);
    row->addWidget(PlotAllan);
    plots->addLayout(row, 1);
    plots->addWidget(PlotTrend, 1);
    auto *body = new QHBoxLayout;
    body->addWidget(GridFigures);
    body->addLayout(plots, 1);
    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(6, 6, 6, 6);
    page->addLayout(top);
    page->addLayout(body, 1);

    FProgressTimer = new QTimer(this);
    FProgressTimer->setInterval(ProgressMs);
    connect(FProgressTimer, &QTimer::timeout, this, [this] {
        if (FLoad && FLoad->Size > 0)
            ProgressFile->setValue(int(FLoad->Done * 1000 / FLoad->Size));
    });
    connect(SE_Window, qOverload<int>(&QSpinBox::valueChanged), this, [this](int size) {
        emit WindowSizeChanged(size);
        ShowFigures();
    });
    connect(BtnCopy, &QPushButton::clicked, this, &TStatisticsView::CopyFigures);
    connect(BtnLive, &QPushButton::clicked, this, &TStatisticsView::ShowLive);
    connect(CB_Run, qOverload<int>(&QComboBox::activated), this, &TStatisticsView::ShowFileRun);
    FTrendZoom.SetMinimumSpan(TrendMinimumSpan);
    ShowFigures();
}

TStatisticsView::~TStatisticsView()
{
    if (FLoad) {
        FLoad->Cancel = true;
        FLoad->Thread->wait();
        delete FLoad->Thread;
    }
    // The plots call back into this view; QWidget's own destructor hides the view after this one
    // has run, and the plots would hear of it (focus and activation) while it is gone.
    delete PlotHistogram;
    delete PlotAllan;
    delete PlotTrend;
}

QList<QWidget *> TStatisticsView::FocusChain() const
{
    return {CB_Run, SE_Window, BtnCopy, BtnLive, GridFigures, PlotHistogram, PlotAllan, PlotTrend};
}

QStringList TStatisticsView::FigureLabels()
{
    return {"Values",        "Mean TOF (us)",    "SD TOF (ps)",    "Min TOF (us)",
            "Max TOF (us)",  "Peak-to-peak TOF (ps)", "Drift (ps/min)", "Mean phase (deg)",
            "SD phase (deg)", "ADEV 1 (ps)",     "ADEV 10 (ps)",   "ADEV 100 (ps)"};
}

QStringList TStatisticsView::FigureTexts(const TStatisticsFigures &figures)
{
    QStringList texts{QString::number(figures.Count),
                      Field(figures.MeanTOF, MicrosecondDecimals),
                      Field(figures.SDTOF, PicosecondDecimals),
                      Field(figures.MinTOF, MicrosecondDecimals),
                      Field(figures.MaxTOF, MicrosecondDecimals),
                      Field(figures.PeakToPeakTOF, PicosecondDecimals),
                      Field(figures.Drift, PicosecondDecimals),
                      Field(figures.MeanPhase, DegreeDecimals),
                      Field(figures.SDPhase, DegreeDecimals)};
    for (const std::optional<double> &adev : figures.ADEV)
        texts << Field(adev, PicosecondDecimals);
    return texts;
}

void TStatisticsView::AddBatch(const TBatch &batch)
{
    for (const TReport &report : batch)
        if (report.Kept) {
            const TStatisticsValue value = TStatistics::ValueOf(report);
            FLive.push_back({value.TimeMs, value.TimeOfFlight});
        }
    if (FLive.size() > LiveLimit)
        FLive.erase(FLive.begin(), FLive.begin() + std::ptrdiff_t(FLive.size() - LiveLimit / 2));
    if (ShowingFile() || Loading())
        return;
    // Hidden, the page would still lay its table out anew for every batch: it is brought up to
    // date when it is shown.
    if (!isVisible()) {
        FFiguresStale = true;
        return;
    }
    ShowFigures();
}

void TStatisticsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (FFiguresStale)
        ShowFigures();
}

void TStatisticsView::SetWindowSize(int size)
{
    const QSignalBlocker block(SE_Window);
    SE_Window->setValue(size);
    ShowFigures();
}

int TStatisticsView::WindowSize() const
{
    return SE_Window->value();
}

void TStatisticsView::ShowColumn(int column, const QString &title, const TStatisticsFigures &figures)
{
    // Only what changed: each new text has the table measure its columns again.
    const auto show = [](QTableWidgetItem *item, const QString &text) {
        if (item->text() != text)
            item->setText(text);
    };
    if (QTableWidgetItem *header = GridFigures->horizontalHeaderItem(column))
        show(header, title);
    else
        GridFigures->setHorizontalHeaderItem(column, new QTableWidgetItem(title));
    const QStringList texts = FigureTexts(figures);
    for (int row = 0; row < texts.size(); ++row)
        show(GridFigures->item(row, column), texts[row]);
}

void TStatisticsView::ShowFigures()
{
    FFiguresStale = false;
    if (!GridFigures->horizontalHeaderItem(0))
        GridFigures->setHorizontalHeaderItem(0, new QTableWidgetItem(tr("Figure")));
    const QString lastN = tr("Last %1").arg(WindowSize());
    if (ShowingFile()) {
        TStatisticsFigures run, window;
        if (FFileRun >= 0) {
            const TFileRun &shown = FFileRuns[size_t(FFileRun)];
            run = shown.Figures;
            TWindowStatistics last(WindowSize());
            const size_t from = std::max(shown.First, shown.Last - std::min(shown.Last - shown.First, size_t(WindowSize())));
            for (size_t i = from; i < shown.Last; ++i)
                last.Add({FFilePoints[i].TimeOfFlight, FFilePoints[i].TimeMs, FFilePhases[i]});
            window = last.Figures();
        }
        ShowColumn(1, FFileRun >= 0 ? tr("Run %1").arg(FFileRuns[size_t(FFileRun)].Run) : tr("Run"), run);
        ShowColumn(2, lastN, window);
    } else {
        ShowColumn(1, FStatistics.Run() != 0 ? tr("Run %1").arg(FStatistics.Run()) : tr("Run"), FStatistics.RunFigures());
        ShowColumn(2, lastN, FStatistics.WindowFigures());
    }
    const auto &points = TrendPoints();
    if (!points.empty())
        FTrendZoom.SetFull(double(points.front().TimeMs), double(points.back().TimeMs));
    PlotHistogram->update();
    PlotAllan->update();
    PlotTrend->update();
}

QString TStatisticsView::FiguresText() const
{
    QString text;
    for (int row = -1; row < GridFigures->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < GridFigures->columnCount(); ++column)
            cells << (row < 0 ? GridFigures->horizontalHeaderItem(column)->text() : GridFigures->item(row, column)->text());
        text += cells.join('\t') + '\n';
    }
    return text;
}

void TStatisticsView::CopyFigures()
{
    if (FFiguresStale)
        ShowFigures();
    QApplication::clipboard()->setText(FiguresText());
}

void TStatisticsView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        CopyFigures();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TStatisticsView::SetSource(const QString &text)
{
    FSource = text;
    ElideSource();
}

// A long path loses its middle rather than its end (the file's name) at the label's edge; the
// tool tip has it whole.
void TStatisticsView::ElideSource()
{
    const int room = LabelSource->contentsRect().width();
    const bool elide = LabelSource->isVisible() && room > 0;
    LabelSource->setText(elide ? LabelSource->fontMetrics().elidedText(FSource, Qt::ElideMiddle, room) : FSource);
}

bool TStatisticsView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == LabelSource && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        ElideSource();
    // The table would copy one cell: Ctrl+C copies the figures wherever the view has the focus.
    if (watched == GridFigures && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
        event->accept();
        if (event->type() == QEvent::KeyPress)
            CopyFigures();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

const std::vector<StatisticsPlots::TTrendPoint> &TStatisticsView::TrendPoints() const
{
    return ShowingFile() ? FRunPoints : FLive;
}

std::vector<double> TStatisticsView::LastValues() const
{
    const auto &points = TrendPoints();
    const size_t count = std::min(points.size(), size_t(WindowSize()));
    std::vector<double> values;
    values.reserve(count);
    for (size_t i = points.size() - count; i < points.size(); ++i)
        values.push_back(points[i].TimeOfFlight);
    return values;
}

void TStatisticsView::PaintTrend(QPainter &painter, const QRect &rect)
{
    StatisticsPlots::DrawTrend(painter, rect, TrendPoints(), FTrendZoom.Low(), FTrendZoom.High());
}

bool TStatisticsView::TrendEvent(QEvent *event)
{
    const QRect plot = StatisticsPlots::PlotArea(PlotTrend->rect(), PlotTrend->fontMetrics());
    return FTrendZoom.HandleEvent(event, plot.left(), plot.width());
}

void TStatisticsView::OpenFile(const QString &path)
{
    if (FLoad) {
        FLoad->Cancel = true;
        FLoad->Thread->wait();
        delete FLoad->Thread;
        FLoad.reset();
    }
    auto load = std::make_shared<TLoad>();
    load->Path = path;
    load->Thread = QThread::create([load] { load->Read(); });
    FLoad = load;
    connect(load->Thread, &QThread::finished, this, &TStatisticsView::FinishLoad);
    ProgressFile->setValue(0);
    ProgressFile->show();
    SetSource(tr("Reading %1 ...").arg(path));
    FProgressTimer->start();
    load->Thread->start();
}

void TStatisticsView::FinishLoad()
{
    // A load given up meanwhile (another file, or live again) has been dealt with there.
    if (!FLoad || sender() != FLoad->Thread)
        return;
    const std::shared_ptr<TLoad> load = std::move(FLoad);
    load->Thread->wait();
    delete load->Thread;
    FProgressTimer->stop();
    ProgressFile->hide();
    if (!load->Ok) {
        SetSource(ShowingFile() ? tr("File: %1").arg(FFilePath) : tr("Live"));
        emit FileRefused(load->Error);
        return;
    }
    FFilePath = load->Path;
    FFilePoints = std::move(load->Points);
    FFilePhases = std::move(load->Phases);
    FFileRuns = std::move(load->Runs);
    SetSource(tr("File: %1").arg(FFilePath));
    LabelSource->setToolTip(FFilePath);
    CB_Run->clear();
    for (const TFileRun &run : FFileRuns)
        CB_Run->addItem(tr("Run %1: %2 values kept").arg(run.Run).arg(run.Figures.Count));
    if (FFileRuns.empty())
        CB_Run->addItem(tr("no Run in the file"));
    CB_Run->show();
    BtnLive->show();
    ShowFileRun(0);
    emit FileShown();
}

void TStatisticsView::ShowFileRun(int index)
{
    if (!ShowingFile())
        return;
    FFileRun = index >= 0 && index < int(FFileRuns.size()) ? index : -1;
    FRunPoints.clear();
    if (FFileRun >= 0) {
        const TFileRun &run = FFileRuns[size_t(FFileRun)];
        FRunPoints.assign(FFilePoints.begin() + std::ptrdiff_t(run.First), FFilePoints.begin() + std::ptrdiff_t(run.Last));
        CB_Run->setCurrentIndex(FFileRun);
    }
    FTrendZoom.Reset();
    ShowFigures();
}

void TStatisticsView::ShowLive()
{
    if (FLoad) {
        FLoad->Cancel = true;
        FLoad->Thread->wait();
        delete FLoad->Thread;
        FLoad.reset();
        FProgressTimer->stop();
        ProgressFile->hide();
    }
    FFilePath.clear();
    FFilePoints = {};
    FFilePhases = {};
    FFileRuns.clear();
    FRunPoints = {};
    FFileRun = -1;
    LabelSource->setToolTip(QString());
    SetSource(tr("Live"));
    CB_Run->hide();
    BtnLive->hide();
    FTrendZoom.Reset();
    ShowFigures();
}
