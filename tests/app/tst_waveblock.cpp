// The waveform block format: header search across chunks, sample lines and whole blocks, on
// plain buffers and channel arrays.

#include "engine/WaveBlock.h"

#include <QRandomGenerator>
#include <QtTest>

#include <array>

namespace {

constexpr int Channel = 1568;
constexpr int16_t Untouched = -7777;
constexpr int Guard = 16; // slots either side of the channel that must never be written

QByteArray Line(int first, int second)
{
    return QByteArray::number(first).rightJustified(4, ' ') + ',' + QByteArray::number(second).rightJustified(4, ' ')
           + "\r\n";
}

QByteArray Lines(int count, int from = 0)
{
    QByteArray text;
    for (int i = from; i < from + count; ++i)
        text += Line(i % 4096, 4095 - i % 4096);
    return text;
}

// Both channels with guard slots before and after, all marked untouched.
struct TChannels {
    std::array<int16_t, Channel + 2 * Guard> One, Two;
    TChannels()
    {
        One.fill(Untouched);
        Two.fill(Untouched);
    }
    int16_t *First() { return One.data() + Guard; }
    int16_t *Second() { return Two.data() + Guard; }
    // Slots written outside indices 0..1079, or -1 when none.
    int WrittenOutside() const
    {
        for (int i = 0; i < int(One.size()); ++i) {
            const int index = i - Guard;
            if ((index < 0 || index >= WaveBlock::MaxSamples) && (One[i] != Untouched || Two[i] != Untouched))
                return index;
        }
        return -1;
    }
};

} // namespace

class TestWaveBlock : public QObject {
    Q_OBJECT
private slots:
    void sampleLines_data();
    void sampleLines();
    void blockLengths_data();
    void blockLengths();
    void headerSplitAtEveryPosition();
    void headerTemperature_data();
    void headerTemperature();
    void noHeaderStoresNothing();
    void randomBytesInEveryChunkSize();
};

void TestWaveBlock::sampleLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<int>>("values"); // first, second of each stored pair
    QTest::addColumn<QByteArrayList>("listed");
    QTest::addColumn<QByteArray>("left");

    QTest::newRow("plain") << QByteArray("2048,2047\r\n") << QList<int>{2048, 2047} << QByteArrayList{"2048,2047"}
                           << QByteArray();
    QTest::newRow("space after digits") << QByteArray("123 ,4095\r\n") << QList<int>{123, 4095}
                                        << QByteArrayList{"123 ,4095"} << QByteArray();
    QTest::newRow("leading spaces") << QByteArray("   7,  12\r\n") << QList<int>{7, 12} << QByteArrayList{"   7,  12"}
                                    << QByteArray();
    QTest::newRow("3-character first field") << QByteArray("123,4095\r\n2048,2047\r\n") << QList<int>{2048, 2047}
                                             << QByteArrayList{"2048,2047"} << QByteArray();
    QTest::newRow("3-character second field") << QByteArray("2048,409\r\n1,2\r\n   1,   2\r\n") << QList<int>{1, 2}
                                              << QByteArrayList{"   1,   2"} << QByteArray();
    QTest::newRow("3-character first field after an empty line")
        << QByteArray("\r\n123,4095\r\n2048,2047\r\n") << QList<int>{2048, 2047} << QByteArrayList{"2048,2047"}
        << QByteArray();
    QTest::newRow("letters before the first field") << QByteArray("ab2048,2047\r\n") << QList<int>{2048, 2047}
                                                    << QByteArrayList{"2048,2047"} << QByteArray();
    QTest::newRow("garbled fields read 0") << QByteArray("2x48,2047\r\n2048,,,,,\r\n")
                                           << QList<int>{0, 2047, 2048, 0}
                                           << QByteArrayList{"2x48,2047", "2048,,,,,"} << QByteArray();
    QTest::newRow("line end too early") << QByteArray("2048,20\r\n\r\n1000,1001\r\n") << QList<int>{1000, 1001}
                                        << QByteArrayList{"1000,1001"} << QByteArray();
    QTest::newRow("no line end yet") << QByteArray("2048,2047\r\n1000,1001\r") << QList<int>{2048, 2047}
                                     << QByteArrayList{"2048,2047"} << QByteArray("1000,1001\r");
    QTest::newRow("no comma") << QByteArray("no samples here\r\nat all\r\n") << QList<int>{} << QByteArrayList{}
                              << QByteArray("no samples here\r\nat all\r\n");
    QTest::newRow("last two lines of a block") << Lines(3) << QList<int>{0, 4095, 1, 4094, 2, 4093}
                                               << QByteArrayList{"   0,4095", "   1,4094", "   2,4093"}
                                               << QByteArray();
}

void TestWaveBlock::sampleLines()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<int>, values);
    QFETCH(QByteArrayList, listed);
    QFETCH(QByteArray, left);
    TChannels channels;
    QByteArrayList lines;
    const int32_t count = WaveBlock::ParseBlock(text, channels.First(), channels.Second(), 0, &lines);
    QCOMPARE(count, values.size() / 2);
    for (int i = 0; i < count; ++i) {
        QCOMPARE(channels.First()[i], int16_t(values[2 * i]));
        QCOMPARE(channels.Second()[i], int16_t(values[2 * i + 1]));
    }
    QCOMPARE(channels.First()[count], Untouched);
    QCOMPARE(lines, listed);
    QCOMPARE(text, left);
}

void TestWaveBlock::blockLengths_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("after"); // characters left unparsed
    QTest::newRow("1080 lines, nothing after") << 1080 << 0;
    QTest::newRow("1100 lines") << 1100 << 20 * WaveBlock::SampleLineLength;
    QTest::newRow("1568 lines") << 1568 << 488 * WaveBlock::SampleLineLength;
    QTest::newRow("1000 lines") << 1000 << 0;
}

