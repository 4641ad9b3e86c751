// TCircularBuffer: wrap, statistics, cursor walk and deletion.

#include "ringbuffer/CircularBuffer.h"

#include <QList>
#include <QtTest>

#include <cstdint>
#include <limits>

using TLongRing = TCircularBuffer<int32_t>;
using TFloatRing = TCircularBuffer<float>;

namespace {

template <typename T>
QList<T> Held(const TCircularBuffer<T> &ring)
{
    QList<T> values;
    for (int32_t i = 0; i < ring.Count(); ++i)
        values << ring.At(i);
    return values;
}

// Pushes 1 .. n.
void Fill(TFloatRing &ring, int n)
{
    for (int i = 1; i <= n; ++i)
        ring.Push(float(i));
}

QList<float> Range(int from, int to)
{
    QList<float> values;
    for (int i = from; i <= to; ++i)
        values << float(i);
    return values;
}

} // namespace

class TestRingBuffer : public QObject {
    Q_OBJECT
private slots:
    void pushWrapsAtCapacity();
    void resetZeroesAndKeepsCursor();
    void longMean_data();
    void longMean();
    void floatMean_data();
    void floatMean();
    void stdDev_data();
    void stdDev();
    void longStdDevUsesTruncatedMean();
    void maxMin_data();
    void maxMin();
    void emptyStatisticsLeaveCursor();
    void cursorWalk_data();
    void cursorWalk();
    void removal_data();
    void removal();
    void pushAfterRemovalContinuesInOrder();
};

void TestRingBuffer::pushWrapsAtCapacity()
{
    TFloatRing ring(32);
    for (int i = 1; i <= 31; ++i)
        QVERIFY2(!ring.Push(float(i)), qPrintable(QString::number(i)));
    QCOMPARE(ring.Head(), 31);
    QVERIFY(ring.Push(32.0f));
    QCOMPARE(ring.Head(), 0);
    QCOMPARE(ring.Count(), 32);

    QVERIFY(!ring.Push(33.0f));
    QCOMPARE(ring.At(0), 33.0f);
    QCOMPARE(ring.At(1), 2.0f);
    QCOMPARE(ring.Count(), 32);
    QCOMPARE(ring.Head(), 1);
}

void TestRingBuffer::resetZeroesAndKeepsCursor()
{
    TLongRing ring(4);
    for (int32_t v : {5, 6, 7})
        ring.Push(v);
    ring.SetCursor(2);
    ring.Reset();
    QCOMPARE(ring.Count(), 0);
    QCOMPARE(ring.Head(), 0);
    QCOMPARE(ring.Cursor(), 2);
    for (int32_t i = 0; i < ring.Capacity(); ++i)
        QCOMPARE(ring.At(i), 0);
}

void TestRingBuffer::longMean_data()
{
    QTest::addColumn<QList<int32_t>>("values");
    QTest::addColumn<int32_t>("mean");
    const int32_t big = std::numeric_limits<int32_t>::max();
    QTest::newRow("empty") << QList<int32_t>{} << 0;
    QTest::newRow("1,2 truncates down") << QList<int32_t>{1, 2} << 1;
    QTest::newRow("-1,-2 truncates toward zero") << QList<int32_t>{-1, -2} << -1;
    QTest::newRow("-7,2") << QList<int32_t>{-7, 2} << -2;
    QTest::newRow("sum beyond 32 bits") << QList<int32_t>{big, big, big} << big;
}

void TestRingBuffer::longMean()
{
    QFETCH(QList<int32_t>, values);
    QFETCH(int32_t, mean);
    TLongRing ring(32);
    for (int32_t v : values)
        ring.Push(v);
    QCOMPARE(ring.Mean(), mean);
}

void TestRingBuffer::floatMean_data()
{
    QTest::addColumn<QList<float>>("values");
    QTest::addColumn<float>("mean");
    QTest::newRow("empty") << QList<float>{} << 0.0f;
    QTest::newRow("1.5,2") << QList<float>{1.5f, 2.0f} << 1.75f;
    // A float running sum would lose the 1 entirely and give 0.
    QTest::newRow("1e8,1,-1e8") << QList<float>{1e8f, 1.0f, -1e8f} << float(1.0 / 3.0);
    // A float running sum gives 16777216 / 3 = 5592405.5; the double sum 16777218 / 3 is exact.
    QTest::newRow("2^24,1,1") << QList<float>{16777216.0f, 1.0f, 1.0f} << 5592406.0f;
}

