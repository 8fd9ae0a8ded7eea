#include "StoreServer.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <set>
#include <thread>

#include "Connections.h"
#include "JsonUtil.h"
#include "RequestEntry.h"
#include "Signer.h"
#include "TimeUtil.h"
#include "Xml.h"

namespace devserver {
namespace {

constexpr size_t kMaxKeyBytes = 1023;
constexpr size_t kDiscardLimit = 64u << 20;  // larger unread bodies close the connection

bool Has(const KeyValues& query, const char* name) {
    bool found = false;
    QueryValue(query, name, &found);
    return found;
}

// Signed sub-resources that the operations below understand; any other one
// names an operation this server does not implement.
bool HandledSubresource(const std::string& k) {
    return k == "uploads" || k == "uploadId" || k == "partNumber" || k == "security-token" ||
           k == "objectMeta" || k.rfind("response-", 0) == 0;
}

bool HasUnhandledSubresource(const KeyValues& query) {
    for (const auto& q : query)
        if (IsSignedSubresource(q.first) && !HandledSubresource(q.first)) return true;
    return false;
}

// Applies a body fault that keeps the answer well framed: the bytes to
// corrupt are inverted, the body is cut to the bytes to keep, and the length
// sent says so. Works on in-memory and streamed bodies alike.
void AlterBody(httplib::Response& res, const FaultDecision& f) {
    const bool streamed = static_cast<bool>(res.content_provider_);
    const size_t total = streamed ? res.content_length_ : res.body.size();
    size_t keep = total;
    if (f.keep_bytes == -2) keep = total / 2;
    if (f.keep_bytes >= 0) keep = std::min(total, static_cast<size_t>(f.keep_bytes));
    const size_t from = f.corrupt_offset >= 0 ? static_cast<size_t>(f.corrupt_offset) : keep / 2;
    const size_t to = std::min(keep, from + static_cast<size_t>(f.corrupt_length));
    // Inverts the corrupted bytes that fall into data[0, n), which holds the
    // body from byte `at` on.
    auto corrupt = [from, to](char* data, size_t n, size_t at) {
        for (size_t i = std::max(from, at); i < std::min(to, at + n); ++i) data[i - at] ^= '\xff';
    };
    if (!streamed) {
        res.body.resize(keep);
        corrupt(&res.body[0], keep, 0);
        return;
    }
    httplib::ContentProvider inner = res.content_provider_;
    const std::string type = res.get_header_value("Content-Type");
    res.headers.erase("Content-Type");
    res.set_content_provider(
        keep, type, [inner, corrupt](size_t offset, size_t length, httplib::DataSink& sink) {
            httplib::DataSink proxy;
            size_t at = offset;
            proxy.write = [&](const char* data, size_t n) {
                std::string copy(data, n);
                corrupt(&copy[0], n, at);
                at += n;
                return sink.write(copy.data(), n);
            };
            proxy.is_writable = [&] { return sink.is_writable(); };
            proxy.done = [&] { sink.done(); };
            return inner(offset, length, proxy);
        });
}

}  // namespace

std::string NewRequestId() {
    std::string id = RandomHex(12);
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
    return id;
}

StoreService::StoreService(Database& db, BlobStore& blobs, FaultBook& faults, Stats& stats,
                           const Authenticator& auth)
    : db_(db), blobs_(blobs), faults_(faults), stats_(stats), auth_(auth) {}

void StoreService::Register(httplib::Server& server) {
    const std::string any = "^(?!/__dev/).*";
    server.Get(any, [this](const httplib::Request& req, httplib::Response& res) {
        Handle(req, res, nullptr);
    });
    server.Delete(any, [this](const httplib::Request& req, httplib::Response& res) {
        Handle(req, res, nullptr);
    });
    server.Put(any, [this](const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader& reader) { Handle(req, res, &reader); });
    server.Post(any, [this](const httplib::Request& req, httplib::Response& res,
                            const httplib::ContentReader& reader) { Handle(req, res, &reader); });
}

bool StoreService::Admit(const httplib::Request& req, httplib::Response& res) {
    std::string code, message;
    const std::string problem = ContentLengthProblem(req);
    if (!problem.empty()) {
        res.status = 400;
        code = "InvalidArgument";
        message = problem + ".";
    } else if ((req.method == "PUT" || req.method == "POST") && !HasBodyFraming(req)) {
        res.status = 411;
        code = "MissingContentLength";
        message = "You must provide the Content-Length HTTP header.";
    } else {
        return true;
    }
    const std::string id = NewRequestId();
    res.set_header("x-oss-request-id", id);
    res.set_content(ErrorXml(code, message, id, req.get_header_value("Host")), "application/xml");
    CloseAfterAnswer(res);
    return false;
}

std::string StoreService::Classify(const std::string& method, const StoreAddress& addr,
                                   const KeyValues& query, const KeyValues& headers) {
    if (addr.bucket.empty() || HasUnhandledSubresource(query)) return "";
    bool copy = !HeaderValue(headers, "x-oss-copy-source").empty();
    bool upload_id = Has(query, "uploadId");
    if (!addr.object_level) {
        if (Has(query, "uploads") || upload_id || Has(query, "partNumber")) return "";
        if (method == "PUT") return "PutBucket";
        if (method == "GET") return "ListObjects";
        return "";
    }
    if (method == "PUT") {
        if (upload_id && Has(query, "partNumber")) return copy ? "" : "UploadPart";
        if (upload_id || Has(query, "partNumber") || Has(query, "uploads")) return "";
        return copy ? "CopyObject" : "PutObject";
    }
    if (method == "GET") return upload_id ? "ListParts" : "GetObject";
    if (method == "HEAD") return "HeadObject";
    if (method == "DELETE") return upload_id ? "AbortMultipartUpload" : "DeleteObject";
    if (method == "POST") {
        if (Has(query, "uploads")) return "InitiateMultipartUpload";
        if (upload_id) return "CompleteMultipartUpload";
    }
    return "";
}

void StoreService::Handle(const httplib::Request& req, httplib::Response& res,
                          const httplib::ContentReader* reader) {
    ConnectionState& conn = CurrentConnection();
    if (conn.first_request) {
        conn.first_request = false;
        stats_.CountConnection();
    }
    StoreContext c{req, res, reader};
    c.request_id = NewRequestId();
    res.set_header("x-oss-request-id", c.request_id);
    res.set_header("Server", "AliyunOSS");
    res.set_header("Date", HttpDate(NowMillis()));
    for (const auto& h : req.headers) c.headers.emplace_back(h.first, h.second);

    std::string path;
    if (!ParseTarget(req.target, path, c.query)) {
        DiscardBody(c);
        return SendError(c, 400, "InvalidURI", "The request URI is malformed.");
    }
    if (!ResolveAddress(req.get_header_value("Host"), path, c.addr)) {
        DiscardBody(c);
        return SendError(c, 400, "InvalidBucketName", "The specified bucket is not valid.");
    }
    if (c.addr.key.size() > kMaxKeyBytes) {
        DiscardBody(c);
        return SendError(c, 400, "InvalidObjectName", "The length of object name is invalid.");
    }
    if (!c.addr.key.empty() && (c.addr.key[0] == '/' || c.addr.key[0] == '\\')) {
        DiscardBody(c);
        return SendError(c, 400, "InvalidObjectName", "The specified object is not valid.");
    }
    c.operation = Classify(req.method, c.addr, c.query, c.headers);
    if (c.operation.empty()) {
        DiscardBody(c);
        return SendError(c, 501, "NotImplemented",
                         "This operation is not supported by the development server.");
    }
    stats_.CountRequest(c.operation);
    c.settings = faults_.Settings();

    std::set<std::string> query_keys;
    for (const auto& q : c.query) query_keys.insert(q.first);
    FaultDecision fault = faults_.Match(req.method, query_keys, c.addr.key);
    if (fault.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(fault.delay_ms));

    if (fault.error) {
        DiscardBody(c);
        SendError(c, fault.status, fault.code, fault.message);
    } else {
        AuthRequest ar{req.method, c.headers, c.addr.bucket, c.addr.key, c.query};
        AuthResult auth = auth_.Check(ar, NowMillis() / 1000);
        if (!auth.ok) {
            DiscardBody(c);
            SendError(c, auth.status, auth.code, auth.message, auth.extra);
        } else {
            c.close_after_bytes = fault.close_after_bytes;
            Dispatch(c);
            DiscardBody(c);
        }
    }

    if (fault.bad_crc && res.has_header("x-oss-hash-crc64ecma")) {
        std::string v = res.get_header_value("x-oss-hash-crc64ecma");
        unsigned long long crc = std::strtoull(v.c_str(), nullptr, 10);
        res.headers.erase("x-oss-hash-crc64ecma");
        res.set_header("x-oss-hash-crc64ecma", std::to_string(crc ^ 0x5a5a5a5a5a5a5a5aULL));
    }
    if (fault.alter_body) AlterBody(res, fault);
    if (fault.close_after_bytes >= 0) {
        res.set_header("Connection", "close");
        long long limit = fault.close_after_bytes;
        if (!res.body.empty() && static_cast<long long>(res.body.size()) > limit) {
            auto body = std::make_shared<std::string>(std::move(res.body));
            res.body.clear();
            std::string type = res.get_header_value("Content-Type");
            res.headers.erase("Content-Type");
            size_t cut = static_cast<size_t>(limit);
            res.set_content_provider(body->size(), type,
                                     [body, cut](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset < cut)
                                             sink.write(body->data() + offset, cut - offset);
                                         return false;  // drop the connection mid-body
                                     });
        }
    }
}

