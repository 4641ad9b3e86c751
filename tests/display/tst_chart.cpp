// TCISChart: its geometry, the curve, reference lines and the XOR cursor, as pixels.

#include "display/Canvas.h"
#include "display/Cischart.h"
#include "tests/common/Pixels.h"

#include <QtTest>

#include <vector>

namespace {

constexpr QRgb Paper = 0xff203040;

// A canvas over its own image, and a chart on it covering the image.
struct TSheet {
    QImage Image;
    TCanvas Canvas{&Image};
    TCISChart Chart{nullptr, &Canvas};
    TSheet(int width, int height) : Image(width, height, QImage::Format_RGB32)
    {
        Image.fill(Paper);
        Chart.SetPosition(0, 0, width, height);
    }
    const QImage &Picture()
    {
        Canvas.End();
        return Image;
    }
};

} // namespace

class TestChart : public QObject {
    Q_OBJECT
private slots:
    void geometry_data();
    void geometry();
    void constantSeriesIsOneLine_data();
    void constantSeriesIsOneLine();
    void referenceLines();
    void cursor_data();
    void cursor();
    void clearAfterBackgroundColour();
};

void TestChart::geometry_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("plotWidth");
    QTest::addColumn<int>("plotHeight");
    QTest::addColumn<int>("baseline");
    QTest::addColumn<int>("y2048");
    QTest::newRow("as constructed") << 400 << 300 << 1024 << 398 << 298 << 292 << 292 - 149;
    QTest::newRow("785 x 465") << 785 << 465 << 512 << 783 << 463 << 457 << 226;
    QTest::newRow("waveform page") << 834 << 497 << 512 << 832 << 495 << 489 << 489 - 247;
}

void TestChart::geometry()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, count);
    QFETCH(int, plotWidth);
    QFETCH(int, plotHeight);
    QFETCH(int, baseline);
    QFETCH(int, y2048);
    QImage image(10, 10, QImage::Format_RGB32);
    TCanvas canvas(&image);
    TCISChart chart(nullptr, &canvas);
    QCOMPARE(chart.BackgroundColor(), clNavy);
    if (width != 400) {
        std::vector<int16_t> samples(size_t(count), 0);
        chart.SetPosition(0, 0, width, height);
        chart.SetData(count, samples.data());
    }
    QCOMPARE(chart.Count(), count);
    QCOMPARE(chart.Right(), width - 1);
    QCOMPARE(chart.Bottom(), height - 1);
    QCOMPARE(chart.PlotWidth(), plotWidth);
    QCOMPARE(chart.PlotHeight(), plotHeight);
    QCOMPARE(chart.Baseline(), baseline);
    QCOMPARE(chart.XScale(), float(plotWidth) / float(count));
    QCOMPARE(chart.YScale(), float(plotHeight) / 4096.0f);
    QCOMPARE(chart.YOf(2048), y2048);
    QCOMPARE(chart.XOf(0), 1);
}

void TestChart::constantSeriesIsOneLine_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("count");
    QTest::newRow("0, 512 samples") << 0 << 512;
    QTest::newRow("2048, 512 samples") << 2048 << 512;
    QTest::newRow("4000, 100 samples") << 4000 << 100;
    QTest::newRow("-50, 1024 samples") << -50 << 1024; // below the baseline, still on the picture
}

void TestChart::constantSeriesIsOneLine()
{
    QFETCH(int, value);
    QFETCH(int, count);
    TSheet sheet(785, 465);
    const std::vector<int16_t> samples(static_cast<size_t>(count), static_cast<int16_t>(value));
    sheet.Chart.SetData(count, samples.data());
    sheet.Chart.DrawCurve(clRed, 1);
    const QList<QPoint> red = PixelsOf(sheet.Picture(), clRed);
    const int y = sheet.Chart.YOf(value);
    // One row from the first column of the plot, without gaps, to about its last column.
    QVERIFY(!red.isEmpty());
    QCOMPARE(red.first(), QPoint(1, y));
    for (int i = 0; i < red.size(); ++i)
        QCOMPARE(red[i], QPoint(1 + i, y));
    QVERIFY2(qAbs(red.last().x() - sheet.Chart.XOf(count - 1)) <= 1, qPrintable(QString::number(red.last().x())));
}

