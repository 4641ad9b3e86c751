// The log memo as assistive technology reads it (Qt's accessible text interface and the events
// it announces) and as the keyboard moves it.

#include "app/Memo.h"

#include <QAccessible>
#include <QScrollBar>
#include <QtTest>

namespace {

// What the memo announced, as a platform bridge would be told: "+where:text" for text inserted,
// "-where:text" for text removed.
QStringList Announced;

void Record(QAccessibleEvent *event)
{
    if (const auto *in = dynamic_cast<const QAccessibleTextInsertEvent *>(event))
        Announced << QStringLiteral("+%1:%2").arg(in->changePosition()).arg(in->textInserted());
    else if (const auto *out = dynamic_cast<const QAccessibleTextRemoveEvent *>(event))
        Announced << QStringLiteral("-%1:%2").arg(out->changePosition()).arg(out->textRemoved());
}

const QString ThreeLines = QStringLiteral("first line\nsecond two words\nthird");

} // namespace

class TestMemo : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void accessibleText_data();
    void accessibleText();
    void accessibleMemo();
    void keysMoveAndSelect_data();
    void keysMoveAndSelect();
};

void TestMemo::initTestCase()
{
    // Qt passes events on only while a platform bridge listens; offscreen, none does.
    TMemo::AccessibleListener = Record;
}

void TestMemo::accessibleText_data()
{
    QTest::addColumn<bool>("cleared");
    QTest::addColumn<QAccessible::TextBoundaryType>("boundary");
    QTest::addColumn<int>("way"); // -1 before, 0 at, 1 after
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    const auto row = [](const char *name, QAccessible::TextBoundaryType boundary, int way, int offset,
                        const QString &text, int start, int end, bool cleared = false) {
        QTest::newRow(name) << cleared << boundary << way << offset << text << start << end;
    };
    row("character at the start", QAccessible::CharBoundary, 0, 0, "f", 0, 1);
    row("character at the end", QAccessible::CharBoundary, 0, 33, "", -1, -1);
    row("character after a line's end", QAccessible::CharBoundary, 1, 10, "s", 11, 12);
    row("character before a line", QAccessible::CharBoundary, -1, 11, "\n", 10, 11);
    row("word at", QAccessible::WordBoundary, 0, 2, "first", 0, 5);
    row("space between words", QAccessible::WordBoundary, 0, 5, " ", 5, 6);
    row("word on the second line", QAccessible::WordBoundary, 0, 13, "second", 11, 17);
    row("after a word", QAccessible::WordBoundary, 1, 13, " ", 17, 18);
    row("before a line's first word", QAccessible::WordBoundary, -1, 11, "\n", 10, 11);
    row("line with its end", QAccessible::LineBoundary, 0, 13, "second two words\n", 11, 28);
    row("line at its end", QAccessible::LineBoundary, 0, 10, "first line\n", 0, 11);
    row("line before", QAccessible::LineBoundary, -1, 13, "first line\n", 0, 11);
    row("line after", QAccessible::LineBoundary, 1, 13, "third", 28, 33);
    row("no line after the last", QAccessible::LineBoundary, 1, 30, "", -1, -1);
    row("no line before the first", QAccessible::LineBoundary, -1, 5, "", -1, -1);
    row("last line at the end", QAccessible::LineBoundary, 0, 33, "third", 28, 33);
    row("sentence", QAccessible::SentenceBoundary, 0, 13, "second two words\n", 11, 28);
    row("paragraph", QAccessible::ParagraphBoundary, 0, 30, "third", 28, 33);
    row("everything", QAccessible::NoBoundary, 0, 4, ThreeLines, 0, 33);
    row("cleared: no line", QAccessible::LineBoundary, 0, 0, "", -1, -1, true);
    row("cleared: no word", QAccessible::WordBoundary, 0, 0, "", -1, -1, true);
}

void TestMemo::accessibleText()
{
    QFETCH(bool, cleared);
    QFETCH(QAccessible::TextBoundaryType, boundary);
    QFETCH(int, way);
    QFETCH(int, offset);
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(int, end);
    TMemo memo;
    memo.AppendText("first line\nsecond two ");
    memo.AppendText("words\nthird");
    if (cleared)
        memo.clear();
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&memo);
    QVERIFY(accessible);
    QAccessibleTextInterface *reader = accessible->textInterface();
    QVERIFY(reader);
    QCOMPARE(reader->characterCount(), cleared ? 0 : 33);
    QCOMPARE(reader->text(0, reader->characterCount()), cleared ? QString() : ThreeLines);
    int from = 0, to = 0;
    const QString found = way < 0   ? reader->textBeforeOffset(offset, boundary, &from, &to)
                          : way > 0 ? reader->textAfterOffset(offset, boundary, &from, &to)
                                    : reader->textAtOffset(offset, boundary, &from, &to);
    QCOMPARE(found, text);
    QCOMPARE(from, start);
    QCOMPARE(to, end);
}

