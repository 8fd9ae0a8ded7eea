#include "hostkit/Format.h"

#include <cmath>
#include <cstdio>

namespace hostkit {
namespace {

// `t` as local time in strftime's `format`; `offset` receives its distance
// from UTC in seconds.
std::string LocalText(time_t t, const char* format, long* offset = nullptr) {
    tm local{};
    localtime_r(&t, &local);
    char text[48];
    std::strftime(text, sizeof text, format, &local);
    if (offset != nullptr) *offset = local.tm_gmtoff;
    return text;
}

}  // namespace

std::string FormatBytes(long long bytes) {
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    int unit = -1;
    while (value >= 1024.0 && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string FormatRate(double bytes_per_second) {
    if (!(bytes_per_second >= 0.0) || std::isinf(bytes_per_second)) return "-- B/s";
    return FormatBytes(static_cast<long long>(bytes_per_second)) + "/s";
}

std::string FormatDuration(double seconds) {
    if (!(seconds >= 0.0) || seconds > 360000.0 * 24) return "--:--";
    long long total = static_cast<long long>(std::llround(seconds));
    const long long hours = total / 3600;
    const long long minutes = total / 60 % 60;
    const long long secs = total % 60;
    char text[32];
    if (hours > 0) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", hours, minutes, secs);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", minutes, secs);
    }
    return text;
}

std::string FormatLocalTime(time_t t) {
    return LocalText(t, "%Y-%m-%d %H:%M");
}

std::string FormatLocalMillis(long long ms) {
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03d", static_cast<int>(ms % 1000));
    return LocalText(static_cast<time_t>(ms / 1000), "%Y-%m-%d %H:%M:%S") + millis;
}

std::string FormatIsoLocal(time_t t) {
    long offset = 0;
    const std::string text = LocalText(t, "%Y-%m-%dT%H:%M:%S", &offset);
    const long magnitude = offset < 0 ? -offset : offset;
    char zone[48];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', magnitude / 3600,
                  magnitude / 60 % 60);
    return text + zone;
}

}  // namespace hostkit
