#include "StorePanel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "EmptyState.h"
#include "StoreModel.h"

namespace desktop {

StorePanel::StorePanel(StoreModel& model, QWidget* parent)
    : QWidget(parent),
      m_view(new QTreeView),
      m_download(new QPushButton(tr("Download…"))),
      m_delete(new QPushButton(tr("Delete…"))) {
    m_view->setModel(&model);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setUniformRowHeights(true);
    m_view->setAlternatingRowColors(true);
    m_view->setTextElideMode(Qt::ElideMiddle);
    m_view->header()->setStretchLastSection(false);
    m_view->header()->setSectionResizeMode(StoreModel::Name, QHeaderView::Stretch);
    m_view->header()->resizeSection(StoreModel::Size, 140);
    m_view->header()->resizeSection(StoreModel::Modified, 150);
    // Expanding lists a folder (the model's fetchMore); collapsing stops it.
    connect(m_view, &QTreeView::collapsed, &model, &StoreModel::stopListing);

    auto* refresh = new QPushButton(tr("Refresh"));
    connect(refresh, &QPushButton::clicked, &model, &StoreModel::reload);
    connect(m_download, &QPushButton::clicked, this, &StorePanel::downloadRequested);
    connect(m_delete, &QPushButton::clicked, this, &StorePanel::deleteRequested);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &StorePanel::updateControls);
    connect(&model, &QAbstractItemModel::modelReset, this, &StorePanel::updateControls);

    auto* controls = new QHBoxLayout;
    controls->addWidget(m_download);
    controls->addWidget(m_delete);
    controls->addWidget(refresh);
    controls->addStretch(1);
    m_empty = new EmptyState(m_view, model, tr("Listing the store…"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(controls);
    layout->addWidget(m_empty, 1);
    updateControls();
}

QList<QPair<QString, qint64>> StorePanel::selectedObjects() const {
    QList<QPair<QString, qint64>> objects;
    for (const QModelIndex& index : m_view->selectionModel()->selectedRows()) {
        if (index.data(StoreModel::FolderRole).toBool()) continue;
        objects.append({index.data(StoreModel::KeyRole).toString(),
                        index.data(StoreModel::SizeRole).toLongLong()});
    }
    return objects;
}

void StorePanel::updateControls() {
    const int objects = static_cast<int>(selectedObjects().size());
    m_download->setEnabled(objects > 0);
    m_delete->setEnabled(objects == 1);
}

}  // namespace desktop
