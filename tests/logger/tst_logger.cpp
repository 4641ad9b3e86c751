// TDataLogger: batching, timer, file handling, keeping lines across failed writes, spilling
// them to rescue files, and two programs logging into one file.

#include "logger/Cdatalogger.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QRegularExpression>
#include "tests/common/WorkingFolder.h"
#include <QtTest>

#include <QStandardPaths>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

void WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray Line(int i)
{
    return QByteArray("line-") + QByteArray::number(i).rightJustified(6, '0');
}

// Lines from .. to, each followed by CR LF, as the file must hold them.
QByteArray Written(int from, int to)
{
    QByteArray bytes;
    for (int i = from; i <= to; ++i)
        bytes += Line(i) + "\r\n";
    return bytes;
}

void AppendLines(TDataLogger &logger, int from, int to)
{
    for (int i = from; i <= to; ++i)
        logger.Append(Line(i));
}

struct TErrorRecord {
    QObject *Sender;
    QString FileName;
    QString Error;
};

} // namespace

class TestLogger : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void defaults();
    void hundredthLineWritesTheBatch();
    void appendsAfterExistingContent();
    void maxCountOneOrLessWritesEveryLine_data();
    void maxCountOneOrLessWritesEveryLine();
    void emptyTickDoesNotTouchFile();
    void autoSaveTimerWritesWaitingLines();
    void deletedFileIsCreatedAgain();
    void relativeNameFollowsWorkingDirectory();
    void destructorWritesWaitingLines();
    void lineBytesWrittenUnchanged();
    void emptyFileNameWritesNothing();
    void saveDataKeepsLines();
    void loadData();
    void loadDataMissingFile();
    void lowerMaxCountWritesWaitingLines();
    void startOfAppendedLines_data();
    void startOfAppendedLines();
    void unwritableFileKeepsLinesAndReportsOnce();
    void missingFolderKeepsLines();
    void refusedTargetKeepsLines_data();
    void refusedTargetKeepsLines();
    void partWrittenLineIsCutOff();
    void backlogIsSpilled_data();
    void backlogIsSpilled();
    void rescueWritesWaitingLines();
    void rescueGoesToTheDataFolder_data();
    void rescueGoesToTheDataFolder();
    void sharedLogIsReportedOnce();
    void twoProcessesAppendToOneLog();

private:
    QString Path(const QString &name) const { return FDir->Path(name); }
    void Record(TDataLogger &logger)
    {
        logger.OnWriteError.Bind([this](QObject *sender, const QString &name, const QString &error) {
            FErrors.append({sender, name, error});
        });
        logger.OnWriteRecovered.Bind([this, &logger](QObject *sender) {
            QCOMPARE(sender, &logger);
            ++FRecoveries;
        });
    }

    std::unique_ptr<TWorkingFolder> FDir;
    QList<TErrorRecord> FErrors;
    int FRecoveries = 0;
};

void TestLogger::init()
{
    FDir = std::make_unique<TWorkingFolder>();
    QVERIFY(FDir->IsValid());
    FErrors.clear();
    FRecoveries = 0;
}

void TestLogger::cleanup()
{
    FDir.reset();
}

void TestLogger::defaults()
{
    TDataLogger logger;
    QCOMPARE(logger.FileName(), QString());
    QCOMPARE(logger.MaxCount(), 4);
    QCOMPARE(logger.AutoSaveTime(), 4);
    QCOMPARE(logger.TimerInterval(), 4000);
    QVERIFY(logger.TimerActive());
}

void TestLogger::hundredthLineWritesTheBatch()
{
    TDataLogger logger;
    logger.SetFileName(Path("Phase.csv"));
    logger.SetMaxCount(100);
    logger.SetAutoSaveTime(0);
    AppendLines(logger, 1, 99);
    QVERIFY(!QFile::exists(Path("Phase.csv")));
    QCOMPARE(logger.Count(), 99);
    logger.Append(Line(100));
    QCOMPARE(TWorkingFolder::Read(Path("Phase.csv")), Written(1, 100));
    QCOMPARE(logger.Count(), 0);
    AppendLines(logger, 101, 200);
    QCOMPARE(TWorkingFolder::Read(Path("Phase.csv")), Written(1, 200));
}

