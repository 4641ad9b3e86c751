#include "app/Headless.h"

#include "comm/Comm.h"

#include <QFileInfo>

#include <cstdio>

namespace Headless {

using namespace CommandLine;

namespace {

void PrintError(const QString &line)
{
    std::fprintf(stderr, "%s: %s\n", ProgramName, line.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

int Run(int &argc, char **argv, const TOptions &options)
{
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    QString error;
    const QString device = TComm::DeviceNameFor(QStringLiteral("COM1"));
    if (!QFileInfo::exists(device)) {
        PrintError("no such device: " + device);
        return ExitNoPort;
    }
    if (!CheckOutputs(options, error)) {
        PrintError(error);
        return ExitCannotWrite;
    }
    PrintError("the headless measurement is not in this build yet");
    return ExitIncomplete;
}

} // namespace Headless
