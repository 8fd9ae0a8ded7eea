// Status helpers, the libcurl result table, and the list and buffer
// primitives the calls hand back.
#include "Contracts/oss/aos_curl_code.h"
#include "Contracts/oss/aos_status.h"
#include "Contracts/oss/aos_string.h"
#include "OssTestPool.h"

TEST(OssCurlCode, NetworkTroubleIsClassifiedAsNetworkTrouble) {
    EXPECT_EQ(aos_curl_code_to_status(CURLE_OK), AOSE_OK);
    EXPECT_EQ(aos_curl_code_to_status(CURLE_COULDNT_RESOLVE_HOST), AOSE_NAME_LOOKUP_ERROR);
    EXPECT_EQ(aos_curl_code_to_status(CURLE_COULDNT_RESOLVE_PROXY), AOSE_NAME_LOOKUP_ERROR);
    for (CURLcode c : {CURLE_COULDNT_CONNECT, CURLE_SEND_ERROR, CURLE_RECV_ERROR,
                       CURLE_PARTIAL_FILE, CURLE_GOT_NOTHING, CURLE_SSL_CONNECT_ERROR}) {
        EXPECT_EQ(aos_curl_code_to_status(c), AOSE_CONNECTION_FAILED) << c;
    }
    EXPECT_EQ(aos_curl_code_to_status(CURLE_OPERATION_TIMEDOUT), AOSE_REQUEST_TIMEOUT);
    for (CURLcode c :
         {CURLE_PEER_FAILED_VERIFICATION, CURLE_SSL_CACERT_BADFILE, CURLE_SSL_CERTPROBLEM}) {
        EXPECT_EQ(aos_curl_code_to_status(c), AOSE_FAILED_VERIFICATION) << c;
    }
}

TEST(OssCurlCode, LocalAndSetupFailures) {
    EXPECT_EQ(aos_curl_code_to_status(CURLE_READ_ERROR), AOSE_READ_BODY_ERROR);
    EXPECT_EQ(aos_curl_code_to_status(CURLE_FILE_COULDNT_READ_FILE), AOSE_OPEN_FILE_ERROR);
    EXPECT_EQ(aos_curl_code_to_status(CURLE_WRITE_ERROR), AOSE_WRITE_BODY_ERROR);
    EXPECT_EQ(aos_curl_code_to_status(CURLE_OUT_OF_MEMORY), AOSE_OUT_MEMORY);
    EXPECT_EQ(aos_curl_code_to_status(CURLE_URL_MALFORMAT), AOSE_INVALID_ARGUMENT);
    EXPECT_EQ(aos_curl_code_to_status(CURLE_FAILED_INIT), AOSE_FAILED_INITIALIZE);
    EXPECT_EQ(aos_curl_code_to_status(CURLE_WEIRD_SERVER_REPLY), AOSE_SERVICE_ERROR);
    EXPECT_EQ(aos_curl_code_to_status(CURLE_UNSUPPORTED_PROTOCOL), AOSE_SERVICE_ERROR);
    // Anything unlisted is an internal error, never success.
    EXPECT_EQ(aos_curl_code_to_status(CURLE_TOO_MANY_REDIRECTS), AOSE_INTERNAL_ERROR);
    EXPECT_EQ(aos_curl_code_to_status((CURLcode)9999), AOSE_INTERNAL_ERROR);
}

TEST(OssStatus, OnlyTwoHundredsAreOk) {
    aos_status_t s = {};
    for (int code : {200, 204, 206, 299}) {
        s.code = code;
        EXPECT_TRUE(aos_status_is_ok(&s)) << code;
    }
    for (int code : {0, -992, -978, 100, 199, 300, 304, 403, 404, 500}) {
        s.code = code;
        EXPECT_FALSE(aos_status_is_ok(&s)) << code;
    }
    EXPECT_FALSE(aos_status_is_ok(nullptr));
}

class OssPrimitivesTest : public PoolTest {};

TEST_F(OssPrimitivesTest, StatusFailNamesTheCode) {
    aos_status_t* s = aos_status_create(pool_);
    EXPECT_EQ(s->code, 0);
    EXPECT_EQ(s->error_code, nullptr);
    aos_status_fail(pool_, s, AOSE_CONNECTION_FAILED, "refused");
    EXPECT_EQ(s->code, -992);
    EXPECT_STREQ(s->error_code, "ConnectionFailed");
    EXPECT_STREQ(s->error_msg, "refused");
    EXPECT_STREQ(aos_error_code_name(AOSE_XML_PARSE_ERROR), "XmlParseError");
    EXPECT_STREQ(aos_error_code_name(AOSE_CRC_INCONSISTENT_ERROR), "CrcInconsistent");
    EXPECT_EQ(aos_error_code_name(404), nullptr);
}

TEST_F(OssPrimitivesTest, StringsPointAtTheCallersText) {
    const char text[] = "nimbra-backup";
    aos_string_t s;
    aos_str_set(&s, text);
    EXPECT_EQ(s.data, text);
    EXPECT_EQ(s.len, 13);
    EXPECT_TRUE(aos_string_equals(&s, "nimbra-backup"));
    EXPECT_FALSE(aos_string_equals(&s, "nimbra"));
    aos_str_set(&s, nullptr);
    EXPECT_TRUE(aos_is_null_string(&s));
    EXPECT_STREQ(aos_pstrdup(pool_, &s), "");
    aos_str_pset(pool_, &s, "abcdef", 3);
    EXPECT_STREQ(s.data, "abc");
    EXPECT_EQ(s.len, 3);
}

TEST_F(OssPrimitivesTest, ListsKeepOrderAcrossSpliceAndDelete) {
    struct Item {
        aos_list_t node;
        int v;
    };
    aos_list_t a, b;
    aos_list_init(&a);
    aos_list_init(&b);
    Item items[5];
    for (int i = 0; i < 5; ++i) {
        items[i].v = i;
        aos_list_add_tail(&items[i].node, i < 3 ? &a : &b);
    }
    aos_list_del(&items[1].node);
    aos_list_splice_tail(&b, &a);
    EXPECT_TRUE(aos_list_empty(&b));
    std::vector<int> seen;
    Item *it, *next;
    aos_list_for_each_entry(Item, it, &a, node) seen.push_back(it->v);
    EXPECT_EQ(seen, (std::vector<int>{0, 2, 3, 4}));
    aos_list_for_each_entry_safe(Item, it, next, &a, node) aos_list_del(&it->node);
    EXPECT_TRUE(aos_list_empty(&a));
}

TEST_F(OssPrimitivesTest, BufferListFlattensInOrder) {
    aos_list_t* body = Body("hello, world", 5);
    EXPECT_EQ(aos_buf_list_len(body), 12);
    int64_t n = 0;
    EXPECT_STREQ(aos_buf_list_flatten(pool_, body, &n), "hello, world");
    EXPECT_EQ(n, 12);
    aos_buf_t* b = aos_create_buf(pool_, 4);
    EXPECT_EQ(aos_buf_size(b), 0);
    EXPECT_EQ(b->end - b->start, 4);
    EXPECT_EQ(aos_create_buf(pool_, -1), nullptr);
}
