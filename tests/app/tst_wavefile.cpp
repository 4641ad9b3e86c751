// Waveform files: the bytes the writer makes, what the reader takes and refuses, every way a load
// or a save can fail without touching the channels or an existing file, and the File menu's
// load and save as the operator uses them.

#include "app/Unitmain.h"
#include "app/WaveFile.h"
#include "display/Image.h"
#include "tests/common/MemoryWindow.h"
#include "tests/common/FileDialogCapture.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/WorkingFolder.h"

#include <QAction>
#include <QDir>
#include <QFrame>
#include <QFile>
#include <QSaveFile>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include <sys/stat.h>

namespace {

// Channel values before a load: distinct from every value the test files hold.
int16_t Before1(int k) { return static_cast<int16_t>(-k); }
int16_t Before2(int k) { return static_cast<int16_t>(-k - 1); }
// Values of line k in the test files.
int16_t File1(int k) { return static_cast<int16_t>(1000 + k); }
int16_t File2(int k) { return static_cast<int16_t>(5000 + k); }

void FillBefore(TChannel &c1, TChannel &c2)
{
    for (int k = 0; k < ChannelLength; ++k) {
        c1[k] = Before1(k);
        c2[k] = Before2(k);
    }
}

// `count` lines of the test file, with the given lines replaced.
QList<QByteArray> Lines(int count, const QMap<int, QByteArray> &replaced = {})
{
    QList<QByteArray> lines;
    for (int k = 0; k < count; ++k)
        lines << replaced.value(k, QByteArray::number(File1(k)) + ',' + QByteArray::number(File2(k)));
    return lines;
}

QByteArray Text(const QList<QByteArray> &lines, const QByteArray &lineEnd = "\r\n")
{
    QByteArray text;
    for (const QByteArray &line : lines)
        text += line + lineEnd;
    return text;
}

// A save file whose disk is full after `room` bytes.
class TFullDiskSaveFile : public QSaveFile {
public:
    TFullDiskSaveFile(const QString &name, qint64 room) : QSaveFile(name), FRoom(room) {}

protected:
    qint64 writeData(const char *data, qint64 len) override
    {
        const qint64 written = QSaveFile::writeData(data, qMin(len, FRoom));
        if (written < 0 || written == len)
            return written;
        setErrorString("No space left on device");
        return -1;
    }

private:
    qint64 FRoom;
};

const QString Left = QStringLiteral("\n\nAn existing file of that name is left as it was.");

// Values at the edges of the written forms' widths and of the 16-bit range.
const QList<int16_t> Edges{-32768, -1000, -999, -100, -5, 0, 5, 999, 1000, 2048, 9999, 10000, 32767};

} // namespace

class TestWaveFile : public QObject {
    Q_OBJECT
private slots:
    void saveAndLoadInitialChannels();
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void read_data();
    void read();
    void loadFaults_data();
    void loadFaults();
    void saveFaults_data();
    void saveFaults();
    void menuSaveChangeLoad();
    void menuFaults_data();
    void menuFaults();
    void emptySaveAsks_data();
    void emptySaveAsks();
};

void TestWaveFile::saveAndLoadInitialChannels()
{
    TWorkingFolder folder;
    TChannel c1, c2;
    c1.fill(ChannelMidScale);
    c2.fill(ChannelMidScale);
    const QString path = folder.Path("wave.csv");
    QVERIFY(TWorkingFolder::Write(path, "older and longer text\r\n"));
    QVERIFY(WaveFile::SaveWaveformFile(path, c1, c2).Ok);
    QCOMPARE(TWorkingFolder::Read(path), QByteArray("2048,2048\r\n").repeated(1568));
    QCOMPARE(QDir(folder.Folder()).entryList(QDir::Files), QStringList{"wave.csv"});

    const TChannel saved1 = c1, saved2 = c2;
    const WaveFile::TResult result = WaveFile::LoadWaveformFile(path, c1, c2);
    QVERIFY2(result.Ok, qPrintable(result.Message));
    QVERIFY(c1 == saved1 && c2 == saved2);
}

