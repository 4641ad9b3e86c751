// The user's guide and About window: the built-in guide, guide files, the tree's images and
// buttons, printing to a PDF file, the About page's auto-close, and the main window's openers.

#include "app/Unitmain.h"
#include "guide/GuideFile.h"
#include "guide/Unitmanual.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/WorkingFolder.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QtTest>

namespace {

const QString GuideCaption = QStringLiteral("User's Guide...");

// The tree as "text" lines joined by '|', each with a '.' per level.
QString Shape(QTreeWidget *tree)
{
    QStringList lines;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        int depth = 0;
        for (const QTreeWidgetItem *p = (*it)->parent(); p; p = p->parent())
            ++depth;
        lines << QString(depth, u'.') + (*it)->text(0);
    }
    return lines.join(u'|');
}

QList<QTreeWidgetItem *> Nodes(QTreeWidget *tree)
{
    QList<QTreeWidgetItem *> nodes;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        nodes << *it;
    return nodes;
}

// Every parent shows the image given, every leaf image 2 (or every node none at all).
bool ImagesAre(QTreeWidget *tree, int parentImage, int leafImage)
{
    for (QTreeWidgetItem *node : Nodes(tree))
        if (TFormManual::ImageIndex(node) != (node->childCount() > 0 ? parentImage : leafImage))
            return false;
    return true;
}

QString Run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return QStringLiteral("(%1 did not run: %2)").arg(program, process.errorString());
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

class TestGuide : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void builtInGuide();
    void guideFileLoads_data();
    void guideFileLoads();
    void guideFileFound_data();
    void guideFileFound();
    void hugeFilesAreCut_data();
    void hugeFilesAreCut();
    void binaryFileOpens();
    void expandAndCollapse();
    void buttonsFollowWidth_data();
    void buttonsFollowWidth();
    void printing_data();
    void printing();
    void printedLinesKeepTheirIndent_data();
    void printedLinesKeepTheirIndent();
    void aboutCloses_data();
    void aboutCloses();
    void openersShowOnePage_data();
    void openersShowOnePage();
    void findGoesRoundTheTree_data();
    void findGoesRoundTheTree();
    void builtInGuideFindsNewTopics_data();
    void builtInGuideFindsNewTopics();

private:
    std::unique_ptr<TWorkingFolder> FFolder;
    const QString FInstalledFolder = GuideDataFolder();
};

void TestGuide::init()
{
    FFolder = std::make_unique<TWorkingFolder>();
    QVERIFY(FFolder->IsValid());
    // Whatever this machine has installed stays out of the tests.
    QVERIFY(QDir().mkpath(FFolder->Path("installed")));
    SetGuideDataFolder(FFolder->Path("installed"));
    QVERIFY(QDir().mkpath(FFolder->Path("program")));
    SetGuideProgramFolder(FFolder->Path("program"));
}

void TestGuide::cleanup()
{
    SetGuideDataFolder(FInstalledFolder);
    SetGuideProgramFolder({});
    FFolder.reset();
}

void TestGuide::builtInGuide()
{
    TMessageCapture messages;
    TFormManual form(nullptr, GuideCaption, TFormManual::GuidePage);
    QCOMPARE(form.TreeView1->topLevelItemCount(), 4);
    QCOMPARE(Nodes(form.TreeView1).size(), 255);
    QCOMPARE(form.TreeView1->topLevelItem(3)->text(0), QStringLiteral("Status Bar"));
    for (QTreeWidgetItem *node : Nodes(form.TreeView1))
        QVERIFY(!node->isExpanded());
    QVERIFY(ImagesAre(form.TreeView1, TFormManual::ImageCollapsed, TFormManual::ImageLeaf));
    QCOMPARE(form.PageControl1->currentWidget(), form.TSManual);
    QCOMPARE(form.size(), QSize(800, 600));
    QVERIFY(messages.Messages.isEmpty());
}

