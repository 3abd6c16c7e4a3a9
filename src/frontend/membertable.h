// The member table of a partitioned data set: one read-only row per member, with the columns
// of a load library or of any other library.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

#include "xmitfile.h"

class QFontMetrics;

namespace opxwin {

class MemberTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    MemberTableModel(const std::vector<SourceMember>* members, bool loadLibrary,
                     QObject* parent = nullptr);

    bool isLoadLibrary() const { return loadLibrary_; }
    QStringList headings() const;
    // The widest value each column is sized for.
    QStringList samples() const;
    // Each column's width: the wider of its heading and its sample in the given font, plus a
    // margin.
    QList<int> columnWidths(const QFontMetrics& metrics) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The text of a cell.
    QString cell(int row, int column) const;

  private:
    const std::vector<SourceMember>* members_;
    bool loadLibrary_;
};

} // namespace opxwin
