// The object store: a subset of the OSS REST protocol. This file holds the
// way of one request (StoreServer.cpp): its checks, the faults before it is
// served, authentication, where its body goes, the operation, the faults on
// its answer; the operations live in StoreObjects.cpp, StoreListing.cpp,
// StoreMultipart.cpp.
#ifndef TOOLS_DEVSERVER_STORESERVER_H
#define TOOLS_DEVSERVER_STORESERVER_H

#include <memory>
#include <string>

#include "Auth.h"
#include "BlobWriter.h"
#include "Database.h"
#include "Faults.h"
#include "HttpMessage.h"
#include "ObjectFiles.h"
#include "RequestText.h"
#include "Stats.h"
#include "StopSignal.h"
#include "StoreOperation.h"

namespace devserver {

// 24 upper-case hex digits, fresh for every answer (x-oss-request-id).
std::string NewRequestId();

struct StoreContext {
    explicit StoreContext(const HttpRequest& r) : req(r), headers(r.headers) {}
    const HttpRequest& req;
    const KeyValues& headers;
    Answer answer;
    // The answer was settled before the body was read to its end: the rest
    // of the body is dropped and no operation runs.
    bool answered = false;
    std::string request_id;
    StoreAddress addr;
    KeyValues query;  // decoded, in order
    Operation operation = Operation::kNotImplemented;
    StoreSettings settings;
    FaultDecision fault;
    // Where the body goes: an object's or a part's bytes into a new blob, or
    // a document (a part list) of at most `document_limit` bytes into
    // `document`; neither: it is dropped.
    std::unique_ptr<BlobWriter> blob;
    size_t document_limit = 0;
    std::string document;
    Upload upload;  // the multipart upload a part or completion is for
    int part_number = 0;
};

class StoreService : public HttpService {
public:
    StoreService(Database& db, BlobStore& blobs, FaultBook& faults, Stats& stats,
                 const Authenticator& auth, StopSignal& stop);

    std::unique_ptr<Exchange> Start(const HttpRequest& request) override;
    Answer Refuse(const HttpRequest& request, int status, const std::string& message) override;

private:
    class Request;  // the Exchange of one store request

    // Before the body: the checks, each of which may settle the answer, and
    // where the body goes.
    void Begin(StoreContext& c);
    bool Admit(StoreContext& c);
    bool Resolve(StoreContext& c);
    bool FaultsBeforeServing(StoreContext& c);
    bool Authenticate(StoreContext& c);
    void Prepare(StoreContext& c);
    // The body, piece by piece, into its place.
    void Receive(StoreContext& c, const char* data, size_t size);
    // After the body: the operation (unless the answer is settled), then the
    // faults on the answer.
    Answer Finish(StoreContext& c);
    void Serve(StoreContext& c);

    // StoreObjects.cpp
    void PutBucket(StoreContext& c);
    void PreparePutObject(StoreContext& c);
    void PutObject(StoreContext& c);
    void GetObject(StoreContext& c, bool head);
    void DeleteObject(StoreContext& c);
    void CopyObject(StoreContext& c);
    // Stores a new object's metadata; on failure, releases its blobs and
    // answers (409 FileAlreadyExists when `keep_existing` found one).
    bool Record(StoreContext& c, const ObjectMeta& m, bool keep_existing);
    // StoreListing.cpp
    void ListObjects(StoreContext& c);
    // StoreMultipart.cpp
    void InitiateMultipartUpload(StoreContext& c);
    void PrepareUploadPart(StoreContext& c);
    void UploadPart(StoreContext& c);
    void ListParts(StoreContext& c);
    void PrepareCompletion(StoreContext& c);
    void CompleteMultipartUpload(StoreContext& c);
    void AbortMultipartUpload(StoreContext& c);

    // Shared helpers. SendError settles the answer; so do the checks below
    // when they fail.
    void SendError(StoreContext& c, int status, const std::string& code, const std::string& message,
                   const KeyValues& extra = {});
    void SendXml(StoreContext& c, int status, const std::string& xml);
    bool FindUpload(StoreContext& c);
    bool RequireBucket(StoreContext& c);
    // A body the store takes whole (an object, a part) within its limit, as
    // announced before it is read.
    bool WithinUploadLimit(StoreContext& c);
    // The request's Content-MD5, if any, against the raw MD5 of its body.
    bool DigestMatches(StoreContext& c, const std::string& md5);
    // x-oss-forbid-overwrite: true.
    static bool ForbidsOverwrite(const KeyValues& headers);
    void RefuseOverwrite(StoreContext& c);  // 409 FileAlreadyExists
    // The request forbids overwriting and its key already names an object:
    // answered 409 at once (the write checks again as it commits).
    bool OverwriteRefused(StoreContext& c);
    // Waits open_delay_ms: called where an object or parts found are held
    // against changes, before their bytes are opened or linked.
    static void HoldBeforeOpening(const StoreContext& c);
    // Stored with an object or upload as JSON, set on the answers that
    // return it: x-oss-meta-* headers, and the standard headers of its content.
    static std::string UserMetaJson(const KeyValues& headers);
    static std::string ContentHeadersJson(const KeyValues& headers);
    static void SetStoredHeaders(Answer& answer, const std::string& json);

    Database& db_;
    BlobStore& blobs_;
    FaultBook& faults_;
    Stats& stats_;
    const Authenticator& auth_;
    StopSignal& stop_;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_STORESERVER_H
