// The line as the operator sees it: its state's texts, the link's counts (checked against the
// simulator's own record of what it sent), and a lost port that comes back at the same path.

#include "app/LineStrip.h"
#include "engine/Engine.h"
#include "engine/Reports.h"
#include "sim/SimInstrument.h"
#include "sim/SimProtocol.h"
#include "tests/app/ReportTexts.h"
#include "tests/common/PtyPair.h"
#include "tests/common/WorkingFolder.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
constexpr int WaitMs = 20000;

// Open file descriptors, less the logs in `logFolder` (opened by the first reports, kept open).
int OpenFileCount(const QString &logFolder)
{
    int count = 0;
    for (const QFileInfo &fd : QDir("/proc/self/fd").entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        count += fd.symLinkTarget().startsWith(logFolder) ? 0 : 1;
    return count;
}

TLineState State(TLineState::TKind kind, const QString &port, const QString &device, const QString &at)
{
    TLineState state;
    state.Kind = kind;
    state.Port = port;
    state.Device = device;
    state.Settings = "115200 8N1";
    state.At = QTime::fromString(at, "HH:mm:ss");
    return state;
}
} // namespace

class TestLine : public QObject {
    Q_OBJECT
private slots:
    void stateTexts_data();
    void stateTexts();
    void stripShowsEachState();
    void linkCounts_data();
    void linkCounts();
    void linkWarning_data();
    void linkWarning();
    void countsMatchTheSimulator_data();
    void countsMatchTheSimulator();
    void reconnectThroughALink_data();
    void reconnectThroughALink();
};

void TestLine::stateTexts_data()
{
    using K = TLineState::TKind;
    QTest::addColumn<TLineState>("state");
    QTest::addColumn<QString>("text");
    QTest::newRow("open COM1") << State(K::Open, "COM1", "/dev/ttyUSB0", "14:00:00") << "COM1 /dev/ttyUSB0 115200 8N1";
    QTest::newRow("open by path") << State(K::Open, "/dev/pts/3", "/dev/pts/3", "14:00:00") << "/dev/pts/3 115200 8N1";
    QTest::newRow("none") << State(K::NoPort, "COM1", "/dev/ttyUSB0", "") << "No port open";
    QTest::newRow("lost") << State(K::Lost, "COM1", "/dev/ttyUSB0", "14:02:11")
                          << "COM1 lost at 14:02:11, waiting for /dev/ttyUSB0";
    QTest::newRow("reopened") << State(K::Reopened, "COM1", "/dev/ttyUSB0", "14:02:19") << "COM1 reopened at 14:02:19";
}

void TestLine::stateTexts()
{
    QFETCH(TLineState, state);
    QFETCH(QString, text);
    QCOMPARE(state.Text(), text);
    QCOMPARE(state.Alarm(), state.Kind == TLineState::TKind::Lost);
}

