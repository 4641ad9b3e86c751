#include "app/Memo.h"

#include "platform/Platform.h"

#include <QAccessibleWidget>
#include <QClipboard>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <vector>
#include <cmath>

namespace {

constexpr int Margin = 4;           // around the text, as a plain text view leaves it
constexpr qreal TabStop = 80;       // pixels between tab stops, as a plain text view sets them
constexpr int SidewaysStep = 20;    // pixels per arrow click of the horizontal bar
constexpr qsizetype MinGrowth = 64 * 1024;
constexpr qsizetype TrimAbove = 1024 * 1024; // a clear hands back what is worth handing back
constexpr qsizetype ItemReach = 4096; // characters either side searched for a word or a sentence

QTextOption LogTextOption()
{
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(TabStop);
    return option;
}

// The item of `text` (a character, word or sentence) at, before or after `at`, as Qt's own text
// widgets find it: items begin or end where the boundary finder says so; what lies between two
// words is an item of its own.
QString TextItem(const QString &text, qsizetype at, int way, QTextBoundaryFinder::BoundaryType type,
                 qsizetype *start, qsizetype *end)
{
    *start = *end = -1;
    if (text.isEmpty() || at < 0 || at > text.size() || (way < 0 && at == 0) ||
        (way >= 0 && at == text.size() && (way > 0 || type == QTextBoundaryFinder::Grapheme)))
        return {};
    QTextBoundaryFinder finder(type, text);
    const auto itemEdge = [&finder] {
        return finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem);
    };
    const auto back = [&] {
        while (finder.toPreviousBoundary() > 0 && !itemEdge()) {
        }
        return std::max<qsizetype>(0, finder.position());
    };
    const auto on = [&] {
        qsizetype next;
        do
            next = finder.toNextBoundary();
        while (next >= 0 && next < text.size() && !itemEdge());
        return next < 0 ? text.size() : next;
    };
    finder.setPosition(at);
    if (way <= 0 && !itemEdge())
        back();
    if (way == 0) {
        *start = std::max<qsizetype>(0, finder.position());
        *end = on();
    } else if (way < 0) {
        *end = std::max<qsizetype>(0, finder.position());
        *start = back();
    } else {
        *start = on();
        *end = on();
    }
    if (*start >= *end) {
        *start = *end = -1;
        return {};
    }
    return text.mid(*start, *end - *start);
}

// The memo's scroll bars in flat colours, on the geometry of the desktop style: that style fills
// its bars with gradients, drawn through Qt's thread pool, which cost a log at line speed a
// sixth of its CPU.
class TFlatScrollBars : public QProxyStyle {
public:
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget) const override
    {
        const auto *bar = qstyleoption_cast<const QStyleOptionSlider *>(option);
        if (control != CC_ScrollBar || !bar) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        const QPalette &colours = bar->palette;
        const bool enabled = bar->state & State_Enabled;
        painter->fillRect(bar->rect, colours.color(QPalette::Window).darker(106));
        const QRect handle = subControlRect(control, bar, SC_ScrollBarSlider, widget);
        const bool held = (bar->activeSubControls & SC_ScrollBarSlider) && (bar->state & State_Sunken);
        if (enabled && handle.isValid())
            painter->fillRect(handle.adjusted(2, 2, -2, -2), colours.color(held ? QPalette::Dark : QPalette::Mid));
        painter->save();
        painter->setPen(Qt::NoPen);
        painter->setBrush(colours.color(enabled ? QPalette::WindowText : QPalette::Mid));
        const bool vertical = bar->orientation == Qt::Vertical;
        for (const SubControl arrow : {SC_ScrollBarSubLine, SC_ScrollBarAddLine}) {
            const QRectF box = subControlRect(control, bar, arrow, widget);
            if (box.width() < 6 || box.height() < 6)
                continue;
            // A small triangle pointing along the bar, away from its middle.
            const QPointF c = box.center();
            const qreal r = std::min(box.width(), box.height()) / 6;
            const qreal way = arrow == SC_ScrollBarAddLine ? r : -r;
            const QPointF along = vertical ? QPointF(0, way) : QPointF(way, 0);
            const QPointF across = vertical ? QPointF(2 * r, 0) : QPointF(0, 2 * r);
            const QPointF points[3] = {c - along - across, c - along + across, c + along};
            painter->drawPolygon(points, 3);
        }
        painter->restore();
    }
};

} // namespace

