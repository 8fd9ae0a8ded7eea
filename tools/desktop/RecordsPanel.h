// The Backups tab: the user's records grouped by backup name, the backup
// name and expiry new backups get, and the buttons that back up, restore and
// refresh.
#ifndef NIMBRA_DESKTOP_RECORDSPANEL_H
#define NIMBRA_DESKTOP_RECORDSPANEL_H

#include <QWidget>
#include <vector>

#include "Nimbra/Nimbra.h"

class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeView;

namespace desktop {

class EmptyState;
class RecordsModel;

class RecordsPanel : public QWidget {
    Q_OBJECT
public:
    explicit RecordsPanel(RecordsModel& model, QWidget* parent = nullptr);

    QString backupName() const;
    int expireDays() const;
    std::vector<_ST_UserInfo> selectedRecords() const;
    // What the empty list says: no user yet, loading, none, a failure.
    void setEmptyText(const QString& text);

    QTreeView* view() const { return m_view; }
    QLineEdit* backupNameField() const { return m_backupName; }
    QPushButton* backUpButton() const { return m_backUp; }
    QPushButton* restoreButton() const { return m_restore; }
    QPushButton* refreshButton() const { return m_refresh; }
    EmptyState* emptyState() const { return m_empty; }

private:
    RecordsModel& m_model;
    QTreeView* m_view;
    EmptyState* m_empty;
    QLineEdit* m_backupName;
    QSpinBox* m_expire;
    QPushButton* m_backUp;
    QPushButton* m_restore;
    QPushButton* m_refresh;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_RECORDSPANEL_H
