#include "RecordsLoader.h"

#include <QPointer>
#include <memory>

#include "Text.h"
#include "hostkit/Diagnosis.h"
#include "hostkit/Names.h"

namespace desktop {
namespace {

// Passes each record on as the library delivers it.
class RecordFeed final : public IOssCallback {
public:
    explicit RecordFeed(std::function<void(const _ST_UserInfo&)> onRecord)
        : m_onRecord(std::move(onRecord)) {}
    void OnProgress(int, int, void* pData) override {
        if (pData != nullptr) m_onRecord(*static_cast<const _ST_UserInfo*>(pData));
    }

private:
    std::function<void(const _ST_UserInfo&)> m_onRecord;
};

}  // namespace

RecordsLoader::RecordsLoader(JobQueue& jobs, RecordsModel& model, QObject* parent)
    : QObject(parent), m_jobs(jobs), m_model(model) {}

void RecordsLoader::load(const QString& user) {
    const quint64 generation = ++m_generation;
    m_model.clear();
    const std::string name = hostkit::QueryEscape(user.toStdString());
    // Copied on the runner's thread, looked at on this one only.
    QPointer<RecordsLoader> self(this);
    auto fetch = [self, jobs = &m_jobs, name, generation](IOssManager& manager) {
        RecordFeed feed([&](const _ST_UserInfo& record) {
            jobs->post([self, generation, record] {
                if (self && self->m_generation == generation) self->m_model.append(record);
            });
        });
        return manager.GetUserUploadInfo(name.c_str(), &feed);
    };
    JobHandlers handlers;
    handlers.finished = [this, user, generation](const hostkit::JobOutcome& outcome,
                                                 const std::vector<hostkit::LibraryLine>& lines) {
        if (generation != m_generation) return;
        const bool ok = outcome.end == hostkit::JobOutcome::End::kDone;
        if (!ok && outcome.end != hostkit::JobOutcome::End::kCancelled)
            emit failed(shown(hostkit::ExplainFailure(
                                  "cannot read the backup records of " + user.toStdString(), lines)
                                  .text));
        emit loaded(ok);
        if (ok) loadUsedSpace(user, generation);
    };
    m_jobs.call(fetch, std::move(handlers));
}

void RecordsLoader::loadUsedSpace(const QString& user, quint64 generation) {
    auto size = std::make_shared<long long>(0);
    const std::string name = hostkit::QueryEscape(user.toStdString());
    JobHandlers handlers;
    handlers.finished = [this, size, generation](const hostkit::JobOutcome&,
                                                 const std::vector<hostkit::LibraryLine>& lines) {
        if (generation != m_generation) return;
        // 0 is also what the library gives for every failure; a failed
        // request shows in its log.
        const bool unknown =
            *size == 0 && hostkit::Diagnose(lines).last == hostkit::Diagnosis::Last::kWebApiFailed;
        emit usedSpace(unknown ? -1 : *size);
    };
    m_jobs.call(
        [size, name](IOssManager& manager) {
            *size = manager.GetUserUsedSize(name.c_str());
            return true;
        },
        std::move(handlers));
}

}  // namespace desktop