void TestWaveFile::valuesRoundTrip_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("written");
    for (const char *text : {"-32768", "-1000", "-999", "-100", "-5", "0", "5", "999", "1000", "2048", "9999",
                             "10000", "32767"})
        QTest::newRow(text) << QByteArray(text).toInt() << QByteArray(text);
}

// Channel 1 holds the row's value throughout, channel 2 every edge value in turn: the file holds
// each pairing, and reading it back gives both channels exactly.
void TestWaveFile::valuesRoundTrip()
{
    QFETCH(int, value);
    QFETCH(QByteArray, written);
    TChannel c1, c2;
    c1.fill(static_cast<int16_t>(value));
    for (int k = 0; k < ChannelLength; ++k)
        c2[k] = Edges[k % Edges.size()];
    TWorkingFolder folder;
    const QString path = folder.Path("wave.csv");
    QVERIFY(WaveFile::SaveWaveformFile(path, c1, c2).Ok);
    const QList<QByteArray> lines = TWorkingFolder::Read(path).split('\n');
    QCOMPARE(lines.size(), ChannelLength + 1);
    QCOMPARE(lines[0], written + ",-32768\r");
    QCOMPARE(lines[12], written + ",32767\r");

    TChannel r1, r2;
    FillBefore(r1, r2);
    const WaveFile::TResult result = WaveFile::LoadWaveformFile(path, r1, r2);
    QVERIFY2(result.Ok, qPrintable(result.Message));
    QVERIFY(r1 == c1);
    QVERIFY(r2 == c2);
}

using TLineValues = QMap<int, QList<int>>; // index -> {channel 1, channel 2}, where not the file's usual

