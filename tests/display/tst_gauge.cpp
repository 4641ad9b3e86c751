// TGauge: construction, setters and redraws, update of the values, and the strip charts'
// pixels on the main window's 817 x 369 gauge.

#include "display/Cgauge.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Geometry of an 817 x 369 gauge: frame (65, 20)-(791, 348), inner edges 66, 790, 21, 347.
constexpr int W = 817, H = 369;
constexpr int L1 = 66, R1 = 790, T1 = 21, B1 = 347;

TSampleList Samples(const QList<float> &values)
{
    TSampleList list;
    for (float v : values)
        list.push_back(std::make_unique<float>(v));
    return list;
}


// Cells holding an unsigned 16-bit sample in their first two bytes.
TSampleList Words(const QList<int> &values)
{
    TSampleList list;
    for (int v : values) {
        auto cell = std::make_unique<float>(0.0f);
        const uint16_t word = uint16_t(v);
        std::memcpy(cell.get(), &word, sizeof word);
        list.push_back(std::move(cell));
    }
    return list;
}

int Count(const QImage &image, QRgb colour, const QRect &area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
}

int Count(const QImage &image, QRgb colour)
{
    return Count(image, colour, image.rect());
}

// The main window's set-up.
struct TMainGauge {
    TGauge gauge{nullptr, W, H, 5};
    TCircularBuffer<float> ring{32};
    TSampleList trend;
    explicit TMainGauge(int span = 1600)
    {
        gauge.FValues = gauge.FValues2 = gauge.FAngles = &ring;
        gauge.FSamples = &trend;
        gauge.SetMode(TGaugeMode::SingleChannel);
        gauge.SetUnit(QStringLiteral("degree"));
        gauge.SetZoom(1.0f);
        gauge.SetXSpan(span);
    }
};

// Cyan bold size-8 text as the strip charts draw it, alone on black.
QImage LabelImage(const QString &text, QSize &size)
{
    QImage image(60, 20, QImage::Format_RGB32);
    image.fill(clBlack);
    TCanvas canvas(&image);
    canvas.Font.Size = 8;
    canvas.Font.Bold = true;
    canvas.Font.Color = clCyan;
    canvas.Brush.Color = clBlack;
    size = QSize(canvas.TextWidth(text), canvas.TextHeight(text));
    canvas.TextOut(0, 0, text);
    canvas.End();
    return image.copy(QRect(QPoint(0, 0), size));
}

} // namespace

class TestGauge : public QObject {
    Q_OBJECT
private slots:
    void construction();
    void setterRedraws_data();
    void setterRedraws();
    void unitTable_data();
    void unitTable();
    void xSpanAndShift_data();
    void xSpanAndShift();
    void updateTakesNewestOrZero_data();
    void updateTakesNewestOrZero();
    void frameAndAxis();
    void traceHeight_data();
    void traceHeight();
    void threeSamplesAsDrawn();
    void sampleWindow_data();
    void sampleWindow();
    void dualChannel_data();
    void dualChannel();
    void changeSize();
    void flatAxisDrawsNoTrace();
    void noSamplesLeavesPicture();
};

void TestGauge::construction()
{
    TGauge gauge(nullptr, W, H, 5);
    QCOMPARE(QPoint(gauge.CenterX(), gauge.CenterY()), QPoint(408, 184));
    QCOMPARE(gauge.Picture().size(), QSize(W, H));
    QCOMPARE(Count(gauge.Picture(), clBlack), W * H); // the dial is not drawn yet
    QCOMPARE(gauge.XSpan(), 400);
    QCOMPARE(gauge.Unit(), QStringLiteral("m/s"));
    QCOMPARE(gauge.FullScale(), 40.0f);
    QCOMPARE(gauge.UnitFactor(), 1.0f);
    QCOMPARE(gauge.Zoom(), 8.0f);
    QCOMPARE(gauge.ResetCount(), 1);

    // The bare control has nothing to draw on and must not fail for it.
    TGauge bare(nullptr);
    QVERIFY(bare.Picture().isNull());
    QCOMPARE(bare.XSpan(), 0);
    QVERIFY(bare.Unit().isEmpty());
    TSampleList samples = Samples(QList<float>(5, 1.0f));
    bare.FSamples = &samples;
    bare.UpdateDisplay();
    bare.SetMode(TGaugeMode(12)); // any mode outside the table leaves the picture black
    QCOMPARE(Count(bare.Picture(), clBlack), bare.width() * bare.height());
}

