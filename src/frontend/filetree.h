// The tree of an opened transmit file: the file itself as the one visible root, and one leaf
// per data set. Each node describes itself for the description pane, says whether it can be
// extracted (and why not), and a data set node holds its members and their table.
#pragma once

#include <QAbstractItemModel>
#include <memory>
#include <vector>

#include "membertable.h"
#include "xmitfile.h"

namespace opxwin {

class OpxFileTreeNode {
  public:
    virtual ~OpxFileTreeNode() = default;
    virtual QString label() const = 0;
    virtual QString getFileDescription() const = 0;
    virtual QString getUnextractableReason() const = 0;
    virtual bool isExtractable() const = 0;
    virtual XmitFile* getXmitFile() const = 0;
    virtual SourceFile* getSourceFile() const = 0;
    virtual std::vector<SourceMember>* getSourceMembers() = 0;
    virtual MemberTableModel* getTableModel() = 0;
};

class SourceFileTreeNode : public OpxFileTreeNode {
  public:
    // Builds the members from the bridge's directory lines at once.
    explicit SourceFileTreeNode(SourceFile* file);

    QString label() const override { return file_->toString(); }
    QString getFileDescription() const override;
    QString getUnextractableReason() const override;
    bool isExtractable() const override;
    XmitFile* getXmitFile() const override { return file_->xmitFile; }
    SourceFile* getSourceFile() const override { return file_; }
    std::vector<SourceMember>* getSourceMembers() override {
        return members_.empty() ? nullptr : &members_;
    }
    MemberTableModel* getTableModel() override { return table_.get(); }

  private:
    SourceFile* file_;
    std::vector<SourceMember> members_;
    std::unique_ptr<MemberTableModel> table_;
};

class XmitFileTreeNode : public OpxFileTreeNode {
  public:
    // The root takes the file over; discarding the root closes the file.
    explicit XmitFileTreeNode(std::unique_ptr<XmitFile> file);

    QString label() const override { return file_->name(); }
    QString getFileDescription() const override;
    QString getUnextractableReason() const override {
        return QStringLiteral("Please select a data set.");
    }
    bool isExtractable() const override { return false; }
    XmitFile* getXmitFile() const override { return file_.get(); }
    SourceFile* getSourceFile() const override { return nullptr; }
    std::vector<SourceMember>* getSourceMembers() override { return nullptr; }
    MemberTableModel* getTableModel() override { return nullptr; }

    int childCount() const { return static_cast<int>(children_.size()); }
    SourceFileTreeNode* child(int row) const {
        return children_.at(static_cast<size_t>(row)).get();
    }
    int rowOf(const SourceFileTreeNode* node) const;

  private:
    std::unique_ptr<XmitFile> file_;
    std::vector<std::unique_ptr<SourceFileTreeNode>> children_;
};

// The model of the tree view: one top-level row, the file, whose children are the data sets.
class XmitTreeModel : public QAbstractItemModel {
    Q_OBJECT
  public:
    explicit XmitTreeModel(XmitFileTreeNode* root, QObject* parent = nullptr);

    OpxFileTreeNode* nodeAt(const QModelIndex& index) const;
    QModelIndex rootIndex() const { return index(0, 0); }

    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

  private:
    XmitFileTreeNode* root_;
};

} // namespace opxwin