// What screen readers and UI automation see of a memo: a read-only multi-line text, as Qt shows
// its own read-only text views, read through the memo's store without copying it whole.
class TMemoAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit TMemoAccessible(TMemo *memo) : QAccessibleWidget(memo, QAccessible::EditableText) {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }
    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Value ? Memo()->toPlainText() : QAccessibleWidget::text(kind);
    }

    void selection(int index, int *start, int *end) const override
    {
        *start = *end = 0;
        if (index == 0 && Memo()->HasSelection()) {
            *start = int(std::min(Memo()->AnchorOffset(), Memo()->CaretOffset()));
            *end = int(std::max(Memo()->AnchorOffset(), Memo()->CaretOffset()));
        }
    }
    int selectionCount() const override { return Memo()->HasSelection() ? 1 : 0; }
    // One selection is all the memo has: a new one takes its place.
    void addSelection(int start, int end) override { Memo()->Select(start, end); }
    void removeSelection(int index) override
    {
        if (index == 0)
            Memo()->Select(Memo()->CaretOffset(), Memo()->CaretOffset());
    }
    void setSelection(int index, int start, int end) override
    {
        if (index == 0)
            Memo()->Select(start, end);
    }
    int cursorPosition() const override { return int(Memo()->CaretOffset()); }
    void setCursorPosition(int position) override { Memo()->Select(position, position); }
    QString text(int start, int end) const override { return Memo()->Text(start, end); }
    int characterCount() const override { return int(Memo()->TextLength()); }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int *start, int *end) const override
    {
        return Item(offset, 0, type, start, end);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int *start, int *end) const override
    {
        return Item(offset, -1, type, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int *start, int *end) const override
    {
        return Item(offset, 1, type, start, end);
    }

    QRect characterRect(int offset) const override
    {
        TMemo *memo = Memo();
        if (offset < 0 || offset >= memo->TextLength())
            return {};
        const TMemo::TPlace place = memo->PlaceOf(offset);
        const QByteArrayView line = memo->LineBytes(place.Line);
        const qreal x = memo->Width(line.first(place.Column));
        const qreal right = place.Column < line.size() ? memo->Width(line.first(place.Column + 1)) : x + 1;
        const QRect rect(QPoint(int(std::floor(x)), 0), QPoint(int(std::ceil(right)) - 1, memo->LineHeight() - 1));
        const QPoint corner(Margin - memo->horizontalScrollBar()->value(),
                            Margin + (place.Line - memo->verticalScrollBar()->value()) * memo->LineHeight());
        return rect.translated(memo->viewport()->mapToGlobal(corner));
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        TMemo *memo = Memo();
        const QPoint at = memo->viewport()->mapFromGlobal(point);
        if (!memo->viewport()->rect().contains(at) || memo->LineCount() == 0)
            return -1;
        return int(memo->OffsetOf(memo->PlaceAt(at)));
    }
    void scrollToSubstring(int start, int end) override
    {
        Memo()->ScrollTo(Memo()->PlaceOf(end));
        Memo()->ScrollTo(Memo()->PlaceOf(start));
    }
    // The log has one look throughout.
    QString attributes(int offset, int *start, int *end) const override
    {
        const bool inside = offset >= 0 && offset <= characterCount();
        *start = inside ? 0 : -1;
        *end = inside ? characterCount() : -1;
        return {};
    }

private:
    TMemo *Memo() const { return static_cast<TMemo *>(widget()); }

    // Lines (and paragraphs: a log's line is one) come from the store; words and sentences, which
    // never run past the end of a line, are found in the lines around the offset.
    QString Item(int offset, int way, QAccessible::TextBoundaryType type, int *start, int *end) const
    {
        TMemo *memo = Memo();
        const qsizetype length = memo->TextLength();
        const qsizetype at = offset == -1 ? length : offset;
        *start = *end = -1;
        if (at < 0 || at > length || length == 0)
            return {};
        if (type == QAccessible::NoBoundary) {
            if (way != 0)
                return {};
            *start = 0;
            *end = int(length);
            return memo->toPlainText();
        }
        if (type == QAccessible::LineBoundary || type == QAccessible::ParagraphBoundary) {
            // A line with its "\n"; after the last line and before the first comes nothing.
            const int line = way > 0 && at == length ? -1 : memo->PlaceOf(at).Line + way;
            if (line < 0 || line >= memo->LineCount())
                return {};
            const qsizetype from = memo->OffsetOf({line, 0});
            const qsizetype to = line + 1 < memo->LineCount() ? memo->OffsetOf({line + 1, 0}) : length;
            *start = int(from);
            *end = int(to);
            return memo->Text(from, to);
        }
        const int line = memo->PlaceOf(at).Line;
        const qsizetype from = std::max(at - ItemReach, memo->OffsetOf({std::max(0, line - 2), 0}));
        const int last = std::min(memo->LineCount() - 1, line + 2);
        const qsizetype lastEnd = last + 1 < memo->LineCount() ? memo->OffsetOf({last + 1, 0}) : length;
        const qsizetype to = std::min(at + ItemReach, lastEnd);
        const QTextBoundaryFinder::BoundaryType kind = type == QAccessible::CharBoundary ? QTextBoundaryFinder::Grapheme
                                                       : type == QAccessible::WordBoundary ? QTextBoundaryFinder::Word
                                                                                           : QTextBoundaryFinder::Sentence;
        qsizetype itemStart = 0, itemEnd = 0;
        const QString item = TextItem(memo->Text(from, to), at - from, way, kind, &itemStart, &itemEnd);
        if (itemStart >= 0) {
            *start = int(from + itemStart);
            *end = int(from + itemEnd);
        }
        return item;
    }
};

