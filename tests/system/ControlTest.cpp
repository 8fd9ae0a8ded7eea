// Pause, continue and stop from a second thread while a transfer runs on the
// first, and pending from before a transfer. Also run under ThreadSanitizer.
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "tests/system/SystemTest.h"

namespace {

using namespace systest;
using Clock = std::chrono::steady_clock;

// A paused transfer looks again every second: it goes on at the first step
// after the continue, and ends at the first step after a stop.
void ExpectHeldOneStep(Clock::time_point paused_at) {
    const double seconds = std::chrono::duration<double>(Clock::now() - paused_at).count();
    EXPECT_TRUE(seconds >= 0.9 && seconds < 1.9) << seconds << " s";
}

class Control : public ServerSuite {
protected:
    // Runs `action` on another thread and waits for it.
    static void OnOtherThread(const std::function<void()>& action) { std::thread(action).join(); }
    // Runs `action` on another thread 200 ms later, while the transfer polls.
    void Later(std::function<void()> action) {
        later_.push_back(std::async(std::launch::async, [action] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            action();
        }));
    }
    // Runs `transfer`, reporting to `cb`: after its first step (progress above
    // `low` percent) it pauses from another thread and continues 200 ms later,
    // after the second it pauses and stops 200 ms later.
    bool PausedThenStopped(RecordingCallback& cb, int low, const std::function<bool()>& transfer) {
        Clock::time_point paused_at;
        int steps = 0;
        cb.hook = [&](int result, int percent) {
            if (result != 0 || percent <= low || percent >= 95 || ++steps > 2) return;
            if (steps == 2) ExpectHeldOneStep(paused_at);
            OnOtherThread([this] { m->PauseDownload(); });
            paused_at = Clock::now();
            Later([this, first = steps == 1] { first ? m->ContinueDownload() : m->Stop(); });
        };
        const bool ok = transfer();
        ExpectHeldOneStep(paused_at);
        return ok;
    }

    std::vector<std::future<void>> later_;  // each waits for its task when destroyed
};

TEST_F(Control, TransfersPausedContinuedAndStoppedFromAnotherThread) {
    const std::string data = RandomBytes(6 * kMiB, 1);
    PutObject("control/down.bin", data);
    const std::string out = dir_.file("down.bin");
    RecordingCallback down;
    EXPECT_TRUE(PausedThenStopped(
        down, -1, [&] { return m->DownloadFile("control/down.bin", out.c_str(), &down); }));
    EXPECT_EQ(down.trace(), "0:15 0:31 0:100");
    EXPECT_TRUE(ReadFileBytes(out) == data.substr(0, 2 * kMiB));

    // Three parts: the pauses hold the upload before its next part.
    const std::string local = MakeFile("up.bin", RandomBytes(20 * kMiB + 1, 2));
    RecordingCallback up;
    EXPECT_FALSE(PausedThenStopped(up, 20, [&] {
        return m->UploadFile(local.c_str(), 20 * kMiB + 1, "control/up.bin", &up);
    }));
    EXPECT_EQ(up.trace(), "0:20 0:54 0:89 0:100");
    EXPECT_EQ(server_->GetStats().requests["UploadPart"], 2);
    const std::string small = MakeFile("small.bin", "small");
    EXPECT_TRUE(m->UploadFile(small.c_str(), 5, "control/up.bin", nullptr));
}

