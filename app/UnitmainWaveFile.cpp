// TFormMain: saving the two channels to a waveform file and loading them back.

#include "app/Unitmain.h"
#include "app/WaveFile.h"
#include "platform/Platform.h"

namespace {

const QString WaveformFilter = QStringLiteral("Waveform File(*.csv)");
const QString WaveformSuffix = QStringLiteral("CSV");
const QString SaveTitle = QStringLiteral("Save waveform signal as file ...");

// The file the operator chose, or empty when the dialog was cancelled.
QString ChooseWaveformFile(QWidget *owner, Platform::TFileDialogKind kind, const QString &title)
{
    Platform::TFileDialogRequest request;
    request.Kind = kind;
    request.Title = title;
    request.Filter = WaveformFilter;
    request.DefaultSuffix = WaveformSuffix;
    request.Owner = owner;
    return Platform::FileDialog(request);
}

void ShowFailure(const WaveFile::TResult &result)
{
    Platform::MessageBox(result.Message, WaveFile::MessageCaption, Platform::TMsgIcon::Warning);
}

} // namespace

void TFormMain::mmLoadClick()
{
    const QString fileName =
        ChooseWaveformFile(this, Platform::TFileDialogKind::Open, "Load waveform signal from file ...");
    if (fileName.isEmpty())
        return;
    // A file that fails leaves the channels, and so the picture, as they were.
    TChannel channel1 = FEngine->Channel1(), channel2 = FEngine->Channel2();
    const WaveFile::TResult result = WaveFile::LoadWaveformFile(fileName, channel1, channel2);
    if (!result.Ok) {
        ShowFailure(result);
        return;
    }
    FEngine->SetWaveform(channel1, channel2);
    FWaveformHeld = true;
    RedrawWaveforms();
}

void TFormMain::mmSaveClick()
{
    // The channels' starting flat line is no measurement: saved unasked, it passes for one later.
    // Asked under the save dialog's title, as the question before a file is replaced is.
    if (!FWaveformHeld &&
        !Platform::Question("No waveform has been acquired or loaded yet. Save the empty waveform?", SaveTitle))
        return;
    const QString fileName = ChooseWaveformFile(this, Platform::TFileDialogKind::Save, SaveTitle);
    if (fileName.isEmpty())
        return;
    const WaveFile::TResult result = WaveFile::SaveWaveformFile(fileName, FEngine->Channel1(), FEngine->Channel2());
    if (!result.Ok)
        ShowFailure(result);
}
