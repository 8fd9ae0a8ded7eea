#include "JsonUtil.h"

#include <cmath>
#include <cstdlib>

namespace devserver {

namespace {

// True when a string of the (syntactically valid) document escapes a NUL.
bool EscapesNul(const std::string& text) {
    bool in_string = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') {
            in_string = !in_string;
        } else if (in_string && text[i] == '\\' && i + 1 < text.size()) {
            if (text.compare(i + 1, 5, "u0000") == 0) return true;
            ++i;  // the escaped character cannot end the string
        }
    }
    return false;
}

}  // namespace

JsonPtr ParseJson(const std::string& text, std::string* error) {
    const char* end = nullptr;
    JsonPtr json(cJSON_ParseWithLengthOpts(text.data(), text.size(), &end, false));
    const char* problem = nullptr;
    if (!json) {
        problem = "not JSON";
    } else if (text.find_first_not_of(" \t\r\n", static_cast<size_t>(end - text.data())) !=
               std::string::npos) {
        problem = "bytes follow the JSON document";
    } else if (EscapesNul(text)) {
        problem = "a string holds \\u0000";
    } else if (text.find('\0') != std::string::npos) {
        problem = "the text holds a NUL byte";  // cJSON takes it, and cuts a name or string there
    }
    if (problem == nullptr) return json;
    if (error != nullptr) *error = problem;
    return nullptr;
}

std::string JsonText(const cJSON* json) {
    char* s = cJSON_PrintUnformatted(json);
    if (!s) return "null";
    std::string out(s);
    cJSON_free(s);
    return out;
}

std::string JsonError(const std::string& message) {
    JsonPtr j(cJSON_CreateObject());
    cJSON_AddStringToObject(j.get(), "error", message.c_str());
    return JsonText(j.get());
}

void JsonAddInteger(cJSON* obj, const char* name, long long value) {
    cJSON_AddRawToObject(obj, name, std::to_string(value).c_str());
}

bool JsonGetString(const cJSON* obj, const char* name, std::string& out, bool& found) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(obj, name);
    found = item != nullptr;
    if (!item) return true;
    if (!cJSON_IsString(item) || !item->valuestring) return false;
    out = item->valuestring;
    return true;
}

bool JsonGetInt64(const cJSON* obj, const char* name, long long& out, bool& found) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(obj, name);
    found = item != nullptr;
    if (!item) return true;
    if (!cJSON_IsNumber(item)) return false;
    double v = item->valuedouble;
    // Integral values within the exactly representable range of a double.
    if (!std::isfinite(v) || v != std::floor(v) || std::fabs(v) > 9007199254740992.0) return false;
    out = static_cast<long long>(v);
    return true;
}

bool JsonGetBool(const cJSON* obj, const char* name, bool& out, bool& found) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(obj, name);
    found = item != nullptr;
    if (!item) return true;
    if (!cJSON_IsBool(item)) return false;
    out = cJSON_IsTrue(item);
    return true;
}

}  // namespace devserver
