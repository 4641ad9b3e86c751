#pragma once
// A read-only log memo: lines of text in one compact store (a byte per character: every text the
// logs show is Latin-1), drawn by a light view of its own. Appending costs the bytes appended;
// laying out and painting happen at most once a frame, and only for the lines in view, so a fast
// line costs little however full the log is.
//
// It shows the newest lines, also when text arrived while it was hidden, until the operator
// scrolls away from the end; scrolling back to the end follows it again. Sideways a log is read
// from the start of its lines: the column stays where it was.
// The mouse selects (drag, shift-click); the keys of a text view move a caret and the view with
// it (arrows, Page Up/Down, Home/End, Ctrl+Home/End for the whole text), Shift with them selects.
// While it has the focus, the standard keys for select-all and (with text selected) copy act on
// the memo, before the window's command shortcuts on the same keys. It takes the focus by Tab
// and by click.
//
// Screen readers and UI automation read it as a read-only multi-line text through Qt's
// accessible text interface, whose offsets count the lines joined by "\n"; what arrives is
// announced once a frame, a clear at once.

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QFont>
#include <QList>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <unordered_map>

class QAccessibleEvent;
class QTextLayout;

class TMemo : public QAbstractScrollArea {
    Q_OBJECT
public:
    // What arrives is painted at most this often (ms): a log at the line's pace scrolls faster
    // than anyone reads, and painting it once a screen frame cost more than the terminal's whole work.
    static constexpr int FrameMs = 100;
    // A log memo is emptied before it grows past this many lines...
    static constexpr int LineLimit = 40000;
    // ...or past this many characters, so that a log of endless lines or of bytes shown by
    // their names stays small whatever arrives.
    static constexpr qsizetype CharLimit = 6 * 1024 * 1024; // 40,000 report lines, time-stamped, take 4 MB

    explicit TMemo(QWidget *parent = nullptr);
    ~TMemo() override;

    // Adds text at the end of the last line ("\n" starts a new one).
    void AppendText(const QString &text);
    // Adds text as new lines after the last one.
    void appendPlainText(const QString &text);
    void setPlainText(const QString &text);
    // Empties the memo and gives its memory back.
    void clear();

    // Lines held; an empty memo holds none.
    int LineCount() const { return int(FStarts.size()); }
    qsizetype CharCount() const { return FText.size(); }
    // The memo is to be emptied before more text comes.
    bool Full() const { return LineCount() >= LineLimit || CharCount() >= CharLimit; }
    QString Line(int index) const;
    // All lines, joined by "\n".
    QString toPlainText() const;
    // Characters of toPlainText(), and those from `from` up to `to`, without building the whole.
    qsizetype TextLength() const { return FText.size() + std::max(0, LineCount() - 1); }
    QString Text(qsizetype from, qsizetype to) const;

    void selectAll();
    bool HasSelection() const { return FAnchor != FCursor; }
    QString SelectedText() const;
    // The selection runs from the anchor to the caret (offsets into toPlainText()); without a
    // selection the two are one.
    qsizetype AnchorOffset() const { return OffsetOf(FAnchor); }
    qsizetype CaretOffset() const { return OffsetOf(FCursor); }
    void Select(qsizetype anchor, qsizetype caret);

    // Where the memos' accessibility events go instead of to Qt, when set. Qt passes them on only
    // while a platform bridge listens, and the offscreen platform has none: a test listens here.
    static std::function<void(QAccessibleEvent *)> AccessibleListener;
    // Puts the selected text on the clipboard.
    void copy() const;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseDoubleClickEvent(QMouseEvent *) override {}

private:
    friend class TMemoAccessible;
    // A place in the text: a line and a character in it.
    struct TPlace {
        int Line = 0;
        int Column = 0;
        friend bool operator==(const TPlace &a, const TPlace &b) { return a.Line == b.Line && a.Column == b.Column; }
        friend bool operator!=(const TPlace &a, const TPlace &b) { return !(a == b); }
        friend bool operator<(const TPlace &a, const TPlace &b)
        {
            return a.Line < b.Line || (a.Line == b.Line && a.Column < b.Column);
        }
    };
    struct TLayout {
        std::unique_ptr<QTextLayout> Layout;
        qsizetype Length = 0; // characters laid out
    };

    QByteArrayView LineBytes(int index) const;
    qsizetype OffsetOf(TPlace place) const;
    TPlace PlaceOf(qsizetype offset) const;
    void Append(QByteArrayView bytes);
    void Changed();
    qreal Width(QByteArrayView bytes, qreal x = 0) const;
    void FontChanged();
    qsizetype InView(QByteArrayView bytes) const;
    // Measures and paints what changed; `all` paints the whole view.
    void Refresh(bool all = true);
    void UpdateRanges();
    void FollowEnd();
    int LineHeight() const { return FLineHeight; }
    int VisibleLines() const;
    QTextLayout &LayoutOf(int index);
    TPlace PlaceAt(const QPoint &at);
    bool MoveKey(QKeyEvent *event);
    void ScrollTo(TPlace place);
    // Paints and tells assistive technology that the caret or the selection moved.
    void Moved();
    void Announce();
    static bool Listened();
    static void Tell(QAccessibleEvent *event);

    QByteArray FText;           // the characters of all lines, one after the other
    QList<qsizetype> FStarts;   // where each line starts in FText
    // Widths are measured once, as text comes: lines before FMeasured are in FWidest; of the
    // line at FMeasured, the first FPartLength characters measured FPartWidth.
    int FMeasured = 0;
    qsizetype FPartLength = 0;
    qreal FPartWidth = 0;
    qreal FWidest = 0;
    std::array<qreal, 256> FAdvances{}; // of each character in the memo's font
    int FLineHeight = 1;                // of the memo's font, on the memo's screen
    QFont FLayoutFont;                  // the memo's font, laid out without the text shaper
    std::unordered_map<int, TLayout> FLayouts; // of the lines last in view
    TPlace FAnchor, FCursor;
    int FGoalColumn = -1;       // the column Up and Down keep to, over shorter lines
    qsizetype FAnnounced = 0;   // characters assistive technology has been told of
    QTimer FFrame;              // paints what arrived, at most once a frame
    bool FFollowing = true;
    bool FScrolling = false;
};
