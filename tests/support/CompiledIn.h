// The deployment addresses compiled into the library, as tests need them to
// put a server where the library will look.
#ifndef TESTS_SUPPORT_COMPILEDIN_H
#define TESTS_SUPPORT_COMPILEDIN_H

#include <string>

#include "Nimbra/NimbraConfig.h"

namespace compiled_in {

// The port of a "scheme://127.0.0.1:<port>" URL; 0 for any other URL.
inline int LoopbackPort(const std::string& url) {
    const std::string marker = "://127.0.0.1:";
    size_t at = url.find(marker);
    if (at == std::string::npos) return 0;
    size_t start = at + marker.size();
    size_t end = start;
    while (end < url.size() && url[end] >= '0' && url[end] <= '9') ++end;
    if (end == start || (end != url.size() && url[end] != '/')) return 0;
    return std::stoi(url.substr(start, end - start));
}

inline int ApiPort() {
    return LoopbackPort(NIMBRA_SERVER_URL);
}
inline int StorePort() {
    return LoopbackPort(NIMBRA_ENDPOINT);
}
inline bool ApiIsTls() {
    return std::string(NIMBRA_SERVER_URL).rfind("https://", 0) == 0;
}
inline const char* Bucket() {
    return NIMBRA_BUCKET;
}

}  // namespace compiled_in

#endif  // TESTS_SUPPORT_COMPILEDIN_H