void StoreService::Dispatch(StoreContext& c) {
    const std::string& op = c.operation;
    if (op == "PutBucket") return PutBucket(c);
    if (!RequireBucket(c)) return;
    if (op == "ListObjects") return ListObjects(c);
    if (op == "PutObject") return PutObject(c);
    if (op == "GetObject") return GetObject(c, false);
    if (op == "HeadObject") return GetObject(c, true);
    if (op == "DeleteObject") return DeleteObject(c);
    if (op == "CopyObject") return CopyObject(c);
    if (op == "InitiateMultipartUpload") return InitiateMultipartUpload(c);
    if (op == "UploadPart") return UploadPart(c);
    if (op == "ListParts") return ListParts(c);
    if (op == "CompleteMultipartUpload") return CompleteMultipartUpload(c);
    if (op == "AbortMultipartUpload") return AbortMultipartUpload(c);
}

bool StoreService::RequireBucket(StoreContext& c) {
    if (db_.BucketExists(c.addr.bucket)) return true;
    SendError(c, 404, "NoSuchBucket", "The specified bucket does not exist.",
              {{"BucketName", c.addr.bucket}});
    return false;
}

void StoreService::SendError(StoreContext& c, int status, const std::string& code,
                             const std::string& message, const KeyValues& extra) {
    c.res.status = status;
    std::string xml = ErrorXml(code, message, c.request_id, c.req.get_header_value("Host"), extra);
    if (c.req.method == "HEAD") {
        // No body; like the real store, the error document travels base64
        // encoded in a header.
        c.res.body.clear();
        c.res.set_header(
            "x-oss-err",
            Base64Encode(reinterpret_cast<const unsigned char*>(xml.data()), xml.size()));
        return;
    }
    c.res.set_content(xml, "application/xml");
}