void TestGuide::guideFileLoads_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QString>("message");

    QTest::newRow("tabs 0 1 2 1 0") << QByteArray("A\n\tB\n\t\tC\n\tD\nE\n") << "A|.B|..C|.D|E" << "";
    QTest::newRow("spaces like tabs") << QByteArray("A\n B\n\t C\n") << "A|.B|..C" << "";
    QTest::newRow("first line two spaces in") << QByteArray("  A\nB\n\tC\n") << "A|B|.C" << "";
    QTest::newRow("two levels too deep") << QByteArray("A\n\tB\n\t\t\tC\nD\n") << "A|.B"
                                         << "Invalid level (3) for item \"C\"";
    QTest::newRow("CR") << QByteArray("A\r\tB\rC") << "A|.B|C" << "";
    QTest::newRow("LF") << QByteArray("A\n\tB\nC\n") << "A|.B|C" << "";
    QTest::newRow("CR LF") << QByteArray("A\r\n\tB\r\nC\r\n") << "A|.B|C" << "";
    QTest::newRow("mixed line ends") << QByteArray("A\r\n\tB\n\tC\rD") << "A|.B|.C|D" << "";
    QTest::newRow("zero byte in the middle") << QByteArray("A\n\tB\0\n\tC\n", 10) << "A|.B" << "";
    QTest::newRow("empty line in the middle") << QByteArray("A\n\tB\n\n\tC\n") << "A|.B||.C" << "";
    QTest::newRow("empty line at the end") << QByteArray("A\n\n") << "A|" << "";
    QTest::newRow("empty file") << QByteArray() << "" << "";
    QTest::newRow("UTF-8") << QByteArray("Gr\xc3\xbc\xc3\x9f""e\n\t25 \xe2\x84\x83\n") << "Grüße|.25 ℃" << "";
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xef\xbb\xbf""A\n\tB\n") << "A|.B" << "";
    QTest::newRow("Latin-1") << QByteArray("Gr\xfc\xdf""e\n\t25 \xb0""C\n") << "Grüße|.25 °C" << "";
}

void TestGuide::guideFileLoads()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, shape);
    QFETCH(QString, message);
    QVERIFY(TWorkingFolder::Write(GuideFileName, file));
    TMessageCapture messages;
    TFormManual form(nullptr, GuideCaption, TFormManual::GuidePage);
    QCOMPARE(Shape(form.TreeView1), shape);
    QCOMPARE(messages.Texts(), message.isEmpty() ? QStringList() : QStringList{message});
    if (message.isEmpty()) {
        QVERIFY(ImagesAre(form.TreeView1, TFormManual::ImageCollapsed, TFormManual::ImageLeaf));
    } else {
        QCOMPARE(messages.Messages[0].Caption, QStringLiteral("ERROR"));
        QVERIFY(ImagesAre(form.TreeView1, -1, -1));
    }
    QCOMPARE(form.PageControl1->currentWidget(), form.TSManual);
}

void TestGuide::guideFileFound_data()
{
    QTest::addColumn<QStringList>("places"); // where a guide file is: working, program, installed
    QTest::addColumn<QString>("firstNode");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("working folder") << QStringList{"working"} << "working" << "ZarnMonitor.txt";
    QTest::newRow("beside the program") << QStringList{"program"} << "program" << "program/ZarnMonitor.txt";
    QTest::newRow("installed") << QStringList{"installed"} << "installed" << "installed/ZarnMonitor.txt";
    QTest::newRow("working folder first") << QStringList{"working", "program", "installed"} << "working"
                                          << "ZarnMonitor.txt";
    QTest::newRow("program before installed") << QStringList{"program", "installed"} << "program"
                                              << "program/ZarnMonitor.txt";
    QTest::newRow("none: built in") << QStringList() << "Functions" << "ZarnMonitor.txt";
}

