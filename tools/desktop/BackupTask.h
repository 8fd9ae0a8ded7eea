// A backup of one file, as nimbra backup makes it: a key of its own
// (hostkit::FindBackupSlot), the upload, then the record registered.
#ifndef NIMBRA_DESKTOP_BACKUPTASK_H
#define NIMBRA_DESKTOP_BACKUPTASK_H

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "TransferTask.h"
#include "hostkit/Backups.h"
#include "hostkit/SourceFile.h"

namespace desktop {

// Keys chosen for uploads not yet done, which no other backup may take: two
// backups of same-named files in one millisecond would otherwise share one.
// The runner's thread chooses keys; any thread releases them.
class KeyReservations {
public:
    bool has(const std::string& key) const;
    void add(const std::string& key);
    void release(const std::string& key);

private:
    mutable std::mutex m_mutex;
    std::set<std::string> m_keys;
};

struct BackupRequest {
    hostkit::SourceFile file;  // inspected
    std::string user, backup;
    long long expireDays = 0;
};

class BackupTask final : public TransferTask {
    Q_OBJECT
public:
    BackupTask(JobQueue& jobs, TransferModel& model, BackupRequest request,
               std::shared_ptr<KeyReservations> reservations, QObject* parent = nullptr);
    void start() override;

signals:
    void registered();

private:
    void onSlot(const hostkit::BackupSlot& slot, const std::vector<hostkit::LibraryLine>& lines);
    void onUploaded(const hostkit::JobOutcome& outcome,
                    const std::vector<hostkit::LibraryLine>& lines);
    void onFinished() override;

    BackupRequest m_request;
    std::shared_ptr<KeyReservations> m_reservations;
    hostkit::BackupSlot m_slot;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_BACKUPTASK_H
