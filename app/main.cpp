// Zarn Monitor: program entry. The command line is read before any window system is touched.

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/Headless.h"
#include "app/Settings.h"
#include "app/Unitmain.h"
#include "platform/Platform.h"
#include "platform/StopSignals.h"

#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <exception>
#include <utility>

namespace {

// Messages as lines on standard error, for when no one may be at the screen to close a box.
void PrintMessage(const Platform::TMessage &message)
{
    CommandLine::PrintError(message.Text.simplified());
}

int RunWindow(const CommandLine::TOptions &options)
{
    // SIGTERM, SIGINT and SIGHUP (a shutdown or logout, Ctrl+C in the terminal) close the window
    // as File > Exit does: the Run stops and the logs are written. The catcher outlives the
    // window, so a second signal meets a close already under way and is ignored.
    TFormMain *window = nullptr;
    bool signalled = false;
    const TStopSignals stopSignals([&](int) {
        if (std::exchange(signalled, true))
            return;
        // The operator may be gone: what the close has to say goes to standard error, and a box
        // already open (whose loop may be the one running now) ends with every other loop.
        Platform::SetMessageSink(PrintMessage);
        if (window)
            window->close();
        QCoreApplication::exit(0);
    });

    // What the operator chose last time; --device names COM1's device for this start only.
    TSettings settings;
    settings.PortFromCommandLine = !options.Device.isEmpty();
    settings.PublishingFromCommandLine = !options.MqttUrl.isEmpty();
    settings.CommandLinePublishing = {options.MqttUrl, options.Instrument, options.MqttCredentials};
    if (options.Documents)
        settings.DefaultLogFolder = TSettings::DocumentsLogFolder();

    const Platform::TMessageSink boxes =
        options.Run ? Platform::SetMessageSink(PrintMessage) : Platform::TMessageSink();
    TFormMain form(nullptr, {}, &settings);
    window = &form;
    if (options.Run && !signalled)
        Platform::SetMessageSink(boxes);
    if (signalled) {
        // A signal came while a box of the start was open.
        form.close();
        return 0;
    }
    form.show();
    if (options.Run)
        QTimer::singleShot(0, &form, [&form] { form.TB_RunClick(form.TB_Run); });
    TApplication::exec();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    CommandLine::TOptions options;
    QString error;
    if (!CommandLine::Parse(arguments, options, error)) {
        CommandLine::PrintError(error);
        return CommandLine::ExitUsage;
    }
    if (options.Help || options.Version) {
        const QString text = options.Help ? CommandLine::HelpText() : CommandLine::VersionText() + '\n';
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return CommandLine::ExitDone;
    }
    if (!options.StatisticsFile.isEmpty())
        return CommandLine::WriteStatistics(options.StatisticsFile);
    if (!options.Device.isEmpty())
        qputenv("ZARN_COM1", options.Device.toLocal8Bit());
    if (options.Headless)
        return Headless::Run(argc, argv, options);

    TApplication application(argc, argv);
    try {
        return RunWindow(options);
    } catch (const std::exception &e) {
        TApplication::ShowException(e.what());
    } catch (...) {
        TApplication::ShowException(nullptr);
    }
    return 0;
}
