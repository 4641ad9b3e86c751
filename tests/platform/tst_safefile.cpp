// The one way the program saves a file: what lands where, what is refused and what it says.
// Every node the test writes at is its own, in a temporary folder.

#include "platform/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

enum class TPlace { Nothing, Regular, LinkToRegular, LinkToNothing, Fifo, LinkToFifo, Folder, Socket, Device, Unwritable, MissingFolder };

QString SystemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray Read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

mode_t KindAt(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

// Root writes in any folder: for the folder that cannot be written, it acts as nobody meanwhile.
class TUnprivileged {
public:
    explicit TUnprivileged(bool drop) { FDropped = drop && ::geteuid() == 0 && ::seteuid(65534) == 0; }
    ~TUnprivileged()
    {
        if (FDropped && ::seteuid(0) != 0)
            qFatal("cannot become root again");
    }
    TUnprivileged(const TUnprivileged &) = delete;
    TUnprivileged &operator=(const TUnprivileged &) = delete;
    bool Unprivileged() const { return ::geteuid() != 0; }

private:
    bool FDropped = false;
};

} // namespace

Q_DECLARE_METATYPE(TPlace)

class TestSafeFile : public QObject {
    Q_OBJECT
private slots:
    void save_data();
    void save();
};

void TestSafeFile::save_data()
{
    QTest::addColumn<TPlace>("place");
    QTest::addColumn<QString>("error"); // "@" stands for the folder; empty: saved
    const QString refused = "@/out.csv is not a regular file (%1); nothing was written.";
    QTest::newRow("nothing there yet") << TPlace::Nothing << QString();
    QTest::newRow("a regular file") << TPlace::Regular << QString();
    QTest::newRow("a link to a regular file") << TPlace::LinkToRegular << QString();
    QTest::newRow("a link to nothing yet") << TPlace::LinkToNothing << QString();
    QTest::newRow("a FIFO") << TPlace::Fifo << refused.arg("a FIFO");
    QTest::newRow("a link to a FIFO")
        << TPlace::LinkToFifo << "@/out.csv leads to @/fifo, which is not a regular file (a FIFO); nothing was written.";
    QTest::newRow("a folder") << TPlace::Folder << refused.arg("a folder");
    QTest::newRow("a socket") << TPlace::Socket << refused.arg("a socket");
    QTest::newRow("a device node") << TPlace::Device << refused.arg("a character device");
    QTest::newRow("a folder that cannot be written") << TPlace::Unwritable << SystemText(EACCES);
    QTest::newRow("a missing folder") << TPlace::MissingFolder << SystemText(ENOENT);
}

void TestSafeFile::save()
{
    QFETCH(TPlace, place);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path();
    error.replace('@', folder);
    QString path = dir.filePath("out.csv");
    QString written = path; // where the bytes must land
    const QByteArray old = "old\n";
    const QByteArray bytes = "new\n";
    switch (place) {
    case TPlace::Nothing:
        break;
    case TPlace::Regular: {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
        break;
    }
    case TPlace::LinkToRegular:
    case TPlace::LinkToNothing:
        written = dir.filePath("target.csv");
        if (place == TPlace::LinkToRegular) {
            QFile target(written);
            QVERIFY(target.open(QIODevice::WriteOnly) && target.write(old) == old.size());
        }
        // Relative, as a link is often made: it is read against its own folder.
        QVERIFY(::symlink("target.csv", QFile::encodeName(path).constData()) == 0);
        break;
    case TPlace::Fifo:
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        break;
    case TPlace::LinkToFifo:
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600) == 0);
        QVERIFY(QFile::link(dir.filePath("fifo"), path));
        break;
    case TPlace::Folder:
        QVERIFY(QDir(folder).mkdir("out.csv"));
        break;
    case TPlace::Socket: {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        if (size_t(name.size()) >= sizeof address.sun_path)
            QSKIP("the temporary folder's path is too long for a socket");
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(fd);
        QVERIFY(bound);
        break;
    }
    case TPlace::Device:
        // A node of our own in our own folder (the numbers of the null device): nothing writes to it.
        if (::geteuid() != 0)
            QSKIP("only root may make a device node");
        if (::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
            QSKIP(qPrintable("mknod: " + SystemText(errno)));
        break;
    case TPlace::Unwritable:
        QVERIFY(QDir(folder).mkdir("locked"));
        QVERIFY(QFile::setPermissions(dir.filePath("locked"), QFile::ReadOwner | QFile::ExeOwner));
        path = written = dir.filePath("locked/out.csv");
        break;
    case TPlace::MissingFolder:
        path = written = dir.filePath("none/out.csv");
        break;
    }
    const mode_t kind = KindAt(path);
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);

    SafeFile::TResult result;
    {
        TUnprivileged user(place == TPlace::Unwritable);
        if (place == TPlace::Unwritable && !user.Unprivileged())
            QSKIP("cannot act as an unprivileged user here");
        result = SafeFile::Save(path, bytes);
    }

    QCOMPARE(result.Error, error);
    QCOMPARE(result.Ok, error.isEmpty());
    // Nothing aside is left behind, and whatever was there is the same kind of node.
    if (place != TPlace::Nothing && place != TPlace::LinkToNothing)
        QCOMPARE(KindAt(path), kind);
    QStringList after = QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    if (place == TPlace::Nothing || place == TPlace::LinkToNothing)
        after.removeOne(QFileInfo(written).fileName());
    QCOMPARE(after, entries);
    if (result.Ok) {
        QCOMPARE(Read(written), bytes);
        if (place == TPlace::LinkToRegular || place == TPlace::LinkToNothing)
            QCOMPARE(QFileInfo(path).symLinkTarget(), written);
    } else if (place == TPlace::LinkToFifo) {
        QCOMPARE(KindAt(dir.filePath("fifo")), mode_t(S_IFIFO));
    }
}

QTEST_GUILESS_MAIN(TestSafeFile)
#include "tst_safefile.moc"
