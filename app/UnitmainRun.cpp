// TFormMain: the Run and Acquire buttons and the arctangent test's shortcut. The cycles are the
// engine's; the window starts and stops them and shows their state on its buttons and menus.

#include "app/Unitmain.h"

#include "app/ToolBarImages.h"

#include <QAction>
#include <QMenu>
#include <QToolButton>

void TFormMain::TB_RunClick(QObject *Sender)
{
    Q_UNUSED(Sender);
    if (FEngine->Running()) {
        FEngine->StopRun();
        return;
    }
    // A click on the disabled button does nothing.
    if (FEngine->Acquiring())
        return;
    FEngine->StartRun();
}

void TFormMain::RunStart()
{
    SetImageIndex(TB_Run, ToolBarImage::Stop);
    TB_Run->setText(StopCaption);
    mmRunStop->setText(QString("&") + StopCaption);
    TB_Acquire->setEnabled(false);
    SetLoopControlsEnabled(false);
}

void TFormMain::RunStop()
{
    SetImageIndex(TB_Run, ToolBarImage::Run);
    TB_Run->setText(RunCaption);
    mmRunStop->setText(QString("&") + RunCaption);
    TB_Acquire->setEnabled(true);
    SetLoopControlsEnabled(true);
}

void TFormMain::SetLoopControlsEnabled(bool enabled)
{
    // A disabled menu takes its title in the menu bar and its items' shortcuts with it.
    mmCommand->setEnabled(enabled);
    mmComPort->setEnabled(enabled);
}

void TFormMain::TB_AcquireClick(QObject *Sender)
{
    Q_UNUSED(Sender);
    if (TB_Acquire->text() != QLatin1String(AcquireCaption))
        return; // a click while it waits
    if (!FEngine->StartAcquire())
        return; // the button is disabled while a Run goes on, or there is no port (said)
    TB_Acquire->setText(AcquireWaitCaption);
    TB_Run->setEnabled(false);
    SetLoopControlsEnabled(false);
}

void TFormMain::FinishAcquire(bool whole)
{
    DrawFrame();
    if (whole && !FClosed)
        RedrawWaveforms();
    TB_Acquire->setText(AcquireCaption);
    TB_Run->setEnabled(true);
    SetLoopControlsEnabled(true);
    emit AcquireEnded();
}

void TFormMain::mmTestATanClick(QObject *Sender)
{
    Q_UNUSED(Sender);
    FEngine->StartTest();
}
