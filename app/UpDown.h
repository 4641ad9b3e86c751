#pragma once
// A pair of arrow buttons that steps a position within a range, wrapping at both ends.
// Changing(newPosition) is raised before each step takes effect.

#include <QWidget>

class QToolButton;

class TUpDown : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(QWidget *parent = nullptr);

    int Min() const { return FMin; }
    int Max() const { return FMax; }
    int Position() const { return FPosition; }
    bool Wrap() const { return FWrap; }
    void SetRange(int min, int max);
    void SetPosition(int position);
    void SetWrap(bool wrap) { FWrap = wrap; }

    void StepUp() { Step(+1); }
    void StepDown() { Step(-1); }

    QToolButton *UpButton() const { return FUp; }
    QToolButton *DownButton() const { return FDown; }

signals:
    void Changing(int newPosition);

private:
    void Step(int delta);

    QToolButton *FUp = nullptr;
    QToolButton *FDown = nullptr;
    int FMin = 0;
    int FMax = 100;
    int FPosition = 0;
    bool FWrap = false;
};
