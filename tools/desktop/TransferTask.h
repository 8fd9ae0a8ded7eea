// One row of the transfers table and the steps that fill it: a backup or a
// restore is a few jobs in a row (a lookup, the transfer, a registration),
// each queued when the one before has ended. The user's pause, resume and
// stop reach the job the task runs now; a stop while a lookup or
// registration runs takes effect when it ends.
#ifndef NIMBRA_DESKTOP_TRANSFERTASK_H
#define NIMBRA_DESKTOP_TRANSFERTASK_H

#include <QObject>
#include <functional>
#include <vector>

#include "JobQueue.h"
#include "TransferModel.h"

namespace desktop {

class TransferTask : public QObject {
    Q_OBJECT
public:
    using Step =
        std::function<void(const hostkit::JobOutcome&, const std::vector<hostkit::LibraryLine>&)>;

    // Adds the task's row.
    TransferTask(JobQueue& jobs, TransferModel& model, const QString& name, const QString& details,
                 QObject* parent = nullptr);

    virtual void start() = 0;
    quint64 row() const { return m_row; }
    bool finished() const { return m_finished; }

    // The user's controls; each says whether it reached the task.
    bool pause();
    bool resume();
    bool stop();
    // A task whose job has not started yet goes, row and all.
    bool remove();
    // Gives up local files it holds (the application is quitting at once).
    virtual void discardLocalFiles() {}

signals:
    void ended();
    // A failure, in words, for a notice.
    void failed(const QString& text);

protected:
    // Queues one step; `then` gets its end, unless it was cancelled before
    // it started (a removed or stopped task, which ends there).
    void runCall(std::function<bool(IOssManager&)> call, TransferState startedState, Step then);
    void runTransfer(hostkit::JobKind kind, const QString& key, qint64 size,
                     const QString& localPath, Step then);

    // `notice`: the failure in words for the notice, when the row's
    // details say less.
    void finish(TransferState state, const QString& details, const QString& notice = QString());
    // Fails with `what` (shown text: its names escaped already) and the
    // cause that the job's log lines name.
    void fail(const QString& what, const std::vector<hostkit::LibraryLine>& lines, int result);
    void setState(TransferState state, const QString& details = QString());
    bool stopAsked() const { return m_stopAsked; }
    virtual void onFinished() {}

    JobQueue& m_jobs;
    TransferModel& m_model;

private:
    JobHandlers handlers(Step then);

    quint64 m_row = 0;
    JobId m_job = 0;
    bool m_started = false;       // the job now queued has started
    bool m_transferring = false;  // it is the upload or download
    bool m_stopAsked = false;
    bool m_removed = false;
    bool m_finished = false;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_TRANSFERTASK_H
