#include "WebApi.h"

#include <openssl/rand.h>

#include "JsonUtil.h"
#include "Signer.h"
#include "TimeUtil.h"

namespace devserver {
namespace {

constexpr size_t kMaxBody = 1u << 20;

std::string RandomAlnum(size_t n) {
    static const char* kChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string raw(n, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(&raw[0]), static_cast<int>(n));
    std::string out;
    for (unsigned char c : raw) out += kChars[c % 62];
    return out;
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

// The "name" query parameter; false when missing or empty.
bool RequireName(const KeyValues& query, std::string& name) {
    name = QueryValue(query, "name");
    return !name.empty();
}

bool PositiveParam(const KeyValues& query, const char* key, int def, int max, int& out) {
    out = def;
    bool found = false;
    std::string text = QueryValue(query, key, &found);
    if (!found) return true;
    return ParseListCount(text, 1, max, out);
}

}  // namespace

Answer WebApi::Refuse(const HttpRequest&, int status, const std::string& message) {
    return JsonErrorAnswer(status, message);
}

std::unique_ptr<Exchange> WebApi::Start(const HttpRequest& r) {
    auto fixed = [](Answer a) { return std::make_unique<FixedExchange>(std::move(a)); };
    ApiScript script;
    if (faults_.TakeApiScript(r.path, script)) {
        Answer a = JsonAnswer(script.status, script.body);
        a.drop = script.close;
        return fixed(std::move(a));
    }
    if (r.method == "POST" && r.path == "/uploadUserInfo")
        return std::make_unique<DocumentExchange>(
            kMaxBody, JsonErrorAnswer(413, "the body is larger than 1 MiB"),
            [this](const std::string& body) { return UploadUserInfo(body); });
    std::string path;
    KeyValues query;
    if (r.method == "GET" && ParseTarget(r.target, path, query)) {
        if (path == "/getStsKey") return fixed(GetStsKey());
        if (path == "/getUserSpace") return fixed(GetUserSpace(query));
        if (path == "/getUser") return fixed(GetUser(query));
        if (path == "/deleteUser") return fixed(DeleteUser(query));
    }
    return fixed(JsonErrorAnswer(404, "not found"));
}

Answer WebApi::GetStsKey() {
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
    return JsonAnswer(200, JsonText(j.get()));
}

Answer WebApi::UploadUserInfo(const std::string& body) {
    std::string error = "not an object";
    JsonPtr j = ParseJson(body, &error);
    if (!j || !cJSON_IsObject(j.get()))
        return JsonErrorAnswer(400, "the body must be a JSON object (" + error + ")");
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
            return JsonErrorAnswer(400, std::string("\"") + f.name + "\" must be a string");
        if (f.target->size() > f.max)
            return JsonErrorAnswer(400, std::string("\"") + f.name + "\" is longer than " +
                                            std::to_string(f.max) + " bytes");
    }
    if (r.name.empty()) return JsonErrorAnswer(400, "missing name");
    bool found = false;
    if (!JsonGetInt64(j.get(), "file_size", r.file_size, found) || r.file_size < 0)
        return JsonErrorAnswer(400, "\"file_size\" must be a non-negative integer");
    if (!JsonGetInt64(j.get(), "expire_time", r.expire_time, found))
        return JsonErrorAnswer(400, "\"expire_time\" must be an integer");
    return JsonAnswer(200, JsonText(RecordJson(db_.InsertRecord(r)).get()));
}

Answer WebApi::GetUserSpace(const KeyValues& query) {
    std::string name;
    if (!RequireName(query, name)) return JsonErrorAnswer(400, "missing name");
    JsonPtr j(cJSON_CreateObject());
    JsonAddInteger(j.get(), "size", db_.UserSpace(name));
    return JsonAnswer(200, JsonText(j.get()));
}

Answer WebApi::GetUser(const KeyValues& query) {
    std::string name;
    if (!RequireName(query, name)) return JsonErrorAnswer(400, "missing name");
    int per_page = 0, page = 0;
    if (!PositiveParam(query, "per_page", 50, 1000, per_page))
        return JsonErrorAnswer(400, "per_page must be an integer from 1 to 1000");
    if (!PositiveParam(query, "page", 1, 100000000, page))
        return JsonErrorAnswer(400, "page must be a positive integer");
    JsonPtr j(cJSON_CreateObject());
    JsonAddInteger(j.get(), "total", db_.CountRecords(name));
    cJSON* data = cJSON_AddArrayToObject(j.get(), "data");
    for (const Record& r : db_.Records(name, per_page, static_cast<long long>(page - 1) * per_page))
        cJSON_AddItemToArray(data, RecordJson(r).release());
    return JsonAnswer(200, JsonText(j.get()));
}

Answer WebApi::DeleteUser(const KeyValues& query) {
    std::string name;
    if (!RequireName(query, name)) return JsonErrorAnswer(400, "missing name");
    JsonPtr j(cJSON_CreateObject());
    JsonAddInteger(j.get(), "deleted", db_.DeleteRecords(name));
    return JsonAnswer(200, JsonText(j.get()));
}

}  // namespace devserver
