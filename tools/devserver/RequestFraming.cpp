// Two of cpp-httplib 0.11's request-reading functions, replaced the way
// RawHeaders.cpp and BodyRead.cpp replace theirs (ELF symbol interposition):
//
// - read_headers keeps every header line of a request, however many: a
//   million lines grew the server by hundreds of MiB. This one stops at
//   kMaxHeaderLines lines or kMaxHeaderBytes bytes; httplib then answers 400
//   with "Connection: close", and the server ends the connection once that
//   is written (EndConnectionIfClosing), so the rest is never read.
// - expect_content takes every POST and PUT as carrying a body, and reads
//   one without a Content-Length until the peer closes: a bare
//   `POST /__dev/reset` hung for the read timeout. A request says how long
//   its body is by a Content-Length or the chunked coding; without either it
//   has none.
//
// Header values stay as sent, as with RawHeaders.cpp's decode_url.
#include <httplib.h>

#include <string>

#include "Connections.h"
#include "RequestEntry.h"

namespace httplib {
namespace detail {
namespace {

constexpr size_t kMaxHeaderLines = 100;
constexpr size_t kMaxHeaderBytes = 64 * 1024;

// One line with its "\n" (kept), at most `limit` bytes; false at the end of
// the stream or past the limit.
bool ReadLine(Stream& strm, std::string& line, size_t limit) {
    line.clear();
    char c = 0;
    while (line.size() < limit) {
        if (strm.read(&c, 1) != 1) return false;
        line += c;
        if (c == '\n') return true;
    }
    return false;
}

// "Name: value" without the line end; lines without a name, a colon or a
// value are skipped, as httplib skips them.
void AddHeader(const std::string& line, Headers& headers) {
    size_t end = line.size();
    while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || colon >= end) return;
    size_t value = colon + 1;
    while (value < end && (line[value] == ' ' || line[value] == '\t')) ++value;
    if (value < end) headers.emplace(line.substr(0, colon), line.substr(value, end - value));
}

}  // namespace

bool read_headers(Stream& strm, Headers& headers);
bool expect_content(const Request& req);

__attribute__((visibility("default"))) bool read_headers(Stream& strm, Headers& headers) {
    devserver::CurrentConnection().socket = strm.socket();
    std::string line;
    size_t bytes = 0;
    for (size_t lines = 0;; ++lines) {
        const size_t room = kMaxHeaderBytes - bytes;
        if (lines > kMaxHeaderLines || room == 0 || !ReadLine(strm, line, room)) break;
        bytes += line.size();
        // Lines that do not end in CRLF are skipped, as httplib does.
        if (line.size() < 2 || line[line.size() - 2] != '\r') continue;
        if (line.size() == 2) return true;  // the blank line ending the headers
        AddHeader(line.substr(0, line.size() - 2), headers);
    }
    // Too many or too long, or the peer went.
    headers.emplace("Connection", "close");
    return false;
}

__attribute__((visibility("default"))) bool expect_content(const Request& req) {
    if (req.method != "POST" && req.method != "PUT" && req.method != "PATCH" &&
        req.method != "DELETE")
        return false;
    return devserver::HasBodyFraming(req);
}

}  // namespace detail
}  // namespace httplib
