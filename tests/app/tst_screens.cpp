// The windows on the screen the test runs on (its size and scale are set by the test's
// environment): every window opens inside the area windows may use, and every control of every
// page lies inside its window at the opening size, at the smallest size and maximised.

#include "app/Settings.h"
#include "app/Unitmain.h"
#include "display/Image.h"
#include "display/Cgauge.h"
#include "guide/Unitmanual.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/Pixels.h"
#include "tests/common/WorkingFolder.h"
#include "platform/ScreenFit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QAbstractScrollArea>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QtTest>

namespace {

QRect Available()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// Every control and text of the page shown (with the tool bar and status bar) lies inside the
// window, and every text fits its label.
void CheckControlsInside(QWidget *window, QWidget *page)
{
    QList<QWidget *> widgets = page->findChildren<QWidget *>();
    if (auto *main = qobject_cast<TFormMain *>(window)) {
        widgets += main->ToolBar1->findChildren<QWidget *>();
        for (QLabel *panel : main->StatusPanels)
            widgets += panel;
    }
    const QRect inside = window->rect();
    for (QWidget *w : widgets) {
        if (!w->isVisibleTo(window) || !(qobject_cast<QAbstractButton *>(w) || qobject_cast<QComboBox *>(w) ||
                                         qobject_cast<QAbstractScrollArea *>(w) || qobject_cast<QLabel *>(w)))
            continue;
        const auto at = [w, window] { return QRect(w->mapTo(window, QPoint(0, 0)), w->size()); };
        const QString what = QStringLiteral("%1 %2 at %3,%4 %5x%6 in %7x%8")
                                 .arg(page->objectName(), w->objectName())
                                 .arg(at().x()).arg(at().y()).arg(at().width()).arg(at().height())
                                 .arg(inside.width()).arg(inside.height());
        // A layout the resize asked for may still be on its way.
        QTRY_VERIFY2(inside.contains(at()), qPrintable(what));
        // Nor cut by the widget it stands in.
        QVERIFY2(w->parentWidget()->rect().contains(w->geometry()), qPrintable(what));
        auto *label = qobject_cast<QLabel *>(w);
        if (label && !label->text().isEmpty() && label->wordWrap() == false && !label->objectName().startsWith("Status"))
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width(),
                     qPrintable(what + " cuts " + label->text()));
    }
}

void CheckWindowInside(QWidget *window)
{
    QVERIFY2(Available().contains(window->frameGeometry()),
             qPrintable(QStringLiteral("%1: %2,%3 %4x%5 on %6x%7")
                            .arg(window->objectName())
                            .arg(window->frameGeometry().x()).arg(window->frameGeometry().y())
                            .arg(window->frameGeometry().width()).arg(window->frameGeometry().height())
                            .arg(Available().width()).arg(Available().height())));
}

} // namespace

class TestScreens : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void mainWindowPages_data();
    void mainWindowPages();
    void guideAndAboutInside_data();
    void guideAndAboutInside();
    void messageBoxInside();
    void fitGeometry_data();
    void fitGeometry();
    void keptGeometryFitted_data();
    void keptGeometryFitted();
    void hugeWindowBounded();

private:
    std::unique_ptr<TWorkingFolder> FFolder;
};

void TestScreens::init()
{
    FFolder = std::make_unique<TWorkingFolder>();
    QVERIFY(FFolder->IsValid());
    for (int n = 1; n <= 8; ++n)
        qputenv(QByteArray("ZARN_COM") + QByteArray::number(n), "/nonexistent/zarn-no-such-port");
}

void TestScreens::cleanup()
{
    FFolder.reset();
}

void TestScreens::mainWindowPages_data()
{
    QTest::addColumn<QString>("size");
    QTest::newRow("opening size") << "opening";
    QTest::newRow("smallest size") << "smallest";
    QTest::newRow("maximised") << "maximised";
}

