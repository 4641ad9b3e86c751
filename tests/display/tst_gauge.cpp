// TGauge: construction, setters and redraws, update of the values, and the pixels of every
// mode on the main window's 817 x 369 gauge.

#include "display/Cgauge.h"
#include "platform/ScreenFit.h"
#include "tests/common/Pixels.h"

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
        list.push_back(v);
    return list;
}


// Cells holding an unsigned 16-bit sample in their first two bytes.
TSampleList Words(const QList<int> &values)
{
    TSampleList list;
    for (int v : values) {
        float cell = 0.0f;
        const uint16_t word = uint16_t(v);
        std::memcpy(&cell, &word, sizeof word);
        list.push_back(cell);
    }
    return list;
}

// How many pixels in the area have the colour.
int Count(const QImage &image, QRgb colour, const QRect &area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
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

// Bold text as the gauge draws it, alone on black; by default the strip charts' labels.
QImage LabelImage(const QString &text, QSize &size, int points = 8, QRgb colour = clCyan)
{
    QImage image(1000, 200, QImage::Format_RGB32);
    image.fill(clBlack);
    TCanvas canvas(&image);
    canvas.Font.Size = points;
    canvas.Font.Bold = true;
    canvas.Font.Color = colour;
    canvas.Brush.Color = clBlack;
    size = QSize(canvas.TextWidth(text), canvas.TextHeight(text));
    canvas.TextOut(0, 0, text);
    canvas.End();
    return image.copy(QRect(QPoint(0, 0), size));
}

// A gauge in one mode with its own value and angle buffers (FValues2 is FValues).
struct TModeGauge {
    TCircularBuffer<float> values{32}, angles{32};
    TGauge gauge;
    explicit TModeGauge(TGaugeMode mode, const QString &unit = QString(), QSize size = {W, H})
        : gauge(nullptr, size.width(), size.height(), 5)
    {
        gauge.FValues = gauge.FValues2 = &values;
        gauge.FAngles = &angles;
        if (!unit.isEmpty())
            gauge.SetUnit(unit);
        gauge.SetMode(mode);
    }
    // The value as the newest of both buffers, then an update.
    void Show(float value)
    {
        values.Push(value);
        angles.Push(value);
        gauge.UpdateDisplay();
    }
};

bool Near(const QImage &image, QPoint p, QRgb colour)
{
    return Count(image, colour, QRect(p - QPoint(1, 1), QSize(3, 3))) > 0;
}

// Where text of the given size lands when drawn on a copy of the picture at (x, y); the
// position may depend on the text's size, which place() gets.
template <typename TPlace>
QImage WithText(const QImage &picture, const QString &text, int points, QRgb colour,
                TPlace place)
{
    QImage want = picture.copy();
    TCanvas canvas(&want);
    canvas.Font.Size = points;
    canvas.Font.Bold = true;
    canvas.Font.Color = colour;
    canvas.Brush.Color = clBlack;
    const QPoint at = place(QSize(canvas.TextWidth(text), canvas.TextHeight(text)));
    canvas.TextOut(at.x(), at.y(), text);
    canvas.End();
    return want;
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
    void hugeSizeBounded_data();
    void hugeSizeBounded();
    void flatAxisDrawsNoTrace();
    void noSamplesLeavesPicture();
    void trendScale_data();
    void trendScale();
    void trendMagnitudes_data();
    void trendMagnitudes();
    void trendScrolls();
    void longTraceAsDrawn();
    void trendWithoutTrace_data();
    void trendWithoutTrace();
    void dualTrend();
    void indicator_data();
    void indicator();
    void indicatorStaysInItsBox_data();
    void indicatorStaysInItsBox();
    void smallestFontSize_data();
    void smallestFontSize();
    void meterPointer_data();
    void meterPointer();
    void valueCircle_data();
    void valueCircle();
    void angleVariation_data();
    void angleVariation();
    void dialPoints_data();
    void dialPoints();
    void updateErasesPointer_data();
    void updateErasesPointer();
    void nonFiniteDrawsNoPointer_data();
    void nonFiniteDrawsNoPointer();
    void everyModeAnySize_data();
    void everyModeAnySize();
    void axisLabelsApartWhenLow_data();
    void axisLabelsApartWhenLow();
    void discWholeWhenLow_data();
    void discWholeWhenLow();
};

void TestGauge::construction()
{
    TGauge gauge(nullptr, W, H, 5);
    QCOMPARE(QPoint(gauge.CenterX(), gauge.CenterY()), QPoint(408, 184));
    QCOMPARE(gauge.Picture().size(), QSize(W, H));
    QVERIFY(Count(gauge.Picture(), clYellow) > 0); // the direction dial's ring
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
    main.trend[first] = 0.0f;
    main.trend[last] = 360.0f;
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

void TestGauge::hugeSizeBounded_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("20000x15000") << QSize(20000, 15000);
    QTest::newRow("30000x200") << QSize(30000, 200);
    QTest::newRow("200x30000") << QSize(200, 30000);
}

void TestGauge::hugeSizeBounded()
{
    QFETCH(QSize, size);
    TMainGauge main;
    main.trend = Samples(QList<float>(100, 90.0f));
    main.gauge.ChangeSize(size.width(), size.height());
    main.gauge.UpdateDisplay();
    QCOMPARE(main.gauge.size(), size);
    // The picture takes no more than the screens can show, and holds the whole display: frame
    // and trace.
    const QSize bound = Platform::PictureBound();
    const QImage &p = main.gauge.Picture();
    QVERIFY2(!p.isNull() && p.width() <= bound.width() && p.height() <= bound.height(),
             qPrintable(QStringLiteral("%1x%2").arg(p.width()).arg(p.height())));
    QVERIFY(p.sizeInBytes() <= qsizetype(bound.width()) * bound.height() * 4);
    QCOMPARE(QPoint(main.gauge.CenterX(), main.gauge.CenterY()), QPoint(p.width() / 2, p.height() / 2));
    QVERIFY(Count(p, clCyan) > 0);
    QVERIFY(Count(p, clRed) > 0);
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

// Trends on 817 x 369: frame (55, 20)-(791, 348), inner edges 56, 790, 21, 347, grid step 40.
void TestGauge::trendScale_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QStringList>("labels");
    // Full scale 40 / factor 1 / zoom 8.
    QTest::newRow("mode 5, defaults: span 5")
        << 5 << QString() << QStringList{"0.0", "0.6", "1.3", "1.9", "2.5", "3.1", "3.8", "4.4", "5.0"};
    QTest::newRow("mode 6 in degrees: span 360")
        << 6 << "degree" << QStringList{"0.0", "45.0", "90.0", "135", "180", "225", "270", "315", "360"};
}

void TestGauge::trendScale()
{
    QFETCH(int, mode);
    QFETCH(QString, unit);
    QFETCH(QStringList, labels);
    TModeGauge m(TGaugeMode(mode), unit);
    const QImage &p = m.gauge.Picture();
    for (QPoint q : {QPoint(55, 20), QPoint(56, 21), QPoint(790, 347), QPoint(789, 346),
                     QPoint(400, 20), QPoint(55, 200), QPoint(790, 200)})
        QCOMPARE(p.pixel(q), clYellow);
    for (QPoint q : {QPoint(54, 200), QPoint(791, 200), QPoint(400, 19), QPoint(400, 348)})
        QCOMPARE(p.pixel(q), clBlack);
    QList<int> grid;
    for (int y = 22; y < 346; ++y)
        if (p.pixel(400, y) == clGray)
            grid << y;
    QCOMPARE(grid, (QList<int>{27, 67, 107, 147, 187, 227, 267, 307}));
    // Size 164 / 12 = 13, right-aligned 4 pixels left of the inner edge, centred on the rows.
    for (int k = 0; k <= 8; ++k) {
        QSize size;
        const QImage label = LabelImage(labels[k], size, 13, clYellow);
        QCOMPARE(p.copy(56 - 4 - size.width(), 347 - 40 * k - size.height() / 2, size.width(),
                        size.height()),
                 label);
    }
}

void TestGauge::trendMagnitudes_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<float>("same"); // draws the same picture
    const float inf = std::numeric_limits<float>::infinity();
    QTest::newRow("-2.5 at the height of 2.5") << -2.5f << 2.5f;
    QTest::newRow("beyond the span on the top edge") << 7.0f << 5.0f;
    QTest::newRow("infinity on the top edge") << inf << 5.0f;
    QTest::newRow("minus infinity on the top edge") << -inf << 5.0f;
    QTest::newRow("not a number on the bottom edge") << std::numeric_limits<float>::quiet_NaN() << 0.0f;
}

