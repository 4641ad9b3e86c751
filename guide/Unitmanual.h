#pragma once
// TFormManual: the modal window with the user's guide (page 1: an expandable tree, printable)
// and the About page (page 2, which closes itself after a while). The opener creates it for
// one page, shows it modally and destroys it when it returns.

#include <QDialog>
#include <QIcon>
#include <QVector>
#include <cstdint>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
struct TGuideTree;

class TFormManual : public QDialog {
    Q_OBJECT
public:
    static constexpr int GuidePage = 1;
    static constexpr int AboutPage = 2;
    // Node images: a collapsed parent, an expanded parent, a node without children.
    static constexpr int ImageCollapsed = 0;
    static constexpr int ImageExpanded = 1;
    static constexpr int ImageLeaf = 2;

    // AOwner: none for a window owned by the application. page: GuidePage or AboutPage.
    TFormManual(QWidget *AOwner, const QString &caption, int page);

    void FormCreate();
    void FormResize();
    void FormShow();
    void BtnCloseClick();
    void BtnManualPrintClick();
    void TreeView1Expanded(QTreeWidgetItem *Node);
    void TreeView1Collapsed(QTreeWidgetItem *Node);
    void BtnFullExpandClick();
    void BtnFullCollapseClick();
    void TimerAutoCloseTimer();

    // Find: Ctrl+F opens the find box; Enter or F3 goes to the next node whose text holds every
    // word of the box (any case), Shift+F3 to the one before, round the whole tree.
    void FindShow();
    // Selects (and shows, its parents expanded) the next node that matches, from the selected
    // one on; false, and "Not found" beside the box, when none does.
    bool FindNext(bool forward);

    // The image a node shows (the same when selected); -1 when none was assigned.
    static int ImageIndex(const QTreeWidgetItem *Node);
    void SetImageIndex(QTreeWidgetItem *Node, int index);

    QString FGuideFileName; // the guide file once page 1 is set up; empty otherwise
    int32_t FPage = 0;

    QTabWidget *PageControl1 = nullptr;
    QWidget *TSManual = nullptr, *TSAbout = nullptr;
    QTreeWidget *TreeView1 = nullptr;
    QFrame *Panel1 = nullptr, *Panel2 = nullptr;
    QPushButton *BtnFullExpand = nullptr, *BtnFullCollapse = nullptr, *BtnManualPrint = nullptr,
                *BtnManualClose = nullptr, *BtnAboutClose = nullptr;
    QLabel *ImageLogo = nullptr, *LabelTitleOne = nullptr, *LabelVersion = nullptr, *LabelYear = nullptr,
           *LabelECompany = nullptr;
    QTimer *TimerAutoClose = nullptr;
    QFrame *PanelFind = nullptr; // the find box, hidden until Ctrl+F
    QLineEdit *EditFind = nullptr;
    QLabel *LabelFind = nullptr, *LabelFindResult = nullptr;
    QVector<QIcon> ImageList1;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void CreateManualPage();
    void CreateAboutPage();
    void CreateFindBox();
    void ShowTree(const TGuideTree &tree);
    // Reads a guide file; false, after telling the operator why, when it cannot be read.
    bool ReadGuide(const QString &fileName, QByteArray &bytes);
    void AssignImages();
    void SetAllExpanded(bool expanded);

    bool FExpandingAll = false;
};
