#include "BackupTask.h"

#include "Text.h"

namespace desktop {

bool KeyReservations::has(const std::string& key) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_keys.count(key) != 0;
}

void KeyReservations::add(const std::string& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_keys.insert(key);
}

void KeyReservations::release(const std::string& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_keys.erase(key);
}

BackupTask::BackupTask(JobQueue& jobs, TransferModel& model, BackupRequest request,
                       std::shared_ptr<KeyReservations> reservations, QObject* parent)
    : TransferTask(jobs, model, tr("Back up %1").arg(shown(request.file.name)),
                   shown(request.file.absolute), parent),
      m_request(std::move(request)),
      m_reservations(std::move(reservations)) {}

void BackupTask::start() {
    auto slot = std::make_shared<hostkit::BackupSlot>();
    const BackupRequest& r = m_request;
    auto find = [slot, r, reservations = m_reservations](IOssManager& manager) {
        *slot = hostkit::FindBackupSlot(
            manager, r.user, r.backup, r.file.name,
            [&reservations](const std::string& key) { return reservations->has(key); });
        if (slot->state == hostkit::BackupSlot::State::kFree) reservations->add(slot->key);
        return slot->state != hostkit::BackupSlot::State::kFailed;
    };
    runCall(find, TransferState::Preparing,
            [this, slot](const hostkit::JobOutcome&,
                         const std::vector<hostkit::LibraryLine>& lines) { onSlot(*slot, lines); });
}

void BackupTask::onSlot(const hostkit::BackupSlot& slot,
                        const std::vector<hostkit::LibraryLine>& lines) {
    m_slot = slot;
    const QString key = shown(slot.key);
    switch (slot.state) {
        case hostkit::BackupSlot::State::kBadKey:
            return finish(TransferState::Failed, shown(slot.problem));
        case hostkit::BackupSlot::State::kFailed:
            return fail(tr("cannot look up %1").arg(key), lines, slot.result);
        case hostkit::BackupSlot::State::kTaken:
            return finish(TransferState::Failed,
                          tr("%1 exists already; nothing was uploaded").arg(key));
        case hostkit::BackupSlot::State::kFree:
            break;
    }
    if (stopAsked()) return finish(TransferState::Stopped, tr("stopped; nothing was uploaded"));
    setState(TransferState::Queued, tr("to %1").arg(key));
    runTransfer(hostkit::JobKind::kUpload, QString::fromStdString(slot.key), m_request.file.size,
                QString::fromStdString(m_request.file.path),
                [this](const hostkit::JobOutcome& done,
                       const std::vector<hostkit::LibraryLine>& log) { onUploaded(done, log); });
}

void BackupTask::onUploaded(const hostkit::JobOutcome& outcome,
                            const std::vector<hostkit::LibraryLine>& lines) {
    const QString key = shown(m_slot.key);
    if (outcome.end == hostkit::JobOutcome::End::kStopped)
        return finish(TransferState::Stopped,
                      tr("stopped; the object was not created (the parts sent so far stay on the "
                         "store as an unfinished upload)"));
    if (outcome.end == hostkit::JobOutcome::End::kFailed)
        return fail(tr("upload of %1 to %2 failed").arg(shown(m_request.file.name), key), lines,
                    outcome.result);
    // Stored, even if a stop came too late for it: the record goes in too.
    const _ST_UserInfo record = hostkit::MakeRecord(m_request.user, m_request.backup, m_slot,
                                                    m_request.file, m_request.expireDays);
    runCall(
        [record](IOssManager& manager) { return manager.InsertUserInfo(record); },
        TransferState::Finishing,
        [this, key](const hostkit::JobOutcome& done, const std::vector<hostkit::LibraryLine>& log) {
            if (done.end != hostkit::JobOutcome::End::kDone)
                return fail(tr("the web API did not register the backup record (the bytes "
                               "stay at %1; back the file up again for a new copy)")
                                .arg(key),
                            log, 0);
            finish(TransferState::Done, tr("backed up as %1").arg(key));
            emit registered();
        });
    setState(TransferState::Finishing, tr("registering the record of %1").arg(key));
}

void BackupTask::onFinished() {
    if (m_slot.state == hostkit::BackupSlot::State::kFree) m_reservations->release(m_slot.key);
}

}  // namespace desktop