namespace {

QAccessibleInterface *MemoAccessible(const QString &key, QObject *object)
{
    auto *memo = qobject_cast<TMemo *>(object);
    return memo && key == QLatin1String(TMemo::staticMetaObject.className()) ? new TMemoAccessible(memo) : nullptr;
}

} // namespace

TMemo::TMemo(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    horizontalScrollBar()->setSingleStep(SidewaysStep);
    FFrame.setSingleShot(true);
    FFrame.setInterval(FrameMs);
    connect(&FFrame, &QTimer::timeout, this, [this] { Refresh(false); });
    QScrollBar *bar = verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        if (!FScrolling)
            FFollowing = value >= bar->maximum();
    });
    connect(bar, &QScrollBar::rangeChanged, this, [this] { FollowEnd(); });
    auto *flat = new TFlatScrollBars;
    flat->setParent(this);
    bar->setStyle(flat);
    horizontalScrollBar()->setStyle(flat);
    static const bool accessible = (QAccessible::installFactory(MemoAccessible), true);
    Q_UNUSED(accessible);
    FontChanged();
}

TMemo::~TMemo() = default;

QByteArrayView TMemo::LineBytes(int index) const
{
    const qsizetype start = FStarts[index];
    const qsizetype end = index + 1 < FStarts.size() ? FStarts[index + 1] : FText.size();
    return QByteArrayView(FText).sliced(start, end - start);
}

qsizetype TMemo::OffsetOf(TPlace place) const
{
    // Each line before the place adds its "\n".
    return FStarts.isEmpty() ? 0 : FStarts[place.Line] + place.Line + place.Column;
}

TMemo::TPlace TMemo::PlaceOf(qsizetype offset) const
{
    if (FStarts.isEmpty())
        return {};
    offset = std::clamp<qsizetype>(offset, 0, TextLength());
    int low = 0, high = LineCount() - 1; // the last line starting at or before the offset
    while (low < high) {
        const int middle = (low + high + 1) / 2;
        if (FStarts[middle] + middle <= offset)
            low = middle;
        else
            high = middle - 1;
    }
    return {low, int(offset - FStarts[low] - low)};
}

