// A restore of a backup record, or a download of an object from the store
// browser: the object looked up and its size checked against the record, its
// bytes written to a temporary file beside the target, and that file put in
// place once complete (hostkit::PendingFile), never over a file the user did
// not agree to replace.
#ifndef NIMBRA_DESKTOP_RESTORETASK_H
#define NIMBRA_DESKTOP_RESTORETASK_H

#include <memory>
#include <string>

#include "TransferTask.h"
#include "hostkit/FileTarget.h"
#include "hostkit/PendingFile.h"

namespace desktop {

struct RestoreRequest {
    std::string key;
    long long size = 0;  // the record's, or the listing's
    hostkit::FileTarget target;
    bool lookUpFirst = false;  // a record's: the object must be there, of its size
    std::string what;          // "the backup 'weekly' of ann from ...", for messages
};

class RestoreTask final : public TransferTask {
    Q_OBJECT
public:
    RestoreTask(JobQueue& jobs, TransferModel& model, RestoreRequest request,
                QObject* parent = nullptr);
    void start() override;
    void discardLocalFiles() override { m_pending.reset(); }
    const std::string& targetPath() const { return m_request.target.path; }

signals:
    // `path` was put in place.
    void restored(const QString& path);

private:
    void download();
    void onDownloaded(const hostkit::JobOutcome& outcome,
                      const std::vector<hostkit::LibraryLine>& lines);
    void onFinished() override { m_pending.reset(); }

    RestoreRequest m_request;
    std::unique_ptr<hostkit::PendingFile> m_pending;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_RESTORETASK_H