void TestChart::referenceLines()
{
    TSheet sheet(400, 300);
    std::vector<int16_t> samples(1024, 1000);
    sheet.Chart.SetData(1024, samples.data());
    sheet.Chart.DrawHLine(3000, clCyan, 1);
    sheet.Chart.DrawVLine(512, clGreen, 1);
    sheet.Chart.DrawHSegment(500, 100, 200, clOlive, 1);
    sheet.Chart.DrawMark(700, clYellow);
    const QImage &picture = sheet.Picture();
    const int y3000 = sheet.Chart.YOf(3000), x512 = sheet.Chart.XOf(512);
    // Lines leave out their last point; the vertical line crosses the horizontal one.
    QCOMPARE(PixelsOf(picture, clCyan).size(), 397 - 1);
    QCOMPARE(picture.pixel(1, y3000), clCyan);
    QCOMPARE(picture.pixel(1 + 397 - 1, y3000), clCyan);
    QCOMPARE(PixelsOf(picture, clGreen).size(), 297);
    QCOMPARE(picture.pixel(x512, 1), clGreen);
    QCOMPARE(PixelsOf(picture, clOlive).first(), QPoint(sheet.Chart.XOf(100), sheet.Chart.YOf(500)));
    QCOMPARE(PixelsOf(picture, clOlive).size(), sheet.Chart.XOf(200) - sheet.Chart.XOf(100));
    // The mark is an X centred on the sample.
    const QPoint centre(sheet.Chart.XOf(700), sheet.Chart.YOf(1000));
    QCOMPARE(picture.pixel(centre), clYellow);
    QCOMPARE(picture.pixel(centre + QPoint(-4, -4)), clYellow);
    QCOMPARE(picture.pixel(centre + QPoint(4, -4)), clYellow);
    QCOMPARE(picture.pixel(centre + QPoint(0, -4)), Paper);
}

void TestChart::cursor_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("index"); // -1: nothing happens
    QTest::newRow("left edge") << 0 << -1;
    QTest::newRow("right edge") << 784 << -1;
    QTest::newRow("first column") << 1 << 0;
    QTest::newRow("middle") << 392 << int(391 / (783.0f / 512));
    QTest::newRow("last column") << 783 << 511;
}

void TestChart::cursor()
{
    QFETCH(int, x);
    QFETCH(int, index);
    TSheet sheet(785, 465);
    std::vector<int16_t> samples(512);
    for (int i = 0; i < 512; ++i)
        samples[size_t(i)] = int16_t(i * 4);
    sheet.Chart.SetData(512, samples.data());
    sheet.Chart.Clear();
    sheet.Chart.DrawCurve(clYellow, 1);
    const QImage before = sheet.Picture().copy();

    int at = -1, value = -1;
    sheet.Chart.GetCursorValueAtXY(x, 7, at, value);
    QCOMPARE(at, index);
    if (index < 0) {
        QCOMPARE(value, -1);
        QCOMPARE(sheet.Picture(), before);
        return;
    }
    QCOMPARE(value, index * 4);
    const QImage once = sheet.Picture().copy();
    QVERIFY(once != before);
    // The circle sits at column x and the sample's height: its top and bottom points.
    const int y = sheet.Chart.YOf(value);
    QCOMPARE(QPoint(sheet.Chart.CursorX(), sheet.Chart.CursorY()), QPoint(x, y));
    QVERIFY(once.pixel(x, y - 4) != before.pixel(x, y - 4));
    QCOMPARE(once.pixel(x, y), before.pixel(x, y));
    // The same column again: still exactly one circle.
    sheet.Chart.GetCursorValueAtXY(x, 300, at, value);
    QCOMPARE(sheet.Picture(), once);
    // The circle drawn a second time in the same place is gone.
    sheet.Chart.DrawCursor(x, y);
    QCOMPARE(sheet.Picture(), before);
}

void TestChart::clearAfterBackgroundColour()
{
    TSheet sheet(60, 40);
    sheet.Chart.SetBackgroundColor(clGreen);
    sheet.Chart.Clear();
    const QImage &picture = sheet.Picture();
    // Outlined in navy, filled with the new colour; the last column and row stay as they were.
    QCOMPARE(picture.pixel(0, 0), clNavy);
    QCOMPARE(picture.pixel(58, 38), clNavy);
    QCOMPARE(picture.pixel(1, 1), clGreen);
    QCOMPARE(picture.pixel(57, 37), clGreen);
    QCOMPARE(picture.pixel(59, 20), Paper);
    QCOMPARE(picture.pixel(30, 39), Paper);
    QCOMPARE(PixelsOf(picture, clGreen).size(), 57 * 37);
    QCOMPARE(QPoint(sheet.Chart.CursorX(), sheet.Chart.CursorY()), QPoint(-4, -4));
}

QTEST_MAIN(TestChart)
#include "tst_chart.moc"
