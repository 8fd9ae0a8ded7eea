#include "Signer.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "RequestText.h"

namespace devserver {
namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

bool IsSignedSubresource(const std::string& key) {
    static const std::set<std::string> kNames = {
        "acl",
        "uploads",
        "location",
        "cors",
        "logging",
        "website",
        "referer",
        "lifecycle",
        "delete",
        "append",
        "tagging",
        "objectMeta",
        "uploadId",
        "partNumber",
        "security-token",
        "position",
        "img",
        "style",
        "styleName",
        "replication",
        "replicationProgress",
        "replicationLocation",
        "cname",
        "bucketInfo",
        "comp",
        "qos",
        "live",
        "status",
        "vod",
        "startTime",
        "endTime",
        "symlink",
        "x-oss-process",
        "response-content-type",
        "response-content-language",
        "response-expires",
        "response-cache-control",
        "response-content-disposition",
        "response-content-encoding",
        "udf",
        "udfName",
        "udfImage",
        "udfId",
        "udfImageDesc",
        "udfApplication",
        "udfApplicationLog",
        "restore",
        "callback",
        "callback-var",
        "stat",
        "versionId",
        "versioning",
        "versions",
        "encryption",
        "policy",
        "requestPayment",
        "worm",
        "wormId",
        "wormExtend",
        "sequential",
        "inventory",
        "inventoryId",
        "continuation-token",
        "asyncFetch",
        "regionList",
        "cname",
        "objectInfo",
        "resourceGroup",
    };
    return kNames.count(key) != 0;
}

std::string CanonicalizedResource(const std::string& bucket, const std::string& key,
                                  const std::vector<std::pair<std::string, std::string>>& query) {
    std::string out = bucket.empty() ? "/" : "/" + bucket + "/" + key;
    std::vector<std::pair<std::string, std::string>> sub;
    for (const auto& kv : query)
        if (IsSignedSubresource(kv.first)) sub.push_back(kv);
    std::stable_sort(sub.begin(), sub.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < sub.size(); ++i) {
        out += i == 0 ? "?" : "&";
        out += sub[i].first;
        if (!sub[i].second.empty()) out += "=" + sub[i].second;
    }
    return out;
}

std::string CanonicalizedOssHeaders(
    const std::vector<std::pair<std::string, std::string>>& headers) {
    std::map<std::string, std::string> oss;
    for (const auto& h : headers) {
        std::string name = Lower(h.first);
        if (name.rfind("x-oss-", 0) == 0) oss[name] = Trim(h.second);
    }
    std::string out;
    for (const auto& h : oss) out += h.first + ":" + h.second + "\n";
    return out;
}

std::string StringToSign(const std::string& verb, const std::string& content_md5,
                         const std::string& content_type, const std::string& date,
                         const std::string& canonical_headers, const std::string& resource) {
    return verb + "\n" + content_md5 + "\n" + content_type + "\n" + date + "\n" +
           canonical_headers + resource;
}

std::string SignString(const std::string& secret, const std::string& string_to_sign) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int mac_len = 0;
    HMAC(EVP_sha1(), secret.data(), static_cast<int>(secret.size()),
         reinterpret_cast<const unsigned char*>(string_to_sign.data()), string_to_sign.size(), mac,
         &mac_len);
    return Base64Encode(mac, mac_len);
}

std::string Base64Encode(const unsigned char* data, size_t len) {
    std::string out(4 * ((len + 2) / 3), '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), data, static_cast<int>(len));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string Base64Decode(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0) return "";
    std::string out(text.size() / 4 * 3, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                            reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0) return "";
    // EVP_DecodeBlock keeps the padding bytes; drop them.
    size_t pad = 0;
    if (text[text.size() - 1] == '=') ++pad;
    if (text[text.size() - 2] == '=') ++pad;
    out.resize(static_cast<size_t>(n) - pad);
    return out;
}

}  // namespace devserver
