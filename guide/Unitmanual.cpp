#include "guide/Unitmanual.h"

#include "guide/GuideFile.h"
#include "platform/PixelFont.h"
#include "platform/Platform.h"
#include "platform/ScreenFit.h"

#include <QApplication>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

namespace {

constexpr int ImageRole = Qt::UserRole + 1;
const QString ErrorCaption = QStringLiteral("ERROR");

QPushButton *MakeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    button->resize(140, 47);
    return button;
}

QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text, const QRect &geometry)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    return label;
}

// Tells the operator that the guide file went on beyond what is read; what says what was kept.
void ReportCut(const QString &fileName, const QString &what)
{
    Platform::MessageBox(QStringLiteral("The guide file \"%1\" is too large: %2.").arg(fileName, what),
                         QStringLiteral("Information"), Platform::TMsgIcon::Information);
}

QString FirstLines(int lines)
{
    return QStringLiteral("only its first %1 %2").arg(lines).arg(lines == 1 ? "line is" : "lines are");
}

} // namespace

TFormManual::TFormManual(QWidget *AOwner, const QString &caption, int page) : QDialog(AOwner), FPage(page)
{
    setObjectName("FormManual");
    setWindowTitle(caption);
    setModal(true);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setDocumentMode(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PageControl1);
    CreateManualPage();
    CreateAboutPage();
    // Only the page the opener asked for shows; there is nothing to switch to.
    PageControl1->tabBar()->setVisible(false);

    FormCreate();
}

void TFormManual::CreateManualPage()
{
    TSManual = new QWidget;
    TSManual->setObjectName("TSManual");
    PageControl1->addTab(TSManual, "Manual");

    TreeView1 = new QTreeWidget(TSManual);
    TreeView1->setObjectName("TreeView1");
    TreeView1->setAccessibleName(tr("User's guide"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setColumnCount(1);
    TreeView1->setFont(PixelFont(TreeView1->font(), 16));
    TreeView1->setIndentation(19);
    TreeView1->setUniformRowHeights(true);
    // Long lines scroll sideways rather than end in an ellipsis: the column is as wide as the
    // rows shown, measured when they change (the header's own automatic mode costs seconds for
    // a large tree).
    TreeView1->header()->setStretchLastSection(false);
    // The selection stays visible when the tree loses the focus.
    QPalette palette = TreeView1->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    TreeView1->setPalette(palette);
    ImageList1 = {style()->standardIcon(QStyle::SP_DirClosedIcon), style()->standardIcon(QStyle::SP_DirOpenIcon),
                  style()->standardIcon(QStyle::SP_FileIcon)};
    connect(TreeView1, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem *node) {
        TreeView1Expanded(node);
        if (!FExpandingAll)
            TreeView1->resizeColumnToContents(0);
    });
    connect(TreeView1, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem *node) {
        TreeView1Collapsed(node);
        if (!FExpandingAll)
            TreeView1->resizeColumnToContents(0);
    });

    Panel1 = new QFrame(TSManual);
    Panel1->setObjectName("Panel1");
    Panel1->setFixedHeight(64);
    BtnFullExpand = MakeButton(Panel1, "BtnFullExpand", "&Expand All");
    BtnFullCollapse = MakeButton(Panel1, "BtnFullCollapse", "Co&llapse All");
    BtnManualPrint = MakeButton(Panel1, "BtnManualPrint", "&Print");
    BtnManualClose = MakeButton(Panel1, "BtnManualClose", "&Close");
    for (QPushButton *button : {BtnFullExpand, BtnFullCollapse, BtnManualPrint, BtnManualClose})
        button->move(0, (Panel1->height() - button->height()) / 2);
    connect(BtnFullExpand, &QPushButton::clicked, this, [this] { BtnFullExpandClick(); });
    connect(BtnFullCollapse, &QPushButton::clicked, this, [this] { BtnFullCollapseClick(); });
    connect(BtnManualPrint, &QPushButton::clicked, this, [this] { BtnManualPrintClick(); });
    connect(BtnManualClose, &QPushButton::clicked, this, [this] { BtnCloseClick(); });

    CreateFindBox();

    auto *layout = new QVBoxLayout(TSManual);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(TreeView1, 1);
    layout->addWidget(PanelFind);
    layout->addWidget(Panel1);
}

