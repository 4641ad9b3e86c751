#include "app/WaveAxes.h"

#include "display/Cischart.h"
#include "display/StatisticsPlots.h"

#include <QPainter>

namespace {
constexpr int LegendLine = 14;
const int TickValues[] = {0, 1024, 2048, 3072};
} // namespace

void TWavePanel::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (!FChart || !FImage || FChart->Count() < 1)
        return;
    QPainter painter(this);
    QFont small = font();
    small.setPixelSize(qMax(8, qMin(12, FImage->y() - 6)));
    painter.setFont(small);
    const QFontMetrics metrics(small);
    const QColor text = palette().windowText().color();
    const int left = FImage->x(), top = FImage->y();
    const int bottom = FImage->geometry().bottom();

    // Sample numbers under the plot, far enough apart to read.
    const int count = FChart->Count();
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("0000")) + 16;
    const int step = qMax(1, int(StatisticsPlots::NiceStep(count, qMax(1, FChart->PlotWidth() / labelWidth))));
    painter.setPen(text);
    const QString sampleTitle = tr("sample number");
    const int titleLeft = width() - 4 - metrics.horizontalAdvance(sampleTitle);
    for (int i = ((FFirstSample + step - 1) / step) * step - FFirstSample; i < count; i += step) {
        const int x = left + FChart->XOf(i);
        if (x + metrics.horizontalAdvance(QString::number(FFirstSample + i)) / 2 + 4 > titleLeft)
            break;
        painter.drawLine(x, bottom + 1, x, bottom + 3);
        painter.drawText(QRect(x - 30, bottom + 2, 60, metrics.height()), Qt::AlignHCenter | Qt::AlignTop,
                         QString::number(FFirstSample + i));
    }
    painter.drawText(QRect(0, bottom + 2, width() - 4, metrics.height()), Qt::AlignRight | Qt::AlignTop, sampleTitle);

    // Values beside it, turned so that they fit the margin.
    for (int value : TickValues) {
        const int y = top + FChart->YOf(value);
        painter.drawLine(left - 3, y, left - 1, y);
        painter.save();
        painter.translate(left - 4, y);
        painter.rotate(-90);
        painter.drawText(QRect(-30, -metrics.height(), 60, metrics.height()), Qt::AlignHCenter | Qt::AlignBottom,
                         QString::number(value));
        painter.restore();
    }
    painter.drawText(QRect(2, 0, width() / 2, top), Qt::AlignLeft | Qt::AlignVCenter, tr("value (12-bit)"));

    // The legend, above the plot's right end, in the curves' own colours on the chart's ground.
    const QString names[] = {tr("%1 (channel 1)").arg(QLatin1String(Channel1Name)),
                             tr("%1 (channel 2)").arg(QLatin1String(Channel2Name))};
    const QColor colours[] = {QColor(255, 0, 0), QColor(255, 255, 0)};
    int x = FImage->geometry().right();
    for (int k = 1; k >= 0; --k) {
        const int w = LegendLine + 4 + metrics.horizontalAdvance(names[k]) + 6;
        x -= w;
        const QRect box(x, qMax(0, top - metrics.height() - 4), w, metrics.height() + 2);
        painter.fillRect(box, QColor(0, 0, 128));
        painter.setPen(QPen(colours[k], 2));
        painter.drawLine(box.left() + 3, box.center().y(), box.left() + 3 + LegendLine, box.center().y());
        painter.setPen(colours[k]);
        painter.drawText(box.adjusted(LegendLine + 6, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, names[k]);
        x -= 4;
    }
}
