// What the main window shows of the receive path: the communication log and the sample list, and
// the command keys beside the log memos, fed through an in-memory serial device one chunk at a time.

#include "app/ComLogText.h"
#include "app/Unitmain.h"
#include "tests/app/ReportTexts.h"
#include "tests/common/FileDialogCapture.h"
#include "tests/common/MemoryWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QScrollBar>
#include <QToolButton>
#include <QtTest>

namespace {

// What the log should read for bytes that hold no line breaks.
QString Visible(const QByteArray &bytes)
{
    QString text;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c != '\r' && c != '\n')
            AppendVisibleByte(text, c);
    }
    return text;
}

} // namespace

class TestReceive : public QObject, private TMemoryWindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void sampleListEmptiedWhenFull_data();
    void sampleListEmptiedWhenFull();
    void logClearedAt40000Lines();
    void logKeepsEveryByte();
    void logKeepsItsColumn();
    void visibleShortcutActsHiddenDoesNot();
    void logKeysActOnTheLog_data();
    void logKeysActOnTheLog();
    void logReachedByTabCopiesAndSendsNothing();
    void logStaysSmall_data();
    void logStaysSmall();
    void logSelectsWithTheMouse();
    void logTimeStamps();
    void logSaved_data();
    void logSaved();

private:
    // Hands one chunk to the window through the port's receive step.
    void Receive(const QByteArray &chunk);
};

void TestReceive::init()
{
    QVERIFY(OpenWindow());
    QCOMPARE(FMessages->Texts(), QStringList({"Open COM1 !"}));
}

void TestReceive::cleanup()
{
    FWindow.reset();
}

void TestReceive::Receive(const QByteArray &chunk)
{
    QVERIFY(HandOver(*FLine, chunk));
}

void TestReceive::sampleListEmptiedWhenFull_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("added");
    QTest::addColumn<int>("after");
    QTest::addColumn<QString>("first");
    QTest::newRow("fills up to 40000") << 39990 << 10 << 40000 << "old 0";
    QTest::newRow("full, emptied first") << 40000 << 3 << 3 << "   0,   0";
    QTest::newRow("full in the middle") << 39990 << 15 << 5 << "  10,  10";
    QTest::newRow("empty") << 0 << 2 << 2 << "   0,   0";
}

void TestReceive::sampleListEmptiedWhenFull()
{
    QFETCH(int, before);
    QFETCH(int, added);
    QFETCH(int, after);
    QFETCH(QString, first);
    QStringList old;
    for (int i = 0; i < before; ++i)
        old << QStringLiteral("old %1").arg(i);
    FForm->MemoData->setPlainText(old.join('\n'));
    QByteArrayList lines;
    for (int i = 0; i < added; ++i)
        lines << QByteArray::number(i).rightJustified(4, ' ') + ',' + QByteArray::number(i).rightJustified(4, ' ');
    FForm->AppendDataLines(lines);
    QCOMPARE(FForm->MemoData->LineCount(), after);
    QCOMPARE(FForm->MemoData->Line(0), first);
    QCOMPARE(FForm->MemoData->Line(after - 1), QString::fromLatin1(lines.last()));
    // A stray control byte in a field shows as its picture and does not break the line.
    FForm->AppendDataLines({QByteArray("20\r8,\n047")});
    QCOMPARE(FForm->MemoData->Line(FForm->MemoData->LineCount() - 1), QStringLiteral("20<CR>8,<LF>047"));
}

void TestReceive::logClearedAt40000Lines()
{
    // Chunks that end on line ends, so each line is one line of the log.
    for (int i = 1; i < 40000; i += 100) {
        QByteArray lines;
        for (int j = i; j < qMin(i + 100, 40000); ++j)
            lines += "line " + QByteArray::number(j) + "\r\n";
        Receive(lines);
    }
    QCOMPARE(FForm->MemoComLog->LineCount(), 39999);
    Receive("line 40000\r\n");
    QCOMPARE(FForm->MemoComLog->LineCount(), 40000);
    Receive("first again\r\n");
    QCOMPARE(FForm->MemoComLog->toPlainText(), QStringLiteral("first again"));
}

void TestReceive::logKeepsEveryByte()
{
    Receive(QByteArray("A\0B\x1b[0m\r\n", 9));
    Receive("split\r");
    Receive("\nend");
    QCOMPARE(FForm->MemoComLog->toPlainText(), QStringLiteral("A<NUL>B<ESC>[0m\nsplit\nend"));
    // A double-click empties the log; a line end that was still to show goes with it.
    Receive("\r\n");
    FForm->MemoDblClick(FForm->MemoComLog);
    QCOMPARE(FForm->MemoComLog->toPlainText(), QString());
    Receive("after");
    QCOMPARE(FForm->MemoComLog->toPlainText(), QStringLiteral("after"));
}