void TFormManual::CreateFindBox()
{
    PanelFind = new QFrame(TSManual);
    PanelFind->setObjectName("PanelFind");
    PanelFind->setVisible(false);
    LabelFind = new QLabel("&Find:", PanelFind);
    LabelFind->setObjectName("LabelFind");
    EditFind = new QLineEdit(PanelFind);
    EditFind->setObjectName("EditFind");
    EditFind->setAccessibleName(tr("Find in the guide"));
    EditFind->setAccessibleDescription(tr("Enter or F3: next topic; Shift+F3: previous topic"));
    EditFind->setToolTip(tr("Words to find in the guide; Enter or F3: next, Shift+F3: previous"));
    LabelFind->setBuddy(EditFind);
    LabelFindResult = new QLabel(PanelFind);
    LabelFindResult->setObjectName("LabelFindResult");
    LabelFindResult->setAccessibleName(tr("Find result"));
    auto *layout = new QHBoxLayout(PanelFind);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->addWidget(LabelFind);
    layout->addWidget(EditFind, 1);
    layout->addWidget(LabelFindResult, 1);
    connect(EditFind, &QLineEdit::returnPressed, this, [this] { FindNext(true); });
    connect(EditFind, &QLineEdit::textChanged, LabelFindResult, &QLabel::clear);

    // The keys work anywhere in the guide window (it shows no other page then); Esc in the find
    // box closes the box, not the window.
    const auto shortcut = [this](const QKeySequence &keys, QWidget *parent, Qt::ShortcutContext context) {
        auto *result = new QShortcut(keys, parent);
        result->setContext(context);
        result->setEnabled(FPage == GuidePage);
        return result;
    };
    connect(shortcut(QKeySequence::Find, this, Qt::WindowShortcut), &QShortcut::activated, this,
            [this] { FindShow(); });
    connect(shortcut(QKeySequence(Qt::Key_F3), this, Qt::WindowShortcut), &QShortcut::activated, this,
            [this] { FindNext(true); });
    connect(shortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this, Qt::WindowShortcut), &QShortcut::activated, this,
            [this] { FindNext(false); });
    connect(shortcut(QKeySequence(Qt::Key_Escape), PanelFind, Qt::WidgetWithChildrenShortcut),
            &QShortcut::activated, this, [this] {
                PanelFind->hide();
                TreeView1->setFocus(Qt::OtherFocusReason);
            });
}

void TFormManual::FindShow()
{
    PanelFind->show();
    EditFind->setFocus(Qt::ShortcutFocusReason);
    EditFind->selectAll();
}

bool TFormManual::FindNext(bool forward)
{
    const QStringList words = EditFind->text().simplified().split(' ', Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        // Nothing to look for yet: the box to type it in.
        FindShow();
        return false;
    }
    QList<QTreeWidgetItem *> nodes;
    for (QTreeWidgetItemIterator it(TreeView1); *it; ++it)
        nodes << *it;
    const auto matches = [&words](const QTreeWidgetItem *node) {
        const QString text = node->text(0);
        for (const QString &word : words)
            if (!text.contains(word, Qt::CaseInsensitive))
                return false;
        return true;
    };
    // From the node after the selected one (before it, backwards) round to the selected one itself.
    const qsizetype count = nodes.size();
    const qsizetype from = nodes.indexOf(TreeView1->currentItem());
    for (qsizetype step = 1; step <= count; ++step) {
        const qsizetype at = from < 0 ? (forward ? step - 1 : count - step)
                                      : ((from + (forward ? step : -step)) % count + count) % count;
        QTreeWidgetItem *node = nodes[at];
        if (!matches(node))
            continue;
        for (QTreeWidgetItem *parent = node->parent(); parent; parent = parent->parent())
            parent->setExpanded(true);
        TreeView1->setCurrentItem(node);
        TreeView1->scrollToItem(node);
        LabelFindResult->clear();
        return true;
    }
    PanelFind->show();
    LabelFindResult->setText(tr("Not found"));
    return false;
}

