#include "RecordsModel.h"

#include <QFont>
#include <set>

#include "Text.h"
#include "hostkit/Format.h"
#include "hostkit/Records.h"

namespace desktop {
namespace {

template <size_t N>
QString field(const char (&text)[N]) {
    return shown(hostkit::FieldText(text));
}

// Group rows have no parent; a record's internal id is its group's row + 1.
constexpr quintptr kGroupRow = 0;

}  // namespace

RecordsModel::RecordsModel(QObject* parent) : QAbstractItemModel(parent) {}

RecordsModel::~RecordsModel() = default;

void RecordsModel::clear() {
    beginResetModel();
    m_groups.clear();
    m_count = 0;
    endResetModel();
}

void RecordsModel::append(const _ST_UserInfo& record) {
    const QString name = field(record.szBackupName);
    int at = 0;
    while (at < static_cast<int>(m_groups.size()) && m_groups[at]->name != name) ++at;
    if (at == static_cast<int>(m_groups.size())) {
        beginInsertRows(QModelIndex(), at, at);
        m_groups.push_back(std::make_unique<Group>());
        m_groups.back()->name = name;
        endInsertRows();
    }
    Group& group = *m_groups[at];
    const int row = static_cast<int>(group.records.size());
    beginInsertRows(index(at, 0), row, row);
    group.records.push_back(record);
    group.bytes += record.llFileSize;
    ++m_count;
    endInsertRows();
    emit dataChanged(index(at, 0), index(at, ColumnCount - 1));
}

std::vector<_ST_UserInfo> RecordsModel::recordsAt(const QModelIndexList& indexes) const {
    std::set<std::pair<int, int>> chosen;  // (group, record); -1: all of the group
    for (const QModelIndex& i : indexes) {
        if (!i.isValid()) continue;
        if (i.internalId() == kGroupRow) {
            chosen.insert({i.row(), -1});
        } else {
            chosen.insert({static_cast<int>(i.internalId()) - 1, i.row()});
        }
    }
    std::vector<_ST_UserInfo> records;
    for (const auto& [group, record] : chosen) {
        const auto& all = m_groups[group]->records;
        if (record >= 0 && chosen.count({group, -1}) != 0) continue;  // the whole group counts
        if (record < 0) {
            records.insert(records.end(), all.begin(), all.end());
        } else {
            records.push_back(all[record]);
        }
    }
    return records;
}

QModelIndex RecordsModel::index(int row, int column, const QModelIndex& parent) const {
    if (!hasIndex(row, column, parent)) return QModelIndex();
    if (!parent.isValid()) return createIndex(row, column, kGroupRow);
    return createIndex(row, column, static_cast<quintptr>(parent.row() + 1));
}

QModelIndex RecordsModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == kGroupRow) return QModelIndex();
    return createIndex(static_cast<int>(child.internalId()) - 1, 0, kGroupRow);
}

int RecordsModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return static_cast<int>(m_groups.size());
    if (parent.internalId() != kGroupRow || parent.column() != 0) return 0;
    return static_cast<int>(m_groups[parent.row()]->records.size());
}

int RecordsModel::columnCount(const QModelIndex&) const {
    return ColumnCount;
}

QVariant RecordsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return QVariant();
    if (index.internalId() == kGroupRow)
        return groupData(*m_groups[index.row()], index.column(), role);
    const Group& group = *m_groups[index.internalId() - 1];
    return recordData(group.records[index.row()], index.column(), role);
}

QVariant RecordsModel::groupData(const Group& group, int column, int role) const {
    if (role == Qt::FontRole) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (role != Qt::DisplayRole) return QVariant();
    const int files = static_cast<int>(group.records.size());
    switch (column) {
        case When:
            return group.name.isEmpty() ? tr("(no name)") : group.name;
        case File:
            return files == 1 ? tr("1 file") : tr("%1 files").arg(files);
        case Size:
            return qtext(hostkit::FormatBytes(group.bytes));
        default:
            return QVariant();
    }
}

QVariant RecordsModel::recordData(const _ST_UserInfo& record, int column, int role) const {
    if (role == Qt::ToolTipRole) return shown(hostkit::DescribeRecord(record));
    if (role == Qt::TextAlignmentRole && column == Size)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return QVariant();
    switch (column) {
        case When:
            return field(record.szDateTime);
        case File:
            return field(record.szFileName);
        case Size:
            return qtext(hostkit::FormatBytes(record.llFileSize));
        case Expires:
            return record.llExpireTime == 0
                       ? tr("never")
                       : qtext(hostkit::FormatLocalTime(static_cast<time_t>(record.llExpireTime)));
        case Path:
            return field(record.szFilePath);
        default:
            return QVariant();
    }
}

QVariant RecordsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const kTitles[ColumnCount] = {QT_TR_NOOP("Backup / date"),
                                                     QT_TR_NOOP("File"), QT_TR_NOOP("Size"),
                                                     QT_TR_NOOP("Expires"), QT_TR_NOOP("Path")};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
    return section >= 0 && section < ColumnCount ? tr(kTitles[section]) : QVariant();
}

}  // namespace desktop
