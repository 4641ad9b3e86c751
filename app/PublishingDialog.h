#pragma once
// File > Publishing...: the broker, the instrument's name and the credentials file, as the
// command line gives them, and a test button that connects once and says what happened.

#include "app/Publisher.h"

#include <QDialog>
#include <QTemporaryDir>

class QLabel;
class QLineEdit;
class QPushButton;
class TMqttClient;

class TPublishingDialog : public QDialog {
    Q_OBJECT
public:
    // defaultInstrument: the name used when the field is left empty.
    TPublishingDialog(const TPublishOptions &options, const QString &defaultInstrument, QWidget *parent = nullptr);
    ~TPublishingDialog() override;

    TPublishOptions Options() const;
    // The choice, or why it cannot be taken (empty when it can).
    QString Check() const;

    // Takes the choice when Check() finds nothing wrong, else says what is.
    void accept() override;
    // Connects with the settings shown (a session of its own, so that the publishing going on
    // is not disturbed) and shows what happened in LabelTestResult.
    void BtnTestClick();

    QLineEdit *EditUrl = nullptr, *EditInstrument = nullptr, *EditCredentials = nullptr;
    QPushButton *BtnTest = nullptr;
    QLabel *LabelTestResult = nullptr;

private:
    void EndTest(const QString &text);

    QString FDefaultInstrument;
    TMqttClient *FTestClient = nullptr;
    QTemporaryDir FTestFolder;
};
