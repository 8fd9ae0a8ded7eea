// The object store: a subset of the OSS REST protocol over httplib. This file
// holds request parsing, addressing, dispatch and the shared response helpers;
// the operations live in StoreObjects.cpp, StoreListing.cpp, StoreMultipart.cpp.
#ifndef TOOLS_DEVSERVER_STORESERVER_H
#define TOOLS_DEVSERVER_STORESERVER_H

#include <httplib.h>

#include <string>

#include "Auth.h"
#include "BlobWriter.h"
#include "Database.h"
#include "Faults.h"
#include "ObjectFiles.h"
#include "Stats.h"

namespace devserver {

// 24 upper-case hex digits, fresh for every answer (x-oss-request-id).
std::string NewRequestId();

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

// Byte range of a GET. kNone: serve the whole object (no or ignored Range).
struct ByteRange {
    enum Kind { kNone, kPartial, kUnsatisfiable } kind = kNone;
    long long first = 0;
    long long last = 0;  // inclusive
};
ByteRange ParseRange(const std::string& header, long long size);

// A decimal count within [lo, hi] (max-keys, max-parts, markers).
bool ParseListCount(const std::string& text, int lo, int hi, int& out);

struct StoreContext {
    StoreContext(const httplib::Request& q, httplib::Response& r, const httplib::ContentReader* rd)
        : req(q), res(r), reader(rd) {}
    const httplib::Request& req;
    httplib::Response& res;
    const httplib::ContentReader* reader;  // null for requests without a body
    std::string request_id;
    StoreAddress addr;
    KeyValues query;
    KeyValues headers;
    std::string operation;
    StoreSettings settings;
    bool body_read = false;
    long long close_after_bytes = -1;  // fault: cut the connection after that many body bytes
};

class StoreService {
public:
    StoreService(Database& db, BlobStore& blobs, FaultBook& faults, Stats& stats,
                 const Authenticator& auth);
    // Catch-all routes for every path outside /__dev/.
    void Register(httplib::Server& server);

private:
    void Handle(const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader* reader);
    void Dispatch(StoreContext& c);
    static std::string Classify(const std::string& method, const StoreAddress& addr,
                                const KeyValues& query, const KeyValues& headers);

    // StoreObjects.cpp
    void PutBucket(StoreContext& c);
    void PutObject(StoreContext& c);
    void GetObject(StoreContext& c, bool head);
    void DeleteObject(StoreContext& c);
    void CopyObject(StoreContext& c);
    // StoreListing.cpp
    void ListObjects(StoreContext& c);
    // StoreMultipart.cpp
    void InitiateMultipartUpload(StoreContext& c);
    void UploadPart(StoreContext& c);
    void ListParts(StoreContext& c);
    void CompleteMultipartUpload(StoreContext& c);
    void AbortMultipartUpload(StoreContext& c);

    // Shared helpers.
    void SendError(StoreContext& c, int status, const std::string& code, const std::string& message,
                   const KeyValues& extra = {});
    void SendXml(StoreContext& c, int status, const std::string& xml);
    // Streams the request body into `w`; false (error sent) on failure.
    bool ReceiveBody(StoreContext& c, BlobWriter& w);
    // Reads a small body; false (error sent) when it exceeds `limit`.
    bool ReadSmallBody(StoreContext& c, std::string& out, size_t limit);
    // Reads and discards an unread body so the connection stays usable.
    void DiscardBody(StoreContext& c);
    bool RequireBucket(StoreContext& c);
    static std::string UserMetaJson(const KeyValues& headers);
    static void SetUserMetaHeaders(httplib::Response& res, const std::string& json);

    Database& db_;
    BlobStore& blobs_;
    FaultBook& faults_;
    Stats& stats_;
    const Authenticator& auth_;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_STORESERVER_H
