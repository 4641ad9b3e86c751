// The Log page during a Run, beside a general serial terminal showing the same bytes. Both draw on
// one Xvfb: the window (zarnmonitor --run, its Log page shown) on a pseudo-terminal whose
// received bytes come from the simulated instrument through a relay, and picocom in an xterm on a
// second pseudo-terminal that the relay hands a copy of every byte the instrument sends, as it
// sends it (paced like a 115200 baud line). The CPU of each (utime + stime from /proc/PID/stat,
// all threads; the terminal is xterm and picocom together) is taken over INTERVAL seconds,
// REPEATS times, and the medians, their ratio and the X server's share are printed. Each repeat
// also takes an interval with the terminal's copy held back, so that the X server's work can be
// shared out between the two: what it does beyond the window alone is the terminal's.
//
//   bench_logterminal [INTERVAL [REPEATS]]      (default 20 s, 5 repeats)
//
// ZARNMONITOR=PATH measures that build of the program instead of this one's.
//
// It needs Xvfb, xterm and picocom (`./zarn bench` installs them); without them it says so and
// skips. ZARN_PERF=FILE first records a perf profile of the window (perf record --call-graph
// dwarf) over one interval, side by side, into FILE; that interval is not in the figures.

#include "sim/SimInstrument.h"

#include "Median.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

// CPU seconds (user and system, every thread) a process has used; negative when it is gone.
double ProcessCpu(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The name in parentheses may hold spaces: the fields are counted from its closing one.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// The first child of `parent` found in /proc, or 0.
pid_t ChildOf(pid_t parent)
{
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == parent)
            return pid;
    }
    return 0;
}

// Starts `argv` with `environment` added to this process's, in `folder`, its output added to the
// file `log` when one is named. Everything is made before the fork: the child only closes and execs.
pid_t Spawn(const std::vector<std::string> &argv, const std::vector<std::string> &environment,
            const std::string &folder = {}, const std::string &log = {})
{
    std::vector<std::string> pairs = environment;
    for (char **pair = environ; *pair; ++pair) {
        const std::string text = *pair;
        const std::string name = text.substr(0, text.find('=') + 1);
        if (std::none_of(environment.begin(), environment.end(),
                         [&](const std::string &added) { return added.rfind(name, 0) == 0; }))
            pairs.push_back(text);
    }
    std::vector<char *> envp, args;
    for (std::string &pair : pairs)
        envp.push_back(pair.data());
    envp.push_back(nullptr);
    std::vector<std::string> arguments = argv;
    for (std::string &arg : arguments)
        args.push_back(arg.data());
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    for (int fd = 3; fd < 1024; ++fd)
        close(fd);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    if (!log.empty()) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
    }
    if (!folder.empty() && chdir(folder.c_str()) != 0)
        _exit(127);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
}

void Stop(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

bool Alive(pid_t pid)
{
    return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0;
}

// A pseudo-terminal in raw mode; the bench keeps its slave open too, so that the master never
// sees a hang-up while the reader on the other side closes and reopens.
struct TPty {
    int Master = -1, Slave = -1;
    std::string Path;
    bool Open()
    {
        termios raw{};
        cfmakeraw(&raw);
        cfsetspeed(&raw, B115200);
        char name[128] = {};
        if (openpty(&Master, &Slave, name, &raw, nullptr) != 0)
            return false;
        fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK);
        fcntl(Master, F_SETFD, FD_CLOEXEC);
        fcntl(Slave, F_SETFD, FD_CLOEXEC);
        Path = name;
        return true;
    }
    ~TPty()
    {
        if (Master >= 0)
            close(Master);
        if (Slave >= 0)
            close(Slave);
    }
};