QString TMemo::Text(qsizetype from, qsizetype to) const
{
    from = std::clamp<qsizetype>(from, 0, TextLength());
    to = std::clamp<qsizetype>(to, from, TextLength());
    QString text;
    text.reserve(to - from);
    for (TPlace place = PlaceOf(from); place.Line < LineCount() && OffsetOf(place) < to; place = {place.Line + 1, 0}) {
        if (place.Column == LineBytes(place.Line).size()) { // at the line's "\n"
            text += QLatin1Char('\n');
            continue;
        }
        const QByteArrayView bytes = LineBytes(place.Line).sliced(place.Column);
        const QByteArrayView part = bytes.first(std::min<qsizetype>(bytes.size(), to - OffsetOf(place)));
        text += QLatin1StringView(part.data(), part.size());
        if (OffsetOf(place) + part.size() < to)
            text += QLatin1Char('\n');
    }
    return text;
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
    if (TextLength() > 0 && Listened()) {
        QAccessibleTextRemoveEvent removed(this, 0, toPlainText());
        Tell(&removed);
    }
    FAnnounced = 0;
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
    // In view, the scroll bars, the measuring, the painting and the announcing wait for the next
    // frame (a scroll bar that moves repaints itself and the text at once). Out of view all of it
    // waits until the memo is shown.
    if (isVisible() && !FFrame.isActive())
        FFrame.start();
}

// Measures the font once for every change of font or of the screen's density (the widget gets a
// font change for both), not on every paint.
void TMemo::FontChanged()
{
    const QFontMetricsF metrics(font(), viewport());
    for (int c = 0; c < 256; ++c)
        FAdvances[c] = metrics.horizontalAdvance(QChar(char16_t(c)));
    FLineHeight = std::max(1, int(std::ceil(metrics.height())));
    // Latin-1 in a fixed-pitch font needs no shaping, and shaping each new line was a third of
    // the log's painting.
    FLayoutFont = font();
    FLayoutFont.setStyleStrategy(QFont::PreferNoShaping);
    FLayouts.clear();
    FMeasured = 0;
    FPartLength = 0;
    FPartWidth = FWidest = 0;
}

// Widths come from a table of the characters' advances (the log's characters are Latin-1):
// measuring every received character through the text shaper would cost more than showing it.
qreal TMemo::Width(QByteArrayView bytes, qreal x) const
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
    Announce();
}

// What arrived since the last frame, in one announcement.
void TMemo::Announce()
{
    const qsizetype length = TextLength();
    if (length > FAnnounced && Listened()) {
        QAccessibleTextInsertEvent inserted(this, int(FAnnounced), Text(FAnnounced, length));
        Tell(&inserted);
    }
    FAnnounced = length;
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
        entry.Layout = std::make_unique<QTextLayout>(QString::fromLatin1(bytes.data(), bytes.size()), FLayoutFont, viewport());
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
        const QPointF at(left, Margin + (i - first) * height);
        layout.draw(&painter, at, selections);
        if (i == FCursor.Line && hasFocus() && FCursor.Column <= layout.text().size())
            layout.drawCursor(&painter, at, FCursor.Column);
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
    FCursor = PlaceOf(TextLength());
    Moved();
}

void TMemo::Select(qsizetype anchor, qsizetype caret)
{
    FAnchor = PlaceOf(anchor);
    FCursor = PlaceOf(caret);
    ScrollTo(FCursor);
    Moved();
}

std::function<void(QAccessibleEvent *)> TMemo::AccessibleListener;

bool TMemo::Listened()
{
    return AccessibleListener || QAccessible::isActive();
}

void TMemo::Tell(QAccessibleEvent *event)
{
    if (AccessibleListener)
        AccessibleListener(event);
    else
        QAccessible::updateAccessibility(event);
}

void TMemo::Moved()
{
    viewport()->update();
    if (!Listened())
        return;
    QAccessibleTextCursorEvent caret(this, int(CaretOffset()));
    Tell(&caret);
    QAccessibleTextSelectionEvent selection(this, int(std::min(AnchorOffset(), CaretOffset())),
                                            int(std::max(AnchorOffset(), CaretOffset())));
    Tell(&selection);
}