void TestGauge::trendMagnitudes()
{
    QFETCH(float, value);
    QFETCH(float, same);
    const auto draw = [](float v) {
        TModeGauge m(TGaugeMode::ValueTrend);
        for (int i = 0; i < 16; ++i)
            m.Show(v);
        return m.gauge.Picture().copy();
    };
    QCOMPARE(draw(value), draw(same));
}

void TestGauge::trendScrolls()
{
    // Span 5 on 326 rows: 2.5 at 184, 1.25 at 265, 3.75 at 102; x-step 734 / 32.
    TModeGauge m(TGaugeMode::ValueTrend);
    for (int i = 0; i < 16; ++i)
        m.Show(2.5f);
    const QImage &p = m.gauge.Picture();
    QVERIFY(Near(p, {67, 184}, clYellow));
    QVERIFY(Near(p, {400, 184}, clYellow)); // the 16th of 32 values, half-way across
    QVERIFY(!Near(p, {440, 184}, clYellow));

    m.values.Reset();
    m.Show(1.25f);
    for (int i = 0; i < 31; ++i)
        m.Show(2.5f);
    QVERIFY(Near(m.gauge.Picture(), {67, 265}, clYellow)); // the oldest at the left
    QVERIFY(Near(m.gauge.Picture(), {778, 184}, clYellow)); // the newest at the right
    m.Show(3.75f); // the oldest drops out, the newest comes in at the right
    QVERIFY(!Near(m.gauge.Picture(), {67, 265}, clYellow));
    QVERIFY(Near(m.gauge.Picture(), {67, 184}, clYellow));
    QVERIFY(Near(m.gauge.Picture(), {778, 102}, clYellow));
}

