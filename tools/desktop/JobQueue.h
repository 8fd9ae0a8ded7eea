// The library's operations, run one at a time on the runner's thread and
// reported back on the UI thread. Every call here returns at once: it queues
// a job of the TransferRunner, whose notifications come back (through the
// JobBridge's queued signals) to the handlers given with it. Pause, resume
// and stop reach the running job through the runner, never the manager, so
// that a stop the library did not take is made good there.
#ifndef NIMBRA_DESKTOP_JOBQUEUE_H
#define NIMBRA_DESKTOP_JOBQUEUE_H

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "JobBridge.h"

namespace desktop {

// What a job's owner hears, on the UI thread; each may be empty.
struct JobHandlers {
    std::function<void()> started;
    std::function<void(qint64 bytes, qint64 total)> progress;
    std::function<void(const std::vector<hostkit::ListEntry>&)> page;
    // Always comes, once: also for a job cancelled before it started.
    std::function<void(const hostkit::JobOutcome&, const std::vector<hostkit::LibraryLine>&)>
        finished;
};

class JobQueue : public QObject {
    Q_OBJECT
public:
    // The manager must outlive the queue.
    explicit JobQueue(IOssManager& manager, QObject* parent = nullptr);
    // Stops the running job and waits for it to end (see ~TransferRunner).
    ~JobQueue() override;

    JobId upload(const QString& localPath, qint64 size, const QString& key, JobHandlers handlers);
    JobId download(const QString& key, qint64 size, const QString& localPath, JobHandlers handlers);
    JobId list(const QString& prefix, JobHandlers handlers);
    // `call` runs on the runner's thread; it returns whether it succeeded.
    JobId call(std::function<bool(IOssManager&)> call, JobHandlers handlers);

    // Runs `work` on this queue's (the UI) thread; from any thread, such as
    // a call's own callbacks on the runner's thread.
    void post(std::function<void()> work);

    // Job `id` while it runs (see TransferRunner); each says whether it
    // reached it.
    bool pause(JobId id);
    bool resume(JobId id);
    bool stop(JobId id);
    // A job not yet started; false once it has. Its handlers hear of it
    // (kCancelled) from the event loop, not when its turn would have come.
    bool cancel(JobId id);

    // A job is queued or running (as far as the UI thread has heard).
    bool busy() const { return !m_handlers.empty(); }

private:
    JobId track(JobId id, JobHandlers handlers);
    void onStarted(quint64 id);
    void onProgress(quint64 id, qint64 bytes, qint64 total);
    void onPage(quint64 id, const std::vector<hostkit::ListEntry>& entries);
    void onFinished(quint64 id, const hostkit::JobOutcome& outcome,
                    const std::vector<hostkit::LibraryLine>& lines);

    std::map<JobId, JobHandlers> m_handlers;
    JobBridge m_bridge;
    std::unique_ptr<hostkit::TransferRunner> m_runner;  // last: its thread calls the bridge
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_JOBQUEUE_H
