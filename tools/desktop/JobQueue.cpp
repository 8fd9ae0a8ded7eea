#include "JobQueue.h"

#include "LogHub.h"

namespace desktop {

JobQueue::JobQueue(IOssManager& manager, QObject* parent)
    : QObject(parent), m_runner(std::make_unique<hostkit::TransferRunner>(manager, m_bridge)) {
    LogHub::instance();  // made on this thread, before the library logs on another
    // The bridge lives on this thread and emits on the runner's: queued.
    connect(&m_bridge, &JobBridge::started, this, &JobQueue::onStarted);
    connect(&m_bridge, &JobBridge::progress, this, &JobQueue::onProgress);
    connect(&m_bridge, &JobBridge::page, this, &JobQueue::onPage);
    connect(&m_bridge, &JobBridge::finished, this, &JobQueue::onFinished);
}

JobQueue::~JobQueue() {
    m_runner.reset();
}

JobId JobQueue::upload(const QString& localPath, qint64 size, const QString& key,
                       JobHandlers handlers) {
    return track(m_runner->Upload(localPath.toStdString(), size, key.toStdString()),
                 std::move(handlers));
}

JobId JobQueue::download(const QString& key, qint64 size, const QString& localPath,
                         JobHandlers handlers) {
    return track(m_runner->Download(key.toStdString(), size, localPath.toStdString()),
                 std::move(handlers));
}

JobId JobQueue::list(const QString& prefix, JobHandlers handlers) {
    return track(m_runner->List(prefix.toStdString()), std::move(handlers));
}

JobId JobQueue::call(std::function<bool(IOssManager&)> call, JobHandlers handlers) {
    return track(m_runner->Call(std::move(call)), std::move(handlers));
}

JobId JobQueue::track(JobId id, JobHandlers handlers) {
    // The job's first notification is queued behind this: it finds them.
    m_handlers[id] = std::move(handlers);
    return id;
}

void JobQueue::post(std::function<void()> work) {
    // The bridge outlives every job (the runner goes first).
    QMetaObject::invokeMethod(&m_bridge, std::move(work), Qt::QueuedConnection);
}

bool JobQueue::pause(JobId id) {
    return m_runner->Pause(id);
}

bool JobQueue::resume(JobId id) {
    return m_runner->Resume(id);
}

bool JobQueue::stop(JobId id) {
    return m_runner->Stop(id);
}

bool JobQueue::cancel(JobId id) {
    if (!m_runner->Cancel(id)) return false;
    // Reported now, from the event loop: the runner reports it only when its
    // turn comes, after the job running now.
    const auto it = m_handlers.find(id);
    if (it == m_handlers.end()) return true;
    JobHandlers handlers = std::move(it->second);
    m_handlers.erase(it);
    post([handlers = std::move(handlers)] {
        if (handlers.finished) handlers.finished(hostkit::JobOutcome(), {});
    });
    return true;
}

void JobQueue::onStarted(quint64 id) {
    const auto it = m_handlers.find(id);
    if (it != m_handlers.end() && it->second.started) it->second.started();
}

void JobQueue::onProgress(quint64 id, qint64 bytes, qint64 total) {
    const auto it = m_handlers.find(id);
    if (it != m_handlers.end() && it->second.progress) it->second.progress(bytes, total);
}

void JobQueue::onPage(quint64 id, const std::vector<hostkit::ListEntry>& entries) {
    const auto it = m_handlers.find(id);
    if (it != m_handlers.end() && it->second.page) it->second.page(entries);
}

void JobQueue::onFinished(quint64 id, const hostkit::JobOutcome& outcome,
                          const std::vector<hostkit::LibraryLine>& lines) {
    const auto it = m_handlers.find(id);
    if (it == m_handlers.end()) return;
    // Taken out first: the handler may queue the next job.
    const JobHandlers handlers = std::move(it->second);
    m_handlers.erase(it);
    if (handlers.finished) handlers.finished(outcome, lines);
}

}  // namespace desktop
