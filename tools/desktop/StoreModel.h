// The store as a tree, one folder level listed per expand (ListRemotePath as
// a job of the queue): each page is shown as it arrives, folders first, and
// a folder's listing is stopped when it is collapsed (or cancelled while it
// waits its turn) and listed anew on the next expand.
#ifndef NIMBRA_DESKTOP_STOREMODEL_H
#define NIMBRA_DESKTOP_STOREMODEL_H

#include <QAbstractItemModel>
#include <memory>
#include <vector>

#include "JobQueue.h"

namespace desktop {

class StoreModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { Name, Size, Modified, ColumnCount };
    enum class Listing { NotListed, Waiting, Listing, Listed, Stopped, Failed };
    // The object key (files) or listing prefix (folders) under this role.
    static constexpr int KeyRole = Qt::UserRole + 1;
    static constexpr int SizeRole = Qt::UserRole + 2;    // bytes, qint64
    static constexpr int FolderRole = Qt::UserRole + 3;  // bool

    explicit StoreModel(JobQueue& jobs, QObject* parent = nullptr);
    ~StoreModel() override;

    // Forgets everything and lists the top level again.
    void reload();
    // Stops the listing of the folder at `index` (the root when invalid).
    void stopListing(const QModelIndex& index);
    // Stops every listing (the window closes).
    void stopAll();
    // Lists the folder of `index` (the root when invalid) anew.
    void relist(const QModelIndex& index);
    Listing listing(const QModelIndex& index) const;
    QModelIndex indexOfPrefix(const QString& prefix) const;

    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    // A folder's listing ended (`ok` false: it failed; `text` says why).
    void listingEnded(const QString& prefix, bool ok, const QString& text);

private:
    struct Node;
    Node* nodeOf(const QModelIndex& index) const;
    QModelIndex indexOf(const Node* node, int column = 0) const;
    void list(Node* node);
    void addPage(Node* node, const std::vector<hostkit::ListEntry>& page);
    void finishListing(Node* node, const hostkit::JobOutcome& outcome,
                       const std::vector<hostkit::LibraryLine>& lines);
    void stop(Node* node);
    void clearChildren(Node* node);

    JobQueue& m_jobs;
    std::unique_ptr<Node> m_root;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_STOREMODEL_H
