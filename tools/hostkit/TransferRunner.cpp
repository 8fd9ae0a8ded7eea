#include "hostkit/TransferRunner.h"

#include <exception>

#include "hostkit/TransferCount.h"

namespace hostkit {
namespace {

bool IsTransfer(JobKind kind) {
    return kind == JobKind::kUpload || kind == JobKind::kDownload;
}

// Counts a transfer's notifications and passes its bytes on.
class ProgressRelay final : public IOssCallback {
public:
    ProgressRelay(Direction direction, long long total, std::function<void(long long)> on_bytes)
        : count_(direction, total), on_bytes_(std::move(on_bytes)) {}
    void OnProgress(int nResult, int nPercent, void*) override {
        if (count_.Take(nResult, nPercent)) on_bytes_(count_.bytes());
    }
    const TransferCount& count() const { return count_; }

private:
    TransferCount count_;
    std::function<void(long long)> on_bytes_;
};

JobOutcome::End EndOf(TransferEnd end) {
    switch (end) {
        case TransferEnd::kCompleted:
            return JobOutcome::End::kDone;
        case TransferEnd::kStopped:
            return JobOutcome::End::kStopped;
        case TransferEnd::kFailed:
            break;
    }
    return JobOutcome::End::kFailed;
}

}  // namespace

TransferRunner::TransferRunner(IOssManager& manager, JobSink& sink)
    : manager_(manager), sink_(sink) {
    worker_ = std::thread(&TransferRunner::Work, this);
}

TransferRunner::~TransferRunner() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        StopLocked();
    }
    work_ready_.notify_all();
    worker_.join();
}

JobId TransferRunner::Upload(std::string local_path, long long size, std::string key) {
    return Queue({0, JobKind::kUpload, std::move(key), std::move(local_path), size, nullptr});
}

JobId TransferRunner::Download(std::string key, long long size, std::string local_path) {
    return Queue({0, JobKind::kDownload, std::move(key), std::move(local_path), size, nullptr});
}

JobId TransferRunner::List(std::string prefix) {
    return Queue({0, JobKind::kList, std::move(prefix), "", 0, nullptr});
}

JobId TransferRunner::Call(std::function<bool(IOssManager&)> call) {
    return Queue({0, JobKind::kCall, "", "", 0, std::move(call)});
}

JobId TransferRunner::Queue(Job job) {
    std::lock_guard<std::mutex> lock(mutex_);
    job.id = next_id_++;
    queue_.push_back(std::move(job));
    work_ready_.notify_one();
    return queue_.back().id;
}

bool TransferRunner::Pause(JobId only) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Reaches(only) || !IsTransfer(running_kind_) || stop_requested_) return false;
    manager_.PauseDownload();
    return true;
}

bool TransferRunner::Resume(JobId only) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Reaches(only) || !IsTransfer(running_kind_)) return false;
    manager_.ContinueDownload();
    return true;
}

bool TransferRunner::Stop(JobId only) {
    std::lock_guard<std::mutex> lock(mutex_);
    return Reaches(only) && StopLocked();
}

void TransferRunner::PassedFirstPoll() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stale_stop_) return;
    // A transfer that moved bytes found no stop at its first poll, so none
    // is set: the stale one counted was taken (by the first run of a
    // download that met an object emptied just after). This job's own Stop,
    // held back for the stale one, goes now.
    stale_stop_ = false;
    if (stop_requested_) manager_.Stop();
}

bool TransferRunner::StopLocked() {
    if (!running_ || running_kind_ == JobKind::kCall) return false;
    // The library's flag is set once per job, so that every setting is
    // accounted for: a second Stop, once the first was consumed, would leave
    // it set unseen. A stale stop still set does this job's stopping (if the
    // job's first poll took it already, the job reports stopped).
    if (stop_requested_) return true;
    stop_requested_ = true;
    if (running_kind_ == JobKind::kList) {
        // The listing reads its flag afresh before each page and entry.
        __atomic_store_n(&list_stop_, true, __ATOMIC_SEQ_CST);
    } else if (!stale_stop_) {
        manager_.Stop();
    }
    return true;
}

