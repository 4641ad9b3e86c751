// The window's memory when it is given a size no screen has: the process's resident memory with
// the window shown at its opening size, then after a resize to 20000 x 15000 on each picture
// page, and after the gauge itself is given that size; with the time each resize took and the
// sizes the window and its pictures ended at. Run under QT_QPA_PLATFORM=offscreen (with a
// configfile= for other screens). Prints figures only.

#include "app/Unitmain.h"
#include "display/Cgauge.h"
#include "display/Image.h"
#include "tests/common/MemoryWindow.h"

#include "ProcessMemory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QTabWidget>

#include <cstdio>

namespace {

constexpr int HugeWidth = 20000, HugeHeight = 15000;

void Settle()
{
    // Long enough for the frame clock and the back buffer's repaint.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

void Report(const char *what, TFormMain &form, qint64 ms)
{
    const QImage &gauge = form.FGauge->Picture();
    const QImage &chart = form.ImageChart->Picture();
    std::printf("%-34s RSS %7.1f MB  peak %7.1f MB  %5lld ms  window %dx%d  gauge picture %dx%d  chart picture %dx%d\n",
                what, StatusMB("VmRSS:"), StatusMB("VmHWM:"), static_cast<long long>(ms), form.width(), form.height(),
                gauge.width(), gauge.height(), chart.width(), chart.height());
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QScreen *screen = QGuiApplication::primaryScreen();
    std::printf("screen %dx%d at pixel ratio %.1f\n", screen->geometry().width(), screen->geometry().height(),
                screen->devicePixelRatio());
    TMemoryWindow window;
    TFormMain &form = *window.Form;
    form.show();
    Settle();
    Report("shown at its opening size", form, 0);

    QElapsedTimer clock;
    for (QWidget *page : {form.TS_Main, form.TS_Waveform}) {
        form.resize(907, 669);
        form.PageControl1->setCurrentWidget(page);
        Settle();
        clock.start();
        form.resize(HugeWidth, HugeHeight);
        Settle();
        const QByteArray what = "window 20000x15000, " + page->objectName().toLatin1();
        Report(what.constData(), form, clock.elapsed() - 300);
    }
    form.PageControl1->setCurrentWidget(form.TS_Main);
    clock.start();
    form.FGauge->ChangeSize(HugeWidth, HugeHeight);
    form.FGauge->UpdateDisplay();
    Report("gauge itself 20000x15000", form, clock.elapsed());
    form.PageControl1->setCurrentWidget(form.TS_Waveform);
    clock.start();
    form.PanelImage->resize(HugeWidth, HugeHeight);
    Report("chart panel itself 20000x15000", form, clock.elapsed());
    return 0;
}
