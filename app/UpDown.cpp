#include "app/UpDown.h"

#include <QToolButton>
#include <QVBoxLayout>

TUpDown::TUpDown(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    FUp = new QToolButton(this);
    FUp->setObjectName("Up");
    FUp->setArrowType(Qt::UpArrow);
    FUp->setAccessibleName(tr("Next port"));
    FDown = new QToolButton(this);
    FDown->setObjectName("Down");
    FDown->setArrowType(Qt::DownArrow);
    FDown->setAccessibleName(tr("Previous port"));
    for (QToolButton *b : {FUp, FDown}) {
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        b->setCursor(Qt::PointingHandCursor);
        // The arrow keys are not used: only clicks step the position.
        b->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(b);
    }
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    connect(FUp, &QToolButton::clicked, this, [this] { StepUp(); });
    connect(FDown, &QToolButton::clicked, this, [this] { StepDown(); });
}

void TUpDown::SetRange(int min, int max)
{
    FMin = min;
    FMax = max < min ? min : max;
    SetPosition(FPosition);
}

void TUpDown::SetPosition(int position)
{
    FPosition = qBound(FMin, position, FMax);
}

void TUpDown::Step(int delta)
{
    int next = FPosition + delta;
    if (next > FMax)
        next = FWrap ? FMin : FMax;
    else if (next < FMin)
        next = FWrap ? FMax : FMin;
    if (next == FPosition)
        return;
    FPosition = next;
    emit Changing(next);
}