void TestWaveBlock::blockLengths()
{
    QFETCH(int, lines);
    QFETCH(int, after);
    QByteArray text = Lines(lines);
    TChannels channels;
    QByteArrayList listed;
    const int stored = qMin(lines, WaveBlock::MaxSamples);
    QCOMPARE(WaveBlock::ParseBlock(text, channels.First(), channels.Second(), 0, &listed), stored);
    QCOMPARE(listed.size(), stored);
    QCOMPARE(channels.First()[stored - 1], int16_t(stored - 1));
    QCOMPARE(channels.Second()[stored - 1], int16_t(4095 - (stored - 1)));
    QCOMPARE(text.size(), after);
    QCOMPARE(channels.WrittenOutside(), -1);
    // A block goes on from its count; a full one takes no more lines.
    QByteArray more = Lines(5);
    const int next = qMin(stored + 5, WaveBlock::MaxSamples);
    QCOMPARE(WaveBlock::ParseBlock(more, channels.First(), channels.Second(), stored, &listed), next);
    QCOMPARE(channels.WrittenOutside(), -1);
}

void TestWaveBlock::headerSplitAtEveryPosition()
{
    const QByteArray block = "menu text\r\n>T=25.31 C\r\n" + Lines(30);
    for (int split = 0; split <= block.size(); ++split) {
        const QString where = QString::number(split);
        // As the window collects it: chunk after chunk until the header stood whole.
        QByteArray buffer;
        float temperature = -1;
        bool found = false;
        for (const QByteArray &chunk : {block.left(split), block.mid(split)}) {
            buffer += chunk;
            if (!found)
                found = WaveBlock::TakeHeader(buffer, temperature);
        }
        QVERIFY2(found, qPrintable(where));
        QCOMPARE(temperature, 25.31f);
        TChannels channels;
        QVERIFY2(WaveBlock::ParseBlock(buffer, channels.First(), channels.Second(), 0) == 30, qPrintable(where));
        QCOMPARE(channels.First()[29], int16_t(29));
    }
}

void TestWaveBlock::headerTemperature_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<float>("temperature");
    QTest::addColumn<QByteArray>("left");
    QTest::newRow("nominal") << QByteArray("T=25.31 C\r\n1") << 25.31f << QByteArray("1");
    QTest::newRow("negative") << QByteArray("xxT=-3.50 C\r\n") << -3.5f << QByteArray();
    QTest::newRow("not a number") << QByteArray("T=ab.cd C\r\n") << 0.0f << QByteArray();
    QTest::newRow("first marker counts") << QByteArray("T=12.00 C\r\nT=99.00 C\r\n") << 12.0f
                                         << QByteArray("T=99.00 C\r\n");
}

void TestWaveBlock::headerTemperature()
{
    QFETCH(QByteArray, text);
    QFETCH(float, temperature);
    QFETCH(QByteArray, left);
    float read = -1;
    QVERIFY(WaveBlock::TakeHeader(text, read));
    QCOMPARE(read, temperature);
    QCOMPARE(text, left);
}

void TestWaveBlock::noHeaderStoresNothing()
{
    // Text without a marker is not kept while the header is awaited.
    QByteArray text = Lines(40) + "T";
    float temperature = 7;
    QVERIFY(!WaveBlock::TakeHeader(text, temperature));
    QCOMPARE(text, QByteArray("T"));
    QCOMPARE(temperature, 7.0f);
    // A block parsed without its header leaves the channels as they were.
    text = Lines(40);
    TChannels channels;
    QByteArrayList lines;
    QCOMPARE(WaveBlock::ParseBlock(text, channels.First(), channels.Second(), -1, &lines), -1);
    QCOMPARE(channels.WrittenOutside(), -1);
    QCOMPARE(channels.First()[0], Untouched);
    QVERIFY(lines.isEmpty());
}

void TestWaveBlock::randomBytesInEveryChunkSize()
{
    QRandomGenerator random(1080);
    const QList<QByteArray> pieces{"T=", "\r\n", ",", "2048,2047\r\n", " 12,", "T=25.31 C\r\n"};
    for (int chunkSize = 1; chunkSize <= 2000; chunkSize += chunkSize < 40 ? 1 : 37) {
        // Noise with pieces of the format among it, so the parser gets far into its paths.
        QByteArray stream;
        while (stream.size() < 30000) {
            if (random.bounded(4) == 0)
                stream += pieces[random.bounded(int(pieces.size()))];
            else
                stream += char(random.bounded(256));
        }
        TChannels channels;
        QByteArray buffer;
        float temperature = 0;
        int32_t count = -1;
        for (int at = 0; at < stream.size(); at += chunkSize) {
            buffer += stream.mid(at, chunkSize);
            if (count < 0 && WaveBlock::TakeHeader(buffer, temperature))
                count = 0;
            QVERIFY(buffer.size() <= stream.size());
            // Parsing as the text arrives, so the whole range of counts is walked.
            count = WaveBlock::ParseBlock(buffer, channels.First(), channels.Second(), count);
            QVERIFY(count >= -1 && count <= WaveBlock::MaxSamples);
        }
        QVERIFY2(channels.WrittenOutside() == -1, qPrintable(QString::number(chunkSize)));
        if (chunkSize > 1)
            continue;
        // Any single attempt takes something off a non-empty text.
        qsizetype used = 0;
        WaveBlock::TSampleLine line;
        for (QByteArrayView rest(stream); !rest.isEmpty(); rest = rest.sliced(used)) {
            WaveBlock::ParseSampleLine(rest, used, line);
            QVERIFY(used >= 1 && used <= rest.size());
        }
    }
}

QTEST_MAIN(TestWaveBlock)
#include "tst_waveblock.moc"
