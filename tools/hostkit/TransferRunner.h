// Runs the library's operations one at a time on a thread of its own, for a
// host whose thread must not block: every manager call blocks the thread
// that makes it and notifies from inside the call, and store operations must
// not overlap.
//
// Jobs run in the order they were queued. Their notifications reach the
// host's JobSink on the runner's thread (a Qt host forwards them through
// queued signals), in this order for each job: JobStarted, then JobProgress
// or JobPage as the library reports, then JobFinished; a job cancelled before
// it started gets JobFinished alone. Pause, Resume and Stop act on the running
// job and may be called from any thread, the sink's callbacks included.
//
// A stop that the library did not take (Stop during the last part or range:
// a transfer polls before each one only) stays set in the library and would
// end the next upload or download at its first poll; the library has no call
// that clears it. The runner keeps count: when a Stop it passed on was not
// consumed, the next transfer it runs that ends stopped at its very first
// poll (a download with no range, an upload with no part), without a Stop of
// its own, has consumed that stale stop, and is run again from the start;
// its JobStarted and JobFinished come once (an upload's first try leaves an
// initiated upload without parts on the store, as any stopped upload does).
// Listings and calls leave the stale stop pending, as does a download of an
// empty object (it never polls). A download that ends before its first range
// without a Stop, its own or a stale one, met an object emptied since it was
// listed: it is done, with fewer bytes than its size; run again for a stale
// stop and ending so again, it leaves the stale stop pending. A job's Stop
// reaches the library once, and not while a stale stop is still set (that one
// stops the job) unless the job moves bytes, which shows that none is set; so
// every setting of the flag is accounted for. Hence: route every Stop through
// the runner, never the manager, and keep one runner for the manager's life.
#ifndef HOSTKIT_TRANSFERRUNNER_H
#define HOSTKIT_TRANSFERRUNNER_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Nimbra/Nimbra.h"
#include "hostkit/Listing.h"

namespace hostkit {

using JobId = unsigned long long;

enum class JobKind { kUpload, kDownload, kList, kCall };

struct JobOutcome {
    enum class End {
        kDone,       // the call succeeded: every byte moved (a download: every byte the
                     // object held, fewer than its size if it was emptied since it was
                     // listed), the listing ran to its end
        kStopped,    // it ended on a Stop
        kFailed,     // it failed: `result` tells a network failure (1) from others
        kCancelled,  // cancelled, or dropped by the runner's destruction, before it started
    } end = End::kCancelled;
    int result = 0;       // the final notification's result; 0 when none came, and for calls
    long long bytes = 0;  // transfers: bytes moved, counted from the progress reports
};

// The host's receiver; each call comes on the runner's thread. Data passed in
// is the sink's only for the call's duration (copy what is kept).
class JobSink {
public:
    virtual ~JobSink() = default;
    virtual void JobStarted(JobId, JobKind) {}
    // Uploads and downloads: bytes moved so far of `total`.
    virtual void JobProgress(JobId, long long /*bytes*/, long long /*total*/) {}
    // Listings: one page, converted.
    virtual void JobPage(JobId, const std::vector<ListEntry>& /*page*/) {}
    virtual void JobFinished(JobId, const JobOutcome&) {}
};

class TransferRunner {
public:
    // The manager and the sink must outlive the runner.
    TransferRunner(IOssManager& manager, JobSink& sink);
    // Stops the running job (waiting for it to end: a call waits for its
    // request), reports the queued ones cancelled, and joins the thread.
    ~TransferRunner();
    TransferRunner(const TransferRunner&) = delete;
    TransferRunner& operator=(const TransferRunner&) = delete;

    // Queue a job; each returns its id. `size` is the file's size for an
    // upload and the object's size (as a listing gives it) for a download:
    // the bytes are counted against it, and a download's end is told by it.
    JobId Upload(std::string local_path, long long size, std::string key);
    JobId Download(std::string key, long long size, std::string local_path);
    JobId List(std::string prefix);
    // Any other manager call (records, used space, registration, deletion),
    // run in turn with the rest; `call` runs on the runner's thread and
    // returns whether it succeeded. It cannot be paused or stopped.
    JobId Call(std::function<bool(IOssManager&)> call);

    // The running job: Pause and Resume act on uploads and downloads, Stop
    // on those and on listings. Each returns whether it reached a job. With
    // `only`, they act only while that job runs: a host that heard of a job
    // late (through a queue) never reaches the one after it.
    bool Pause(JobId only = 0);
    bool Resume(JobId only = 0);
    bool Stop(JobId only = 0);
    // Cancels a queued job; false when it has started or is unknown.
    bool Cancel(JobId id);

    // Blocks until every queued job has finished and been reported. Not from
    // the sink's callbacks (they run on the thread it waits for).
    void WaitIdle();
    // Whether a stop the library did not consume is still set there.
    bool StaleStopPending() const;

private:
    struct Job {
        JobId id = 0;
        JobKind kind = JobKind::kCall;
        std::string key;   // object key; listing prefix
        std::string path;  // local file
        long long size = 0;
        std::function<bool(IOssManager&)> call;
        bool cancelled = false;
    };

    JobId Queue(Job job);
    void Work();
    JobOutcome Run(const Job& job);
    JobOutcome RunTransfer(const Job& job);
    bool StopLocked();
    void PassedFirstPoll();
    bool Reaches(JobId only) const { return running_ && (only == 0 || only == running_id_); }

    IOssManager& manager_;
    JobSink& sink_;
    mutable std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable idle_;
    std::deque<Job> queue_;
    JobId next_id_ = 1;
    bool quit_ = false;
    bool busy_ = false;     // a job was taken and is not yet reported finished
    bool running_ = false;  // its library call may be under way: Pause, Resume, Stop reach it
    JobKind running_kind_ = JobKind::kCall;
    JobId running_id_ = 0;
    bool stop_requested_ = false;
    bool list_stop_ = false;   // the running listing's stop request, read by the library
    bool stale_stop_ = false;  // a Stop passed on that no transfer consumed
    std::thread worker_;       // last: started once the rest is built
};

}  // namespace hostkit

#endif  // HOSTKIT_TRANSFERRUNNER_H