enum TSetter { Mode, Zoom, FullScale, VCenter, VRange, XSpan, Unit };

void TestGauge::setterRedraws_data()
{
    QTest::addColumn<int>("setter");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("redraws");
    QTest::newRow("same mode") << int(Mode) << 0.0 << false;
    QTest::newRow("other mode") << int(Mode) << 8.0 << true;
    QTest::newRow("zoom 1.0 from 8.0") << int(Zoom) << 1.0 << true;
    QTest::newRow("zoom unchanged") << int(Zoom) << 8.0 << false;
    QTest::newRow("full scale unchanged") << int(FullScale) << 40.0 << false;
    QTest::newRow("full scale 50") << int(FullScale) << 50.0 << true;
    QTest::newRow("v-centre unchanged") << int(VCenter) << 180.0 << false;
    QTest::newRow("v-centre 100") << int(VCenter) << 100.0 << true;
    QTest::newRow("v-range unchanged") << int(VRange) << 180.0 << false;
    QTest::newRow("v-range 90") << int(VRange) << 90.0 << true;
    QTest::newRow("x-span 32") << int(XSpan) << 32.0 << false;
    QTest::newRow("unit unchanged") << int(Unit) << 0.0 << true;
}

void TestGauge::setterRedraws()
{
    QFETCH(int, setter);
    QFETCH(double, value);
    QFETCH(bool, redraws);
    TGauge gauge(nullptr, W, H, 5);
    const int before = gauge.ResetCount();
    switch (setter) {
    case Mode: gauge.SetMode(TGaugeMode(value)); break;
    case Zoom: gauge.SetZoom(float(value)); break;
    case FullScale: gauge.SetFullScale(float(value)); break;
    case VCenter: gauge.SetVCenter(int(value)); break;
    case VRange: gauge.SetVRange(int(value)); break;
    case XSpan: gauge.SetXSpan(int(value)); break;
    case Unit: gauge.SetUnit(gauge.Unit()); break;
    }
    QCOMPARE(gauge.ResetCount(), before + (redraws ? 1 : 0));
    if (setter == Zoom && redraws) {
        gauge.SetZoom(float(value)); // a second time changes nothing
        QCOMPARE(gauge.ResetCount(), before + 1);
    }
}

void TestGauge::unitTable_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<float>("factor");
    QTest::addColumn<float>("fullScale");
    QTest::newRow("m/s") << "m/s" << 1.0f << 4.0f;
    QTest::newRow("km/hour") << "km/hour" << 3.6f << 16.0f;
    QTest::newRow("ft/min") << "ft/min" << 196.85f << 800.0f;
    QTest::newRow("mile/hour") << "mile/hour" << 2.232f << 8.0f;
    QTest::newRow("dB") << "dB" << 1.0f << 100.0f;
    QTest::newRow("ten thousand ppm") << QString::fromUtf8("萬ppm") << 1.0f << 80.0f;
    QTest::newRow("Celsius") << QString::fromUtf8("℃") << 1.0f << 40.0f;
    QTest::newRow("Volt") << "Volt" << 1.0f << 10.0f;
    QTest::newRow("degree") << "degree" << 1.0f << 360.0f;
    // Not in the table: the previous unit's (km/hour) factor and full scale stay.
    QTest::newRow("knots") << "knots" << 3.6f << 16.0f;
    QTest::newRow("case matters") << "Degree" << 3.6f << 16.0f;
}

