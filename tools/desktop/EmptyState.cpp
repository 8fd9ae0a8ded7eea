#include "EmptyState.h"

#include <QAbstractItemModel>
#include <QLabel>

namespace desktop {

EmptyState::EmptyState(QWidget* view, QAbstractItemModel& model, const QString& emptyText,
                       QWidget* parent)
    : QStackedWidget(parent), m_model(model), m_label(new QLabel(emptyText, this)) {
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setWordWrap(true);
    m_label->setStyleSheet("color: #666666; font-size: 11pt; padding: 16px;");
    addWidget(m_label);
    addWidget(view);
    connect(&model, &QAbstractItemModel::rowsInserted, this, &EmptyState::update);
    connect(&model, &QAbstractItemModel::rowsRemoved, this, &EmptyState::update);
    connect(&model, &QAbstractItemModel::modelReset, this, &EmptyState::update);
    update();
}

void EmptyState::setEmptyText(const QString& text) {
    m_label->setText(text);
}

QString EmptyState::emptyText() const {
    return m_label->text();
}

void EmptyState::update() {
    setCurrentIndex(m_model.rowCount() == 0 ? 0 : 1);
}

}  // namespace desktop
