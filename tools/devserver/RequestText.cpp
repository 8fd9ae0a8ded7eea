#include "RequestText.h"

#include <arpa/inet.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>

namespace devserver {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ValidBucketName(const std::string& b) {
    if (b.size() < 3 || b.size() > 63) return false;
    if (b.front() == '-' || b.back() == '-') return false;
    return std::all_of(b.begin(), b.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
}

// Decimal digits only; values beyond LLONG_MAX saturate there.
bool ParseDecimal(const std::string& s, long long& out) {
    if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos) return false;
    out = 0;
    for (char c : s) {
        if (out > (LLONG_MAX - (c - '0')) / 10) {
            out = LLONG_MAX;
            return true;
        }
        out = out * 10 + (c - '0');
    }
    return true;
}

}  // namespace

bool PercentDecode(const std::string& text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        int hi = HexValue(text[i + 1]);
        int lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

std::string PercentEncode(const std::string& text, bool keep_slash) {
    static const char* kDigits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' ||
            (keep_slash && c == '/')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        }
    }
    return out;
}

bool ParseTarget(const std::string& target, std::string& path, KeyValues& query) {
    query.clear();
    size_t q = target.find('?');
    if (!PercentDecode(target.substr(0, q), path)) return false;
    if (path.empty() || path[0] != '/') return false;
    if (q == std::string::npos) return true;
    std::string rest = target.substr(q + 1);
    size_t pos = 0;
    while (pos <= rest.size()) {
        size_t amp = rest.find('&', pos);
        if (amp == std::string::npos) amp = rest.size();
        std::string piece = rest.substr(pos, amp - pos);
        if (!piece.empty()) {
            size_t eq = piece.find('=');
            std::string k, v;
            if (!PercentDecode(piece.substr(0, eq), k)) return false;
            if (eq != std::string::npos && !PercentDecode(piece.substr(eq + 1), v)) return false;
            query.emplace_back(k, v);
        }
        pos = amp + 1;
    }
    return true;
}

bool ResolveAddress(const std::string& host_header, const std::string& path, StoreAddress& out) {
    out = StoreAddress();
    std::string host = host_header;
    bool ip = false;
    if (!host.empty() && host[0] == '[') {
        ip = true;  // IPv6 literal
    } else {
        size_t colon = host.rfind(':');
        if (colon != std::string::npos) host = host.substr(0, colon);
        std::transform(host.begin(), host.end(), host.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        in_addr a4;
        ip = inet_pton(AF_INET, host.c_str(), &a4) == 1;
    }
    size_t dot = host.find('.');
    bool path_style = ip || host.empty() || host == "localhost" || dot == std::string::npos;
    if (path_style) {
        size_t slash = path.find('/', 1);
        out.bucket = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
        out.key = slash == std::string::npos ? "" : path.substr(slash + 1);
    } else {
        out.bucket = host.substr(0, dot);
        out.key = path.substr(1);
    }
    out.object_level = !out.key.empty();
    return out.bucket.empty() || ValidBucketName(out.bucket);
}

ByteRange ParseRange(const std::string& header, long long size, RangeBehavior behavior) {
    ByteRange r;
    std::string h = header;
    size_t b = h.find_first_not_of(" \t");
    if (b == std::string::npos) return r;
    h = h.substr(b);
    if (h.size() < 6) return r;
    std::string unit = h.substr(0, 6);
    std::transform(unit.begin(), unit.end(), unit.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (unit != "bytes=") return r;
    std::string set = h.substr(6);
    if (set.find(',') != std::string::npos) return r;  // several ranges: whole object
    size_t dash = set.find('-');
    if (dash == std::string::npos) return r;
    const std::string a = set.substr(0, dash), z = set.substr(dash + 1);
    long long first = 0, last = 0;
    const bool has_first = !a.empty(), has_last = !z.empty();
    if ((!has_first && !has_last) || (has_first && !ParseDecimal(a, first)) ||
        (has_last && !ParseDecimal(z, last)) || (has_first && has_last && first > last))
        return r;  // not a byte range: ignored
    const bool standard = behavior == RangeBehavior::kStandard;
    if (!has_first) {
        // The last `last` bytes; all of them when the object is shorter.
        if (last == 0 || size == 0) {
            if (standard) r.kind = ByteRange::kUnsatisfiable;
            return r;
        }
        r.kind = ByteRange::kPartial;
        r.first = std::max(0LL, size - last);
        r.last = size - 1;
        return r;
    }
    if (first >= size) {
        if (standard) r.kind = ByteRange::kUnsatisfiable;
        return r;
    }
    // An end beyond the object: the store's default answers the whole object.
    if (has_last && last >= size && !standard) return r;
    r.kind = ByteRange::kPartial;
    r.first = first;
    r.last = has_last ? std::min(last, size - 1) : size - 1;
    return r;
}

bool ParseListCount(const std::string& text, int lo, int hi, int& out) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    int v = std::atoi(text.c_str());
    if (v < lo || v > hi) return false;
    out = v;
    return true;
}

std::string HeaderValue(const KeyValues& headers, const std::string& name) {
    for (const auto& h : headers)
        if (strcasecmp(h.first.c_str(), name.c_str()) == 0) return h.second;
    return "";
}

bool HasHeader(const KeyValues& headers, const std::string& name) {
    for (const auto& h : headers)
        if (strcasecmp(h.first.c_str(), name.c_str()) == 0) return true;
    return false;
}

std::string Trim(const std::string& text) {
    const size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    return text.substr(b, text.find_last_not_of(" \t") - b + 1);
}

std::string QueryValue(const KeyValues& query, const std::string& name, bool* found) {
    for (const auto& q : query) {
        if (q.first == name) {
            if (found) *found = true;
            return q.second;
        }
    }
    if (found) *found = false;
    return "";
}

}  // namespace devserver
