// TFormMain: the Commands menu and the communication log.

#include "app/Unitmain.h"

#include "platform/Platform.h"

#include <QAction>
#include <QTime>

void TFormMain::mmCommandClick(QObject *Sender)
{
    FEngine->Command(Tag(Sender));
}

void TFormMain::AppendComLog(const QByteArray &chunk)
{
    if (MemoComLog->Full())
        ClearComLog();
    const QString stamp = mmTimeStamps->isChecked()
                              ? QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) : QString();
    MemoComLog->AppendText(FComLogText.Format(chunk, stamp));
}

void TFormMain::mmSaveComLogClick()
{
    Platform::TFileDialogRequest request;
    request.Kind = Platform::TFileDialogKind::Save;
    request.Title = "Save communication log as file ...";
    request.Filter = "Text files (*.txt);;All files (*)";
    request.DefaultSuffix = "txt";
    request.InitialName = "ComLog.txt";
    request.Owner = this;
    const QString fileName = Platform::FileDialog(request);
    if (fileName.isEmpty())
        return;
    const QString error = SaveComLog(fileName, MemoComLog->toPlainText());
    if (!error.isEmpty())
        Platform::MessageBox(QString("Cannot save the communication log to %1: %2").arg(fileName, error),
                             "Save Communication Log", Platform::TMsgIcon::Warning);
}

void TFormMain::ClearComLog()
{
    // The text formatter's open line and pending break go with the text they belonged to.
    MemoComLog->clear();
    FComLogText.Reset();
}
