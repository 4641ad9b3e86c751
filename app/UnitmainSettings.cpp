// TFormMain: what is kept between runs, and the folder the logs go to.

#include "app/CommandLine.h"
#include "app/Settings.h"
#include "app/Unitmain.h"
#include "logger/Cdatalogger.h"
#include "platform/Platform.h"
#include "platform/ScreenFit.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QTabWidget>

void TFormMain::OpenStartPort()
{
    if (!FSettings || FSettings->PortFromCommandLine || FSettings->Port().isEmpty()) {
        FEngine->OpenPort(0);
        return;
    }
    // A COM name or a device path; a COM name stands for the device it maps to now.
    const QString kept = FSettings->Port();
    int index = 0;
    QString device;
    const bool known = TEngine::ParsePortChoice(kept, index, device);
    if (known && device.isEmpty() && index == 0) {
        FEngine->OpenPort(0); // COM1 is what would be opened instead: it says for itself how it went
        return;
    }
    if (known && device.isEmpty())
        device = TComm::DeviceNameFor(kept);
    // Kept all the same when it cannot be opened: the adapter may be back next time. Said once;
    // the program goes on with COM1 rather than with no port.
    QString why;
    if (!known || !QFileInfo::exists(device)) {
        why = "is not there any more.";
    } else if (FEngine->OpenPortChoice(kept, false)) {
        return;
    } else {
        const TEngine::TOpenFailure &failure = FEngine->OpenFailure();
        why = failure.NotSerial ? QStringLiteral("is not a serial device.")
                                : "cannot be opened: " + failure.Error;
    }
    Platform::MessageBox(QString("%1%2, the port of the last session, %3\n%4 is opened instead.")
                             .arg(kept, device.isEmpty() || device == kept ? QString() : " (" + device + ")", why,
                                  TComm::PortName(0)),
                         "Information");
    FEngine->OpenPort(0);
}

void TFormMain::RestoreSettings()
{
    QString folder;
    if (FSettings) {
        for (QAction *item : KeptSwitches())
            item->setChecked(FSettings->Option(item->objectName(), item->isChecked()));
        const QByteArray geometry = FSettings->Geometry();
        // Kept on other screens, or edited by hand: fitted onto the screens there are now, the
        // whole title bar on one of them.
        if (!geometry.isEmpty() && restoreGeometry(geometry))
            Platform::FitRestoredGeometry(this);

        folder = FSettings->LogFolder();
        if (!folder.isEmpty() && !QFileInfo(folder).isDir()) {
            // Kept all the same: a disk that is not mounted now may be next time.
            const QString instead = FSettings->DefaultLogFolder.isEmpty() ? QDir::currentPath()
                                                                          : FSettings->DefaultLogFolder;
            Platform::MessageBox(QString("The log folder of the last session, %1, is not there any more.\n"
                                         "The logs go to %2 instead.")
                                     .arg(QDir::toNativeSeparators(folder), QDir::toNativeSeparators(instead)),
                                 "Information");
            folder.clear();
        }
        if (folder.isEmpty() && !FSettings->DefaultLogFolder.isEmpty()) {
            folder = FSettings->DefaultLogFolder;
            QDir().mkpath(folder); // a folder that cannot be made shows at the first write
        }
    }
    if (FSettings) {
        TEngineOptions options = FEngine->Options();
        options.StatisticsWindow = FSettings->StatisticsWindow();
        FEngine->SetOptions(options);
    }
    CopyOptions();
    if (!folder.isEmpty())
        FEngine->SetLogFolder(folder);
    ShowLogFiles();
}

void TFormMain::RestorePage()
{
    if (!FSettings)
        return;
    const QString page = FSettings->Page();
    if (page == TS_RS232->objectName()) {
        mmComPort->setChecked(true);
        ShowComPortPage();
        return;
    }
    for (QWidget *shown : {TS_Waveform, TS_Log})
        if (page == shown->objectName())
            PageControl1->setCurrentWidget(shown);
}

QList<QAction *> TFormMain::OptionSwitches() const
{
    return {mmApplyFilter, mmSavePhaseData, mmSaveTOFData, mmSaveMeasurements, mmSaveStatistics};
}

QList<QAction *> TFormMain::KeptSwitches() const
{
    return OptionSwitches() << mmTimeStamps;
}

void TFormMain::KeepOptions()
{
    if (!FSettings)
        return;
    for (QAction *item : KeptSwitches())
        FSettings->SetOption(item->objectName(), item->isChecked());
}

void TFormMain::SaveWindowSettings()
{
    if (!FSettings)
        return;
    // A window closed before it showed (a stop signal while a box of the start was open) keeps
    // the place it would have opened at, fitted to the screens, and the page kept before: it
    // has shown none of its own.
    FSettings->SetGeometry(saveGeometry());
    if (FShown)
        FSettings->SetPage(PageControl1->currentWidget()->objectName());
    FSettings->Sync();
}

void TFormMain::mmLogFolderClick()
{
    const QList<TDataLogger *> loggers = FEngine->Loggers();
    if (loggers.isEmpty())
        return;
    const QString current = QFileInfo(TEngine::LogPath(loggers.first())).absolutePath();
    Platform::TFileDialogRequest request;
    request.Kind = Platform::TFileDialogKind::Folder;
    request.Title = "Choose the folder for the logs";
    request.InitialName = current;
    request.Owner = this;
    const QString chosen = Platform::FileDialog(request);
    if (chosen.isEmpty())
        return;
    QString error;
    if (!CommandLine::CanWriteIn(chosen, error)) {
        Platform::MessageBox(QString("The logs cannot be written there: %1.\nThey go on in %2.")
                                 .arg(error, QDir::toNativeSeparators(current)),
                             "Information", Platform::TMsgIcon::Warning);
        return;
    }
    const QString folder = QDir(chosen).absolutePath();
    FEngine->SetLogFolder(folder);
    if (FSettings)
        FSettings->SetLogFolder(folder);
    ShowLogFiles();
}

void TFormMain::ShowLogFiles()
{
    QStringList names, paths;
    for (const TDataLogger *logger : FEngine->Loggers()) {
        paths << TEngine::LogPath(logger);
        names << QFileInfo(logger->FileName()).fileName();
    }
    if (paths.isEmpty())
        return;
    // The folder gives way in its middle where the label is too narrow for it: the files' names
    // stay whole, and the pointer shows every whole path.
    const QString folder = QDir::toNativeSeparators(QFileInfo(paths.first()).absolutePath());
    const QString text = QString("Logs in %1: %2").arg(folder, names.join(", "));
    const QFontMetrics metrics = LabelLogFiles->fontMetrics();
    const int room = LabelLogFiles->contentsRect().width() - metrics.horizontalAdvance(text) +
                     metrics.horizontalAdvance(folder);
    LabelLogFiles->setText(QString(text).replace(folder, metrics.elidedText(folder, Qt::ElideMiddle, qMax(0, room))));
    LabelLogFiles->setToolTip(paths.join('\n'));
}
