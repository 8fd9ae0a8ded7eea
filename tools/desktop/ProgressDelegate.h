// Draws a transfer's progress as a progress bar in its table cell.
#ifndef NIMBRA_DESKTOP_PROGRESSDELEGATE_H
#define NIMBRA_DESKTOP_PROGRESSDELEGATE_H

#include <QStyledItemDelegate>

namespace desktop {

class ProgressDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_PROGRESSDELEGATE_H
