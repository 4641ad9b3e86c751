// The Debian package as an operator gets it: built by CPack, unpacked with dpkg-deb into a
// temporary folder (never installed), its files, its dependencies, its program's version, its
// manual pages against the programs' --help, the guide file where the program looks for it, and
// lintian's verdict when lintian is there.

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int WaitMs = 300000; // CPack installs the build tree and looks up every library

// Runs a program to its end and returns its standard output; error says why when it failed.
QByteArray Output(const QString &program, const QStringList &arguments, QString &error)
{
    QProcess process;
    process.start(program, arguments);
    error.clear();
    if (!process.waitForFinished(WaitMs) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        error = program + " " + arguments.join(' ') + ": " + process.readAllStandardError()
                + process.readAllStandardOutput() + process.errorString();
    return process.readAllStandardOutput();
}

} // namespace

class TestPackage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void contents();
    void desktopEntry();
    void dependencies_data();
    void dependencies();
    void programPrintsItsVersion();
    void manPagesCoverHelp_data();
    void manPagesCoverHelp();
    void guideFileShipped();
    void serviceUnit();
    void lintianIsClean();

private:
    QByteArray Field(const char *name);

    QTemporaryDir FDir;
    QString FDeb, FRoot;
};

void TestPackage::initTestCase()
{
    QVERIFY(FDir.isValid());
    QString error;
    Output(CPACK_PATH, {"--config", CPACK_CONFIG, "-B", FDir.path()}, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QStringList debs = QDir(FDir.path()).entryList({"*.deb"}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    QVERIFY2(debs[0].startsWith("zarnmonitor_" ZARN_VERSION "_"), qPrintable(debs[0]));
    FDeb = FDir.filePath(debs[0]);
    FRoot = FDir.filePath("root");
    Output("dpkg-deb", {"-x", FDeb, FRoot}, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QByteArray TestPackage::Field(const char *name)
{
    QString error;
    const QByteArray value = Output("dpkg-deb", {"-f", FDeb, name}, error).trimmed();
    if (!error.isEmpty())
        qWarning("%s", qPrintable(error));
    return value;
}

void TestPackage::contents()
{
    // Exactly these files: no test program, library or build left-over comes along.
    QStringList files;
    QDirIterator it(FRoot, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(FRoot.size());
    files.sort();
    QCOMPARE(files, QStringList({"/lib/systemd/system/zarnmonitor@.service", "/usr/bin/zarnmonitor", "/usr/bin/zarnsim",
                                 "/usr/share/applications/zarnmonitor.desktop", "/usr/share/doc/zarnmonitor/README.md",
                                 "/usr/share/doc/zarnmonitor/changelog.gz", "/usr/share/doc/zarnmonitor/copyright",
                                 "/usr/share/doc/zarnmonitor/examples/telegraf.conf",
                                 "/usr/share/doc/zarnmonitor/examples/zarnmonitor.conf",
                                 "/usr/share/icons/hicolor/scalable/apps/zarnmonitor.svg",
                                 "/usr/share/lintian/overrides/zarnmonitor", "/usr/share/man/man1/zarnmonitor.1.gz",
                                 "/usr/share/man/man1/zarnsim.1.gz", "/usr/share/zarnmonitor/ZarnMonitor.txt"}));
    for (const char *program : {"/usr/bin/zarnmonitor", "/usr/bin/zarnsim"})
        QVERIFY2(QFileInfo(FRoot + program).isExecutable(), program);
    QCOMPARE(Field("Package"), QByteArray("zarnmonitor"));
    QCOMPARE(Field("Version"), QByteArray(ZARN_VERSION));
}

void TestPackage::desktopEntry()
{
    QSettings entry(FRoot + "/usr/share/applications/zarnmonitor.desktop", QSettings::IniFormat);
    entry.beginGroup("Desktop Entry");
    QCOMPARE(entry.value("Type").toString(), QString("Application"));
    QCOMPARE(entry.value("Name").toString(), QString("Zarn Monitor"));
    // The entry starts the packaged program, writing its logs among the user's documents rather
    // than wherever the desktop starts programs, and shows the packaged icon.
    const QStringList command = entry.value("Exec").toString().split(' ');
    QVERIFY(QFileInfo(FRoot + "/usr/bin/" + command.value(0)).isExecutable());
    QCOMPARE(command.mid(1), QStringList{"--documents"});
    QVERIFY(QFileInfo::exists(FRoot + "/usr/share/icons/hicolor/scalable/apps/" + entry.value("Icon").toString() + ".svg"));
    QCOMPARE(entry.value("Terminal").toString(), QString("false"));
}

void TestPackage::dependencies_data()
{
    QTest::addColumn<QByteArray>("package");
    for (const char *package : {"libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6",
                                "libqt6serialport6", "libpaho-mqtt1.3", "fonts-dejavu-core", "fonts-wqy-microhei",
                                "adduser"})
        QTest::newRow(package) << QByteArray(package);
}

void TestPackage::dependencies()
{
    QFETCH(QByteArray, package);
    QByteArrayList names;
    for (const QByteArray &dependency : Field("Depends").split(','))
        names << dependency.trimmed().split(' ').value(0);
    QVERIFY2(names.contains(package), Field("Depends").constData());
    // What the build needs stays out of an operator's machine.
    for (const QByteArray &name : names)
        QVERIFY2(!name.endsWith("-dev"), name.constData());
}

void TestPackage::programPrintsItsVersion()
{
    QString error;
    const QByteArray version = Output(FRoot + "/usr/bin/zarnmonitor", {"--version"}, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(version, QByteArray("Zarn Monitor " ZARN_VERSION "\n"));
}

void TestPackage::manPagesCoverHelp_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("zarnmonitor") << "zarnmonitor";
    QTest::newRow("zarnsim") << "zarnsim";
}

void TestPackage::manPagesCoverHelp()
{
    QFETCH(QString, program);
    QString error;
    const QString help = QString::fromUtf8(Output(FRoot + "/usr/bin/" + program, {"--help"}, error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QString page = QString::fromUtf8(Output("gzip", {"-dc", FRoot + "/usr/share/man/man1/" + program + ".1.gz"}, error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // The page as its reader sees the names: roff's escaped hyphens and font changes undone.
    page.replace(QStringLiteral("\\-"), QStringLiteral("-")).remove(QRegularExpression(R"(\\f[BIRP])"));
    QStringList options;
    const QRegularExpression option(R"((?<![\w-])(--?[a-z][a-z0-9-]*))");
    for (auto it = option.globalMatch(help); it.hasNext();)
        options << it.next().captured(1);
    options.removeDuplicates();
    QVERIFY2(options.contains("--help") && options.size() > 3, qPrintable(help));
    for (const QString &name : options) {
        const QRegularExpression inPage("(?<![\\w-])" + QRegularExpression::escape(name) + "(?![\\w-])");
        QVERIFY2(page.contains(inPage), qPrintable(name + " is not in the manual page of " + program));
    }
}

void TestPackage::guideFileShipped()
{
    // Where the installed program looks after the working folder, the same text as the built-in guide.
    QFile shipped(FRoot + ZARN_DATA_DIR "/ZarnMonitor.txt");
    QFile source(GUIDE_SOURCE);
    QVERIFY2(shipped.open(QIODevice::ReadOnly), qPrintable(shipped.fileName()));
    QVERIFY2(source.open(QIODevice::ReadOnly), qPrintable(source.fileName()));
    QCOMPARE(shipped.readAll(), source.readAll());
}

void TestPackage::serviceUnit()
{
    // The unit runs the packaged program headless on its instance's device as the user postinst
    // makes, with options the program has.
    QFile unit(FRoot + "/lib/systemd/system/zarnmonitor@.service");
    QVERIFY(unit.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(unit.readAll());
    const QRegularExpressionMatch exec = QRegularExpression("^ExecStart=(\\S+) (.*)$", QRegularExpression::MultilineOption).match(text);
    QVERIFY2(exec.hasMatch(), qPrintable(text));
    QVERIFY(QFileInfo(FRoot + exec.captured(1)).isExecutable());
    QString error;
    const QString help = QString::fromUtf8(Output(FRoot + "/usr/bin/zarnmonitor", {"--help"}, error));
    for (const QString &word : exec.captured(2).split(' '))
        if (word.startsWith("--"))
            QVERIFY2(help.contains(QRegularExpression("\\s" + word + "\\b")), qPrintable(word));
    QVERIFY(text.contains("\nUser=zarnmonitor\n") && text.contains("\nSupplementaryGroups=dialout\n"));
    const QByteArray scripts = Output("dpkg-deb", {"-I", FDeb, "postinst"}, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(scripts.contains("adduser --system") && scripts.contains(" zarnmonitor\n"));
    // systemd's own check, where it is there: the unit as the package installs it.
    const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
    if (analyze.isEmpty())
        return;
    // The unit as the package installs it, the program where the package was unpacked.
    const QString units = FDir.filePath("units");
    QVERIFY(QDir().mkpath(units));
    QFile copy(units + "/zarnmonitor@.service");
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.write(QString(text).replace("ExecStart=/usr/bin/", "ExecStart=" + FRoot + "/usr/bin/").toUtf8());
    copy.close();
    const QByteArray verdict = Output(analyze, {"verify", "--man=no", units + "/zarnmonitor@ttyS0.service"}, error);
    QVERIFY2(error.isEmpty(), qPrintable(error + verdict));
}

void TestPackage::lintianIsClean()
{
    const QString lintian = QStandardPaths::findExecutable("lintian");
    if (lintian.isEmpty())
        QSKIP("lintian is not installed (./zarn test installs it)");
    QProcess process;
    process.start(lintian, {"--display-info", FDeb});
    QVERIFY2(process.waitForFinished(WaitMs), qPrintable(process.errorString()));
    const QString report = QString::fromUtf8(process.readAllStandardOutput());
    // No error or warning, and in a build that is hardened none of the informational hardening
    // tags either (a sanitizer or debug build is not).
    const QString refused = ZARN_HARDENED ? "^[EW]: |hardening-" : "^[EW]: ";
    QVERIFY2(!report.contains(QRegularExpression(refused, QRegularExpression::MultilineOption)), qPrintable(report));
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             qPrintable(report + process.readAllStandardError()));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
