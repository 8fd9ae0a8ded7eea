// The library as a host uses it: libNimbra.so loaded with dlopen, the
// manager from the exported entry point, nimbra-devserver on the
// compiled-in addresses.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Nimbra/Nimbra.h"
#include "tests/support/CompiledInServer.h"
#include "tests/support/DevServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RecordingCallback.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

namespace {

using testcb::Event;
using testcb::Payload;
using testcb::RecordingCallback;

constexpr long long kMiB = 1024 * 1024;

// The library, loaded once for the whole test program.
IOssManager* Manager() {
    static IOssManager* manager = [] {
        void* lib = dlopen(NIMBRA_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) throw std::runtime_error(dlerror());
        using InitFn = void (*)(IOssManager**);
        auto init = reinterpret_cast<InitFn>(dlsym(lib, "InitOssManager"));
        if (init == nullptr) throw std::runtime_error("InitOssManager not exported");
        IOssManager* m = nullptr;
        init(&m);
        return m;
    }();
    return manager;
}

using testdata::RandomBytes;

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = compiled_in::StartServer(); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (server_ == nullptr) GTEST_SKIP() << "the compiled-in addresses are not on 127.0.0.1";
        server_->Reset();
        testlog::Clear();
        m = Manager();
    }
    void TearDown() override {
        if (m) {
            m->ContinueDownload();
        }
    }

    std::string MakeFile(const std::string& name, const std::string& data) {
        std::string path = dir_.file(name);
        EXPECT_TRUE(WriteFileBytes(path, data));
        return path;
    }

    static DevServer* server_;
    IOssManager* m = nullptr;
    TempDir dir_;
};

DevServer* EndToEnd::server_ = nullptr;

std::vector<_ST_RemotePathInfo> ListAll(IOssManager* m, const char* prefix) {
    RecordingCallback cb(Payload::kPages);
    EXPECT_TRUE(m->ListRemotePath(prefix, &cb, nullptr));
    EXPECT_EQ(cb.last(), (Event{0, 100, false}));
    std::vector<_ST_RemotePathInfo> all;
    for (const auto& page : cb.pages()) all.insert(all.end(), page.begin(), page.end());
    return all;
}

TEST_F(EndToEnd, BackupCycle) {
    const std::string data = RandomBytes(25 * kMiB + 123, 1);
    const std::string local = MakeFile("backup.bin", data);
    const char* key = "alice/nightly/backup.bin";

    RecordingCallback up;
    ASSERT_TRUE(m->UploadFile(local.c_str(), static_cast<long long>(data.size()), key, &up));
    // 3 parts: 20 after initiation, 20 + 70 * end / size after each part.
    EXPECT_EQ(up.events(), (std::vector<Event>{{0, 20, false},
                                               {0, 47, false},
                                               {0, 75, false},
                                               {0, 90, false},
                                               {0, 95, false},
                                               {0, 100, false}}));

    auto entries = ListAll(m, "alice/nightly/");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_FALSE(entries[0].bIsDir);
    EXPECT_STREQ(entries[0].szPathName, "backup.bin");
    EXPECT_EQ(entries[0].llFileSize, static_cast<long long>(data.size()));
    EXPECT_NEAR(static_cast<double>(entries[0].tLastModified), static_cast<double>(time(nullptr)),
                120.0);
    auto top = ListAll(m, "/");
    bool saw_folder = false;
    for (const auto& e : top) saw_folder |= e.bIsDir && std::string(e.szPathName) == "alice";
    EXPECT_TRUE(saw_folder);

    const std::string copy = dir_.file("restored.bin");
    RecordingCallback down;
    ASSERT_TRUE(m->DownloadFile(key, copy.c_str(), &down));
    EXPECT_EQ(down.last(), (Event{0, 100, false}));
    EXPECT_EQ(down.finals(), 1);
    EXPECT_EQ(down.events().size(), 26u + 1u);  // 26 ranges, then the end
    EXPECT_TRUE(ReadFileBytes(copy) == data) << "download differs from the upload";

    _ST_UserInfo info;
    std::memset(&info, 0, sizeof info);
    std::strcpy(info.szName, "alice");
    std::strcpy(info.szBackupName, "nightly");
    std::strcpy(info.szDateTime, "2026-12-05 03:00:00");
    std::strcpy(info.szFilePath, key);
    std::strcpy(info.szFileName, "backup.bin");
    info.llFileSize = static_cast<long long>(data.size());
    info.llExpireTime = 30;
    ASSERT_TRUE(m->InsertUserInfo(info));
    EXPECT_TRUE(testlog::Contains("InsertUserInfo", "InsertUserInfo success!"));

    RecordingCallback records(Payload::kRecords);
    ASSERT_TRUE(m->GetUserUploadInfo("alice", &records));
    ASSERT_EQ(records.records().size(), 1u);
    const _ST_UserInfo got = records.records()[0];
    EXPECT_GT(got.nId, 0);
    EXPECT_STREQ(got.szBackupName, "nightly");
    EXPECT_STREQ(got.szFilePath, key);
    EXPECT_EQ(got.llFileSize, info.llFileSize);
    EXPECT_EQ(m->GetUserUsedSize("alice"), info.llFileSize);

    ASSERT_TRUE(m->DeleteRemoteFile("alice", key));
    EXPECT_TRUE(ListAll(m, "alice/nightly/").empty());
    RecordingCallback after(Payload::kRecords);
    EXPECT_TRUE(m->GetUserUploadInfo("alice", &after));
    EXPECT_TRUE(after.records().empty());
    EXPECT_EQ(m->GetUserUsedSize("alice"), 0);
}

