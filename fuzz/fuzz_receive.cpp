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

#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

struct TFixture {
    TMemoryLine Line;
    TMessageCapture Messages;
    std::unique_ptr<TFormMain> Form;
    QObject NoCommand; // a sender whose tag is no command: the last letter is sent again
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

void Check(const TFormMain &form, const TModel &model, int computed)
{
    FUZZ_CHECK(form.FEngine->FLineBuffer.size() <= TReceiveRules::LineBufferLimit);
    FUZZ_CHECK(form.FEngine->FLineBuffer == model.Rules.Buffer);
    FUZZ_CHECK(form.FEngine->FReceiveState == model.Rules.State);
    FUZZ_CHECK(form.FEngine->FReplyDone == model.Rules.ReplyDone);
    FUZZ_CHECK(computed == model.Computed);
    if (model.Computed > 0) {
        FUZZ_CHECK(form.FEngine->FBigCount == model.Last.BigCount);
        FUZZ_CHECK(form.FEngine->FM1 == model.Last.M1);
        FUZZ_CHECK(form.FEngine->FM2 == model.Last.M2);
        FUZZ_CHECK(form.FEngine->FTemperature == model.Last.Temperature);
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
    FUZZ_CHECK(Fixture->Form->FEngine->FComm != nullptr);
    Fixture->NoCommand.setProperty("Tag", 2);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TFormMain &form = *Fixture->Form;
    // Every input starts from a quiet window.
    form.FEngine->FReceiveState = rsNone;
    form.FEngine->FReplyDone = false;
    form.FEngine->FCommandLetter = 0;
    form.FEngine->FRepliesAwaited = 0;
    form.FEngine->FLineBuffer.clear();
    form.FEngine->FWaveBuffer.clear();
    form.MemoDblClick(form.MemoComLog);
    Fixture->Line.Incoming.clear();
    Fixture->Line.Written.clear();
    if (form.FEngine->Options().ApplyFilter)
        form.mmApplyFilterClick();
    TModel model;
    model.Rules.Temperature = model.Last.Temperature = form.FEngine->FTemperature;
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
        form.FEngine->FComm->ProcTimer(nullptr);
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