void TestLine::stripShowsEachState()
{
    using K = TLineState::TKind;
    TWorkingFolder folder;
    TEngine engine;
    QWidget bar;
    QLabel noPort("No port open", &bar), rate(&bar);
    rate.setToolTip("Run: cycles per second");
    TLineStrip strip(&engine, &noPort, &rate, &bar);
    bar.show();

    TLineState open = State(K::Open, "COM1", "/dev/ttyUSB0", "14:00:00");
    open.Stable = "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0";
    strip.ShowLineState(open);
    QVERIFY(strip.LabelLine->isVisible());
    QCOMPARE(strip.LabelLine->text(), QStringLiteral("COM1 /dev/ttyUSB0 115200 8N1"));
    QVERIFY(strip.LabelLine->toolTip().contains("/dev/ttyUSB0"));
    QVERIFY(strip.LabelLine->toolTip().contains(open.Stable));
    QVERIFY(!strip.LabelLine->styleSheet().contains("255, 0, 0"));

    TLineState lost = open;
    lost.Kind = K::Lost;
    lost.Device = open.Stable;
    lost.At = QTime(14, 2, 11);
    strip.ShowLineState(lost);
    QCOMPARE(strip.LabelLine->text(), "COM1 lost at 14:02:11, waiting for " + open.Stable);
    QVERIFY(strip.LabelLine->styleSheet().contains("255, 0, 0"));
    QVERIFY(noPort.isHidden());

    TLineState back = open;
    back.Kind = K::Reopened;
    back.At = QTime(14, 2, 19);
    strip.ShowLineState(back);
    QCOMPARE(strip.LabelLine->text(), QStringLiteral("COM1 reopened at 14:02:19"));
    QVERIFY(!strip.LabelLine->styleSheet().contains("255, 0, 0"));

    TLineState none = State(K::NoPort, "COM1", "/dev/ttyUSB0", "");
    none.Busy = "COM1 (/dev/ttyUSB0) is in use by minicom (process 4242)";
    strip.ShowLineState(none);
    QVERIFY(strip.LabelLine->isHidden());
    QVERIFY(noPort.toolTip().contains("in use by minicom (process 4242)"));

    // The link's counts: a line of this Run's, red with the warning, and a table on the rate panel.
    TLinkFigures figures;
    figures.Running = true;
    figures.Run = {120, 118, 100, 12, 3, 2, 7, 100};
    figures.Total = figures.Run;
    figures.LineShare = 0.87;
    strip.ShowLinkHealth(figures);
    QCOMPARE(strip.LabelLink->text(),
             QStringLiteral("Link: 120 sent, 100 replies, 12 missing, 3 late, 2 refused, 7 noise bytes, 87 % of the line"));
    QVERIFY(!strip.LabelLink->styleSheet().contains("255, 0, 0"));
    figures.Warning = "12 % of replies missing in the last 10 s";
    strip.ShowLinkHealth(figures);
    QVERIFY(strip.LabelLink->text().startsWith(figures.Warning));
    QVERIFY(strip.LabelLink->styleSheet().contains("255, 0, 0"));
    QVERIFY(rate.toolTip().startsWith("Run: cycles per second"));
    QVERIFY(rate.toolTip().contains("Replies missing"));

    // In a narrow window the counts go under the state, close to it, and wrap rather than run
    // past the edge.
    strip.ShowLineState(open);
    strip.resize(300, strip.sizeHint().height());
    QTRY_VERIFY(strip.LabelLink->y() > strip.LabelLine->y());
    QVERIFY(strip.LabelLink->y() - strip.LabelLine->geometry().bottom() <= 3);
    QVERIFY(strip.LabelLink->wordWrap());
    QVERIFY(strip.LabelLink->height() > strip.LabelLine->height());
    strip.resize(3000, strip.height());
    QTRY_COMPARE(strip.LabelLink->y(), strip.LabelLine->y());
    QVERIFY(!strip.LabelLink->wordWrap());
}

void TestLine::linkCounts_data()
{
    // A asks for a report, c is any other command, r a report, g a refused one, w the wait's end.
    QTest::addColumn<QString>("events");
    QTest::addColumn<QList<int>>("counts"); // commands, replies, missing, late, refused
    QTest::newRow("in time") << "cArw cArw" << QList<int>{4, 2, 0, 0, 0};
    QTest::newRow("dropped") << "cAw cArw" << QList<int>{4, 1, 1, 0, 0};
    QTest::newRow("late, taken in the next wait") << "cAw cArw r" << QList<int>{4, 2, 0, 1, 0};
    QTest::newRow("late, between two commands") << "cAw crArw" << QList<int>{4, 2, 0, 1, 0};
    QTest::newRow("refused") << "cAgw cArw" << QList<int>{4, 2, 0, 0, 1};
    QTest::newRow("an ask replaced by the next") << "AArw" << QList<int>{2, 1, 1, 0, 0};
    QTest::newRow("nobody asked") << "r" << QList<int>{0, 1, 0, 0, 0};
}

void TestLine::linkCounts()
{
    QFETCH(QString, events);
    QFETCH(QList<int>, counts);
    TLinkHealth link;
    uint32_t now = 1000;
    link.BeginRun(now);
    for (QChar e : events) {
        now += 10;
        switch (e.toLatin1()) {
        case 'A': link.CommandSent(now, true); break;
        case 'c': link.CommandSent(now, false); break;
        case 'r': link.ReplyTaken(now, false); break;
        case 'g': link.ReplyTaken(now, true); break;
        case 'w': link.WaitEnded(now); break;
        default: break;
        }
    }
    const TLinkCounts &c = link.Run();
    QCOMPARE((QList<int>{int(c.Commands), int(c.Replies), int(c.Missing), int(c.Late), int(c.Refused)}), counts);
    QCOMPARE(link.Total().Replies, c.Replies);
}

void TestLine::linkWarning_data()
{
    QTest::addColumn<int>("asks");
    QTest::addColumn<int>("missing");
    QTest::addColumn<int>("late");
    QTest::addColumn<int>("refused");
    QTest::addColumn<double>("share");
    QTest::addColumn<QString>("warning");
    QTest::newRow("healthy") << 1000 << 10 << 10 << 10 << 0.87 << "";
    QTest::newRow("missing") << 1000 << 120 << 0 << 0 << 0.87 << "12 % of replies missing in the last 10 s";
    QTest::newRow("late") << 1000 << 0 << 60 << 0 << 0.87 << "6 % of replies late in the last 10 s";
    QTest::newRow("all three") << 100 << 3 << 2 << 1 << 0.87
                               << "3 % of replies missing, 2 % late, 1 % refused in the last 10 s";
    QTest::newRow("a share under 0.5 % left out") << 1000 << 100 << 2 << 0 << 0.87 << "10 % of replies missing in the last 10 s";
    QTest::newRow("slow") << 340 << 0 << 0 << 0 << 0.24 << "34.0 cycles/s in the last 10 s, 24 % of what the line allows";
    QTest::newRow("too few to tell") << 10 << 5 << 0 << 0 << 0.87 << "";
}

