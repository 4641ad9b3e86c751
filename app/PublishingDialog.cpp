#include "app/PublishingDialog.h"

#include "publish/MqttClient.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TPublishingDialog::TPublishingDialog(const TPublishOptions &options, const QString &defaultInstrument, QWidget *parent)
    : QDialog(parent), FDefaultInstrument(defaultInstrument)
{
    setObjectName("PublishingDialog");
    setWindowTitle("Publishing");
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel("Every report goes to the MQTT broker as it is computed, on zarn/<instrument>/report. "
                             "While the broker cannot be reached the reports wait on disk. Leave the broker empty "
                             "to publish nothing.",
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto *form = new QFormLayout;
    EditUrl = new QLineEdit(options.Url, this);
    EditUrl->setObjectName("EditUrl");
    EditUrl->setPlaceholderText("mqtt://host:1883 or mqtts://host:8883");
    EditInstrument = new QLineEdit(options.Instrument, this);
    EditInstrument->setObjectName("EditInstrument");
    EditInstrument->setPlaceholderText(defaultInstrument);
    EditCredentials = new QLineEdit(options.CredentialsFile, this);
    EditCredentials->setObjectName("EditCredentials");
    EditCredentials->setPlaceholderText("none: no user name");
    EditCredentials->setToolTip("A file with the user name on its first line and the password on the second");
    form->addRow("&Broker:", EditUrl);
    form->addRow("&Instrument:", EditInstrument);
    form->addRow("&Credentials file:", EditCredentials);
    layout->addLayout(form);
    LabelTestResult = new QLabel(this);
    LabelTestResult->setObjectName("LabelTestResult");
    LabelTestResult->setWordWrap(true);
    LabelTestResult->setTextFormat(Qt::PlainText);
    layout->addWidget(LabelTestResult);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    BtnTest = buttons->addButton("&Test", QDialogButtonBox::ActionRole);
    BtnTest->setObjectName("BtnTest");
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &TPublishingDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TPublishingDialog::reject);
    connect(BtnTest, &QPushButton::clicked, this, &TPublishingDialog::BtnTestClick);
}

TPublishingDialog::~TPublishingDialog() = default;

TPublishOptions TPublishingDialog::Options() const
{
    TPublishOptions options;
    options.Url = EditUrl->text().trimmed();
    options.Instrument = EditInstrument->text().trimmed();
    options.CredentialsFile = EditCredentials->text().trimmed();
    return options;
}

QString TPublishingDialog::Check() const
{
    const TPublishOptions options = Options();
    QString error, address, hostPort, user, password;
    if (options.Url.isEmpty())
        return QString();
    if (!TMqttClient::ParseUrl(options.Url, address, hostPort, error))
        return error;
    if (!options.Instrument.isEmpty() && !Publishing::ValidInstrument(options.Instrument))
        return QStringLiteral("the instrument name may hold only letters, digits, '-' and '_' (at most %1)")
            .arg(Publishing::MaxInstrumentLength);
    if (!options.CredentialsFile.isEmpty() &&
        !Publishing::ReadCredentials(options.CredentialsFile, user, password, error))
        return error;
    return QString();
}

void TPublishingDialog::accept()
{
    const QString error = Check();
    if (!error.isEmpty()) {
        LabelTestResult->setText("Cannot publish so: " + error + '.');
        return;
    }
    QDialog::accept();
}

void TPublishingDialog::BtnTestClick()
{
    const TPublishOptions options = Options();
    QString error = options.Url.isEmpty() ? QStringLiteral("no broker is given") : Check();
    TMqttSettings settings;
    if (error.isEmpty() && !options.CredentialsFile.isEmpty())
        Publishing::ReadCredentials(options.CredentialsFile, settings.User, settings.Password, error);
    if (!error.isEmpty()) {
        LabelTestResult->setText("Cannot publish so: " + error + '.');
        return;
    }
    EndTest(QString());
    settings.Url = options.Url;
    settings.ClientId = QStringLiteral("zarnmonitor-test-%1").arg(QCoreApplication::applicationPid());
    settings.Folder = FTestFolder.path();
    auto *client = new TMqttClient(this);
    FTestClient = client;
    // What a test ended before reports is no news.
    connect(client, &TMqttClient::Connected, this, [this, client] {
        if (client == FTestClient)
            EndTest("Connected to " + client->HostPort() + ": the broker takes the reports.");
    });
    connect(client, &TMqttClient::Failed, this, [this, client](const QString &text) {
        if (client == FTestClient)
            EndTest("Cannot publish: " + text + '.');
    });
    if (!FTestClient->Start(settings, error)) {
        EndTest("Cannot publish so: " + error + '.');
        return;
    }
    BtnTest->setEnabled(false);
    LabelTestResult->setText("Connecting to " + FTestClient->HostPort() + " ...");
}

void TPublishingDialog::EndTest(const QString &text)
{
    if (FTestClient) {
        FTestClient->Finish(0);
        FTestClient->deleteLater();
        FTestClient = nullptr;
    }
    BtnTest->setEnabled(true);
    if (!text.isEmpty())
        LabelTestResult->setText(text);
}