void TestGauge::longTraceAsDrawn()
{
    // 10000 values over 734 columns: the picture is that of every segment drawn one by one.
    TModeGauge m(TGaugeMode::ValueTrend);
    TCircularBuffer<float> values(10000);
    m.gauge.FValues = &values;
    QImage want = m.gauge.Picture().copy();
    TCanvas canvas(&want);
    canvas.Pen.Width = 3;
    canvas.Pen.Color = clYellow;
    const float xStep = 734.0f / 10000, yScale = 326.0f / 5;
    float x = 56 + xStep * 0.5f, v = 2.5f;
    for (int i = 0; i < 10000; ++i, x += xStep) {
        v += float((i * 7919) % 101 - 50) * 0.004f; // a random walk, also below 0 and above 5
        values.Push(v);
        const int y = int(qBound(21.0f, float(347.0 - double(std::fabs(v) * yScale)), 347.0f));
        i == 0 ? canvas.MoveTo(int(x), y) : canvas.LineTo(int(x), y);
    }
    canvas.End();
    m.gauge.UpdateDisplay();
    QCOMPARE(m.gauge.Picture(), want);
}

void TestGauge::trendWithoutTrace_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("height");
    QTest::addColumn<float>("fullScale");
    QTest::addColumn<float>("zoom");
    QTest::addColumn<QList<float>>("values");
    QTest::addColumn<bool>("grid");
    QTest::newRow("empty buffer") << 5 << H << 40.0f << 8.0f << QList<float>{} << true;
    QTest::newRow("full scale 0") << 6 << H << 0.0f << 8.0f << QList<float>{1, 2, 3} << true;
    QTest::newRow("zoom 0: span infinite") << 5 << H << 40.0f << 0.0f << QList<float>{1, 2} << true;
    QTest::newRow("inner height 5: step 0, no grid") << 6 << 47 << 40.0f << 8.0f << QList<float>{} << false;
}

