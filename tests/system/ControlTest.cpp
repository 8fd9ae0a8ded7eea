// Pause, continue and stop as a host drives them: from a second thread while
// a download or an upload runs on the first, and pending from before a
// transfer; a listing stopped through the host's own flag. Also run under
// ThreadSanitizer (label tsan).
#include <chrono>
#include <functional>
#include <thread>

#include "tests/system/SystemTest.h"

namespace {

using namespace systest;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class Control : public ServerSuite {
protected:
    void TearDown() override {
        for (auto& t : threads_) t.join();
    }
    // Runs `action` on another thread and waits for it.
    static void OnOtherThread(const std::function<void()>& action) { std::thread(action).join(); }
    // Runs `action` on another thread after `ms` milliseconds.
    void Later(int ms, std::function<void()> action) {
        threads_.emplace_back([ms, action] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            action();
        });
    }
    // Pauses from another thread and lets `then` follow 200 ms later, while
    // the transfer waits in its poll; returns when the pause was set.
    Clock::time_point PauseThen(std::function<void()> then) {
        OnOtherThread([this] { m->PauseDownload(); });
        Later(200, std::move(then));
        return Clock::now();
    }

    std::vector<std::thread> threads_;
    Watchdog watchdog_{m, 30};
};

// A paused transfer looks again every second: it goes on at the first step
// after the continue, and ends at the first step after a stop.
void ExpectHeldOneStep(double seconds) {
    EXPECT_GE(seconds, 0.9);
    EXPECT_LT(seconds, 1.9);
}

TEST_F(Control, DownloadPausedContinuedAndStoppedFromAnotherThread) {
    const std::string data = RandomBytes(6 * kMiB, 1);
    PutObject("control/down.bin", data);
    const std::string out = dir_.file("down.bin");
    Clock::time_point paused_at, stopping_at;
    double held = 0;
    int ranges = 0;
    RecordingCallback cb;
    cb.hook = [&](int, int percent) {
        if (percent == 100) return;
        if (++ranges == 1) {
            paused_at = PauseThen([this] { m->ContinueDownload(); });
        } else if (ranges == 2) {
            held = SecondsSince(paused_at);
            stopping_at = PauseThen([this] { m->Stop(); });
        }
    };
    EXPECT_TRUE(m->DownloadFile("control/down.bin", out.c_str(), &cb));
    ExpectHeldOneStep(SecondsSince(stopping_at));
    ExpectHeldOneStep(held);
    EXPECT_EQ(cb.events(), (std::vector<Event>{{0, 15, false}, {0, 31, false}, {0, 100, false}}));
    EXPECT_TRUE(ReadFileBytes(out) == data.substr(0, 2 * kMiB));

    // The stop cleared both flags: the next download runs through.
    RecordingCallback again;
    EXPECT_TRUE(m->DownloadFile("control/down.bin", out.c_str(), &again));
    EXPECT_EQ(again.events().size(), 7u);
    EXPECT_TRUE(ReadFileBytes(out) == data);
}

TEST_F(Control, UploadPausedContinuedAndStoppedFromAnotherThread) {
    const std::string local = MakeFile("up.bin", RandomBytes(20 * kMiB + 1, 2));  // three parts
    Clock::time_point paused_at, stopping_at;
    double held = 0;
    RecordingCallback cb;
    cb.hook = [&](int result, int percent) {
        if (result != 0 || percent <= 20 || percent >= 95) return;
        if (percent < 60) {
            paused_at = PauseThen([this] { m->ContinueDownload(); });
        } else {
            held = SecondsSince(paused_at);
            stopping_at = PauseThen([this] { m->Stop(); });
        }
    };
    EXPECT_FALSE(m->UploadFile(local.c_str(), 20 * kMiB + 1, "control/up.bin", &cb));
    ExpectHeldOneStep(SecondsSince(stopping_at));
    ExpectHeldOneStep(held);
    EXPECT_EQ(cb.events(), (std::vector<Event>{
                               {0, 20, false}, {0, 54, false}, {0, 89, false}, {0, 100, false}}));
    EXPECT_EQ(server_->GetStats().requests["UploadPart"], 2);
    EXPECT_EQ(server_->GetStats().requests["CompleteMultipartUpload"], 0);

    const std::string small = MakeFile("small.bin", "small");
    RecordingCallback again;
    EXPECT_TRUE(m->UploadFile(small.c_str(), 5, "control/up.bin", &again));
    EXPECT_EQ(again.last(), (Event{0, 100, false}));
}

// A stop or a pause made while nothing runs waits for the next transfer;
// listings and web API calls leave them alone.
TEST_F(Control, RequestsMadeWhileIdleActOnTheNextTransfer) {
    PutObject("control/idle/object.bin", "abc");
    const std::string local = MakeFile("idle.bin", "idle upload");
    const std::string out = dir_.file("idle.out");
    m->ContinueDownload();  // without a pause: changes nothing
    m->Stop();
    m->Stop();  // twice acts as once
    EXPECT_EQ(ListAll("control/idle/").size(), 1u);
    EXPECT_EQ(m->GetUserUsedSize("nobody"), 0);
    RecordingCallback up;
    EXPECT_FALSE(m->UploadFile(local.c_str(), 11, "control/idle/up.bin", &up));
    EXPECT_EQ(up.events(), (std::vector<Event>{{0, 20, false}, {0, 100, false}}));

    OnOtherThread([this] { m->PauseDownload(); });
    Clock::time_point started;
    double waited = 0;
    RecordingCallback held;
    held.hook = [&](int, int percent) {
        if (percent == 20) {  // the first poll follows
            started = Clock::now();
            Later(200, [this] { m->ContinueDownload(); });
        } else if (percent == 90) {
            waited = SecondsSince(started);
        }
    };
    EXPECT_TRUE(m->UploadFile(local.c_str(), 11, "control/idle/up.bin", &held));
    ExpectHeldOneStep(waited);
    EXPECT_EQ(held.events(), (std::vector<Event>{
                                 {0, 20, false}, {0, 90, false}, {0, 95, false}, {0, 100, false}}));

    m->Stop();
    RecordingCallback down;
    EXPECT_TRUE(m->DownloadFile("control/idle/object.bin", out.c_str(), &down));
    EXPECT_EQ(down.events(), (std::vector<Event>{{0, 100, false}}));
    EXPECT_EQ(ReadFileBytes(out), "");
    EXPECT_TRUE(m->DownloadFile("control/idle/object.bin", out.c_str(), nullptr));
    EXPECT_EQ(ReadFileBytes(out), "abc");
}

TEST_F(Control, ListingStoppedThroughTheHostsFlagFromAnotherThread) {
    for (const char* name : {"a", "b", "c", "d", "e"})
        PutObject(std::string("control/list/") + name, name);
    server_->Settings(R"({"max_list_keys":2})");
    bool stop = false;
    RecordingCallback cb(Payload::kPages);
    cb.hook = [&](int, int percent) {
        if (percent == 0) OnOtherThread([&stop] { stop = true; });
    };
    EXPECT_TRUE(m->ListRemotePath("control/list/", &cb, &stop));
    EXPECT_EQ(cb.pages().size(), 1u);
    EXPECT_EQ(cb.last(), (Event{0, 100, false}));
}

}  // namespace
