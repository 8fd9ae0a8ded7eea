// Version 1 header signatures of the object store:
//   Authorization: OSS <AccessKeyId>:<base64(HMAC-SHA1(secret, StringToSign))>
// Shared by the server (verification) and by test clients (signing).
#ifndef TOOLS_DEVSERVER_SIGNER_H
#define TOOLS_DEVSERVER_SIGNER_H

#include <string>
#include <utility>
#include <vector>

namespace devserver {

// True for query keys that take part in the canonicalized resource
// (acl, uploads, uploadId, partNumber, response-* overrides, ...).
bool IsSignedSubresource(const std::string& key);

// "/bucket/key" (or "/bucket/" for bucket-level requests; "/" without a bucket)
// followed by "?" and the signed sub-resources of `query`, sorted by name,
// "k=v" or "k" alone when the value is empty. Key and values are raw (decoded).
std::string CanonicalizedResource(const std::string& bucket, const std::string& key,
                                  const std::vector<std::pair<std::string, std::string>>& query);

// "name:value\n" for every header whose lower-cased name starts with "x-oss-",
// sorted by lower-cased name, values trimmed. Header names are matched
// case-insensitively.
std::string CanonicalizedOssHeaders(
    const std::vector<std::pair<std::string, std::string>>& headers);

// VERB "\n" Content-MD5 "\n" Content-Type "\n" Date "\n" headers resource
std::string StringToSign(const std::string& verb, const std::string& content_md5,
                         const std::string& content_type, const std::string& date,
                         const std::string& canonical_headers, const std::string& resource);

// base64(HMAC-SHA1(secret, string_to_sign))
std::string SignString(const std::string& secret, const std::string& string_to_sign);

// Base64 (OpenSSL).
std::string Base64Encode(const unsigned char* data, size_t len);
std::string Base64Decode(const std::string& text);  // empty on malformed input

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_SIGNER_H
