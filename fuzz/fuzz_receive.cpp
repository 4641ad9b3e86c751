// The whole receive path of a window, through the in-memory device: command clicks, the filter
// switch and received chunks (raw bytes, or reports with fuzzed fields) in any order. After every
// step the window must agree with the dispatcher's rules, kept here in a few lines of their own,
// and the line buffer, the communication log and the bytes sent must be what they may be.

#include "app/ComLogText.h"
#include "engine/CommandTable.h"
#include "engine/Reports.h"
#include "app/Unitmain.h"
#include "fuzz/FuzzCheck.h"
#include "ringbuffer/CircularBuffer.h"
#include "tests/common/MemoryDevice.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/ReceiveRules.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

struct TFixture {
    TMemoryLine Line;
    TMessageCapture Messages;
    std::unique_ptr<TFormMain> Form;
    QObject NoCommand; // a sender whose tag is no command: the last letter is sent again
    TReport Last;      // the last report the engine computed
};
TFixture *Fixture = nullptr;

// What the dispatcher's rules make of the same steps.
struct TModel {
    TReceiveRules Rules;
    char Letter = 0;
    int Computed = 0;
    Reports::TReportValues Last;
    QByteArray Written;
    QByteArray Received;

    // A menu item whose tag is no command sends the last letter again and changes no state.
    void Click(int tag)
    {
        const TCommandEntry *entry = FindCommand(tag);
        if (entry)
            Letter = entry->Letter;
        Rules.Command(entry);
        Written += Letter;
    }

    void Receive(const QByteArray &chunk)
    {
        Received += chunk;
        // The panel tells a chunk that computed something, not how many it computed.
        const QList<Reports::TReportValues> taken = Rules.Receive(chunk);
        if (!taken.isEmpty()) {
            Last = taken.back();
            ++Computed;
        }
    }
};

// Each computation writes the raw first correlation value to status panel 3.
constexpr int ComputedPanel = 3;

// The log's text with its line breaks left out, and the received bytes as the log shows them.
QString LoggedText(const TFormMain &form)
{
    return form.MemoComLog->toPlainText().remove(QLatin1Char('\n'));
}

// The received bytes as the log shows them, formatted at once.
QString Visible(const QByteArray &bytes)
{
    return TComLogText().Format(bytes).remove(QLatin1Char('\n'));
}

QByteArray Report(FuzzedDataProvider &input, int length, const char *marker)
{
    QByteArray record = QByteArray::fromStdString(input.ConsumeBytesAsString(size_t(length)));
    record = record.leftJustified(length, ' ');
    record.replace(0, qsizetype(strlen(marker)), marker);
    return record;
}

// Equal, or both unknown.
bool SameTemperature(float a, float b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

void Check(const TFormMain &form, const TModel &model, int computed)
{
    const TEngine::TReceiveView receiving = form.FEngine->Receiving();
    FUZZ_CHECK(receiving.Pending.size() <= TReceiveRules::LineBufferLimit);
    FUZZ_CHECK(receiving.Pending == model.Rules.Buffer);
    FUZZ_CHECK(receiving.State == model.Rules.State);
    FUZZ_CHECK(receiving.ReplyDone == model.Rules.ReplyDone);
    FUZZ_CHECK(computed == model.Computed);
    if (model.Computed > 0) {
        const MeasurementLog::TRecord &last = Fixture->Last.Record;
        FUZZ_CHECK(last.BigCount == model.Last.BigCount);
        FUZZ_CHECK(last.M1 == model.Last.M1);
        FUZZ_CHECK(last.M2 == model.Last.M2);
        FUZZ_CHECK(SameTemperature(last.Temperature, model.Last.Temperature));
    }
    FUZZ_CHECK(Fixture->Line.Written == model.Written);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QApplication app(*argc, *argv);
    // Log files, if any, go to a folder of their own.
    static QTemporaryDir folder;
    QDir::setCurrent(folder.path());
    Fixture = new TFixture;
    Fixture->Form = std::make_unique<TFormMain>(nullptr, MemoryDeviceFactory(Fixture->Line));
    FUZZ_CHECK(Fixture->Form->FEngine->Comm() != nullptr);
    QObject::connect(Fixture->Form->FEngine, &TEngine::ReportComputed,
                     [](const TReport &report) { Fixture->Last = report; });
    Fixture->NoCommand.setProperty("Tag", 2);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TFormMain &form = *Fixture->Form;
    // Every input starts from a quiet window: a port opened again has nothing half-received and
    // awaits nothing. The component closed is freed here, as the event loop would.
    form.FEngine->ClosePort();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    FUZZ_CHECK(form.FEngine->OpenPort(0) != nullptr);
    form.MemoDblClick(form.MemoComLog);
    Fixture->Line.Incoming.clear();
    Fixture->Line.Written.clear();
    if (form.FEngine->Options().ApplyFilter)
        form.mmApplyFilterClick();
    // Quiet: nothing awaited, nothing kept, the last exchange over. The last letter and the last
    // temperature told stay from the inputs before.
    const TEngine::TReceiveView start = form.FEngine->Receiving();
    FUZZ_CHECK(start.State == rsNone && start.ReplyDone && start.Pending.isEmpty() && start.RepliesAwaited == 0);
    TModel model;
    model.Rules.ReplyDone = true;
    model.Letter = start.CommandLetter;
    model.Rules.Temperature = model.Last.Temperature = start.Temperature;
    int computed = 0;

    QAction *const commands[] = {form.mmMenu, form.mmAcquire, form.mmTransmit, form.mmParameters,
                                 form.mmProgram, form.mmKeypad, form.mmNewPars, form.mmSendData,
                                 form.mmTemperature, form.mmAveragedData, form.mmAnalyzeData,
                                 form.mmAnalyzeAcquired};
    FuzzedDataProvider input(data, size);
    while (input.remaining_bytes() > 0) {
        QByteArray chunk;
        switch (input.ConsumeIntegralInRange(0, 5)) {
        case 0: {
            const size_t which = input.ConsumeIntegralInRange<size_t>(0, std::size(commands));
            QObject *sender = which < std::size(commands) ? static_cast<QObject *>(commands[which])
                                                          : &Fixture->NoCommand;
            form.mmCommandClick(sender);
            model.Click(TFormMain::Tag(sender));
            Check(form, model, computed);
            continue;
        }
        case 1:
            form.mmApplyFilterClick();
            continue;
        case 2:
            chunk = Report(input, Reports::MeanLength, Reports::MeanMarker);
            break;
        case 3:
            chunk = Report(input, Reports::DifferenceLength, Reports::DifferenceMarker);
            break;
        default:
            chunk = QByteArray::fromStdString(input.ConsumeBytesAsString(input.ConsumeIntegralInRange<size_t>(0, 300)));
            break;
        }
        if (chunk.isEmpty())
            continue; // nothing waiting: no receive event
        Fixture->Line.Incoming += chunk;
        form.SetPanelText(ComputedPanel, QString());
        form.FEngine->Comm()->ProcTimer(nullptr);
        FUZZ_CHECK(Fixture->Line.Incoming.isEmpty());
        if (!form.PanelText(ComputedPanel).isEmpty())
            ++computed;
        model.Receive(chunk);
        Check(form, model, computed);
    }
    // Once per input: reading the whole log after every chunk would make a long input slow.
    FUZZ_CHECK(LoggedText(form) == Visible(model.Received));
    return 0;
}
