#pragma once
// TWavePanel: the frame around the waveform chart. In its margin it names what the chart shows:
// the sample numbers under the plot, the values beside it, and which curve is which channel. The
// chart's own picture stays as it is drawn.

#include <QFrame>

class TCISChart;

class TWavePanel : public QFrame {
    Q_OBJECT
public:
    // Channel 1 carries what the instrument sends, channel 2 what it receives.
    static constexpr char Channel1Name[] = "Tx";
    static constexpr char Channel2Name[] = "Rx";
    explicit TWavePanel(QWidget *parent = nullptr) : QFrame(parent) {}
    // The chart and its picture's widget; firstSample: the channel's index of the chart's first.
    void SetChart(const TCISChart *chart, const QWidget *image) { FChart = chart, FImage = image; }
    void SetFirstSample(int first) { FFirstSample = first; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    const TCISChart *FChart = nullptr;
    const QWidget *FImage = nullptr;
    int FFirstSample = 0;
};