void TFormManual::CreateAboutPage()
{
    TSAbout = new QWidget;
    TSAbout->setObjectName("TSAbout");
    PageControl1->addTab(TSAbout, "About");

    Panel2 = new QFrame(TSAbout);
    Panel2->setObjectName("Panel2");
    Panel2->setFrameShape(QFrame::StyledPanel);
    Panel2->setFrameShadow(QFrame::Sunken);
    Panel2->setGeometry(16, 16, 348, 248);

    ImageLogo = MakeLabel(Panel2, "ImageLogo", QString(), QRect(24, 28, 32, 32));
    QIcon logo = QApplication::windowIcon();
    if (logo.isNull())
        logo = style()->standardIcon(QStyle::SP_ComputerIcon);
    ImageLogo->setPixmap(logo.pixmap(32, 32));
    ImageLogo->setAccessibleName(tr("Program icon"));

    LabelTitleOne = MakeLabel(Panel2, "LabelTitleOne", "Zarn Monitor", QRect(72, 24, 260, 40));
    QFont titleFont = PixelFont(font(), 26);
    titleFont.setBold(true);
    titleFont.setItalic(true);
    LabelTitleOne->setFont(titleFont);
    QPalette navy = LabelTitleOne->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    LabelTitleOne->setPalette(navy);

    const QFont textFont = PixelFont(font(), 15);
    LabelVersion = MakeLabel(Panel2, "LabelVersion", "Version " ZARN_VERSION, QRect(72, 96, 260, 24));
    LabelYear = MakeLabel(Panel2, "LabelYear", "2026", QRect(72, 128, 260, 24));
    LabelECompany = MakeLabel(Panel2, "LabelECompany", "Dunmeridge Corporation", QRect(72, 180, 260, 24));
    for (QLabel *label : {LabelVersion, LabelYear, LabelECompany})
        label->setFont(textFont);

    BtnAboutClose = MakeButton(TSAbout, "BtnAboutClose", "&Close");
    BtnAboutClose->move(120, 284);
    BtnAboutClose->setDefault(true);
    connect(BtnAboutClose, &QPushButton::clicked, this, [this] { BtnCloseClick(); });

    TimerAutoClose = new QTimer(this);
    TimerAutoClose->setObjectName("TimerAutoClose");
    TimerAutoClose->setInterval(10000);
    TimerAutoClose->setSingleShot(true);
    connect(TimerAutoClose, &QTimer::timeout, this, [this] { TimerAutoCloseTimer(); });
}

void TFormManual::FormCreate()
{
    if (FPage == GuidePage) {
        // The four buttons stay in sight, if pressed together, down to this width.
        setMinimumSize(500, 300);
        resize(800, 600);
        setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                       Qt::WindowCloseButtonHint);
        // The working folder's guide first, then the one the package installed.
        FGuideFileName = GuideFilePath();
        QByteArray bytes;
        if (QFileInfo(FGuideFileName).isFile() && ReadGuide(FGuideFileName, bytes)) {
            const TGuideTree tree = ParseGuide(bytes);
            ShowTree(tree);
            if (!tree.Error.isEmpty())
                Platform::MessageBox(tree.Error, ErrorCaption, Platform::TMsgIcon::Error);
            else
                AssignImages();
            if (tree.Cut)
                ReportCut(FGuideFileName, FirstLines(static_cast<int>(tree.Nodes.size())) +
                                              QStringLiteral(" shown, at most %1 characters of each")
                                                  .arg(GuideMaxText));
        } else {
            // No guide file, or one that cannot be read: the built-in guide rather than an empty tree.
            ShowTree(ParseGuide(BuiltInGuide()));
            AssignImages();
        }
        PageControl1->setCurrentWidget(TSManual);
    } else if (FPage == AboutPage) {
        setFixedSize(380, 360);
        // Customised: otherwise the window system adds its default buttons back.
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                       Qt::WindowCloseButtonHint);
        PageControl1->setCurrentWidget(TSAbout);
    }
    // Centred on the screen, not over the opener, and no larger than the screen has room for.
    Platform::CentreOnScreen(this, size());
}

bool TFormManual::ReadGuide(const QString &fileName, QByteArray &bytes)
{
    QString error;
    if (ReadGuideFile(fileName, bytes, error))
        return true;
    Platform::MessageBox(QStringLiteral("Cannot read \"%1\": %2").arg(fileName, error), ErrorCaption,
                         Platform::TMsgIcon::Error);
    return false;
}

void TFormManual::ShowTree(const TGuideTree &tree)
{
    TreeView1->clear();
    QList<QTreeWidgetItem *> topLevel;
    std::vector<QTreeWidgetItem *> items;
    items.reserve(tree.Nodes.size());
    for (const TGuideNode &node : tree.Nodes) {
        auto *item = new QTreeWidgetItem(QStringList(node.Text));
        if (node.Parent < 0)
            topLevel.append(item);
        else
            items[static_cast<size_t>(node.Parent)]->addChild(item);
        items.push_back(item);
    }
    TreeView1->addTopLevelItems(topLevel);
    TreeView1->resizeColumnToContents(0);
}