void TestGauge::trendWithoutTrace()
{
    QFETCH(int, mode);
    QFETCH(int, height);
    QFETCH(float, fullScale);
    QFETCH(float, zoom);
    QFETCH(QList<float>, values);
    QFETCH(bool, grid);
    TModeGauge m(TGaugeMode(mode), QString(), {W, height});
    m.gauge.SetFullScale(fullScale);
    m.gauge.SetZoom(zoom);
    const QImage reset = m.gauge.Picture().copy();
    for (float v : values)
        m.values.Push(v), m.angles.Push(v);
    // Frame and grid as the reset drew them, no trace; nor of the two-trace trend.
    m.gauge.UpdateDisplay();
    QCOMPARE(m.gauge.Picture(), reset);
    m.gauge.UpdateDualTrend();
    QCOMPARE(m.gauge.Picture(), reset);
    QCOMPARE(Count(reset, clGray) > 0, grid);
}

void TestGauge::dualTrend()
{
    // On the values' trend scale (span 5): FValues yellow at 184, FValues2 olive at 265.
    TModeGauge m(TGaugeMode::DirectionDial);
    TCircularBuffer<float> second(32);
    m.gauge.FValues2 = &second;
    for (int i = 0; i < 32; ++i) {
        m.values.Push(-2.5f);
        second.Push(1.25f);
    }
    m.gauge.UpdateDualTrend();
    const QImage &p = m.gauge.Picture();
    QVERIFY(Near(p, {400, 184}, clYellow));
    QVERIFY(Near(p, {400, 265}, clOlive));
    QCOMPARE(p.pixel(55, 20), clYellow);
}

void TestGauge::indicator_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QList<float>>("values");
    QTest::addColumn<QString>("text");
    QTest::newRow("mode 4: -12.5 after a longer number") << 4 << "m/s" << QList<float>{1234.5f, -12.5f} << "-12.50";
    QTest::newRow("mode 9: angles times the factor") << 9 << "km/hour" << QList<float>{1.0f} << "3.60";
}

void TestGauge::indicator()
{
    QFETCH(int, mode);
    QFETCH(QString, unit);
    QFETCH(QList<float>, values);
    QFETCH(QString, text);
    TModeGauge m(TGaugeMode(mode), unit);
    const QImage reset = m.gauge.Picture().copy();
    // The reset's box: (99, 30)-(717, 338), a yellow outline one pixel wide.
    for (QPoint q : {QPoint(99, 30), QPoint(716, 30), QPoint(99, 337), QPoint(716, 337)})
        QCOMPARE(reset.pixel(q), clYellow);
    QCOMPARE(Count(reset, clYellow), 2 * 618 + 2 * 306);
    for (float v : values)
        m.Show(v);

    // Each update's black box (105, 33)-(711, 335) takes the number before and leaves the
    // outline: what stands is the reset's picture with the number at 64 points, its middle
    // tw/2 left of the centre, and the unit at 20 points after it.
    QSize number;
    LabelImage(text, number, 64, clYellow);
    const int tw = number.width() / 2, th = number.height() / 2;
    QVERIFY(tw <= 0.8 * 303 && th <= 0.8 * 303); // fits without shrinking
    QImage want = WithText(reset, text, 64, clYellow,
                           [&](QSize) { return QPoint(int(408 - 1.5 * tw), 184 - th); });
    want = WithText(want, unit, 20, clYellow,
                    [&](QSize) { return QPoint(408 + tw / 2, 184 + th / 2); });
    QCOMPARE(m.gauge.Picture(), want);
}

void TestGauge::indicatorStaysInItsBox_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<QRect>("box"); // the update's
    // Wide numbers would reach left of the box; on a low control tall ones above and below it.
    QTest::newRow("817 x 369") << H << QRect(QPoint(105, 33), QPoint(710, 334));
    QTest::newRow("817 x 100") << 100 << QRect(QPoint(326, 9), QPoint(489, 90));
}

