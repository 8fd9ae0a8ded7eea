#include "TransferTask.h"

#include "Text.h"

namespace desktop {

TransferTask::TransferTask(JobQueue& jobs, TransferModel& model, const QString& name,
                           const QString& details, QObject* parent)
    : QObject(parent), m_jobs(jobs), m_model(model), m_row(model.add(name, details)) {}

bool TransferTask::pause() {
    if (m_finished || !m_transferring || !m_jobs.pause(m_job)) return false;
    setState(TransferState::Paused);
    return true;
}

bool TransferTask::resume() {
    if (m_model.state(m_row) != TransferState::Paused || !m_jobs.resume(m_job)) return false;
    setState(TransferState::Running);
    return true;
}

bool TransferTask::stop() {
    // Once the bytes are stored, their record goes in too.
    if (m_finished || m_stopAsked || m_model.state(m_row) == TransferState::Finishing) return false;
    m_stopAsked = true;
    // A job not started is cancelled, a transfer under way stopped (also one
    // whose start this thread has not heard of yet); a lookup or
    // registration under way ends first, and the step after it looks at
    // m_stopAsked.
    if (!m_jobs.cancel(m_job)) m_jobs.stop(m_job);
    setState(TransferState::Stopping);
    return true;
}

bool TransferTask::remove() {
    if (m_finished || m_started || !m_jobs.cancel(m_job)) return false;
    m_removed = true;
    return true;
}

JobHandlers TransferTask::handlers(Step then) {
    m_started = false;
    JobHandlers h;
    h.finished = [this, then = std::move(then)](const hostkit::JobOutcome& outcome,
                                                const std::vector<hostkit::LibraryLine>& lines) {
        m_transferring = false;
        if (outcome.end != hostkit::JobOutcome::End::kCancelled) {
            then(outcome, lines);
        } else if (m_removed) {
            m_model.remove(m_row);
            m_finished = true;
            onFinished();
            emit ended();
        } else {
            finish(TransferState::Stopped, tr("stopped before it started"));
        }
    };
    return h;
}

void TransferTask::runCall(std::function<bool(IOssManager&)> call, TransferState startedState,
                           Step then) {
    JobHandlers h = handlers(std::move(then));
    h.started = [this, startedState] {
        m_started = true;
        if (!m_stopAsked) setState(startedState);
    };
    m_job = m_jobs.call(std::move(call), std::move(h));
}

void TransferTask::runTransfer(hostkit::JobKind kind, const QString& key, qint64 size,
                               const QString& localPath, Step then) {
    JobHandlers h = handlers(std::move(then));
    h.started = [this, size] {
        m_started = true;
        m_transferring = true;
        m_model.startMeter(m_row, size);
        if (!m_stopAsked) setState(TransferState::Running);
    };
    h.progress = [this](qint64 bytes, qint64) { m_model.setBytes(m_row, bytes); };
    m_job = kind == hostkit::JobKind::kUpload ? m_jobs.upload(localPath, size, key, std::move(h))
                                              : m_jobs.download(key, size, localPath, std::move(h));
    // A stop pressed while the step before ran: this job is cancelled.
    if (m_stopAsked) m_jobs.cancel(m_job);
}

void TransferTask::setState(TransferState state, const QString& details) {
    m_model.setState(m_row, state, details);
}

void TransferTask::finish(TransferState state, const QString& details, const QString& notice) {
    if (m_finished) return;
    m_finished = true;
    setState(state, details);
    onFinished();
    if (state == TransferState::Failed) emit failed(notice.isEmpty() ? details : notice);
    emit ended();
}

void TransferTask::fail(const QString& what, const std::vector<hostkit::LibraryLine>& lines,
                        int result) {
    // `what` is made of shown names already: only what follows it is escaped.
    const std::string whatText = what.toStdString();
    const std::string tail =
        hostkit::ExplainFailure(whatText, lines, result).text.substr(whatText.size());
    const QString text = what + shown(tail);
    // The row names the transfer already: it shows the cause alone.
    const bool cause = tail.compare(0, 2, ": ") == 0;
    finish(TransferState::Failed, cause ? shown(tail.substr(2)) : text, text);
}

}  // namespace desktop