void TestGuide::guideFileFound()
{
    QFETCH(QStringList, places);
    QFETCH(QString, firstNode);
    QFETCH(QString, fileName);
    SetGuideProgramFolder({});
    QCOMPARE(GuideProgramFolder(), QCoreApplication::applicationDirPath()); // unless a test says otherwise
    SetGuideProgramFolder(FFolder->Path("program"));
    for (const QString &place : places)
        QVERIFY(TWorkingFolder::Write(place == "working" ? GuideFileName : FFolder->Path(place + "/" + GuideFileName),
                                      place.toLatin1() + "\n\tnode\n"));
    TMessageCapture messages;
    TFormManual form(nullptr, GuideCaption, TFormManual::GuidePage);
    QCOMPARE(form.TreeView1->topLevelItem(0)->text(0), firstNode);
    QCOMPARE(form.FGuideFileName, fileName.contains('/') ? FFolder->Path(fileName) : fileName);
    QVERIFY(messages.Messages.isEmpty());
}

void TestGuide::hugeFilesAreCut_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("nodes");
    QTest::addColumn<int>("lastLength");

    QTest::newRow("20000 lines") << QByteArray("line\n").repeated(20000) << GuideMaxNodes << 4;
    QTest::newRow("2 MiB in lines of 1 KiB") << (QByteArray(1023, 'x') + '\n').repeated(2048) << 1024 << 1023;
    QTest::newRow("3 MiB in one line") << QByteArray(3 * 1024 * 1024, 'x') << 1 << GuideMaxText;
    QByteArray deep;
    for (int i = 0; i < 2000; ++i)
        deep += QByteArray(i, '\t') + "x\n";
    QTest::newRow("each line one deeper") << deep << 1446 << 1;
}

void TestGuide::hugeFilesAreCut()
{
    QFETCH(QByteArray, file);
    QFETCH(int, nodes);
    QFETCH(int, lastLength);
    QVERIFY(TWorkingFolder::Write(GuideFileName, file));
    TMessageCapture messages;
    TFormManual form(nullptr, GuideCaption, TFormManual::GuidePage);
    const QList<QTreeWidgetItem *> all = Nodes(form.TreeView1);
    QCOMPARE(all.size(), nodes);
    QCOMPARE(all.last()->text(0).size(), lastLength);
    QCOMPARE(messages.Texts(),
             QStringList{QStringLiteral("The guide file \"ZarnMonitor.txt\" is too large: only its first %1 %2 "
                                        "shown, at most 1024 characters of each.")
                             .arg(nodes)
                             .arg(nodes == 1 ? "line is" : "lines are")});
    form.show();
    form.BtnFullExpand->click();
    QVERIFY(all.last()->parent() == nullptr || all.last()->parent()->isExpanded());
}

void TestGuide::binaryFileOpens()
{
    QByteArray noise(2 * 1024 * 1024, '\0');
    QRandomGenerator random(14);
    for (char &c : noise)
        c = static_cast<char>(1 + random.bounded(255)); // no zero byte to end the text early
    QVERIFY(TWorkingFolder::Write(GuideFileName, noise));
    TMessageCapture messages;
    TFormManual form(nullptr, GuideCaption, TFormManual::GuidePage);
    QVERIFY(Nodes(form.TreeView1).size() <= GuideMaxNodes);
    QVERIFY(!messages.Messages.isEmpty());
    form.show();
    form.BtnFullExpand->click();
}

void TestGuide::expandAndCollapse()
{
    TFormManual form(nullptr, GuideCaption, TFormManual::GuidePage);
    form.show();
    QTreeWidgetItem *parent = form.TreeView1->topLevelItem(0);
    QTreeWidgetItem *leaf = parent->child(0)->child(0);
    QCOMPARE(leaf->childCount(), 0);
    parent->setExpanded(true);
    QCOMPARE(TFormManual::ImageIndex(parent), TFormManual::ImageExpanded);
    parent->setExpanded(false);
    QCOMPARE(TFormManual::ImageIndex(parent), TFormManual::ImageCollapsed);
    leaf->setExpanded(true);
    leaf->setExpanded(false);
    QCOMPARE(TFormManual::ImageIndex(leaf), TFormManual::ImageLeaf);

    form.BtnFullExpand->click();
    for (QTreeWidgetItem *node : Nodes(form.TreeView1))
        QVERIFY(node->isExpanded() || node->childCount() == 0);
    QVERIFY(ImagesAre(form.TreeView1, TFormManual::ImageExpanded, TFormManual::ImageLeaf));
    form.BtnFullCollapse->click();
    for (QTreeWidgetItem *node : Nodes(form.TreeView1))
        QVERIFY(!node->isExpanded());
    QVERIFY(ImagesAre(form.TreeView1, TFormManual::ImageCollapsed, TFormManual::ImageLeaf));
}