void TestGauge::indicatorStaysInItsBox()
{
    QFETCH(int, height);
    QFETCH(QRect, box);
    TModeGauge m(TGaugeMode::ValueIndicator, QStringLiteral("m/s"), {W, height});
    m.gauge.SetUnit(QString()); // the number alone
    const QImage reset = m.gauge.Picture().copy();
    for (float v : {-12345.67f, 1.0f}) {
        m.Show(v);
        const QImage &p = m.gauge.Picture();
        int outside = 0;
        for (int y = 0; y < p.height(); ++y)
            for (int x = 0; x < W; ++x)
                outside += !box.contains(x, y) && p.pixel(x, y) != reset.pixel(x, y);
        QCOMPARE(outside, 0);
        QVERIFY(Count(p, clYellow, box) > 0);
    }
}

void TestGauge::smallestFontSize_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRgb>("colour");
    // The indicator's box is 20 pixels high; the value circle's radius 12 is below 16.
    QTest::newRow("indicator on 100 x 20") << 4 << QSize(100, 20) << 1e9f << "1000000000.00" << clYellow;
    QTest::newRow("value circle on 200 x 100") << 0 << QSize(200, 100) << 1.0f << "+1.00" << clRed;
}

void TestGauge::smallestFontSize()
{
    QFETCH(int, mode);
    QFETCH(QSize, size);
    QFETCH(float, value);
    QFETCH(QString, text);
    QFETCH(QRgb, colour);
    TModeGauge m(TGaugeMode(mode), QString(), size);
    m.gauge.SetUnit(QString()); // nothing drawn beside the number
    m.Show(value);
    QSize cell;
    const QImage want = LabelImage(text, cell, 4, colour); // the smallest size, 4 points
    const int cx = size.width() / 2, cy = size.height() / 2;
    const QPoint at = mode == 4 ? QPoint(int(cx - 1.5 * (cell.width() / 2)), cy - cell.height() / 2)
                                : QPoint(cx - cell.width() / 2, cy - cell.height() / 2);
    QCOMPARE(m.gauge.Picture().copy(QRect(at, cell)), want);
}

void TestGauge::meterPointer_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<float>("value");
    QTest::addColumn<QPoint>("tip");
    QTest::addColumn<QPoint>("side1"); // half-way along each edge of the open V
    QTest::addColumn<QPoint>("side2");
    // Radius 204, pivot (408, 235); the tip at radius 199.
    QTest::newRow("m/s: 2.0 straight up") << "m/s" << 2.0f << QPoint(408, 36) << QPoint(405, 114) << QPoint(411, 114);
    QTest::newRow("km/hour: 1.0 m/s at 114 degrees") << "km/hour" << 1.0f << QPoint(227, 155) << QPoint(299, 183) << QPoint(297, 189);
}

void TestGauge::meterPointer()
{
    QFETCH(QString, unit);
    QFETCH(float, value);
    QFETCH(QPoint, tip);
    QFETCH(QPoint, side1);
    QFETCH(QPoint, side2);
    TModeGauge m(TGaugeMode::VelocityMeter, unit);
    m.Show(value);
    const QImage &p = m.gauge.Picture();
    for (QPoint q : {tip, side1, side2})
        QVERIFY2(Near(p, q, clRed), qPrintable(QStringLiteral("%1, %2").arg(q.x()).arg(q.y())));
}

void TestGauge::valueCircle_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("pi") << 3.14159f << "+3.14";
    QTest::newRow("zero") << 0.0f << "+0.00";
    QTest::newRow("minus one") << -1.0f << "-1.00";
    QTest::newRow("minus a rounding zero") << -0.001f << "+0.00";
}

