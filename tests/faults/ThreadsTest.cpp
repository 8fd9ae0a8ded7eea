// Control across threads, as a host drives it: pause, continue and stop of a
// download and an upload through the manager from a second thread, a stop
// during a pause, a listing stopped through the host's bool from another
// thread, and a web request stopped from another thread. Runs under
// ThreadSanitizer in `make test-tsan` (label tsan).
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <queue>
#include <random>
#include <string>
#include <thread>

#include "Nimbra/COssManager.h"
#include "Nimbra/ControlFlags.h"
#include "Nimbra/WebRequest.h"
#include "tests/support/CompiledInServer.h"
#include "tests/support/DevServer.h"
#include "tests/support/RecordingCallback.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"
#include "tests/support/TestServers.h"

namespace {

using testcb::Event;
using testcb::Payload;
using testcb::RecordingCallback;

constexpr long long kMiB = 1024 * 1024;

// A second thread that runs the actions handed to it, in order. Run() waits
// until the action is done; Post() does not.
class HostThread {
public:
    HostThread() : thread_([this] { Loop(); }) {}
    ~HostThread() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    void Post(std::function<void()> action) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push(std::move(action));
        }
        cv_.notify_all();
    }
    void Run(std::function<void()> action) {
        std::mutex done_mutex;
        std::condition_variable done_cv;
        bool done = false;
        Post([&] {
            action();
            std::lock_guard<std::mutex> lock(done_mutex);
            done = true;
            done_cv.notify_all();
        });
        std::unique_lock<std::mutex> lock(done_mutex);
        done_cv.wait(lock, [&] { return done; });
    }

private:
    void Loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            cv_.wait(lock, [this] { return quit_ || !queue_.empty(); });
            if (queue_.empty()) return;
            std::function<void()> action = std::move(queue_.front());
            queue_.pop();
            lock.unlock();
            action();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::queue<std::function<void()>> queue_;
    bool quit_ = false;
    std::thread thread_;
};

using testdata::RandomBytes;

class Threads : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = compiled_in::StartServer(); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (server_ == nullptr) GTEST_SKIP() << "the compiled-in addresses are not on 127.0.0.1";
        server_->Reset();
    }
    void TearDown() override {
        gbIsNeedPause = false;
        gbIsNeedStopEx = false;
    }

    COssManager* m = COssManager::GetInstance();
    TempDir dir_;
    static DevServer* server_;
};
DevServer* Threads::server_ = nullptr;

TEST_F(Threads, DownloadPausedContinuedAndStoppedFromAnotherThread) {
    const std::string data = RandomBytes(8 * kMiB, 1);
    ASSERT_EQ(server_->StoreRequest("PUT", "/" + server_->bucket() + "/t/down.bin", data).first,
              200);
    const std::string out = dir_.file("down.bin");
    HostThread host;
    RecordingCallback cb;
    int ranges = 0;
    std::chrono::steady_clock::time_point paused_at;
    double paused_seconds = 0;
    cb.hook = [&](int, int percent) {
        if (percent == 100) return;
        ++ranges;
        if (ranges == 2) {
            // Paused before the third range; released from the other thread.
            host.Run([&] { m->PauseDownload(); });
            paused_at = std::chrono::steady_clock::now();
            host.Post([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(1100));
                m->ContinueDownload();
            });
        } else if (ranges == 3) {
            paused_seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - paused_at).count();
        } else if (ranges == 5) {
            host.Run([&] { m->Stop(); });
        }
    };
    EXPECT_TRUE(m->DownloadFile("t/down.bin", out.c_str(), &cb));
    EXPECT_GE(paused_seconds, 1.0) << "the third range waited for the continue";
    EXPECT_EQ(ranges, 5);
    EXPECT_EQ(cb.last(), (Event{0, 100, false}));
    EXPECT_EQ(cb.finals(), 1);
    EXPECT_FALSE(gbIsNeedPause);
    EXPECT_FALSE(gbIsNeedStopEx);
    EXPECT_TRUE(ReadFileBytes(out) == data.substr(0, 5 * kMiB));
}

TEST_F(Threads, UploadStoppedDuringAPauseFromAnotherThread) {
    const std::string data = RandomBytes(30 * kMiB, 2);
    const std::string path = dir_.file("up.bin");
    ASSERT_TRUE(WriteFileBytes(path, data));
    HostThread host;
    RecordingCallback cb;
    cb.hook = [&](int result, int percent) {
        // After the first part: pause, and a moment later stop, both from the
        // other thread while the upload waits in its poll.
        if (result == 0 && percent > 20 && percent < 90) {
            host.Run([&] { m->PauseDownload(); });
            host.Post([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                m->Stop();
            });
        }
    };
    EXPECT_FALSE(m->UploadFile(path.c_str(), static_cast<long long>(data.size()), "t/up.bin", &cb));
    EXPECT_EQ(cb.events(), (std::vector<Event>{{0, 20, false}, {0, 43, false}, {0, 100, false}}));
    EXPECT_FALSE(gbIsNeedPause);
    EXPECT_FALSE(gbIsNeedStopEx);
    // Both flags are clear: the next upload runs through while another thread
    // keeps pausing and continuing it.
    RecordingCallback again;
    again.hook = [&](int result, int percent) {
        if (result == 0 && percent > 20 && percent < 90) {
            host.Run([&] {
                m->PauseDownload();
                m->ContinueDownload();
            });
        }
    };
    EXPECT_TRUE(
        m->UploadFile(path.c_str(), static_cast<long long>(data.size()), "t/up.bin", &again));
    EXPECT_EQ(again.last(), (Event{0, 100, false}));
}

TEST_F(Threads, ListingStoppedThroughTheHostsBoolFromAnotherThread) {
    for (const char* name : {"a", "b", "c", "d", "e"})
        ASSERT_EQ(
            server_->StoreRequest("PUT", "/" + server_->bucket() + "/t/list/" + name, name).first,
            200);
    server_->Settings(R"({"max_list_keys":2})");
    bool stop = false;
    HostThread host;
    RecordingCallback cb(Payload::kPages);
    cb.hook = [&](int result, int percent) {
        if (result == 0 && percent == 0)
            host.Run([&] { __atomic_store_n(&stop, true, __ATOMIC_RELAXED); });
    };
    EXPECT_TRUE(m->ListRemotePath("t/list/", &cb, &stop));
    EXPECT_EQ(cb.pages().size(), 1u);
    EXPECT_EQ(cb.last(), (Event{0, 100, false}));
}

TEST_F(Threads, WebRequestStoppedFromAnotherThread) {
    // The server answers with headers and then holds the body back until the
    // client goes away.
    std::mutex mutex;
    std::condition_variable cv;
    bool answering = false;
    webtest::RawServer server([&](int& fd, const std::string&) {
        webtest::RawServer::send_all(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial");
        {
            std::lock_guard<std::mutex> lock(mutex);
            answering = true;
        }
        cv.notify_all();
        char byte;
        while (recv(fd, &byte, 1, 0) > 0) {
        }
    });
    CWebRequest request;
    HostThread host;
    host.Post([&] {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return answering; });
        request.Stop();
    });
    EXPECT_FALSE(request.DoGet(server.url("/slow")));
    EXPECT_EQ(request.GetCurlCode(), 42);  // CURLE_ABORTED_BY_CALLBACK
    EXPECT_FALSE(request.IsNetError());
}

}  // namespace