void TFormManual::AssignImages()
{
    for (QTreeWidgetItemIterator it(TreeView1); *it; ++it)
        SetImageIndex(*it, (*it)->childCount() > 0 ? ImageCollapsed : ImageLeaf);
}

int TFormManual::ImageIndex(const QTreeWidgetItem *Node)
{
    const QVariant index = Node->data(0, ImageRole);
    return index.isValid() ? index.toInt() : -1;
}

void TFormManual::SetImageIndex(QTreeWidgetItem *Node, int index)
{
    Node->setData(0, ImageRole, index);
    Node->setIcon(0, index >= 0 && index < ImageList1.size() ? ImageList1[index] : QIcon());
}

void TFormManual::FormResize()
{
    const int d = (width() - 600) / 5;
    BtnFullExpand->move(d + 20, BtnFullExpand->y());
    BtnFullCollapse->move(BtnFullExpand->x() + d + 140, BtnFullCollapse->y());
    BtnManualPrint->move(BtnFullCollapse->x() + d + 140, BtnManualPrint->y());
    BtnManualClose->move(BtnManualPrint->x() + d + 140, BtnManualClose->y());
}

void TFormManual::FormShow()
{
    if (FPage == AboutPage)
        TimerAutoClose->start();
}

void TFormManual::BtnCloseClick()
{
    close();
}

void TFormManual::TimerAutoCloseTimer()
{
    close();
}

void TFormManual::TreeView1Expanded(QTreeWidgetItem *Node)
{
    if (Node->childCount() > 0)
        SetImageIndex(Node, ImageExpanded);
}

void TFormManual::TreeView1Collapsed(QTreeWidgetItem *Node)
{
    if (Node->childCount() > 0)
        SetImageIndex(Node, ImageCollapsed);
}

void TFormManual::SetAllExpanded(bool expanded)
{
    // One pass of the view over the whole tree instead of one layout per node. The view may
    // report each node on the way; the column is measured once at the end, not for each of them.
    {
        const QScopedValueRollback<bool> bulk(FExpandingAll, true);
        if (expanded)
            TreeView1->expandAll();
        else
            TreeView1->collapseAll();
    }
    for (QTreeWidgetItemIterator it(TreeView1); *it; ++it)
        if ((*it)->childCount() > 0)
            SetImageIndex(*it, expanded ? ImageExpanded : ImageCollapsed);
    TreeView1->resizeColumnToContents(0);
}

void TFormManual::BtnFullExpandClick()
{
    SetAllExpanded(true);
}

void TFormManual::BtnFullCollapseClick()
{
    SetAllExpanded(false);
}

void TFormManual::BtnManualPrintClick()
{
    // The guide file where the window looks for one, else the built-in guide the tree then shows;
    // only a build without the built-in guide has nothing to print.
    const QString fileName = GuideFilePath();
    const bool fromFile = QFileInfo(fileName).isFile();
    QByteArray bytes = fromFile ? QByteArray() : BuiltInGuide();
    if (!fromFile && bytes.isEmpty()) {
        Platform::MessageBox(QStringLiteral("Cannot find %1 \uFF01\n\n").arg(GuideFileName),
                             QStringLiteral("System Information"), Platform::TMsgIcon::Warning);
        return;
    }
    const QString source = fromFile ? fileName : QStringLiteral("the built-in guide");
    QPrinter printer;
    // Before the dialog: a file printer proposes its file name from it.
    printer.setDocName(QStringLiteral("User's Guide"));
    if (!Platform::PrintDialog(&printer))
        return;
    if (fromFile && !ReadGuide(fileName, bytes))
        return;
    const TGuideText text = DecodeGuideText(bytes);
    QTextDocument document;
    FillPrintDocument(text.Text, document);
    document.print(&printer);
    if (printer.printerState() == QPrinter::Error) {
        Platform::MessageBox(QStringLiteral("Cannot print \"%1\" on the chosen printer.").arg(source),
                             ErrorCaption, Platform::TMsgIcon::Error);
        return;
    }
    if (text.Cut)
        ReportCut(source, FirstLines(document.blockCount()) + QStringLiteral(" printed"));
}

void TFormManual::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    FormResize();
}

void TFormManual::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) // not when the window system merely shows it again
        FormShow();
    // Measured before the window was shown, the rows were measured in a font not yet polished
    // and came out too narrow ("Funct..."): measure them again now.
    TreeView1->resizeColumnToContents(0);
}

void TFormManual::hideEvent(QHideEvent *event)
{
    // However the window closed, nothing is left to close it again later.
    TimerAutoClose->stop();
    QDialog::hideEvent(event);
}