void TestWaveFile::read_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message"); // empty: the load succeeds
    QTest::addColumn<TLineValues>("values");

    const QString format = WaveFile::FormatMessage;
    const QString notNumbers = format + "\n\nLine %1 does not hold two numbers: %2";
    const QString outside = format + "\n\nLine %1 holds a number outside -32768..32767: %2";
    QTest::newRow("CR LF after every line") << Text(Lines(1568)) << QString() << TLineValues{};
    QTest::newRow("no final line break") << Text(Lines(1568)).chopped(2) << QString() << TLineValues{};
    QTest::newRow("LF only") << Text(Lines(1568), "\n") << QString() << TLineValues{};
    QTest::newRow("CR only") << Text(Lines(1568), "\r") << QString() << TLineValues{};
    const QString count = format + "\n\nThe file holds %1; a waveform file holds 1568.";
    QTest::newRow("1567 lines") << Text(Lines(1567)) << count.arg("1567 lines") << TLineValues{};
    QTest::newRow("1569 lines") << Text(Lines(1569)) << count.arg("1569 lines") << TLineValues{};
    QTest::newRow("10 lines") << Text(Lines(10)) << count.arg("10 lines") << TLineValues{};
    QTest::newRow("one line") << Text(Lines(1)) << count.arg("1 line") << TLineValues{};
    QTest::newRow("an empty line after the last") << Text(Lines(1568)) + "\r\n" << count.arg("1569 lines")
                                                  << TLineValues{};
    QTest::newRow("LF CR line ends") << Text(Lines(1568), "\n\r")
                                     << count.arg("3136 lines, every second one empty (line ends LF CR?)")
                                     << TLineValues{};
    QTest::newRow("empty file") << QByteArray() << format + "\n\nThe file is empty; a waveform file holds 1568 lines."
                                << TLineValues{};
    QTest::newRow("older 9-character forms")
        << Text(Lines(1568, {{10, " 999,  -5"}, {11, "+123,0042"}, {12, "-999,9999"}, {13, "   0,   0"}}))
        << QString() << TLineValues{{10, {999, -5}}, {11, {123, 42}}, {12, {-999, 9999}}, {13, {0, 0}}};
    QTest::newRow("shorter and longer forms")
        << Text(Lines(1568, {{20, "0,5"}, {21, "-32768,32767"}, {22, "10000,-1000"}, {23, "00042,-0"}}))
        << QString() << TLineValues{{20, {0, 5}}, {21, {-32768, 32767}}, {22, {10000, -1000}}, {23, {42, 0}}};
    QTest::newRow("a blank after the comma")
        << Text(Lines(1568, {{4, "2048, 2047"}})) << notNumbers.arg(5).arg("2048, 2047") << TLineValues{};
    QTest::newRow("a blank at the end")
        << Text(Lines(1568, {{1566, "2048,2047 "}})) << notNumbers.arg(1567).arg("2048,2047 ") << TLineValues{};
    QTest::newRow("an empty line") << Text(Lines(1568, {{13, ""}})) << notNumbers.arg(14).arg("") << TLineValues{};
    QTest::newRow("a semicolon") << Text(Lines(1568, {{14, "2048;2048"}})) << notNumbers.arg(15).arg("2048;2048")
                                 << TLineValues{};
    QTest::newRow("a plus sign in a short line") << Text(Lines(1568, {{0, "+5,5"}})) << notNumbers.arg(1).arg("+5,5")
                                                 << TLineValues{};
    QTest::newRow("a lone minus") << Text(Lines(1568, {{0, "-,5"}})) << notNumbers.arg(1).arg("-,5") << TLineValues{};
    QTest::newRow("bad number on line 700")
        << Text(Lines(1568, {{699, "20a8,2047"}})) << notNumbers.arg(700).arg("20a8,2047") << TLineValues{};
    QTest::newRow("second comma") << Text(Lines(1568, {{0, "2048,2,47"}})) << notNumbers.arg(1).arg("2048,2,47")
                                  << TLineValues{};
    QTest::newRow("32768") << Text(Lines(1568, {{99, "32768,0"}})) << outside.arg(100).arg("32768,0") << TLineValues{};
    QTest::newRow("-32769") << Text(Lines(1568, {{99, "0,-32769"}})) << outside.arg(100).arg("0,-32769")
                            << TLineValues{};
    QTest::newRow("the first bad line is named")
        << Text(Lines(1568, {{9, "70000,1"}, {10, "x"}})) << outside.arg(10).arg("70000,1") << TLineValues{};
    QTest::newRow("a long line, shown shortened")
        << Text(Lines(1568, {{2, QByteArray(60, '9') + ",1"}})) << outside.arg(3).arg(QString(40, '9') + "...")
        << TLineValues{};
    QTest::newRow("binary") << Text(Lines(1568, {{3, QByteArray("2048\0002048", 9)}}))
                            << format + "\n\nThe file holds binary data, not text." << TLineValues{};
    QTest::newRow("too large") << QByteArray(WaveFile::MaxFileSize + 1, '\n')
                               << format + "\n\nThe file is larger than a waveform file can be (more than 1048576 bytes)."
                               << TLineValues{};
}

void TestWaveFile::read()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, message);
    QFETCH(TLineValues, values);
    TChannel c1, c2;
    FillBefore(c1, c2);
    const WaveFile::TResult result = WaveFile::ReadWaveform(text, c1, c2);
    QCOMPARE(result.Message, message);
    QCOMPARE(result.Ok, message.isEmpty());
    for (int k = 0; k < ChannelLength; ++k) {
        const QList<int> file = values.value(k, {File1(k), File2(k)});
        QCOMPARE(int(c1[k]), result.Ok ? file[0] : int(Before1(k)));
        QCOMPARE(int(c2[k]), result.Ok ? file[1] : int(Before2(k)));
    }
}

void TestWaveFile::loadFaults_data()
{
    QTest::addColumn<QString>("name"); // in the working folder; "/..." stands as it is
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "missing.csv" << ":\nNo such file or directory";
    QTest::newRow("a folder") << "folder" << ":\nIt is not a file.";
    QTest::newRow("a device that never ends") << "/dev/zero" << ":\nIt is not a file.";
    QTest::newRow("huge") << "huge.csv"
                          << "Incorrect data format!\n\nThe file is larger than a waveform file can be (4294967296 bytes)."
                             "\nFile: @";
}

