// The transfers table with its controls: Pause, Resume and Stop for the
// selected (or else the running) transfer, Remove for queued and finished
// rows. The controls call the controller on this thread; none of them blocks.
#ifndef NIMBRA_DESKTOP_TRANSFERPANEL_H
#define NIMBRA_DESKTOP_TRANSFERPANEL_H

#include <QWidget>

class QPushButton;
class QTableView;

namespace desktop {

class TransferController;
class TransferModel;

class TransferPanel : public QWidget {
    Q_OBJECT
public:
    TransferPanel(TransferModel& model, TransferController& controller, QWidget* parent = nullptr);

    QTableView* view() const { return m_view; }
    QPushButton* pauseButton() const { return m_pause; }
    QPushButton* resumeButton() const { return m_resume; }
    QPushButton* stopButton() const { return m_stop; }
    QPushButton* removeButton() const { return m_remove; }

private:
    // The row the controls act on: the selected one, else the one moving.
    quint64 currentRow() const;
    void updateControls();

    TransferModel& m_model;
    TransferController& m_controller;
    QTableView* m_view;
    QPushButton* m_pause;
    QPushButton* m_resume;
    QPushButton* m_stop;
    QPushButton* m_remove;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_TRANSFERPANEL_H