void TestReceive::logKeepsItsColumn()
{
    // Chunks arrive while the operator watches the Main page, then he opens the log.
    FForm->show();
    QVERIFY(QTest::qWaitForWindowExposed(FForm));
    for (int i = 0; i < 50; ++i) {
        Receive(MeanReport.left(40));
        Receive(MeanReport.mid(40) + MeanReport + "\r\n");
        QCoreApplication::processEvents();
    }
    FForm->mmCommunicationClick();
    QCoreApplication::processEvents();
    QScrollBar *sideways = FForm->MemoComLog->horizontalScrollBar();
    QVERIFY(sideways->maximum() > 0);
    QCOMPARE(sideways->value(), 0); // line starts stay in view
    // The newest lines are in view; the operator scrolling up stops the following until he
    // scrolls back to the end.
    QScrollBar *upDown = FForm->MemoComLog->verticalScrollBar();
    QVERIFY(upDown->maximum() > 0);
    QCOMPARE(upDown->value(), upDown->maximum());
    upDown->setValue(0);
    Receive(MeanReport + "\r\n");
    QCoreApplication::processEvents();
    QCOMPARE(upDown->value(), 0);
    upDown->setValue(upDown->maximum());
    Receive(MeanReport + "\r\n");
    QCoreApplication::processEvents();
    QCOMPARE(upDown->value(), upDown->maximum());
}



void TestReceive::visibleShortcutActsHiddenDoesNot()
{
    FForm->show();
    QVERIFY(QTest::qWaitForWindowActive(FForm));
    QTest::keyClick(FForm, Qt::Key_M, Qt::ControlModifier);
    QTRY_COMPARE(FLine->Written, QByteArray("?"));
    // Hidden items (writing the flash among them) do not act on their shortcuts.
    QTest::keyClick(FForm, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClick(FForm, Qt::Key_K, Qt::ControlModifier);
    QTest::keyClick(FForm, Qt::Key_T, Qt::ControlModifier);
    QTRY_COMPARE(FLine->Written, QByteArray("?t"));
}

void TestReceive::logKeysActOnTheLog_data()
{
    QTest::addColumn<bool>("inLog");    // the log has the focus
    QTest::addColumn<bool>("selected"); // and its text is selected
    QTest::addColumn<int>("key");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("copied");
    QTest::newRow("Ctrl+C copies the selection") << true << true << int(Qt::Key_C) << QByteArray() << "OK";
    // In the log the command keys belong to the text, selected or not.
    QTest::newRow("Ctrl+C, nothing selected") << true << false << int(Qt::Key_C) << QByteArray() << "";
    QTest::newRow("Ctrl+M in the log") << true << false << int(Qt::Key_M) << QByteArray() << "";
    QTest::newRow("Ctrl+C elsewhere") << false << true << int(Qt::Key_C) << QByteArray("c") << "";
    QTest::newRow("Ctrl+A selects the log") << true << false << int(Qt::Key_A) << QByteArray() << "";
    QTest::newRow("Ctrl+A elsewhere") << false << false << int(Qt::Key_A) << QByteArray("a") << "";
}

void TestReceive::logReachedByTabCopiesAndSendsNothing()
{
    Receive("OK\r\n");
    QApplication::clipboard()->clear();
    FForm->show();
    QVERIFY(QTest::qWaitForWindowActive(FForm));
    FForm->mmCommunicationClick();
    FForm->TB_UsersGuide->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(FForm->TB_UsersGuide->hasFocus());
    // Round from the tool bar to the page's first control, the log.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTRY_VERIFY(FForm->MemoComLog->hasFocus());
    QTest::keySequence(QApplication::focusWidget(), QKeySequence(Qt::CTRL | Qt::Key_A));
    QTest::keySequence(QApplication::focusWidget(), QKeySequence(Qt::CTRL | Qt::Key_C));
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("OK"));
    QCoreApplication::processEvents();
    QCOMPARE(FLine->Written, QByteArray());
    // On the Main page the same keys are commands again.
    FForm->mmTimeOfFlightClick();
    QTRY_VERIFY(!FForm->MemoComLog->hasFocus());
    QWidget *focus = QApplication::focusWidget();
    QTest::keySequence(focus ? focus : FForm, QKeySequence(Qt::CTRL | Qt::Key_A));
    QTest::keySequence(focus ? focus : FForm, QKeySequence(Qt::CTRL | Qt::Key_C));
    QTRY_COMPARE(FLine->Written, QByteArray("ac"));
}

void TestReceive::logKeysActOnTheLog()
{
    QFETCH(bool, inLog);
    QFETCH(bool, selected);
    QFETCH(int, key);
    QFETCH(QByteArray, sent);
    QFETCH(QString, copied);
    QApplication::clipboard()->clear();
    Receive("OK\r\n");
    FForm->show();
    QVERIFY(QTest::qWaitForWindowActive(FForm));
    FForm->mmCommunicationClick();
    FForm->MemoComLog->setFocus();
    if (selected)
        FForm->MemoComLog->selectAll();
    if (!inLog)
        FForm->mmTimeOfFlightClick(); // the log's page goes, and the focus with it
    QTRY_COMPARE(FForm->MemoComLog->hasFocus(), inLog);
    // As the keyboard does: to the widget with the focus.
    QWidget *focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : FForm, Qt::Key(key), Qt::ControlModifier);
    QCoreApplication::processEvents();
    QCOMPARE(FLine->Written, sent);
    QCOMPARE(QApplication::clipboard()->text(), copied);
    if (inLog && key == Qt::Key_A)
        QCOMPARE(FForm->MemoComLog->SelectedText(), QStringLiteral("OK"));
}

