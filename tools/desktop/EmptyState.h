// A view that says what its emptiness means instead of showing a blank
// table: the label while the model has no rows, the view otherwise.
#ifndef NIMBRA_DESKTOP_EMPTYSTATE_H
#define NIMBRA_DESKTOP_EMPTYSTATE_H

#include <QStackedWidget>

class QAbstractItemModel;
class QLabel;

namespace desktop {

class EmptyState : public QStackedWidget {
    Q_OBJECT
public:
    EmptyState(QWidget* view, QAbstractItemModel& model, const QString& emptyText,
               QWidget* parent = nullptr);
    void setEmptyText(const QString& text);
    bool showsEmpty() const { return currentIndex() == 0; }
    QString emptyText() const;

private:
    void update();

    QAbstractItemModel& m_model;
    QLabel* m_label;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_EMPTYSTATE_H