void TestWaveFile::loadFaults()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    TWorkingFolder folder;
    QVERIFY(QDir(folder.Folder()).mkdir("folder"));
    {
        // Sparse: costs no disk, but reading it whole would exhaust memory.
        QFile huge(folder.Path("huge.csv"));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(4) << 30));
    }
    const QString path = name.startsWith('/') ? name : folder.Path(name);
    TChannel c1, c2;
    FillBefore(c1, c2);
    const TChannel before1 = c1, before2 = c2;
    const WaveFile::TResult result = WaveFile::LoadWaveformFile(path, c1, c2);
    QVERIFY(!result.Ok);
    if (reason.startsWith(':'))
        QCOMPARE(result.Message, "Cannot load the waveform file " + path + reason);
    else
        QCOMPARE(result.Message, reason.replace('@', path));
    QVERIFY(c1 == before1 && c2 == before2);
}

void TestWaveFile::saveFaults_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("room"); // bytes the disk takes; -1: as many as there are
    QTest::addColumn<QString>("reason");
    QTest::newRow("a folder in the file's place")
        << "folder" << qint64(-1) << "@/folder is not a regular file (a folder); nothing was written.";
    QTest::newRow("a missing folder") << "nowhere/wave.csv" << qint64(-1) << "No such file or directory";
    QTest::newRow("disk full part way") << "wave.csv" << qint64(5000) << "No space left on device";
    QTest::newRow("disk full at once") << "wave.csv" << qint64(0) << "No space left on device";
}

