// The main window: a tool bar and menus (New, Open, Extract, About, Exit), the tree of the open
// transmit file on the left, and on the right the description of the selected node above the
// member table of a partitioned data set.
#pragma once

#include <QMainWindow>
#include <memory>

class QAction;
class QPlainTextEdit;
class QSplitter;
class QTableView;
class QTreeView;

namespace opxwin {

class OpxFileTreeNode;
class XmitFileTreeNode;
class XmitTreeModel;

class OpxFrame : public QMainWindow {
    Q_OBJECT
  public:
    explicit OpxFrame(QWidget* parent = nullptr);
    ~OpxFrame() override;

    void handleFileNew();
    void handleFileOpen(bool initial);
    // Opens a transmit file from a folder and a name (or the name alone); false after showing
    // the "Open Failed" box.
    bool openXmitFile(const QString& dir, const QString& name);
    void handleExtract();
    void handleAbout();
    void selectNode(OpxFileTreeNode* node);
    void exitApplication();

    // The message shown in the "Open Failed" box for a failure text: trimmed, and when its
    // first blank lies after position 20, that blank becomes a line break.
    static QString openFailedText(const QString& message);

    QTreeView* tree() const { return tree_; }
    QPlainTextEdit* description() const { return description_; }
    QTableView* table() const { return table_; }
    QSplitter* mainSplitter() const { return split_; }
    QSplitter* rightSplitter() const { return rightSplit_; }
    XmitTreeModel* treeModel() const { return model_.get(); }
    XmitFileTreeNode* root() const { return root_.get(); }
    OpxFileTreeNode* selectedNode() const { return selected_; }
    // The indices of the selected table rows in ascending order.
    QList<int> selectedRows() const;
    QAction* newAction() const { return new_; }
    QAction* openAction() const { return open_; }
    QAction* extractAction() const { return extract_; }
    QAction* aboutAction() const { return about_; }
    QAction* exitAction() const { return exit_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // Runs the build wizard for a new transmit file; true when the file was created.
    bool runBuildWizard(const QString& dir, const QString& name);
    void discardRoot();
    void onTreeSelection();
    // Both dividers at 0.35 of their range.
    void placeDividers();

    QAction* new_;
    QAction* open_;
    QAction* extract_;
    QAction* about_;
    QAction* exit_;
    QSplitter* split_;
    QSplitter* rightSplit_;
    QTreeView* tree_;
    QPlainTextEdit* description_;
    QTableView* table_;
    std::unique_ptr<XmitFileTreeNode> root_;
    std::unique_ptr<XmitTreeModel> model_;
    OpxFileTreeNode* selected_ = nullptr;
    bool opened_ = false;
};

} // namespace opxwin