void TestLine::linkWarning()
{
    QFETCH(int, asks);
    QFETCH(int, missing);
    QFETCH(int, late);
    QFETCH(int, refused);
    QFETCH(double, share);
    QFETCH(QString, warning);
    TLinkCounts window;
    window.Asks = asks;
    window.Missing = missing;
    window.Late = late;
    window.Refused = refused;
    QCOMPARE(TLinkHealth::WarningText(window, 10, asks / 10.0, share, true), warning);
    QCOMPARE(TLinkHealth::WarningText(window, 10, asks / 10.0, share, false), QString());
}

void TestLine::countsMatchTheSimulator_data()
{
    QTest::addColumn<double>("drop");
    QTest::addColumn<double>("late");
    QTest::addColumn<double>("garble");
    QTest::addColumn<double>("noise");
    QTest::newRow("dropped replies") << 0.08 << 0.0 << 0.0 << 0.0;
    QTest::newRow("late replies") << 0.0 << 0.05 << 0.0 << 0.0;
    QTest::newRow("garbled replies and noise") << 0.0 << 0.0 << 0.05 << 0.1;
}

void TestLine::countsMatchTheSimulator()
{
    QFETCH(double, drop);
    QFETCH(double, late);
    QFETCH(double, garble);
    QFETCH(double, noise);
    TWorkingFolder folder;
    TSimOptions options;
    options.Seed = 11;
    options.Drop = drop;
    options.Late = late;
    options.Garble = garble;
    options.Noise = noise;
    options.RecordFile = folder.Path("sent.bin");
    TSimInstrument instrument(options);
    QString error;
    QVERIFY2(instrument.Start(&error), qPrintable(error));
    TEngine engine;
    QVERIFY(engine.OpenDevice(instrument.SlavePath()));
    QSignalSpy ended(&engine, &TEngine::RunEnded);
    QVERIFY(engine.StartRun());
    QTRY_VERIFY_WITH_TIMEOUT(engine.RunCycleCount() >= 300, WaitMs);
    engine.StopRun();
    QTRY_VERIFY_WITH_TIMEOUT(ended.count() == 1, WaitMs);

    // The simulator's record, replayed: the same seed answers the same commands with the same
    // bytes, so it says which replies it dropped, held back or garbled, and what noise it sent.
    TSimProtocol replay(options);
    TLinkCounts expected;
    const QByteArray commands = instrument.Commands();
    QByteArray all;
    for (char command : commands) {
        const QList<TSimChunk> chunks = replay.Answer(command);
        const QByteArray bytes = TSimProtocol::Join(chunks);
        all += bytes;
        const bool asks = command == 'z' || command == 'x';
        ++expected.Commands;
        expected.Asks += asks;
        int64_t noiseBytes = bytes.size() - bytes.count('\r') - bytes.count('\n');
        if (asks && !bytes.isEmpty()) {
            ++expected.Replies;
            expected.Late += chunks.first().HoldUs > 0;
            QByteArray text = bytes + "\r\n";
            Reports::TReport report;
            QVERIFY(Reports::TakeReport(text, report));
            expected.Refused += !report.Values.Readable;
            noiseBytes -= command == 'z' ? Reports::MeanLength : Reports::DifferenceLength;
        }
        expected.Noise += noiseBytes;
    }
    expected.Missing = expected.Asks - expected.Replies;
    QCOMPARE(TWorkingFolder::Read(options.RecordFile), all);
    QVERIFY(expected.Asks > 250);
    // The simulator's own tally, as zarnsim prints it at its end, says the same.
    const TSimTally tally = instrument.Tally();
    QCOMPARE(tally.Commands, expected.Commands);
    QCOMPARE(tally.Asks, expected.Asks);
    QCOMPARE(tally.Dropped, expected.Missing);
    QCOMPARE(tally.Late, expected.Late);
    // A spoiled field the reader does not need leaves its report readable.
    QVERIFY(tally.Garbled >= expected.Refused);
    QCOMPARE(tally.NoiseBytes, expected.Noise);
    // Late replies of the last cycles may still be on their way.
    QTRY_COMPARE_WITH_TIMEOUT(engine.LinkFigures().Total.Replies, expected.Replies, WaitMs);
    const TLinkCounts got = engine.LinkFigures().Total;
    qInfo("simulator: %lld commands, %lld replies, %lld dropped, %lld late, %lld garbled, %lld noise bytes",
          qlonglong(expected.Commands), qlonglong(expected.Replies), qlonglong(expected.Missing),
          qlonglong(expected.Late), qlonglong(expected.Refused), qlonglong(expected.Noise));
    qInfo("engine:    %s", qPrintable(TLinkHealth::Summary(got, 0, false)));
    QCOMPARE(got.Commands, expected.Commands);
    QCOMPARE(got.Replies, expected.Replies);
    QCOMPARE(got.Missing, expected.Missing);
    // Held back by the simulator, or kept from the line past the wait by a busy machine: a reply
    // the engine waited for in vain is late all the same. Only those can come on top.
    QVERIFY2(got.Late >= expected.Late && got.Late <= expected.Late + expected.Asks / 20,
             qPrintable(QString("%1 late, %2 held back").arg(got.Late).arg(expected.Late)));
    QCOMPARE(got.Refused, expected.Refused);
    QCOMPARE(got.Noise, expected.Noise);
    QCOMPARE(engine.RefusedCount(), expected.Refused);
    engine.Close();
}