void TestGuide::buttonsFollowWidth_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<int>>("lefts");
    QTest::newRow("800") << 800 << QList<int>{60, 240, 420, 600};
    QTest::newRow("1100") << 1100 << QList<int>{120, 360, 600, 840};
    QTest::newRow("500") << 500 << QList<int>{0, 120, 240, 360};
}

void TestGuide::buttonsFollowWidth()
{
    QFETCH(int, width);
    QFETCH(QList<int>, lefts);
    TFormManual form(nullptr, GuideCaption, TFormManual::GuidePage);
    form.show();
    form.resize(width, 600);
    const QList<int> shown{form.BtnFullExpand->x(), form.BtnFullCollapse->x(), form.BtnManualPrint->x(),
                           form.BtnManualClose->x()};
    QCOMPARE(shown, lefts);
}

void TestGuide::printing_data()
{
    QTest::addColumn<QString>("guideFile"); // where the guide file is; empty for none
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<QString>("pdf");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("printed"); // lines the PDF shows

    const QStringList fromFile{"Functions", "Step 1: Connect", "Grüße", "Menu"};
    QTest::newRow("file to PDF") << "ZarnMonitor.txt" << true << "guide.pdf" << QStringList() << fromFile;
    QTest::newRow("file beside the program") << "program/ZarnMonitor.txt" << true << "guide.pdf" << QStringList()
                                             << fromFile;
    QTest::newRow("installed file to PDF") << "installed/ZarnMonitor.txt" << true << "guide.pdf" << QStringList()
                                           << fromFile;
    // No file anywhere: the built-in guide the window shows is printed; no box.
    QTest::newRow("no file: built-in guide") << "" << true << "guide.pdf" << QStringList()
                                             << QStringList{"Functions", "Prepare Communication interface",
                                                            "Panel 9: PRF"};
    QTest::newRow("dialog cancelled") << "ZarnMonitor.txt" << false << "guide.pdf" << QStringList() << QStringList();
    QTest::newRow("PDF cannot be written")
        << "ZarnMonitor.txt" << true << "no-such-folder/guide.pdf"
        << QStringList{QStringLiteral("Cannot print \"ZarnMonitor.txt\" on the chosen printer.")} << QStringList();
}

void TestGuide::printing()
{
    QFETCH(QString, guideFile);
    QFETCH(bool, confirmed);
    QFETCH(QString, pdf);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, printed);
    const QByteArray guide("Functions\n\tStep 1: Connect\n\t\tGr\xc3\xbc\xc3\x9f""e\nMenu\n");
    if (!guideFile.isEmpty())
        QVERIFY(TWorkingFolder::Write(FFolder->Path(guideFile), guide));
    int dialogs = 0;
    const Platform::TPrintDialogSink previous = Platform::SetPrintDialogSink([&](QPrinter *printer) {
        ++dialogs;
        printer->setOutputFormat(QPrinter::PdfFormat); // as the operator picking a PDF printer
        printer->setOutputFileName(FFolder->Path(pdf));
        return confirmed;
    });
    TMessageCapture shown;
    {
        TFormManual form(nullptr, GuideCaption, TFormManual::GuidePage);
        form.BtnManualPrint->click();
    }
    Platform::SetPrintDialogSink(previous);

    QCOMPARE(shown.Texts(), messages);
    QCOMPARE(dialogs, 1);
    QCOMPARE(QFile::exists(FFolder->Path(pdf)), !printed.isEmpty());
    if (!printed.isEmpty()) {
        const QString text = Run("pdftotext", {"-layout", FFolder->Path(pdf), "-"});
        for (const QString &line : printed)
            QVERIFY2(text.contains(line), qPrintable(text));
        QVERIFY(Run("pdfinfo", {FFolder->Path(pdf)}).contains(QRegularExpression("Title: +User's Guide\n")));
    }
}