void TestLogger::appendsAfterExistingContent()
{
    WriteAll(Path("log.csv"), "old\r\n");
    TDataLogger logger;
    logger.SetFileName(Path("log.csv"));
    logger.Append("new");
    logger.FlushData();
    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), QByteArray("old\r\nnew\r\n"));
}

void TestLogger::maxCountOneOrLessWritesEveryLine_data()
{
    QTest::addColumn<int>("maxCount");
    QTest::newRow("1") << 1;
    QTest::newRow("0") << 0;
    QTest::newRow("-5") << -5;
}

void TestLogger::maxCountOneOrLessWritesEveryLine()
{
    QFETCH(int, maxCount);
    TDataLogger logger;
    logger.SetFileName(Path("log.csv"));
    logger.SetMaxCount(maxCount);
    logger.Append("a");
    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), QByteArray("a\r\n"));
    QCOMPARE(logger.Count(), 0);
    logger.Append("b");
    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), QByteArray("a\r\nb\r\n"));
}

void TestLogger::emptyTickDoesNotTouchFile()
{
    TDataLogger logger;
    logger.SetFileName(Path("log.csv"));
    logger.TimerOnTimer(nullptr);
    QVERIFY(!QFile::exists(Path("log.csv")));
    logger.FlushData();
    QVERIFY(!QFile::exists(Path("log.csv")));
}

void TestLogger::autoSaveTimerWritesWaitingLines()
{
    TDataLogger logger;
    logger.SetFileName(Path("log.csv"));
    logger.SetMaxCount(100);
    logger.SetTimerInterval(10);
    QVERIFY(logger.TimerActive());
    logger.Append("tick");
    QTRY_COMPARE_WITH_TIMEOUT(TWorkingFolder::Read(Path("log.csv")), QByteArray("tick\r\n"), 20000);
    QCOMPARE(logger.Count(), 0);

    logger.SetAutoSaveTime(0);
    QVERIFY(!logger.TimerActive());
    QCOMPARE(logger.TimerInterval(), 0);
    logger.SetAutoSaveTime(60);
    QVERIFY(logger.TimerActive());
    QCOMPARE(logger.TimerInterval(), 60000);
}

void TestLogger::deletedFileIsCreatedAgain()
{
    TDataLogger logger;
    logger.SetFileName(Path("log.csv"));
    logger.SetMaxCount(2);
    AppendLines(logger, 1, 2);
    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), Written(1, 2));
    QVERIFY(QFile::remove(Path("log.csv")));
    AppendLines(logger, 3, 4);
    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), Written(3, 4));
}

void TestLogger::relativeNameFollowsWorkingDirectory()
{
    QVERIFY(QDir(FDir->Folder()).mkdir("a"));
    QVERIFY(QDir(FDir->Folder()).mkdir("b"));
    TDataLogger logger;
    logger.SetFileName("log.csv");
    logger.SetMaxCount(1);
    QVERIFY(QDir::setCurrent(Path("a")));
    logger.Append("first");
    QVERIFY(QDir::setCurrent(Path("b")));
    logger.Append("second");
    QCOMPARE(TWorkingFolder::Read(Path("a/log.csv")), QByteArray("first\r\n"));
    QCOMPARE(TWorkingFolder::Read(Path("b/log.csv")), QByteArray("second\r\n"));
}

void TestLogger::destructorWritesWaitingLines()
{
    auto *logger = new TDataLogger;
    logger->SetFileName(Path("own.csv"));
    logger->SetMaxCount(100);
    AppendLines(*logger, 1, 3);
    QVERIFY(!QFile::exists(Path("own.csv")));
    delete logger;
    QCOMPARE(TWorkingFolder::Read(Path("own.csv")), Written(1, 3));

    // Destroyed with its owner.
    auto *owner = new QObject;
    auto *owned = new TDataLogger(owner);
    owned->SetFileName(Path("owned.csv"));
    owned->SetMaxCount(100);
    AppendLines(*owned, 4, 5);
    delete owner;
    QCOMPARE(TWorkingFolder::Read(Path("owned.csv")), Written(4, 5));
}

