// TCanvas: the pixel rules the gauge and the chart are drawn by.

#include "display/Canvas.h"
#include "tests/common/Pixels.h"

#include <QFontInfo>
#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

namespace {

constexpr QRgb Background = 0xff102030;

QImage Blank(int w = 32, int h = 32)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Background);
    return image;
}

} // namespace

class TestCanvas : public QObject {
    Q_OBJECT
private slots:
    void rectangle_data();
    void rectangle();
    void thinLineLeavesOutItsEnd_data();
    void thinLineLeavesOutItsEnd();
    void xorChainPaintsEachPixelOnce();
    void xorTwiceRestores();
    void wideLineIsCentred();
    void wideLinesAsQPainterPaintsThem_data();
    void wideLinesAsQPainterPaintsThem();
    void text();
    void stateOutlivesTheImage();
};

void TestCanvas::rectangle_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("solid");
    QTest::addColumn<QRect>("box"); // as (x1, y1)-(x2, y2), possibly reversed
    QTest::newRow("1 px, solid") << 1 << true << QRect(QPoint(3, 4), QPoint(20, 15));
    QTest::newRow("2 px, solid") << 2 << true << QRect(QPoint(3, 4), QPoint(20, 15));
    QTest::newRow("3 px, clear") << 3 << false << QRect(QPoint(3, 4), QPoint(20, 15));
    QTest::newRow("reversed corners") << 2 << true << QRect(QPoint(20, 15), QPoint(3, 4));
    QTest::newRow("thinner than two pens") << 2 << true << QRect(QPoint(5, 5), QPoint(8, 20));
}

void TestCanvas::rectangle()
{
    QFETCH(int, width);
    QFETCH(bool, solid);
    QFETCH(QRect, box);
    QImage image = Blank();
    TCanvas canvas(&image);
    canvas.Pen.Width = width;
    canvas.Pen.Color = clCyan;
    canvas.Brush.Color = clRed;
    canvas.Brush.Style = solid ? TBrushStyle::Solid : TBrushStyle::Clear;
    canvas.Rectangle(box.left(), box.top(), box.right(), box.bottom());
    canvas.End();

    const int x1 = std::min(box.left(), box.right()), x2 = std::max(box.left(), box.right());
    const int y1 = std::min(box.top(), box.bottom()), y2 = std::max(box.top(), box.bottom());
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            QRgb want = Background;
            if (x >= x1 && x < x2 && y >= y1 && y < y2) {
                const bool band = x < x1 + width || x >= x2 - width || y < y1 + width
                                  || y >= y2 - width;
                want = band ? clCyan : solid ? clRed : Background;
            }
            if (image.pixel(x, y) != want)
                QFAIL(qPrintable(QString("pixel %1,%2 is %3").arg(x).arg(y).arg(image.pixel(x, y), 0, 16)));
        }
    }
}

void TestCanvas::thinLineLeavesOutItsEnd_data()
{
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<int>("ratio"); // the picture's device pixels per point
    const QPoint ends[] = {{25, 16}, {25, 20}, {20, 28}, {16, 28}, {10, 25}, {3, 16},
                           {4, 10}, {12, 2}, {16, 3}, {27, 5}, {19, 17}};
    for (const QPoint &p : ends)
        QTest::addRow("to %d,%d", p.x(), p.y()) << p << 1;
    // On a picture for a screen scaled by 2 each point is a block of 2 x 2 pixels.
    for (const QPoint &p : {ends[1], ends[6], ends[10]})
        QTest::addRow("to %d,%d at ratio 2", p.x(), p.y()) << p << 2;
}

void TestCanvas::thinLineLeavesOutItsEnd()
{
    QFETCH(QPoint, to);
    QFETCH(int, ratio);
    const QPoint from(16, 16);
    QImage image = Blank(32 * ratio, 32 * ratio);
    image.setDevicePixelRatio(ratio);
    TCanvas canvas(&image);
    canvas.Pen.Color = clWhite;
    canvas.MoveTo(from.x(), from.y());
    canvas.LineTo(to.x(), to.y());
    canvas.End();
    QCOMPARE(canvas.PenPos(), to);
    QCOMPARE(image.pixel(from * ratio), clWhite);
    QCOMPARE(image.pixel(from * ratio + QPoint(ratio - 1, ratio - 1)), clWhite);
    QCOMPARE(image.pixel(to * ratio), Background);
    const QPoint d = to - from;
    QCOMPARE(Count(image, clWhite), std::max(std::abs(d.x()), std::abs(d.y())) * ratio * ratio);
}

void TestCanvas::xorChainPaintsEachPixelOnce()
{
    // A closed path in XOR: every pixel on it changes once, so none is left out or undone.
    QImage image = Blank();
    TCanvas canvas(&image);
    canvas.Pen.Color = clWhite;
    canvas.Pen.Mode = TPenMode::Xor;
    const QPoint path[] = {{2, 2}, {28, 4}, {26, 28}, {4, 25}, {2, 2}};
    int steps = 0;
    canvas.MoveTo(path[0].x(), path[0].y());
    for (int i = 1; i < 5; ++i) {
        canvas.LineTo(path[i].x(), path[i].y());
        const QPoint d = path[i] - path[i - 1];
        steps += std::max(std::abs(d.x()), std::abs(d.y()));
    }
    canvas.End();
    QCOMPARE(Count(image, Background ^ 0x00ffffff), steps);
}

