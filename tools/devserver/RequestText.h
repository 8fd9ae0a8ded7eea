// The texts of a store request, without an HTTP library: percent-coding, the request
// target, the bucket and key it addresses, byte ranges, list counts, header
// and query lookups, and trimming. Shared by the server and its test clients.
#ifndef TOOLS_DEVSERVER_REQUESTTEXT_H
#define TOOLS_DEVSERVER_REQUESTTEXT_H

#include <string>
#include <utility>
#include <vector>

namespace devserver {

using KeyValues = std::vector<std::pair<std::string, std::string>>;

// The value of the first header named `name` (any case); "" if none.
std::string HeaderValue(const KeyValues& headers, const std::string& name);
// Whether a header named `name` (any case) is present, even with no value.
bool HasHeader(const KeyValues& headers, const std::string& name);
// `text` without the spaces and tabs around it (as around a header value).
std::string Trim(const std::string& text);
// The value of the first query parameter named `name` (exact); "" if none.
std::string QueryValue(const KeyValues& query, const std::string& name, bool* found = nullptr);

// Percent-decodes `text` ('+' stays '+'). False on a malformed escape.
bool PercentDecode(const std::string& text, std::string& out);
// Percent-encodes everything but unreserved characters (and '/' if keep_slash).
std::string PercentEncode(const std::string& text, bool keep_slash);

// Splits a request target into its decoded path and decoded query pairs.
bool ParseTarget(const std::string& target, std::string& path, KeyValues& query);

// Path-style when the Host is an IP address or localhost (with or without a
// port), virtual-hosted (bucket = first label of the Host) otherwise.
struct StoreAddress {
    std::string bucket;
    std::string key;
    bool object_level = false;  // a key was addressed
};
bool ResolveAddress(const std::string& host_header, const std::string& path, StoreAddress& out);

// Byte range of a GET. kNone: serve the whole object, 200 (no Range, or one
// that is ignored); kPartial: bytes [first, last], 206; kUnsatisfiable: 416.
struct ByteRange {
    enum Kind { kNone, kPartial, kUnsatisfiable } kind = kNone;
    long long first = 0;
    long long last = 0;  // inclusive
};
// How a range that does not lie within the object is answered, as the store
// chooses by `x-oss-range-behavior`. kLenient (the store's default): the
// whole object. kStandard ("standard"): the part that exists, or nothing
// (416) when it starts at or beyond the end, as HTTP has it. In both, a
// header that is not one well-formed byte range is ignored.
enum class RangeBehavior { kLenient, kStandard };
ByteRange ParseRange(const std::string& header, long long size, RangeBehavior behavior);

// A decimal count within [lo, hi] (max-keys, max-parts, markers).
bool ParseListCount(const std::string& text, int lo, int hi, int& out);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_REQUESTTEXT_H