void TestGuide::printedLinesKeepTheirIndent_data()
{
    QTest::addColumn<QByteArray>("indent"); // of the long line, one level below a top-level line
    QTest::addColumn<int>("levels");        // tab stops it starts at
    QTest::newRow("one tab") << QByteArray("\t") << 1;
    QTest::newRow("two tabs") << QByteArray("\t\t") << 2;
    QTest::newRow("eight spaces") << QByteArray("        ") << 0; // in by eight spaces, less than a tab stop
}

void TestGuide::printedLinesKeepTheirIndent()
{
    QFETCH(QByteArray, indent);
    QFETCH(int, levels);
    // A line far longer than the page is wide: it wraps over several printed lines.
    QByteArray words;
    for (int i = 1; i <= 60; ++i)
        words += "word" + QByteArray::number(i) + " ";
    QByteArray guide = "Top\n";
    for (int depth = 1; depth < indent.size(); ++depth)
        guide += indent.left(depth) + "Level\n";
    guide += indent + words.trimmed() + "\nEnd\n";
    QVERIFY(TWorkingFolder::Write(GuideFileName, guide));
    const QString pdf = FFolder->Path("indent.pdf");
    const Platform::TPrintDialogSink previous = Platform::SetPrintDialogSink([&](QPrinter *printer) {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        return true;
    });
    {
        TMessageCapture shown;
        TFormManual form(nullptr, GuideCaption, TFormManual::GuidePage);
        form.BtnManualPrint->click();
    }
    Platform::SetPrintDialogSink(previous);

    // Each word where the PDF puts it: the left edge of the first word of every printed line.
    const QString boxes = Run("pdftotext", {"-bbox", pdf, "-"});
    const QRegularExpression word(QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\"[^>]*>([^<]*)</word>"));
    QMap<double, double> lineStarts; // y -> smallest x
    double top = -1, wrapped = -1;
    for (auto it = word.globalMatch(boxes); it.hasNext();) {
        const auto m = it.next();
        const double x = m.captured(1).toDouble(), y = m.captured(2).toDouble();
        if (m.captured(3) == "Top")
            top = x;
        if (m.captured(3).startsWith("word"))
            lineStarts[y] = lineStarts.contains(y) ? std::min(lineStarts[y], x) : x;
    }
    QVERIFY2(top >= 0, qPrintable(boxes));
    QVERIFY2(lineStarts.size() >= 2, qPrintable(boxes)); // it did wrap
    wrapped = lineStarts.first();
    for (double x : lineStarts)
        QVERIFY2(qAbs(x - wrapped) < 0.5, qPrintable(QString("%1 against %2").arg(x).arg(wrapped)));
    QVERIFY(wrapped > top);
    // A tab reaches a tab stop, well in from the margin; eight spaces stay short of the first.
    QCOMPARE(wrapped - top > 20 * levels, true);
    QVERIFY(levels > 0 || wrapped - top < 40);
}

void TestGuide::aboutCloses_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("by itself") << "timer";
    QTest::newRow("Close button") << "button";
    QTest::newRow("title bar") << "title bar";
}

void TestGuide::aboutCloses()
{
    QFETCH(QString, how);
    TFormManual form(nullptr, QStringLiteral("About ZarnMonitor..."), TFormManual::AboutPage);
    QCOMPARE(form.PageControl1->currentWidget(), form.TSAbout);
    QCOMPARE(form.size(), QSize(380, 360));
    QCOMPARE(form.TimerAutoClose->interval(), 10000);
    QVERIFY(!form.TimerAutoClose->isActive());
    if (how == "timer")
        form.TimerAutoClose->setInterval(50); // the same path, without a 10-second wait
    form.show();
    QVERIFY(form.TimerAutoClose->isActive());
    if (how == "button")
        form.BtnAboutClose->click();
    else if (how == "title bar")
        form.close();
    QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 10000);
    QVERIFY(!form.TimerAutoClose->isActive()); // nothing left to fire later
}

