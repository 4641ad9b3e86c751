// TFormMain: COM port setup and connection.

#include "app/Unitmain.h"
#include "app/UpDown.h"
#include "platform/Platform.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>

namespace {
constexpr int ReopenDelayMs = 200; // lets the old device settle before it is opened again
} // namespace

TComm *TFormMain::OpenPort(int index)
{
    auto *comm = new TComm(nullptr, FDeviceFactory);
    comm->SetCommPort(static_cast<TComPortNumber>(index));
    comm->SetBaudRate(115200);
    comm->SetDataBits(DB8);
    comm->SetParity(TParity::None);
    comm->SetStopBits(SB1);
    comm->SetSwHandShaking(shNone);
    comm->SetHwHandShaking(hhNone);
    comm->SetRThreshold(1);
    comm->SetPortOpen(true);

    const QString name = TComm::PortName(index);
    if (comm->PortOpen()) {
        Platform::MessageBox("Open " + name + " !", "Information");
        FComm = comm;
        FComm->OnReceiveData.Bind(this, &TFormMain::CommReceiveData);
        FComm->OnReceiveError.Bind(this, &TFormMain::CommReceiveError);
        FPortIndex = index;
        return comm;
    }
    Platform::MessageBox("Cannot open " + name + " !\n" + "\n\n Please try another COM port!\n", "Information");
    delete comm;
    FComm = nullptr;
    return nullptr;
}

void TFormMain::ClosePort()
{
    if (!FComm)
        return;
    TComm *comm = FComm;
    FComm = nullptr;
    // Replies asked of this line will not come on the next one.
    FRepliesAwaited = 0;
    comm->OnReceiveData.Clear();
    comm->OnReceiveError.Clear();
    comm->SetPortOpen(false);
    // A Run or acquisition talking through it ends.
    LoopPortClosed();
    // The port may be closed from inside one of the component's own calls (its receive or error
    // event, or a click handled during its poll step), so it is freed once those have returned.
    FClosedComms.removeAll(nullptr);
    FClosedComms.append(comm);
    comm->deleteLater();
}

void TFormMain::CommReceiveError(QObject *Sender, uint32_t EventMask)
{
    if (!(EventMask & CE_DEVICEGONE) || Sender != FComm)
        return;
    const QString text =
        TComm::PortName(FPortIndex) + " has been disconnected !\n\n Please check the line and open the port again.";
    ClosePort();
    TellWhenIdle(text);
}

void TFormMain::mmComPortClick()
{
    mmComPort->setChecked(!mmComPort->isChecked());
    ShowComPortPage();
}

void TFormMain::ShowComPortPage()
{
    if (mmComPort->isChecked()) {
        CB_Port->setCurrentIndex(FPortIndex);
        UD_ComPort->SetPosition(FPortIndex);
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
        FPortIndex = index;
        mmComPortClick();
    }
}

void TFormMain::BBtnComCancelClick()
{
    mmComPortClick();
}