TEST_F(EndToEnd, DeleteWithoutUserKeepsRecords) {
    const std::string local = MakeFile("small.bin", "tiny");
    ASSERT_TRUE(m->UploadFile(local.c_str(), 4, "bob/small.bin", nullptr));
    _ST_UserInfo info;
    std::memset(&info, 0, sizeof info);
    std::strcpy(info.szName, "bob");
    info.llFileSize = 4;
    ASSERT_TRUE(m->InsertUserInfo(info));
    ASSERT_TRUE(m->DeleteRemoteFile(nullptr, "bob/small.bin"));
    EXPECT_EQ(m->GetUserUsedSize("bob"), 4);
    ASSERT_TRUE(m->DeleteRemoteFile("bob", "bob/small.bin"));  // a missing key deletes fine
    EXPECT_EQ(m->GetUserUsedSize("bob"), 0);
}

TEST_F(EndToEnd, PendingStopEndsTheNextTransferAtItsFirstPoll) {
    const std::string data = RandomBytes(3 * kMiB, 2);
    const std::string local = MakeFile("stop.bin", data);

    m->Stop();
    m->Stop();  // twice acts as once
    RecordingCallback up;
    EXPECT_FALSE(
        m->UploadFile(local.c_str(), static_cast<long long>(data.size()), "s/stop.bin", &up));
    EXPECT_EQ(up.events(), (std::vector<Event>{{0, 20, false}, {0, 100, false}}));

    // The stop was consumed: the next upload completes.
    ASSERT_TRUE(
        m->UploadFile(local.c_str(), static_cast<long long>(data.size()), "s/stop.bin", nullptr));

    m->Stop();
    RecordingCallback down;
    const std::string out = dir_.file("stopped.bin");
    EXPECT_TRUE(m->DownloadFile("s/stop.bin", out.c_str(), &down));
    EXPECT_EQ(down.events(), (std::vector<Event>{{0, 100, false}}));
    EXPECT_EQ(ReadFileBytes(out), "");

    RecordingCallback again;
    ASSERT_TRUE(m->DownloadFile("s/stop.bin", out.c_str(), &again));
    EXPECT_TRUE(ReadFileBytes(out) == data);
}

TEST_F(EndToEnd, PendingStopSurvivesListingAndWebCalls) {
    const std::string local = MakeFile("l.bin", "x");
    ASSERT_TRUE(m->UploadFile(local.c_str(), 1, "l/x.bin", nullptr));
    m->Stop();
    EXPECT_EQ(ListAll(m, "l/").size(), 1u);
    EXPECT_EQ(m->GetUserUsedSize("nobody"), 0);
    RecordingCallback down;
    EXPECT_TRUE(m->DownloadFile("l/x.bin", dir_.file("l.out").c_str(), &down));
    EXPECT_EQ(down.events(), (std::vector<Event>{{0, 100, false}}));
}

// Drives pause, continue and stop from a second thread at chosen progress
// points. The transfer thread waits in its callback until the controller
// has acted, so each flag change lands before the transfer's next poll.
class Controller {
public:
    explicit Controller(IOssManager* m) : m_(m), thread_([this] { Run(); }) {}
    ~Controller() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

    // Called from the transfer's callback on its progress events.
    void OnProgress(const RecordingCallback& cb, int percent) {
        std::unique_lock<std::mutex> lock(mutex_);
        ++progress_;
        if (progress_ == 2) {
            request_ = Action::kPause;
            events_at_pause_ = cb.events().size();
        } else if (progress_ == 3) {
            request_ = Action::kStop;
        } else {
            return;
        }
        (void)percent;
        cv_.notify_all();
        cv_.wait(lock, [this] { return request_ == Action::kNone; });
    }