void StoreService::SendXml(StoreContext& c, int status, const std::string& xml) {
    c.res.status = status;
    c.res.set_content(xml, "application/xml");
}

bool StoreService::ReceiveBody(StoreContext& c, BlobWriter& w) {
    if (!c.reader) return true;
    c.body_read = true;
    bool write_failed = false;
    bool complete = (*c.reader)([&](const char* data, size_t len) {
        if (!w.Write(data, len)) {
            write_failed = true;
            return false;
        }
        return true;
    });
    if (write_failed || !w.ok()) {
        c.res.set_header("Connection", "close");
        SendError(c, 500, "InternalError", "The server could not store the data.");
        return false;
    }
    if (!complete) {
        c.res.set_header("Connection", "close");
        SendError(c, 400, "IncompleteBody", "You did not provide the number of bytes specified.");
        return false;
    }
    return true;
}

bool StoreService::ReadSmallBody(StoreContext& c, std::string& out, size_t limit) {
    out.clear();
    if (!c.reader) return true;
    c.body_read = true;
    bool too_large = false;
    bool complete = (*c.reader)([&](const char* data, size_t len) {
        if (out.size() + len > limit) {
            too_large = true;
            return false;
        }
        out.append(data, len);
        return true;
    });
    if (too_large || !complete) {
        c.res.set_header("Connection", "close");
        if (too_large)
            SendError(c, 400, "EntityTooLarge", "Your proposed upload exceeds the maximum size.");
        else
            SendError(c, 400, "IncompleteBody",
                      "You did not provide the number of bytes specified.");
        return false;
    }
    return true;
}

void StoreService::DiscardBody(StoreContext& c) {
    if (!c.reader || c.body_read) return;
    c.body_read = true;
    long long declared = std::atoll(c.req.get_header_value("Content-Length").c_str());
    if (declared > static_cast<long long>(kDiscardLimit)) {
        c.res.set_header("Connection", "close");
        return;
    }
    bool complete = (*c.reader)([](const char*, size_t) { return true; });
    if (!complete) c.res.set_header("Connection", "close");
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

void StoreService::SetUserMetaHeaders(httplib::Response& res, const std::string& json) {
    JsonPtr j = ParseJson(json);
    if (!j) return;
    for (cJSON* m = j->child; m; m = m->next)
        if (cJSON_IsString(m) && m->string) res.set_header(m->string, m->valuestring);
}

}  // namespace devserver
