#pragma once
// The program's command line: without options it opens its window; --headless runs the
// measurement without one. Parsing needs no application object, so --help, --version and a
// wrong command line work on a machine without a display.

#include <QString>
#include <QStringList>

namespace CommandLine {

// The name the program gives itself on standard error.
inline constexpr char ProgramName[] = "zarnmonitor";

// Exit statuses; --help lists them.
enum TExitStatus : int {
    ExitDone = 0,         // the run completed (also after Ctrl+C, SIGTERM or SIGHUP)
    ExitNoPort = 1,       // the device does not exist or could not be opened
    ExitUsage = 2,        // the command line is wrong, or --statistics names no Measurements.csv
    ExitCannotWrite = 3,  // a folder or file named for output cannot be written
    ExitIncomplete = 4,   // the run did not complete (the line went away, no report or no waveform arrived)
};

// Longest --duration accepted: a year of unattended logging.
inline constexpr double MaxDurationSeconds = 366.0 * 24 * 3600;
// Shortest --duration accepted: the timers that end the run count whole milliseconds. 0 stands
// for no end, as no --duration does.
inline constexpr double MinDurationSeconds = 0.001;

struct TOptions {
    bool Help = false;
    bool Version = false;
    bool Headless = false;
    bool Run = false;             // the window starts the Run cycle at once
    bool Documents = false;       // the logs go to "Zarn Monitor" in the user's documents folder
    QString Device;               // empty: COM1 as the environment names it
    double DurationSeconds = 0;   // 0: until SIGINT, SIGTERM or SIGHUP
    bool Reconnect = false;       // a lost line is waited for and the Run goes on when it is back
    QString WaveformFile;         // empty: no acquisition
    QString PictureFolder;        // empty: no pictures
    QString StatisticsFile;       // a Measurements.csv whose Runs' statistics are wanted; empty: none
    QString MqttUrl;              // empty: nothing is published
    QString Instrument;           // empty: the host's and the device's names
    QString MqttCredentials;      // a file: the user name, then the password
};

// arguments: the whole command line, the program's own name first. False with one line in
// error (without the program's name) when the command line is wrong.
bool Parse(const QStringList &arguments, TOptions &options, QString &error);

QString HelpText();
// --statistics: writes the Statistics.csv rows of every Run in a Measurements.csv to standard
// output, header first; the exit status (ExitUsage, with the reason on standard error, for a
// file that cannot be read or is not one).
int WriteStatistics(const QString &fileName);
// "Zarn Monitor 1.0"
QString VersionText();

// One line on standard error: "zarnmonitor: " and the text.
void PrintError(const QString &line);
// Checks, without leaving anything behind, that a file can be created in the folder (the
// working folder when empty). False with the reason in error.
bool CanWriteIn(const QString &folder, QString &error);
// Makes the folder and those it lies in, as far as they are missing. False with the reason in
// error (the path that is in the way, or the one that could not be made, and why).
bool MakeFolder(const QString &folder, QString &error);
// Checks the outputs the options name and the working folder the logs go to; the pictures
// folder may be missing when the folder it would be made in can be written. False with one
// line in error.
bool CheckOutputs(const TOptions &options, QString &error);

} // namespace CommandLine
