// Conditional GET and HEAD: If-Match, If-None-Match, If-Modified-Since and
// If-Unmodified-Since against an object's ETag and modification time, in the
// order HTTP gives them (RFC 7232, section 6).
#ifndef TOOLS_DEVSERVER_PRECONDITIONS_H
#define TOOLS_DEVSERVER_PRECONDITIONS_H

#include <cstdint>
#include <string>

#include "RequestText.h"

namespace devserver {

enum class Precondition {
    kPass,         // serve the object
    kNotModified,  // 304, no body
    kFailed,       // 412 PreconditionFailed
};

// `etag` as the store sends it (quoted); `modified_seconds` since the epoch.
// A date that is not an HTTP date is ignored, as HTTP asks.
Precondition EvaluatePreconditions(const KeyValues& headers, const std::string& etag,
                                   int64_t modified_seconds);

// Whether a request names any of the four headers (a PUT with one is refused).
bool HasPrecondition(const KeyValues& headers);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_PRECONDITIONS_H
