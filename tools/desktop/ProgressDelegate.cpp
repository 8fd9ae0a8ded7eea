#include "ProgressDelegate.h"

#include <QApplication>
#include <QStyle>
#include <QStyleOptionProgressBar>

#include "TransferModel.h"

namespace desktop {

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const QString label = index.data(Qt::DisplayRole).toString();
    if (label.isEmpty()) {  // not started: no bar
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(2, 3, -2, -3);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = index.data(TransferModel::PercentRole).toInt();
    bar.text = label;
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    bar.state = option.state | QStyle::State_Horizontal;
    bar.palette = option.palette;
    bar.fontMetrics = option.fontMetrics;
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}

}  // namespace desktop
