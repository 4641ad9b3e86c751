#pragma once
// A row of the status bar that shows the line at a glance: the port, its device and settings (or
// that it is lost and waited for, in red, or back), and the link's health: what was sent and
// received in this Run, and in red what is going wrong over the last seconds. Fed by the engine's
// signals only.

#include "engine/LineState.h"
#include "engine/LinkHealth.h"

#include <QWidget>

class QBoxLayout;
class QLabel;
class TEngine;

class TLineStrip : public QWidget {
    Q_OBJECT
public:
    // noPort: the window's "No port open" label, which stands for the strip while there is no port;
    // ratePanel: the status panel of the Run's rate, whose tool tip gets the link's table.
    TLineStrip(TEngine *engine, QLabel *noPort, QLabel *ratePanel, QWidget *parent);

    void SetNoPortLabel(QLabel *noPort) { FNoPort = noPort; }
    void ShowLineState(const TLineState &state);
    void ShowLinkHealth(const TLinkFigures &figures);

    // The link's counts as a small table: this Run and since the start.
    static QString LinkTable(const TLinkFigures &figures);

    QSize sizeHint() const override;

    QLabel *LabelLine = nullptr;
    QLabel *LabelLink = nullptr;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // Side by side where both fit, else the link's counts on a row of their own.
    void Arrange();

    QBoxLayout *FLayout = nullptr;
    QLabel *FNoPort = nullptr;
    QLabel *FRatePanel = nullptr;
    QString FRateTip;
};