void TestWaveFile::saveFaults()
{
    QFETCH(QString, name);
    QFETCH(qint64, room);
    QFETCH(QString, reason);
    TWorkingFolder folder;
    QVERIFY(QDir(folder.Folder()).mkdir("folder"));
    const QByteArray old = "an older waveform\r\n";
    QVERIFY(TWorkingFolder::Write(folder.Path("wave.csv"), old));
    const QStringList entries = QDir(folder.Folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    TChannel c1, c2;
    FillBefore(c1, c2);
    const QString path = folder.Path(name);
    TFullDiskSaveFile file(path, room < 0 ? std::numeric_limits<qint64>::max() : room);
    const WaveFile::TResult result = WaveFile::SaveWaveformFile(file, c1, c2);
    QVERIFY(!result.Ok);
    QCOMPARE(result.Message, "Cannot save the waveform file " + path + ":\n" + reason.replace('@', folder.Folder()) + Left);
    QCOMPARE(TWorkingFolder::Read(folder.Path("wave.csv")), old);
    QCOMPARE(QDir(folder.Folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), entries);
}

// Answers every question with Answer and records what was asked.
class TQuestionCapture {
public:
    TQuestionCapture()
    {
        FPrevious = Platform::SetQuestionSink([this](const Platform::TMessage &m) {
            Asked.append(m);
            return Answer;
        });
    }
    ~TQuestionCapture() { Platform::SetQuestionSink(FPrevious); }
    TQuestionCapture(const TQuestionCapture &) = delete;
    TQuestionCapture &operator=(const TQuestionCapture &) = delete;

    bool Answer = true;
    QList<Platform::TMessage> Asked;

private:
    Platform::TQuestionSink FPrevious;
};

// A window with its Waveform page at a working size and a curve in view, with its messages
// and file dialogs captured; what it showed when made is kept to compare.
struct TWaveformWindow : TMemoryWindow {
    TWaveformWindow()
    {
        Form->PanelImage->resize(874, 537);
        Form->PanelImageResize();
        // Loaded from a file, as the operator would.
        for (int k = 0; k < ChannelLength; ++k) {
            Channel1[k] = static_cast<int16_t>(1000 + k % 700);
            Channel2[k] = static_cast<int16_t>(3000 - k % 500);
        }
        Dialogs.Answer = Folder.Path("held.csv");
        TWorkingFolder::Write(Dialogs.Answer, WaveFile::WaveformText(Channel1, Channel2));
        Form->mmLoad->trigger();
        QFile::remove(Dialogs.Answer);
        Dialogs.Answer.clear();
        Dialogs.Requests.clear();
        Messages.Clear(); // whatever start-up said about the port
        Picture = Form->ImageChart->Picture().copy();
    }
    bool Unchanged() const
    {
        return Form->FEngine->Channel1() == Channel1 && Form->FEngine->Channel2() == Channel2 && Form->ImageChart->Picture() == Picture;
    }

    TFileDialogCapture Dialogs;
    TQuestionCapture Questions;
    TChannel Channel1, Channel2;
    QImage Picture;
};

void TestWaveFile::menuSaveChangeLoad()
{
    TWaveformWindow w;
    w.Dialogs.Answer = w.Folder.Path("wave.CSV");
    w.Form->mmSave->trigger();
    TChannel flat;
    flat.fill(ChannelMidScale);
    w.Form->FEngine->SetWaveform(flat, flat);
    w.Form->RedrawWaveforms();
    QVERIFY(!w.Unchanged());
    w.Form->mmLoad->trigger();

    QVERIFY(w.Unchanged());
    QCOMPARE(w.Messages.Texts(), QStringList());
    QVERIFY(w.Questions.Asked.isEmpty());
    QCOMPARE(w.Dialogs.Requests.size(), 2);
    const QStringList titles{"Save waveform signal as file ...", "Load waveform signal from file ..."};
    for (int i = 0; i < 2; ++i) {
        const Platform::TFileDialogRequest &r = w.Dialogs.Requests[i];
        QCOMPARE(r.Kind, i == 0 ? Platform::TFileDialogKind::Save : Platform::TFileDialogKind::Open);
        QCOMPARE(r.Title, titles[i]);
        QCOMPARE(r.Filter, QString("Waveform File(*.csv)"));
        QCOMPARE(r.DefaultSuffix, QString("CSV"));
        QCOMPARE(r.Owner, w.Form.get());
    }
}

void TestWaveFile::menuFaults_data()
{
    QTest::addColumn<bool>("load");
    QTest::addColumn<QString>("answer"); // in the working folder; empty: cancelled
    QTest::addColumn<QString>("message");
    QTest::newRow("load cancelled") << true << QString() << QString();
    QTest::newRow("save cancelled") << false << QString() << QString();
    QTest::newRow("load of a short file")
        << true << "short.csv"
        << "Incorrect data format!\n\nThe file holds 1567 lines; a waveform file holds 1568.\nFile: @/short.csv";
    QTest::newRow("load of a line with a blank")
        << true << "blank.csv" << "Incorrect data format!\n\nLine 3 does not hold two numbers: 2048, 2047\nFile: @/blank.csv";
    QTest::newRow("save over a folder") << false << "folder"
                                        << ":\n@/folder is not a regular file (a folder); nothing was written." + Left;
    QTest::newRow("save over a FIFO") << false << "fifo"
                                      << ":\n@/fifo is not a regular file (a FIFO); nothing was written." + Left;
}

void TestWaveFile::menuFaults()
{
    QFETCH(bool, load);
    QFETCH(QString, answer);
    QFETCH(QString, message);
    TWaveformWindow w;
    const TWorkingFolder &folder = w.Folder;
    QVERIFY(QDir(folder.Folder()).mkdir("folder"));
    QCOMPARE(::mkfifo(QFile::encodeName(folder.Path("fifo")).constData(), 0600), 0);
    QVERIFY(TWorkingFolder::Write(folder.Path("short.csv"), Text(Lines(1567))));
    QVERIFY(TWorkingFolder::Write(folder.Path("blank.csv"), Text(Lines(1568, {{2, "2048, 2047"}}))));
    const QStringList entries = QDir(folder.Folder()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    if (!answer.isEmpty())
        w.Dialogs.Answer = folder.Path(answer);

    (load ? w.Form->mmLoad : w.Form->mmSave)->trigger();

    QCOMPARE(w.Dialogs.Requests.size(), 1);
    QVERIFY(w.Unchanged());
    QCOMPARE(QDir(folder.Folder()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), entries);
    message.replace('@', folder.Folder());
    if (message.isEmpty()) {
        QCOMPARE(w.Messages.Texts(), QStringList());
        return;
    }
    if (message.startsWith(':'))
        message = "Cannot save the waveform file " + w.Dialogs.Answer + message;
    QCOMPARE(w.Messages.Messages.size(), 1);
    QCOMPARE(w.Messages.Messages[0].Text, message);
    QCOMPARE(w.Messages.Messages[0].Caption, QString("ERROR"));
    QCOMPARE(w.Messages.Messages[0].Icon, Platform::TMsgIcon::Warning);
}

void TestWaveFile::emptySaveAsks_data()
{
    QTest::addColumn<QString>("before"); // what the window did first
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("saved");
    QTest::newRow("nothing, then No") << "nothing" << false << true << false;
    QTest::newRow("nothing, then Yes") << "nothing" << true << true << true;
    QTest::newRow("an Acquire without a reply") << "silent acquire" << false << true << false;
    QTest::newRow("an Acquire") << "acquire" << false << false << true;
    QTest::newRow("a load") << "load" << false << false << true;
    QTest::newRow("a refused load") << "refused load" << false << true << false;
}

void TestWaveFile::emptySaveAsks()
{
    QFETCH(QString, before);
    QFETCH(bool, answer);
    QFETCH(bool, asked);
    QFETCH(bool, saved);
    TMemoryWindow w;
    TFileDialogCapture dialogs;
    TQuestionCapture questions;
    questions.Answer = answer;
    if (before == "acquire" || before == "silent acquire") {
        if (before == "acquire") {
            QByteArray block = "T=25.31 C\r\n";
            for (int k = 0; k < ChannelLength; ++k)
                block += QByteArray::number(File1(k)) + "," + QByteArray::number(File2(k)) + "\r\n";
            w.Line.Replies['s'] = block;
        }
        QSignalSpy ended(w.Form.get(), &TFormMain::AcquireEnded);
        w.Form->TB_Acquire->click();
        QVERIFY(ended.wait(10000));
    } else if (before == "load" || before == "refused load") {
        dialogs.Answer = w.Folder.Path("in.csv");
        QVERIFY(TWorkingFolder::Write(dialogs.Answer, Text(Lines(before == "load" ? 1568 : 10))));
        w.Form->mmLoad->trigger();
    }
    // The channels hold the acquired or loaded samples, else the starting flat line.
    const bool held = before == "acquire" || before == "load";
    QCOMPARE(w.Form->FEngine->Channel1()[7], held ? File1(7) : int16_t(ChannelMidScale));
    QCOMPARE(w.Form->FEngine->Channel2()[7], held ? File2(7) : int16_t(ChannelMidScale));
    w.Messages.Clear();
    dialogs.Requests.clear();
    dialogs.Answer = w.Folder.Path("out.csv");

    w.Form->mmSave->trigger();

    QCOMPARE(questions.Asked.size(), asked ? 1 : 0);
    if (asked) {
        QCOMPARE(questions.Asked[0].Text, QString("No waveform has been acquired or loaded yet. Save the empty waveform?"));
        QCOMPARE(questions.Asked[0].Caption, QString("Save waveform signal as file ..."));
    }
    // A No ends it before the dialog.
    QCOMPARE(dialogs.Requests.size(), saved ? 1 : 0);
    QCOMPARE(TWorkingFolder::Read(w.Folder.Path("out.csv")),
             saved ? WaveFile::WaveformText(w.Form->FEngine->Channel1(), w.Form->FEngine->Channel2()) : QByteArray("<missing>"));
    QCOMPARE(w.Messages.Texts(), QStringList());
}

QTEST_MAIN(TestWaveFile)
#include "tst_wavefile.moc"
