#include "RecordsPanel.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTreeView>
#include <QVBoxLayout>

#include "EmptyState.h"
#include "RecordsModel.h"
#include "hostkit/Backups.h"

namespace desktop {
namespace {

const char kBackupName[] = "backup/name";
const char kExpireDays[] = "backup/expireDays";

}  // namespace

RecordsPanel::RecordsPanel(RecordsModel& model, QWidget* parent)
    : QWidget(parent),
      m_model(model),
      m_view(new QTreeView),
      m_backupName(new QLineEdit),
      m_expire(new QSpinBox),
      m_backUp(new QPushButton(tr("Back up files…"))),
      m_restore(new QPushButton(tr("Restore…"))),
      m_refresh(new QPushButton(tr("Refresh"))) {
    m_view->setModel(&model);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setAlternatingRowColors(true);
    m_view->setUniformRowHeights(true);
    m_view->setTextElideMode(Qt::ElideMiddle);
    m_view->header()->setStretchLastSection(true);
    const int widths[] = {230, 170, 80, 130};
    for (int column = 0; column < RecordsModel::Path; ++column)
        m_view->header()->resizeSection(column, widths[column]);
    // Each new backup name's group opens as it appears.
    connect(&model, &QAbstractItemModel::rowsInserted, m_view,
            [this](const QModelIndex& parent, int first, int last) {
                if (parent.isValid()) return;
                for (int row = first; row <= last; ++row) m_view->expand(m_model.index(row, 0));
            });

    const QSettings settings;
    m_backupName->setText(settings.value(kBackupName, "default").toString());
    m_backupName->setMaxLength(static_cast<int>(hostkit::kBackupNameMax));
    m_backupName->setToolTip(tr("New backups are registered under this name"));
    m_expire->setRange(0, static_cast<int>(hostkit::kMaxExpireDays));
    m_expire->setSpecialValueText(tr("never"));
    m_expire->setSuffix(tr(" days"));
    m_expire->setValue(settings.value(kExpireDays, 0).toInt());
    m_expire->setToolTip(tr("When the records of new backups expire"));
    connect(m_backupName, &QLineEdit::editingFinished, this,
            [this] { QSettings().setValue(kBackupName, m_backupName->text()); });
    connect(m_expire, &QSpinBox::valueChanged, this,
            [](int days) { QSettings().setValue(kExpireDays, days); });

    auto* controls = new QHBoxLayout;
    controls->addWidget(m_backUp);
    controls->addWidget(m_restore);
    controls->addWidget(m_refresh);
    controls->addSpacing(16);
    controls->addWidget(new QLabel(tr("Backup name:")));
    m_backupName->setMaximumWidth(260);
    controls->addWidget(m_backupName);
    controls->addWidget(new QLabel(tr("Expires after:")));
    controls->addWidget(m_expire);
    controls->addStretch(1);
    m_empty = new EmptyState(m_view, model, QString());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(controls);
    layout->addWidget(m_empty, 1);
}

QString RecordsPanel::backupName() const {
    return m_backupName->text();
}

int RecordsPanel::expireDays() const {
    return m_expire->value();
}

std::vector<_ST_UserInfo> RecordsPanel::selectedRecords() const {
    return m_model.recordsAt(m_view->selectionModel()->selectedRows());
}

void RecordsPanel::setEmptyText(const QString& text) {
    m_empty->setEmptyText(text);
}

}  // namespace desktop
