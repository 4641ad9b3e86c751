// TEngine: the port, the commands and the receive dispatcher, and the waveform block.

#include "engine/Engine.h"

#include "engine/Reports.h"
#include "engine/WaveBlock.h"
#include "logger/Cdatalogger.h"
#include "platform/Clock.h"
#include "ringbuffer/CircularBuffer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace {
constexpr int LineBufferLimit = 256; // received text kept while waiting for a report
// Block text kept outside an acquisition: more than a whole block's, and a bound on the memory.
constexpr int WaveHeaderSearchLimit = 64 * 1024;
constexpr int ReconnectRetryMs = 250;  // between looks at the path of a lost port
constexpr int ReconnectNoteAfter = 20; // failed opens of a device that is back before it is told
constexpr int LinkReportMs = 1000;     // how often the link's figures are told while a port is open

QString LineSettingsText(const TLineSettings &line)
{
    static const char Parities[] = "NOEMS";
    const char *stops[] = {"1", "1.5", "2"};
    return QStringLiteral("%1 %2%3%4")
        .arg(line.BaudRate)
        .arg(int(line.DataBits))
        .arg(QChar::fromLatin1(Parities[int(line.Parity)]))
        .arg(QString::fromLatin1(stops[int(line.StopBits)]));
}
} // namespace

TEngine::TEngine(TComDeviceFactory deviceFactory, QObject *parent)
    : QObject(parent), FDeviceFactory(std::move(deviceFactory))
{
    // Room for a batch and for the whole trend, so that taking values never allocates; the logs.
    FBatchRecords.reserve(RingCapacity);
    FTrend.reserve(TrendCapacity);
    SetupLoggers();
    ReadLastRun();
    FChannel1.fill(ChannelMidScale);
    FChannel2.fill(ChannelMidScale);
    FReconnectTimer = new QTimer(this);
    FReconnectTimer->setInterval(ReconnectRetryMs);
    connect(FReconnectTimer, &QTimer::timeout, this, &TEngine::CheckLostPort);
    FLink.SetBaudRate(LineSettings.BaudRate);
    FLinkTimer = new QTimer(this);
    FLinkTimer->setInterval(LinkReportMs);
    connect(FLinkTimer, &QTimer::timeout, this, &TEngine::TellLinkHealth);
    // Made first, so the row is written before anything else hears that the Run ended.
    connect(this, &TEngine::RunEnded, this, &TEngine::EndRunStatistics);
}

TEngine::~TEngine()
{
    Close();
    // No call of a closed component can be running now; free those the event loop has not.
    for (const QPointer<TComm> &comm : FClosedComms)
        delete comm.data();
}

std::unique_ptr<TComm> TEngine::MakeComm(int index, const QString &device, bool tell)
{
    auto comm = std::make_unique<TComm>(nullptr, FDeviceFactory);
    connect(comm.get(), &TComm::Notice, this, &TEngine::Notice);
    comm->SetCommPort(static_cast<TComPortNumber>(index));
    comm->SetDeviceName(device);
    comm->SetBaudRate(LineSettings.BaudRate);
    comm->SetDataBits(LineSettings.DataBits);
    comm->SetParity(LineSettings.Parity);
    comm->SetStopBits(LineSettings.StopBits);
    comm->SetSwHandShaking(LineSettings.SwHandShaking);
    comm->SetHwHandShaking(LineSettings.HwHandShaking);
    comm->SetRThreshold(1);
    if (tell)
        comm->SetPortOpen(true);
    else
        comm->OpenComm(false);
    return comm;
}

void TEngine::UseComm(std::unique_ptr<TComm> comm, int index, const QString &device)
{
    // Freed by ClosePort, once its own calls have returned.
    FComm = comm.release();
    FComm->OnReceiveChunk.Bind(this, &TEngine::CommReceiveData);
    FComm->OnReceiveError.Bind(this, &TEngine::CommReceiveError);
    FPortIndex = index;
    FPortDevice = device;
    // A new line has nothing half-received: what the last one left of a record or a block, and
    // the reply it was waiting for, are not completed by this one. A cycle that is ending still
    // takes what came before it.
    if (FLoopState == TLoopState::Idle) {
        FReceiveState = rsNone;
        FReplyDone = true;
        FLineBuffer.clear();
        FWaveBuffer.clear();
        FWaveCount = -1;
        FWaveLines = 0;
    }
    FOpenedDevice = FComm->DeviceName();
    const TSystemPort *port = FEnumerator ? FEnumerator->Find(FOpenedDevice) : nullptr;
    FOpenedStable = port ? port->StableName : QString();
    FLinkTimer->start();
    SetLineState(OpenLineState(TLineState::TKind::Open));
    emit PortStateChanged();
}