void TestRingBuffer::floatMean()
{
    QFETCH(QList<float>, values);
    QFETCH(float, mean);
    TFloatRing ring(32);
    for (float v : values)
        ring.Push(v);
    // Exact: QCOMPARE on floats is fuzzy and would let a float running sum pass.
    const float actual = ring.Mean();
    QVERIFY2(actual == mean, qPrintable(QString("%1 != %2").arg(actual, 0, 'g', 9).arg(mean, 0, 'g', 9)));
}

void TestRingBuffer::stdDev_data()
{
    QTest::addColumn<QList<float>>("values");
    QTest::addColumn<float>("deviation");
    QTest::newRow("empty") << QList<float>{} << 0.0f;
    QTest::newRow("one value") << QList<float>{5.0f} << 0.0f;
    QTest::newRow("1,1,3,3 population form") << QList<float>{1, 1, 3, 3} << 1.0f;
    QTest::newRow("2,4,4,4,5,5,7,9") << QList<float>{2, 4, 4, 4, 5, 5, 7, 9} << 2.0f;
    QTest::newRow("1,2") << QList<float>{1, 2} << 0.5f;
}

void TestRingBuffer::stdDev()
{
    QFETCH(QList<float>, values);
    QFETCH(float, deviation);
    TFloatRing ring(32);
    for (float v : values)
        ring.Push(v);
    QCOMPARE(ring.StdDev(), deviation);
}

void TestRingBuffer::longStdDevUsesTruncatedMean()
{
    // Mean 1 (not 1.5): deviations 0 and 1.
    TLongRing ring(32);
    ring.Push(1);
    ring.Push(2);
    QCOMPARE(ring.StdDev(), float(std::sqrt(0.5)));
}

void TestRingBuffer::maxMin_data()
{
    QTest::addColumn<QList<float>>("values");
    QTest::addColumn<float>("max");
    QTest::addColumn<int>("maxCursor");
    QTest::addColumn<float>("min");
    QTest::addColumn<int>("minCursor");
    QTest::newRow("5,7,7 first maximum") << QList<float>{5, 7, 7} << 7.0f << 1 << 5.0f << 0;
    QTest::newRow("2,1,1 first minimum") << QList<float>{2, 1, 1} << 2.0f << 0 << 1.0f << 1;
    QTest::newRow("one value") << QList<float>{3} << 3.0f << 0 << 3.0f << 0;
    QTest::newRow("negatives") << QList<float>{-1, -5, -5, -1} << -1.0f << 0 << -5.0f << 1;
    QTest::newRow("extremes last") << QList<float>{0, 4, -2, 9, -3} << 9.0f << 3 << -3.0f << 4;
}

void TestRingBuffer::maxMin()
{
    QFETCH(QList<float>, values);
    QFETCH(float, max);
    QFETCH(int, maxCursor);
    QFETCH(float, min);
    QFETCH(int, minCursor);
    TFloatRing ring(32);
    for (float v : values)
        ring.Push(v);
    QCOMPARE(ring.Max(), max);
    QCOMPARE(ring.Cursor(), maxCursor);
    QCOMPARE(ring.Min(), min);
    QCOMPARE(ring.Cursor(), minCursor);
}

void TestRingBuffer::emptyStatisticsLeaveCursor()
{
    TFloatRing ring(32);
    ring.SetCursor(9);
    QCOMPARE(ring.Max(), 0.0f);
    QCOMPARE(ring.Min(), 0.0f);
    QCOMPARE(ring.Cursor(), 9);
    QCOMPARE(ring.RemoveAtCursor(), 0);
    QCOMPARE(ring.Cursor(), 9);
    QCOMPARE(ring.Head(), 0);
    QCOMPARE(ring.Count(), 0);
}

void TestRingBuffer::cursorWalk_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("pushes");
    QTest::addColumn<float>("newest");
    QTest::addColumn<int>("newestCursor");
    QTest::addColumn<float>("oldest");
    QTest::addColumn<int>("oldestCursor");
    QTest::addColumn<QList<float>>("order"); // oldest first

    QTest::newRow("not wrapped") << 5 << 3 << 3.0f << 2 << 1.0f << 0 << Range(1, 3);
    QTest::newRow("just wrapped") << 32 << 32 << 32.0f << 31 << 1.0f << 0 << Range(1, 32);
    QTest::newRow("wrapped and overwritten") << 5 << 7 << 7.0f << 1 << 3.0f << 2 << Range(3, 7);
}

