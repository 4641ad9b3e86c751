#pragma once
// The headless mode: the main window's own code, drawn offscreen, runs the measurement for a
// given time or until SIGINT, SIGTERM or SIGHUP. Progress and the summary go to standard output,
// messages that would be boxes to standard error.

#include "app/CommandLine.h"

namespace Headless {

// Runs the whole mode, application object included; returns the program's exit status.
int Run(int &argc, char **argv, const CommandLine::TOptions &options);

} // namespace Headless
