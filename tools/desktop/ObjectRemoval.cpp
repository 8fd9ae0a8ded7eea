#include "ObjectRemoval.h"

#include <memory>
#include <vector>

#include "JobQueue.h"
#include "Text.h"
#include "hostkit/Diagnosis.h"
#include "hostkit/Names.h"
#include "hostkit/Records.h"

namespace desktop {
namespace {

struct Removal {
    std::string key, user;
    bool recordsRead = false;
    std::vector<_ST_UserInfo> left;  // the user's records after the deletion
};

}  // namespace

void removeObject(JobQueue& jobs, const QString& key, const QString& user,
                  std::function<void(bool deleted, const QString& text)> done) {
    auto removal = std::make_shared<Removal>();
    removal->key = key.toStdString();
    removal->user = user.toStdString();
    auto call = [removal](IOssManager& manager) {
        const std::string escaped = hostkit::QueryEscape(removal->user);
        if (!manager.DeleteRemoteFile(removal->user.empty() ? nullptr : escaped.c_str(),
                                      removal->key.c_str()))
            return false;
        if (!removal->user.empty())
            removal->recordsRead = hostkit::ReadRecords(manager, removal->user, removal->left);
        return true;
    };
    JobHandlers handlers;
    handlers.finished = [removal, done](const hostkit::JobOutcome& outcome,
                                        const std::vector<hostkit::LibraryLine>& lines) {
        const Removal& r = *removal;
        if (outcome.end != hostkit::JobOutcome::End::kDone)
            return done(false,
                        shown(hostkit::ExplainFailure("cannot delete " + r.key, lines).text));
        QString text = QObject::tr("Deleted %1").arg(shown(r.key));
        if (r.user.empty()) return done(true, text);
        if (!r.recordsRead) {
            text += QObject::tr("; whether the records of %1 went could not be read")
                        .arg(shown(r.user));
        } else if (!r.left.empty()) {
            text += QObject::tr("; the web API kept %1 of the records of %2")
                        .arg(r.left.size())
                        .arg(shown(r.user));
        } else {
            text += QObject::tr(" and every backup record of %1").arg(shown(r.user));
        }
        done(true, text);
    };
    jobs.call(call, std::move(handlers));
}

}  // namespace desktop