void TestReceive::logStaysSmall_data()
{
    QTest::addColumn<char>("fill");
    QTest::newRow("NUL bytes, 5 characters each") << '\0';
    QTest::newRow("one endless line") << 'x';
}

void TestReceive::logStaysSmall()
{
    QFETCH(char, fill);
    const QByteArray chunk(4096, fill);
    const qsizetype chunkText = 5 * chunk.size() + chunk.size() / TComLogText::LineLengthLimit;
    TMemo *log = FForm->MemoComLog;
    for (int i = 0; i < 100000; ++i) {
        const bool full = log->Full();
        Receive(chunk);
        QVERIFY(log->CharCount() <= TMemo::CharLimit + chunkText);
        if (full) {
            // Emptied first: the log holds this chunk alone.
            QCOMPARE(log->toPlainText().remove('\n'), Visible(chunk));
            QVERIFY(log->LineCount() < TMemo::LineLimit);
            return;
        }
    }
    QFAIL("the log never emptied");
}

void TestReceive::logSelectsWithTheMouse()
{
    FForm->show();
    QVERIFY(QTest::qWaitForWindowExposed(FForm));
    FForm->mmCommunicationClick();
    TMemo *log = FForm->MemoComLog;
    QWidget *view = log->viewport();
    const QColor paper = view->palette().color(QPalette::Base);
    const auto inked = [&] {
        const QImage image = view->grab().toImage();
        for (int y = 0; y < image.height() / 4; ++y)
            for (int x = 0; x < image.width() / 2; ++x)
                if (image.pixelColor(x, y) != paper)
                    return true;
        return false;
    };
    QVERIFY(!inked());
    Receive("first line\r\nsecond line\r\nthird");
    QTRY_VERIFY_WITH_TIMEOUT(inked(), 5000); // drawn at the next frame, unasked
    const int row = log->fontMetrics().height();
    const QPoint start(2, row / 2 + 4), end(view->width() - 2, row + row / 2 + 4);
    QTest::mousePress(view, Qt::LeftButton, {}, start);
    QMouseEvent drag(QEvent::MouseMove, end, view->mapToGlobal(end), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &drag);
    QTest::mouseRelease(view, Qt::LeftButton, {}, end);
    QCOMPARE(log->SelectedText(), QStringLiteral("first line\nsecond line"));
    QVERIFY(log->hasFocus());
    // Shift and a click take the selection on from where it began.
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, QPoint(view->width() - 2, 2 * row + row / 2 + 4));
    QCOMPARE(log->SelectedText(), QStringLiteral("first line\nsecond line\nthird"));
}

void TestReceive::logTimeStamps()
{
    QVERIFY(!FForm->mmTimeStamps->isChecked());
    Receive("as received\r\n");
    FForm->mmTimeStamps->trigger();
    Receive("b\r\n\r");
    Receive("\nc");
    const QString stamp = QStringLiteral("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d ");
    const QRegularExpression expected("^as received\n" + stamp + "b\n" + stamp + "\n" + stamp + "c$");
    QVERIFY2(expected.match(FForm->MemoComLog->toPlainText()).hasMatch(), qPrintable(FForm->MemoComLog->toPlainText()));
}

void TestReceive::logSaved_data()
{
    QTest::addColumn<QString>("name"); // answered in the dialog; empty: cancelled
    QTest::addColumn<QByteArray>("saved");
    QTest::addColumn<QString>("message");
    QTest::newRow("saved") << "log.txt" << QByteArray("A<NUL>\n\u00e9nd\n") << "";
    QTest::newRow("cancelled") << "" << QByteArray() << "";
    QTest::newRow("no such folder") << "missing/log.txt" << QByteArray()
                                    << "Cannot save the communication log to %1: ";
}

void TestReceive::logSaved()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, saved);
    QFETCH(QString, message);
    TFileDialogCapture dialogs;
    const QString path = name.isEmpty() ? QString() : FWindow->Folder.Path(name);
    dialogs.Answer = path;
    Receive(QByteArray("A\0\r\n\xe9nd", 7));
    FMessages->Clear();
    FForm->mmSaveComLog->trigger();
    QCOMPARE(dialogs.Requests.size(), 1);
    QVERIFY(dialogs.Requests[0].Kind == Platform::TFileDialogKind::Save);
    QFile file(path);
    QCOMPARE(file.open(QIODevice::ReadOnly), !saved.isEmpty());
    QCOMPARE(file.readAll(), saved);
    QCOMPARE(FMessages->Messages.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty())
        QVERIFY2(FMessages->Messages[0].Text.startsWith(message.arg(path)), qPrintable(FMessages->Messages[0].Text));
    QCOMPARE(QDir(FWindow->Folder.Folder()).entryList(QDir::Files).contains(name), !saved.isEmpty());
}

QTEST_MAIN(TestReceive)
#include "tst_receive.moc"
