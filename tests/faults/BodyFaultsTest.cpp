// The development server's body faults, corrupt_body and truncate_body:
// answers that stay well framed (the length sent matches the bytes sent) but
// carry wrong or missing bytes, for object bodies (streamed, whole and
// ranged) and XML answers alike.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/support/DevServer.h"
#include "tests/support/SharedDevServerTest.h"
#include "tests/support/TestData.h"

namespace {

using testdata::RandomBytes;

std::string Inverted(std::string s, size_t from, size_t length) {
    for (size_t i = from; i < from + length && i < s.size(); ++i) s[i] = static_cast<char>(~s[i]);
    return s;
}

class BodyFaults : public SharedDevServerTest {};

TEST_F(BodyFaults, CorruptBodyInvertsBytesAndKeepsTheLength) {
    const std::string data = RandomBytes(300000, 1);
    ASSERT_EQ(server_->StoreRequest("PUT", "/nimbra-backup/b/obj", data).first, 200);

    // Default: one byte in the middle of a streamed whole-object answer.
    server_->AddFault(R"({"method":"GET","action":"corrupt_body"})");
    auto middle = server_->StoreExchange("GET", "/nimbra-backup/b/obj");
    EXPECT_EQ(middle.status, 200);
    EXPECT_EQ(middle.header("content-length"), "300000");
    EXPECT_TRUE(middle.body == Inverted(data, 150000, 1));

    // A chosen run inside a range: offsets count from the answer's first byte.
    server_->AddFault(
        R"({"method":"GET","action":"corrupt_body","corrupt_offset":70000,"corrupt_length":5})");
    auto ranged = server_->StoreExchange("GET", "/nimbra-backup/b/obj", "",
                                         {{"Range", "bytes=100000-199999"}});
    EXPECT_EQ(ranged.status, 206);
    EXPECT_TRUE(ranged.body == Inverted(data.substr(100000, 100000), 70000, 5));

    // Count 1: the next answer is right again.
    EXPECT_TRUE(server_->StoreRequest("GET", "/nimbra-backup/b/obj").second == data);
}

TEST_F(BodyFaults, TruncateBodySendsAShorterButCompleteAnswer) {
    const std::string data = RandomBytes(200000, 2);
    ASSERT_EQ(server_->StoreRequest("PUT", "/nimbra-backup/b/obj", data).first, 200);

    server_->AddFault(R"({"method":"GET","action":"truncate_body","keep_bytes":1234})");
    auto cut = server_->StoreExchange("GET", "/nimbra-backup/b/obj");
    EXPECT_EQ(cut.status, 200);
    EXPECT_EQ(cut.header("content-length"), "1234");
    EXPECT_TRUE(cut.body == data.substr(0, 1234));

    // Default: half of the answer.
    server_->AddFault(R"({"method":"GET","action":"truncate_body"})");
    auto half =
        server_->StoreExchange("GET", "/nimbra-backup/b/obj", "", {{"Range", "bytes=0-99999"}});
    EXPECT_EQ(half.status, 206);
    EXPECT_TRUE(half.body == data.substr(0, 50000));
    EXPECT_TRUE(server_->StoreRequest("GET", "/nimbra-backup/b/obj").second == data);
}

TEST_F(BodyFaults, XmlAnswersBreak) {
    ASSERT_EQ(server_->StoreRequest("PUT", "/nimbra-backup/b/one", "1").first, 200);
    const std::string listing = server_->StoreRequest("GET", "/nimbra-backup/?prefix=b/").second;
    ASSERT_NE(listing.find("</ListBucketResult>"), std::string::npos);

    server_->AddFault(R"({"method":"GET","action":"truncate_body"})");
    auto cut = server_->StoreRequest("GET", "/nimbra-backup/?prefix=b/");
    EXPECT_EQ(cut.first, 200);
    EXPECT_EQ(cut.second, listing.substr(0, listing.size() / 2));

    server_->AddFault(R"({"method":"GET","action":"corrupt_body","corrupt_offset":0})");
    auto bad = server_->StoreRequest("GET", "/nimbra-backup/?prefix=b/");
    EXPECT_EQ(bad.second, Inverted(listing, 0, 1));
}

TEST_F(BodyFaults, RejectsBadParameters) {
    EXPECT_THROW(server_->AddFault(R"({"action":"corrupt_body","corrupt_length":0})"),
                 std::runtime_error);
    EXPECT_THROW(server_->AddFault(R"({"action":"truncate_body","keep_bytes":-1})"),
                 std::runtime_error);
    EXPECT_THROW(server_->AddFault(R"({"action":"corrupt_body","corrupt_offset":-2})"),
                 std::runtime_error);
}

}  // namespace
