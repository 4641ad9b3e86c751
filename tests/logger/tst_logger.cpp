// TDataLogger: batching, timer, file handling, and keeping lines across failed writes.

#include "logger/Cdatalogger.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include "tests/common/WorkingFolder.h"
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

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
    void missingLineEndIsSupplied_data();
    void missingLineEndIsSupplied();
    void unwritableFileKeepsLinesAndReportsOnce();
    void missingFolderKeepsLines();
    void diskFullKeepsLines();
    void partWrittenLineIsCutOff();
    void keptLinesAreBounded();

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

void TestLogger::missingLineEndIsSupplied_data()
{
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("no line end") << QByteArray("old") << QByteArray("old\r\nnew\r\n");
    QTest::newRow("LF") << QByteArray("old\n") << QByteArray("old\nnew\r\n");
    QTest::newRow("CR") << QByteArray("old\r") << QByteArray("old\rnew\r\n");
    QTest::newRow("empty file") << QByteArray() << QByteArray("new\r\n");
}

void TestLogger::missingLineEndIsSupplied()
{
    QFETCH(QByteArray, existing);
    QFETCH(QByteArray, expected);
    WriteAll(Path("log.csv"), existing);
    TDataLogger logger;
    logger.SetFileName(Path("log.csv"));
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

void TestLogger::diskFullKeepsLines()
{
    if (!QFile::exists("/dev/full"))
        QSKIP("no /dev/full to stand for a full disk");
    TDataLogger logger;
    Record(logger);
    logger.SetFileName("/dev/full");
    logger.SetMaxCount(2);
    AppendLines(logger, 1, 4);
    QCOMPARE(logger.Count(), 4);
    QCOMPARE(FErrors.size(), 1);
    logger.SetFileName(Path("log.csv"));
    logger.FlushData();
    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), Written(1, 4));
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

void TestLogger::keptLinesAreBounded()
{
    const int bound = TDataLogger::MaxKeptLines;
    const int total = bound + 1000;
    QVERIFY(QDir(FDir->Folder()).mkdir("log.csv"));
    TDataLogger logger;
    Record(logger);
    logger.SetFileName(Path("log.csv"));
    logger.SetMaxCount(1000);
    AppendLines(logger, 1, total);
    QCOMPARE(logger.Count(), bound);
    QCOMPARE(logger.Lines().first(), Line(total - bound + 1));
    QCOMPARE(FErrors.size(), 1);

    QVERIFY(QDir(FDir->Folder()).rmdir("log.csv"));
    logger.FlushData();
    QCOMPARE(TWorkingFolder::Read(Path("log.csv")), Written(total - bound + 1, total));
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
