// Time formats of the store and the web API.
#ifndef TOOLS_DEVSERVER_TIMEUTIL_H
#define TOOLS_DEVSERVER_TIMEUTIL_H

#include <cstdint>
#include <ctime>
#include <string>

namespace devserver {

int64_t NowMillis();
// "Sat, 05 Dec 2026 08:00:00 GMT"
std::string HttpDate(int64_t millis);
// "2019-03-15T08:20:31.000Z" (whole seconds, as the store lists them)
std::string IsoListingTime(int64_t millis);
// "2019-03-15T08:20:31Z"
std::string IsoSeconds(int64_t seconds);
// Parses an RFC 1123 date; false when it is not one.
bool ParseHttpDate(const std::string& text, time_t& out);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_TIMEUTIL_H
