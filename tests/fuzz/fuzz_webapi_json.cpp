// Fuzz target: the web API answers as the manager reads them (credentials,
// used space, record pages) and the record body it sends. Checks, for every
// input: the walkers agree with cJSON on what is JSON, keep what they were
// told to keep, fill records whose text fields stay NUL-terminated within
// their width, and a record survives the trip through its JSON body.
#include <cjson/cJSON.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "Nimbra/WebApiJson.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

struct JsonFree {
    void operator()(cJSON* p) const { cJSON_Delete(p); }
};
using Json = std::unique_ptr<cJSON, JsonFree>;

// The value of the last top-level member named exactly `name`, or null.
const cJSON* LastMember(const cJSON* doc, const char* name) {
    const cJSON* found = nullptr;
    if (!cJSON_IsObject(doc)) return nullptr;
    for (const cJSON* m = doc->child; m; m = m->next)
        if (m->string && std::strcmp(m->string, name) == 0) found = m;
    return found;
}

const cJSON* FirstMember(const cJSON* doc, const char* name) {
    if (!cJSON_IsObject(doc)) return nullptr;
    for (const cJSON* m = doc->child; m; m = m->next)
        if (m->string && std::strcmp(m->string, name) == 0) return m;
    return nullptr;
}

std::string StringValue(const cJSON* item) {
    return cJSON_IsString(item) && item->valuestring ? item->valuestring : "";
}

bool IsValidUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80           ? 1
                   : (c >> 5) == 0x6  ? 2
                   : (c >> 4) == 0xE  ? 3
                   : (c >> 3) == 0x1E ? 4
                                      : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

// A fixed field as the library leaves it: NUL-terminated within its width
// and zero after the terminator (records start zeroed).
std::string FieldText(const char* field, size_t width) {
    const void* nul = std::memchr(field, '\0', width);
    Check(nul != nullptr);
    const size_t len = static_cast<const char*>(nul) - field;
    for (size_t i = len; i < width; ++i) Check(field[i] == '\0');
    return std::string(field, len);
}

// What a field holds after copying `source` into it: all of it when it fits,
// otherwise a prefix that ends before the terminator's byte and, for UTF-8,
// loses at most the one character that did not fit.
void CheckFieldCopy(const std::string& got, const std::string& source, size_t width) {
    if (source.size() < width) {
        Check(got == source);
        return;
    }
    Check(got.size() < width);
    Check(source.compare(0, got.size(), got) == 0);
    if (IsValidUtf8(source)) Check(got.size() + 4 >= width);
}

void CheckCredentials(const std::string& text) {
    std::string id = "id-before", secret = "secret-before", token = "token-before";
    const bool ok = ParseStsKeyJson(text, id, secret, token);
    Json doc(cJSON_Parse(text.c_str()));
    Check(ok == (doc != nullptr));
    const struct {
        const char* name;
        const std::string& got;
        const char* before;
    } members[] = {{"AccessKeyId", id, "id-before"},
                   {"AccessKeySecret", secret, "secret-before"},
                   {"SecurityToken", token, "token-before"}};
    for (const auto& m : members) {
        const cJSON* last = ok ? LastMember(doc.get(), m.name) : nullptr;
        Check(m.got == (last ? StringValue(last) : std::string(m.before)));
    }
}

void CheckUsedSize(const std::string& text) {
    long long size = 12345;
    const bool ok = ParseUsedSizeJson(text, size);
    Json doc(cJSON_Parse(text.c_str()));
    Check(ok == (doc != nullptr));
    const cJSON* first = ok ? FirstMember(doc.get(), "size") : nullptr;
    if (!cJSON_IsNumber(first)) {
        Check(size == 0);
        return;
    }
    const double value = std::trunc(first->valuedouble);
    if (std::fabs(value) < 9.2e18) Check(size == static_cast<long long>(value));
}

