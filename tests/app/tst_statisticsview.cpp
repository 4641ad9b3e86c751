// The Statistics page: its figures are the engine's statistics after each batch, copying gives
// them as tab-separated text, the trend zooms and pans and Home shows all again, and a
// Measurements.csv is shown a Run at a time, or refused with the line that does not fit.

#include "app/StatisticsView.h"
#include "engine/MeasurementLog.h"

#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

const QDateTime Start(QDate(2026, 12, 7), QTime(10, 15, 0));

// A report of Run run at ms after Start; every fifth one dropped by the filter.
TReport MakeReport(int64_t run, int i)
{
    TReport report;
    report.Record.Run = run;
    report.Record.Time = Start.addMSecs(int64_t(i) * 8);
    report.Record.TimeOfFlight = float(4.541 + 1e-6 * ((i * 37) % 11) + 1e-7 * i);
    report.Record.PhaseDeg = float(180 + (i % 7));
    report.Kept = i % 5 != 0;
    return report;
}

TBatch MakeBatch(int64_t run, int first, int count)
{
    TBatch batch;
    for (int i = first; i < first + count; ++i)
        batch.push_back(MakeReport(run, i));
    return batch;
}

// The figure as the view shows it and as the statistics give it agree to the view's last decimal.
void CompareFigure(const QString &text, const std::optional<double> &value, const QString &label)
{
    if (!value) {
        QVERIFY2(text.isEmpty(), qPrintable(label));
        return;
    }
    const int decimals = text.contains('.') ? int(text.size() - text.indexOf('.') - 1) : 0;
    QVERIFY2(std::abs(text.toDouble() - *value) <= 0.5 * std::pow(10.0, -decimals) + 1e-12,
             qPrintable(label + ": " + text + " against " + QString::number(*value, 'g', 12)));
}

void CompareColumn(const QTableWidget &grid, int column, const TStatisticsFigures &figures)
{
    QCOMPARE(grid.item(0, column)->text(), QString::number(figures.Count));
    const std::optional<double> values[] = {figures.MeanTOF,       figures.SDTOF, figures.MinTOF,   figures.MaxTOF,
                                            figures.PeakToPeakTOF, figures.Drift, figures.MeanPhase, figures.SDPhase,
                                            figures.ADEV[0],       figures.ADEV[1], figures.ADEV[2]};
    for (int row = 1; row <= int(std::size(values)); ++row)
        CompareFigure(grid.item(row, column)->text(), values[row - 1], grid.item(row, 0)->text());
}

} // namespace

class TestStatisticsView : public QObject {
    Q_OBJECT
private slots:
    void figuresFollowBatches();
    void copyGivesTabSeparatedText_data();
    void copyGivesTabSeparatedText();
    void windowSizeFromSpinBox();
    void trendZoomAndHome_data();
    void trendZoomAndHome();
    void openFileWithTwoRuns();
    void refuseFileThatIsNotOne_data();
    void refuseFileThatIsNotOne();
    void trendBreaksAtAGap_data();
    void trendBreaksAtAGap();
};

void TestStatisticsView::figuresFollowBatches()
{
    TStatistics statistics;
    statistics.SetWindowSize(100);
    statistics.BeginRun(4);
    TStatisticsView view(statistics);
    view.SetWindowSize(100);
    // Batches of 32 until the window has slid and the Run holds more than it; the first ones while
    // the page is hidden, which are shown when it is.
    for (int b = 0; b < 8; ++b) {
        if (b == 3) {
            QCOMPARE(view.GridFigures->item(0, 1)->text(), QString("0"));
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            CompareColumn(*view.GridFigures, 1, statistics.RunFigures());
        }
        const TBatch batch = MakeBatch(4, b * 32, 32);
        statistics.Add(batch);
        view.AddBatch(batch);
        if (b < 3)
            continue;
        CompareColumn(*view.GridFigures, 1, statistics.RunFigures());
        CompareColumn(*view.GridFigures, 2, statistics.WindowFigures());
    }
    QCOMPARE(view.GridFigures->horizontalHeaderItem(1)->text(), QString("Run 4"));
    QCOMPARE(view.GridFigures->horizontalHeaderItem(2)->text(), QString("Last 100"));
    QCOMPARE(view.GridFigures->item(0, 1)->text(), QString("204")); // 256 less every fifth
    QCOMPARE(view.GridFigures->item(0, 2)->text(), QString("100"));
}