void TestLine::reconnectThroughALink_data()
{
    QTest::addColumn<bool>("running");
    QTest::newRow("during a Run") << true;
    QTest::newRow("idle") << false;
}

void TestLine::reconnectThroughALink()
{
    QFETCH(bool, running);
    TWorkingFolder folder;
    QTemporaryDir dir;
    const QString link = dir.filePath("instrument");
    auto pty = std::make_unique<TPtyPair>();
    QVERIFY(pty->IsValid());
    QVERIFY(QFile::link(pty->SlavePath(), link));

    TEngine engine;
    TEngineOptions options;
    options.Reconnect = true;
    engine.SetOptions(options);
    QVERIFY(engine.OpenDevice(link));
    QCOMPARE(engine.LineState().Text(), link + " " + pty->SlavePath() + " 115200 8N1");
    const int files = OpenFileCount(folder.Path(QString()));
    QSignalSpy reports(&engine, &TEngine::ReportComputed);
    QSignalSpy states(&engine, &TEngine::LineStateChanged);
    int sent = 0;
    // Plays the instrument: a report for each one asked for, and for the menu's "z" when idle.
    const auto answer = [&] {
        for (char c : pty->ReadAvailable()) {
            if (c == 'z' && pty->Write(MeanReport + "\r\n"))
                ++sent;
            if (c == 'x' && pty->Write(DifferenceReport + "\r\n"))
                ++sent;
        }
    };
    const auto serve = [&](int reportsWanted) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < WaitMs && (reports.count() < reportsWanted || reports.count() < sent)) {
            if (!running && engine.Receiving().State == rsNone && reports.count() == sent)
                engine.Command(CommandTag('z'));
            QTest::qWait(1);
            // Enough asked: a Run's next commands go unanswered, so the last report can catch up.
            if (reports.count() < reportsWanted)
                answer();
            else
                pty->ReadAvailable();
        }
        return reports.count() >= reportsWanted && reports.count() == sent;
    };
    if (running)
        QVERIFY(engine.StartRun());
    const int64_t run = engine.RunNumber();
    for (int round = 0; round < 3; ++round) {
        QVERIFY2(serve(reports.count() + 20), qPrintable(QString("round %1: %2 of %3").arg(round).arg(reports.count()).arg(sent)));
        // The device goes away with every report it sent taken.
        pty->CloseMaster();
        pty.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!engine.PortOpen() && engine.LineState().Kind == TLineState::TKind::Lost, WaitMs);
        QCOMPARE(engine.LineState().Device, link);
        QTRY_VERIFY_WITH_TIMEOUT(!engine.Running() && !engine.Busy(), WaitMs);
        // It comes back under the same name, on another terminal.
        pty = std::make_unique<TPtyPair>();
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(pty->SlavePath(), link));
        QTRY_VERIFY_WITH_TIMEOUT(engine.PortOpen() && engine.LineState().Kind == TLineState::TKind::Reopened, WaitMs);
        QCOMPARE(engine.PortDevice(), link);
        QCOMPARE(OpenFileCount(folder.Path(QString())), files);
        // A Run the loss ended stays ended until asked to go on, under its own number.
        QVERIFY(!engine.Running());
        if (running)
            QVERIFY(engine.ResumeRun());
        QCOMPARE(engine.RunNumber(), run);
    }
    QVERIFY(serve(reports.count() + 20));
    if (running) {
        engine.StopRun();
        QTRY_VERIFY_WITH_TIMEOUT(!engine.Busy(), WaitMs);
    }
    QCOMPARE(reports.count(), sent);
    QCOMPARE(engine.LinkFigures().Total.Replies, int64_t(sent));
    QVERIFY(states.count() >= 6);
    engine.Close();
}

QTEST_MAIN(TestLine)
#include "tst_line.moc"