void TestGauge::unitTable()
{
    QFETCH(QString, unit);
    QFETCH(float, factor);
    QFETCH(float, fullScale);
    TGauge gauge(nullptr, W, H, 5);
    gauge.SetUnit(QStringLiteral("km/hour"));
    const int before = gauge.ResetCount();
    gauge.SetUnit(unit);
    QCOMPARE(gauge.Unit(), unit);
    QCOMPARE(gauge.UnitFactor(), factor);
    QCOMPARE(gauge.FullScale(), fullScale);
    gauge.SetUnit(unit);
    QCOMPARE(gauge.ResetCount(), before + 2);
}

void TestGauge::xSpanAndShift_data()
{
    QTest::addColumn<int>("span");
    QTest::addColumn<int>("shift");
    QTest::addColumn<int>("wantSpan");
    QTest::addColumn<int>("wantShift"); // from a shift of 5 before
    QTest::newRow("span 31, shift 0") << 31 << 0 << 1600 << 0;
    QTest::newRow("span 32, shift 899") << 32 << 899 << 32 << 899;
    QTest::newRow("shift 899") << 1600 << 899 << 1600 << 899;
    QTest::newRow("shift 900") << 1600 << 900 << 1600 << 5;
    QTest::newRow("shift -1") << 1600 << -1 << 1600 << 5;
}

void TestGauge::xSpanAndShift()
{
    QFETCH(int, span);
    QFETCH(int, shift);
    QFETCH(int, wantSpan);
    QFETCH(int, wantShift);
    TMainGauge main;
    main.trend = Samples(QList<float>(5000, 0.0f));
    main.gauge.SetXShift(5);
    QCOMPARE(main.gauge.XShift(), 5);
    const int resets = main.gauge.ResetCount();
    main.gauge.SetXSpan(span);
    main.gauge.SetXShift(shift);
    QCOMPARE(main.gauge.XSpan(), wantSpan);
    QCOMPARE(main.gauge.XShift(), wantShift);
    QCOMPARE(main.gauge.ResetCount(), resets);
}

void TestGauge::updateTakesNewestOrZero_data()
{
    QTest::addColumn<int>("how"); // 0 filled, 1 cleared, 2 emptied by removal, 3 no sources
    QTest::addColumn<float>("want");
    QTest::newRow("filled") << 0 << 7.5f;
    QTest::newRow("freshly cleared") << 1 << 0.0f;
    QTest::newRow("emptied by removal") << 2 << 0.0f;
    QTest::newRow("no sources") << 3 << 0.0f;
}

void TestGauge::updateTakesNewestOrZero()
{
    QFETCH(int, how);
    QFETCH(float, want);
    TGauge gauge(nullptr, W, H, 5);
    TCircularBuffer<float> values(32), angles(32);
    gauge.FValues = &values;
    gauge.FAngles = &angles;
    values.Push(3.0f);
    values.Push(7.5f);
    angles.Push(7.5f);
    gauge.UpdateDisplay();
    QCOMPARE(gauge.Value(), 7.5f);
    if (how == 1) {
        values.Reset();
        angles.Reset();
    } else if (how == 2) {
        values.RemoveAt(1);
        values.RemoveAt(0);
        angles.RemoveAt(0);
    } else if (how == 3) {
        gauge.FValues = gauge.FAngles = nullptr;
    }
    gauge.UpdateDisplay();
    QCOMPARE(gauge.Value(), want);
    QCOMPARE(gauge.Angle(), want);
    QCOMPARE(gauge.LastValue(), want);
}

