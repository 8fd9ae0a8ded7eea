#include "TimeUtil.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace devserver {

int64_t NowMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string HttpDate(int64_t millis) {
    time_t t = static_cast<time_t>(millis / 1000);
    struct tm tm_utc;
    gmtime_r(&t, &tm_utc);
    char buf[64];
    strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm_utc);
    return buf;
}

std::string IsoListingTime(int64_t millis) {
    time_t t = static_cast<time_t>(millis / 1000);
    struct tm tm_utc;
    gmtime_r(&t, &tm_utc);
    char buf[64];
    strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm_utc);
    return std::string(buf) + ".000Z";
}

std::string IsoSeconds(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm tm_utc;
    gmtime_r(&t, &tm_utc);
    char buf[64];
    strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm_utc);
    return buf;
}

bool ParseHttpDate(const std::string& text, time_t& out) {
    struct tm tm_utc;
    std::memset(&tm_utc, 0, sizeof tm_utc);
    const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm_utc);
    if (!end || *end != '\0') return false;
    out = timegm(&tm_utc);
    return true;
}

}  // namespace devserver