void TestLogger::lineBytesWrittenUnchanged()
{
    TDataLogger logger;
    logger.SetFileName(Path("log.csv"));
    logger.SetMaxCount(3);
    logger.Append("x\r\ny");
    logger.Append(QByteArray("a\0b\xff", 4));
    logger.Append("");
    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), QByteArray("x\r\ny\r\na\0b\xff\r\n\r\n", 14));
}

void TestLogger::emptyFileNameWritesNothing()
{
    TDataLogger logger;
    logger.SetMaxCount(2);
    logger.Append("a");
    logger.Append("b");
    QCOMPARE(logger.Count(), 0);
    logger.Append("c");
    logger.FlushData();
    QCOMPARE(logger.Count(), 0);
    QCOMPARE(QDir(FDir->Folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QVERIFY(FErrors.isEmpty());
}

void TestLogger::saveDataKeepsLines()
{
    TDataLogger logger;
    logger.SetFileName(Path("log.csv"));
    logger.SetMaxCount(100);
    AppendLines(logger, 1, 2);
    QVERIFY(logger.SaveData());
    QCOMPARE(logger.Count(), 2);
    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), Written(1, 2));
}

void TestLogger::loadData()
{
    WriteAll(Path("in.csv"), QByteArray("a\r\n\r\nb\nc\rd\0e\n", 13));
    TDataLogger logger;
    logger.SetFileName(Path("in.csv"));
    logger.Append("dropped");
    QVERIFY(logger.LoadData());
    QCOMPARE(logger.Lines(), (QList<QByteArray>{"a", "", "b", "c", "d"}));
    QCOMPARE(logger.MaxCount(), 5);
    QCOMPARE(logger.AutoSaveTime(), 0);
    QVERIFY(!logger.TimerActive());
    QCOMPARE(TWorkingFolder::Read(Path("in.csv")).size(), 13); // loading wrote nothing

    logger.Append("x");
    QCOMPARE(TWorkingFolder::Read(Path("in.csv")), QByteArray("a\r\n\r\nb\nc\rd\0e\na\r\n\r\nb\r\nc\r\nd\r\nx\r\n", 30));
}

void TestLogger::loadDataMissingFile()
{
    TDataLogger logger;
    logger.SetFileName(Path("none.csv"));
    logger.SetMaxCount(100);
    logger.Append("waiting");
    QVERIFY(!logger.LoadData());
    QCOMPARE(logger.Count(), 0);
    QCOMPARE(logger.MaxCount(), 100);
    QVERIFY(logger.TimerActive());
}

void TestLogger::lowerMaxCountWritesWaitingLines()
{
    TDataLogger logger;
    logger.SetFileName(Path("log.csv"));
    logger.SetMaxCount(100);
    AppendLines(logger, 1, 60);
    logger.SetMaxCount(60);
    QCOMPARE(logger.Count(), 60);
    QVERIFY(!QFile::exists(Path("log.csv")));
    logger.SetMaxCount(50);
    QCOMPARE(logger.Count(), 0);
    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), Written(1, 60));
}

void TestLogger::startOfAppendedLines_data()
{
    QTest::addColumn<QByteArray>("existing"); // null: no file
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("no line end") << QByteArray("old") << QByteArray() << QByteArray("old\r\nnew\r\n");
    QTest::newRow("LF") << QByteArray("old\n") << QByteArray() << QByteArray("old\nnew\r\n");
    QTest::newRow("CR") << QByteArray("old\r") << QByteArray() << QByteArray("old\rnew\r\n");
    QTest::newRow("empty file") << QByteArray("") << QByteArray() << QByteArray("new\r\n");
    // A header opens a file only: never again when lines are appended later.
    QTest::newRow("header, no file") << QByteArray() << QByteArray("a,b") << QByteArray("a,b\r\nnew\r\n");
    QTest::newRow("header, empty file") << QByteArray("") << QByteArray("a,b") << QByteArray("a,b\r\nnew\r\n");
    QTest::newRow("header, lines") << QByteArray("a,b\r\nold\r\n") << QByteArray("a,b")
                                   << QByteArray("a,b\r\nold\r\nnew\r\n");
    QTest::newRow("header, no line end") << QByteArray("old") << QByteArray("a,b") << QByteArray("old\r\nnew\r\n");
}

