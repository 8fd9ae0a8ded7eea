// The store operations this server implements, with the names the stats
// count them by, and which one a request asks for.
#ifndef TOOLS_DEVSERVER_STOREOPERATION_H
#define TOOLS_DEVSERVER_STOREOPERATION_H

#include <string>

#include "RequestText.h"

namespace devserver {

enum class Operation {
    kNotImplemented,
    kPutBucket,
    kListObjects,
    kPutObject,
    kGetObject,
    kHeadObject,
    kDeleteObject,
    kCopyObject,
    kInitiateMultipartUpload,
    kUploadPart,
    kListParts,
    kCompleteMultipartUpload,
    kAbortMultipartUpload,
};

// "PutObject", "GetObject", ...
const char* OperationName(Operation op);

// The operation that a request's method, address, decoded query and headers
// ask for; kNotImplemented for anything else (other sub-resources included).
Operation Classify(const std::string& method, const StoreAddress& addr, const KeyValues& query,
                   const KeyValues& headers);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_STOREOPERATION_H
