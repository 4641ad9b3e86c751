// TFormMain: COM port setup and connection.

#include "app/Settings.h"
#include "app/Unitmain.h"
#include "app/UpDown.h"
#include "platform/Platform.h"

#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>

#include <functional>

namespace {
constexpr int ReopenDelayMs = 200; // lets the old device settle before it is opened again
constexpr int PortNoteMs = 30000;  // how long a note on the port stays in the status bar

// The second column of a row: what the device behind the entry is.
QString DeviceText(const TSystemPort &port)
{
    QStringList parts;
    if (!port.Description.isEmpty())
        parts << port.Description;
    if (!port.StableName.isEmpty())
        parts << QFileInfo(port.StableName).fileName();
    return parts.join("  ");
}

// Takes Enter in a line edit, once. Left to the line edit, an Enter it does not accept goes on to
// the combo box, which hands it back to the line edit: returnPressed would come twice, and a
// failed open be tried and told twice.
class TEnterFilter : public QObject {
public:
    TEnterFilter(QObject *parent, std::function<void()> onEnter) : QObject(parent), FOnEnter(std::move(onEnter)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                FOnEnter();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> FOnEnter;
};
} // namespace

TComm *TFormMain::OpenPort(int index)
{
    return FEngine->OpenPort(index);
}

void TFormMain::ClosePort()
{
    FEngine->ClosePort();
}

// The Port box lists COM1 to COM8 with the device each one maps to beside it, then the serial
// devices the system has now; its popup shows both columns.
void TFormMain::SetupPortBox()
{
    auto *model = qobject_cast<QStandardItemModel *>(CB_Port->model());
    model->setColumnCount(2);
    for (int i = 0; i < PortCount; ++i) {
        auto *device = new QStandardItem(TComm::DeviceNameFor(TComm::PortName(i)));
        device->setEditable(false);
        model->setItem(i, 1, device);
    }
    auto *view = new QTreeView;
    view->setHeaderHidden(true);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    CB_Port->setView(view);
    // Enter in the box chooses what was typed, as OK does.
    CB_Port->lineEdit()->installEventFilter(new TEnterFilter(CB_Port->lineEdit(), [this] {
        if (PageControl1->currentWidget() == TS_RS232)
            BBtnComOKClick();
    }));
    // A typed COM name moves the up-down with it; a device path longer than the box shows whole
    // in its tool tip.
    connect(CB_Port, &QComboBox::editTextChanged, this, [this](const QString &text) {
        CB_Port->setToolTip(text.startsWith('/') ? text : QString());
        int index = -1;
        QString device;
        if (TEngine::ParsePortChoice(text, index, device) && device.isEmpty())
            UD_ComPort->SetPosition(index);
    });
    if (TPortEnumerator *enumerator = FEngine->PortEnumerator())
        connect(enumerator, &TPortEnumerator::Changed, this, &TFormMain::FillPortBox);
    FillPortBox();
}

void TFormMain::FillPortBox()
{
    TPortEnumerator *enumerator = FEngine->PortEnumerator();
    if (!enumerator)
        return;
    auto *model = qobject_cast<QStandardItemModel *>(CB_Port->model());
    // What the operator has chosen or typed stays, whether or not its device is still there.
    const QString text = CB_Port->currentText();
    const bool listed = CB_Port->currentIndex() >= PortCount;
    {
        const QSignalBlocker blocker(CB_Port);
        model->setRowCount(PortCount);
        for (const TSystemPort &port : enumerator->Ports()) {
            auto *path = new QStandardItem(port.Path);
            auto *device = new QStandardItem(DeviceText(port));
            path->setToolTip(port.StableName);
            device->setEditable(false);
            model->appendRow({path, device});
        }
        const int row = CB_Port->findText(text);
        if (listed && row >= 0)
            CB_Port->setCurrentIndex(row);
        else
            CB_Port->setEditText(text);
    }
    auto *view = qobject_cast<QTreeView *>(CB_Port->view());
    view->resizeColumnToContents(0);
    view->resizeColumnToContents(1);
    view->setMinimumWidth(view->columnWidth(0) + view->columnWidth(1) + view->verticalScrollBar()->sizeHint().width() +
                          2 * view->frameWidth());
}

void TFormMain::ShowPortNote(const QString &text)
{
    LabelPortNote->setText(text);
    LabelPortNote->setVisible(true);
    FPortNoteTimer->start(PortNoteMs);
}

void TFormMain::ShowPortState()
{
    LabelNoPort->setVisible(!FEngine->PortOpen());
}

void TFormMain::mmComPortClick()
{
    mmComPort->setChecked(!mmComPort->isChecked());
    ShowComPortPage();
}

void TFormMain::ShowComPortPage()
{
    if (mmComPort->isChecked()) {
        if (TPortEnumerator *enumerator = FEngine->PortEnumerator())
            enumerator->Refresh();
        UD_ComPort->SetPosition(FEngine->PortIndex());
        const QString device = FEngine->PortDevice();
        if (device.isEmpty()) {
            CB_Port->setCurrentIndex(FEngine->PortIndex());
        } else {
            const int row = CB_Port->findText(device);
            if (row >= 0)
                CB_Port->setCurrentIndex(row);
            else
                CB_Port->setEditText(device);
        }
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
    // An edit-style box: a typed name ("com3", "COM3 ") or a device path counts.
    const QString choice = CB_Port->currentText().trimmed();
    int index = 0;
    QString device;
    if (!TEngine::ParsePortChoice(choice, index, device)) {
        // Nothing sensible to open: the port in use stays as it is.
        Platform::MessageBox(QString("Please select a COM port (%1 to %2) or type the path of a serial device !")
                                 .arg(TComm::PortName(0), TComm::PortName(PortCount - 1)),
                             "Information");
        return;
    }
    // A choice that cannot be opened leaves the port that was in use open again.
    if (FEngine->ChangePort(choice, ReopenDelayMs)) {
        if (FSettings)
            FSettings->SetPort(FEngine->PortChoice());
        mmComPortClick();
    }
}

void TFormMain::BBtnComCancelClick()
{
    mmComPortClick();
}
