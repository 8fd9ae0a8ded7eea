// The transfers table: one row per backup, restore or download, with its
// state, bytes, speed and time left. Speed and time left come from a
// ProgressMeter per row, fed on the UI thread and told of pauses, so paused
// time is left out; a timer redraws them while a transfer runs.
#ifndef NIMBRA_DESKTOP_TRANSFERMODEL_H
#define NIMBRA_DESKTOP_TRANSFERMODEL_H

#include <QAbstractTableModel>
#include <QTimer>
#include <memory>
#include <vector>

#include "hostkit/ProgressMeter.h"

namespace desktop {

enum class TransferState {
    Queued,     // waiting for its turn
    Preparing,  // looking its key or object up
    Running,    // bytes moving
    Paused,
    Stopping,   // a stop asked for; the part or range in flight finishes first
    Finishing,  // registering the record, putting the file in place
    Done,
    Stopped,
    Failed,
    Skipped,
};

QString stateText(TransferState state);
bool isFinal(TransferState state);

class TransferModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Name, State, Progress, Bytes, Speed, TimeLeft, Details, ColumnCount };
    // The percent (0 to 100) under this role in the Progress column.
    static constexpr int PercentRole = Qt::UserRole + 1;

    explicit TransferModel(QObject* parent = nullptr);
    ~TransferModel() override;

    // A new row at the end; returns its id.
    quint64 add(const QString& name, const QString& details);
    void setState(quint64 id, TransferState state, const QString& details = QString());
    // The bytes start counting against `total`; the speed from now.
    void startMeter(quint64 id, qint64 total);
    void setBytes(quint64 id, qint64 bytes);
    void remove(quint64 id);
    void removeFinished();

    TransferState state(quint64 id) const;
    QString details(quint64 id) const;
    qint64 bytes(quint64 id) const;
    quint64 idAt(int row) const;
    int rowOf(quint64 id) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Row;
    Row* find(quint64 id) const;
    void changed(const Row& row, Column first, Column last);
    void tick();

    std::vector<std::unique_ptr<Row>> m_rows;
    quint64 m_nextId = 1;
    QTimer m_ticker;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_TRANSFERMODEL_H
