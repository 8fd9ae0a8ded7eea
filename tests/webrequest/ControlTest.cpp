// Stopping a transfer, closing the connection, and sending the body to a
// caller's stream.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Nimbra/WebRequest.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/webrequest/SendUrlLog.h"
#include "tests/support/TestServers.h"

namespace {

using webtest::ExpectSingleSendUrlLog;
using webtest::HttpServer;

// Chunks of a slow response, released one at a time by the test.
struct ChunkGate {
    std::mutex mutex;
    std::condition_variable changed;
    int allowed = 1;
    int sent = 0;
    bool finished = false;

    void allow(int count) {
        std::lock_guard<std::mutex> lock(mutex);
        allowed = count;
        changed.notify_all();
    }
    void finish() {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        changed.notify_all();
    }
};

std::string BigBody() {
    std::string body;
    for (int i = 0; body.size() < 1500 * 1024; ++i) body += "line " + std::to_string(i) + "\n";
    return body;
}

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.get("/slow", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [this](size_t, httplib::DataSink& sink) {
                std::unique_lock<std::mutex> lock(gate_.mutex);
                gate_.changed.wait_for(lock, std::chrono::seconds(30), [&] {
                    return gate_.sent < gate_.allowed || gate_.finished;
                });
                if (gate_.finished || gate_.sent >= gate_.allowed) return false;
                std::string chunk = "chunk" + std::to_string(gate_.sent);
                ++gate_.sent;
                gate_.changed.notify_all();
                lock.unlock();
                return sink.write(chunk.data(), chunk.size());
            });
        });
        server_.get("/ok", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("fine", "text/plain");
        });
        server_.get("/big", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(big_, "application/octet-stream");
        });
        server_.start();
        testlog::Clear();
    }

    void TearDown() override { gate_.finish(); }

    static inline const std::string big_ = BigBody();
    ChunkGate gate_;
    HttpServer server_;
};

// A stream that hands every write to the test at once, so the test knows
// when the client has taken in a piece of the body.
class ArrivalStream {
public:
    ArrivalStream() {
        cookie_io_functions_t io{};
        io.write = &ArrivalStream::Write;
        fp_ = fopencookie(this, "w", io);
        if (fp_ != nullptr) setvbuf(fp_, nullptr, _IONBF, 0);
    }
    ~ArrivalStream() {
        if (fp_ != nullptr) fclose(fp_);
    }
    FILE* fp() const { return fp_; }
    bool wait_for(const std::string& text) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30),
                                 [&] { return data_.find(text) != std::string::npos; });
    }
    std::string data() {
        std::lock_guard<std::mutex> lock(mutex_);
        return data_;
    }

private:
    static ssize_t Write(void* cookie, const char* buf, size_t size) {
        auto* self = static_cast<ArrivalStream*>(cookie);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->data_.append(buf, size);
        self->changed_.notify_all();
        return static_cast<ssize_t>(size);
    }

    FILE* fp_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string data_;
};

TEST_F(ControlTest, StopFromAnotherThreadAbortsTheTransfer) {
    ArrivalStream arrivals;
    ASSERT_NE(arrivals.fp(), nullptr);
    CWebRequest request;
    request.SetWriteFp(arrivals.fp());
    bool result = true;
    std::thread transfer([&] { result = request.DoGet(server_.url("/slow")); });
    ASSERT_TRUE(arrivals.wait_for("chunk0"));  // the response is under way
    request.Stop();
    gate_.allow(2);  // more data wakes the transfer loop at once
    transfer.join();
    gate_.finish();

    EXPECT_FALSE(result);
    EXPECT_EQ(request.GetCurlCode(), CURLE_ABORTED_BY_CALLBACK);
    EXPECT_EQ(request.GetStatusCode(), 200);
    EXPECT_FALSE(request.IsNetError());
    EXPECT_EQ(std::string("chunk0chunk1").rfind(arrivals.data(), 0), 0u) << arrivals.data();
    ExpectSingleSendUrlLog("ERR:res = 42,rescode = 200\n");
}

TEST_F(ControlTest, StopBeforeTheRequestIsForgotten) {
    CWebRequest request;
    request.Stop();
    EXPECT_TRUE(request.DoGet(server_.url("/ok")));
    EXPECT_EQ(request.GetResultText(), "fine");
    EXPECT_EQ(request.GetCurlCode(), 0);
}

TEST_F(ControlTest, CloseConnFailsLaterRequestsAndKeepsEarlierResults) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.file("up.bin"), "data"));
    CWebRequest request;
    ASSERT_TRUE(request.SetUploadAddress(dir.file("up.bin")));
    ASSERT_TRUE(request.DoGet(server_.url("/ok")));
    request.CloseConn();
    testlog::Clear();

    EXPECT_FALSE(request.DoGet(server_.url("/ok")));
    ExpectSingleSendUrlLog("ERR:curl_easy_init");
    EXPECT_FALSE(request.DoPost(server_.url("/ok"), "x"));
    EXPECT_EQ(request.GetResultText(), "fine");
    EXPECT_EQ(request.GetStatusCode(), 200);
    EXPECT_EQ(request.GetCurlCode(), 0);
    EXPECT_FALSE(request.IsNetError());
    EXPECT_EQ(server_.received().size(), 1u);  // nothing more reached the server
    request.CloseConn();                       // a second close is harmless
}

TEST_F(ControlTest, WriteFpReceivesTheBodyInsteadOfTheResultText) {
    TempDir dir;
    FILE* sink = fopen(dir.file("body.bin").c_str(), "wb");
    ASSERT_NE(sink, nullptr);
    std::unique_ptr<FILE, int (*)(FILE*)> owner(sink, fclose);
    {
        CWebRequest request;
        request.SetWriteFp(sink);
        ASSERT_TRUE(request.DoGet(server_.url("/big")));
        EXPECT_EQ(request.GetResultText(), "");
        // Flushed chunk by chunk: the file is complete before it is closed.
        EXPECT_EQ(ReadFileBytes(dir.file("body.bin")), big_);
    }
    // The stream stays the caller's: still open and usable.
    EXPECT_EQ(fputs("!", sink), 1);
    EXPECT_EQ(fflush(sink), 0);
    EXPECT_EQ(ReadFileBytes(dir.file("body.bin")), big_ + "!");
}

TEST_F(ControlTest, WriteFpThatCannotTakeTheDataEndsTheTransfer) {
    for (bool buffered : {true, false}) {
        SCOPED_TRACE(buffered ? "buffered" : "unbuffered");
        FILE* full = fopen("/dev/full", "wb");
        if (full == nullptr) GTEST_SKIP() << "/dev/full is not available";
        std::unique_ptr<FILE, int (*)(FILE*)> owner(full, fclose);
        if (!buffered) setvbuf(full, nullptr, _IONBF, 0);
        testlog::Clear();
        CWebRequest request;
        request.SetWriteFp(full);
        EXPECT_FALSE(request.DoGet(server_.url("/big")));
        EXPECT_EQ(request.GetCurlCode(), CURLE_WRITE_ERROR);
        EXPECT_FALSE(request.IsNetError());
        ExpectSingleSendUrlLog("ERR:res = 23,rescode = 200\n");
    }
}

}  // namespace
