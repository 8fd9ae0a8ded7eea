// The transfer runner against a manager that behaves as the library does,
// without a network: pause and stop flags polled before each part or range
// (a stop is consumed only by a poll, which then clears both flags), one
// report per part or range, listings that read their own stop request.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "hostkit/Backups.h"
#include "hostkit/TransferRunner.h"

namespace {

using namespace hostkit;

constexpr long long kMiB = 1 << 20;

class FakeManager final : public IOssManager {
public:
    void PauseDownload() override { Set(pause_, true); }
    void ContinueDownload() override { Set(pause_, false); }
    void Stop() override { Set(stop_, true); }
    bool InsertUserInfo(_ST_UserInfo) override { return true; }
    long long GetUserUsedSize(const char*) override { return 0; }
    bool GetUserUploadInfo(const char*, IOssCallback*) override { return true; }
    bool DeleteRemoteFile(const char*, const char*) override { return true; }

    bool ListRemotePath(const char*, IOssCallback* callback, bool* stop) override {
        for (const char* name : {"a", "b", "c"}) {
            if (__atomic_load_n(stop, __ATOMIC_SEQ_CST)) break;
            std::vector<_ST_RemotePathInfo> page(1);
            std::snprintf(page[0].szPathName, sizeof page[0].szPathName, "%s", name);
            callback->OnProgress(0, 0, &page);
        }
        callback->OnProgress(0, 100, nullptr);
        return true;
    }

    // Objects "a" (3 MiB) and "b" (2 MiB), "once" (1 MiB, emptied after its
    // first download); "gone" fails, any other is empty.
    bool DownloadFile(const char* name, const char*, IOssCallback* callback) override {
        const std::string key = name;
        const int call = ++calls_[key];  // read once the runner is idle
        const long long size = key == "a"                   ? 3 * kMiB
                               : key == "b"                 ? 2 * kMiB
                               : key == "once" && call == 1 ? kMiB
                                                            : 0;
        for (long long start = 0; start < size && !Poll(); start += kMiB) {
            callback->OnProgress(0, static_cast<int>(95 * std::min(start + kMiB, size) / size),
                                 nullptr);
        }
        callback->OnProgress(key == "gone" ? -1 : 0, 100, nullptr);
        return key != "gone";
    }

    bool UploadFile(const char*, long long size, const char* key, IOssCallback* callback) override {
        ++calls_[key];
        callback->OnProgress(0, 20, nullptr);
        for (long long offset = 0; offset < size; offset += 10 * kMiB) {
            if (Poll()) {
                callback->OnProgress(0, 100, nullptr);
                return false;
            }
            const long long end = std::min(offset + 10 * kMiB, size);
            callback->OnProgress(0, static_cast<int>(20 + 70.0 * end / size), nullptr);
        }
        callback->OnProgress(0, 95, nullptr);
        callback->OnProgress(0, 100, nullptr);
        return true;
    }

    // Runs (on the runner's thread) right after a poll consumed a stop.
    std::function<void()> on_stopped;

    // Blocks until a transfer waits at a poll for its pause to end.
    void WaitUntilHeld() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return held_; });
    }
    std::string flags() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::string(pause_ ? "pause " : "") + (stop_ ? "stop" : "");
    }
    int calls(const std::string& key) { return calls_[key]; }

private:
    void Set(bool& flag, bool value) {
        std::lock_guard<std::mutex> lock(mutex_);
        flag = value;
        changed_.notify_all();
    }
    // As the library's poll: waits while paused; a stop clears both flags.
    bool Poll() {
        std::unique_lock<std::mutex> lock(mutex_);
        held_ = pause_ && !stop_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !pause_ || stop_; });
        held_ = false;
        if (!stop_) return false;
        stop_ = pause_ = false;
        lock.unlock();
        if (on_stopped) on_stopped();
        return true;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool pause_ = false, stop_ = false, held_ = false;
    std::map<std::string, int> calls_;
};

// Every notification as text; the hooks run on the runner's thread.
class Trace final : public JobSink {
public:
    std::function<void(JobId)> on_start;
    std::function<void(JobId, long long bytes, long long total)> on_progress;
    std::function<void()> on_page;

    void JobStarted(JobId id, JobKind) override {
        Add(id, "started");
        if (on_start) on_start(id);
    }
    void JobProgress(JobId id, long long bytes, long long total) override {
        Add(id, std::to_string(bytes / kMiB) + "M");
        if (on_progress) on_progress(id, bytes, total);
    }
    void JobPage(JobId id, const std::vector<ListEntry>& page) override {
        Add(id, "page " + page.at(0).name);
        if (on_page) on_page();
    }
    void JobFinished(JobId id, const JobOutcome& o) override {
        const char* const ends[] = {"done", "stopped", "failed", "cancelled"};
        const std::string end = ends[static_cast<int>(o.end)];
        Add(id, end + " " + std::to_string(o.result) + " " + std::to_string(o.bytes / kMiB) + "M");
        finished += (finished.empty() ? "" : ", ") + std::to_string(id) + " " + end + " " +
                    std::to_string(o.bytes / kMiB) + "M";
    }
    std::string all, finished;  // read once the runner is idle

private:
    void Add(JobId id, const std::string& what) {
        all += (all.empty() ? "" : ", ") + std::to_string(id) + " " + what;
    }
};

