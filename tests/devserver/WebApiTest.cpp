// The web API: credentials, backup records, used space, paging, and refusal
// of bad input; served over HTTPS with a certificate for 127.0.0.1/localhost.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <ctime>
#include <memory>

#include "tests/support/DevServer.h"
#include "tests/support/SharedDevServerTest.h"

namespace {

struct JsonFree {
    void operator()(cJSON* j) const { cJSON_Delete(j); }
};
using Json = std::unique_ptr<cJSON, JsonFree>;

Json Parse(const std::string& s) {
    return Json(cJSON_Parse(s.c_str()));
}

std::string Str(const cJSON* o, const char* k) {
    const cJSON* i = cJSON_GetObjectItemCaseSensitive(o, k);
    return cJSON_IsString(i) ? i->valuestring : "<missing>";
}
double Num(const cJSON* o, const char* k) {
    const cJSON* i = cJSON_GetObjectItemCaseSensitive(o, k);
    return cJSON_IsNumber(i) ? i->valuedouble : -1;
}

std::string RecordJson(const std::string& name, const std::string& file, long long size) {
    return "{\"name\":\"" + name +
           "\",\"backup_name\":\"nightly\",\"date_time\":\"2026-12-05 08:00\"," +
           "\"file_path\":\"/backups/" + file + "\",\"file_name\":\"" + file +
           "\",\"file_size\":" + std::to_string(size) + ",\"expire_time\":1767225600}";
}

class WebApi : public SharedDevServerTest {};

}  // namespace

TEST_F(WebApi, StsKeyIssuesFreshCredentialsWithExpiration) {
    auto a = server_->ApiRequest("GET", "/getStsKey");
    auto b = server_->ApiRequest("GET", "/getStsKey");
    ASSERT_EQ(a.first, 200) << a.second;
    Json ja = Parse(a.second), jb = Parse(b.second);
    ASSERT_TRUE(ja && jb);
    EXPECT_EQ(Str(ja.get(), "AccessKeyId").rfind("STS.", 0), 0u);
    EXPECT_GE(Str(ja.get(), "AccessKeySecret").size(), 20u);
    EXPECT_FALSE(Str(ja.get(), "SecurityToken").empty());
    EXPECT_NE(Str(ja.get(), "AccessKeyId"), Str(jb.get(), "AccessKeyId"));
    // Expiration: ISO 8601, one hour (the default lifetime) from now.
    std::string exp = Str(ja.get(), "Expiration");
    struct tm tm_utc = {};
    ASSERT_NE(strptime(exp.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm_utc), nullptr) << exp;
    long long delta = static_cast<long long>(timegm(&tm_utc)) - time(nullptr);
    EXPECT_GE(delta, 3590);
    EXPECT_LE(delta, 3601);
}

TEST_F(WebApi, CertificateNamesLoopbackAndLocalhost) {
    const std::string ca = server_->data_dir() + "/api-cert.pem";
    for (const char* host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        httplib::SSLClient cli(host, server_->api_port());
        cli.set_ca_cert_path(ca.c_str());
        cli.enable_server_certificate_verification(true);
        auto r = cli.Get("/getStsKey");
        ASSERT_TRUE(r) << httplib::to_string(r.error());
        EXPECT_EQ(r->status, 200);
    }
}

