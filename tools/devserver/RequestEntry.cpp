#include "RequestEntry.h"

#include <arpa/inet.h>
#include <strings.h>

#include <algorithm>
#include <cctype>

namespace devserver {

std::string ContentLengthProblem(const KeyValues& headers) {
    std::string first;
    for (const auto& h : headers) {
        if (strcasecmp(h.first.c_str(), "Content-Length") != 0) continue;
        const std::string& v = h.second;
        if (v.empty() || v.size() > 18 || v.find_first_not_of("0123456789") != std::string::npos)
            return "Content-Length must be a decimal number of bytes.";
        if (!first.empty() && v != first) return "The request has two different Content-Lengths.";
        first = v;
    }
    return "";
}

bool HasBodyFraming(const KeyValues& headers) {
    return HasHeader(headers, "Content-Length") ||
           strcasecmp(HeaderValue(headers, "Transfer-Encoding").c_str(), "chunked") == 0;
}

bool IsLoopbackAddress(const std::string& address) {
    std::string v4 = address;
    if (v4.rfind("::ffff:", 0) == 0) v4 = v4.substr(7);
    in_addr a4{};
    if (inet_pton(AF_INET, v4.c_str(), &a4) == 1) return (ntohl(a4.s_addr) >> 24) == 127;
    in6_addr a6{};
    return inet_pton(AF_INET6, address.c_str(), &a6) == 1 && IN6_IS_ADDR_LOOPBACK(&a6);
}

bool IsLoopbackHost(const std::string& host) {
    std::string name = host;
    if (!name.empty() && name[0] == '[') {
        const size_t close = name.find(']');
        if (close == std::string::npos) return false;
        const std::string rest = name.substr(close + 1);
        if (!rest.empty() && (rest[0] != ':' || rest.size() == 1)) return false;
        name = name.substr(1, close - 1);
    } else {
        const size_t colon = name.find(':');
        if (colon != std::string::npos) name = name.substr(0, colon);
    }
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name == "localhost" || IsLoopbackAddress(name);
}

std::string MediaType(const std::string& content_type) {
    std::string type = content_type.substr(0, content_type.find(';'));
    const size_t first = type.find_first_not_of(" \t");
    const size_t last = type.find_last_not_of(" \t");
    type = first == std::string::npos ? "" : type.substr(first, last - first + 1);
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return type;
}

}  // namespace devserver
