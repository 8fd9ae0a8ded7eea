// A user's backup records, grouped by backup name: the groups in the order
// of their newest record, the records newest first (the web API's order, kept
// as they arrive page by page). Texts from the server are shown escaped.
#ifndef NIMBRA_DESKTOP_RECORDSMODEL_H
#define NIMBRA_DESKTOP_RECORDSMODEL_H

#include <QAbstractItemModel>
#include <memory>
#include <vector>

#include "Nimbra/Nimbra.h"

namespace desktop {

class RecordsModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { When, File, Size, Expires, Path, ColumnCount };

    explicit RecordsModel(QObject* parent = nullptr);
    ~RecordsModel() override;

    void clear();
    void append(const _ST_UserInfo& record);
    int recordCount() const { return m_count; }
    // The records at `indexes`: a group's row stands for all of its records.
    std::vector<_ST_UserInfo> recordsAt(const QModelIndexList& indexes) const;

    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Group {
        QString name;
        std::vector<_ST_UserInfo> records;
        long long bytes = 0;
    };
    QVariant groupData(const Group& group, int column, int role) const;
    QVariant recordData(const _ST_UserInfo& record, int column, int role) const;

    std::vector<std::unique_ptr<Group>> m_groups;
    int m_count = 0;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_RECORDSMODEL_H