// A range or part under way (held 2 s by the store) always finishes, is
// written or stored and reported, before a stop ends the transfer at the next
// poll; after the last one the transfer completes and the stop stays pending
// until the next transfer's first poll.
TEST_F(Control, RangesAndPartsUnderWayFinishBeforeAStop) {
    const std::string three = RandomBytes(3 * kMiB, 3), two = RandomBytes(2 * kMiB, 4);
    PutObject("control/three.bin", three);
    PutObject("control/two.bin", two);
    const std::string twelve = RandomBytes(12 * kMiB, 5), local = MakeFile("twelve.bin", twelve);
    const std::string out = dir_.file("held.out");
    const struct {
        const char* what;
        const char* key;  // downloaded; null: `twelve` uploaded
        int held_after;   // the percent after which the next range or part is held
        bool paused;      // a pause comes 200 ms before the stop
        const char* trace;
        std::string kept;        // what the download wrote, or the upload stored
        const char* next_trace;  // of the same transfer right after
    } cases[] = {
        {"stop in range 2 of 3", "control/three.bin", 31, false, "0:31 0:63 0:100",
         three.substr(0, 2 * kMiB), "0:31 0:63 0:95 0:100"},
        {"pause and stop in range 2 of 3", "control/three.bin", 31, true, "0:31 0:63 0:100",
         three.substr(0, 2 * kMiB), "0:31 0:63 0:95 0:100"},
        {"stop in the last range", "control/two.bin", 47, false, "0:47 0:95 0:100", two, "0:100"},
        {"stop in the last part", nullptr, 78, false, "0:20 0:78 0:90 0:95 0:100", twelve,
         "0:20 0:100"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto transfer = [&](RecordingCallback* cb) {
            return c.key ? m->DownloadFile(c.key, out.c_str(), cb)
                         : m->UploadFile(local.c_str(), 12 * kMiB, "control/twelve.bin", cb);
        };
        RecordingCallback cb;
        cb.hook = [&](int, int percent) {
            if (percent != c.held_after) return;
            server_->AddFault(c.key ? R"({"method":"GET","action":"delay","delay_ms":2000})"
                                    : R"({"method":"PUT","subresource":"partNumber",
                                         "action":"delay","delay_ms":2000})");
            Later([this, paused = c.paused] {
                if (paused) {
                    m->PauseDownload();
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                }
                m->Stop();
            });
        };
        EXPECT_TRUE(transfer(&cb));
        later_.back().get();
        EXPECT_EQ(cb.trace(), c.trace);
        const std::string object = "/" + server_->bucket() + "/control/twelve.bin";
        EXPECT_TRUE((c.key ? ReadFileBytes(out) : server_->StoreExchange("GET", object).body) ==
                    c.kept);

        const long ranges = server_->GetStats().requests["GetObject"];
        RecordingCallback next;
        EXPECT_EQ(transfer(&next), c.key != nullptr);
        EXPECT_EQ(next.trace(), c.next_trace);
        EXPECT_TRUE(std::string(c.next_trace) != "0:100" ||  // no range before the first poll
                    server_->GetStats().requests["GetObject"] == ranges);
    }
}

// A stop or a pause made while nothing runs waits for the next transfer;
// listings and web API calls leave them alone.
TEST_F(Control, RequestsMadeWhileIdleActOnTheNextTransfer) {
    PutObject("control/idle/object.bin", "abc");
    const std::string local = MakeFile("idle.bin", "idle upload");
    const std::string out = MakeFile("idle.out", "an existing file");
    m->ContinueDownload();  // without a pause: changes nothing
    m->Stop();
    m->Stop();  // twice acts as once
    // A listing runs, and stops only through the host's own flag.
    for (const char* name : {"a", "b", "c"}) PutObject(std::string("control/idle/") + name, name);
    server_->Settings(R"({"max_list_keys":2})");
    bool stop = false;
    RecordingCallback list(Payload::kPages);
    list.hook = [&stop](int, int percent) {
        if (percent == 0) OnOtherThread([&stop] { stop = true; });
    };
    EXPECT_TRUE(m->ListRemotePath("control/idle/", &list, &stop));
    EXPECT_EQ(list.trace(), "0:0+ 0:100");
    EXPECT_EQ(m->GetUserUsedSize("nobody"), 0);
    RecordingCallback up;
    EXPECT_FALSE(m->UploadFile(local.c_str(), 11, "control/idle/up.bin", &up));
    EXPECT_EQ(up.trace(), "0:20 0:100");

    OnOtherThread([this] { m->PauseDownload(); });
    Clock::time_point started;
    RecordingCallback held;
    held.hook = [&](int, int percent) {
        if (held.events().size() == 1) {  // the first poll follows
            started = Clock::now();
            Later([this] { m->ContinueDownload(); });
        }
        if (percent == 90) ExpectHeldOneStep(started);
    };
    EXPECT_TRUE(m->UploadFile(local.c_str(), 11, "control/idle/up.bin", &held));
    EXPECT_EQ(held.trace(), "0:20 0:90 0:95 0:100");

    m->Stop();
    RecordingCallback down;
    EXPECT_TRUE(m->DownloadFile("control/idle/object.bin", out.c_str(), &down));
    EXPECT_EQ(down.trace(), "0:100");
    EXPECT_EQ(ReadFileBytes(out), "");  // truncated before the stop is seen
}

}  // namespace
