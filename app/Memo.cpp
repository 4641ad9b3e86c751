#include "app/Memo.h"

#include "platform/Platform.h"

#include <QClipboard>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>

#include <algorithm>
#include <vector>
#include <cmath>

namespace {

constexpr int Margin = 4;           // around the text, as a plain text view leaves it
constexpr qreal TabStop = 80;       // pixels between tab stops, as a plain text view sets them
constexpr int FrameInterval = 33;   // ms: the screen shows no more than one frame in this
constexpr int SidewaysStep = 20;    // pixels per arrow click of the horizontal bar
constexpr qsizetype MinGrowth = 64 * 1024;
constexpr qsizetype TrimAbove = 1024 * 1024; // a clear hands back what is worth handing back

QTextOption LogTextOption()
{
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(TabStop);
    return option;
}

} // namespace

TMemo::TMemo(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    horizontalScrollBar()->setSingleStep(SidewaysStep);
    FFrame.setSingleShot(true);
    FFrame.setInterval(FrameInterval);
    connect(&FFrame, &QTimer::timeout, this, [this] { Refresh(false); });
    QScrollBar *bar = verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        if (!FScrolling)
            FFollowing = value >= bar->maximum();
    });
    connect(bar, &QScrollBar::rangeChanged, this, [this] { FollowEnd(); });
    FontChanged();
}

TMemo::~TMemo() = default;

QByteArrayView TMemo::LineBytes(int index) const
{
    const qsizetype start = FStarts[index];
    const qsizetype end = index + 1 < FStarts.size() ? FStarts[index + 1] : FText.size();
    return QByteArrayView(FText).sliced(start, end - start);
}

QString TMemo::Line(int index) const
{
    if (index < 0 || index >= LineCount())
        return {};
    const QByteArrayView bytes = LineBytes(index);
    return QString::fromLatin1(bytes.data(), bytes.size());
}

QString TMemo::toPlainText() const
{
    QString text;
    text.reserve(FText.size() + FStarts.size());
    for (int i = 0; i < LineCount(); ++i) {
        if (i > 0)
            text += QLatin1Char('\n');
        const QByteArrayView bytes = LineBytes(i);
        text += QLatin1StringView(bytes.data(), bytes.size());
    }
    return text;
}

void TMemo::Append(QByteArrayView bytes)
{
    // Grown in steps, but never much beyond the character limit: a full log holds what it
    // shows and little more.
    const qsizetype needed = FText.size() + bytes.size();
    if (needed > FText.capacity())
        FText.reserve(std::max(needed, std::min(std::max(FText.capacity() * 3 / 2, MinGrowth), CharLimit)));
    if (FStarts.isEmpty())
        FStarts.append(0);
    for (;;) {
        const qsizetype lineEnd = bytes.indexOf('\n');
        if (lineEnd < 0)
            break;
        FText.append(bytes.first(lineEnd));
        FStarts.append(FText.size());
        bytes = bytes.sliced(lineEnd + 1);
    }
    FText.append(bytes);
}

void TMemo::AppendText(const QString &text)
{
    if (text.isEmpty())
        return;
    Append(text.toLatin1());
    Changed();
}

void TMemo::appendPlainText(const QString &text)
{
    if (!FStarts.isEmpty())
        FStarts.append(FText.size());
    Append(text.toLatin1());
    Changed();
}

void TMemo::setPlainText(const QString &text)
{
    clear();
    if (!text.isEmpty())
        appendPlainText(text);
}

void TMemo::clear()
{
    const bool trim = FText.capacity() > TrimAbove;
    FText = QByteArray();
    FStarts = QList<qsizetype>();
    FLayouts.clear();
    FAnchor = FCursor = TPlace();
    FMeasured = 0;
    FPartLength = 0;
    FPartWidth = FWidest = 0;
    if (trim)
        Platform::ReturnFreedMemory();
    UpdateRanges();
    horizontalScrollBar()->setRange(0, 0);
    viewport()->update();
}

void TMemo::Changed()
{
    // In view, the scroll bars, the measuring and the painting wait for the next frame (a scroll
    // bar that moves repaints itself and the text at once). Out of view the ranges cost nothing
    // to keep; the rest waits until the memo is shown.
    if (!isVisible())
        UpdateRanges();
    else if (!FFrame.isActive())
        FFrame.start();
}

