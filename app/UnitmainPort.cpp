// TFormMain: COM port setup and connection.

#include "app/Settings.h"
#include "app/Unitmain.h"
#include "app/UpDown.h"
#include "platform/Platform.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>

namespace {
constexpr int ReopenDelayMs = 200; // lets the old device settle before it is opened again
} // namespace

TComm *TFormMain::OpenPort(int index)
{
    return FEngine->OpenPort(index);
}

void TFormMain::ClosePort()
{
    FEngine->ClosePort();
}

void TFormMain::PortLost(const QString &text)
{
    // Shown once the component's poll step has returned: no box runs inside it.
    QTimer::singleShot(0, this, [this, text] {
        if (!FClosed)
            Platform::MessageBox(text, "Information");
    });
}

void TFormMain::mmComPortClick()
{
    mmComPort->setChecked(!mmComPort->isChecked());
    ShowComPortPage();
}

void TFormMain::ShowComPortPage()
{
    if (mmComPort->isChecked()) {
        CB_Port->setCurrentIndex(FEngine->FPortIndex);
        UD_ComPort->SetPosition(FEngine->FPortIndex);
        PageControl1->setCurrentWidget(TS_RS232);
    } else {
        PageControl1->setCurrentWidget(TS_Main);
    }
}

void TFormMain::UD_ComPortChanging(int newPosition)
{
    CB_Port->setCurrentIndex(newPosition);
}

void TFormMain::BBtnComOKClick()
{
    // An edit-style box: a typed name ("com3", "COM3 ") counts when it names one of the ports.
    const int index = CB_Port->findText(CB_Port->currentText().trimmed(), Qt::MatchFixedString);
    if (index < 0 || index >= PortCount) {
        // Nothing sensible to open: the port in use stays as it is.
        Platform::MessageBox(QString("Please select a COM port (%1 to %2) !")
                                 .arg(TComm::PortName(0), TComm::PortName(PortCount - 1)),
                             "Information");
        return;
    }
    ClosePort();
    Platform::Sleep(ReopenDelayMs);
    if (OpenPort(index)) {
        if (FSettings)
            FSettings->SetPort(TComm::PortName(index));
        mmComPortClick();
    }
}

void TFormMain::BBtnComCancelClick()
{
    mmComPortClick();
}