void TestScreens::mainWindowPages()
{
    QFETCH(QString, size);
    TMessageCapture messages;
    TFormMain form;
    // The design's size wherever the screen has room for it.
    const QSize design(907, 669);
    if (Available().width() >= design.width() + 40 && Available().height() >= design.height() + 80) {
        QCOMPARE(form.size(), design);
        QCOMPARE(form.pos(), QPoint(90, 79));
    }
    // The gauge draws at the screen's pixel ratio: its labels are sharp, not doubled pixels.
    const qreal ratio = form.FGauge->devicePixelRatioF();
    QCOMPARE(ratio, QGuiApplication::primaryScreen()->devicePixelRatio());
    QCOMPARE(form.FGauge->Picture().size(), form.FGauge->size() * ratio);
    if (size == "maximised")
        form.showMaximized();
    else
        form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    if (size == "smallest") {
        form.resize(form.minimumSize());
        QTRY_COMPARE(form.size(), form.minimumSize());
    }
    CheckWindowInside(&form);
    for (QWidget *page : {form.TS_Main, form.TS_RS232, form.TS_Waveform, form.TS_Log}) {
        form.PageControl1->setCurrentWidget(page);
        QTRY_VERIFY(page->isVisible());
        CheckControlsInside(&form, page);
        if (QTest::currentTestFailed())
            return;
    }
    // Whatever the size, the gauge on the Main page draws at full size: no screen is too large.
    form.PageControl1->setCurrentWidget(form.TS_Main);
    QTRY_COMPARE(form.FGauge->size(), form.PanelGauge->size());
    QCOMPARE(form.FGauge->Picture().size(), form.FGauge->size() * ratio);
    // Wide enough again for one row of status panels: the bar gives the second row's room back.
    // Here there is no port: "No port open" keeps its place at the bar's end beside them.
    const int noPort = form.LabelNoPort->isVisible() ? form.LabelNoPort->sizeHint().width() + 16 : 0;
    if (size == "smallest" && Available().width() >= 1000 + noPort) {
        form.resize(907 + noPort, 669);
        QTRY_COMPARE(form.StatusPanels.back()->y(), 0);
        QTRY_VERIFY(form.statusBar()->height() < 2 * form.StatusPanels[0]->height());
    }
}

void TestScreens::guideAndAboutInside_data()
{
    QTest::addColumn<int>("page");
    QTest::newRow("guide") << int(TFormManual::GuidePage);
    QTest::newRow("about") << int(TFormManual::AboutPage);
}

void TestScreens::guideAndAboutInside()
{
    QFETCH(int, page);
    TMessageCapture messages;
    TFormManual form(nullptr, "Window", page);
    if (page == TFormManual::GuidePage && Available().width() >= 840 && Available().height() >= 680)
        QCOMPARE(form.size(), QSize(800, 600));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    CheckWindowInside(&form);
    CheckControlsInside(&form, form.PageControl1->currentWidget());
}

void TestScreens::messageBoxInside()
{
    QRect box;
    QTimer::singleShot(0, [&box] {
        if (QWidget *w = QApplication::activeModalWidget()) {
            box = w->frameGeometry();
            w->close();
        }
    });
    Platform::MessageBox(QString("A long line of text that a message box shows in one piece. ").repeated(4),
                         "Information");
    QVERIFY(!box.isEmpty());
    QVERIFY2(Available().contains(box), qPrintable(QString("%1x%2").arg(box.width()).arg(box.height())));
}

void TestScreens::fitGeometry_data()
{
    QTest::addColumn<QRect>("wanted");
    QTest::addColumn<QList<QRect>>("areas"); // the primary screen's first
    QTest::addColumn<QRect>("fitted");
    const QRect small(0, 0, 640, 480), sxga(0, 0, 1280, 1024), full(0, 0, 1920, 1080);
    const QRect right(1920, 0, 1280, 1024), left(-1280, 0, 1280, 1024);
    QTest::newRow("fits as it is") << QRect(100, 100, 800, 600) << QList<QRect>{full} << QRect(100, 100, 800, 600);
    QTest::newRow("huge on 640x480") << QRect(0, 0, 30000, 20000) << QList<QRect>{small} << QRect(4, 30, 632, 446);
    QTest::newRow("near the corner of 1280x1024")
        << QRect(1225, 1028, 907, 669) << QList<QRect>{sxga} << QRect(369, 351, 907, 669);
    QTest::newRow("largest place") << QRect(QPoint(INT_MAX - 1000, INT_MAX - 1000), QSize(907, 669))
                                   << QList<QRect>{sxga} << QRect(369, 351, 907, 669);
    QTest::newRow("title bar above the screen") << QRect(100, -50, 800, 600) << QList<QRect>{full}
                                                << QRect(100, 30, 800, 600);
    QTest::newRow("second screen there") << QRect(2004, 130, 907, 669) << QList<QRect>{full, right}
                                         << QRect(2004, 130, 907, 669);
    QTest::newRow("second screen gone") << QRect(2004, 130, 907, 669) << QList<QRect>{full}
                                        << QRect(1009, 130, 907, 669);
    QTest::newRow("gone, larger than the primary") << QRect(2004, 130, 1800, 1000) << QList<QRect>{small}
                                                   << QRect(4, 30, 632, 446);
    QTest::newRow("mostly on the left screen") << QRect(-600, 200, 800, 600) << QList<QRect>{full, left}
                                               << QRect(-804, 200, 800, 600);
    QTest::newRow("smaller than the smallest") << QRect(10, 40, 100, 100) << QList<QRect>{full}
                                               << QRect(10, 40, 600, 440);
}