void TestGauge::valueCircle()
{
    QFETCH(float, value);
    QFETCH(QString, text);
    TModeGauge m(TGaugeMode::DirectionDial);
    m.Show(value);
    // Radius 79: from 36 points down by 2 until half the width is at most 79 - 16.
    int points = 36;
    QSize cell;
    while (LabelImage(text, cell, points, clRed), cell.width() / 2 > 63)
        points -= 2;
    const QImage want = LabelImage(text, cell, points, clRed);
    const QImage &p = m.gauge.Picture();
    QCOMPARE(p.copy(408 - cell.width() / 2, 184 - cell.height() / 2, cell.width(), cell.height()), want);
    QVERIFY(Near(p, {329, 184}, clWhite)); // the circle's outline
}

void TestGauge::angleVariation_data()
{
    QTest::addColumn<float>("minimum");
    QTest::addColumn<float>("maximum");
    QTest::addColumn<bool>("arc");
    QTest::addColumn<QPoint>("p1");
    QTest::addColumn<QPoint>("p2");
    // Radius 160 about (408, 184).
    QTest::newRow("2 degrees: a line") << 10.0f << 12.0f << false << QPoint(435, 26) << QPoint(441, 27);
    QTest::newRow("2.5 degrees: an arc") << 10.0f << 12.5f << true << QPoint(435, 26) << QPoint(442, 27);
    QTest::newRow("180 degrees: clockwise by the right") << 10.0f << 190.0f << true << QPoint(435, 26) << QPoint(380, 341);
}

void TestGauge::angleVariation()
{
    QFETCH(float, minimum);
    QFETCH(float, maximum);
    QFETCH(bool, arc);
    QFETCH(QPoint, p1);
    QFETCH(QPoint, p2);
    TModeGauge m(TGaugeMode::DirectionDial);
    m.angles.Push(maximum);
    m.angles.Push(minimum);
    m.gauge.UpdateDisplay();

    QImage want(W, H, QImage::Format_RGB32);
    want.fill(clBlack);
    TCanvas canvas(&want);
    canvas.Pen.Width = 4;
    canvas.Pen.Color = clRed;
    canvas.ArcDirection = TArcDirection::Clockwise;
    if (arc)
        canvas.Arc(248, 24, 568, 344, p1.x(), p1.y(), p2.x(), p2.y());
    else
        canvas.MoveTo(p1.x(), p1.y()), canvas.LineTo(p2.x(), p2.y());
    canvas.End();
    // The red outside the value circle is the mark and only the mark.
    const QImage &p = m.gauge.Picture();
    int differ = 0, red = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if ((x - 408) * (x - 408) + (y - 184) * (y - 184) > 90 * 90) {
                differ += (p.pixel(x, y) == clRed) != (want.pixel(x, y) == clRed);
                red += p.pixel(x, y) == clRed;
            }
    QVERIFY(red > 0);
    QCOMPARE(differ, 0);
}

void TestGauge::dialPoints_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<float>("angle");
    QTest::addColumn<QList<QPoint>>("points");
    QTest::addColumn<QList<QRgb>>("colours");
    QTest::newRow("ball at 0: centre (cx, cy + 126), mark (cx, cy + 142)")
        << 3 << 0.0f << QList<QPoint>{{408, 310}, {408, 326}, {408, 288}, {408, 283}}
        << QList<QRgb>{clYellow, clRed, clYellow, clBlue};
    QTest::newRow("needle at 90: (cx - 20, cy) to (cx + 128, cy)")
        << 2 << 90.0f << QList<QPoint>{{388, 184}, {535, 184}, {387, 184}, {536, 184}, {408, 184}}
        << QList<QRgb>{clRed, clRed, clSilver, clSilver, clBlack};
}

void TestGauge::dialPoints()
{
    QFETCH(int, mode);
    QFETCH(float, angle);
    QFETCH(QList<QPoint>, points);
    QFETCH(QList<QRgb>, colours);
    TModeGauge m{TGaugeMode(mode)};
    m.Show(angle);
    for (int i = 0; i < points.size(); ++i)
        QCOMPARE(m.gauge.Picture().pixel(points[i]), colours[i]);
}