TEST(TransferRunner, JobsRunInTurnAndReportInOrder) {
    FakeManager fake;
    Trace trace;
    TransferRunner runner(fake, trace);
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    runner.Call([opened](IOssManager&) {
        opened.wait();
        return true;
    });
    runner.Download("a", 3 * kMiB, "/a");
    const JobId dropped = runner.Upload("/u", 25 * kMiB, "u");
    runner.List("p/");
    runner.Download("gone", kMiB, "/g");
    runner.Call([](IOssManager&) -> bool { throw std::runtime_error("no"); });
    EXPECT_TRUE(runner.Cancel(dropped));
    EXPECT_FALSE(runner.Cancel(dropped));
    EXPECT_FALSE(runner.Cancel(99));
    gate.set_value();
    runner.WaitIdle();
    EXPECT_EQ(trace.all,
              "1 started, 1 done 0 0M, 2 started, 2 1M, 2 2M, 2 3M, 2 done 0 3M, 3 cancelled 0 0M, "
              "4 started, 4 page a, 4 page b, 4 page c, 4 done 0 0M, 5 started, 5 failed -1 0M, "
              "6 started, 6 failed 0 0M");
    EXPECT_EQ(fake.calls("u"), 0);
}

TEST(TransferRunner, PauseResumeAndStopReachTheRunningJob) {
    FakeManager fake;
    Trace trace;
    {
        TransferRunner runner(fake, trace);
        EXPECT_FALSE(runner.Pause() || runner.Resume() || runner.Stop());  // nothing runs
        // Paused after its first range, a download waits at its next poll:
        // resumed, it completes; stopped, it ends there. A pause pressed after
        // the last poll does not hold the next transfer.
        trace.on_progress = [&](JobId, long long bytes, long long total) {
            if (bytes == kMiB || bytes == total) {
                EXPECT_TRUE(runner.Pause());
            }
        };
        runner.Download("b", 2 * kMiB, "/b");
        fake.WaitUntilHeld();
        EXPECT_TRUE(runner.Resume());
        runner.WaitIdle();
        EXPECT_EQ(fake.flags(), "");
        const JobId a = runner.Download("a", 3 * kMiB, "/a");
        fake.WaitUntilHeld();
        // Named, they reach only that job.
        EXPECT_FALSE(runner.Stop(a + 1) || runner.Resume(a + 1));
        EXPECT_TRUE(runner.Stop(a));
        EXPECT_FALSE(runner.Pause());  // a stop is on its way
        runner.WaitIdle();
        EXPECT_EQ(fake.flags(), "");
        // A listing ends through its own stop request; a call cannot stop.
        trace.on_progress = nullptr;
        trace.on_page = [&] { EXPECT_TRUE(!runner.Pause() && runner.Stop()); };
        runner.List("p/");
        runner.Call([&](IOssManager&) { return !runner.Stop() && !runner.Pause(); });
        runner.WaitIdle();
        EXPECT_EQ(trace.finished, "1 done 2M, 2 stopped 1M, 3 stopped 0M, 4 done 0M");

        // Destroyed with a paused download and one queued: the one is
        // stopped, the other dropped.
        trace.finished.clear();
        trace.on_page = nullptr;
        trace.on_progress = [&](JobId, long long bytes, long long) {
            if (bytes == kMiB) runner.Pause();
        };
        runner.Download("a", 3 * kMiB, "/a");
        runner.Download("b", 2 * kMiB, "/b");
        fake.WaitUntilHeld();
    }
    EXPECT_EQ(trace.finished, "5 stopped 1M, 6 cancelled 0M");
    EXPECT_EQ(fake.flags(), "");
}