void TestGauge::frameAndAxis()
{
    TMainGauge main;
    const QImage &p = main.gauge.Picture();
    // Two pixels of cyan inside (65, 20)-(791, 348), black on either side.
    for (QPoint q : {QPoint(65, 20), QPoint(66, 21), QPoint(790, 347), QPoint(789, 346),
                     QPoint(400, 20), QPoint(400, 347), QPoint(65, 200), QPoint(790, 200)})
        QCOMPARE(p.pixel(q), clCyan);
    for (QPoint q : {QPoint(67, 22), QPoint(788, 345), QPoint(791, 200), QPoint(400, 348),
                     QPoint(400, 19), QPoint(64, 200), QPoint(400, 184)})
        QCOMPARE(p.pixel(q), clBlack);
    QCOMPARE(Count(p, clCyan) + Count(p, clBlack), W * H);

    // Nine labels 0, 45, ... 360, right-aligned 4 pixels left of the inner edge.
    for (int k = 0; k <= 8; ++k) {
        QSize size;
        const QImage label = LabelImage(QString::number(45 * k), size);
        const int y = int(B1 - k * 40.875f) - size.height() / 2;
        QCOMPARE(p.copy(L1 - 4 - size.width(), y, size.width(), size.height()), label);
    }
    QCOMPARE(Count(p, clCyan, QRect(L1 - 4, 0, 3, H)), 0);
}

void TestGauge::traceHeight_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("row");
    QTest::newRow("180 at mid-height") << 180.0f << 184;
    QTest::newRow("90") << 90.0f << 265;
    QTest::newRow("360 on T'") << 360.0f << T1;
    QTest::newRow("400 on T'") << 400.0f << T1;
    QTest::newRow("0 on B'") << 0.0f << B1;
    QTest::newRow("-10 on B'") << -10.0f << B1;
    QTest::newRow("infinity on T'") << std::numeric_limits<float>::infinity() << T1;
    QTest::newRow("not a number on B'") << std::numeric_limits<float>::quiet_NaN() << B1;
}

void TestGauge::traceHeight()
{
    QFETCH(float, value);
    QFETCH(int, row);
    TMainGauge main;
    main.trend = Samples(QList<float>(2000, value));
    main.gauge.UpdateDisplay();
    const QImage &p = main.gauge.Picture();
    // A 2-pixel line centred on the row from x 66 to 789 (the last sample at 66 + 0.4525 x
    // 1599.5), its round ends one pixel further, and nothing else.
    const QRect line(QPoint(65, row - 1), QPoint(789, row));
    QCOMPARE(Count(p, clRed, line), line.width() * line.height());
    QCOMPARE(Count(p, clRed), line.width() * line.height());
}

void TestGauge::threeSamplesAsDrawn()
{
    // Span 32: x-step 724 / 32 = 22.625, points at L' + 0.5, 1.5, 2.5 steps = 77, 99, 122.
    TMainGauge main(32);
    const QImage reset = main.gauge.Picture().copy();
    main.trend = Samples({0.0f, 360.0f, 0.0f});
    main.gauge.UpdateDisplay();

    QImage want = reset;
    TCanvas canvas(&want);
    canvas.Pen.Width = 2;
    canvas.Pen.Color = clRed;
    canvas.MoveTo(77, B1);
    canvas.LineTo(99, T1);
    canvas.LineTo(122, B1);
    canvas.End();
    QCOMPARE(main.gauge.Picture(), want);
}

void TestGauge::sampleWindow_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("shift");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::newRow("fewer than the span") << 10 << 0 << 0 << 9;
    QTest::newRow("exactly the span") << 32 << 0 << 0 << 31;
    QTest::newRow("one more") << 33 << 0 << 1 << 32;
    QTest::newRow("shifted by 10") << 100 << 10 << 48 << 79;
}

void TestGauge::sampleWindow()
{
    QFETCH(int, count);
    QFETCH(int, shift);
    QFETCH(int, first);
    QFETCH(int, last);
    TMainGauge main(32);
    main.trend = Samples(QList<float>(count, 180.0f));
    *main.trend[first] = 0.0f;
    *main.trend[last] = 360.0f;
    main.gauge.SetXShift(shift);
    main.gauge.UpdateDisplay();
    const QImage &p = main.gauge.Picture();
    // First sample at the left on B', last one at its step on T'.
    QCOMPARE(p.pixel(77, B1), clRed);
    QCOMPARE(p.pixel(int(L1 + 22.625 * (last - first + 0.5)), T1), clRed);
}

