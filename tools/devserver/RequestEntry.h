// Checks made on a request as it arrives, before its body is read: framing
// that the engine would take on trust, and where a request comes from.
#ifndef TOOLS_DEVSERVER_REQUESTENTRY_H
#define TOOLS_DEVSERVER_REQUESTENTRY_H

#include <string>

#include "RequestText.h"

namespace devserver {

// "" when the request has no Content-Length, or Content-Lengths that all
// give one decimal number of bytes; otherwise what is wrong (the engine goes
// by the first one).
std::string ContentLengthProblem(const KeyValues& headers);

// True when the request says how long its body is: a Content-Length or the
// chunked transfer coding. Without either, a request has no body.
bool HasBodyFraming(const KeyValues& headers);

// The loopback peers: 127.0.0.0/8, ::1 and ::ffff:127.0.0.0/104.
bool IsLoopbackAddress(const std::string& address);

// A Host header that names a loopback address or localhost, with or without
// a port. A page that a browser loads from elsewhere sends its own host.
bool IsLoopbackHost(const std::string& host);

// The media type of a Content-Type value, lower case, without parameters:
// "Application/JSON; charset=utf-8" gives "application/json".
std::string MediaType(const std::string& content_type);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_REQUESTENTRY_H
