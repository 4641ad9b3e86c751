// TFormMain: the Commands menu and the receive dispatcher.

#include "app/CommandTable.h"
#include "app/Reports.h"
#include "app/Unitmain.h"
#include "platform/Platform.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QTextDocument>

namespace {
constexpr int LineBufferLimit = 256;  // received text kept while waiting for a report
} // namespace

void TFormMain::mmCommandClick(QObject *Sender)
{
    if (const TCommandEntry *entry = FindCommand(Tag(Sender))) {
        FCommandLetter = entry->Letter;
        FReceiveState = entry->StateAfter;
    }
    SendCommand(FCommandLetter);
    if (FComm && (FReceiveState == rsDifference || FReceiveState == rsMean))
        ++FRepliesAwaited;
}

void TFormMain::SendCommand(char letter)
{
    if (!FComm) {
        Platform::ShowMessage(QString::fromLatin1(TComm::NotOpenMessage));
        return;
    }
    FComm->OutputString(QByteArray(1, letter));
}

void TFormMain::CommReceiveData(QObject *Sender)
{
    if (!FComm || Sender != FComm)
        return;
    const QByteArray received = FComm->ReadInputData();
    FLineBuffer += received;
    FReceivedCount += uint64_t(received.size());
    switch (FReceiveState) {
    case rsNone:
        // A report still awaited may come now, after its wait: it is taken, the rest dropped.
        if (FRepliesAwaited > 0)
            TakeReports();
        if (FRepliesAwaited == 0 || !Reports::ReportPending(FLineBuffer))
            FLineBuffer.clear();
        break;
    case rsDifference:
        FReplyDone = CheckDifferenceReport();
        break;
    case rsWaveform:
        // The block's text is kept from its first chunk on, so a header split over two chunks
        // is still found.
        FWaveBuffer += FLineBuffer;
        if (FWaveCount >= 0)
            FWaveLines += int32_t(FLineBuffer.count('\n'));
        FLineBuffer.clear();
        if (FWaveCount < 0) {
            ParseWaveHeader();
            if (FWaveCount >= 0)
                FWaveLines = int32_t(FWaveBuffer.count('\n'));
        }
        break;
    case rsMean:
        FReplyDone = CheckMeanReport();
        break;
    default:
        break;
    }
    if (FReplyDone)
        FReceiveState = rsNone;
    AppendComLog(received);
    if (FLineBuffer.size() > LineBufferLimit)
        FLineBuffer.clear();
    emit ReceiveHandled();
}

void TFormMain::AppendComLog(const QByteArray &chunk)
{
    if (MemoComLog->document()->blockCount() >= TMemo::LineLimit)
        ClearComLog();
    MemoComLog->AppendText(FComLogText.Format(chunk));
}

void TFormMain::ClearComLog()
{
    // The text formatter's open line and pending break go with the text they belonged to.
    MemoComLog->clear();
    FComLogText.Reset();
}
