#include "StoreModel.h"

#include <QLocale>

#include "Text.h"
#include "hostkit/Format.h"

namespace desktop {

struct StoreModel::Node {
    Node* parent = nullptr;
    bool folder = true;
    std::string name;  // relative to the parent's prefix
    std::string path;  // the object key, or the folder's prefix ("/" at the top)
    long long size = 0;
    time_t modified = 0;
    std::vector<std::unique_ptr<Node>> children;
    int folders = 0;  // the first children are the folders
    Listing listing = Listing::NotListed;
    JobId job = 0;
    quint64 generation = 0;  // of its latest listing; older ones' pages are dropped
    // Gone with the node: a listing's handlers look at it before using the node.
    std::shared_ptr<int> alive = std::make_shared<int>(0);
};

StoreModel::StoreModel(JobQueue& jobs, QObject* parent) : QAbstractItemModel(parent), m_jobs(jobs) {
    m_root = std::make_unique<Node>();
    m_root->path = "/";
}

StoreModel::~StoreModel() = default;

void StoreModel::reload() {
    stop(m_root.get());
    beginResetModel();
    m_root = std::make_unique<Node>();
    m_root->path = "/";
    endResetModel();
    list(m_root.get());
}

void StoreModel::relist(const QModelIndex& index) {
    Node* node = nodeOf(index);
    if (!node->folder) node = node->parent;
    stop(node);
    list(node);
}

void StoreModel::stopListing(const QModelIndex& index) {
    stop(nodeOf(index));
}

void StoreModel::stopAll() {
    stop(m_root.get());
}

StoreModel::Listing StoreModel::listing(const QModelIndex& index) const {
    return nodeOf(index)->listing;
}

QModelIndex StoreModel::indexOfPrefix(const QString& prefix) const {
    const std::string wanted = prefix.toStdString();
    const Node* node = m_root.get();
    while (node->path != wanted) {
        const Node* next = nullptr;
        for (const auto& child : node->children) {
            if (child->folder && wanted.compare(0, child->path.size(), child->path) == 0)
                next = child.get();
        }
        if (next == nullptr) return QModelIndex();
        node = next;
    }
    return indexOf(node);
}

void StoreModel::stop(Node* node) {
    // The folders below first: a collapsed folder's open subfolders go too.
    for (const auto& child : node->children) {
        if (child->folder) stop(child.get());
    }
    if (node->listing != Listing::Waiting && node->listing != Listing::Listing) return;
    if (!m_jobs.cancel(node->job)) m_jobs.stop(node->job);
}

void StoreModel::clearChildren(Node* node) {
    if (node->children.empty()) return;
    const QModelIndex parent = indexOf(node);
    beginRemoveRows(parent, 0, static_cast<int>(node->children.size()) - 1);
    node->children.clear();
    node->folders = 0;
    endRemoveRows();
}

void StoreModel::list(Node* node) {
    clearChildren(node);
    node->listing = Listing::Waiting;
    const quint64 generation = ++node->generation;
    const std::weak_ptr<int> alive = node->alive;
    auto current = [node, alive, generation] {
        return !alive.expired() && node->generation == generation;
    };
    JobHandlers handlers;
    handlers.started = [this, node, current] {
        if (!current()) return;
        node->listing = Listing::Listing;
        const QModelIndex at = indexOf(node, Size);
        emit dataChanged(at, at);
    };
    handlers.page = [this, node, current](const std::vector<hostkit::ListEntry>& page) {
        if (current()) addPage(node, page);
    };
    handlers.finished = [this, node, current](const hostkit::JobOutcome& outcome,
                                              const std::vector<hostkit::LibraryLine>& lines) {
        if (current()) finishListing(node, outcome, lines);
    };
    node->job = m_jobs.list(qtext(node->path), std::move(handlers));
    const QModelIndex at = indexOf(node, Size);
    emit dataChanged(at, at);
}

void StoreModel::addPage(Node* node, const std::vector<hostkit::ListEntry>& page) {
    std::vector<std::unique_ptr<Node>> folders, files;
    for (const hostkit::ListEntry& entry : page) {
        auto child = std::make_unique<Node>();
        child->parent = node;
        child->folder = entry.folder;
        child->name = entry.name;
        child->size = entry.size;
        child->modified = entry.modified;
        const std::string base = node->path == "/" ? "" : node->path;
        child->path = base + entry.name + (entry.folder ? "/" : "");
        (entry.folder ? folders : files).push_back(std::move(child));
    }
    const QModelIndex parent = indexOf(node);
    if (!folders.empty()) {
        const int at = node->folders;
        beginInsertRows(parent, at, at + static_cast<int>(folders.size()) - 1);
        node->children.insert(node->children.begin() + at, std::make_move_iterator(folders.begin()),
                              std::make_move_iterator(folders.end()));
        node->folders += static_cast<int>(folders.size());
        endInsertRows();
    }
    if (!files.empty()) {
        const int at = static_cast<int>(node->children.size());
        beginInsertRows(parent, at, at + static_cast<int>(files.size()) - 1);
        node->children.insert(node->children.end(), std::make_move_iterator(files.begin()),
                              std::make_move_iterator(files.end()));
        endInsertRows();
    }
    const QModelIndex at = indexOf(node, Size);
    emit dataChanged(at, at);
}

void StoreModel::finishListing(Node* node, const hostkit::JobOutcome& outcome,
                               const std::vector<hostkit::LibraryLine>& lines) {
    using End = hostkit::JobOutcome::End;
    node->listing = outcome.end == End::kDone     ? Listing::Listed
                    : outcome.end == End::kFailed ? Listing::Failed
                                                  : Listing::Stopped;
    node->job = 0;
    QString why;
    if (node->listing == Listing::Failed)
        why =
            shown(hostkit::ExplainFailure("cannot list " + node->path, lines, outcome.result).text);
    const QModelIndex at = indexOf(node, Size);
    emit dataChanged(at, at);
    emit listingEnded(qtext(node->path), node->listing != Listing::Failed, why);
}

StoreModel::Node* StoreModel::nodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : m_root.get();
}

