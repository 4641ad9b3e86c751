// Zarn Monitor: program entry. The command line is read before any window system is touched.

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/Headless.h"
#include "app/Unitmain.h"

#include <cstdio>
#include <exception>

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
    if (!options.Device.isEmpty())
        qputenv("ZARN_COM1", options.Device.toLocal8Bit());
    if (options.Headless)
        return Headless::Run(argc, argv, options);

    TApplication application(argc, argv);
    try {
        TFormMain form;
        form.show();
        TApplication::exec();
    } catch (const std::exception &e) {
        TApplication::ShowException(e.what());
    } catch (...) {
        TApplication::ShowException(nullptr);
    }
    return 0;
}
