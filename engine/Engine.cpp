// TEngine: the port, the commands and the receive dispatcher, and the waveform block.

#include "engine/Engine.h"

#include "engine/Reports.h"
#include "engine/WaveBlock.h"
#include "logger/Cdatalogger.h"
#include "platform/Platform.h"
#include "ringbuffer/CircularBuffer.h"

namespace {
constexpr int LineBufferLimit = 256; // received text kept while waiting for a report
} // namespace

TEngine::TEngine(TComDeviceFactory deviceFactory, QObject *parent)
    : QObject(parent), FDeviceFactory(std::move(deviceFactory))
{
    // Ring buffers of the current batch and of the raw values, the phase trend, the logs.
    FM1Ring = new TCircularBuffer<int32_t>(RingCapacity);
    FM2Ring = new TCircularBuffer<int32_t>(RingCapacity);
    FPhaseRing = new TCircularBuffer<float>(RingCapacity);
    FTOFRing = new TCircularBuffer<float>(RingCapacity);
    FRecordRing = new TCircularBuffer<int32_t>(RingCapacity);
    FBatchRecords.reserve(RingCapacity);
    FTrend = new std::vector<std::unique_ptr<float>>;
    FTrend->reserve(TrendCapacity);
    SetupLoggers();
    FChannel1.fill(ChannelMidScale);
    FChannel2.fill(ChannelMidScale);
}

TEngine::~TEngine()
{
    Close();
    // No call of a closed component can be running now; free those the event loop has not.
    for (const QPointer<TComm> &comm : FClosedComms)
        delete comm.data();
}

TComm *TEngine::OpenPort(int index)
{
    auto *comm = new TComm(nullptr, FDeviceFactory);
    comm->SetCommPort(static_cast<TComPortNumber>(index));
    comm->SetBaudRate(LineSettings.BaudRate);
    comm->SetDataBits(LineSettings.DataBits);
    comm->SetParity(LineSettings.Parity);
    comm->SetStopBits(LineSettings.StopBits);
    comm->SetSwHandShaking(LineSettings.SwHandShaking);
    comm->SetHwHandShaking(LineSettings.HwHandShaking);
    comm->SetRThreshold(1);
    comm->SetPortOpen(true);

    const QString name = TComm::PortName(index);
    if (comm->PortOpen()) {
        Platform::MessageBox("Open " + name + " !", "Information");
        FComm = comm;
        FComm->OnReceiveData.Bind(this, &TEngine::CommReceiveData);
        FComm->OnReceiveError.Bind(this, &TEngine::CommReceiveError);
        FPortIndex = index;
        return comm;
    }
    Platform::MessageBox("Cannot open " + name + " !\n" + "\n\n Please try another COM port!\n", "Information");
    delete comm;
    FComm = nullptr;
    return nullptr;
}

void TEngine::ClosePort()
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

void TEngine::CommReceiveError(QObject *Sender, uint32_t EventMask)
{
    if (!(EventMask & CE_DEVICEGONE) || Sender != FComm)
        return;
    const QString text =
        TComm::PortName(FPortIndex) + " has been disconnected !\n\n Please check the line and open the port again.";
    ClosePort();
    TellWhenIdle(text);
}

void TEngine::Command(int tag)
{
    if (const TCommandEntry *entry = FindCommand(tag)) {
        FCommandLetter = entry->Letter;
        FReceiveState = entry->StateAfter;
    }
    SendCommand(FCommandLetter);
    if (FComm && (FReceiveState == rsDifference || FReceiveState == rsMean))
        ++FRepliesAwaited;
}

void TEngine::SendCommand(char letter)
{
    if (!FComm) {
        Platform::ShowMessage(QString::fromLatin1(TComm::NotOpenMessage));
        return;
    }
    FComm->OutputString(QByteArray(1, letter));
}

void TEngine::CommReceiveData(QObject *Sender)
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
    emit Received(received);
    if (FLineBuffer.size() > LineBufferLimit)
        FLineBuffer.clear();
    emit ReceiveHandled();
    // A reply or a whole block may end a wait now.
    LoopReceived();
}

void TEngine::ParseWaveHeader()
{
    float temperature = 0;
    if (!WaveBlock::TakeHeader(FWaveBuffer, temperature))
        return;
    FTemperature = temperature;
    FTemperatureKnown = true;
    FWaveCount = 0;
    SetPanel(spTemperature, "Temp.=" + Measurement::FixedText(FTemperature, 2));
}

void TEngine::ParseWaveBlock()
{
    // Without a header (FWaveCount still -1) the block is not stored: the channels keep their
    // samples.
    QByteArrayList lines;
    FWaveCount = WaveBlock::ParseBlock(FWaveBuffer, FChannel1.data(), FChannel2.data(), FWaveCount, &lines);
    emit BlockParsed(lines);
}

void TEngine::SetPanel(TStatusPanel panel, const QString &text)
{
    emit PanelChanged(panel, text);
}