// Scrolls the least that brings the place into view.
void TMemo::ScrollTo(TPlace place)
{
    if (LineCount() == 0)
        return;
    QScrollBar *bar = verticalScrollBar();
    if (place.Line < bar->value())
        bar->setValue(place.Line);
    else if (place.Line >= bar->value() + VisibleLines())
        bar->setValue(place.Line - VisibleLines() + 1);
    QScrollBar *sideways = horizontalScrollBar();
    const int x = int(Width(LineBytes(place.Line).first(place.Column)));
    const int width = viewport()->width() - 2 * Margin;
    if (x < sideways->value())
        sideways->setValue(x);
    else if (x > sideways->value() + width)
        sideways->setValue(x - width);
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
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
        viewport()->update(); // the caret shows with the focus
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
    } else if (!MoveKey(event)) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

// The keys of a text view move the caret, and the view with it; with Shift they select. A caret
// out of view, with nothing selected, starts from the view: the first key on a log that follows
// its end does not send it back to a caret left far above.
bool TMemo::MoveKey(QKeyEvent *event)
{
    enum TMove { Back, On, Up, Down, PageUp, PageDown, LineStart, LineEnd, TextStart, TextEnd };
    static const struct {
        QKeySequence::StandardKey Move, Select;
        TMove Kind;
    } keys[] = {
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, Back},
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, On},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, Up},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Down},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, PageUp},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, PageDown},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, LineStart},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, LineEnd},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, TextStart},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, TextEnd},
    };
    const auto key = std::find_if(std::begin(keys), std::end(keys), [event](const auto &k) {
        return event->matches(k.Move) || event->matches(k.Select);
    });
    if (key == std::end(keys))
        return false;
    if (LineCount() == 0)
        return true;
    const bool select = event->matches(key->Select);
    const bool forward = key->Kind == On || key->Kind == Down || key->Kind == PageDown || key->Kind == LineEnd;
    const int top = verticalScrollBar()->value();
    const int bottom = std::min(LineCount(), top + VisibleLines()) - 1;
    TPlace caret = FCursor;
    if ((caret.Line < top || caret.Line > bottom) && !(select && HasSelection()))
        FAnchor = caret = {forward ? bottom : top, 0};
    const auto length = [this](int line) { return int(LineBytes(line).size()); };
    const int last = LineCount() - 1;
    int lines = 0; // moved up or down
    switch (key->Kind) {
    case Back:
        caret = caret.Column > 0 ? TPlace{caret.Line, caret.Column - 1}
                : caret.Line > 0 ? TPlace{caret.Line - 1, length(caret.Line - 1)}
                                 : caret;
        break;
    case On:
        caret = caret.Column < length(caret.Line) ? TPlace{caret.Line, caret.Column + 1}
                : caret.Line < last               ? TPlace{caret.Line + 1, 0}
                                                  : caret;
        break;
    case Up:
    case Down:
        lines = key->Kind == Up ? -1 : 1;
        break;
    case PageUp:
    case PageDown:
        // The view turns a page and the caret keeps its row in it.
        lines = key->Kind == PageUp ? -VisibleLines() : VisibleLines();
        verticalScrollBar()->setValue(top + lines);
        break;
    case LineStart:
        caret.Column = 0;
        break;
    case LineEnd:
        caret.Column = length(caret.Line);
        break;
    case TextStart:
        caret = {};
        break;
    case TextEnd:
        caret = {last, length(last)};
        break;
    }
    if (lines != 0) {
        if (FGoalColumn < 0)
            FGoalColumn = caret.Column;
        caret.Line = std::clamp(caret.Line + lines, 0, last);
        caret.Column = std::min(FGoalColumn, length(caret.Line));
    } else {
        FGoalColumn = -1;
    }
    FCursor = caret;
    if (!select)
        FAnchor = caret;
    ScrollTo(caret);
    Moved();
    return true;
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
    FGoalColumn = -1;
    Moved();
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
    Moved();
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
