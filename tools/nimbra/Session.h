// The library as one command uses it: the manager, and the kit's runner for
// the operations the user may pause or stop (uploads, downloads, listings),
// each waited for, with the keys and Ctrl-C routed to it.
#ifndef NIMBRA_CLI_SESSION_H
#define NIMBRA_CLI_SESSION_H

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Nimbra/Nimbra.h"
#include "hostkit/TransferRunner.h"

namespace cli {

class ProgressDisplay;

class Session final : private hostkit::JobSink {
public:
    explicit Session(IOssManager& manager);
    ~Session() override;

    IOssManager& manager() { return manager_; }

    // An upload (`kind` kUpload: `path` to `key`) or a download (`key` to
    // `path`) of `size` bytes, shown on `display`, paused, resumed and
    // stopped by the keys p, r and s, stopped by Ctrl-C.
    hostkit::JobOutcome Transfer(hostkit::JobKind kind, const std::string& key,
                                 const std::string& path, long long size, ProgressDisplay& display);
    // A listing of `prefix`, each page handed to `on_page` as it arrives;
    // Ctrl-C stops it.
    hostkit::JobOutcome List(const std::string& prefix,
                             std::function<void(const std::vector<hostkit::ListEntry>&)> on_page);

private:
    void JobStarted(hostkit::JobId, hostkit::JobKind) override;
    void JobProgress(hostkit::JobId, long long bytes, long long total) override;
    void JobPage(hostkit::JobId, const std::vector<hostkit::ListEntry>& page) override;
    void JobFinished(hostkit::JobId, const hostkit::JobOutcome& outcome) override;
    // Queues the job through `queue` and waits for it; with `keys`, p, r
    // and s work too.
    hostkit::JobOutcome Run(bool keys, const std::function<void()>& queue);
    // Stop, pause and resume for the job of Run; one asked for before the
    // runner started the job is kept until it does.
    void Stop();
    void Pause(bool paused);

    IOssManager& manager_;
    // Set before a job is queued, read by the runner's thread during it.
    ProgressDisplay* display_ = nullptr;
    std::function<void(const std::vector<hostkit::ListEntry>&)> on_page_;
    hostkit::JobOutcome outcome_;
    std::mutex pending_mutex_;
    bool pending_stop_ = false, pending_pause_ = false;
    hostkit::TransferRunner runner_;  // last: its thread calls the members above
};

}  // namespace cli

#endif  // NIMBRA_CLI_SESSION_H