QModelIndex StoreModel::indexOf(const Node* node, int column) const {
    if (node == nullptr || node == m_root.get()) return QModelIndex();
    const auto& siblings = node->parent->children;
    for (size_t row = 0; row < siblings.size(); ++row) {
        if (siblings[row].get() == node)
            return createIndex(static_cast<int>(row), column, const_cast<Node*>(node));
    }
    return QModelIndex();
}

QModelIndex StoreModel::index(int row, int column, const QModelIndex& parent) const {
    if (!hasIndex(row, column, parent)) return QModelIndex();
    return createIndex(row, column, nodeOf(parent)->children[row].get());
}

QModelIndex StoreModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) return QModelIndex();
    return indexOf(nodeOf(child)->parent);
}

int StoreModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    return static_cast<int>(nodeOf(parent)->children.size());
}

int StoreModel::columnCount(const QModelIndex&) const {
    return ColumnCount;
}

bool StoreModel::hasChildren(const QModelIndex& parent) const {
    const Node* node = nodeOf(parent);
    if (!node->folder || parent.column() > 0) return false;
    return node->listing != Listing::Listed || !node->children.empty();
}

bool StoreModel::canFetchMore(const QModelIndex& parent) const {
    const Node* node = nodeOf(parent);
    if (!node->folder || !parent.isValid()) return false;  // the top level is listed by reload
    return node->listing == Listing::NotListed || node->listing == Listing::Stopped ||
           node->listing == Listing::Failed;
}

void StoreModel::fetchMore(const QModelIndex& parent) {
    if (canFetchMore(parent)) list(nodeOf(parent));
}

QVariant StoreModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return QVariant();
    const Node& node = *nodeOf(index);
    if (role == KeyRole) return qtext(node.path);
    if (role == SizeRole) return static_cast<qint64>(node.size);
    if (role == FolderRole) return node.folder;
    if (role == Qt::TextAlignmentRole && index.column() == Size)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return QVariant();
    const int count = static_cast<int>(node.children.size());
    switch (index.column()) {
        case Name:
            return shown(node.name) + (node.folder ? "/" : "");
        case Size:
            if (!node.folder) return qtext(hostkit::FormatBytes(node.size));
            switch (node.listing) {
                case Listing::NotListed:
                    return QString();
                case Listing::Waiting:
                    return tr("waiting to list");
                case Listing::Listing:
                    return tr("listing… %1").arg(QLocale().toString(count));
                case Listing::Listed:
                    return count == 1 ? tr("1 item")
                                      : tr("%1 items").arg(QLocale().toString(count));
                case Listing::Stopped:
                    return tr("stopped at %1").arg(QLocale().toString(count));
                case Listing::Failed:
                    return tr("listing failed");
            }
            return QString();
        case Modified:
            return node.folder ? QString() : qtext(hostkit::FormatLocalTime(node.modified));
        default:
            return QVariant();
    }
}

QVariant StoreModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const kTitles[ColumnCount] = {QT_TR_NOOP("Name"), QT_TR_NOOP("Size"),
                                                     QT_TR_NOOP("Modified")};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
    return section >= 0 && section < ColumnCount ? tr(kTitles[section]) : QVariant();
}

}  // namespace desktop
