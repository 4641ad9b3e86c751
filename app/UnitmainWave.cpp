// TFormMain: waveform block reception, the sample list and the Waveform page.

#include "app/ComLogText.h"
#include "engine/Measurement.h"
#include "app/Pictures.h"
#include "app/Unitmain.h"
#include "app/WaveAxes.h"
#include "platform/ScreenFit.h"
#include "engine/WaveBlock.h"
#include "display/Cischart.h"
#include "display/Image.h"

#include <QToolTip>

namespace {

using Measurement::FixedText;
constexpr int CursorTipOffset = 8; // the tool tip's distance to the right of the cursor circle

static_assert(TFormMain::ChannelLength >= WaveBlock::MaxSamples, "a block must fit the channels");

// The fields as received, one line each: control bytes show by name, so a stray CR or LF in a
// field cannot split a line of the list.
QString VisibleLine(const QByteArray &fields)
{
    QString text;
    text.reserve(fields.size());
    for (char ch : fields)
        AppendVisibleByte(text, static_cast<unsigned char>(ch));
    return text;
}

} // namespace

void TFormMain::AppendDataLines(const QByteArrayList &lines)
{
    if (lines.isEmpty())
        return;
    // The lines were stored in the channels: there is a waveform to save now.
    FWaveformHeld = true;
    // Line by line, a full list is emptied before the next line; the lines that stay after the
    // last emptying are added at once, so a block costs one append however long the list is.
    qsizetype count = MemoData->LineCount();
    qsizetype first = 0;
    bool empty = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (count >= TMemo::LineLimit) {
            empty = true;
            first = i;
            count = 0;
        }
        ++count;
    }
    QString text;
    text.reserve((lines.size() - first) * (WaveBlock::MemoLineLength + 1));
    for (qsizetype i = first; i < lines.size(); ++i) {
        if (i > first)
            text += QLatin1Char('\n');
        text += VisibleLine(lines[i]);
    }
    if (empty)
        MemoData->clear();
    MemoData->appendPlainText(text);
}

void TFormMain::RebuildChartBitmap()
{
    // Once closed the window keeps no bitmap: one made by a late resize would never be freed.
    if (FClosed)
        return;
    FChartBitmap.reset();
    // A palette bitmap holding the colours of the display; a new one is black.
    static const QList<QRgb> Palette{clBlack, clWhite, clRed, clYellow, clCyan, clBlue,
                                     clNavy, clGray, clSilver, clOlive, clGreen};
    // No larger than the screens can show: beyond that the chart is cut off at its right and bottom.
    FChartBitmap = std::make_unique<QImage>(Platform::PictureSize(ImageChart->size(), 1.0), QImage::Format_Indexed8);
    FChartBitmap->setColorTable(Palette);
    FChartBitmap->fill(0);
    // The picture keeps its own image object, so the chart's canvas stays valid at the new size.
    ImageChart->AssignBitmap(*FChartBitmap);
}

void TFormMain::RedrawWaveforms()
{
    if (!FChart)
        return;
    Pictures::DrawWaveforms(*FChart, FEngine->Channel1(), FEngine->Channel2(), WaveFirst(), WaveCount());
    ImageChart->update();
    if (auto *panel = qobject_cast<TWavePanel *>(PanelImage)) {
        panel->SetChart(FChart, ImageChart);
        panel->SetFirstSample(WaveFirst());
        panel->update();
    }
}

void TFormMain::ImageChartMouseMove(int32_t x, int32_t y)
{
    if (!FChart)
        return;
    int32_t index = -1, value = 0;
    FChart->GetCursorValueAtXY(x, y, index, value);
    if (index < 0) {
        // Beside the plot: the cursor stays where it was, the values go.
        ImageChart->setToolTip(QString());
        QToolTip::hideText();
        return;
    }
    // The chart holds the shown stretch of channel 2; index counts from its first sample.
    const int sample = WaveFirst() + index;
    // The circle goes on the curve nearer the pointer: moved to channel 1 where that is nearer.
    const TChannel &channel1 = FEngine->Channel1(), &channel2 = FEngine->Channel2();
    const int32_t channel1Y = FChart->YOf(channel1[static_cast<size_t>(sample)]);
    if (qAbs(y - channel1Y) < qAbs(y - FChart->CursorY())) {
        FChart->SetData(WaveCount(), channel1.data() + WaveFirst());
        FChart->GetCursorValueAtXY(x, y, index, value);
        FChart->SetData(WaveCount(), channel2.data() + WaveFirst());
    }
    ImageChart->update();
    const QString text = QStringLiteral("Sample %1\nChannel 1: %2\nChannel 2: %3")
                             .arg(sample)
                             .arg(channel1[static_cast<size_t>(sample)])
                             .arg(channel2[static_cast<size_t>(sample)]);
    ImageChart->setToolTip(text);
    // Beside the circle, which sits at the sample's height rather than the pointer's, so the
    // tip never covers it.
    QToolTip::showText(ImageChart->mapToGlobal(QPoint(x + CursorTipOffset, FChart->CursorY())), text, ImageChart);
}