void TestStatisticsView::copyGivesTabSeparatedText_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Copy button") << "button";
    QTest::newRow("Ctrl+C on the figures") << "table";
    QTest::newRow("Ctrl+C on the trend") << "trend";
}

void TestStatisticsView::copyGivesTabSeparatedText()
{
    QFETCH(QString, how);
    TStatistics statistics;
    statistics.BeginRun(2);
    TStatisticsView view(statistics);
    const TBatch batch = MakeBatch(2, 0, 10);
    statistics.Add(batch);
    view.AddBatch(batch);
    QApplication::clipboard()->clear();
    if (how == "button") {
        QTest::mouseClick(view.BtnCopy, Qt::LeftButton);
    } else {
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QWidget *target = how == "table" ? static_cast<QWidget *>(view.GridFigures) : view.PlotTrend;
        target->setFocus();
        QTest::keySequence(target, QKeySequence::Copy);
    }
    const QStringList lines = QApplication::clipboard()->text().split('\n');
    QCOMPARE(lines.size(), 14); // column names, 12 figures, the empty end
    QCOMPARE(lines[0], QString("Figure\tRun 2\tLast 1000"));
    QCOMPARE(lines[1], QString("Values\t8\t8"));
    const TStatisticsFigures run = statistics.RunFigures();
    QCOMPARE(lines[2], "Mean TOF (us)\t" + QString::number(*run.MeanTOF, 'f', 6) + '\t' +
                           QString::number(*run.MeanTOF, 'f', 6));
    // Fewer than 2 groups of 10: no Allan deviation at 10 or 100.
    QCOMPARE(lines[11], QString("ADEV 10 (ps)\t\t"));
    QCOMPARE(lines[12], QString("ADEV 100 (ps)\t\t"));
    QCOMPARE(lines[13], QString());
}

void TestStatisticsView::windowSizeFromSpinBox()
{
    TStatistics statistics;
    TStatisticsView view(statistics);
    QSignalSpy changed(&view, &TStatisticsView::WindowSizeChanged);
    QCOMPARE(view.SE_Window->minimum(), 32);
    QCOMPARE(view.SE_Window->maximum(), 100000);
    view.SE_Window->setValue(5000);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed[0][0].toInt(), 5000);
    QCOMPARE(view.GridFigures->horizontalHeaderItem(2)->text(), QString("Last 5000"));
    view.SetWindowSize(64);
    QCOMPARE(changed.size(), 1); // set from outside: no echo
}

void TestStatisticsView::trendZoomAndHome_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("back"); // how everything is shown again
    QTest::newRow("wheel, Home") << "wheel" << "home";
    QTest::newRow("wheel, double-click") << "wheel" << "double";
    QTest::newRow("plus, Home") << "plus" << "home";
    QTest::newRow("plus twice, minus") << "plus plus minus" << "home";
    QTest::newRow("plus, arrow right") << "plus right" << "home";
    QTest::newRow("plus, arrow left") << "plus left" << "double";
    QTest::newRow("wheel, drag") << "wheel drag" << "home";
}