void CheckUserPage(const std::string& text) {
    long long total = -7;
    std::vector<_ST_UserInfo> records;
    const bool ok =
        ParseUserPageJson(text, total, [&](const _ST_UserInfo& info) { records.push_back(info); });
    Json doc(cJSON_Parse(text.c_str()));
    Check(ok == (doc != nullptr));
    if (!ok) {
        Check(total == -7 && records.empty());
        return;
    }
    const cJSON* total_item = LastMember(doc.get(), "total");
    if (total_item == nullptr) Check(total == -7);

    // The records are the object elements with an "id" of the last "data"
    // array, in order.
    std::vector<const cJSON*> expected;
    const cJSON* data = LastMember(doc.get(), "data");
    if (cJSON_IsArray(data)) {
        for (const cJSON* e = data->child; e; e = e->next)
            if (cJSON_IsObject(e) && cJSON_GetObjectItem(e, "id")) expected.push_back(e);
    }
    Check(records.size() == expected.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const _ST_UserInfo& r = records[i];
        const cJSON* e = expected[i];
        const struct {
            const char* name;
            const char* field;
            size_t width;
        } fields[] = {{"name", r.szName, sizeof r.szName},
                      {"backup_name", r.szBackupName, sizeof r.szBackupName},
                      {"date_time", r.szDateTime, sizeof r.szDateTime},
                      {"file_path", r.szFilePath, sizeof r.szFilePath},
                      {"file_name", r.szFileName, sizeof r.szFileName}};
        for (const auto& f : fields) {
            const std::string got = FieldText(f.field, f.width);
            CheckFieldCopy(got, StringValue(cJSON_GetObjectItem(e, f.name)), f.width);
        }
        const cJSON* file_size = cJSON_GetObjectItem(e, "file_size");
        if (!cJSON_IsNumber(file_size))
            Check(r.llFileSize == 0);
        else if (std::fabs(file_size->valuedouble) < 9.2e18)
            Check(r.llFileSize == static_cast<long long>(std::trunc(file_size->valuedouble)));
    }
}

// A record built from raw bytes (fields may fill their whole width without a
// terminator) goes out as the "/uploadUserInfo" body and comes back as one
// element of a record page: every field and number survives.
void CheckRecordRoundTrip(FuzzedDataProvider& fdp) {
    _ST_UserInfo info;
    std::memset(&info, 0, sizeof info);
    const struct {
        char* field;
        size_t width;
    } fields[] = {{info.szName, sizeof info.szName},
                  {info.szBackupName, sizeof info.szBackupName},
                  {info.szDateTime, sizeof info.szDateTime},
                  {info.szFilePath, sizeof info.szFilePath},
                  {info.szFileName, sizeof info.szFileName}};
    for (const auto& f : fields) {
        const std::string bytes = fdp.ConsumeRandomLengthString(f.width + 8);
        std::memcpy(f.field, bytes.data(), std::min(bytes.size(), f.width));
    }
    // The numbers travel as JSON numbers printed from doubles: exact below
    // 10^15 (cJSON prints 15 significant digits when they read back within
    // its tolerance), within a few units of the last place up to 2^63.
    const bool large = fdp.ConsumeBool();
    const long long kExact = 999999999999999LL;
    const long long kMax = large ? std::numeric_limits<long long>::max() : kExact;
    info.llFileSize = fdp.ConsumeIntegralInRange<long long>(-kMax, kMax);
    info.llExpireTime = fdp.ConsumeIntegralInRange<long long>(-kMax, kMax);

    const std::string body = BuildUserInfoJson(info);
    Json doc(cJSON_Parse(body.c_str()));
    Check(doc != nullptr && cJSON_IsObject(doc.get()));
    cJSON_AddItemToObject(doc.get(), "id", cJSON_CreateNumber(7));
    Json page(cJSON_CreateObject());
    cJSON* array = cJSON_CreateArray();
    cJSON_AddItemToArray(array, doc.release());
    cJSON_AddItemToObject(page.get(), "data", array);
    cJSON_AddItemToObject(page.get(), "total", cJSON_CreateNumber(1));
    char* page_text = cJSON_PrintUnformatted(page.get());
    Check(page_text != nullptr);
    const std::string page_body(page_text);
    cJSON_free(page_text);

    long long total = 0;
    std::vector<_ST_UserInfo> got;
    Check(ParseUserPageJson(page_body, total, [&](const _ST_UserInfo& r) { got.push_back(r); }));
    Check(total == 1 && got.size() == 1);
    const _ST_UserInfo& r = got[0];
    Check(r.nId == 7);
    for (const auto& pair : {std::make_pair(r.llFileSize, info.llFileSize),
                             std::make_pair(r.llExpireTime, info.llExpireTime)}) {
        if (pair.second >= -kExact && pair.second <= kExact) {
            Check(pair.first == pair.second);
        } else {
            const long double got = pair.first, sent = pair.second;
            Check(std::fabs(got - sent) <= std::fabs(sent) * 1e-15L);
        }
    }
    const char* got_fields[] = {r.szName, r.szBackupName, r.szDateTime, r.szFilePath, r.szFileName};
    for (size_t i = 0; i < 5; ++i) {
        const std::string sent(fields[i].field, strnlen(fields[i].field, fields[i].width));
        CheckFieldCopy(FieldText(got_fields[i], fields[i].width), sent, fields[i].width);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The answers reach the walkers as the request's result text.
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckCredentials(text);
    CheckUsedSize(text);
    CheckUserPage(text);
    FuzzedDataProvider fdp(data, size);
    CheckRecordRoundTrip(fdp);
    return 0;
}
