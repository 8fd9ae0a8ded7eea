#include "StoreServer.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <set>
#include <thread>

#include "AnswerFaults.h"
#include "JsonUtil.h"
#include "RequestEntry.h"
#include "Signer.h"
#include "TimeUtil.h"
#include "Xml.h"

namespace devserver {
namespace {

constexpr size_t kMaxKeyBytes = 1023;
// The largest object a single PUT stores, and the largest part: 5 GiB.
constexpr long long kMaxUploadBytes = 5ll << 30;
// Standard headers of an object's content that the store keeps as given on
// upload and returns on download.
const char* const kContentHeaders[] = {"Cache-Control", "Content-Disposition", "Content-Encoding",
                                       "Expires"};

}  // namespace

std::string NewRequestId() {
    std::string id = RandomHex(12);
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
    return id;
}

// One store request: Begin when its head is in, Receive for each piece of
// its body, Finish for its answer. Whatever happens in between, the answer
// leaves through Finish, and the engine reads the rest of a body that is no
// longer wanted, or refuses it with the connection.
class StoreService::Request : public Exchange {
public:
    Request(StoreService& store, const HttpRequest& r) : store_(store), c_(r) { store_.Begin(c_); }
    bool WantsBody() const override {
        return !c_.answered && (c_.blob != nullptr || c_.document_limit > 0);
    }
    void Take(const char* data, size_t size) override { store_.Receive(c_, data, size); }
    Answer Finish() override { return store_.Finish(c_); }

private:
    StoreService& store_;
    StoreContext c_;
};

StoreService::StoreService(Database& db, BlobStore& blobs, FaultBook& faults, Stats& stats,
                           const Authenticator& auth, StopSignal& stop)
    : db_(db), blobs_(blobs), faults_(faults), stats_(stats), auth_(auth), stop_(stop) {}

std::unique_ptr<Exchange> StoreService::Start(const HttpRequest& request) {
    return std::make_unique<Request>(*this, request);
}

Answer StoreService::Refuse(const HttpRequest& request, int status, const std::string& message) {
    const std::string id = NewRequestId();
    Answer a;
    a.Set("x-oss-request-id", id);
    a.SetText(status,
              ErrorXml(status >= 500 ? "InternalError" : "InvalidArgument", message, id,
                       request.Header("Host")),
              "application/xml");
    return a;
}

void StoreService::Begin(StoreContext& c) {
    c.request_id = NewRequestId();
    c.answer.Set("x-oss-request-id", c.request_id);
    c.answer.Set("Server", "AliyunOSS");
    c.answer.Set("Date", HttpDate(NowMillis()));
    if (!Admit(c) || !Resolve(c)) return;
    stats_.CountRequest(OperationName(c.operation));
    c.settings = faults_.Settings();
    if (!FaultsBeforeServing(c)) return;
    // A bucket that does not exist is named so before any credential is
    // checked against it, as the real store does.
    if (c.operation != Operation::kPutBucket && !RequireBucket(c)) return;
    if (Authenticate(c)) Prepare(c);
}

bool StoreService::Admit(StoreContext& c) {
    if ((c.req.method == "PUT" || c.req.method == "POST") && !HasBodyFraming(c.headers)) {
        // Bytes that follow would be taken for the next request: the
        // connection ends with the answer.
        c.answer.close = true;
        SendError(c, 411, "MissingContentLength",
                  "You must provide the Content-Length HTTP header.");
        return false;
    }
    return true;
}

bool StoreService::Resolve(StoreContext& c) {
    std::string path;
    if (!ParseTarget(c.req.target, path, c.query)) {
        SendError(c, 400, "InvalidURI", "The request URI is malformed.");
    } else if (!ResolveAddress(c.req.Header("Host"), path, c.addr)) {
        SendError(c, 400, "InvalidBucketName", "The specified bucket is not valid.");
    } else if (c.addr.key.size() > kMaxKeyBytes) {
        SendError(c, 400, "InvalidObjectName", "The length of object name is invalid.");
    } else if (!c.addr.key.empty() && (c.addr.key[0] == '/' || c.addr.key[0] == '\\')) {
        SendError(c, 400, "InvalidObjectName", "The specified object is not valid.");
    } else {
        c.operation = Classify(c.req.method, c.addr, c.query, c.headers);
        if (c.operation != Operation::kNotImplemented) return true;
        SendError(c, 501, "NotImplemented",
                  "This operation is not supported by the development server.");
    }
    return false;
}

bool StoreService::FaultsBeforeServing(StoreContext& c) {
    std::set<std::string> query_keys;
    for (const auto& q : c.query) query_keys.insert(q.first);
    // The rules' decision for both steps; those on the answer wait in c.fault.
    c.fault = faults_.Match(c.req.method, query_keys, c.addr.key);
    // Every matching delay, then an error instead of the operation. Before
    // authentication, so they also hit requests with expired credentials.
    if (c.fault.delay_ms > 0) stop_.SleepFor(c.fault.delay_ms);
    if (c.fault.error) SendError(c, c.fault.status, c.fault.code, c.fault.message);
    return !c.fault.error;
}

bool StoreService::Authenticate(StoreContext& c) {
    const AuthRequest ar{c.req.method, c.headers, c.addr.bucket, c.addr.key, c.query};
    const AuthResult auth = auth_.Check(ar, NowMillis() / 1000);
    if (!auth.ok) SendError(c, auth.status, auth.code, auth.message, auth.extra);
    return auth.ok;
}

bool StoreService::RequireBucket(StoreContext& c) {
    if (db_.BucketExists(c.addr.bucket)) return true;
    SendError(c, 404, "NoSuchBucket", "The specified bucket does not exist.",
              {{"BucketName", c.addr.bucket}});
    return false;
}

void StoreService::Prepare(StoreContext& c) {
    switch (c.operation) {
        case Operation::kPutObject:
            return PreparePutObject(c);
        case Operation::kUploadPart:
            return PrepareUploadPart(c);
        case Operation::kCompleteMultipartUpload:
            return PrepareCompletion(c);
        default:
            return;  // no body wanted: any that comes is dropped
    }
}

void StoreService::Receive(StoreContext& c, const char* data, size_t size) {
    if (c.blob) {
        // A chunked body announces no length: the limit applies as it comes.
        if (c.blob->size() + static_cast<long long>(size) > kMaxUploadBytes) {
            c.blob.reset();
            return SendError(c, 400, "EntityTooLarge",
                             "Your proposed upload exceeds the maximum allowed size.");
        }
        if (!c.blob->Write(data, size))
            SendError(c, 500, "InternalError", "The server could not store the data.");
        return;
    }
    if (c.document.size() + size > c.document_limit) {
        c.document.clear();
        return SendError(c, 400, "EntityTooLarge",
                         "Your proposed upload exceeds the maximum size.");
    }
    c.document.append(data, size);
}

Answer StoreService::Finish(StoreContext& c) {
    if (!c.answered) Serve(c);
    ApplyAnswerFaults(c.fault, c.answer);
    return std::move(c.answer);
}

void StoreService::Serve(StoreContext& c) {
    switch (c.operation) {
        case Operation::kPutBucket:
            return PutBucket(c);
        case Operation::kListObjects:
            return ListObjects(c);
        case Operation::kPutObject:
            return PutObject(c);
        case Operation::kGetObject:
            return GetObject(c, false);
        case Operation::kHeadObject:
            return GetObject(c, true);
        case Operation::kDeleteObject:
            return DeleteObject(c);
        case Operation::kCopyObject:
            return CopyObject(c);
        case Operation::kInitiateMultipartUpload:
            return InitiateMultipartUpload(c);
        case Operation::kUploadPart:
            return UploadPart(c);
        case Operation::kListParts:
            return ListParts(c);
        case Operation::kCompleteMultipartUpload:
            return CompleteMultipartUpload(c);
        case Operation::kAbortMultipartUpload:
            return AbortMultipartUpload(c);
        case Operation::kNotImplemented:
            return;  // refused in Resolve
    }
}

void StoreService::SendError(StoreContext& c, int status, const std::string& code,
                             const std::string& message, const KeyValues& extra) {
    c.answered = true;
    const std::string xml = ErrorXml(code, message, c.request_id, c.req.Header("Host"), extra);
    if (c.req.method == "HEAD") {
        // No body; like the real store, the error document travels base64
        // encoded in a header.
        c.answer.status = status;
        c.answer.body = nullptr;
        c.answer.Set("x-oss-err",
                     Base64Encode(reinterpret_cast<const unsigned char*>(xml.data()), xml.size()));
        return;
    }
    c.answer.SetText(status, xml, "application/xml");
}

void StoreService::SendXml(StoreContext& c, int status, const std::string& xml) {
    c.answer.SetText(status, xml, "application/xml");
}

bool StoreService::WithinUploadLimit(StoreContext& c) {
    const std::string length = HeaderValue(c.headers, "Content-Length");
    // Checked as it arrives: a valid number of at most 18 digits.
    if (length.empty() || std::stoll(length) <= kMaxUploadBytes) return true;
    SendError(c, 400, "EntityTooLarge", "Your proposed upload exceeds the maximum allowed size.");
    return false;
}

bool StoreService::DigestMatches(StoreContext& c, const std::string& md5) {
    const std::string given = HeaderValue(c.headers, "Content-MD5");
    if (given.empty()) return true;
    const std::string want = Base64Decode(given);
    if (want.size() != 16)
        SendError(c, 400, "InvalidDigest", "The Content-MD5 you specified is not valid.");
    else if (want != md5)
        SendError(c, 400, "InvalidDigest",
                  "The Content-MD5 you specified did not match what we received.");
    return want == md5;
}

bool StoreService::ForbidsOverwrite(const KeyValues& headers) {
    return strcasecmp(HeaderValue(headers, "x-oss-forbid-overwrite").c_str(), "true") == 0;
}

void StoreService::RefuseOverwrite(StoreContext& c) {
    SendError(c, 409, "FileAlreadyExists",
              "The object you specified already exists and can not be overwritten.");
}

bool StoreService::OverwriteRefused(StoreContext& c) {
    ObjectMeta existing;
    if (!ForbidsOverwrite(c.headers) || !db_.GetObject(c.addr.bucket, c.addr.key, existing))
        return false;
    RefuseOverwrite(c);
    return true;
}

void StoreService::HoldBeforeOpening(const StoreContext& c) {
    if (c.settings.open_delay_ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(c.settings.open_delay_ms));
}

std::string StoreService::ContentHeadersJson(const KeyValues& headers) {
    JsonPtr j(cJSON_CreateObject());
    for (const char* name : kContentHeaders)
        if (HasHeader(headers, name))
            cJSON_AddStringToObject(j.get(), name, HeaderValue(headers, name).c_str());
    return JsonText(j.get());
}

std::string StoreService::UserMetaJson(const KeyValues& headers) {
    JsonPtr j(cJSON_CreateObject());
    for (const auto& h : headers) {
        std::string name = h.first;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
        if (name.rfind("x-oss-meta-", 0) == 0) {
            cJSON_DeleteItemFromObjectCaseSensitive(j.get(), name.c_str());
            cJSON_AddStringToObject(j.get(), name.c_str(), h.second.c_str());
        }
    }
    return JsonText(j.get());
}

void StoreService::SetStoredHeaders(Answer& answer, const std::string& json) {
    JsonPtr j = ParseJson(json);
    if (!j) return;
    for (cJSON* m = j->child; m; m = m->next)
        if (cJSON_IsString(m) && m->string) answer.Set(m->string, m->valuestring);
}

}  // namespace devserver
