#include "TransferPanel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "EmptyState.h"
#include "ProgressDelegate.h"
#include "TransferController.h"
#include "TransferModel.h"

namespace desktop {

TransferPanel::TransferPanel(TransferModel& model, TransferController& controller, QWidget* parent)
    : QWidget(parent),
      m_model(model),
      m_controller(controller),
      m_view(new QTableView),
      m_pause(new QPushButton(tr("Pause"))),
      m_resume(new QPushButton(tr("Resume"))),
      m_stop(new QPushButton(tr("Stop"))),
      m_remove(new QPushButton(tr("Remove"))) {
    m_view->setModel(&model);
    m_view->setItemDelegateForColumn(TransferModel::Progress, new ProgressDelegate(m_view));
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->verticalHeader()->hide();
    m_view->setShowGrid(false);
    m_view->setAlternatingRowColors(true);
    m_view->setWordWrap(false);
    m_view->setTextElideMode(Qt::ElideMiddle);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 10);
    // The newest transfer in sight.
    connect(&model, &QAbstractItemModel::rowsInserted, m_view, &QTableView::scrollToBottom);
    QHeaderView* header = m_view->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    const int widths[] = {180, 80, 110, 150, 85, 70};
    for (int column = 0; column < TransferModel::Details; ++column)
        header->resizeSection(column, widths[column]);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {m_pause, m_resume, m_stop, m_remove}) buttons->addWidget(button);
    auto* clear = new QPushButton(tr("Clear finished"));
    buttons->addWidget(clear);
    buttons->addStretch(1);
    m_remove->setToolTip(tr("Remove a transfer that has not started, or a finished one"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(new EmptyState(
        m_view, model, tr("No transfers. Drop files or folders on the window to back them up.")));

    connect(m_pause, &QPushButton::clicked, this, [this] { m_controller.pause(currentRow()); });
    connect(m_resume, &QPushButton::clicked, this, [this] { m_controller.resume(currentRow()); });
    connect(m_stop, &QPushButton::clicked, this, [this] { m_controller.stop(currentRow()); });
    connect(m_remove, &QPushButton::clicked, this, [this] { m_controller.remove(currentRow()); });
    connect(clear, &QPushButton::clicked, &m_model, &TransferModel::removeFinished);
    connect(&model, &QAbstractItemModel::dataChanged, this, &TransferPanel::updateControls);
    connect(&model, &QAbstractItemModel::rowsRemoved, this, &TransferPanel::updateControls);
    connect(&model, &QAbstractItemModel::rowsInserted, this, &TransferPanel::updateControls);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TransferPanel::updateControls);
    updateControls();
}

quint64 TransferPanel::currentRow() const {
    const QModelIndexList selected = m_view->selectionModel()->selectedRows();
    if (!selected.isEmpty()) return m_model.idAt(selected.first().row());
    for (int row = 0; row < m_model.rowCount(); ++row) {
        const TransferState state = m_model.state(m_model.idAt(row));
        if (!isFinal(state) && state != TransferState::Queued) return m_model.idAt(row);
    }
    return 0;
}

void TransferPanel::updateControls() {
    const quint64 row = currentRow();
    const TransferState state = m_model.state(row);
    m_pause->setEnabled(row != 0 && state == TransferState::Running);
    m_resume->setEnabled(row != 0 && state == TransferState::Paused);
    m_stop->setEnabled(row != 0 && !isFinal(state) && state != TransferState::Stopping &&
                       state != TransferState::Finishing);
    m_remove->setEnabled(row != 0 && (state == TransferState::Queued || isFinal(state)));
}

}  // namespace desktop