void TestGuide::openersShowOnePage_data()
{
    QTest::addColumn<QString>("opener");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("page");
    QTest::newRow("guide menu item") << "mmUsersGuide" << GuideCaption << 1;
    QTest::newRow("guide tool button") << "TB_UsersGuide" << GuideCaption << 1;
    QTest::newRow("about menu item") << "mmAbout" << "About ZarnMonitor..." << 2;
}

void TestGuide::openersShowOnePage()
{
    QFETCH(QString, opener);
    QFETCH(QString, caption);
    QFETCH(int, page);
    qputenv("ZARN_COM1", "/nonexistent/zarn-no-such-port");
    TMessageCapture messages;
    TFormMain main;
    main.show();
    main.mmCommunicationClick();
    QWidget *mainPage = main.PageControl1->currentWidget();

    // Runs inside the modal loop: notes what is shown and closes it as the operator would.
    QString shownCaption;
    int shownPage = 0;
    bool modal = false;
    int columnWidth = 0, rowsNeed = 0;
    QTimer closer;
    closer.setInterval(10);
    connect(&closer, &QTimer::timeout, [&] {
        auto *form = qobject_cast<TFormManual *>(QApplication::activeModalWidget());
        if (!form)
            return;
        closer.stop();
        shownCaption = form->windowTitle();
        shownPage = form->PageControl1->currentWidget() == form->TSManual ? 1 : 2;
        modal = form->isModal();
        QTreeWidget *tree = form->TreeView1;
        columnWidth = tree->columnWidth(0);
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            rowsNeed = qMax(rowsNeed, tree->indentation() + tree->style()->pixelMetric(QStyle::PM_SmallIconSize) +
                                          tree->fontMetrics().horizontalAdvance(tree->topLevelItem(i)->text(0)));
        (shownPage == 1 ? form->BtnManualClose : form->BtnAboutClose)->click();
    });
    closer.start();
    if (opener == "TB_UsersGuide")
        main.TB_UsersGuide->click();
    else
        main.findChild<QAction *>(opener)->trigger();

    QCOMPARE(shownCaption, caption);
    QCOMPARE(shownPage, page);
    QVERIFY(modal);
    if (page == 1) // the rows are not cut short ("Funct...")
        QVERIFY2(columnWidth >= rowsNeed, qPrintable(QString("%1 < %2").arg(columnWidth).arg(rowsNeed)));
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<TFormManual *>(w));
    QCOMPARE(main.PageControl1->currentWidget(), mainPage);
}

QTEST_MAIN(TestGuide)
void TestGuide::findGoesRoundTheTree_data()
{
    QTest::addColumn<QString>("words");
    // The keys pressed after Ctrl+F and typing the words, each with the node selected after it
    // ("-": the selection did not move and the box says "Not found").
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("selected");
    QTest::newRow("first hit, deep and collapsed") << "serial PORT" << QStringList{"Enter"}
                                                   << QStringList{"Serial port setup"};
    QTest::newRow("next, then round to the first")
        << "run" << QStringList{"Enter", "F3", "F3", "F3"}
        << QStringList{"Run the measurement", "Stop the run", "Runs kept", "Run the measurement"};
    QTest::newRow("previous wraps to the last") << "run" << QStringList{"Shift+F3", "Shift+F3"}
                                                << QStringList{"Runs kept", "Stop the run"};
    QTest::newRow("words in any order") << "kept runs" << QStringList{"Enter", "F3"}
                                        << QStringList{"Runs kept", "Runs kept"};
    QTest::newRow("not found") << "zeppelin" << QStringList{"Enter", "F3"} << QStringList{"-", "-"};
}

