#include "NoticeBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace desktop {

NoticeBar::NoticeBar(QWidget* parent) : QFrame(parent), m_text(new QLabel(this)) {
    setObjectName("notice");
    setStyleSheet(
        "#notice { background: #fbe9e7; border: 1px solid #e0a39a; border-radius: 4px; }"
        "#notice QLabel { color: #5c1a12; }");
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* close = new QToolButton(this);
    close->setText(tr("Dismiss"));
    close->setAutoRaise(true);
    connect(close, &QToolButton::clicked, this, &QWidget::hide);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 6, 6, 6);
    layout->addWidget(m_text, 1);
    layout->addWidget(close, 0, Qt::AlignTop);
    hide();
}

void NoticeBar::showNotice(const QString& text) {
    m_text->setText(text);
    show();
}

QString NoticeBar::text() const {
    return isVisible() ? m_text->text() : QString();
}

}  // namespace desktop
