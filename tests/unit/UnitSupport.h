// Helpers of the unit tests and fuzz targets: ASCII widened, the C locale or
// the time zone set for a scope, a UTC instant from calendar fields.
#ifndef TESTS_UNIT_UNITSUPPORT_H
#define TESTS_UNIT_UNITSUPPORT_H

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>

namespace unit {

// Each byte as one wide character (bytes above 0x7f as U+0080..U+00FF).
inline std::wstring Widen(const std::string& text) {
    std::wstring wide;
    for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

struct LocaleGuard {
    explicit LocaleGuard(const char* name) : saved(std::setlocale(LC_ALL, nullptr)) {
        if (std::setlocale(LC_ALL, name) == nullptr) throw std::runtime_error("no such locale");
    }
    ~LocaleGuard() { std::setlocale(LC_ALL, saved.c_str()); }
    const std::string saved;
};

struct TimeZoneGuard {  // an empty TZ is restored as none
    explicit TimeZoneGuard(const char* zone) : saved(std::getenv("TZ") ? std::getenv("TZ") : "") {
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZoneGuard() {
        saved.empty() ? unsetenv("TZ") : setenv("TZ", saved.c_str(), 1);
        tzset();
    }
    const std::string saved;
};

inline time_t Utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    struct tm fields = {};
    fields.tm_year = year - 1900, fields.tm_mon = month - 1, fields.tm_mday = day;
    fields.tm_hour = hour, fields.tm_min = minute, fields.tm_sec = second;
    return timegm(&fields);
}

}  // namespace unit

#endif  // TESTS_UNIT_UNITSUPPORT_H
