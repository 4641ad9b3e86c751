// The program's command line and its headless mode, run as the zarnmonitor executable: help,
// wrong input (one line on standard error, the exit status, nothing written).

#include "app/CommandLine.h"
#include "tests/common/WorkingFolder.h"

#include <QProcess>
#include <QtTest>

namespace {

constexpr int WaitMs = 60000;

struct TResult {
    int ExitCode = -1;
    QByteArray Out, Err;
};

// Runs the program in folder; "@" in an argument stands for the folder. Without a usable
// platform plugin or display: whatever must work without a screen cannot lean on one.
TResult Start(const QStringList &arguments, const QString &folder)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("QT_QPA_PLATFORM", "no-such-platform");
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(folder);
    QStringList expanded;
    for (const QString &argument : arguments)
        expanded << QString(argument).replace('@', folder);
    program.start(QStringLiteral(ZARNMONITOR_PATH), expanded);
    TResult result;
    if (!program.waitForFinished(WaitMs))
        return result;
    result.ExitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    result.Out = program.readAllStandardOutput();
    result.Err = program.readAllStandardError();
    return result;
}

} // namespace

class TestHeadless : public QObject {
    Q_OBJECT
private slots:
    void helpListsEveryOption();
    void badInput_data();
    void badInput();
};

void TestHeadless::helpListsEveryOption()
{
    TWorkingFolder folder;
    const TResult result = Start({"--help"}, folder.Folder());
    QCOMPARE(result.ExitCode, 0);
    QCOMPARE(result.Err, QByteArray());
    for (const char *option : {"-h, --help", "-v, --version", "--device DEVICE", "--headless", "--duration SECONDS",
                               "--waveform FILE", "--pictures FOLDER", "Exit status: 0"})
        QVERIFY2(result.Out.contains(option), option);
}

void TestHeadless::badInput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    using namespace CommandLine;
    const QString absurd = QString::number(MaxDurationSeconds + 1, 'f', 0);
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << int(ExitUsage) << "Unknown option 'frobnicate'.";
    QTest::newRow("missing value") << QStringList{"--headless", "--duration"} << int(ExitUsage)
                                   << "Missing value after '--duration'.";
    QTest::newRow("argument") << QStringList{"--headless", "10"} << int(ExitUsage) << "Unexpected argument '10'";
    QTest::newRow("empty device") << QStringList{"--device="} << int(ExitUsage) << "--device wants";
    QTest::newRow("option needs --headless") << QStringList{"--duration", "5"} << int(ExitUsage)
                                            << "--duration works only with --headless.";
    for (const QString &duration : {QString("-5"), QString("0"), QString("ten"), QString("nan"), QString("inf"), absurd})
        QTest::addRow("duration %s", qPrintable(duration))
            << QStringList{"--headless", "--duration=" + duration} << int(ExitUsage)
            << "--duration wants a number of seconds above 0 and at most 31622400, not '" + duration + "'.";
    QTest::newRow("no such device") << QStringList{"--headless", "--device", "@/ttyNone"} << int(ExitNoPort)
                                    << "no such device: @/ttyNone";
    QTest::newRow("pictures under a file") << QStringList{"--headless", "--device", "/dev/null", "--pictures", "@/f/sub"}
                                           << int(ExitCannotWrite) << "--pictures cannot be made inside @/f: not a folder";
    QTest::newRow("pictures folder read-only") << QStringList{"--headless", "--device", "/dev/null", "--pictures", "/proc/zarn"}
                                               << int(ExitCannotWrite) << "cannot write in /proc:";
    QTest::newRow("waveform is a folder") << QStringList{"--headless", "--device", "/dev/null", "--waveform", "@"}
                                          << int(ExitCannotWrite) << "--waveform names a folder: @";
    QTest::newRow("waveform folder missing") << QStringList{"--headless", "--device", "/dev/null", "--waveform", "@/no/w.csv"}
                                             << int(ExitCannotWrite) << "no such folder: @/no";
}

void TestHeadless::badInput()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    TWorkingFolder folder;
    QVERIFY(folder.IsValid());
    QFile file(folder.Path("f"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    const TResult result = Start(arguments, folder.Folder());
    QCOMPARE(result.ExitCode, exitCode);
    QCOMPARE(result.Out, QByteArray());
    QVERIFY2(result.Err.startsWith(QByteArray(CommandLine::ProgramName) + ": "), result.Err.constData());
    QCOMPARE(result.Err.count('\n'), 1);
    QVERIFY2(result.Err.contains(message.replace('@', folder.Folder()).toLocal8Bit()), result.Err.constData());
    // Nothing half-written: the folder holds what the test put there.
    QCOMPARE(QDir(folder.Folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"f"});
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