// Carries the instrument's bytes to the window's terminal and a copy to the serial terminal's,
// and the window's commands back to the instrument. A copy the terminal cannot take at once is
// dropped and counted rather than waited for, so the window's line never stalls.
class TRelay {
public:
    TRelay(int instrument, int window, int terminal) : FInstrument(instrument), FWindow(window), FTerminal(terminal)
    {
        if (pipe(FWake) == 0)
            FThread = std::thread([this] { Serve(); });
    }
    ~TRelay()
    {
        const char stop = 0;
        if (FThread.joinable() && write(FWake[1], &stop, 1) == 1)
            FThread.join();
        close(FWake[0]);
        close(FWake[1]);
    }
    std::atomic<bool> CopyToTerminal{true};
    std::atomic<long long> ToWindow{0}, ToTerminal{0}, Dropped{0}, Commands{0};

private:
    // Writes what it can; returns how much did not go.
    static long long Put(int fd, const char *bytes, ssize_t count)
    {
        while (count > 0) {
            const ssize_t done = write(fd, bytes, size_t(count));
            if (done < 0 && errno == EINTR)
                continue;
            if (done <= 0)
                return count;
            bytes += done;
            count -= done;
        }
        return 0;
    }
    void Serve()
    {
        char buffer[4096];
        for (;;) {
            pollfd fds[4] = {{FWake[0], POLLIN, 0}, {FInstrument, POLLIN, 0}, {FWindow, POLLIN, 0},
                             {FTerminal, POLLIN, 0}};
            if (poll(fds, 4, 1000) < 0 && errno != EINTR)
                return;
            if (fds[0].revents)
                return;
            if (fds[1].revents & POLLIN) {
                const ssize_t count = read(FInstrument, buffer, sizeof buffer);
                if (count > 0) {
                    // The window's line is waited for: it is what makes the Run go on.
                    for (ssize_t done = 0; done < count;) {
                        const ssize_t n = write(FWindow, buffer + done, size_t(count - done));
                        if (n > 0)
                            done += n;
                        else if (n < 0 && errno != EAGAIN && errno != EINTR)
                            break;
                        else if (n < 0 && errno == EAGAIN) {
                            pollfd out{FWindow, POLLOUT, 0};
                            poll(&out, 1, 100);
                        }
                    }
                    ToWindow += count;
                    if (CopyToTerminal) {
                        const long long lost = Put(FTerminal, buffer, count);
                        ToTerminal += count - lost;
                        Dropped += lost;
                    }
                }
            }
            if (fds[2].revents & POLLIN) {
                const ssize_t count = read(FWindow, buffer, sizeof buffer);
                if (count > 0) {
                    Put(FInstrument, buffer, count);
                    Commands += count;
                }
            }
            if (fds[3].revents & POLLIN) // whatever the terminal sends goes nowhere
                (void)!read(FTerminal, buffer, sizeof buffer);
            if ((fds[1].revents | fds[2].revents | fds[3].revents) & (POLLHUP | POLLERR))
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    int FInstrument, FWindow, FTerminal;
    int FWake[2] = {-1, -1};
    std::thread FThread;
};

// Waits up to `seconds` for `done`.
template <typename F> bool WaitFor(double seconds, F done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

int Skip(const char *why, const std::string &log = {})
{
    std::printf("bench_logterminal: skipped: %s\n", why);
    QFile said(QString::fromStdString(log));
    if (!log.empty() && said.open(QIODevice::ReadOnly))
        std::printf("%s", said.readAll().right(2000).constData());
    return 0;
}

struct TSample {
    double Window = 0, Terminal = 0, Server = 0;
};

TSample Cpu(pid_t window, pid_t xterm, pid_t picocom, pid_t server)
{
    return {ProcessCpu(window), ProcessCpu(xterm) + ProcessCpu(picocom), ProcessCpu(server)};
}

} // namespace

int main(int argc, char **argv)
{
    const int interval = argc > 1 ? std::atoi(argv[1]) : 20;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    if (interval < 1 || repeats < 1) {
        std::fprintf(stderr, "usage: bench_logterminal [INTERVAL [REPEATS]]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);
    for (const char *tool : {"Xvfb", "xterm", "picocom"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return Skip(qPrintable(QStringLiteral("%1 is not installed (./zarn bench installs xvfb, xterm and picocom)")
                                       .arg(QString::fromLatin1(tool))));
    // ZARNMONITOR names another build of the program, to hold two against each other.
    const QString other = qEnvironmentVariable("ZARNMONITOR");
    const std::string program = other.isEmpty() ? std::string(ZARNMONITOR_PATH) : other.toStdString();
    if (!QFile::exists(QString::fromStdString(program)))
        return Skip("the program is not built");

    QTemporaryDir folder;
    const std::string base = folder.path().toStdString();
    // What the X server, the window and the terminal say, shown when they fail.
    const std::string log = base + "/programs.log";
    // The window opens on its Log page and keeps its settings and logs to itself.
    const QString config = folder.filePath("config/Dunmeridge");
    QDir().mkpath(config);
    QFile settings(config + "/Zarn Monitor.conf");
    if (!settings.open(QIODevice::WriteOnly))
        return Skip("cannot write the window's settings");
    settings.write("[Window]\nPage=TS_Log\n");
    settings.close();

    // The X server, on the first display from :90 on that nobody holds.
    pid_t server = 0;
    std::string display;
    for (int number = 90; number < 190 && display.empty(); ++number) {
        const std::string name = std::to_string(number);
        if (QFile::exists(QString::fromStdString("/tmp/.X" + name + "-lock")) ||
            QFile::exists(QString::fromStdString("/tmp/.X11-unix/X" + name)))
            continue;
        server = Spawn({"Xvfb", ":" + name, "-screen", "0", "1920x1080x24", "-nolisten", "tcp"}, {}, {}, log);
        if (WaitFor(30, [&] {
                return QFile::exists(QString::fromStdString("/tmp/.X11-unix/X" + name)) || !Alive(server);
            }) && Alive(server))
            display = ":" + name;
        else
            Stop(server);
    }
    if (display.empty())
        return Skip("Xvfb did not start", log);

    TSimOptions options;
    options.Seed = 7;
    TSimInstrument instrument(options);
    QString error;
    if (!instrument.Start(&error)) {
        Stop(server);
        return Skip(qPrintable("the simulated instrument did not start: " + error));
    }
    const int line = open(instrument.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    cfmakeraw(&raw);
    TPty windowPty, terminalPty;
    if (line < 0 || tcsetattr(line, TCSANOW, &raw) != 0 || !windowPty.Open() || !terminalPty.Open()) {
        Stop(server);
        return Skip("cannot open the pseudo-terminals");
    }
    TRelay relay(line, windowPty.Master, terminalPty.Master);

    const std::string x = "DISPLAY=" + display;
    const pid_t window = Spawn({program, "--device", windowPty.Path, "--run"},
                               {x, "QT_QPA_PLATFORM=xcb", "XDG_CONFIG_HOME=" + base + "/config",
                                "XDG_DATA_HOME=" + base + "/data", "XDG_RUNTIME_DIR=" + base},
                               base, log);
    const pid_t xterm = Spawn({"xterm", "-geometry", "100x50+1000+0", "-e", "picocom", "--baud", "115200", "--quiet",
                               "--noreset", "--nolock", terminalPty.Path},
                              {x}, base, log);
    pid_t picocom = 0;
    const bool started = WaitFor(30, [&] { return (picocom = ChildOf(xterm)) != 0 || !Alive(xterm); }) && picocom &&
                         WaitFor(60, [&] { return relay.ToWindow > 20000 || !Alive(window); }) && Alive(window);
    const auto finish = [&] {
        Stop(window);
        Stop(xterm);
        Stop(server);
    };
    if (!started) {
        finish();
        return Skip(picocom ? "the window did not start a Run on the simulated instrument"
                            : "picocom did not start in the xterm",
                    log);
    }
    std::printf("the Log page during a Run beside picocom in an xterm, one Xvfb (%s), the same bytes;\n"
                "CPU from /proc/PID/stat over %d s, %d repeats; %% of one core:\n",
                display.c_str(), interval, repeats);
    std::this_thread::sleep_for(std::chrono::seconds(3)); // the window's first frames are not measured

    const QString perfFile = qEnvironmentVariable("ZARN_PERF");
    if (!perfFile.isEmpty()) {
        // Profiled apart: perf's own work would count against the window.
        const pid_t perf = Spawn({"perf", "record", "--call-graph", "dwarf", "-F", "500", "-o", perfFile.toStdString(),
                                  "-p", std::to_string(window)},
                                 {}, {}, base + "/perf.log");
        std::this_thread::sleep_for(std::chrono::seconds(interval));
        kill(perf, SIGINT);
        waitpid(perf, nullptr, 0);
    }
    std::vector<double> windows, terminals, servers, alone, serverAlone, rates;
    for (int repeat = 0; repeat < repeats; ++repeat) {
        for (const bool copy : {true, false}) {
            relay.CopyToTerminal = copy;
            std::this_thread::sleep_for(std::chrono::seconds(1)); // the terminal catches up or falls quiet
            const long long bytes = relay.ToWindow;
            const TSample before = Cpu(window, xterm, picocom, server);
            const auto start = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::chrono::seconds(interval));
            const TSample after = Cpu(window, xterm, picocom, server);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (!Alive(window) || !Alive(xterm)) {
                finish();
                std::printf("bench_logterminal: the %s ended during the measurement\n",
                            Alive(xterm) ? "window" : "terminal");
                return 1;
            }
            const double rate = double(relay.ToWindow - bytes) / seconds;
            const double windowShare = (after.Window - before.Window) / seconds * 100;
            const double serverShare = (after.Server - before.Server) / seconds * 100;
            if (copy) {
                const double terminalShare = (after.Terminal - before.Terminal) / seconds * 100;
                windows.push_back(windowShare);
                terminals.push_back(terminalShare);
                servers.push_back(serverShare);
                rates.push_back(rate);
                std::printf("  %d side by side: window %5.2f %%, terminal %5.2f %% (ratio %.2f), Xvfb %5.2f %%, "
                            "%.0f bytes/s\n",
                            repeat + 1, windowShare, terminalShare, windowShare / terminalShare, serverShare, rate);
            } else {
                alone.push_back(windowShare);
                serverAlone.push_back(serverShare);
                std::printf("  %d window alone: window %5.2f %%, Xvfb %5.2f %%\n", repeat + 1, windowShare,
                            serverShare);
            }
        }
    }
    finish();
    const double window_ = MedianOf(windows), terminal = MedianOf(terminals), serverBoth = MedianOf(servers),
                 serverWindow = MedianOf(serverAlone);
    std::printf("median: window %.2f %% of a core, terminal (xterm + picocom) %.2f %%, ratio window/terminal %.2f\n",
                window_, terminal, window_ / terminal);
    std::printf("        with their X server's share: window %.2f %% + Xvfb %.2f %%, terminal %.2f %% + Xvfb %.2f %%, "
                "ratio %.2f\n",
                window_, serverWindow, terminal, serverBoth - serverWindow,
                (window_ + serverWindow) / (terminal + serverBoth - serverWindow));
    std::printf("        window alone %.2f %%; line %.0f bytes/s; %lld bytes of the terminal's copy dropped\n",
                MedianOf(alone), MedianOf(rates), relay.Dropped.load());
    if (!perfFile.isEmpty())
        std::printf("profile of the window: perf report -i %s\n", qPrintable(perfFile));
    return 0;
}