void TestGauge::dualChannel_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("shift");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::newRow("10 samples") << 10 << 0 << "0" << "9";
    QTest::newRow("more than two spans") << 100 << 0 << "36" << "99";
    QTest::newRow("shifted") << 100 << 5 << "26" << "89";
}

void TestGauge::dualChannel()
{
    QFETCH(int, count);
    QFETCH(int, shift);
    QFETCH(QString, first);
    QFETCH(QString, last);
    TMainGauge main(32);
    main.gauge.SetMode(TGaugeMode::DualChannel);
    QList<int> words;
    for (int i = 0; i < count; ++i)
        words << (i % 2 ? 360 : 0); // channel 0 on B', channel 1 on T'
    main.trend = Words(words);
    main.gauge.SetXShift(shift);
    main.gauge.UpdateDisplay();
    const QImage &p = main.gauge.Picture();
    QCOMPARE(p.pixel(100, B1), clBlue);
    QCOMPARE(p.pixel(100, T1), clRed);

    QSize size;
    const QImage left = LabelImage(first, size);
    QCOMPARE(p.copy(L1 + 4, B1 + 4, size.width(), size.height()), left);
    const QImage right = LabelImage(last, size);
    QCOMPARE(p.copy(R1 - size.width(), B1 + 4, size.width(), size.height()), right);
}

void TestGauge::changeSize()
{
    TMainGauge main;
    main.trend = Samples(QList<float>(100, 90.0f));
    main.gauge.UpdateDisplay();
    QVERIFY(Count(main.gauge.Picture(), clRed) > 0);

    main.gauge.ChangeSize(400, 300);
    const QImage &p = main.gauge.Picture();
    QCOMPARE(p.size(), QSize(400, 300));
    QCOMPARE(QPoint(main.gauge.CenterX(), main.gauge.CenterY()), QPoint(200, 150));
    QCOMPARE(Count(p, clCyan) + Count(p, clBlack), 400 * 300);
    // hw 160, hh 130: frame (65, 20)-(375, 280).
    QCOMPARE(p.pixel(65, 20), clCyan);
    QCOMPARE(p.pixel(374, 279), clCyan);
    QCOMPARE(p.pixel(375, 279), clBlack);
    main.gauge.UpdateDisplay();
    // 90 of 360 on 258 rows: 279 - 64.5; 100 samples of 308 / 1600 pixels reach x 85.
    QCOMPARE(main.gauge.Picture().pixel(80, 214), clRed);
    QCOMPARE(main.gauge.Picture().pixel(80, 215), clBlack);
    QCOMPARE(main.gauge.Picture().pixel(87, 214), clBlack);
}

void TestGauge::flatAxisDrawsNoTrace()
{
    TMainGauge main;
    main.gauge.SetVRange(0);
    main.trend = Samples(QList<float>(100, 180.0f));
    for (int mode : {8, 7}) {
        main.gauge.SetMode(TGaugeMode(mode));
        main.gauge.UpdateDisplay();
        const QImage &p = main.gauge.Picture();
        QCOMPARE(Count(p, clRed) + Count(p, clBlue), 0);
        QCOMPARE(p.pixel(65, 20), clCyan);
        QCOMPARE(Count(p, clCyan, QRect(0, 0, 64, H)), 0); // no axis labels either
    }
}

void TestGauge::noSamplesLeavesPicture()
{
    TMainGauge main;
    main.trend = Samples(QList<float>(50, 300.0f));
    main.gauge.UpdateDisplay();
    const QImage before = main.gauge.Picture().copy();
    main.trend.clear();
    main.gauge.UpdateDisplay();
    QCOMPARE(main.gauge.Picture(), before);
    main.gauge.FSamples = nullptr;
    main.gauge.UpdateDisplay();
    QCOMPARE(main.gauge.Picture(), before);
}

QTEST_MAIN(TestGauge)
#include "tst_gauge.moc"
