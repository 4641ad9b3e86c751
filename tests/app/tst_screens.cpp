// The windows on the screen the test runs on (its size and scale are set by the test's
// environment): every window opens inside the area windows may use, and every control of every
// page lies inside its window at the opening size, at the smallest size and maximised.

#include "app/Unitmain.h"
#include "display/Cgauge.h"
#include "guide/Unitmanual.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/WorkingFolder.h"

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

QTEST_MAIN(TestScreens)
#include "tst_screens.moc"
