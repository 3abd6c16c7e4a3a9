#include "filetree.h"

#include <QApplication>
#include <QStyle>

#include "connections.h"

namespace opxwin {

// ---- SourceFileTreeNode ---------------------------------------------------------------------

SourceFileTreeNode::SourceFileTreeNode(SourceFile* file) : file_(file) {
    if (file->iMembers > 0 && file->xmitFile->opxConn != nullptr) {
        OpxConnection* c = file->xmitFile->opxConn;
        members_.reserve(static_cast<size_t>(file->iMembers));
        for (int i = 0; i < file->iMembers; ++i)
            members_.emplace_back(file, i, c->getDe(file->xmitFile->lHandle, file->iFileNumber, i));
        table_ = std::make_unique<MemberTableModel>(&members_, file->bIsLoadLib);
    }
}

QString SourceFileTreeNode::getFileDescription() const {
    const SourceFile* f = file_;
    if (f->isMessage()) return f->sMessage;
    QString org;
    if (f->bIsSequential)
        org = QStringLiteral("Sequential");
    else if (f->isPds()) {
        org = QStringLiteral("PDS");
        if (!f->bIsExtractable) org += QLatin1Char('E');
        if (f->bIsLoadLib) org += QStringLiteral(" (Load Library)");
    } else
        org = QStringLiteral("Unknown");
    QString text;
    if (!f->sDsName.isEmpty())
        text = QStringLiteral("Data Set Name: ") + f->sDsName + QLatin1Char('\n');
    text += QStringLiteral("Data Set Org.: ") + org;
    if (!f->sRecfm.isEmpty()) text += QStringLiteral("\nRECFM:         ") + f->sRecfm;
    if (f->iBlksize > 0) text += QStringLiteral("\nBLKSIZE:       ") + QString::number(f->iBlksize);
    if (f->iLrecl > 0) text += QStringLiteral("\nLRECL:         ") + QString::number(f->iLrecl);
    if (f->isPds() && f->bIsExtractable)
        text += QStringLiteral("\nMembers:       ") + QString::number(f->iMembers);
    return text;
}

bool SourceFileTreeNode::isExtractable() const {
    return file_->bIsExtractable && (!file_->isPds() || file_->iMembers >= 1);
}

QString SourceFileTreeNode::getUnextractableReason() const {
    if (file_->bIsEncrypted) return QStringLiteral("Data set is encrypted.");
    if (file_->isMessage()) return QStringLiteral("Please select a data set.");
    if (file_->isPds() && !file_->bIsExtractable)
        return QStringLiteral("Extract of PDSE is not supported.");
    if (file_->isPds() && file_->iMembers < 1) return QStringLiteral("The PDS is empty.");
    return QStringLiteral("Unknown data set organization.");
}

// ---- XmitFileTreeNode -----------------------------------------------------------------------

XmitFileTreeNode::XmitFileTreeNode(std::unique_ptr<XmitFile> file) : file_(std::move(file)) {
    for (auto& f : file_->sourceFiles)
        if (f) children_.push_back(std::make_unique<SourceFileTreeNode>(f.get()));
}

QString XmitFileTreeNode::getFileDescription() const {
    QString text = QStringLiteral("Path Name: ") + file_->sPathName;
    if (file_->dateExported.isValid())
        text += QStringLiteral("\nExported:  ") +
                file_->dateExported.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    if (!file_->sNodeOrigin.isEmpty()) text += QStringLiteral("\nFrom Node: ") + file_->sNodeOrigin;
    if (!file_->sUserOrigin.isEmpty()) text += QStringLiteral("\nFrom User: ") + file_->sUserOrigin;
    return text;
}

int XmitFileTreeNode::rowOf(const SourceFileTreeNode* node) const {
    for (size_t i = 0; i < children_.size(); ++i)
        if (children_[i].get() == node) return static_cast<int>(i);
    return -1;
}

// ---- XmitTreeModel --------------------------------------------------------------------------

XmitTreeModel::XmitTreeModel(XmitFileTreeNode* root, QObject* parent)
    : QAbstractItemModel(parent), root_(root) {}

OpxFileTreeNode* XmitTreeModel::nodeAt(const QModelIndex& index) const {
    if (!index.isValid()) return nullptr;
    return static_cast<OpxFileTreeNode*>(index.internalPointer());
}

QModelIndex XmitTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (root_ == nullptr || column != 0 || row < 0) return QModelIndex();
    if (!parent.isValid())
        return row == 0 ? createIndex(0, 0, static_cast<OpxFileTreeNode*>(root_)) : QModelIndex();
    if (nodeAt(parent) != root_ || row >= root_->childCount()) return QModelIndex();
    return createIndex(row, 0, static_cast<OpxFileTreeNode*>(root_->child(row)));
}

QModelIndex XmitTreeModel::parent(const QModelIndex& child) const {
    OpxFileTreeNode* node = nodeAt(child);
    if (node == nullptr || node == root_) return QModelIndex();
    return rootIndex();
}

int XmitTreeModel::rowCount(const QModelIndex& parent) const {
    if (root_ == nullptr) return 0;
    if (!parent.isValid()) return 1;
    return nodeAt(parent) == root_ ? root_->childCount() : 0;
}

int XmitTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant XmitTreeModel::data(const QModelIndex& index, int role) const {
    OpxFileTreeNode* node = nodeAt(index);
    if (node == nullptr) return QVariant();
    if (role == Qt::DisplayRole) return node->label();
    if (role == Qt::DecorationRole) {
        // The style's own pictures: no icon theme needed.
        const QStyle* s = QApplication::style();
        if (node == root_) return s->standardIcon(QStyle::SP_DriveHDIcon);
        return s->standardIcon(node->getSourceMembers() ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
    }
    if (role == Qt::ToolTipRole && !node->isExtractable() && node != root_)
        return node->getUnextractableReason();
    return QVariant();
}

} // namespace opxwin