void TestMemo::accessibleMemo()
{
    TMemo memo;
    memo.setAccessibleName("Communication log");
    memo.resize(300, 200);
    memo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&memo));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&memo);
    // As Qt shows its own read-only text views.
    QCOMPARE(accessible->role(), QAccessible::EditableText);
    QVERIFY(accessible->state().readOnly && accessible->state().multiLine);
    QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Communication log"));
    QAccessibleTextInterface *reader = accessible->textInterface();

    // What arrives within a frame is announced once, at its place.
    Announced.clear();
    memo.AppendText("first line\nsecond two ");
    memo.AppendText("words");
    QTRY_COMPARE_WITH_TIMEOUT(Announced, QStringList({"+0:first line\nsecond two words"}), 5000);
    memo.appendPlainText("third");
    QTRY_COMPARE_WITH_TIMEOUT(Announced.size(), 2, 5000);
    QCOMPARE(Announced[1], QStringLiteral("+27:\nthird"));
    QCOMPARE(reader->text(5, 13), QStringLiteral(" line\nse"));

    // Selection and caret, both ways.
    reader->setSelection(0, 11, 17);
    QCOMPARE(memo.SelectedText(), QStringLiteral("second"));
    int start = 0, end = 0;
    reader->selection(0, &start, &end);
    QCOMPARE(qMakePair(start, end), qMakePair(11, 17));
    QCOMPARE(reader->cursorPosition(), 17);
    reader->removeSelection(0);
    QCOMPARE(reader->selectionCount(), 0);
    memo.selectAll();
    reader->selection(0, &start, &end);
    QCOMPARE(qMakePair(start, end), qMakePair(0, 33));
    // A character's place on screen leads back to it.
    const QRect rect = reader->characterRect(14);
    QVERIFY(rect.isValid());
    QCOMPARE(reader->offsetAtPoint(rect.center()), 14);

    // A clear is announced at once, with what went.
    memo.clear();
    QCOMPARE(Announced.size(), 3);
    QCOMPARE(Announced[2], "-0:" + ThreeLines);
    QCOMPARE(reader->characterCount(), 0);
    memo.AppendText("again");
    QTRY_COMPARE_WITH_TIMEOUT(Announced.size(), 4, 5000);
    QCOMPARE(Announced[3], QStringLiteral("+0:again"));
}

void TestMemo::keysMoveAndSelect_data()
{
    // The memo holds "line 0", "", "line 2", ... "line 99"; a page is what the view shows. The
    // caret's line and the view's first line are given as lines plus pages.
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("linePages");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("topPages");
    QTest::addColumn<QString>("selected");
    QTest::newRow("start of the text") << "Ctrl+Home" << 0 << 0 << 0 << 0 << 0 << "";
    // The view follows the end; the caret, far above it, starts from the view.
    QTest::newRow("up from the end") << "Up" << 99 << -1 << 0 << 99 << -1 << "";
    QTest::newRow("down at the end") << "Down" << 99 << 0 << 0 << 100 << -1 << "";
    QTest::newRow("over a short line") << "Ctrl+Home, End, Down, Down" << 2 << 0 << 6 << 0 << 0 << "";
    QTest::newRow("back over line ends") << "Ctrl+Home, Down, Down, Left, Left" << 0 << 0 << 6 << 0 << 0 << "";
    QTest::newRow("on over a line end") << "Ctrl+Home, End, Right" << 1 << 0 << 0 << 0 << 0 << "";
    QTest::newRow("select characters") << "Ctrl+Home, Right, Shift+Right, Shift+Right" << 0 << 0 << 3 << 0 << 0
                                       << "in";
    QTest::newRow("select lines") << "Ctrl+Home, Shift+Down, Shift+Down" << 2 << 0 << 0 << 0 << 0 << "line 0\n\n";
    QTest::newRow("page down") << "Ctrl+Home, PgDown" << 0 << 1 << 0 << 0 << 1 << "";
    QTest::newRow("page down and up") << "Ctrl+Home, PgDown, PgUp" << 0 << 0 << 0 << 0 << 0 << "";
    QTest::newRow("select to the end") << "Ctrl+Home, Ctrl+Shift+End" << 99 << 0 << 7 << 100 << -1 << "*";
    QTest::newRow("select a line") << "Ctrl+End, Shift+Home" << 99 << 0 << 0 << 100 << -1 << "line 99";
}

void TestMemo::keysMoveAndSelect()
{
    QFETCH(QString, keys);
    QFETCH(int, line);
    QFETCH(int, linePages);
    QFETCH(int, column);
    QFETCH(int, top);
    QFETCH(int, topPages);
    QFETCH(QString, selected);
    TMemo memo;
    memo.resize(300, 200);
    QStringList lines;
    for (int i = 0; i < 100; ++i)
        lines << (i == 1 ? QString() : QStringLiteral("line %1").arg(i));
    memo.appendPlainText(lines.join('\n')); // while hidden: shown, the view is at the end
    memo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&memo));
    const int page = memo.verticalScrollBar()->pageStep();
    QVERIFY(page > 2 && page < 50);
    QCOMPARE(memo.verticalScrollBar()->value(), 100 - page);
    for (const QString &key : keys.split(", ")) {
        const QKeyCombination combination = QKeySequence(key)[0];
        QTest::keyClick(&memo, combination.key(), combination.keyboardModifiers());
    }
    qsizetype lineStart = 0;
    for (int i = 0; i < line + linePages * page; ++i)
        lineStart += lines[i].size() + 1;
    QCOMPARE(memo.CaretOffset(), lineStart + column);
    QCOMPARE(memo.verticalScrollBar()->value(), top + topPages * page);
    QCOMPARE(memo.SelectedText(), selected == "*" ? memo.toPlainText() : selected);
}

QTEST_MAIN(TestMemo)
#include "tst_memo.moc"