void TestGauge::updateErasesPointer_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<float>("first");
    QTest::addColumn<float>("second");
    QTest::addColumn<QPoint>("before"); // on the first pointer
    QTest::addColumn<QPoint>("after");  // on the second
    QTest::addColumn<QRgb>("colour");
    QTest::newRow("arrow 90 to 270") << 0 << "" << 90.0f << 270.0f << QPoint(520, 181) << QPoint(296, 181) << clWhite;
    QTest::newRow("meter 2.0 to 1.0") << 1 << "m/s" << 2.0f << 1.0f << QPoint(411, 114) << QPoint(236, 136) << clRed;
    QTest::newRow("needle 90 to 0") << 2 << "" << 90.0f << 0.0f << QPoint(500, 184) << QPoint(408, 100) << clRed;
    QTest::newRow("ball 0 to 90") << 3 << "" << 0.0f << 90.0f << QPoint(408, 310) << QPoint(534, 184) << clYellow;
}

void TestGauge::updateErasesPointer()
{
    QFETCH(int, mode);
    QFETCH(QString, unit);
    QFETCH(float, first);
    QFETCH(float, second);
    QFETCH(QPoint, before);
    QFETCH(QPoint, after);
    QFETCH(QRgb, colour);
    TModeGauge m(TGaugeMode(mode), unit);
    m.Show(first);
    QVERIFY(Near(m.gauge.Picture(), before, colour));
    QVERIFY(!Near(m.gauge.Picture(), after, colour));
    m.Show(second);
    QVERIFY(!Near(m.gauge.Picture(), before, colour));
    QVERIFY(Near(m.gauge.Picture(), after, colour));
}

void TestGauge::nonFiniteDrawsNoPointer_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<float>("value");
    QTest::addColumn<QRgb>("colour"); // of what the update would draw
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("direction dial, not a number") << 0 << nan << clRed;
    QTest::newRow("meter, infinity") << 1 << inf << clRed;
    QTest::newRow("needle, not a number") << 2 << nan << clRed;
    QTest::newRow("ball, minus infinity") << 3 << -inf << clYellow;
    QTest::newRow("indicator, not a number") << 4 << nan << clYellow;
    QTest::newRow("angle indicator, infinity") << 9 << inf << clYellow;
}

void TestGauge::nonFiniteDrawsNoPointer()
{
    QFETCH(int, mode);
    QFETCH(float, value);
    QFETCH(QRgb, colour);
    TModeGauge m(TGaugeMode(mode), QStringLiteral("m/s"));
    const int reset = Count(m.gauge.Picture(), colour);
    m.Show(value);
    m.Show(value);
    QCOMPARE(Count(m.gauge.Picture(), colour), reset);
}

void TestGauge::everyModeAnySize_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QSize>("size");
    for (int mode = 0; mode <= 9; ++mode)
        for (QSize size : {QSize(40, 30), QSize(2000, 1500)})
            QTest::addRow("mode %d, %dx%d", mode, size.width(), size.height()) << mode << size;
}

void TestGauge::everyModeAnySize()
{
    QFETCH(int, mode);
    QFETCH(QSize, size);
    TModeGauge m(TGaugeMode(mode), QStringLiteral("degree"), size);
    TSampleList samples = Samples({0.0f, 90.0f, 400.0f, -5.0f});
    m.gauge.FSamples = &samples;
    for (float v : {0.0f, 123.456f, -1e9f, 1e9f, 359.0f})
        m.Show(v);
    m.gauge.UpdateDualTrend();
    QCOMPARE(m.gauge.Picture().size(), size);
    QCOMPARE(m.gauge.grab().toImage().convertToFormat(QImage::Format_RGB32), m.gauge.Picture());
}

// The tallest band of rows with label pixels left of the plot, and how many bands there are.
std::pair<int, int> LabelBands(const QImage &picture, QRgb colour)
{
    // Left of the plot's frame: its first column of that colour over half the height.
    int frame = 0;
    while (frame < picture.width() && Count(picture, colour, QRect(frame, 0, 1, picture.height())) < picture.height() / 2)
        ++frame;
    int run = 0, tallest = 0, bands = 0;
    for (int y = 0; y <= picture.height(); ++y) {
        if (y < picture.height() && Count(picture, colour, QRect(0, y, frame - 1, 1)) > 0) {
            ++run;
            continue;
        }
        bands += run > 0;
        tallest = std::max(tallest, run);
        run = 0;
    }
    return {tallest, bands};
}