// A Stop during the last range or part is not consumed; the runner makes it
// good: the next transfer that it stops at the very start runs again. Every
// setting of the library's flag is accounted for, a Stop that comes right
// after a poll consumed one included. A download that seems stopped without
// any Stop met an object emptied since it was listed: it is done.
TEST(TransferRunner, AStopTheLibraryDidNotTakeIsMadeGood) {
    FakeManager fake;
    Trace trace;
    // Where each job is stopped: at these bytes, (-1) as it starts, (-2) at
    // 1 MiB and again right after its poll took the stop, or (-3) by a flag
    // set past the runner as it starts.
    std::map<JobId, long long> stop_at = {
        {1, 3 * kMiB},  {5, 25 * kMiB}, {6, 10 * kMiB}, {7, 3 * kMiB},  {8, -1},  {10, -2},
        {11, 3 * kMiB}, {12, -2},       {14, 3 * kMiB}, {17, 3 * kMiB}, {19, -1}, {20, -3}};
    TransferRunner runner(fake, trace);
    JobId running = 0;
    trace.on_start = [&](JobId id) {
        running = id;
        if (stop_at.count(id) && stop_at[id] == -1) runner.Stop();
        if (stop_at.count(id) && stop_at[id] == -3) fake.Stop();
    };
    trace.on_progress = [&](JobId id, long long bytes, long long) {
        if (stop_at.count(id) && (stop_at[id] == bytes || (stop_at[id] == -2 && bytes == kMiB)))
            runner.Stop();
    };
    fake.on_stopped = [&] {
        if (stop_at[running] == -2) runner.Stop();
    };
    runner.Download("a", 3 * kMiB, "/a");      // 1: stopped too late
    runner.List("p/");                         // 2: listings leave it set
    runner.Download("empty", 0, "/e");         // 3: no range, no poll
    runner.Download("b", 2 * kMiB, "/b");      // 4: takes it at the start, runs again
    runner.Upload("/u", 25 * kMiB, "u");       // 5: stopped too late
    runner.Upload("/v", 25 * kMiB, "v");       // 6: runs again, then stopped by its own
    runner.Download("a", 3 * kMiB, "/a");      // 7: stopped too late
    runner.Download("b", 2 * kMiB, "/b");      // 8: stopped as it starts: no second run
    runner.Download("b", 2 * kMiB, "/b");      // 9: runs once
    runner.Download("a", 3 * kMiB, "/a");      // 10: stopped twice
    runner.Download("a", 3 * kMiB, "/a");      // 11: stopped too late
    runner.Download("b", 2 * kMiB, "/b");      // 12: takes it at the start, then stopped
    runner.Download("empty", kMiB, "/e");      // 13: emptied since listed: done, short
    runner.Download("a", 3 * kMiB, "/a");      // 14: stopped too late
    runner.Download("empty", 2 * kMiB, "/e");  // 15: no poll, twice: leaves it set
    runner.Download("b", 2 * kMiB, "/b");      // 16: takes it at the start, runs again
    runner.Download("a", 3 * kMiB, "/a");      // 17: stopped too late
    runner.Download("once", kMiB, "/o");       // 18: takes it, then finds the object emptied
    runner.Download("a", 3 * kMiB, "/a");      // 19: its Stop goes once it moved bytes
    runner.Upload("/w", 25 * kMiB, "w");       // 20: an upload stopped stays stopped
    runner.WaitIdle();
    EXPECT_EQ(trace.finished,
              "1 done 3M, 2 done 0M, 3 done 0M, 4 done 2M, 5 done 25M, 6 stopped 10M, 7 done 3M, "
              "8 stopped 0M, 9 done 2M, 10 stopped 1M, 11 done 3M, 12 stopped 0M, 13 done 0M, "
              "14 done 3M, 15 done 0M, 16 done 2M, 17 done 3M, 18 done 0M, 19 stopped 1M, "
              "20 stopped 0M");
    EXPECT_EQ(fake.calls("b"), 7);
    EXPECT_EQ(fake.calls("empty"), 4);
    EXPECT_EQ(fake.calls("once"), 2);
    EXPECT_EQ(fake.calls("v"), 2);
    EXPECT_FALSE(runner.StaleStopPending());
    EXPECT_EQ(fake.flags(), "");
}

// Pause, Resume and Stop from another thread at any moment: every job ends
// once, no pause outlives its job, and the library's stop flag is left set
// exactly when the runner counts a stale stop.
TEST(TransferRunner, ControlsFromAnotherThreadAtAnyMoment) {
    FakeManager fake;
    Trace trace;
    TransferRunner runner(fake, trace);
    std::atomic<bool> idle{false};
    std::thread controls([&] {
        for (unsigned i = 0; !idle; ++i) {
            i % 2 ? runner.Resume() : i % 5 ? runner.Pause() : runner.Stop();
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 40; ++i) {
        runner.Download(i % 3 ? "a" : "empty", i % 3 ? 3 * kMiB : 0, "/a");
        runner.Upload("/u", 25 * kMiB, "u");
    }
    runner.WaitIdle();
    idle = true;
    controls.join();
    EXPECT_EQ(std::count(trace.finished.begin(), trace.finished.end(), ','), 79);
    EXPECT_EQ(fake.flags(), runner.StaleStopPending() ? "stop" : "");
}

// A backup's key is one no object has (the fake lists "a", "b" and "c" in
// every folder) and no other backup of this host is about to take.
TEST(HostKitBackups, SlotsSkipTakenAndReservedKeys) {
    FakeManager fake;
    EXPECT_EQ(FindBackupSlot(fake, "u", "b", "a").state, BackupSlot::State::kTaken);
    EXPECT_EQ(FindBackupSlot(fake, "u", "b", "").state, BackupSlot::State::kBadKey);
    std::vector<std::string> asked;
    const BackupSlot slot = FindBackupSlot(fake, "u", "b", "d", [&](const std::string& key) {
        asked.push_back(key);
        return asked.size() == 1;
    });
    EXPECT_EQ(slot.state, BackupSlot::State::kFree);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(slot.key, asked[1]);
    EXPECT_NE(slot.key, asked[0]);
}

}  // namespace