void TestLogger::startOfAppendedLines()
{
    QFETCH(QByteArray, existing);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, expected);
    if (!existing.isNull())
        WriteAll(Path("log.csv"), existing);
    TDataLogger logger;
    logger.SetFileName(Path("log.csv"));
    logger.SetHeader(header);
    logger.Append("new");
    logger.FlushData();
    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), expected);
}

void TestLogger::unwritableFileKeepsLinesAndReportsOnce()
{
    // A directory in the file's place cannot be opened for writing, not even by root.
    const QString name = Path("log.csv");
    QVERIFY(QDir(FDir->Folder()).mkdir("log.csv"));
    TDataLogger logger;
    Record(logger);
    logger.SetFileName(name);
    logger.SetMaxCount(3);
    AppendLines(logger, 1, 3);
    QCOMPARE(logger.Count(), 3);
    QCOMPARE(logger.KeptCount(), 3);
    QCOMPARE(FErrors.size(), 1);
    QCOMPARE(FErrors[0].Sender, &logger);
    QCOMPARE(FErrors[0].FileName, name);
    QVERIFY(!FErrors[0].Error.isEmpty());

    // The kept lines do not count toward the batch; the next batch fails again, silently.
    AppendLines(logger, 4, 5);
    QCOMPARE(logger.Count(), 5);
    logger.Append(Line(6));
    logger.TimerOnTimer(nullptr);
    QCOMPARE(logger.Count(), 6);
    QCOMPARE(FErrors.size(), 1);
    QCOMPARE(FRecoveries, 0);

    QVERIFY(QDir(FDir->Folder()).rmdir("log.csv"));
    AppendLines(logger, 7, 9);
    QCOMPARE(TWorkingFolder::Read(name), Written(1, 9));
    QCOMPARE(logger.Count(), 0);
    QVERIFY(!logger.WriteFailing());
    QCOMPARE(FRecoveries, 1);
    AppendLines(logger, 10, 12);
    QCOMPARE(FRecoveries, 1);

    // A new failure after a good write is reported again.
    QVERIFY(QFile::remove(name));
    QVERIFY(QDir(FDir->Folder()).mkdir("log.csv"));
    AppendLines(logger, 10, 12);
    QCOMPARE(FErrors.size(), 2);
    QCOMPARE(logger.Count(), 3);
}

void TestLogger::missingFolderKeepsLines()
{
    TDataLogger logger;
    Record(logger);
    logger.SetFileName("sub/log.csv");
    logger.SetMaxCount(100);
    AppendLines(logger, 1, 2);
    logger.FlushData();
    QCOMPARE(logger.Count(), 2);
    QCOMPARE(FErrors.size(), 1);
    QVERIFY(QDir(FDir->Folder()).mkdir("sub"));
    logger.TimerOnTimer(nullptr);
    QCOMPARE(TWorkingFolder::Read(Path("sub/log.csv")), Written(1, 2));
    QCOMPARE(logger.Count(), 0);
}

void TestLogger::refusedTargetKeepsLines_data()
{
    QTest::addColumn<QString>("target"); // what stands at log.csv
    QTest::addColumn<QString>("error");  // "@" stands for the folder
    const QString refused = "@/log.csv is not a regular file (%1); nothing was written.";
    QTest::newRow("a FIFO with a reader") << "fifo" << refused.arg("a FIFO");
    QTest::newRow("a link to a FIFO")
        << "link" << "@/log.csv leads to @/fifo, which is not a regular file (a FIFO); nothing was written.";
    QTest::newRow("a folder") << "folder" << refused.arg("a folder");
    QTest::newRow("a device node") << "device" << refused.arg("a character device");
}

