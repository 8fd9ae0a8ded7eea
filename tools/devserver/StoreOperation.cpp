#include "StoreOperation.h"

#include "Signer.h"

namespace devserver {
namespace {

bool Has(const KeyValues& query, const char* name) {
    bool found = false;
    QueryValue(query, name, &found);
    return found;
}

// Signed sub-resources that the operations understand; any other one names
// an operation this server does not implement.
bool HandledSubresource(const std::string& k) {
    return k == "uploads" || k == "uploadId" || k == "partNumber" || k == "security-token" ||
           k == "objectMeta" || k.rfind("response-", 0) == 0;
}

bool HasUnhandledSubresource(const KeyValues& query) {
    for (const auto& q : query)
        if (IsSignedSubresource(q.first) && !HandledSubresource(q.first)) return true;
    return false;
}

}  // namespace

const char* OperationName(Operation op) {
    switch (op) {
        case Operation::kNotImplemented:
            return "NotImplemented";
        case Operation::kPutBucket:
            return "PutBucket";
        case Operation::kListObjects:
            return "ListObjects";
        case Operation::kPutObject:
            return "PutObject";
        case Operation::kGetObject:
            return "GetObject";
        case Operation::kHeadObject:
            return "HeadObject";
        case Operation::kDeleteObject:
            return "DeleteObject";
        case Operation::kCopyObject:
            return "CopyObject";
        case Operation::kInitiateMultipartUpload:
            return "InitiateMultipartUpload";
        case Operation::kUploadPart:
            return "UploadPart";
        case Operation::kListParts:
            return "ListParts";
        case Operation::kCompleteMultipartUpload:
            return "CompleteMultipartUpload";
        case Operation::kAbortMultipartUpload:
            return "AbortMultipartUpload";
    }
    return "NotImplemented";
}

Operation Classify(const std::string& method, const StoreAddress& addr, const KeyValues& query,
                   const KeyValues& headers) {
    if (addr.bucket.empty() || HasUnhandledSubresource(query)) return Operation::kNotImplemented;
    const bool copy = !HeaderValue(headers, "x-oss-copy-source").empty();
    const bool upload_id = Has(query, "uploadId");
    if (!addr.object_level) {
        if (Has(query, "uploads") || upload_id || Has(query, "partNumber"))
            return Operation::kNotImplemented;
        if (method == "PUT") return Operation::kPutBucket;
        if (method == "GET") return Operation::kListObjects;
        return Operation::kNotImplemented;
    }
    if (method == "PUT") {
        if (upload_id && Has(query, "partNumber"))
            return copy ? Operation::kNotImplemented : Operation::kUploadPart;
        if (upload_id || Has(query, "partNumber") || Has(query, "uploads"))
            return Operation::kNotImplemented;
        return copy ? Operation::kCopyObject : Operation::kPutObject;
    }
    if (method == "GET") return upload_id ? Operation::kListParts : Operation::kGetObject;
    if (method == "HEAD") return Operation::kHeadObject;
    if (method == "DELETE")
        return upload_id ? Operation::kAbortMultipartUpload : Operation::kDeleteObject;
    if (method == "POST") {
        if (Has(query, "uploads")) return Operation::kInitiateMultipartUpload;
        if (upload_id) return Operation::kCompleteMultipartUpload;
    }
    return Operation::kNotImplemented;
}

}  // namespace devserver
