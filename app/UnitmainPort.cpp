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
#include <QRegularExpression>
#include <QScrollBar>
#include <QShortcut>
#include <QSet>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>

#include <functional>

namespace {
constexpr int ReopenDelayMs = 200; // lets the old device settle before it is opened again
constexpr int PortNoteMs = 30000;  // how long a note on the port stays in the status bar

// The node a device path leads to, to know one device under two names; the path itself when it
// leads nowhere.
QString DeviceNode(const QString &path)
{
    const QString node = QFileInfo(path).canonicalFilePath();
    return node.isEmpty() ? path : node;
}

// Whether a COM name's device is there. An on-board UART's node stands in /dev whether or not
// there is hardware behind it: only the system's list counts for those. Any other device (a
// mapped adapter, a pseudo-terminal) is there when its path is.
bool DeviceExists(const TPortEnumerator *enumerator, const QString &device)
{
    static const QRegularExpression uart(QStringLiteral("^/dev/ttyS\\d+$"));
    if (enumerator && enumerator->Find(device))
        return true;
    return !uart.match(device).hasMatch() && QFileInfo::exists(device);
}

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
    // Esc on the page is Cancel (an open list closes first).
    auto *cancel = new QShortcut(QKeySequence(Qt::Key_Escape), TS_RS232);
    cancel->setContext(Qt::WidgetWithChildrenShortcut);
    cancel->setObjectName("ScComCancel");
    connect(cancel, &QShortcut::activated, this, [this] { BBtnComCancelClick(); });
}

void TFormMain::FillPortBox()
{
    TPortEnumerator *enumerator = FEngine->PortEnumerator();
    auto *model = qobject_cast<QStandardItemModel *>(CB_Port->model());
    auto *view = qobject_cast<QTreeView *>(CB_Port->view());
    // What the operator has chosen or typed stays, whether or not its device is still there.
    const QString text = CB_Port->currentText();
    const bool listed = CB_Port->currentIndex() >= PortCount;
    // Each device is listed once, under the first name that leads to it. The rows of COM names
    // and system devices stay in place (hidden where their device is missing or listed already),
    // so that a row number keeps naming the same port.
    QSet<QString> shown;
    const auto show = [&](int row, const QString &device, bool exists) {
        const QString node = DeviceNode(device);
        const bool visible = exists && !shown.contains(node);
        if (visible)
            shown.insert(node);
        // Disabled too: the arrow keys and the wheel pass over a hidden row.
        for (int column = 0; column < model->columnCount(); ++column)
            if (QStandardItem *item = model->item(row, column))
                item->setEnabled(visible);
        view->setRowHidden(row, QModelIndex(), !visible);
    };
    {
        const QSignalBlocker blocker(CB_Port);
        model->setRowCount(PortCount);
        for (int i = 0; i < PortCount; ++i) {
            const QString device = TComm::DeviceNameFor(TComm::PortName(i));
            model->item(i, 1)->setText(device);
            show(i, device, DeviceExists(enumerator, device));
        }
        const QList<TSystemPort> ports = enumerator ? enumerator->Ports() : QList<TSystemPort>();
        for (const TSystemPort &port : ports) {
            auto *path = new QStandardItem(port.Path);
            auto *device = new QStandardItem(DeviceText(port));
            path->setToolTip(port.StableName);
            device->setEditable(false);
            model->appendRow({path, device});
            show(model->rowCount() - 1, port.Path, true);
        }
        // The devices the operator typed before, while they are there.
        const QStringList typed = FSettings ? FSettings->TypedDevices() : QStringList();
        for (const QString &path : typed) {
            if (!QFileInfo::exists(path) || shown.contains(DeviceNode(path)))
                continue;
            auto *device = new QStandardItem(QStringLiteral("typed before"));
            device->setEditable(false);
            model->appendRow({new QStandardItem(path), device});
            show(model->rowCount() - 1, path, true);
        }
        const int row = CB_Port->findText(text);
        if (listed && row >= 0)
            CB_Port->setCurrentIndex(row);
        else
            CB_Port->setEditText(text);
    }
    view->resizeColumnToContents(0);
    view->resizeColumnToContents(1);
    view->setMinimumWidth(view->columnWidth(0) + view->columnWidth(1) + view->verticalScrollBar()->sizeHint().width() +
                          2 * view->frameWidth());
}

QStringList TFormMain::ListedPorts() const
{
    QStringList texts;
    const auto *view = qobject_cast<const QTreeView *>(CB_Port->view());
    for (int row = 0; row < CB_Port->count(); ++row)
        if (!view->isRowHidden(row, QModelIndex()))
            texts << CB_Port->itemText(row);
    return texts;
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
        // A mapped device or a pseudo-terminal may have come or gone since: no watcher says so.
        FillPortBox();
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
        // The keys go to the box: Ctrl+A, Ctrl+V edit the port, they send no command.
        CB_Port->setFocus(Qt::OtherFocusReason);
        CB_Port->lineEdit()->selectAll();
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
        if (FSettings) {
            FSettings->SetPort(FEngine->PortChoice());
            // A path the system does not list (a pseudo-terminal) is offered again next time.
            TPortEnumerator *enumerator = FEngine->PortEnumerator();
            if (!device.isEmpty() && !(enumerator && enumerator->Find(device))) {
                FSettings->AddTypedDevice(device);
                FillPortBox();
            }
        }
        mmComPortClick();
    }
}

void TFormMain::BBtnComCancelClick()
{
    mmComPortClick();
}