bool TransferRunner::Cancel(JobId id) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Job& job : queue_) {
        if (job.id != id || job.cancelled) continue;
        job.cancelled = true;
        return true;
    }
    return false;
}

void TransferRunner::WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

bool TransferRunner::StaleStopPending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stale_stop_;
}

void TransferRunner::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_ready_.wait(lock, [this] { return quit_ || !queue_.empty(); });
        if (queue_.empty()) return;
        const Job job = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        const bool run = !job.cancelled && !quit_;
        if (run) {
            running_ = true;
            running_kind_ = job.kind;
            running_id_ = job.id;
            stop_requested_ = false;
            list_stop_ = false;
        }
        lock.unlock();
        JobOutcome outcome;
        if (run) {
            sink_.JobStarted(job.id, job.kind);
            outcome = Run(job);
        }
        sink_.JobFinished(job.id, outcome);
        lock.lock();
        busy_ = false;
        if (queue_.empty()) idle_.notify_all();
    }
}

JobOutcome TransferRunner::Run(const Job& job) {
    if (IsTransfer(job.kind)) return RunTransfer(job);
    JobOutcome outcome;
    bool ok = false;
    ListPageCallback pages(
        [&](const std::vector<ListEntry>& page) { sink_.JobPage(job.id, page); });
    if (job.kind == JobKind::kList) {
        ok = manager_.ListRemotePath(job.key.c_str(), &pages, &list_stop_);
        outcome.result = pages.final_report().result;
    } else {
        try {
            ok = job.call(manager_);
        } catch (const std::exception&) {
            ok = false;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    outcome.end = !ok               ? JobOutcome::End::kFailed
                  : stop_requested_ ? JobOutcome::End::kStopped
                                    : JobOutcome::End::kDone;
    return outcome;
}

JobOutcome TransferRunner::RunTransfer(const Job& job) {
    const Direction direction =
        job.kind == JobKind::kUpload ? Direction::kUpload : Direction::kDownload;
    bool retried = false;  // run again after it consumed a stale stop
    for (;;) {
        ProgressRelay relay(direction, job.size, [&](long long bytes) {
            if (bytes > 0) PassedFirstPoll();
            sink_.JobProgress(job.id, bytes, job.size);
        });
        const bool returned =
            direction == Direction::kUpload
                ? manager_.UploadFile(job.path.c_str(), job.size, job.key.c_str(), &relay)
                : manager_.DownloadFile(job.key.c_str(), job.path.c_str(), &relay);
        const TransferCount& count = relay.count();
        const TransferEnd end = count.End(returned);

        std::lock_guard<std::mutex> lock(mutex_);
        // A pause asked for after the call's last poll must not hold the next
        // transfer.
        manager_.ContinueDownload();
        JobOutcome outcome;
        outcome.end = EndOf(end);
        if (end == TransferEnd::kStopped) {
            // The library consumed a stop and cleared it: this job's, or one
            // an earlier transfer left (then this job has yet to run). With
            // neither, a download met an object emptied since it was listed:
            // it ended before its first poll, done with what it wrote.
            const bool stale = stale_stop_;
            stale_stop_ = false;
            const bool at_start = !stop_requested_ && count.StoppedAtStart(returned);
            if (stale && at_start) {
                retried = true;
                continue;
            }
            if (direction == Direction::kDownload && !stop_requested_ && !stale) {
                // Run again for a stale stop and ending so again, its first
                // run most likely met the emptied object too, leaving that
                // stop set (had it taken it after all, PassedFirstPoll
                // notices with the next transfer that moves bytes).
                stale_stop_ = retried && at_start;
                outcome.end = JobOutcome::End::kDone;
            }
        } else if (stop_requested_) {
            // The stop came after the last poll: it is still set.
            stale_stop_ = true;
        }
        running_ = false;
        outcome.result = count.final_report().result;
        outcome.bytes = count.bytes();
        return outcome;
    }
}

}  // namespace hostkit
