#include "WebApi.h"

#include <openssl/rand.h>

#include <stdexcept>

#include "Connections.h"
#include "JsonUtil.h"
#include "RequestEntry.h"
#include "Signer.h"
#include "StoreServer.h"
#include "TimeUtil.h"

namespace devserver {
namespace {

const char* kJson = "application/json";

std::string RandomAlnum(size_t n) {
    static const char* kChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string raw(n, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(&raw[0]), static_cast<int>(n));
    std::string out;
    for (unsigned char c : raw) out += kChars[c % 62];
    return out;
}

void BadRequest(httplib::Response& res, const std::string& message) {
    res.status = 400;
    res.set_content(JsonError(message), kJson);
}

void Fail(httplib::Response& res, const std::exception& e) {
    res.status = 500;
    res.set_content(JsonError(std::string("internal error: ") + e.what()), kJson);
}

JsonPtr RecordJson(const Record& r) {
    JsonPtr j(cJSON_CreateObject());
    JsonAddInteger(j.get(), "id", r.id);
    cJSON_AddStringToObject(j.get(), "name", r.name.c_str());
    cJSON_AddStringToObject(j.get(), "backup_name", r.backup_name.c_str());
    cJSON_AddStringToObject(j.get(), "date_time", r.date_time.c_str());
    cJSON_AddStringToObject(j.get(), "file_path", r.file_path.c_str());
    cJSON_AddStringToObject(j.get(), "file_name", r.file_name.c_str());
    JsonAddInteger(j.get(), "file_size", r.file_size);
    JsonAddInteger(j.get(), "expire_time", r.expire_time);
    return j;
}

// A decoded query parameter (httplib leaves the query undecoded, see RawHeaders.cpp).
std::string Param(const httplib::Request& req, const char* key, bool* found = nullptr) {
    std::string path;
    KeyValues query;
    if (!ParseTarget(req.target, path, query)) {
        if (found) *found = false;
        return "";
    }
    return QueryValue(query, key, found);
}

// The "name" query parameter; false (400 sent) when missing or empty.
bool RequireName(const httplib::Request& req, httplib::Response& res, std::string& name) {
    name = Param(req, "name");
    if (name.empty()) {
        BadRequest(res, "missing name");
        return false;
    }
    return true;
}

bool PositiveParam(const httplib::Request& req, const char* key, int def, int max, int& out) {
    out = def;
    bool found = false;
    std::string text = Param(req, key, &found);
    if (!found) return true;
    return ParseListCount(text, 1, max, out);
}

}  // namespace

void WebApi::Register(httplib::Server& server) {
    // Scripted answers come first: a status and body, or a dropped connection.
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        PrepareRequest(req);
        const std::string problem = ContentLengthProblem(req);
        if (!problem.empty()) {
            BadRequest(res, problem);
            CloseAfterAnswer(res);
            return httplib::Server::HandlerResponse::Handled;
        }
        ApiScript script;
        if (!faults_.TakeApiScript(req.path, script))
            return httplib::Server::HandlerResponse::Unhandled;
        if (script.close) {
            AbortConnection(req);
            res.status = 500;
            res.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        }
        res.status = script.status;
        res.set_content(script.body, kJson);
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            res.set_content(JsonError(res.status == 404 ? "not found" : "request failed"), kJson);
    });
    server.Get("/getStsKey",
               [this](const httplib::Request& q, httplib::Response& r) { GetStsKey(q, r); });
    server.Post("/uploadUserInfo",
                [this](const httplib::Request& q, httplib::Response& r) { UploadUserInfo(q, r); });
    server.Get("/getUserSpace",
               [this](const httplib::Request& q, httplib::Response& r) { GetUserSpace(q, r); });
    server.Get("/getUser",
               [this](const httplib::Request& q, httplib::Response& r) { GetUser(q, r); });
    server.Get("/deleteUser",
               [this](const httplib::Request& q, httplib::Response& r) { DeleteUser(q, r); });
}

