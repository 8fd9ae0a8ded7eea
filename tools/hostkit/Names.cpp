#include "hostkit/Names.h"

namespace hostkit {
namespace {

bool HasControlCharacter(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) return true;
    }
    return false;
}

// What is wrong with `name` as one name of at most `max_bytes` ("is
// empty", ...); empty when nothing is.
std::string NameFault(const std::string& name, size_t max_bytes) {
    if (name.empty()) return "is empty";
    if (name.size() > max_bytes) return "is longer than " + std::to_string(max_bytes) + " bytes";
    if (name.find('/') != std::string::npos) return "contains '/'";
    if (HasControlCharacter(name)) return "contains control characters";
    return "";
}

}  // namespace

std::string KeyProblem(const std::string& key) {
    if (key.empty()) return "the object key is empty";
    if (key.front() == '/') return "object keys do not start with '/'; try '" + key.substr(1) + "'";
    if (key.back() == '/') return "'" + key + "' names a folder, not an object";
    if (key.size() > 1023) return "the object key is longer than 1023 bytes";
    if (HasControlCharacter(key)) return "the object key contains control characters";
    return "";
}

std::string NameProblem(const std::string& what, const std::string& name, size_t max_bytes) {
    const std::string fault = NameFault(name, max_bytes);
    return fault.empty() ? "" : "the " + what + " " + fault;
}

std::string FileNameProblem(const std::string& name) {
    if (name == "." || name == "..") return "it names a folder";
    const std::string fault = NameFault(name, kFileNameMax);
    return fault.empty() ? "" : "it " + fault;
}

void SplitKey(const std::string& key, std::string& folder, std::string& name) {
    const size_t slash = key.rfind('/');
    if (slash == std::string::npos) {
        folder = "/";
        name = key;
    } else {
        folder = key.substr(0, slash + 1);
        name = key.substr(slash + 1);
    }
}

std::string FolderPrefix(const std::string& typed) {
    std::string prefix = typed;
    while (!prefix.empty() && prefix.front() == '/') prefix.erase(0, 1);
    if (prefix.empty()) return "/";
    if (prefix.back() != '/') prefix += '/';
    return prefix;
}

std::string QueryEscape(const std::string& text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

}  // namespace hostkit
