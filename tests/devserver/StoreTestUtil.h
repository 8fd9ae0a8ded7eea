// Helpers shared by the store tests: reference checksums computed
// independently of the server, deterministic test data, XML field extraction.
#ifndef TESTS_DEVSERVER_STORETESTUTIL_H
#define TESTS_DEVSERVER_STORETESTUTIL_H

#include <openssl/evp.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/TestData.h"

namespace storetest {

// Bitwise CRC-64/XZ, the slow textbook way.
inline uint64_t ReferenceCrc64(const std::string& data) {
    uint64_t crc = ~0ULL;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xC96C5795D7870F42ULL : crc >> 1;
    }
    return ~crc;
}

inline std::string Md5Raw(const std::string& data) {
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), d, &n, EVP_md5(), nullptr);
    return std::string(reinterpret_cast<char*>(d), n);
}

inline std::string HexUpper(const std::string& raw) {
    static const char* k = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : raw) {
        out += k[c >> 4];
        out += k[c & 15];
    }
    return out;
}

inline std::string QuotedMd5(const std::string& data) {
    return "\"" + HexUpper(Md5Raw(data)) + "\"";
}

using testdata::RandomBytes;

// Text of every <tag>...</tag> in document order (no nesting of the same tag).
inline std::vector<std::string> XmlAll(const std::string& xml, const std::string& tag) {
    std::vector<std::string> out;
    std::string open = "<" + tag + ">", close = "</" + tag + ">";
    size_t pos = 0;
    while ((pos = xml.find(open, pos)) != std::string::npos) {
        size_t end = xml.find(close, pos);
        if (end == std::string::npos) break;
        out.push_back(xml.substr(pos + open.size(), end - pos - open.size()));
        pos = end + close.size();
    }
    return out;
}

inline std::string XmlFirst(const std::string& xml, const std::string& tag) {
    auto all = XmlAll(xml, tag);
    return all.empty() ? "" : all.front();
}

// Unescapes the five XML entities.
inline std::string XmlText(std::string s) {
    const std::pair<const char*, const char*> ents[] = {
        {"&quot;", "\""}, {"&apos;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}};
    for (const auto& e : ents) {
        size_t p;
        while ((p = s.find(e.first)) != std::string::npos)
            s.replace(p, std::strlen(e.first), e.second);
    }
    return s;
}

inline std::string ReadFile(const std::string& path) {
    std::string out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

inline std::string UrlEncode(const std::string& s, bool keep_slash = true) {
    static const char* k = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' ||
            (keep_slash && c == '/')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += k[c >> 4];
            out += k[c & 15];
        }
    }
    return out;
}

}  // namespace storetest

#endif  // TESTS_DEVSERVER_STORETESTUTIL_H
