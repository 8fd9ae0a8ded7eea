#include "JobBridge.h"

#include "LogHub.h"

namespace desktop {

JobBridge::JobBridge(QObject* parent) : QObject(parent) {
    qRegisterMetaType<hostkit::JobOutcome>();
    qRegisterMetaType<std::vector<hostkit::ListEntry>>();
    qRegisterMetaType<std::vector<hostkit::LibraryLine>>();
}

void JobBridge::JobStarted(hostkit::JobId id, hostkit::JobKind) {
    LogHub::instance().forgetRecentLines();
    emit started(id);
}

void JobBridge::JobProgress(hostkit::JobId id, long long bytes, long long total) {
    emit progress(id, bytes, total);
}

void JobBridge::JobPage(hostkit::JobId id, const std::vector<hostkit::ListEntry>& entries) {
    emit page(id, entries);
}

void JobBridge::JobFinished(hostkit::JobId id, const hostkit::JobOutcome& outcome) {
    emit finished(id, outcome, LogHub::instance().recentLines());
}

}  // namespace desktop
