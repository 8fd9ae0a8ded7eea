// Checks made on a request as it arrives, before httplib reads its body:
// framing that httplib would take on trust, and where a request comes from.
#ifndef TOOLS_DEVSERVER_REQUESTENTRY_H
#define TOOLS_DEVSERVER_REQUESTENTRY_H

#include <httplib.h>

#include <string>

namespace devserver {

// "" when the request has no Content-Length or one decimal number of bytes;
// otherwise what is wrong (httplib reads "abc" as 0: an empty body).
std::string ContentLengthProblem(const httplib::Request& req);

// True when the request says how long its body is: a Content-Length or the
// chunked transfer coding. Without either, a request has no body.
bool HasBodyFraming(const httplib::Request& req);

// The loopback peers: 127.0.0.0/8, ::1 and ::ffff:127.0.0.0/104.
bool IsLoopbackAddress(const std::string& address);

// A Host header that names a loopback address or localhost, with or without
// a port. A page that a browser loads from elsewhere sends its own host.
bool IsLoopbackHost(const std::string& host);

// The media type of a Content-Type value, lower case, without parameters:
// "Application/JSON; charset=utf-8" gives "application/json".
std::string MediaType(const std::string& content_type);

// Marks the answer as the connection's last: the server ends the connection
// once it is written (AbortConnection from the logger), so that an unread
// body is never taken for the next request.
void CloseAfterAnswer(httplib::Response& res);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_REQUESTENTRY_H