void TestScreens::fitGeometry()
{
    QFETCH(QRect, wanted);
    QFETCH(QList<QRect>, areas);
    QFETCH(QRect, fitted);
    const QMargins frame(4, 30, 4, 4);
    QCOMPARE(Platform::FitGeometry(wanted, areas, frame, QSize(600, 440)), fitted);
}

void TestScreens::keptGeometryFitted_data()
{
    QTest::addColumn<QRect>("kept");
    QTest::addColumn<bool>("maximised");
    QTest::newRow("30000x20000") << QRect(0, 0, 30000, 20000) << false;
    QTest::newRow("far away") << QRect(1000000, 1000000, 907, 669) << false;
    QTest::newRow("on a screen left of this one") << QRect(-2000, 100, 907, 669) << false;
    QTest::newRow("maximised, huge normal size") << QRect(0, 0, 30000, 20000) << true;
}

void TestScreens::keptGeometryFitted()
{
    QFETCH(QRect, kept);
    QFETCH(bool, maximised);
    TMessageCapture messages;
    TSettings settings(FFolder->Path("settings.ini"));
    {
        // What a window of that place and size kept.
        QWidget other;
        other.setGeometry(kept);
        if (maximised)
            other.setWindowState(Qt::WindowMaximized);
        settings.SetGeometry(other.saveGeometry());
    }
    TFormMain form(nullptr, {}, &settings);
    // Before it shows: its whole frame, title bar first, on this screen.
    QVERIFY(Available().contains(form.normalGeometry().marginsAdded(Platform::FrameMargins(&form))));
    QCOMPARE(form.isMaximized(), maximised);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    CheckWindowInside(&form);
}

void TestScreens::hugeWindowBounded()
{
    TMessageCapture messages;
    TFormMain form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QSize bound = Platform::PictureBound();
    QRect desktop;
    for (const QScreen *screen : QGuiApplication::screens())
        desktop |= screen->geometry();
    // The window stops at the screens' size, and so does its back buffer.
    form.resize(20000, 15000);
    QTRY_COMPARE(form.size(), desktop.size());
    form.mmWaveformClick();
    QTRY_VERIFY(form.TS_Waveform->isVisible());
    // Pages far larger than any screen still draw pictures no larger than the screens can show.
    form.PanelImage->resize(20000, 15000);
    form.PanelGauge->resize(20000, 15000);
    form.FGauge->ChangeSize(20000, 15000);
    for (const QImage &picture : {form.FGauge->Picture(), form.ImageChart->Picture()}) {
        QVERIFY(!picture.isNull());
        QVERIFY2(picture.width() <= bound.width() && picture.height() <= bound.height(),
                 qPrintable(QStringLiteral("%1x%2 in %3x%4")
                                .arg(picture.width()).arg(picture.height()).arg(bound.width()).arg(bound.height())));
    }
    // Still drawn: the chart's navy plot and the gauge's frame.
    QVERIFY(Count(form.ImageChart->Picture(), qRgb(0, 0, 128)) > 0);
    QVERIFY(Count(form.FGauge->Picture(), qRgb(0, 0, 0)) < form.FGauge->Picture().width() * form.FGauge->Picture().height());
    // Back to a size the screen holds: drawn at full size again.
    form.FGauge->ChangeSize(400, 300);
    QCOMPARE(form.FGauge->Picture().size(), QSize(400, 300) * form.FGauge->devicePixelRatioF());
}

QTEST_MAIN(TestScreens)
#include "tst_screens.moc"