void TestCanvas::xorTwiceRestores()
{
    QImage image = Blank();
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            image.setPixel(x, y, qRgb(x * 8, y * 8, 77));
    const QImage before = image.copy();
    TCanvas canvas(&image);
    canvas.Pen.Mode = TPenMode::Xor;
    canvas.Pen.Color = clYellow;
    canvas.Brush.Color = clBlue;
    for (int pass = 0; pass < 2; ++pass) {
        canvas.Pen.Width = 3;
        canvas.Rectangle(2, 3, 20, 25);
        canvas.Pen.Width = 1;
        canvas.MoveTo(0, 31);
        canvas.LineTo(31, 5);
        canvas.End();
        QCOMPARE(image == before, pass == 1);
    }
}

void TestCanvas::wideLineIsCentred()
{
    // 2 px: the rows on either side of the centre line, round ends reaching one pixel beyond.
    QImage image = Blank();
    TCanvas canvas(&image);
    canvas.Pen.Width = 2;
    canvas.Pen.Color = clRed;
    canvas.MoveTo(5, 10);
    canvas.LineTo(20, 10);
    canvas.End();
    QCOMPARE(Count(image.copy(QRect(QPoint(4, 9), QPoint(20, 10))), clRed), 2 * 17);
    QCOMPARE(Count(image, clRed), 2 * 17);
}

void TestCanvas::wideLinesAsQPainterPaintsThem_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("seed");
    QTest::addColumn<int>("ratio"); // the picture's pixel ratio, as on a scaled screen
    for (int ratio : {1, 2})
        for (int width : {2, 3, 5})
            for (int seed : {1, 2, 3})
                QTest::addRow("pen %d, chain %d, ratio %d", width, seed, ratio) << width << seed << ratio;
}

void TestCanvas::wideLinesAsQPainterPaintsThem()
{
    // A chain as the strip chart draws one: short steps, long vertical strokes, lines in every
    // direction, some over the image's edges; each line drawn twice, the second from its runs.
    QFETCH(int, width);
    QFETCH(int, seed);
    QFETCH(int, ratio);
    QImage drawn = Blank(160 * ratio, 120 * ratio), expected = Blank(160 * ratio, 120 * ratio);
    drawn.setDevicePixelRatio(ratio);
    expected.setDevicePixelRatio(ratio);
    TCanvas canvas(&drawn);
    canvas.Pen.Width = width;
    canvas.Pen.Color = clYellow;
    QPainter painter(&expected);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(QColor::fromRgb(clYellow), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QRandomGenerator random{quint32(seed)};
    QPoint at(80, 60);
    canvas.MoveTo(at.x(), at.y());
    for (int i = 0; i < 400; ++i) {
        const int reach = i % 3 == 0 ? 100 : 4;
        const QPoint to(random.bounded(-2, 162), qBound(-2, at.y() + random.bounded(-reach, reach + 1), 121));
        const QPoint next = i % 2 ? QPoint(qBound(-2, at.x() + random.bounded(-1, 2), 161), to.y()) : to;
        for (int twice = 0; twice < 2; ++twice) {
            canvas.MoveTo(at.x(), at.y());
            canvas.LineTo(next.x(), next.y());
        }
        painter.drawLine(at, next);
        at = next;
    }
    painter.end();
    canvas.End();
    int differing = 0;
    QPoint first(-1, -1);
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            if (drawn.pixel(x, y) != expected.pixel(x, y) && differing++ == 0)
                first = QPoint(x, y);
    QVERIFY2(differing == 0, qPrintable(QString("%1 pixels differ, the first at (%2, %3)")
                                            .arg(differing).arg(first.x()).arg(first.y())));
}

void TestCanvas::text()
{
    QImage image = Blank(80, 40);
    TCanvas canvas(&image);
    canvas.Font.Size = 8;
    canvas.Font.Bold = true;
    canvas.Font.Color = clCyan;
    canvas.Brush.Color = clBlack;
    QCOMPARE(QFontInfo(TCanvas::QtFont(canvas.Font)).family(), QStringLiteral("DejaVu Sans"));
    const int w = canvas.TextWidth("360"), h = canvas.TextHeight("360");
    QVERIFY(w > 0 && h > 0 && canvas.TextWidth("3600") > w);

    canvas.TextOut(10, 5, "360");
    canvas.Brush.Style = TBrushStyle::Clear;
    canvas.TextOut(10, 25, "360");
    canvas.End();
    // Solid brush: the whole cell is painted, in cyan and black only.
    const QImage cell = image.copy(10, 5, w, h);
    QCOMPARE(Count(cell, clCyan) + Count(cell, clBlack), w * h);
    QVERIFY(Count(cell, clCyan) > 0);
    // Clear brush: the same glyph pixels over the background.
    const QImage bare = image.copy(10, 25, w, h);
    QCOMPARE(Count(bare, clCyan), Count(cell, clCyan));
    QCOMPARE(Count(bare, clCyan) + Count(bare, Background), w * h);
    QCOMPARE(Count(image, clCyan), 2 * Count(cell, clCyan));
}

void TestCanvas::stateOutlivesTheImage()
{
    QImage first = Blank(), second = Blank(8, 8);
    TCanvas canvas(&first);
    canvas.Pen.Color = clGreen;
    canvas.Brush.Color = clOlive;
    canvas.SetImage(&second);
    canvas.Rectangle(0, 0, 8, 8);
    canvas.End();
    QCOMPARE(second.pixel(0, 0), clGreen);
    QCOMPARE(second.pixel(4, 4), clOlive);
    QCOMPARE(Count(first, Background), 32 * 32);
}

QTEST_MAIN(TestCanvas)
#include "tst_canvas.moc"