TLineState TEngine::OpenLineState(TLineState::TKind kind) const
{
    TLineState state;
    state.Kind = kind;
    state.Port = PortLabel();
    state.Device = FOpenedDevice;
    const QString target = QFileInfo(FOpenedDevice).canonicalFilePath();
    state.Path = target != FOpenedDevice ? target : QString();
    state.Stable = FOpenedStable;
    if (state.Stable.isEmpty() && !target.isEmpty()) {
        // The system's by-id link that leads to the same node, when the enumerator has not said.
        const QDir byId(QStringLiteral("/dev/serial/by-id"));
        for (const QFileInfo &link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
            if (link.canonicalFilePath() == target)
                state.Stable = link.absoluteFilePath();
    }
    state.Settings = LineSettingsText(LineSettings);
    state.At = QTime::currentTime();
    return state;
}

void TEngine::SetLineState(const TLineState &state)
{
    if (state == FLineState)
        return;
    FLineState = state;
    emit LineStateChanged(state);
}

TLinkFigures TEngine::LinkFigures() const
{
    return FLink.Figures(Platform::TickCount());
}

void TEngine::TellLinkHealth()
{
    if (!FComm)
        FLinkTimer->stop();
    emit LinkHealthChanged(LinkFigures());
}

TComm *TEngine::OpenPort(int index)
{
    return OpenPortChoice(TComm::PortName(index));
}

TComm *TEngine::OpenDevice(const QString &device)
{
    return OpenPortChoice(device);
}

QString TEngine::OpenFailedText(const QString &name, const QString &error)
{
    return "Cannot open " + name + " !\n" + "\n\n Please try another COM port!\n" + "\n" + error;
}

TComm *TEngine::TryOpen(int index, const QString &device, bool tell)
{
    std::unique_ptr<TComm> comm = MakeComm(index, device, tell);
    if (comm->PortOpen()) {
        emit Notice({TNoticeKind::Information, "Information", "Open " + (device.isEmpty() ? TComm::PortName(index) : device) + " !"});
        UseComm(std::move(comm), index, device);
        return FComm;
    }
    FOpenFailure = {comm->OpenError(), comm->OpenReason(), comm->OpenNotSerial()};
    FComm = nullptr;
    TLineState state;
    state.Device = device.isEmpty() ? TComm::DeviceNameFor(TComm::PortName(index)) : device;
    state.Port = device.isEmpty() ? TComm::PortName(index) : device;
    if (FOpenFailure.Reason.contains(QLatin1String(" is in use by ")))
        state.Busy = FOpenFailure.Reason;
    SetLineState(state);
    return nullptr;
}

TComm *TEngine::OpenPortChoice(const QString &choice, bool tellFailure)
{
    int index = FPortIndex;
    QString device;
    if (!ParsePortChoice(choice, index, device))
        return nullptr;
    // The operator's choice replaces any wait for a lost port.
    FLost = TLostPort();
    if (TComm *comm = TryOpen(index, device, tellFailure))
        return comm;
    emit PortStateChanged();
    if (tellFailure)
        emit Notice({TNoticeKind::Information, "Information",
                     OpenFailedText(device.isEmpty() ? TComm::PortName(index) : device, FOpenFailure.Error)});
    return nullptr;
}

TComm *TEngine::ChangePort(const QString &choice, int settleMs)
{
    int index = FPortIndex;
    QString device;
    if (!ParsePortChoice(choice, index, device))
        return nullptr;
    // What to fall back on: the port in use, on the node it has now.
    const bool hadPort = FComm != nullptr;
    const int32_t oldIndex = FPortIndex;
    const QString oldDevice = FPortDevice;
    const QString oldNode = FPortDevice.isEmpty() ? QString() : FOpenedDevice;
    const QString oldLabel = PortDeviceLabel();
    ClosePort();
    Platform::Sleep(settleMs);
    if (TComm *comm = TryOpen(index, device, true))
        return comm;
    QString text = OpenFailedText(device.isEmpty() ? TComm::PortName(index) : device, FOpenFailure.Error);
    if (hadPort) {
        std::unique_ptr<TComm> back = MakeComm(oldIndex, oldNode, false);
        if (back->PortOpen()) {
            UseComm(std::move(back), oldIndex, oldDevice);
            emit Notice({TNoticeKind::Information, "Information", text + "\n\nThe port in use is still " + oldLabel + "."});
            return nullptr;
        }
        text += "\n\n" + oldLabel + ", the port in use before, cannot be opened again either: " +
                back->OpenReason() + "\nNo port is open.";
    }
    emit PortStateChanged();
    emit Notice({TNoticeKind::Information, "Information", text});
    return nullptr;
}

bool TEngine::ParsePortChoice(const QString &text, int &index, QString &device)
{
    const QString choice = text.trimmed();
    if (choice.startsWith('/')) {
        device = choice;
        return true;
    }
    for (int i = 0; i < PortCount; ++i) {
        if (choice.compare(TComm::PortName(i), Qt::CaseInsensitive) == 0) {
            index = i;
            device.clear();
            return true;
        }
    }
    return false;
}

QString TEngine::PortChoice() const
{
    if (FPortDevice.isEmpty())
        return TComm::PortName(FPortIndex);
    return FComm && !FOpenedStable.isEmpty() ? FOpenedStable : FPortDevice;
}

QString TEngine::PortLabel() const
{
    return FPortDevice.isEmpty() ? TComm::PortName(FPortIndex) : FPortDevice;
}

QString TEngine::PortDeviceLabel() const
{
    if (!FPortDevice.isEmpty())
        return FPortDevice;
    const QString device = FOpenedDevice.isEmpty() ? TComm::DeviceNameFor(TComm::PortName(FPortIndex)) : FOpenedDevice;
    return TComm::PortName(FPortIndex) + " (" + device + ")";
}

void TEngine::SetPortEnumerator(TPortEnumerator *enumerator)
{
    if (FEnumerator)
        disconnect(FEnumerator, nullptr, this, nullptr);
    FEnumerator = enumerator;
    if (enumerator)
        connect(enumerator, &TPortEnumerator::Changed, this, &TEngine::CheckLostPort);
}

void TEngine::ClosePort()
{
    FLost = TLostPort();
    FReconnectTimer->stop();
    if (!FComm)
        return;
    TComm *comm = FComm;
    FComm = nullptr;
    // Replies asked of this line will not come on the next one.
    FRepliesAwaited = 0;
    FAwaitedRuns.clear();
    comm->OnReceiveChunk.Clear();
    comm->OnReceiveError.Clear();
    comm->SetPortOpen(false);
    // A report asked of this line will not come.
    FLink.WaitEnded(Platform::TickCount());
    TLineState state = FLineState;
    state.Kind = TLineState::TKind::NoPort;
    state.At = QTime();
    SetLineState(state);
    emit PortStateChanged();
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
    const bool wait = FEnumerator != nullptr || FOptions.Reconnect;
    const QString text = PortLabel() + " has been disconnected !\n\n" +
                         (wait ? QStringLiteral(" Zarn Monitor will reopen it when it comes back.")
                               : QStringLiteral(" Please check the line and open the port again."));
    TLostPort lost;
    lost.Active = wait;
    lost.Index = FPortIndex;
    lost.Device = FPortDevice;
    lost.Opened = FOpenedDevice;
    lost.Stable = FOpenedStable;
    const TLineState open = FLineState;
    ClosePort();
    FLost = lost;
    if (FLost.Active) {
        TLineState state = open;
        state.Kind = TLineState::TKind::Lost;
        state.Device = LostPath();
        state.At = QTime::currentTime();
        SetLineState(state);
    }
    TellWhenIdle(text);
    if (FLost.Active) {
        FReconnectTimer->start();
        if (FEnumerator)
            FEnumerator->Refresh();
        CheckLostPort();
    }
}

QString TEngine::LostPath() const
{
    // Under its by-id name only the same adapter comes back; another one at the node is not it.
    if (!FLost.Stable.isEmpty())
        return FLost.Stable;
    return FLost.Opened;
}

// A lost port is opened again once its device has been seen gone and is back, for as long as the
// operator has chosen no other; a Run the loss ended stays ended. The device is looked for in the
// system's list and at its path itself, so that a terminal, a link or a bind mount that the system
// does not list comes back too. A refused open (permissions not set yet, another program holding
// the port) is tried again at every look.
void TEngine::CheckLostPort()
{
    if (!FLost.Active || FComm || FClosed) {
        FReconnectTimer->stop();
        return;
    }
    const TSystemPort *port = FEnumerator ? FEnumerator->Find(FLost.Stable.isEmpty() ? FLost.Opened : FLost.Stable) : nullptr;
    const QString watched = LostPath();
    // Only where the real device layer opens it: a device made by a test's factory is not on disk.
    const bool atPath = !FDeviceFactory && TSystemPortEnumerator::DevicePresent(watched);
    if (!port && !atPath) {
        FLost.SeenGone = true;
        return;
    }
    if (!FLost.SeenGone)
        return;
    // The cycle the loss ended finishes first.
    if (Busy())
        return;
    // The system's node where it lists one; else the path itself, which leads to the device.
    const QString path = port ? port->Path : watched;
    const QString label = PortLabel();
    std::unique_ptr<TComm> comm = MakeComm(FLost.Index, path, false);
    if (comm->PortOpen()) {
        const TLostPort lost = FLost;
        FLost = TLostPort();
        FReconnectTimer->stop();
        UseComm(std::move(comm), lost.Index, lost.Device);
        SetLineState(OpenLineState(TLineState::TKind::Reopened));
        emit PortNote(label + " is back: " + path);
        return;
    }
    const QString reason = comm->OpenError();
    const QString why = comm->OpenReason();
    comm.reset();
    TLineState state = FLineState;
    state.Busy = why.contains(QLatin1String(" is in use by ")) ? why : QString();
    SetLineState(state);
    if (++FLost.Attempts == ReconnectNoteAfter)
        emit PortNote(label + " is back but cannot be opened: " + reason);
}

void TEngine::Command(int tag)
{
    if (const TCommandEntry *entry = FindCommand(tag)) {
        FCommandLetter = entry->Letter;
        FReceiveState = entry->StateAfter;
    }
    const bool asks = FReceiveState == rsDifference || FReceiveState == rsMean;
    if (FComm)
        FLink.CommandSent(Platform::TickCount(), asks);
    SendCommand(FCommandLetter);
    if (FComm && asks) {
        ++FRepliesAwaited;
        FAwaitedRuns.push_back(InRun() ? FRunNumber : 0);
        // Replies that never came (dropped ones) must not grow it without end.
        if (FAwaitedRuns.size() > AwaitedRunsLimit)
            FAwaitedRuns.pop_front();
    }
}

void TEngine::SendCommand(char letter)
{
    if (!FComm) {
        TellNotOpen();
        return;
    }
    FComm->OutputString(QByteArray(1, letter));
}

void TEngine::CommReceiveData(QObject *Sender, const QByteArray &received)
{
    if (!FComm || Sender != FComm)
        return;
    FLineBuffer += received;
    FReceivedCount += uint64_t(received.size());
    // Bytes outside any report: counted here in full, and a report's own taken back when it is
    // taken. A waveform block is no report and no noise.
    if (FReceiveState != rsWaveform && !Acquiring())
        FLink.NoiseBytes(Platform::TickCount(), received.size() - received.count('\r') - received.count('\n'));
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
        // Outside an acquisition the text only serves to find a header: the menu's command,
        // given again and again, adds a chunk each time.
        if (!Acquiring() && FWaveBuffer.size() > WaveHeaderSearchLimit)
            FWaveBuffer = FWaveBuffer.right(LineBufferLimit);
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

void TEngine::TellNotOpen()
{
    emit Notice({TNoticeKind::Information, QCoreApplication::applicationName(),
                 QString::fromLatin1(TComm::NotOpenMessage)});
}

void TEngine::SetPanel(TStatusPanel panel, const QString &text)
{
    emit PanelChanged(panel, text);
}

void TEngine::SetOptions(const TEngineOptions &options)
{
    FOptions = options;
    // The window keeps the newest values that fit; the same size leaves it as it is.
    if (FStatistics.WindowSize() != options.StatisticsWindow)
        FStatistics.SetWindowSize(options.StatisticsWindow);
    FOptions.StatisticsWindow = FStatistics.WindowSize();
}

void TEngine::SetWaveform(const TChannel &channel1, const TChannel &channel2)
{
    FChannel1 = channel1;
    FChannel2 = channel2;
}

TEngine::TReceiveView TEngine::Receiving() const
{
    TReceiveView view;
    view.State = FReceiveState;
    view.ReplyDone = FReplyDone;
    view.CommandLetter = FCommandLetter;
    view.RepliesAwaited = FRepliesAwaited;
    view.Pending = FLineBuffer;
    view.WaveText = FWaveBuffer;
    view.WaveCount = FWaveCount;
    view.WaveLines = FWaveLines;
    view.Temperature = FTemperatureKnown ? FTemperature : MeasurementLog::NoTemperature;
    return view;
}