    bool paused_without_progress = false;
    double paused_seconds = 0;

private:
    enum class Action { kNone, kPause, kStop };

    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            cv_.wait(lock, [this] { return quit_ || request_ != Action::kNone; });
            if (quit_) return;
            if (request_ == Action::kPause) {
                m_->PauseDownload();
                request_ = Action::kNone;
                cv_.notify_all();
                // While paused the transfer reports nothing; then let it go.
                lock.unlock();
                auto start = std::chrono::steady_clock::now();
                std::this_thread::sleep_for(std::chrono::milliseconds(1300));
                lock.lock();
                paused_without_progress = progress_ == 2;
                m_->ContinueDownload();
                paused_seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            } else if (request_ == Action::kStop) {
                m_->PauseDownload();  // a stop during a pause still ends the transfer
                m_->Stop();
                request_ = Action::kNone;
                cv_.notify_all();
            }
        }
    }

    IOssManager* m_;
    std::mutex mutex_;
    std::condition_variable cv_;
    Action request_ = Action::kNone;
    int progress_ = 0;
    size_t events_at_pause_ = 0;
    bool quit_ = false;
    std::thread thread_;
};

TEST_F(EndToEnd, PauseContinueAndStopFromAnotherThreadDuringUpload) {
    const std::string data = RandomBytes(60 * kMiB, 3);
    const std::string local = MakeFile("big.bin", data);
    RecordingCallback cb;
    Controller controller(m);
    cb.hook = [&](int result, int percent) {
        if (result == 0 && percent > 20 && percent < 95) controller.OnProgress(cb, percent);
    };
    EXPECT_FALSE(
        m->UploadFile(local.c_str(), static_cast<long long>(data.size()), "big/up.bin", &cb));
    EXPECT_TRUE(controller.paused_without_progress);
    // Initiation, three parts (the third acknowledged the stop), then the end.
    EXPECT_EQ(
        cb.events(),
        (std::vector<Event>{
            {0, 20, false}, {0, 31, false}, {0, 43, false}, {0, 55, false}, {0, 100, false}}));
    // Both flags were cleared by the stop: the next upload runs to its end.
    ASSERT_TRUE(
        m->UploadFile(local.c_str(), static_cast<long long>(data.size()), "big/up.bin", nullptr));
}

TEST_F(EndToEnd, PauseContinueAndStopFromAnotherThreadDuringDownload) {
    const std::string data = RandomBytes(60 * kMiB, 4);
    const std::string local = MakeFile("big-src.bin", data);
    ASSERT_TRUE(
        m->UploadFile(local.c_str(), static_cast<long long>(data.size()), "big/down.bin", nullptr));
    const std::string out = dir_.file("big-out.bin");
    RecordingCallback cb;
    Controller controller(m);
    cb.hook = [&](int result, int percent) {
        if (result == 0 && percent < 100) controller.OnProgress(cb, percent);
    };
    EXPECT_TRUE(m->DownloadFile("big/down.bin", out.c_str(), &cb));
    EXPECT_TRUE(controller.paused_without_progress);
    EXPECT_EQ(cb.events(),
              (std::vector<Event>{{0, 1, false}, {0, 3, false}, {0, 4, false}, {0, 100, false}}));
    // The partial file holds exactly the three ranges written.
    EXPECT_TRUE(ReadFileBytes(out) == data.substr(0, 3 * kMiB));
    ASSERT_TRUE(m->DownloadFile("big/down.bin", out.c_str(), nullptr));
    EXPECT_TRUE(ReadFileBytes(out) == data);
}

TEST_F(EndToEnd, CredentialExpiringMidUploadIsRefreshed) {
    const std::string data = RandomBytes(35 * kMiB, 5);
    const std::string local = MakeFile("expiring.bin", data);
    RecordingCallback cb;
    int parts = 0;
    cb.hook = [&](int result, int percent) {
        if (result == 0 && percent > 20 && percent <= 90 && ++parts == 1) {
            server_->ExpireCredentials();  // every part after the first meets an expired token
        }
    };
    ASSERT_TRUE(
        m->UploadFile(local.c_str(), static_cast<long long>(data.size()), "exp/expiring.bin", &cb));
    EXPECT_EQ(cb.last(), (Event{0, 100, false}));
    EXPECT_EQ(cb.finals(), 1);
    EXPECT_TRUE(testlog::Contains("MultiUploadFile", "sts expire , try again!"));
    EXPECT_TRUE(testlog::Contains("MultiUploadFile", "error code: SecurityTokenExpired"));

    const std::string out = dir_.file("expiring.out");
    ASSERT_TRUE(m->DownloadFile("exp/expiring.bin", out.c_str(), nullptr));
    EXPECT_TRUE(ReadFileBytes(out) == data);
}

}  // namespace