void TMemo::FontChanged()
{
    const QFontMetricsF metrics(font(), viewport());
    for (int c = 0; c < 256; ++c)
        FAdvances[c] = metrics.horizontalAdvance(QChar(char16_t(c)));
    FLayouts.clear();
    FMeasured = 0;
    FPartLength = 0;
    FPartWidth = FWidest = 0;
}

// Widths come from a table of the characters' advances (the log's characters are Latin-1):
// measuring every received character through the text shaper would cost more than showing it.
qreal TMemo::Width(QByteArrayView bytes, qreal x)
{
    for (const char c : bytes)
        x = c == '\t' ? (std::floor(x / TabStop) + 1) * TabStop : x + FAdvances[static_cast<unsigned char>(c)];
    return x;
}

// How many characters of a line reach into the view; the rest is never laid out. A margin
// covers kerning, which draws pairs a little closer than their advances add up to.
qsizetype TMemo::InView(QByteArrayView bytes) const
{
    const qreal right = (horizontalScrollBar()->value() + viewport()->width()) * 1.1 + 2 * TabStop;
    qreal x = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        x = c == '\t' ? (std::floor(x / TabStop) + 1) * TabStop : x + FAdvances[static_cast<unsigned char>(c)];
        if (x > right)
            return i + 1;
    }
    return bytes.size();
}

void TMemo::Refresh(bool all)
{
    FFrame.stop();
    const int changed = FMeasured; // lines from here on are new or grew
    // Only text that came since the last frame is measured; the last line may have grown.
    const int count = LineCount();
    for (int i = FMeasured; i < count; ++i) {
        const QByteArrayView bytes = LineBytes(i);
        const qreal width = Width(bytes.sliced(std::min(FPartLength, bytes.size())), FPartWidth);
        FWidest = std::max(FWidest, width);
        FPartLength = i + 1 < count ? 0 : bytes.size();
        FPartWidth = i + 1 < count ? 0 : width;
    }
    FMeasured = std::max(0, count - 1);
    QScrollBar *sideways = horizontalScrollBar();
    sideways->setRange(0, std::max(0, int(std::ceil(FWidest)) + 2 * Margin - viewport()->width()));
    sideways->setPageStep(viewport()->width());
    UpdateRanges(); // scrolls what is drawn already, when the view follows the end
    const int top = Margin + (changed - verticalScrollBar()->value()) * LineHeight();
    if (all)
        viewport()->update();
    else if (top < viewport()->height())
        viewport()->update(0, std::max(0, top), viewport()->width(), viewport()->height());
}

int TMemo::LineHeight() const
{
    return std::max(1, int(std::ceil(QFontMetricsF(font(), viewport()).height())));
}

int TMemo::VisibleLines() const
{
    return std::max(1, (viewport()->height() - 2 * Margin) / LineHeight());
}

void TMemo::UpdateRanges()
{
    QScrollBar *bar = verticalScrollBar();
    bar->setPageStep(VisibleLines());
    bar->setRange(0, std::max(0, LineCount() - VisibleLines()));
    FollowEnd();
}

void TMemo::FollowEnd()
{
    if (!FFollowing)
        return;
    FScrolling = true;
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    FScrolling = false;
}

QTextLayout &TMemo::LayoutOf(int index)
{
    TLayout &entry = FLayouts[index];
    const QByteArrayView bytes = LineBytes(index).first(InView(LineBytes(index)));
    if (!entry.Layout || entry.Length != bytes.size()) {
        entry.Layout = std::make_unique<QTextLayout>(QString::fromLatin1(bytes.data(), bytes.size()), font(), viewport());
        entry.Layout->setTextOption(LogTextOption());
        entry.Layout->setCacheEnabled(true);
        entry.Layout->beginLayout();
        entry.Layout->createLine();
        entry.Layout->endLayout();
        entry.Length = bytes.size();
    }
    return *entry.Layout;
}

