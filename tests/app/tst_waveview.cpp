// The Waveform page: the picture's size follows the panel, both channels are drawn from sample
// 540 to 1051, red under yellow on navy, and the cursor follows the mouse.

#include "app/Pictures.h"
#include "app/Unitmain.h"
#include "display/Cischart.h"
#include "display/Image.h"
#include "tests/common/MemoryWindow.h"
#include "tests/common/Pixels.h"

#include <QFrame>
#include <QRandomGenerator>
#include <QToolTip>
#include <QtTest>

#include <tuple>
#include <utility>

class TestWaveView : public QObject, private TMemoryWindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void pictureFollowsPanel_data();
    void pictureFollowsPanel();
    void coincidentLinesYellowOnTop();
    void onlyTheViewedSamplesCount();
    void cursorFollowsMouse_data();
    void cursorFollowsMouse();
    void zoomAndHome_data();
    void zoomAndHome();
    void axesAndLegendBesideThePicture();

private:
    // Gives PanelImage a size as the page would, and lets its handler run.
    void ResizePanel(int width, int height);
    // Sets the samples from first to last (not included) as a load does: sample(i) gives both.
    template <class TSample> void SetSamples(int first, int last, TSample sample)
    {
        TChannel channel1 = FForm->FEngine->Channel1(), channel2 = FForm->FEngine->Channel2();
        for (int i = first; i < last; ++i)
            std::tie(channel1[i], channel2[i]) = sample(i);
        FForm->FEngine->SetWaveform(channel1, channel2);
    }
    // Channel 1 rising from 0 and channel 2 falling from 3000 by one a sample.
    void SetRamps()
    {
        SetSamples(0, TFormMain::ChannelLength, [](int i) { return std::pair(int16_t(i), int16_t(3000 - i)); });
    }
};

void TestWaveView::init()
{
    QVERIFY(OpenWindow());
}

void TestWaveView::cleanup()
{
    FWindow.reset();
}

void TestWaveView::ResizePanel(int width, int height)
{
    // Fixed, so that a later pass of the window's layout (the status rows settling) keeps it.
    FForm->PanelImage->setFixedSize(width, height);
    FForm->PanelImageResize();
}

void TestWaveView::pictureFollowsPanel_data()
{
    QTest::addColumn<QSize>("panel");
    QTest::addColumn<QRect>("image");
    QTest::newRow("874 x 537") << QSize(874, 537) << QRect(20, 20, 834, 497);
    QTest::newRow("small") << QSize(100, 61) << QRect(20, 20, 60, 21);
    QTest::newRow("smaller than the margins") << QSize(30, 30) << QRect(20, 20, 0, 0);
}

void TestWaveView::pictureFollowsPanel()
{
    QFETCH(QSize, panel);
    QFETCH(QRect, image);
    ResizePanel(panel.width(), panel.height());
    QCOMPARE(FForm->ImageChart->geometry(), image);
    QCOMPARE(FForm->ImageChart->Picture().size(), image.size());
    QCOMPARE(FForm->FChartBitmap->size(), image.size());
    QCOMPARE(FForm->FChartBitmap->format(), image.isEmpty() ? QImage::Format_Invalid : QImage::Format_Indexed8);
    QCOMPARE(QRect(QPoint(FForm->FChart->Left(), FForm->FChart->Top()),
                   QPoint(FForm->FChart->Right(), FForm->FChart->Bottom())),
             QRect(QPoint(0, 0), image.size()));
    if (!image.isEmpty())
        QCOMPARE(FForm->ImageChart->Picture().pixel(image.width() / 2, 1), clNavy);
    // Closed, the chart and its bitmap are gone; a late resize draws nothing.
    FForm->FormClose();
    QVERIFY(!FForm->FChart && !FForm->FChartBitmap);
    ResizePanel(panel.width() + 10, panel.height());
    QVERIFY(!FForm->FChartBitmap);
}

void TestWaveView::coincidentLinesYellowOnTop()
{
    ResizePanel(874, 537);
    const QImage &picture = FForm->ImageChart->Picture();
    const int y = FForm->FChart->YOf(2048);
    QCOMPARE(y, 489 - 247);
    QCOMPARE(Count(picture, clRed), 0);
    QCOMPARE(picture.pixel(1, y), clYellow);
    for (int x = 1; x < 830; ++x)
        QCOMPARE(picture.pixel(x, y), clYellow);
    QCOMPARE(Count(picture, clYellow), Count(picture.copy(0, y, 834, 1), clYellow));
    QCOMPARE(picture.pixel(400, y - 1), clNavy);
}

