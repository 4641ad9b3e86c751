#include "app/LineStrip.h"

#include "engine/Engine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QResizeEvent>

namespace {
// Between the state and the counts side by side, and between the two stacked.
constexpr int RowGap = 12, StackGap = 2;
// The red of the reply warning on the Main page.
const char AlarmStyle[] = "color: rgb(255, 0, 0); font-weight: bold;";

QLabel *StripLabel(QWidget *parent, const char *name)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    // A long text is cut at the window's edge; it must not widen the window.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Maximum);
    label->setFont(parent->font());
    return label;
}
} // namespace

TLineStrip::TLineStrip(TEngine *engine, QLabel *noPort, QLabel *ratePanel, QWidget *parent)
    : QWidget(parent), FNoPort(noPort), FRatePanel(ratePanel)
{
    setObjectName("LineStrip");
    // As tall as its rows: room the bar has to spare stays out of them.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto *layout = FLayout = new QBoxLayout(QBoxLayout::LeftToRight, this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(RowGap);
    LabelLine = StripLabel(this, "LabelLine");
    LabelLink = StripLabel(this, "LabelLink");
    // The state whole where the row has room for it; the link's counts take what is left.
    LabelLine->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    LabelLine->setMinimumWidth(1);
    layout->addWidget(LabelLine, 0);
    layout->addWidget(LabelLink, 1);
    // Height the bar gives beyond the rows' goes under them, not between.
    layout->addStretch(0);
    if (FRatePanel)
        FRateTip = FRatePanel->toolTip();
    LabelLine->hide();
    LabelLink->hide();
    connect(engine, &TEngine::LineStateChanged, this, &TLineStrip::ShowLineState);
    connect(engine, &TEngine::LinkHealthChanged, this, &TLineStrip::ShowLinkHealth);
    ShowLineState(engine->LineState());
}

void TLineStrip::ShowLineState(const TLineState &state)
{
    const bool none = state.Kind == TLineState::TKind::NoPort;
    LabelLine->setText(state.Text());
    LabelLine->setToolTip(state.Tip());
    LabelLine->setStyleSheet(state.Alarm() ? AlarmStyle : "");
    LabelLine->setVisible(!none);
    // "No port open" is the window's own label; while the port is waited for, the strip says more.
    if (FNoPort) {
        FNoPort->setToolTip(none ? state.Tip() : QString());
        if (state.Kind == TLineState::TKind::Lost)
            FNoPort->hide();
    }
    Arrange();
}

void TLineStrip::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Arrange();
}

void TLineStrip::Arrange()
{
    const QFontMetrics metrics = LabelLink->fontMetrics();
    const int linkWidth = metrics.horizontalAdvance(LabelLink->text()) + 2 * LabelLink->margin();
    const int needed = LabelLine->sizeHint().width() + RowGap + linkWidth;
    const bool fits = LabelLine->isHidden() || LabelLink->isHidden() || needed <= width();
    const QBoxLayout::Direction direction = fits ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom;
    // Stacked, the rows sit as close as the bar's other rows; the counts wrap rather than run past
    // the window's edge in a narrow window.
    const bool wrap = !fits && linkWidth > width();
    if (LabelLink->wordWrap() != wrap)
        LabelLink->setWordWrap(wrap);
    if (FLayout->direction() != direction) {
        FLayout->setDirection(direction);
        FLayout->setSpacing(fits ? RowGap : StackGap);
    }
    updateGeometry();
}

QSize TLineStrip::sizeHint() const
{
    QSize hint = QWidget::sizeHint();
    // A wrapped label's own hint guesses its width; the strip knows it.
    if (FLayout->direction() == QBoxLayout::TopToBottom && !LabelLine->isHidden() && !LabelLink->isHidden() && width() > 0)
        hint.setHeight(LabelLine->sizeHint().height() + StackGap + LabelLink->heightForWidth(width()));
    return hint;
}

void TLineStrip::ShowLinkHealth(const TLinkFigures &figures)
{
    const QString summary = "Link: " + TLinkHealth::Summary(figures.Run, figures.LineShare, figures.Running);
    const bool alarm = !figures.Warning.isEmpty();
    LabelLink->setText(alarm ? figures.Warning + "  |  " + summary : summary);
    LabelLink->setStyleSheet(alarm ? AlarmStyle : "");
    const QString table = LinkTable(figures);
    LabelLink->setToolTip(table);
    LabelLink->setVisible(figures.Total.Commands > 0);
    if (FRatePanel)
        FRatePanel->setToolTip(FRateTip + "\n\n" + table);
    Arrange();
}

QString TLineStrip::LinkTable(const TLinkFigures &f)
{
    QString rows;
    const auto row = [&rows](const char *name, int64_t run, int64_t total) {
        rows += QStringLiteral("<tr><td>%1</td><td align=right>&nbsp;%2</td><td align=right>&nbsp;%3</td></tr>")
                    .arg(QString::fromLatin1(name))
                    .arg(run)
                    .arg(total);
    };
    row("Commands sent", f.Run.Commands, f.Total.Commands);
    row("Replies received", f.Run.Replies, f.Total.Replies);
    row("Replies missing", f.Run.Missing, f.Total.Missing);
    row("Late replies", f.Run.Late, f.Total.Late);
    row("Reports refused", f.Run.Refused, f.Total.Refused);
    row("Noise bytes", f.Run.Noise, f.Total.Noise);
    QString text = QStringLiteral("<b>Link</b><table><tr><th></th><th>&nbsp;This Run</th><th>&nbsp;Since start</th></tr>%1</table>")
                       .arg(rows);
    text += QStringLiteral("Last %1 s: %2 cycles/s, %3 % of what the line allows (%4/s)")
                .arg(qRound(f.WindowSeconds))
                .arg(f.Rate, 0, 'f', 1)
                .arg(qRound(100.0 * f.LineShare))
                .arg(qRound(TLinkHealth::LineLimit(TEngine::LineSettings.BaudRate)));
    if (!f.Warning.isEmpty())
        text += "<br><font color=red><b>" + f.Warning.toHtmlEscaped() + "</b></font>";
    return text;
}
