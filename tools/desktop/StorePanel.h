// The Store tab: the bucket as a tree, one level listed per expand, with
// Download, Delete and Refresh. Collapsing a folder stops its listing.
#ifndef NIMBRA_DESKTOP_STOREPANEL_H
#define NIMBRA_DESKTOP_STOREPANEL_H

#include <QWidget>

class QPushButton;
class QTreeView;

namespace desktop {

class EmptyState;
class StoreModel;

class StorePanel : public QWidget {
    Q_OBJECT
public:
    explicit StorePanel(StoreModel& model, QWidget* parent = nullptr);

    // The objects (not folders) selected: key and size.
    QList<QPair<QString, qint64>> selectedObjects() const;
    QTreeView* view() const { return m_view; }
    QPushButton* downloadButton() const { return m_download; }
    QPushButton* deleteButton() const { return m_delete; }
    EmptyState* emptyState() const { return m_empty; }

signals:
    void downloadRequested();
    void deleteRequested();

private:
    void updateControls();

    QTreeView* m_view;
    EmptyState* m_empty;
    QPushButton* m_download;
    QPushButton* m_delete;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_STOREPANEL_H
