// The main window's publishing: File > Publishing..., the broker's state under the panels, and
// the broker's few seconds at the end.

#include "app/PublishingDialog.h"
#include "app/Publisher.h"
#include "app/Settings.h"
#include "app/Unitmain.h"
#include "platform/Platform.h"
#include "publish/MqttClient.h"

#include <QLabel>
#include <QTimer>

namespace {
// The count of waiting reports and the device are looked at this often.
constexpr int PublishStateMs = 1000;
} // namespace

void TFormMain::SetupPublishing()
{
    FPublisher = new TPublisher(FEngine, this);
    connect(FPublisher, &TPublisher::StateChanged, this, &TFormMain::ShowPublishState);
    // A failure shows in the line under the panels; a queue about to drop its oldest is worth a box.
    connect(FPublisher, &TPublisher::Notice, this, [this](const QString &text) {
        if (text.contains("the oldest are dropped"))
            Platform::MessageBox(text, "Information", Platform::TMsgIcon::Warning);
        ShowPublishState();
    });
    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] {
        if (FPublisher->Active())
            FPublisher->SetDevice(PublishDevice());
        ShowPublishState();
    });
    timer->start(PublishStateMs);
    if (FSettings)
        StartPublishing(FSettings->PublishingFromCommandLine ? FSettings->CommandLinePublishing : FSettings->Publishing());
}

QString TFormMain::PublishDevice() const
{
    return FEngine->PortDevice().isEmpty() ? TComm::DeviceNameFor(TComm::PortName(FEngine->PortIndex()))
                                           : FEngine->PortDevice();
}

void TFormMain::StartPublishing(const TPublishOptions &options)
{
    FPublisher->Finish(0); // what waits stays on disk for the new start (or the same broker again)
    QString error;
    if (!options.Url.isEmpty() && !FPublisher->Start(options, PublishDevice(), error))
        Platform::MessageBox("The reports cannot be published: " + error + '.', "Information", Platform::TMsgIcon::Warning);
    ShowPublishState();
}

void TFormMain::ShowPublishState()
{
    if (!LabelMqtt || !FPublisher)
        return;
    const QString text = FPublisher->StatusText();
    const QString error = FPublisher->Active() && !FPublisher->Client()->IsConnected() ? FPublisher->Client()->LastError() : QString();
    LabelMqtt->setText(error.isEmpty() ? text : text + " (" + error + ')');
    LabelMqtt->setVisible(!text.isEmpty());
}

void TFormMain::mmPublishingClick()
{
    if (PublishingDialog) {
        PublishingDialog->raise();
        return;
    }
    TPublishOptions current = FSettings ? FSettings->Publishing() : TPublishOptions();
    if (FSettings && FSettings->PublishingFromCommandLine)
        current = FSettings->CommandLinePublishing;
    auto *dialog = new TPublishingDialog(current, Publishing::DefaultInstrument(PublishDevice()), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    PublishingDialog = dialog;
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const TPublishOptions chosen = dialog->Options();
        if (FSettings) {
            FSettings->SetPublishing(chosen);
            FSettings->PublishingFromCommandLine = false;
        }
        StartPublishing(chosen);
    });
    dialog->open();
}

void TFormMain::FinishPublishing()
{
    if (FPublisher)
        FPublisher->Finish();
    ShowPublishState();
}