TEST_F(WebApi, RecordsSpaceAndPagingNewestFirst) {
    const std::string user = "alice";
    long long sizes[] = {100, 3000000000LL, 7, 42, 5};
    std::vector<long long> ids;
    for (int i = 0; i < 5; ++i) {
        auto r = server_->ApiRequest("POST", "/uploadUserInfo",
                                     RecordJson(user, "f" + std::to_string(i), sizes[i]));
        ASSERT_EQ(r.first, 200) << r.second;
        Json j = Parse(r.second);
        ASSERT_TRUE(j);
        EXPECT_EQ(Str(j.get(), "file_name"), "f" + std::to_string(i));
        EXPECT_EQ(Num(j.get(), "file_size"), static_cast<double>(sizes[i]));
        ids.push_back(static_cast<long long>(Num(j.get(), "id")));
        if (i > 0) {
            EXPECT_GT(ids[i], ids[i - 1]);
        }
    }
    ASSERT_EQ(server_->ApiRequest("POST", "/uploadUserInfo", RecordJson("bob", "b", 11)).first,
              200);

    auto space = Parse(server_->ApiRequest("GET", "/getUserSpace?name=alice").second);
    EXPECT_EQ(Num(space.get(), "size"), 3000000154.0);
    EXPECT_EQ(
        Num(Parse(server_->ApiRequest("GET", "/getUserSpace?name=nobody").second).get(), "size"),
        0);

    std::vector<long long> seen;
    for (int page = 1; page <= 3; ++page) {
        auto r = server_->ApiRequest("GET",
                                     "/getUser?name=alice&per_page=2&page=" + std::to_string(page));
        ASSERT_EQ(r.first, 200);
        Json j = Parse(r.second);
        EXPECT_EQ(Num(j.get(), "total"), 5);
        const cJSON* data = cJSON_GetObjectItemCaseSensitive(j.get(), "data");
        ASSERT_TRUE(cJSON_IsArray(data));
        EXPECT_EQ(cJSON_GetArraySize(data), page < 3 ? 2 : 1);
        for (const cJSON* rec = data->child; rec; rec = rec->next) {
            seen.push_back(static_cast<long long>(Num(rec, "id")));
            EXPECT_EQ(Str(rec, "name"), "alice");
            EXPECT_EQ(Str(rec, "backup_name"), "nightly");
            EXPECT_EQ(Num(rec, "expire_time"), 1767225600.0);
        }
    }
    EXPECT_EQ(seen, (std::vector<long long>{ids[4], ids[3], ids[2], ids[1], ids[0]}));
    auto past = Parse(server_->ApiRequest("GET", "/getUser?name=alice&per_page=50&page=9").second);
    EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItemCaseSensitive(past.get(), "data")), 0);

    ASSERT_EQ(server_->ApiRequest("GET", "/deleteUser?name=alice").first, 200);
    EXPECT_EQ(
        Num(Parse(server_->ApiRequest("GET", "/getUserSpace?name=alice").second).get(), "size"), 0);
    EXPECT_EQ(Num(Parse(server_->ApiRequest("GET", "/getUser?name=alice&per_page=50&page=1").second)
                      .get(),
                  "total"),
              0);
    EXPECT_EQ(Num(Parse(server_->ApiRequest("GET", "/getUserSpace?name=bob").second).get(), "size"),
              11);
}

TEST_F(WebApi, BadInputGets400WithAJsonError) {
    std::string n254(254, 'n'), n255(255, 'n'), p255(255, 'p'), p256(256, 'p'), b99(99, 'b'),
        b100(100, 'b');
    struct Case {
        std::string body;
        int status;
    } cases[] = {
        {"not json", 400},
        {"[1,2]", 400},
        {"{}", 400},  // missing name
        {"{\"name\":\"\"}", 400},
        {"{\"name\":5}", 400},
        {"{\"name\":\"u\",\"file_size\":\"12\"}", 400},
        {"{\"name\":\"u\",\"file_size\":1.5}", 400},
        {"{\"name\":\"u\",\"expire_time\":null}", 400},
        {"{\"name\":\"u\",\"backup_name\":[]}", 400},
        {"{\"name\":\"" + n255 + "\"}", 400},
        {"{\"name\":\"" + n254 + "\"}", 200},
        {"{\"name\":\"u\",\"file_path\":\"" + p256 + "\"}", 400},
        {"{\"name\":\"u\",\"file_path\":\"" + p255 + "\"}", 200},
        {"{\"name\":\"u\",\"date_time\":\"" + b100 + "\"}", 400},
        {"{\"name\":\"u\",\"file_name\":\"" + b99 + "\"}", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 60));
        auto r = server_->ApiRequest("POST", "/uploadUserInfo", c.body);
        EXPECT_EQ(r.first, c.status) << r.second;
        Json j = Parse(r.second);
        ASSERT_TRUE(j);
        if (c.status == 400) {
            EXPECT_NE(Str(j.get(), "error"), "<missing>");
        }
    }
    for (const char* target : {"/getUser", "/getUser?name=u&per_page=0", "/getUser?name=u&page=x",
                               "/getUserSpace", "/deleteUser?name="}) {
        auto r = server_->ApiRequest("GET", target);
        EXPECT_EQ(r.first, 400) << target;
        EXPECT_TRUE(Parse(r.second)) << target;
    }
    EXPECT_EQ(server_->ApiRequest("GET", "/no/such/path").first, 404);
}

TEST(WebApiPlain, PlainHttpModeServesTheSameApi) {
    DevServerOptions o;
    o.api_plain_http = true;
    o.sts_ttl = 60;
    DevServer server(o);
    EXPECT_EQ(server.api_url().rfind("http://", 0), 0u);
    auto creds = server.IssueCredentials();
    EXPECT_EQ(creds.access_key_id.rfind("STS.", 0), 0u);
    EXPECT_EQ(server.StoreRequest("PUT", "/nimbra-backup/plain", "x").first, 200);
}