void TestLogger::refusedTargetKeepsLines()
{
    QFETCH(QString, target);
    QFETCH(QString, error);
    error.replace('@', FDir->Folder());
    const QByteArray log = QFile::encodeName(Path("log.csv"));
    const QByteArray fifo = QFile::encodeName(Path(target == "link" ? "fifo" : "log.csv"));
    int reader = -1;
    if (target == "fifo" || target == "link") {
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        if (target == "link")
            QVERIFY(QFile::link(Path("fifo"), Path("log.csv")));
        // Someone reads it: a writer would get through.
        reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
    } else if (target == "folder") {
        QVERIFY(QDir(FDir->Folder()).mkdir("log.csv"));
    } else {
        // Our own node, with the null device's numbers, in our own folder.
        if (::geteuid() != 0)
            QSKIP("only root may make a device node");
        if (::mknod(log.constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
            QSKIP("no device nodes here");
    }
    TDataLogger logger;
    Record(logger);
    logger.SetFileName(Path("log.csv"));
    logger.SetMaxCount(2);
    AppendLines(logger, 1, 4);
    QCOMPARE(logger.Count(), 4);
    QCOMPARE(FErrors.size(), 1);
    QCOMPARE(FErrors[0].Error, error);
    if (reader >= 0) {
        char byte = 0;
        QVERIFY(::read(reader, &byte, 1) <= 0); // nothing came
        ::close(reader);
    }
    logger.SetFileName(Path("good.csv"));
    logger.FlushData();
    QCOMPARE(TWorkingFolder::Read(Path("good.csv")), Written(1, 4));
    QCOMPARE(FRecoveries, 1);
}

void TestLogger::partWrittenLineIsCutOff()
{
    // A file size limit makes the kernel write only part of a batch, as a filling disk does.
    const QByteArray head = "head\r\n";
    WriteAll(Path("log.csv"), head);
    const qint64 lineBytes = Written(1, 1).size();
    const rlim_t limit = rlim_t(head.size() + 2 * lineBytes + lineBytes / 2);

    TDataLogger logger;
    Record(logger);
    logger.SetFileName(Path("log.csv"));
    logger.SetMaxCount(5);

    struct rlimit saved {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < limit)
        QSKIP("file size limit already below the test's");
    const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = limit;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    AppendLines(logger, 1, 5);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedSignal);

    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), head + Written(1, 2));
    QCOMPARE(logger.Count(), 3);
    QCOMPARE(FErrors.size(), 1);
    logger.FlushData();
    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), head + Written(1, 5));
    QCOMPARE(logger.Count(), 0);
}

void TestLogger::backlogIsSpilled_data()
{
    // Rescue folders below the working folder; "blocked/sub" cannot be made (a file is in the
    // way) and "full" takes files but no bytes.
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QString>("savedIn");  // folder of the rescue file; empty: none takes them
    QTest::addColumn<bool>("fileTooLarge"); // no file may grow while the backlog builds up
    QTest::newRow("beside the log") << QStringList() << QString(".") << false;
    QTest::newRow("second folder") << QStringList{"blocked/sub", "second"} << QString("second") << false;
    QTest::newRow("no folder") << QStringList{"blocked/sub"} << QString() << false;
    QTest::newRow("rescue file unwritable") << QStringList{"full"} << QString() << true;
}

void TestLogger::backlogIsSpilled()
{
    QFETCH(QStringList, folders);
    QFETCH(QString, savedIn);
    QFETCH(bool, fileTooLarge);
    QVERIFY(TWorkingFolder::Write(Path("blocked"), "in the way"));
    QVERIFY(QDir(FDir->Folder()).mkdir("full"));
    QVERIFY(QDir(FDir->Folder()).mkdir("log.csv"));
    for (QString &folder : folders)
        folder = Path(folder);

    TDataLogger logger;
    Record(logger);
    struct TSpill {
        QString FileName;
        int32_t Count;
        QString Path;
    };
    QList<TSpill> spills;
    logger.OnSpilled.Bind([&](QObject *sender, const QString &name, int32_t count, const QString &path) {
        QCOMPARE(sender, &logger);
        spills.append({name, count, path});
    });
    QList<int32_t> drops;
    logger.OnDropped.Bind([&](QObject *, const QString &, int32_t count) { drops.append(count); });
    logger.SetFileName("log.csv");
    logger.SetRescueFolders(folders);
    logger.SetMaxKeptLines(20);
    logger.SetMaxCount(5);

    // The log fails from the first batch on; at 20 waiting lines the backlog goes to a rescue
    // file, or, with none to take it, the 5 lines beyond 20 at the next batch are dropped.
    struct rlimit saved {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
    if (fileTooLarge) {
        struct rlimit none = saved;
        none.rlim_cur = 0;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &none), 0);
    }
    AppendLines(logger, 1, 25);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedSignal);
    QCOMPARE(FErrors.size(), 1);

    QVERIFY(QDir(FDir->Folder()).rmdir("log.csv"));
    logger.FlushData();
    QCOMPARE(logger.Count(), 0);
    QCOMPARE(FRecoveries, 1);
    QStringList left = QDir(FDir->Folder()).entryList(QDir::Files);
    left.removeAll("blocked");
    left.removeAll("log.csv");
    if (savedIn.isEmpty()) {
        QVERIFY(spills.isEmpty());
        QCOMPARE(drops, QList<int32_t>{5});
        QCOMPARE(logger.DroppedCount(), 5);
        QCOMPARE(TWorkingFolder::Read(Path("log.csv")), Written(6, 25));
        QCOMPARE(logger.WrittenCount(), 20);
        QCOMPARE(left, QStringList());
        QCOMPARE(QDir(Path("full")).entryList(QDir::Files), QStringList());
        return;
    }
    QCOMPARE(spills.size(), 1);
    QCOMPARE(spills[0].FileName, QString("log.csv"));
    QCOMPARE(spills[0].Count, 20);
    const QFileInfo rescue(spills[0].Path);
    QCOMPARE(rescue.absolutePath(), QDir(Path(savedIn)).absolutePath());
    QVERIFY2(QRegularExpression("^log-\\d{8}-\\d{6}\\.csv$").match(rescue.fileName()).hasMatch(),
             qPrintable(rescue.fileName()));
    QCOMPARE(TWorkingFolder::Read(rescue.filePath()), Written(1, 20));
    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), Written(21, 25));
    QVERIFY(drops.isEmpty());
    QCOMPARE(logger.DroppedCount(), 0);
    QCOMPARE(logger.WrittenCount(), 5);
    QCOMPARE(logger.RescuedCount(), 20);
}

