#include "RestoreTask.h"

#include <cerrno>

#include "Text.h"
#include "hostkit/Listing.h"
#include "hostkit/Names.h"

namespace desktop {
namespace {

std::string nameOf(const std::string& key) {
    std::string folder, name;
    hostkit::SplitKey(key, folder, name);
    return name;
}

}  // namespace

RestoreTask::RestoreTask(JobQueue& jobs, TransferModel& model, RestoreRequest request,
                         QObject* parent)
    : TransferTask(jobs, model,
                   (request.lookUpFirst ? tr("Restore %1") : tr("Download %1"))
                       .arg(shown(nameOf(request.key))),
                   tr("to %1").arg(shown(request.target.shown)), parent),
      m_request(std::move(request)) {}

void RestoreTask::start() {
    if (!m_request.lookUpFirst) return download();
    auto lookup = std::make_shared<hostkit::ObjectLookup>();
    const std::string key = m_request.key;
    runCall(
        [lookup, key](IOssManager& manager) {
            *lookup = hostkit::FindObject(manager, key);
            return lookup->state != hostkit::ObjectLookup::State::kFailed;
        },
        TransferState::Preparing,
        [this, lookup](const hostkit::JobOutcome&, const std::vector<hostkit::LibraryLine>& lines) {
            const QString key = shown(m_request.key);
            if (lookup->state == hostkit::ObjectLookup::State::kFailed)
                return fail(tr("cannot look up %1").arg(key), lines, lookup->result);
            if (lookup->state == hostkit::ObjectLookup::State::kMissing)
                return finish(TransferState::Failed,
                              tr("the bytes of the %1 are gone: no object %2")
                                  .arg(shown(m_request.what), key));
            if (lookup->size != m_request.size)
                return finish(TransferState::Failed,
                              tr("%1 holds %2 bytes, but the %3 says %4; nothing was restored")
                                  .arg(key)
                                  .arg(lookup->size)
                                  .arg(shown(m_request.what))
                                  .arg(m_request.size));
            if (stopAsked()) return finish(TransferState::Stopped, tr("stopped before it started"));
            download();
        });
}

void RestoreTask::download() {
    m_pending = std::make_unique<hostkit::PendingFile>();
    const hostkit::FileStatus opened = m_pending->Open(m_request.target);
    if (!opened.ok()) return finish(TransferState::Failed, shown(opened.text));
    runTransfer(
        hostkit::JobKind::kDownload, QString::fromStdString(m_request.key), m_request.size,
        QString::fromStdString(m_pending->path()),
        [this](const hostkit::JobOutcome& outcome, const std::vector<hostkit::LibraryLine>& lines) {
            onDownloaded(outcome, lines);
        });
}

void RestoreTask::onDownloaded(const hostkit::JobOutcome& outcome,
                               const std::vector<hostkit::LibraryLine>& lines) {
    const QString target = shown(m_request.target.shown);
    const QString key = shown(m_request.key);
    if (outcome.end == hostkit::JobOutcome::End::kFailed)
        return fail(tr("download of %1 failed").arg(key), lines, outcome.result);
    if (outcome.end == hostkit::JobOutcome::End::kStopped)
        return finish(TransferState::Stopped, tr("stopped; %1 was left as it was").arg(target));
    if (!m_pending)  // given up when the window closed without waiting
        return finish(TransferState::Stopped, tr("given up; %1 was left as it was").arg(target));
    // Short when the object was emptied or cut since it was listed.
    const long long written = m_pending->Size();
    if (written != m_request.size)
        return finish(TransferState::Failed,
                      tr("download of %1 ended after %2 of %3 bytes; the object may have changed "
                         "meanwhile, try again")
                          .arg(key)
                          .arg(written)
                          .arg(m_request.size));
    const hostkit::FileStatus placed = m_pending->Place();
    if (placed.error == EEXIST)
        return finish(TransferState::Failed,
                      tr("%1 appeared while the restore ran; it was left as it was").arg(target));
    if (!placed.ok()) return finish(TransferState::Failed, shown(placed.text));
    finish(TransferState::Done, tr("restored to %1").arg(target));
    emit restored(QString::fromStdString(m_request.target.path));
}

}  // namespace desktop