void TestGauge::axisLabelsApartWhenLow_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<int>("height");
    QTest::newRow("strip chart, 100 high") << int(TGaugeMode::SingleChannel) << clCyan << 100;
    QTest::newRow("strip chart, 80 high") << int(TGaugeMode::SingleChannel) << clCyan << 80;
    QTest::newRow("trend, 100 high") << int(TGaugeMode::AngleTrend) << clYellow << 100;
    QTest::newRow("trend, 80 high") << int(TGaugeMode::AngleTrend) << clYellow << 80;
}

void TestGauge::axisLabelsApartWhenLow()
{
    QFETCH(int, mode);
    QFETCH(QRgb, colour);
    QFETCH(int, height);
    TModeGauge full(TGaugeMode(mode), QStringLiteral("degree"));
    TModeGauge low(TGaugeMode(mode), QStringLiteral("degree"), QSize(W, height));
    TSampleList samples = Samples({90.0f});
    full.gauge.FSamples = low.gauge.FSamples = &samples;
    full.Show(90);
    low.Show(90);
    // Full size, nine labels stand apart; low, fewer do, none running into the next.
    const auto [labelHeight, fullBands] = LabelBands(full.gauge.Picture(), colour);
    QCOMPARE(fullBands, 9);
    const auto [tallest, bands] = LabelBands(low.gauge.Picture(), colour);
    QVERIFY2(tallest <= labelHeight, qPrintable(QString("%1 rows, a label %2").arg(tallest).arg(labelHeight)));
    QVERIFY(bands >= 2);
}

void TestGauge::discWholeWhenLow_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("topRow"); // the disc's top, or the middle of the top label
    QTest::addColumn<QRect>("label30"); // where the dial labels 30 degrees when there is room
    QTest::addColumn<bool>("labelled");
    QTest::newRow("compass, 120 high") << int(TGaugeMode::VelocityGauge) << clGray << 120 << 3 << QRect() << false;
    QTest::newRow("rotating ball, 120 high") << int(TGaugeMode::RotationBall) << clBlue << 120 << 3 << QRect() << false;
    QTest::newRow("rotating ball, 60 high") << int(TGaugeMode::RotationBall) << clBlue << 60 << 3 << QRect() << false;
    QTest::newRow("direction dial, full height: every 30 degrees labelled")
        << int(TGaugeMode::DirectionDial) << clWhite << H << 9 << QRect(492, 29, 7, 7) << true;
    QTest::newRow("direction dial, 120 high: every 90 degrees")
        << int(TGaugeMode::DirectionDial) << clWhite << 120 << 9 << QRect(430, 13, 7, 7) << false;
}

void TestGauge::discWholeWhenLow()
{
    QFETCH(int, mode);
    QFETCH(QRgb, colour);
    QFETCH(int, height);
    QFETCH(int, topRow);
    QFETCH(QRect, label30);
    QFETCH(bool, labelled);
    TModeGauge m(TGaugeMode(mode), QStringLiteral("degree"), QSize(W, height));
    m.Show(30);
    const QImage &p = m.gauge.Picture();
    // The disc within the picture: none of it on the first or last row, and as tall as it fits.
    QCOMPARE(Count(p, colour, QRect(0, 0, W, 1)), 0);
    QCOMPARE(Count(p, colour, QRect(0, height - 1, W, 1)), 0);
    const QRect top(W / 2 - 4, topRow, 9, 1);
    QVERIFY(Count(p, colour, top) > 0 || Count(p, clSilver, top) > 0);
    QCOMPARE(Count(p, clWhite, label30) > 0, labelled);
}

QTEST_MAIN(TestGauge)
#include "tst_gauge.moc"
