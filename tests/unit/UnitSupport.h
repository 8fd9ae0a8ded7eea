// Helpers shared by the unit tests and the fuzz targets: widening ASCII,
// switching the C locale or the time zone for a scope.
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

// Sets the C locale for the scope.
class LocaleGuard {
public:
    explicit LocaleGuard(const char* name) : saved_(std::setlocale(LC_ALL, nullptr)) {
        if (std::setlocale(LC_ALL, name) == nullptr) throw std::runtime_error("no such locale");
    }
    ~LocaleGuard() { std::setlocale(LC_ALL, saved_.c_str()); }
    LocaleGuard(const LocaleGuard&) = delete;
    LocaleGuard& operator=(const LocaleGuard&) = delete;

private:
    std::string saved_;
};

// Sets TZ for the scope.
class TimeZoneGuard {
public:
    explicit TimeZoneGuard(const char* zone) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) saved_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZoneGuard() {
        if (had_) {
            setenv("TZ", saved_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    TimeZoneGuard(const TimeZoneGuard&) = delete;
    TimeZoneGuard& operator=(const TimeZoneGuard&) = delete;

private:
    bool had_ = false;
    std::string saved_;
};

// The UTC instant of calendar fields (month 1..12).
inline time_t Utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    struct tm fields = {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return timegm(&fields);
}

}  // namespace unit

#endif  // TESTS_UNIT_UNITSUPPORT_H