void TestWaveView::onlyTheViewedSamplesCount()
{
    ResizePanel(874, 537);
    const int first = Pictures::WaveViewFirst, last = Pictures::WaveViewFirst + Pictures::WaveViewCount;
    SetSamples(first, last, [](int i) { return std::pair(int16_t(i * 3 % 4096), int16_t(4095 - i * 5 % 4096)); });
    FForm->RedrawWaveforms();
    const QImage viewed = FForm->ImageChart->Picture().copy();
    QVERIFY(Count(viewed, clRed) > 500);
    QCOMPARE(viewed.pixel(1, FForm->FChart->YOf(540 * 3 % 4096)), clRed);
    QRandomGenerator random(540);
    const auto noise = [&random](int) {
        return std::pair(int16_t(random.bounded(-32768, 32768)), int16_t(random.bounded(-32768, 32768)));
    };
    SetSamples(0, first, noise);
    SetSamples(last, TFormMain::ChannelLength, noise);
    FForm->RedrawWaveforms();
    QCOMPARE(FForm->ImageChart->Picture(), viewed);
}

void TestWaveView::cursorFollowsMouse_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("sample"); // -1: beside the plot
    QTest::addColumn<int>("pointerY");
    QTest::addColumn<int>("channel"); // the curve the circle sits on: the nearer one
    QTest::newRow("first column") << 1 << 540 << 250 << 2;
    QTest::newRow("middle") << 417 << 540 + 256 << 250 << 2;
    QTest::newRow("last column") << 832 << 1051 << 250 << 2;
    QTest::newRow("middle, nearer channel 1") << 417 << 540 + 256 << 400 << 1;
    QTest::newRow("first column, nearer channel 1") << 1 << 540 << 480 << 1;
    QTest::newRow("left edge") << 0 << -1 << 250 << 0;
    QTest::newRow("right edge") << 833 << -1 << 250 << 0;
}

void TestWaveView::cursorFollowsMouse()
{
    QFETCH(int, x);
    QFETCH(int, sample);
    QFETCH(int, pointerY);
    QFETCH(int, channel);
    SetRamps();
    FForm->show();
    FForm->mmWaveformClick();
    QVERIFY(QTest::qWaitForWindowExposed(FForm));
    ResizePanel(874, 537);
    const QImage drawn = FForm->ImageChart->Picture().copy();

    QTest::mouseMove(FForm->ImageChart, QPoint(x, pointerY));
    QTRY_VERIFY(sample < 0 || FForm->ImageChart->toolTip() != QString());
    const QImage moved = FForm->ImageChart->Picture().copy();
    if (sample < 0) {
        QCOMPARE(moved, drawn);
        QCOMPARE(FForm->ImageChart->toolTip(), QString());
        return;
    }
    QCOMPARE(FForm->ImageChart->toolTip(),
             QStringLiteral("Sample %1\nChannel 1: %2\nChannel 2: %3").arg(sample).arg(sample).arg(3000 - sample));
    // One circle on the nearer curve at the pointer's column, nothing else changed.
    const int y = FForm->FChart->YOf(channel == 1 ? sample : 3000 - sample);
    QVERIFY(moved.pixel(x, y - 4) != drawn.pixel(x, y - 4));
    QCOMPARE(moved.copy(0, 0, 834, y - 5), drawn.copy(0, 0, 834, y - 5));
    QCOMPARE(moved.copy(0, y + 5, 834, 497 - y - 5), drawn.copy(0, y + 5, 834, 497 - y - 5));
    // Away and back: the first circle is gone, one stands at the same place again.
    QTest::mouseMove(FForm->ImageChart, QPoint(x < 400 ? x + 100 : x - 100, 10));
    QTRY_VERIFY(FForm->ImageChart->Picture() != moved);
    QTest::mouseMove(FForm->ImageChart, QPoint(x, pointerY));
    QTRY_COMPARE(FForm->ImageChart->Picture(), moved);
}

