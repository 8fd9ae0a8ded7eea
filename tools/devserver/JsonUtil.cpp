#include "JsonUtil.h"

#include <cmath>
#include <cstdlib>

namespace devserver {

JsonPtr ParseJson(const std::string& text) {
    return JsonPtr(cJSON_ParseWithLength(text.data(), text.size()));
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