void TestGuide::findGoesRoundTheTree()
{
    QFETCH(QString, words);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, selected);
    QVERIFY(TWorkingFolder::Write(GuideFileName, "Functions\n\tRun the measurement\n\t\tStop the run\nMenu\n"
                                                 "\t[Edit]\n\t\tSerial port setup\nFiles\n\tRuns kept\n"));
    TMessageCapture messages;
    TFormManual form(nullptr, GuideCaption, TFormManual::GuidePage);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QVERIFY(form.PanelFind->isHidden());
    QTest::keyClick(form.TreeView1, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(form.PanelFind->isVisible());
    QCOMPARE(QApplication::focusWidget(), form.EditFind);
    QVERIFY(!form.EditFind->accessibleName().isEmpty());
    QTest::keyClicks(form.EditFind, words);
    for (int i = 0; i < keys.size(); ++i) {
        const QString before = form.TreeView1->currentItem() ? form.TreeView1->currentItem()->text(0) : QString();
        const QKeySequence key(keys[i] == "Enter" ? QStringLiteral("Return") : keys[i]);
        QTest::keyClick(form.EditFind, key[0].key(), key[0].keyboardModifiers());
        QTreeWidgetItem *node = form.TreeView1->currentItem();
        if (selected[i] == "-") {
            QCOMPARE(node ? node->text(0) : QString(), before);
            QCOMPARE(form.LabelFindResult->text(), QStringLiteral("Not found"));
            continue;
        }
        QVERIFY(node);
        QCOMPARE(node->text(0), selected[i]);
        QVERIFY(node->isSelected());
        QVERIFY(form.LabelFindResult->text().isEmpty());
        // Shown: every parent expanded, with its image.
        for (QTreeWidgetItem *parent = node->parent(); parent; parent = parent->parent()) {
            QVERIFY(parent->isExpanded());
            QCOMPARE(TFormManual::ImageIndex(parent), TFormManual::ImageExpanded);
        }
    }
    // Esc in the box closes the box, not the window.
    QTest::keyClick(form.EditFind, Qt::Key_Escape);
    QVERIFY(form.PanelFind->isHidden());
    QVERIFY(form.isVisible());
    QVERIFY(messages.Messages.isEmpty());
}

void TestGuide::builtInGuideFindsNewTopics_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("found");
    QTest::newRow("measurements") << "filename: \"measurements.csv\"" << "Filename: \"Measurements.csv\"";
    QTest::newRow("statistics") << "ADEV 10 groups" << "Col12: ADEV 1 (ps), Col13: ADEV 10 (ps), Col14: ADEV 100 (ps), "
                                                "the Allan deviation over groups of 1, 10 and 100 values";
    QTest::newRow("headless") << "headless" << "Measure without a window (headless mode)...";
    QTest::newRow("keys") << "keyboard" << "Measure by keyboard...";
    QTest::newRow("reconnect") << "reconnect" << "Reconnect a lost port...";
    QTest::newRow("waiting") << "lost at waiting" << "While it waits, the line's row of the status bar says \"COM1 lost at "
                                                      "14:02:11, waiting for /dev/ttyUSB0\" in red; once the port is open "
                                                      "again, \"COM1 reopened at 14:02:19\"";
    QTest::newRow("link") << "link:" << "Beside it, once a command has been sent, the link's counts for this run, such "
                                        "as \"Link: 1200 sent, 1180 replies, 12 missing, 3 late, 5 refused, 0 noise "
                                        "bytes, 87 % of the line\"";
    QTest::newRow("statistics page") << "[statistics] button" << "Step 1: Click on [View]-[Statistics] or on the "
                                                                  "[Statistics] button to switch display to the statistics window";
    QTest::newRow("open") << "open measurements" << "Step 1: Click on [File]-[Open Measurements] and choose a \"Measurements.csv\"";
    QTest::newRow("zoom") << "zoom pan chart" << "Zoom and pan a chart...";
    QTest::newRow("mqtt") << "mqtt" << "Publish the reports to an MQTT broker...";
}

void TestGuide::builtInGuideFindsNewTopics()
{
    QFETCH(QString, words);
    QFETCH(QString, found);
    TMessageCapture messages;
    TFormManual form(nullptr, GuideCaption, TFormManual::GuidePage);
    form.FindShow();
    form.EditFind->setText(words);
    QVERIFY(form.FindNext(true));
    QCOMPARE(form.TreeView1->currentItem()->text(0), found);
}

#include "tst_guide.moc"