void TMemo::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const int height = LineHeight();
    const int first = verticalScrollBar()->value();
    const int last = std::min(LineCount(), first + viewport()->height() / height + 2);
    // Only the rows the paint asks for are drawn: following the end mostly paints the new ones.
    std::vector<char> asked(std::max(0, last - first), 0);
    for (const QRect &rect : event->region()) {
        const int from = std::max(0, (rect.top() - Margin) / height);
        const int to = std::min(int(asked.size()) - 1, (rect.bottom() - Margin) / height);
        for (int row = from; row <= to; ++row)
            asked[row] = 1;
    }
    const TPlace from = std::min(FAnchor, FCursor);
    const TPlace to = std::max(FAnchor, FCursor);
    QTextCharFormat selected;
    selected.setBackground(palette().brush(QPalette::Highlight));
    selected.setForeground(palette().brush(QPalette::HighlightedText));
    const qreal left = Margin - horizontalScrollBar()->value();
    for (int i = first; i < last; ++i) {
        if (!asked[i - first])
            continue;
        QTextLayout &layout = LayoutOf(i);
        QList<QTextLayout::FormatRange> selections;
        if (HasSelection() && from.Line <= i && i <= to.Line) {
            const int start = i == from.Line ? from.Column : 0;
            const int end = std::min(i == to.Line ? to.Column : int(LineBytes(i).size()), int(layout.text().size()));
            if (end > start)
                selections.append({start, end - start, selected});
        }
        layout.draw(&painter, QPointF(left, Margin + (i - first) * height), selections);
    }
    // Only the lines in view keep their layout.
    for (auto it = FLayouts.begin(); it != FLayouts.end();)
        it = it->first < first || it->first >= last ? FLayouts.erase(it) : std::next(it);
}

TMemo::TPlace TMemo::PlaceAt(const QPoint &at)
{
    if (LineCount() == 0)
        return {};
    const int row = (at.y() - Margin) / LineHeight() - (at.y() < Margin ? 1 : 0);
    const int line = std::clamp(verticalScrollBar()->value() + row, 0, LineCount() - 1);
    const QTextLine text = LayoutOf(line).lineAt(0);
    const int column = text.isValid() ? text.xToCursor(at.x() - Margin + horizontalScrollBar()->value()) : 0;
    return {line, std::clamp(column, 0, int(LineBytes(line).size()))};
}

void TMemo::selectAll()
{
    FAnchor = TPlace();
    FCursor = LineCount() == 0 ? TPlace() : TPlace{LineCount() - 1, int(LineBytes(LineCount() - 1).size())};
    viewport()->update();
}

QString TMemo::SelectedText() const
{
    const TPlace from = std::min(FAnchor, FCursor);
    const TPlace to = std::max(FAnchor, FCursor);
    QString text;
    for (int i = from.Line; i <= to.Line && i < LineCount(); ++i) {
        const QByteArrayView bytes = LineBytes(i);
        const qsizetype start = i == from.Line ? std::min<qsizetype>(from.Column, bytes.size()) : 0;
        const qsizetype end = i == to.Line ? std::min<qsizetype>(to.Column, bytes.size()) : bytes.size();
        if (i > from.Line)
            text += QLatin1Char('\n');
        if (end > start)
            text += QLatin1StringView(bytes.data() + start, end - start);
    }
    return text;
}

void TMemo::copy() const
{
    if (HasSelection())
        QGuiApplication::clipboard()->setText(SelectedText());
}

bool TMemo::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::SelectAll) || (key->matches(QKeySequence::Copy) && HasSelection())) {
            key->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void TMemo::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::MoveToStartOfDocument)) {
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    } else if (event->matches(QKeySequence::MoveToEndOfDocument)) {
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    } else {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TMemo::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    FCursor = PlaceAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier))
        FAnchor = FCursor;
    viewport()->update();
}

void TMemo::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint at = event->position().toPoint();
    // Dragging past the top or bottom edge scrolls on.
    if (at.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (at.y() > viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    FCursor = PlaceAt(at);
    viewport()->update();
}

void TMemo::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copyItem = menu.addAction(tr("&Copy"), this, [this] { copy(); });
    copyItem->setShortcut(QKeySequence::Copy);
    copyItem->setEnabled(HasSelection());
    menu.addSeparator();
    menu.addAction(tr("Select All"), this, [this] { selectAll(); })->setShortcut(QKeySequence::SelectAll);
    menu.exec(event->globalPos());
}

void TMemo::scrollContentsBy(int dx, int dy)
{
    // What is drawn moves along; the blank margin above the first line is drawn again.
    viewport()->scroll(dx, dy * LineHeight());
    viewport()->update(0, 0, viewport()->width(), Margin);
}

void TMemo::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    Refresh();
}

void TMemo::showEvent(QShowEvent *event)
{
    QAbstractScrollArea::showEvent(event);
    Refresh();
}

void TMemo::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        FontChanged();
        Refresh();
    }
}