void WebApi::GetStsKey(const httplib::Request&, httplib::Response& res) {
    try {
        Credential c;
        c.access_key_id = "STS." + RandomAlnum(24);
        c.access_key_secret = RandomAlnum(40);
        unsigned char raw[96];
        RAND_bytes(raw, sizeof raw);
        c.security_token = "CAIS" + Base64Encode(raw, sizeof raw);
        c.expires_at = NowMillis() / 1000 + sts_ttl_;
        db_.InsertCredential(c);
        JsonPtr j(cJSON_CreateObject());
        cJSON_AddStringToObject(j.get(), "AccessKeyId", c.access_key_id.c_str());
        cJSON_AddStringToObject(j.get(), "AccessKeySecret", c.access_key_secret.c_str());
        cJSON_AddStringToObject(j.get(), "SecurityToken", c.security_token.c_str());
        cJSON_AddStringToObject(j.get(), "Expiration", IsoSeconds(c.expires_at).c_str());
        res.set_content(JsonText(j.get()), kJson);
    } catch (const std::exception& e) {
        Fail(res, e);
    }
}

void WebApi::UploadUserInfo(const httplib::Request& req, httplib::Response& res) {
    std::string error = "not an object";
    JsonPtr j = ParseJson(req.body, &error);
    if (!j || !cJSON_IsObject(j.get()))
        return BadRequest(res, "the body must be a JSON object (" + error + ")");
    Record r;
    struct TextField {
        const char* name;
        std::string* target;
        size_t max;
    } texts[] = {{"name", &r.name, 254},
                 {"backup_name", &r.backup_name, 99},
                 {"date_time", &r.date_time, 99},
                 {"file_path", &r.file_path, 255},
                 {"file_name", &r.file_name, 99}};
    for (const TextField& f : texts) {
        bool found = false;
        if (!JsonGetString(j.get(), f.name, *f.target, found))
            return BadRequest(res, std::string("\"") + f.name + "\" must be a string");
        if (f.target->size() > f.max)
            return BadRequest(res, std::string("\"") + f.name + "\" is longer than " +
                                       std::to_string(f.max) + " bytes");
    }
    if (r.name.empty()) return BadRequest(res, "missing name");
    bool found = false;
    if (!JsonGetInt64(j.get(), "file_size", r.file_size, found) || r.file_size < 0)
        return BadRequest(res, "\"file_size\" must be a non-negative integer");
    if (!JsonGetInt64(j.get(), "expire_time", r.expire_time, found))
        return BadRequest(res, "\"expire_time\" must be an integer");
    try {
        Record stored = db_.InsertRecord(r);
        res.set_content(JsonText(RecordJson(stored).get()), kJson);
    } catch (const std::exception& e) {
        Fail(res, e);
    }
}

void WebApi::GetUserSpace(const httplib::Request& req, httplib::Response& res) {
    std::string name;
    if (!RequireName(req, res, name)) return;
    try {
        JsonPtr j(cJSON_CreateObject());
        JsonAddInteger(j.get(), "size", db_.UserSpace(name));
        res.set_content(JsonText(j.get()), kJson);
    } catch (const std::exception& e) {
        Fail(res, e);
    }
}

void WebApi::GetUser(const httplib::Request& req, httplib::Response& res) {
    std::string name;
    if (!RequireName(req, res, name)) return;
    int per_page = 0, page = 0;
    if (!PositiveParam(req, "per_page", 50, 1000, per_page))
        return BadRequest(res, "per_page must be an integer from 1 to 1000");
    if (!PositiveParam(req, "page", 1, 100000000, page))
        return BadRequest(res, "page must be a positive integer");
    try {
        JsonPtr j(cJSON_CreateObject());
        JsonAddInteger(j.get(), "total", db_.CountRecords(name));
        cJSON* data = cJSON_AddArrayToObject(j.get(), "data");
        for (const Record& r :
             db_.Records(name, per_page, static_cast<long long>(page - 1) * per_page))
            cJSON_AddItemToArray(data, RecordJson(r).release());
        res.set_content(JsonText(j.get()), kJson);
    } catch (const std::exception& e) {
        Fail(res, e);
    }
}

void WebApi::DeleteUser(const httplib::Request& req, httplib::Response& res) {
    std::string name;
    if (!RequireName(req, res, name)) return;
    try {
        JsonPtr j(cJSON_CreateObject());
        JsonAddInteger(j.get(), "deleted", db_.DeleteRecords(name));
        res.set_content(JsonText(j.get()), kJson);
    } catch (const std::exception& e) {
        Fail(res, e);
    }
}

}  // namespace devserver
