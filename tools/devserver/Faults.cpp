#include "Faults.h"

#include "JsonUtil.h"

namespace devserver {

void FaultBook::Reset() {
    std::lock_guard<std::mutex> lock(mu_);
    rules_.clear();
    scripts_.clear();
    settings_ = StoreSettings();
}

namespace {

bool ReadCount(const cJSON* j, long& count, std::string& error) {
    long long v = 1;
    bool found = false;
    if (!JsonGetInt64(j, "count", v, found) || (found && (v == 0 || v < -1))) {
        error = "\"count\" must be a positive integer or -1";
        return false;
    }
    count = found ? static_cast<long>(v) : 1;
    return true;
}

}  // namespace

bool FaultBook::AddRule(const std::string& json, std::string& error) {
    JsonPtr j = ParseJson(json);
    if (!j || !cJSON_IsObject(j.get())) {
        error = "body must be a JSON object";
        return false;
    }
    Rule r;
    bool found = false;
    std::string action = "error";
    if (!JsonGetString(j.get(), "method", r.method, found) ||
        !JsonGetString(j.get(), "subresource", r.subresource, found) ||
        !JsonGetString(j.get(), "key_contains", r.key_contains, found) ||
        !JsonGetString(j.get(), "action", action, found) ||
        !JsonGetString(j.get(), "code", r.code, found) ||
        !JsonGetString(j.get(), "message", r.message, found)) {
        error = "method, subresource, key_contains, action, code and message must be strings";
        return false;
    }
    static const std::set<std::string> kMethods = {"", "GET", "PUT", "POST", "DELETE", "HEAD"};
    if (!kMethods.count(r.method)) {
        error = "unknown method " + r.method;
        return false;
    }
    if (!ReadCount(j.get(), r.count, error)) return false;
    long long v = 0;
    if (!JsonGetInt64(j.get(), "status", v, found) || (found && (v < 100 || v > 599))) {
        error = "\"status\" must be an HTTP status code";
        return false;
    }
    if (found) r.status = static_cast<int>(v);
    if (!JsonGetInt64(j.get(), "close_after_bytes", v, found) || (found && v < 0)) {
        error = "\"close_after_bytes\" must be a non-negative integer";
        return false;
    }
    if (found) r.close_after_bytes = v;
    if (!JsonGetInt64(j.get(), "delay_ms", v, found) || (found && (v < 0 || v > 600000))) {
        error = "\"delay_ms\" must be between 0 and 600000";
        return false;
    }
    if (found) r.delay_ms = static_cast<int>(v);
    if (!JsonGetInt64(j.get(), "corrupt_offset", v, found) || (found && v < -1)) {
        error = "\"corrupt_offset\" must be a byte offset or -1";
        return false;
    }
    if (found) r.corrupt_offset = v;
    if (!JsonGetInt64(j.get(), "corrupt_length", v, found) || (found && v < 1)) {
        error = "\"corrupt_length\" must be a positive integer";
        return false;
    }
    if (found) r.corrupt_length = v;
    if (!JsonGetInt64(j.get(), "keep_bytes", v, found) || (found && v < 0)) {
        error = "\"keep_bytes\" must be a non-negative integer";
        return false;
    }
    if (found) r.keep_bytes = v;
    if (action == "error") {
        r.action = Action::kError;
    } else if (action == "close") {
        r.action = Action::kClose;
    } else if (action == "delay") {
        r.action = Action::kDelay;
    } else if (action == "bad_crc") {
        r.action = Action::kBadCrc;
    } else if (action == "expire") {
        r.action = Action::kExpire;
    } else if (action == "corrupt_body") {
        r.action = Action::kCorruptBody;
    } else if (action == "truncate_body") {
        r.action = Action::kTruncateBody;
    } else {
        error = "unknown action " + action;
        return false;
    }
    std::lock_guard<std::mutex> lock(mu_);
    rules_.push_back(r);
    return true;
}

bool FaultBook::ApplySettings(const std::string& json, std::string& error) {
    JsonPtr j = ParseJson(json);
    if (!j || !cJSON_IsObject(j.get())) {
        error = "body must be a JSON object";
        return false;
    }
    std::lock_guard<std::mutex> lock(mu_);
    StoreSettings s = settings_;
    bool found = false;
    long long v = 0;
    if (!JsonGetBool(j.get(), "ignore_range", s.ignore_range, found)) {
        error = "\"ignore_range\" must be a boolean";
        return false;
    }
    if (!JsonGetInt64(j.get(), "max_list_keys", v, found) || (found && (v < 0 || v > 1000))) {
        error = "\"max_list_keys\" must be between 0 and 1000";
        return false;
    }
    if (found) s.max_list_keys = static_cast<int>(v);
    if (!JsonGetInt64(j.get(), "max_list_parts", v, found) || (found && (v < 0 || v > 1000))) {
        error = "\"max_list_parts\" must be between 0 and 1000";
        return false;
    }
    if (found) s.max_list_parts = static_cast<int>(v);
    if (!JsonGetInt64(j.get(), "open_delay_ms", v, found) || (found && (v < 0 || v > 10000))) {
        error = "\"open_delay_ms\" must be between 0 and 10000";
        return false;
    }
    if (found) s.open_delay_ms = static_cast<int>(v);
    settings_ = s;
    return true;
}

bool FaultBook::AddApiScript(const std::string& json, std::string& error) {
    JsonPtr j = ParseJson(json);
    if (!j || !cJSON_IsObject(j.get())) {
        error = "body must be a JSON object";
        return false;
    }
    ApiScript s;
    bool found = false;
    if (!JsonGetString(j.get(), "path", s.path, found) || !found || s.path.empty() ||
        s.path[0] != '/') {
        error = "\"path\" must be a string starting with /";
        return false;
    }
    if (!JsonGetString(j.get(), "body", s.body, found)) {
        error = "\"body\" must be a string";
        return false;
    }
    long long v = 0;
    if (!JsonGetInt64(j.get(), "status", v, found) || (found && (v < 100 || v > 599))) {
        error = "\"status\" must be an HTTP status code";
        return false;
    }
    if (found) s.status = static_cast<int>(v);
    if (!JsonGetBool(j.get(), "close", s.close, found)) {
        error = "\"close\" must be a boolean";
        return false;
    }
    if (!ReadCount(j.get(), s.count, error)) return false;
    std::lock_guard<std::mutex> lock(mu_);
    scripts_.push_back(s);
    return true;
}

FaultDecision FaultBook::Match(const std::string& method, const std::set<std::string>& query_keys,
                               const std::string& key) {
    FaultDecision d;
    std::lock_guard<std::mutex> lock(mu_);
    bool decided = false;  // one error/close/crc/expire rule per request
    for (auto it = rules_.begin(); it != rules_.end();) {
        Rule& r = *it;
        bool match = (r.method.empty() || r.method == method) &&
                     (r.subresource.empty() ||
                      (r.subresource == "none" ? query_keys.empty()
                                               : query_keys.count(r.subresource) != 0)) &&
                     key.find(r.key_contains) != std::string::npos;
        if (!match || (decided && r.action != Action::kDelay)) {
            ++it;
            continue;
        }
        switch (r.action) {
            case Action::kDelay:
                d.delay_ms += r.delay_ms;
                break;
            case Action::kError:
                d.error = true;
                d.status = r.status;
                d.code = r.code;
                d.message = r.message;
                decided = true;
                break;
            case Action::kExpire:
                d.error = true;
                d.status = 403;
                d.code = "SecurityTokenExpired";
                d.message = "The security token you provided has expired.";
                decided = true;
                break;
            case Action::kClose:
                d.close_after_bytes = r.close_after_bytes;
                decided = true;
                break;
            case Action::kBadCrc:
                d.bad_crc = true;
                decided = true;
                break;
            case Action::kCorruptBody:
                d.alter_body = true;
                d.corrupt_offset = r.corrupt_offset;
                d.corrupt_length = r.corrupt_length;
                decided = true;
                break;
            case Action::kTruncateBody:
                d.alter_body = true;
                d.keep_bytes = r.keep_bytes;
                decided = true;
                break;
        }
        if (r.count > 0 && --r.count == 0) {
            it = rules_.erase(it);
        } else {
            ++it;
        }
    }
    return d;
}

StoreSettings FaultBook::Settings() {
    std::lock_guard<std::mutex> lock(mu_);
    return settings_;
}

bool FaultBook::TakeApiScript(const std::string& path, ApiScript& out) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = scripts_.begin(); it != scripts_.end(); ++it) {
        if (it->path != path) continue;
        out = *it;
        if (it->count > 0 && --it->count == 0) scripts_.erase(it);
        return true;
    }
    return false;
}

}  // namespace devserver
