// cJSON ownership and the few JSON helpers the routes share.
#ifndef TOOLS_DEVSERVER_JSONUTIL_H
#define TOOLS_DEVSERVER_JSONUTIL_H

#include <cjson/cJSON.h>

#include <memory>
#include <string>

namespace devserver {

struct JsonDeleter {
    void operator()(cJSON* j) const { cJSON_Delete(j); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

// Parses `text`; null when it is not one JSON document (whitespace may
// follow it, nothing else) or when a string in it holds \u0000 or the text a
// NUL byte, which cJSON's C strings would silently cut. `error`, when given,
// says which.
JsonPtr ParseJson(const std::string& text, std::string* error = nullptr);

// Unformatted text of the document.
std::string JsonText(const cJSON* json);

// {"error": message}
std::string JsonError(const std::string& message);

// Adds `value` as an integer written out in full: cJSON prints numbers as
// doubles, which turns 2^53 into 9.00719925474099e+15.
void JsonAddInteger(cJSON* obj, const char* name, long long value);

// Optional members of an object. Each returns false when the member is
// present but has the wrong type; `found` tells whether it was present.
bool JsonGetString(const cJSON* obj, const char* name, std::string& out, bool& found);
bool JsonGetInt64(const cJSON* obj, const char* name, long long& out, bool& found);
bool JsonGetBool(const cJSON* obj, const char* name, bool& out, bool& found);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_JSONUTIL_H
