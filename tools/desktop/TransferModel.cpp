#include "TransferModel.h"

#include <QBrush>
#include <QColor>

#include "Text.h"
#include "hostkit/Format.h"

namespace desktop {
namespace {

constexpr int kTickMilliseconds = 500;

// A row in this state shows a speed and a time left that change with time.
bool ticking(TransferState state) {
    return state == TransferState::Running || state == TransferState::Paused ||
           state == TransferState::Stopping;
}

}  // namespace

struct TransferModel::Row {
    quint64 id = 0;
    QString name, details;
    TransferState state = TransferState::Queued;
    qint64 total = -1;  // unknown until the transfer starts
    std::unique_ptr<hostkit::ProgressMeter> meter;
};

QString stateText(TransferState state) {
    static const char* const kTexts[] = {QT_TRANSLATE_NOOP("desktop::TransferModel", "Queued"),
                                         QT_TRANSLATE_NOOP("desktop::TransferModel", "Preparing"),
                                         QT_TRANSLATE_NOOP("desktop::TransferModel", "Running"),
                                         QT_TRANSLATE_NOOP("desktop::TransferModel", "Paused"),
                                         QT_TRANSLATE_NOOP("desktop::TransferModel", "Stopping"),
                                         QT_TRANSLATE_NOOP("desktop::TransferModel", "Finishing"),
                                         QT_TRANSLATE_NOOP("desktop::TransferModel", "Done"),
                                         QT_TRANSLATE_NOOP("desktop::TransferModel", "Stopped"),
                                         QT_TRANSLATE_NOOP("desktop::TransferModel", "Failed"),
                                         QT_TRANSLATE_NOOP("desktop::TransferModel", "Skipped")};
    return TransferModel::tr(kTexts[static_cast<int>(state)]);
}

bool isFinal(TransferState state) {
    return state == TransferState::Done || state == TransferState::Stopped ||
           state == TransferState::Failed || state == TransferState::Skipped;
}

TransferModel::TransferModel(QObject* parent) : QAbstractTableModel(parent) {
    m_ticker.setInterval(kTickMilliseconds);
    connect(&m_ticker, &QTimer::timeout, this, &TransferModel::tick);
}

TransferModel::~TransferModel() = default;

quint64 TransferModel::add(const QString& name, const QString& details) {
    auto row = std::make_unique<Row>();
    row->id = m_nextId++;
    row->name = name;
    row->details = details;
    const int at = static_cast<int>(m_rows.size());
    beginInsertRows(QModelIndex(), at, at);
    m_rows.push_back(std::move(row));
    endInsertRows();
    return m_rows.back()->id;
}

void TransferModel::setState(quint64 id, TransferState state, const QString& details) {
    Row* row = find(id);
    if (row == nullptr) return;
    row->state = state;
    if (!details.isNull()) row->details = details;
    if (row->meter) row->meter->SetPaused(state == TransferState::Paused);
    if (ticking(state) && !m_ticker.isActive()) m_ticker.start();
    changed(*row, Name, Details);
}

void TransferModel::startMeter(quint64 id, qint64 total) {
    Row* row = find(id);
    if (row == nullptr) return;
    row->total = total;
    row->meter = std::make_unique<hostkit::ProgressMeter>(total);
    changed(*row, Progress, TimeLeft);
}

void TransferModel::setBytes(quint64 id, qint64 bytes) {
    Row* row = find(id);
    if (row == nullptr || !row->meter) return;
    row->meter->Update(bytes);
    changed(*row, Progress, TimeLeft);
}

void TransferModel::remove(quint64 id) {
    const int at = rowOf(id);
    if (at < 0) return;
    beginRemoveRows(QModelIndex(), at, at);
    m_rows.erase(m_rows.begin() + at);
    endRemoveRows();
}

void TransferModel::removeFinished() {
    for (int at = rowCount() - 1; at >= 0; --at) {
        if (isFinal(m_rows[at]->state)) remove(m_rows[at]->id);
    }
}

TransferState TransferModel::state(quint64 id) const {
    const Row* row = find(id);
    return row != nullptr ? row->state : TransferState::Skipped;
}

QString TransferModel::details(quint64 id) const {
    const Row* row = find(id);
    return row != nullptr ? row->details : QString();
}

qint64 TransferModel::bytes(quint64 id) const {
    const Row* row = find(id);
    return row != nullptr && row->meter ? row->meter->Read().bytes : 0;
}

quint64 TransferModel::idAt(int row) const {
    return row >= 0 && row < rowCount() ? m_rows[row]->id : 0;
}

int TransferModel::rowOf(quint64 id) const {
    for (size_t at = 0; at < m_rows.size(); ++at) {
        if (m_rows[at]->id == id) return static_cast<int>(at);
    }
    return -1;
}

TransferModel::Row* TransferModel::find(quint64 id) const {
    const int at = rowOf(id);
    return at < 0 ? nullptr : m_rows[at].get();
}

void TransferModel::changed(const Row& row, Column first, Column last) {
    const int at = rowOf(row.id);
    emit dataChanged(index(at, first), index(at, last));
}

void TransferModel::tick() {
    bool moving = false;
    for (const auto& row : m_rows) {
        if (!ticking(row->state)) continue;
        moving = true;
        changed(*row, Speed, TimeLeft);  // the speed decays while nothing arrives
    }
    if (!moving) m_ticker.stop();
}

int TransferModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TransferModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TransferModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return QVariant();
    const Row& row = *m_rows[index.row()];
    const bool metered = row.meter != nullptr;
    const hostkit::ProgressReading reading =
        metered ? row.meter->Read() : hostkit::ProgressReading();
    const bool moving = row.state == TransferState::Running || row.state == TransferState::Stopping;
    if (role == PercentRole) return metered ? reading.percent : 0;
    if (role == Qt::ForegroundRole && index.column() == State) {
        if (row.state == TransferState::Failed) return QBrush(QColor(0xb0, 0x20, 0x20));
        if (row.state == TransferState::Done) return QBrush(QColor(0x1e, 0x7a, 0x34));
        return QVariant();
    }
    if (role == Qt::ToolTipRole && index.column() == Details) return row.details;
    if (role != Qt::DisplayRole) return QVariant();
    switch (index.column()) {
        case Name:
            return row.name;
        case State:
            return stateText(row.state);
        case Progress:
            return metered ? QString::number(reading.percent) + "%" : QString();
        case Bytes:
            if (!metered)
                return row.total >= 0 ? qtext(hostkit::FormatBytes(row.total)) : QString();
            return tr("%1 of %2")
                .arg(qtext(hostkit::FormatBytes(reading.bytes)),
                     qtext(hostkit::FormatBytes(reading.total)));
        case Speed:
            return moving ? qtext(hostkit::FormatRate(reading.rate)) : QString();
        case TimeLeft:
            if (row.state == TransferState::Paused) return tr("paused");
            return moving ? qtext(hostkit::FormatDuration(reading.seconds_left)) : QString();
        case Details:
            return row.details;
        default:
            return QVariant();
    }
}

QVariant TransferModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const kTitles[ColumnCount] = {
        QT_TR_NOOP("Transfer"), QT_TR_NOOP("State"), QT_TR_NOOP("Progress"),
        QT_TR_NOOP("Bytes"),    QT_TR_NOOP("Speed"), QT_TR_NOOP("Time left"),
        QT_TR_NOOP("Details")};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
    return section >= 0 && section < ColumnCount ? tr(kTitles[section]) : QVariant();
}

}  // namespace desktop