void TestLogger::rescueWritesWaitingLines()
{
    QVERIFY(QDir(FDir->Folder()).mkdir("log.csv"));
    TDataLogger logger;
    logger.SetFileName(Path("log.csv"));
    logger.SetMaxCount(100);
    QString savedIn = "unchanged";
    QVERIFY(logger.Rescue(savedIn));
    QCOMPARE(savedIn, QString());

    AppendLines(logger, 1, 3);
    logger.FlushData();
    QCOMPARE(logger.Count(), 3);
    QVERIFY(logger.Rescue(savedIn));
    QCOMPARE(QFileInfo(savedIn).absolutePath(), QFileInfo(FDir->Folder()).absoluteFilePath());
    QCOMPARE(TWorkingFolder::Read(savedIn), Written(1, 3));
    QCOMPARE(logger.Count(), 0);
    QCOMPARE(logger.KeptCount(), 0);
    QCOMPARE(logger.WrittenCount(), 0);
}

void TestLogger::rescueGoesToTheDataFolder_data()
{
    QTest::addColumn<QString>("fileName"); // "@" stands for the working folder
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("beside"); // the rescue file goes beside the log, else to the data folder
    QTest::newRow("log folder in place") << "@/logs/log.csv" << "none" << true;
    QTest::newRow("log folder deleted") << "@/logs/log.csv" << "deleted" << false;
    QTest::newRow("log folder now a file") << "@/logs/log.csv" << "file" << false;
    QTest::newRow("working folder deleted, relative name") << "log.csv" << "working" << false;
}

void TestLogger::rescueGoesToTheDataFolder()
{
    QFETCH(QString, fileName);
    QFETCH(QString, fault);
    QFETCH(bool, beside);
    QTemporaryDir data;
    QVERIFY(data.isValid());
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QVERIFY2(dataFolder.startsWith(data.path() + '/'), qPrintable(dataFolder));

    const QString working = FDir->Folder();
    QVERIFY(QDir(working).mkdir("logs"));
    TDataLogger logger;
    logger.SetFileName(fileName.replace('@', working));
    logger.SetMaxCount(100);
    AppendLines(logger, 1, 3);
    if (fault == "deleted") {
        QVERIFY(QDir(Path("logs")).removeRecursively());
    } else if (fault == "file") {
        QVERIFY(QDir(Path("logs")).removeRecursively());
        WriteAll(Path("logs"), "a file");
    } else if (fault == "working") {
        QVERIFY(QDir(working).removeRecursively());
    }
    logger.FlushData();
    QCOMPARE(logger.Count(), fault == "none" ? 0 : 3);
    if (fault == "none")
        AppendLines(logger, 1, 3); // the log was written: these wait for the rescue
    QString savedIn;
    QVERIFY(logger.Rescue(savedIn));
    if (!savedData.isNull())
        qputenv("XDG_DATA_HOME", savedData);
    else
        qunsetenv("XDG_DATA_HOME");

    QCOMPARE(QFileInfo(savedIn).path(), beside ? working + "/logs" : dataFolder);
    QVERIFY2(QRegularExpression("^log-\\d{8}-\\d{6}\\.csv$").match(QFileInfo(savedIn).fileName()).hasMatch(),
             qPrintable(savedIn));
    QCOMPARE(TWorkingFolder::Read(savedIn), Written(1, 3));
    // Nothing went to a folder that was only found by accident, nor was the log's made again.
    QVERIFY(!QFile::exists("/" + QFileInfo(savedIn).fileName()));
    QCOMPARE(QFileInfo(Path("logs")).isDir(), fault == "none");
}

