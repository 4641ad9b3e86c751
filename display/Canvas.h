#pragma once
// TCanvas: the drawing surface of the gauge and the chart, a QPainter over a QImage that keeps
// the pen, brush and font between operations and draws with the classic desktop pixel rules:
//
// - no antialiasing, neither for lines nor for text;
// - Rectangle(x1, y1, x2, y2) covers columns x1 .. x2-1 and rows y1 .. y2-1: the pen's outline
//   lies inside that box (a pen of width w paints the outer w pixels), the brush fills the rest;
// - a 1-pixel LineTo leaves out its last point, so a chain of LineTo paints every pixel once
//   (which matters in XOR mode); wider pens are centred on the line with round ends and joins;
// - Ellipse and Arc stroke the ellipse inscribed in the box x1 .. x2-1, y1 .. y2-1;
// - font sizes are points at 96 dots per inch, as the desktop's screen has them;
// - text is drawn on the brush colour when the brush is solid, on nothing when it is clear.
//
// The image belongs to the caller. The painter stays open between operations for speed; End()
// closes it, and must be called before the image is read, copied, resized or freed. The image
// must be of QImage::Format_RGB32: one-pixel lines are set directly in its pixels.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

using TColor = QRgb;

constexpr TColor clBlack = 0xff000000;
constexpr TColor clWhite = 0xffffffff;
constexpr TColor clRed = 0xffff0000;
constexpr TColor clYellow = 0xffffff00;
constexpr TColor clCyan = 0xff00ffff;
constexpr TColor clBlue = 0xff0000ff;
constexpr TColor clNavy = 0xff000080;
constexpr TColor clGray = 0xff808080;
constexpr TColor clSilver = 0xffc0c0c0;
constexpr TColor clOlive = 0xff808000;
constexpr TColor clGreen = 0xff008000;

enum class TPenMode { Copy, Xor };
enum class TBrushStyle { Solid, Clear };
enum class TArcDirection { CounterClockwise, Clockwise };

struct TPen {
    TColor Color = clBlack;
    int32_t Width = 1; // below 1 is taken as 1
    TPenMode Mode = TPenMode::Copy;
};

struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = TBrushStyle::Solid;
};

struct TFont {
    QString Name = QStringLiteral("DejaVu Sans");
    int32_t Size = 8; // points
    bool Bold = false;
    TColor Color = clBlack;
};

class TCanvas {
public:
    explicit TCanvas(QImage *image = nullptr);
    ~TCanvas();
    TCanvas(const TCanvas &) = delete;
    TCanvas &operator=(const TCanvas &) = delete;

    // Draws on another image from now on; pen, brush, font and pen position stay as they are.
    void SetImage(QImage *image);
    QImage *Image() const { return FImage; }
    // Closes the painter; the next drawing operation opens it again.
    void End();

    TPen Pen;
    TBrush Brush;
    TFont Font;
    TArcDirection ArcDirection = TArcDirection::CounterClockwise;

    QPoint PenPos() const { return FPenPos; }
    void MoveTo(int32_t x, int32_t y);
    void LineTo(int32_t x, int32_t y);
    void Rectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    void Ellipse(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    // The part of the ellipse in the box (x1, y1)-(x2, y2) from the ray through (x3, y3) to the
    // ray through (x4, y4), both from the box's centre, going round in ArcDirection. Equal rays
    // give the whole ellipse.
    void Arc(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3, int32_t x4,
             int32_t y4);
    // Top-left corner of the text cell at (x, y).
    void TextOut(int32_t x, int32_t y, const QString &text);
    int32_t TextWidth(const QString &text) const;
    int32_t TextHeight(const QString &text) const;

    // The font as QPainter takes it: pixel size from the points at 96 dpi, no antialiasing.
    static QFont QtFont(const TFont &font);

private:
    // Opens the painter if needed and hands it the current pen mode. False without an image.
    bool Begin();
    void ApplyStrokePen();
    void ApplyNoPen();
    void ThinLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
    // A line of a pen 2 or more pixels wide, in the pixels QPainter paints for it: the runs of
    // a line of that width and extent are taken from QPainter once and set directly after that.
    // False when the line is not of the kind kept (the caller draws it with QPainter).
    bool WideLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
    void FillBox(int32_t x1, int32_t y1, int32_t x2, int32_t y2, TColor color);
    QRectF EllipseBox(int32_t x1, int32_t y1, int32_t x2, int32_t y2) const;

    QImage *FImage = nullptr;
    std::unique_ptr<QPainter> FPainter;
    QPoint FPenPos;
    // A run of pixels of a wide line, relative to the line's start.
    struct TRun {
        int16_t Dy, X0, X1; // row, first and last column
    };
    // Runs by width and extent of the line.
    std::unordered_map<uint64_t, std::vector<TRun>> FWideRuns;
};
