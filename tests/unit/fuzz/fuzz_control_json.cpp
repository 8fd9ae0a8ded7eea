// Fuzz target: the development server's control documents (a fault rule,
// settings, an API script), any text; the seeds hold every member with values
// of other types and at the edges of their ranges. A document is JSON exactly
// when cJSON reads all of it but trailing blanks and no string escapes a NUL
// nor holds a NUL byte. A command takes it exactly when it is an object whose
// members (the first of each name) have their documented types and ranges;
// then the rule matches a request it names with exactly its values for as
// many requests as its count, the settings hold its values (the others
// kept), the script answers its path with its values; otherwise nothing
// changes and the refusal says why.
#include <cjson/cJSON.h>

#include <cmath>
#include <map>
#include <set>

#include "Faults.h"
#include "JsonUtil.h"
#include "tests/unit/fuzz/FuzzHarness.h"

using namespace devserver;

namespace {

const long long kExact = 9007199254740992LL;  // 2^53: integers a double holds exactly
enum class Type { kString, kInt, kBool };
struct Member {
    const char* name;
    Type type;
    long long lo, hi;  // kInt: the range; kString lo: 0 a method, 1 an action, -1 any text
};
const char* const kMethods[] = {"", "GET", "PUT", "POST", "DELETE", "HEAD"};
const char* const kActions[] = {"error",  "close",        "delay",        "bad_crc",
                                "expire", "corrupt_body", "truncate_body"};
const std::vector<Member> kRule = {{"method", Type::kString, 0, 0},
                                   {"subresource", Type::kString, -1, 0},
                                   {"key_contains", Type::kString, -1, 0},
                                   {"action", Type::kString, 1, 0},
                                   {"code", Type::kString, -1, 0},
                                   {"message", Type::kString, -1, 0},
                                   {"count", Type::kInt, -1, kExact},
                                   {"status", Type::kInt, 100, 599},
                                   {"close_after_bytes", Type::kInt, 0, kExact},
                                   {"delay_ms", Type::kInt, 0, 600000},
                                   {"corrupt_offset", Type::kInt, -1, kExact},
                                   {"corrupt_length", Type::kInt, 1, kExact},
                                   {"keep_bytes", Type::kInt, 0, kExact}};
const std::vector<Member> kSettings = {{"ignore_range", Type::kBool, 0, 0},
                                       {"max_list_keys", Type::kInt, 0, 1000},
                                       {"max_list_parts", Type::kInt, 0, 1000},
                                       {"open_delay_ms", Type::kInt, 0, 10000}};
const std::vector<Member> kScript = {{"path", Type::kString, -1, 0},
                                     {"body", Type::kString, -1, 0},
                                     {"status", Type::kInt, 100, 599},
                                     {"close", Type::kBool, 0, 0},
                                     {"count", Type::kInt, -1, kExact}};

// A document's accepted members: integers, texts and flags by name.
struct Values {
    std::map<std::string, long long> n;
    std::map<std::string, std::string> s;
    long long Int(const char* name, long long absent) const {
        return n.count(name) ? n.at(name) : absent;
    }
    std::string Text(const char* name, const char* absent) const {
        return s.count(name) ? s.at(name) : absent;
    }
};

bool InSet(const std::string& text, long long set) {
    const auto* begin = set == 0 ? std::begin(kMethods) : std::begin(kActions);
    const auto* end = set == 0 ? std::end(kMethods) : std::end(kActions);
    return std::find(begin, end, text) != end;
}

// Whether `doc` is an object whose members have their types and ranges ("count"
// is also never 0); fills `values` with them.
bool Valid(const cJSON* doc, const std::vector<Member>& members, Values& values) {
    if (!cJSON_IsObject(doc)) return false;
    for (const Member& m : members) {
        const cJSON* item = cJSON_GetObjectItemCaseSensitive(doc, m.name);
        if (item == nullptr) continue;
        if (m.type == Type::kBool) {
            if (!cJSON_IsBool(item)) return false;
            values.n[m.name] = cJSON_IsTrue(item);
        } else if (m.type == Type::kString) {
            if (!cJSON_IsString(item) || (m.lo >= 0 && !InSet(item->valuestring, m.lo)))
                return false;
            values.s[m.name] = item->valuestring;
        } else {
            const double v = cJSON_IsNumber(item) ? item->valuedouble : NAN;
            if (!std::isfinite(v) || v != std::floor(v) || std::fabs(v) > kExact || v < m.lo ||
                v > m.hi || (v == 0 && std::string(m.name) == "count"))
                return false;
            values.n[m.name] = static_cast<long long>(v);
        }
    }
    return true;
}

// Whether a rule or script with the values `v` still applies after `uses`.
bool Applies(bool valid, const Values& v, long long uses) {
    const long long count = v.Int("count", 1);
    return valid && (count == -1 || uses < count);
}

bool NoFault(const FaultDecision& d) {
    return !d.error && d.delay_ms == 0 && d.close_after_bytes == -1 && !d.bad_crc && !d.alter_body;
}

void CheckRule(const std::string& text, const cJSON* doc) {
    FaultBook book;
    std::string error;
    Values v;
    const bool valid = doc && Valid(doc, kRule, v);
    Check(book.AddRule(text, error) == valid && error.empty() == valid);
    const std::string method = v.Text("method", ""), sub = v.Text("subresource", "");
    const std::set<std::string> keys =
        sub.empty() || sub == "none" ? std::set<std::string>{} : std::set<std::string>{sub};
    const std::string key = "<" + v.Text("key_contains", "") + ">";
    if (!method.empty()) Check(NoFault(book.Match(method == "GET" ? "PUT" : "GET", keys, key)));
    if (sub == "none") Check(NoFault(book.Match(method.empty() ? "GET" : method, {"acl"}, key)));
    for (long long use = 0; use < 4; ++use) {
        const FaultDecision d = book.Match(method.empty() ? "HEAD" : method, keys, key);
        if (!Applies(valid, v, use)) {
            Check(NoFault(d));
            continue;
        }
        const std::string action = v.Text("action", "error");
        Check(d.delay_ms == (action == "delay" ? v.Int("delay_ms", 0) : 0));
        Check(d.error == (action == "error" || action == "expire"));
        if (action == "error")
            Check(d.status == v.Int("status", 500) && d.code == v.Text("code", "InternalError") &&
                  d.message == v.Text("message", "We encountered an internal error."));
        if (action == "expire") Check(d.status == 403 && d.code == "SecurityTokenExpired");
        Check(d.close_after_bytes == (action == "close" ? v.Int("close_after_bytes", 0) : -1));
        Check(d.bad_crc == (action == "bad_crc"));
        Check(d.alter_body == (action == "corrupt_body" || action == "truncate_body"));
        const bool corrupt = action == "corrupt_body";
        Check(d.corrupt_offset == (corrupt ? v.Int("corrupt_offset", -1) : -1));
        Check(d.corrupt_length == (corrupt ? v.Int("corrupt_length", 1) : 0));
        Check(d.keep_bytes == (action == "truncate_body" ? v.Int("keep_bytes", -2) : -1));
    }
}

void CheckSettings(const std::string& text, const cJSON* doc) {
    FaultBook book;
    std::string error;
    Check(book.ApplySettings("{\"max_list_keys\": 7, \"open_delay_ms\": 9}", error));
    Values v;
    const bool valid = doc && Valid(doc, kSettings, v);
    Check(book.ApplySettings(text, error) == valid && error.empty() == valid);
    if (!valid) v = Values();
    const StoreSettings s = book.Settings();
    Check(s.ignore_range == (v.Int("ignore_range", 0) != 0));
    Check(s.max_list_keys == v.Int("max_list_keys", 7));
    Check(s.max_list_parts == v.Int("max_list_parts", 0));
    Check(s.open_delay_ms == v.Int("open_delay_ms", 9));
}

void CheckScript(const std::string& text, const cJSON* doc) {
    FaultBook book;
    std::string error;
    Values v;
    const std::string path = doc && cJSON_IsString(cJSON_GetObjectItemCaseSensitive(doc, "path"))
                                 ? cJSON_GetObjectItemCaseSensitive(doc, "path")->valuestring
                                 : "/getStsKey";
    const bool valid = doc && Valid(doc, kScript, v) && path[0] == '/' && v.s.count("path");
    Check(book.AddApiScript(text, error) == valid && error.empty() == valid);
    ApiScript got;
    for (long long use = 0; use < 4; ++use) {
        Check(book.TakeApiScript(path, got) == Applies(valid, v, use));
        if (Applies(valid, v, use))
            Check(got.path == path && got.status == v.Int("status", 500) &&
                  got.body == v.Text("body", "") && got.close == (v.Int("close", 0) != 0));
    }
}

// True when the text escapes a NUL: "\u0000" after an odd run of backslashes
// (in JSON a backslash stands only in strings). A NUL byte as it is would be
// cut as well.
bool EscapesNul(const std::string& text) {
    for (size_t at = text.find("u0000"); at != std::string::npos; at = text.find("u0000", at + 1)) {
        size_t run = 0;
        while (run < at && text[at - 1 - run] == '\\') ++run;
        if (run % 2 == 1) return true;
    }
    return false;
}

void CheckDocument(const std::string& text) {
    const char* end = nullptr;
    JsonPtr doc(cJSON_ParseWithLengthOpts(text.data(), text.size(), &end, false));
    if (doc && (text.find_first_not_of(" \t\r\n", size_t(end - text.data())) != std::string::npos ||
                EscapesNul(text) || text.find('\0') != std::string::npos))
        doc.reset();
    std::string error;
    Check((ParseJson(text, &error) != nullptr) == (doc != nullptr));
    Check(error.empty() == (doc != nullptr));
    CheckRule(text, doc.get());
    CheckSettings(text, doc.get());
    CheckScript(text, doc.get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckDocument(fuzz::Text(data, size));
    return 0;
}
