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
#include "RequestText.h"
#include "Stats.h"

namespace devserver {

// 24 upper-case hex digits, fresh for every answer (x-oss-request-id).
std::string NewRequestId();

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
    // Checks a store request as it arrives, before its body is read: false,
    // with the store's error as the answer, when its framing cannot be trusted.
    bool Admit(const httplib::Request& req, httplib::Response& res);

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
