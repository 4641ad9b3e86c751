// The Waveform page: the picture's size follows the panel, both channels are drawn from sample
// 540 to 1051, red under yellow on navy, and the cursor follows the mouse.

#include "app/Unitmain.h"
#include "display/Cischart.h"
#include "display/Image.h"
#include "tests/common/MemoryDevice.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/WorkingFolder.h"

#include <QFrame>
#include <QRandomGenerator>
#include <QToolTip>
#include <QtTest>

namespace {

int Count(const QImage &image, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
}

} // namespace

class TestWaveView : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void pictureFollowsPanel_data();
    void pictureFollowsPanel();
    void coincidentLinesYellowOnTop();
    void onlyTheViewedSamplesCount();

private:
    // Gives PanelImage a size as the page would, and lets its handler run.
    void ResizePanel(int width, int height);

    TMemoryLine FLine;
    std::unique_ptr<TFormMain> FForm;
    std::unique_ptr<TMessageCapture> FMessages;
    std::unique_ptr<TWorkingFolder> FFolder;
};

void TestWaveView::init()
{
    FFolder = std::make_unique<TWorkingFolder>();
    QVERIFY(FFolder->IsValid());
    FLine = TMemoryLine();
    FMessages = std::make_unique<TMessageCapture>();
    FForm = std::make_unique<TFormMain>(nullptr, MemoryDeviceFactory(FLine));
}

void TestWaveView::cleanup()
{
    FForm.reset();
    FMessages.reset();
    FFolder.reset();
}

void TestWaveView::ResizePanel(int width, int height)
{
    FForm->PanelImage->resize(width, height);
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
    for (int i = TFormMain::WaveViewFirst; i < TFormMain::WaveViewFirst + TFormMain::WaveViewCount; ++i) {
        FForm->FChannel1[i] = int16_t(i * 3 % 4096);
        FForm->FChannel2[i] = int16_t(4095 - i * 5 % 4096);
    }
    FForm->RedrawWaveforms();
    const QImage viewed = FForm->ImageChart->Picture().copy();
    QVERIFY(Count(viewed, clRed) > 500);
    QCOMPARE(viewed.pixel(1, FForm->FChart->YOf(540 * 3 % 4096)), clRed);
    QRandomGenerator random(540);
    for (int i = 0; i < TFormMain::ChannelLength; ++i) {
        if (i >= TFormMain::WaveViewFirst && i < TFormMain::WaveViewFirst + TFormMain::WaveViewCount)
            continue;
        FForm->FChannel1[i] = int16_t(random.bounded(-32768, 32768));
        FForm->FChannel2[i] = int16_t(random.bounded(-32768, 32768));
    }
    FForm->RedrawWaveforms();
    QCOMPARE(FForm->ImageChart->Picture(), viewed);
}

QTEST_MAIN(TestWaveView)
#include "tst_waveview.moc"