void TestStatisticsView::trendZoomAndHome()
{
    QFETCH(QString, gesture);
    QFETCH(QString, back);
    TStatistics statistics;
    statistics.BeginRun(1);
    TStatisticsView view(statistics);
    view.resize(800, 500);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const TBatch batch = MakeBatch(1, 0, 500);
    statistics.Add(batch);
    view.AddBatch(batch);
    TZoomRange &zoom = view.TrendZoom();
    const double fullLow = zoom.Low(), fullHigh = zoom.High();
    QCOMPARE(fullLow, double(Start.addMSecs(8).toMSecsSinceEpoch())); // the first kept value
    QCOMPARE(fullHigh, double(Start.addMSecs(499 * 8).toMSecsSinceEpoch()));
    QWidget *trend = view.PlotTrend;
    const QPoint middle = trend->rect().center();
    double low = fullLow, high = fullHigh;
    for (const QString &step : gesture.split(' ')) {
        if (step == "wheel") {
            QWheelEvent wheel(middle, trend->mapToGlobal(middle), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(trend, &wheel);
            QVERIFY(zoom.High() - zoom.Low() < high - low);
        } else if (step == "drag") {
            QTest::mousePress(trend, Qt::LeftButton, Qt::NoModifier, middle);
            QTest::mouseMove(trend, middle + QPoint(40, 0));
            QMouseEvent move(QEvent::MouseMove, middle + QPoint(40, 0), trend->mapToGlobal(middle + QPoint(40, 0)),
                             Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(trend, &move);
            QTest::mouseRelease(trend, Qt::LeftButton, Qt::NoModifier, middle + QPoint(40, 0));
            QVERIFY(zoom.Low() < low); // dragged right: earlier values come into view
            QCOMPARE(zoom.High() - zoom.Low(), high - low);
        } else {
            const Qt::Key key = step == "plus"    ? Qt::Key_Plus
                                : step == "minus" ? Qt::Key_Minus
                                : step == "left"  ? Qt::Key_Left
                                                  : Qt::Key_Right;
            QTest::keyClick(trend, key);
            if (step == "plus")
                QCOMPARE(zoom.High() - zoom.Low(), (high - low) / 2);
            if (step == "minus")
                QCOMPARE(zoom.High() - zoom.Low(), (high - low) * 2);
            if (step == "right")
                QVERIFY(zoom.Low() > low);
            if (step == "left")
                QVERIFY(zoom.Low() < low);
        }
        QVERIFY(zoom.Low() >= fullLow && zoom.High() <= fullHigh);
        low = zoom.Low();
        high = zoom.High();
    }
    QVERIFY(zoom.Zoomed());
    // Zoomed, new values do not move the view.
    const TBatch more = MakeBatch(1, 500, 32);
    statistics.Add(more);
    view.AddBatch(more);
    QCOMPARE(zoom.Low(), low);
    QCOMPARE(zoom.High(), high);
    if (back == "home")
        QTest::keyClick(trend, Qt::Key_Home);
    else
        QTest::mouseDClick(trend, Qt::LeftButton, Qt::NoModifier, middle);
    QVERIFY(!zoom.Zoomed());
    QCOMPARE(zoom.Low(), fullLow);
    QCOMPARE(zoom.High(), double(Start.addMSecs(531 * 8).toMSecsSinceEpoch()));
}

void TestStatisticsView::openFileWithTwoRuns()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("Measurements.csv");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(MeasurementLog::Header() + "\r\n");
    // Run 7 with 40 reports, 3 outside any Run, Run 8 with 20.
    TRunningStatistics run7, run8;
    const auto write = [&](int64_t run, int i, TRunningStatistics *values) {
        const TReport report = MakeReport(run, i);
        file.write(MeasurementLog::Line(report.Record, report.Kept) + "\r\n");
        MeasurementLog::TReadLine read;
        QVERIFY(MeasurementLog::Read(MeasurementLog::Line(report.Record, report.Kept), read));
        if (values && report.Kept)
            values->Add({read.TimeOfFlight, read.Record.Time.toMSecsSinceEpoch(), read.PhaseDeg});
    };
    for (int i = 0; i < 40; ++i)
        write(7, i, &run7);
    for (int i = 40; i < 43; ++i)
        write(0, i, nullptr);
    for (int i = 43; i < 63; ++i)
        write(8, i, &run8);
    file.close();

    TStatistics statistics;
    statistics.BeginRun(1);
    TStatisticsView view(statistics);
    view.SetWindowSize(32);
    const TBatch live = MakeBatch(1, 0, 64);
    statistics.Add(live);
    view.AddBatch(live);
    QSignalSpy shown(&view, &TStatisticsView::FileShown);
    view.OpenFile(path);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 20000);
    QVERIFY(!view.Loading());
    QCOMPARE(view.LabelSource->text(), "File: " + path);
    QVERIFY(view.BtnLive->isVisibleTo(&view));
    // Narrow, the path loses its middle, not the file's name; the tool tip has it whole.
    view.resize(560, 400);
    view.show();
    QTRY_VERIFY(view.LabelSource->text().contains(QChar(0x2026)));
    QVERIFY(view.LabelSource->text().endsWith(".csv"));
    QCOMPARE(view.LabelSource->toolTip(), path);
    view.resize(3000, 400);
    QTRY_COMPARE(view.LabelSource->text(), "File: " + path);
    QCOMPARE(view.FileRunCount(), 2);
    QCOMPARE(view.CB_Run->count(), 2);
    QCOMPARE(view.CB_Run->itemText(0), QString("Run 7: 32 values kept"));
    QCOMPARE(view.CB_Run->itemText(1), QString("Run 8: 16 values kept"));
    QCOMPARE(view.GridFigures->horizontalHeaderItem(1)->text(), QString("Run 7"));
    CompareColumn(*view.GridFigures, 1, run7.Figures());
    QCOMPARE(view.GridFigures->item(0, 2)->text(), QString("32"));
    // A live batch meanwhile leaves the file's figures alone.
    const TBatch more = MakeBatch(1, 64, 32);
    statistics.Add(more);
    view.AddBatch(more);
    CompareColumn(*view.GridFigures, 1, run7.Figures());
    view.ShowFileRun(1);
    QCOMPARE(view.GridFigures->horizontalHeaderItem(1)->text(), QString("Run 8"));
    CompareColumn(*view.GridFigures, 1, run8.Figures());
    CompareColumn(*view.GridFigures, 2, run8.Figures()); // 16 values: all within the last 32
    QCOMPARE(view.TrendZoom().Low(), double(Start.addMSecs(43 * 8).toMSecsSinceEpoch()));

    QTest::mouseClick(view.BtnLive, Qt::LeftButton);
    QVERIFY(!view.ShowingFile());
    QCOMPARE(view.LabelSource->text(), QString("Live"));
    QVERIFY(!view.BtnLive->isVisibleTo(&view));
    CompareColumn(*view.GridFigures, 1, statistics.RunFigures());
    CompareColumn(*view.GridFigures, 2, statistics.WindowFigures());
}

