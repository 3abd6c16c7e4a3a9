#include "membertable.h"

#include <QFontMetrics>

namespace opxwin {

namespace {

const char* const kLoadHeadings[] = {"Member", "Alias Of", "Size", "Entry",
                                     "AMODE",  "RMODE",    "AC",   "Attributes"};
const char* const kLoadSamples[] = {"WWWWWWWW", "WWWWWWWW", "000000", "000000",
                                    "ANY",      "ANY",      "000",    "WWWWWWWWWWWWWWWWWWWWWWW"};
const char* const kHeadings[] = {"Member",  "Alias Of",     "Ver.Mod",
                                 "Created", "Last Changed", "User"};
const char* const kSamples[] = {"WWWWWWWW",   "WWWWWWWW",         "000.000",
                                "2000/00/00", "2000/00/00-00:00", "WWWWWWWW"};

// Space between the text and the column's edges.
constexpr int kMargin = 16;

QStringList list(const char* const* texts, int count) {
    QStringList l;
    for (int i = 0; i < count; ++i) l << QString::fromLatin1(texts[i]);
    return l;
}

} // namespace

MemberTableModel::MemberTableModel(const std::vector<SourceMember>* members, bool loadLibrary,
                                   QObject* parent)
    : QAbstractTableModel(parent), members_(members), loadLibrary_(loadLibrary) {}

QStringList MemberTableModel::headings() const {
    return loadLibrary_ ? list(kLoadHeadings, 8) : list(kHeadings, 6);
}

QStringList MemberTableModel::samples() const {
    return loadLibrary_ ? list(kLoadSamples, 8) : list(kSamples, 6);
}

QList<int> MemberTableModel::columnWidths(const QFontMetrics& metrics) const {
    const QStringList h = headings();
    const QStringList s = samples();
    QList<int> widths;
    for (int i = 0; i < h.size(); ++i)
        widths << std::max(metrics.horizontalAdvance(h.at(i)), metrics.horizontalAdvance(s.at(i))) +
                      kMargin;
    return widths;
}

int MemberTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || members_ == nullptr ? 0 : static_cast<int>(members_->size());
}

int MemberTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : (loadLibrary_ ? 8 : 6);
}

QString MemberTableModel::cell(int row, int column) const {
    if (members_ == nullptr || row < 0 || row >= static_cast<int>(members_->size()))
        return QString();
    const SourceMember& m = (*members_)[static_cast<size_t>(row)];
    if (!m.hasDirEntry()) {
        // The bridge had no line for this member: its number alone.
        return column == 0 ? QStringLiteral("#%1").arg(m.iMemberNumber) : QString();
    }
    if (column == 0) return m.sMemberName;
    if (column == 1) return m.sAliasOf;
    if (loadLibrary_) {
        switch (column) {
        case 2:
            return m.moduleSizeText();
        case 3:
            return m.moduleEntryText();
        case 4:
            return m.moduleAmode();
        case 5:
            return m.moduleRmode();
        case 6:
            return m.moduleACText();
        case 7:
            return m.moduleAttrs();
        default:
            return QString();
        }
    }
    switch (column) {
    case 2:
        return m.ispfVerMod();
    case 3:
        return m.ispfCreated();
    case 4:
        return m.ispfChanged();
    case 5:
        return m.ispfUser();
    default:
        return QString();
    }
}

QVariant MemberTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return QVariant();
    if (role == Qt::DisplayRole) return cell(index.row(), index.column());
    if (role == Qt::TextAlignmentRole && loadLibrary_ && index.column() >= 2 && index.column() <= 6)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return QVariant();
}

QVariant MemberTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return QVariant();
    if (orientation == Qt::Horizontal) return headings().value(section);
    return section + 1;
}

Qt::ItemFlags MemberTableModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace opxwin