void TestLogger::sharedLogIsReportedOnce()
{
    TDataLogger first;
    TDataLogger second;
    QStringList shared;
    first.OnShared.Bind([&](QObject *, const QString &name) { shared.append("first " + name); });
    second.OnShared.Bind([&](QObject *sender, const QString &name) {
        QCOMPARE(sender, &second);
        shared.append("second " + name);
    });
    for (TDataLogger *logger : {&first, &second}) {
        logger->SetFileName(Path("log.csv"));
        logger->SetMaxCount(1);
    }
    first.Append("a");
    second.Append("b");
    first.Append("c");
    second.Append("d");
    QCOMPARE(shared, QStringList{"second " + Path("log.csv")});
    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), QByteArray("a\r\nb\r\nc\r\nd\r\n"));

    // Each logger's own file is not shared.
    second.SetFileName(Path("other.csv"));
    second.Append("e");
    QCOMPARE(shared.size(), 1);
}

void TestLogger::twoProcessesAppendToOneLog()
{
    // Two programs log 20,000 lines each into one file in small batches, at the same time.
    const int count = 20000;
    const QString log = Path("log.csv");
    QProcess writers[2];
    const char *tags[2] = {"A", "B"};
    for (int i = 0; i < 2; ++i) {
        writers[i].setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writers[i].start(LOG_WRITER, {log, tags[i], QString::number(count), "7"});
        QVERIFY2(writers[i].waitForStarted(), qPrintable(writers[i].errorString()));
    }
    // Both are loaded and waiting before either begins.
    for (QProcess &writer : writers) {
        QVERIFY(QTest::qWaitFor([&writer] { return writer.canReadLine() || writer.waitForReadyRead(100); }, 60000));
        QCOMPARE(writer.readLine(), QByteArray("ready\n"));
    }
    for (QProcess &writer : writers)
        writer.write("go\n");
    for (QProcess &writer : writers)
        QVERIFY(writer.waitForBytesWritten(60000));
    QStringList reports;
    for (QProcess &writer : writers) {
        QVERIFY(writer.waitForFinished(300000));
        reports << QString::fromLatin1(writer.readAllStandardOutput().trimmed());
        QCOMPARE(writer.exitStatus(), QProcess::NormalExit);
        QCOMPARE(writer.exitCode(), 0);
    }

    const QByteArray text = TWorkingFolder::Read(log);
    QVERIFY(text.endsWith("\r\n"));
    const QList<QByteArray> lines = text.left(text.size() - 1).split('\n');
    QCOMPARE(lines.size(), 2 * count);
    int next[2] = {1, 1};
    int switches = 0;
    char previous = 0;
    for (const QByteArray &line : lines) {
        // Each line whole, each program's lines in its own order.
        QVERIFY2(line.size() == 9 && line.endsWith('\r') && (line[0] == 'A' || line[0] == 'B'), line.constData());
        const int writer = line[0] - 'A';
        QCOMPARE(line.mid(2, 6).toInt(), next[writer]++);
        switches += previous != 0 && previous != line[0];
        previous = line[0];
    }
    QCOMPARE(next[0], count + 1);
    QCOMPARE(next[1], count + 1);
    qInfo("writers: %s; the file switches between them %d times", qPrintable(reports.join(", ")), switches);
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
