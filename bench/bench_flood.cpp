// An instrument line that sends far faster than the program reads: 100 MB of random bytes into a
// pseudo-terminal that the main window has open as COM1, its poll step run back to back. Prints
// the program's memory at rest and at its peak during the flood, how fast the flood went through,
// and whether replies to commands sent meanwhile came through it.

#include "app/Unitmain.h"
#include "ProcessMemory.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/PtyPair.h"
#include "tests/common/WorkingFolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>

namespace {

qint64 Flood = 100ll << 20; // or the MB the first argument names
constexpr qint64 CommandEvery = 4ll << 20; // bytes of flood between two commands

// The peak resident size counts from now on.
void ResetPeak()
{
    QFile refs("/proc/self/clear_refs");
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

// Whether the line came into the log since the last look (the first line not yet looked at is
// *from; the log may have been emptied meanwhile). Noise after it in the same chunk is no matter.
bool LogGot(const TFormMain &form, const QString &line, int *from)
{
    const int count = form.MemoComLog->LineCount();
    if (*from > count)
        *from = 0;
    for (int i = std::max(0, *from - 1); i < count; ++i)
        if (form.MemoComLog->Line(i) == line) {
            *from = i + 1;
            return true;
        }
    *from = count;
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]).toInt() > 0)
        Flood = qint64(QByteArray(argv[1]).toInt()) << 20;
    TWorkingFolder folder;
    TMessageCapture messages;
    TPtyPair pty;
    qputenv("ZARN_COM1", pty.SlavePath().toLocal8Bit());
    TFormMain form;
    if (!form.FEngine->Comm()) {
        std::printf("flood: COM1 did not open\n");
        return 1;
    }
    form.show();
    form.mmCommunicationClick();
    QApplication::processEvents();

    QByteArray noise(1 << 20, Qt::Uninitialized);
    QRandomGenerator random(1234);
    for (char &c : noise)
        c = static_cast<char>(random.bounded(256));

    const double idle = StatusMB("VmRSS:");
    ResetPeak();
    qint64 written = 0, nextCommand = CommandEvery;
    int sent = 0, answered = 0, seen = 0, looked = 0;
    QByteArray pendingReply;
    QElapsedTimer clock;
    clock.start();
    while (written < Flood || seen < answered) {
        // The instrument answers a command between two pieces of its flood.
        if (!pty.ReadAvailable().isEmpty())
            pendingReply += "\r\nREPLY " + QByteArray::number(++answered) + "\r\n";
        if (!pendingReply.isEmpty()) {
            pendingReply.remove(0, pty.WriteSome(pendingReply.constData(), pendingReply.size()));
        } else if (written < Flood) {
            const qint64 offset = written % noise.size();
            written += pty.WriteSome(noise.constData() + offset, qMin<qint64>(noise.size() - offset, Flood - written));
        } else {
            pty.WriteSome("\r\n", 2); // the last reply's line ends
        }
        if (written >= nextCommand) {
            nextCommand += CommandEvery;
            form.FEngine->SendCommand('m');
            ++sent;
        }
        if (!form.FEngine->Comm()) {
            std::printf("flood: the port closed after %lld bytes: %s\n", written,
                        qPrintable(messages.Texts().join(" / ")));
            break;
        }
        form.FEngine->Comm()->ProcTimer(nullptr);
        if (seen < answered && LogGot(form, "REPLY " + QString::number(seen + 1), &looked))
            ++seen;
        if (clock.elapsed() > 600000)
            break;
    }
    const double seconds = clock.elapsed() / 1000.0;
    const double peak = StatusMB("VmHWM:");
    std::printf("flood of %lld MB through COM1 (pseudo-terminal), poll steps back to back:\n", Flood >> 20);
    std::printf("  memory at rest:     %.1f MB resident\n", idle);
    std::printf("  peak in the flood:  %.1f MB resident (%.1f MB above rest; ratio %.2f)\n", peak, peak - idle,
                peak / idle);
    std::printf("  passed in %.1f s (%.1f MB/s)\n", seconds, double(written) / (1 << 20) / seconds);
    std::printf("  commands sent %d, answered %d, replies seen in the log %d\n", sent, answered, seen);
    std::printf("  log lines at the end: %d\n", form.MemoComLog->LineCount());
    return 0;
}