void TestStatisticsView::refuseFileThatIsNotOne_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error");
    const QByteArray header = MeasurementLog::Header() + "\n";
    QTest::newRow("a waveform file") << QByteArray("2048,2048\n2050,2047\n")
                                     << "line 1 does not fit (the first line of a Measurements.csv is its header): "
                                        "\"2048,2048\"";
    QTest::newRow("a bad second line") << header + "1,2,3\n" << "line 2 does not fit: \"1,2,3\"";
    QTest::newRow("empty") << QByteArray() << "it is empty";
}

void TestStatisticsView::refuseFileThatIsNotOne()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    QTemporaryDir folder;
    const QString path = folder.filePath("Other.csv");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    TStatistics statistics;
    TStatisticsView view(statistics);
    QSignalSpy refused(&view, &TStatisticsView::FileRefused);
    view.OpenFile(path);
    QTRY_COMPARE_WITH_TIMEOUT(refused.size(), 1, 20000);
    QCOMPARE(refused[0][0].toString(), path + " is not a Measurements.csv: " + error);
    QVERIFY(!view.ShowingFile());
    QCOMPARE(view.LabelSource->text(), QString("Live"));
}

void TestStatisticsView::trendBreaksAtAGap_data()
{
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<bool>("joined");
    QTest::newRow("values 2 s apart are joined") << 2000 << true;
    QTest::newRow("a port lost for 20 s is no line") << 20000 << false;
}

void TestStatisticsView::trendBreaksAtAGap()
{
    QFETCH(int, gapMs);
    QFETCH(bool, joined);
    // Two stretches of values, the second far above the first, gapMs apart.
    std::vector<StatisticsPlots::TTrendPoint> points;
    for (int i = 0; i <= 10; ++i)
        points.push_back({i * 100, 4.541});
    const int64_t second = 1000 + gapMs;
    for (int i = 0; i <= 10; ++i)
        points.push_back({second + i * 100, 4.542});
    QImage image(600, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    StatisticsPlots::DrawTrend(painter, image.rect(), points, 0, double(second + 1000));
    const QRect plot = StatisticsPlots::PlotArea(image.rect(), painter.fontMetrics());
    painter.end();
    // Between the stretches, inside the plot: the trace's colour only where they are joined.
    const auto xOf = [&](int64_t ms) { return plot.left() + int(double(ms) / double(second + 1000) * (plot.width() - 1)); };
    int traced = 0;
    for (int x = xOf(1000) + 2; x < xOf(second) - 1; ++x)
        for (int y = plot.top() + 1; y < plot.bottom(); ++y)
            traced += image.pixel(x, y) == qRgb(0, 0, 128);
    QCOMPARE(traced > 0, joined);
}

QTEST_MAIN(TestStatisticsView)
#include "tst_statisticsview.moc"
