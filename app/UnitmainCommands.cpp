// TFormMain: the Commands menu and the communication log.

#include "app/Unitmain.h"

#include <QAction>

void TFormMain::mmCommandClick(QObject *Sender)
{
    FEngine->Command(Tag(Sender));
}

void TFormMain::AppendComLog(const QByteArray &chunk)
{
    if (MemoComLog->Full())
        ClearComLog();
    MemoComLog->AppendText(FComLogText.Format(chunk));
}

void TFormMain::ClearComLog()
{
    // The text formatter's open line and pending break go with the text they belonged to.
    MemoComLog->clear();
    FComLogText.Reset();
}