void TestRingBuffer::cursorWalk()
{
    QFETCH(int, capacity);
    QFETCH(int, pushes);
    QFETCH(float, newest);
    QFETCH(int, newestCursor);
    QFETCH(float, oldest);
    QFETCH(int, oldestCursor);
    QFETCH(QList<float>, order);

    TFloatRing ring(capacity);
    Fill(ring, pushes);
    QCOMPARE(ring.SeekNewest(), newest);
    QCOMPARE(ring.Cursor(), newestCursor);

    QList<float> walk;
    walk << ring.SeekOldest();
    QCOMPARE(ring.Cursor(), oldestCursor);
    QCOMPARE(walk.first(), oldest);
    for (int i = 1; i < ring.Count(); ++i)
        walk << ring.Next();
    QCOMPARE(walk, order);

    if (ring.Count() == ring.Capacity()) {
        // On a full ring, newest then Count() steps visits every value oldest first.
        ring.SeekNewest();
        walk.clear();
        for (int i = 0; i < ring.Count(); ++i)
            walk << ring.Next();
        QCOMPARE(walk, order);
    }
}

void TestRingBuffer::removal_data()
{
    QTest::addColumn<int>("pushes");     // 1 .. pushes into capacity 32
    QTest::addColumn<bool>("atCursor");  // RemoveAtCursor, else RemoveAt(position)
    QTest::addColumn<int>("cursorBefore");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("result");     // RemoveAtCursor's result
    QTest::addColumn<QList<float>>("held");
    QTest::addColumn<int>("cursorAfter");
    QTest::addColumn<int>("headAfter");
    QTest::addColumn<float>("nextRead");  // Next() after the removal

    QList<float> without6 = Range(1, 5) + Range(7, 32);
    QTest::newRow("cursor 5 of full 32") << 32 << true << 5 << 0 << 5 << without6 << 4 << 31 << 7.0f;
    QTest::newRow("cursor 0") << 4 << true << 0 << 0 << 0 << Range(2, 4) << -1 << 3 << 2.0f;
    QTest::newRow("cursor at last") << 4 << true << 3 << 0 << 3 << Range(1, 3) << 2 << 3 << 4.0f;
    QTest::newRow("cursor past the values") << 4 << true << -1 << 0 << -1 << Range(1, 4) << -1 << 4 << 1.0f;
    QTest::newRow("at 2, cursor above") << 5 << false << 4 << 2 << 0 << (Range(1, 2) + Range(4, 5)) << 3 << 4 << 5.0f; // slot 4 keeps its stale value
    QTest::newRow("at 2, cursor on it") << 5 << false << 2 << 2 << 0 << (Range(1, 2) + Range(4, 5)) << 1 << 4 << 4.0f;
    QTest::newRow("at 2, cursor below") << 5 << false << 1 << 2 << 0 << (Range(1, 2) + Range(4, 5)) << 1 << 4 << 4.0f;
    QTest::newRow("at 0 of full 32") << 32 << false << 31 << 0 << 0 << Range(2, 32) << 30 << 31 << 32.0f;
    QTest::newRow("at count: nothing") << 5 << false << 1 << 5 << 0 << Range(1, 5) << 1 << 5 << 3.0f;
    QTest::newRow("negative: nothing") << 5 << false << 1 << -1 << 0 << Range(1, 5) << 1 << 5 << 3.0f;
}

void TestRingBuffer::removal()
{
    QFETCH(int, pushes);
    QFETCH(bool, atCursor);
    QFETCH(int, cursorBefore);
    QFETCH(int, position);
    QFETCH(int, result);
    QFETCH(QList<float>, held);
    QFETCH(int, cursorAfter);
    QFETCH(int, headAfter);
    QFETCH(float, nextRead);

    TFloatRing ring(32);
    Fill(ring, pushes);
    ring.SetCursor(cursorBefore);
    if (atCursor)
        QCOMPARE(ring.RemoveAtCursor(), result);
    else
        ring.RemoveAt(position);
    QCOMPARE(Held(ring), held);
    QCOMPARE(ring.Count(), held.size());
    QCOMPARE(ring.Cursor(), cursorAfter);
    QCOMPARE(ring.Head(), headAfter);
    QCOMPARE(ring.Next(), nextRead);
}

void TestRingBuffer::pushAfterRemovalContinuesInOrder()
{
    TFloatRing ring(32);
    Fill(ring, 5);
    ring.RemoveAt(1);
    ring.Push(6.0f);
    QCOMPARE(Held(ring), (QList<float>{1, 3, 4, 5, 6}));
    QCOMPARE(ring.Mean(), 19.0f / 5.0f);
}

QTEST_APPLESS_MAIN(TestRingBuffer)
#include "tst_ringbuffer.moc"
