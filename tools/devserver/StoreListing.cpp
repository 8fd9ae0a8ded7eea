// ListObjects (GET on a bucket): prefix, exclusive marker, delimiter folding
// into common prefixes, max-keys counting keys and prefixes together.
#include <algorithm>
#include <cstdlib>

#include "StoreServer.h"
#include "TimeUtil.h"
#include "Xml.h"

namespace devserver {
namespace {

constexpr int kDefaultMaxKeys = 100;
constexpr int kMaxMaxKeys = 1000;
constexpr int kBatch = 512;

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// Smallest string greater than every string that starts with `p`; empty when
// there is none (p is all 0xFF bytes).
std::string PrefixEnd(std::string p) {
    while (!p.empty() && static_cast<unsigned char>(p.back()) == 0xFF) p.pop_back();
    if (!p.empty()) p.back() = static_cast<char>(static_cast<unsigned char>(p.back()) + 1);
    return p;
}

}  // namespace

void StoreService::ListObjects(StoreContext& c) {
    bool has_max = false;
    std::string prefix = QueryValue(c.query, "prefix");
    std::string marker = QueryValue(c.query, "marker");
    std::string delimiter = QueryValue(c.query, "delimiter");
    std::string max_text = QueryValue(c.query, "max-keys", &has_max);
    std::string encoding = QueryValue(c.query, "encoding-type");
    int max_keys = kDefaultMaxKeys;
    if (has_max && !ParseListCount(max_text, 0, kMaxMaxKeys, max_keys))
        return SendError(c, 400, "InvalidArgument", "max-keys must be between 0 and 1000.",
                         {{"ArgumentName", "max-keys"}, {"ArgumentValue", max_text}});
    if (!encoding.empty() && encoding != "url")
        return SendError(c, 400, "InvalidArgument", "Invalid Encoding Method specified.",
                         {{"ArgumentName", "encoding-type"}, {"ArgumentValue", encoding}});
    int limit = max_keys;
    if (c.settings.max_list_keys > 0) limit = std::min(limit, c.settings.max_list_keys);

    struct Entry {
        bool is_prefix;
        ObjectMeta object;
        std::string common_prefix;
    };
    std::vector<Entry> entries;
    bool truncated = false;

    // Start at the prefix (inclusive) or just after the marker, whichever is later.
    std::string from = marker;
    bool inclusive = false;
    if (prefix > marker) {
        from = prefix;
        inclusive = true;
    }
    bool done = false;
    while (!done) {
        std::vector<ObjectMeta> batch = db_.ObjectsFrom(c.addr.bucket, from, inclusive, kBatch);
        if (batch.empty()) break;
        bool reseek = false;
        for (ObjectMeta& m : batch) {
            if (!StartsWith(m.key, prefix)) {
                done = true;  // sorted: nothing later can match
                break;
            }
            size_t pos =
                delimiter.empty() ? std::string::npos : m.key.find(delimiter, prefix.size());
            if (pos != std::string::npos) {
                std::string cp = m.key.substr(0, pos + delimiter.size());
                if (cp > marker) {
                    if (static_cast<int>(entries.size()) >= limit) {
                        truncated = true;
                        done = true;
                        break;
                    }
                    entries.push_back({true, ObjectMeta(), cp});
                }
                // Skip every other key under this common prefix.
                from = PrefixEnd(cp);
                inclusive = true;
                if (from.empty()) done = true;
                reseek = true;
                break;
            }
            if (static_cast<int>(entries.size()) >= limit) {
                truncated = true;
                done = true;
                break;
            }
            from = m.key;
            inclusive = false;
            entries.push_back({false, std::move(m), ""});
        }
        if (!reseek && static_cast<int>(batch.size()) < kBatch) break;
    }

    bool url = encoding == "url";
    auto enc = [url](const std::string& s) { return url ? PercentEncode(s, true) : s; };
    XmlWriter w;
    w.Open("ListBucketResult")
        .Element("Name", c.addr.bucket)
        .Element("Prefix", enc(prefix))
        .Element("Marker", enc(marker))
        .Element("MaxKeys", max_keys)
        .Element("Delimiter", enc(delimiter));
    if (url) w.Element("EncodingType", "url");
    w.Element("IsTruncated", truncated ? "true" : "false");
    if (truncated && !entries.empty()) {
        const Entry& last = entries.back();
        w.Element("NextMarker", enc(last.is_prefix ? last.common_prefix : last.object.key));
    }
    for (const Entry& e : entries) {
        if (e.is_prefix) continue;
        w.Open("Contents")
            .Element("Key", enc(e.object.key))
            .Element("LastModified", IsoListingTime(e.object.last_modified_ms))
            .Element("ETag", e.object.etag)
            .Element("Type", e.object.type)
            .Element("Size", e.object.size)
            .Element("StorageClass", "Standard")
            .Open("Owner")
            .Element("ID", "nimbra-devserver")
            .Element("DisplayName", "nimbra-devserver")
            .Close("Owner")
            .Close("Contents");
    }
    for (const Entry& e : entries) {
        if (!e.is_prefix) continue;
        w.Open("CommonPrefixes").Element("Prefix", enc(e.common_prefix)).Close("CommonPrefixes");
    }
    w.Close("ListBucketResult");
    SendXml(c, 200, w.str());
}

}  // namespace devserver