void TestWaveView::zoomAndHome_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("back");
    QTest::addColumn<int>("first"); // the first sample shown once zoomed
    QTest::addColumn<int>("count");
    // The wheel about sample 540 + 128 (a quarter of the way): a notch shows 0.8 of the span.
    // 128 - 0.25 x 409.6 = 25.6 to 435.2: samples 25 to 435 show.
    QTest::newRow("wheel, Home") << "wheel" << "home" << 540 + 25 << 411;
    QTest::newRow("wheel, double-click") << "wheel" << "double" << 540 + 25 << 411;
    QTest::newRow("plus, Home") << "plus" << "home" << 540 + 128 << 256;
    QTest::newRow("plus, right") << "plus right" << "home" << 540 + 153 << 257;
    QTest::newRow("plus, plus, minus") << "plus plus minus" << "home" << 540 + 128 << 256;
    QTest::newRow("plus, drag left") << "plus drag" << "double" << 540 + 192 << 256;
}

void TestWaveView::zoomAndHome()
{
    QFETCH(QString, gesture);
    QFETCH(QString, back);
    QFETCH(int, first);
    QFETCH(int, count);
    SetRamps();
    FForm->show();
    FForm->mmWaveformClick();
    QVERIFY(QTest::qWaitForWindowExposed(FForm));
    ResizePanel(874, 537);
    const QImage whole = FForm->ImageChart->Picture().copy();
    QCOMPARE(FForm->WaveFirst(), 540);
    QCOMPARE(FForm->WaveCount(), 512);
    QWidget *chart = FForm->ImageChart;
    // Sample 540 + 128 lies at a quarter of the plot's 832 columns.
    const QPoint quarter(1 + 208, 250);
    for (const QString &step : gesture.split(' ')) {
        if (step == "wheel") {
            QWheelEvent wheel(quarter, chart->mapToGlobal(quarter), QPoint(), QPoint(0, 120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(chart, &wheel);
        } else if (step == "drag") {
            // A quarter of the plot to the left: the view moves a quarter of its span on.
            QTest::mousePress(chart, Qt::LeftButton, Qt::NoModifier, QPoint(417, 250));
            QMouseEvent move(QEvent::MouseMove, QPoint(209, 250), chart->mapToGlobal(QPoint(209, 250)), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(chart, &move);
            QTest::mouseRelease(chart, Qt::LeftButton, Qt::NoModifier, QPoint(209, 250));
        } else {
            QTest::keyClick(chart, step == "plus" ? Qt::Key_Plus : step == "minus" ? Qt::Key_Minus : Qt::Key_Right);
        }
    }
    QCOMPARE(FForm->WaveFirst(), first);
    QCOMPARE(FForm->WaveCount(), count);
    QVERIFY(FForm->ImageChart->Picture() != whole);
    // The cursor reads the sample under the pointer in the zoomed stretch.
    FForm->ImageChartMouseMove(1, 250);
    QVERIFY(chart->toolTip().startsWith(QStringLiteral("Sample %1\n").arg(first)));
    if (back == "home")
        QTest::keyClick(chart, Qt::Key_Home);
    else
        QTest::mouseDClick(chart, Qt::LeftButton, Qt::NoModifier, quarter);
    QCOMPARE(FForm->WaveFirst(), 540);
    QCOMPARE(FForm->WaveCount(), 512);
    // Everything shown again is the picture drawn before, pixel for pixel (the cursor aside).
    FForm->RedrawWaveforms();
    QCOMPARE(FForm->ImageChart->Picture(), whole);
}

void TestWaveView::axesAndLegendBesideThePicture()
{
    FForm->show();
    FForm->mmWaveformClick();
    QVERIFY(QTest::qWaitForWindowExposed(FForm));
    ResizePanel(874, 537);
    const QImage panel = FForm->PanelImage->grab().toImage();
    const QRect image = FForm->ImageChart->geometry();
    // The legend's ground (navy) and both curves' colours stand in the margin above the picture.
    int navy = 0, red = 0, yellow = 0;
    for (int y = 0; y < image.top(); ++y)
        for (int x = image.left(); x <= image.right(); ++x) {
            const QRgb pixel = panel.pixel(x, y) & 0xffffff;
            navy += pixel == 0x000080;
            red += pixel == 0xff0000;
            yellow += pixel == 0xffff00;
        }
    QVERIFY(navy > 100 && red > 10 && yellow > 10);
    // Sample numbers under it: something is drawn in the bottom margin.
    const QRgb ground = panel.pixel(image.center().x(), panel.height() - 2);
    int marks = 0;
    for (int y = image.bottom() + 1; y < panel.height() - 1; ++y)
        for (int x = image.left(); x <= image.right(); ++x)
            marks += panel.pixel(x, y) != ground;
    QVERIFY(marks > 50);
}

QTEST_MAIN(TestWaveView)
#include "tst_waveview.moc"
