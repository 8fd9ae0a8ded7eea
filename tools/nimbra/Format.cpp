#include "Format.h"

#include <cmath>
#include <cstdio>

namespace cli {

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

std::string FormatLocalTime(time_t t, bool with_seconds) {
    tm local{};
    localtime_r(&t, &local);
    char text[40];
    std::strftime(text, sizeof text, with_seconds ? "%Y-%m-%d %H:%M:%S" : "%Y-%m-%d %H:%M", &local);
    return text;
}

std::string FormatIsoLocal(time_t t) {
    tm local{};
    localtime_r(&t, &local);
    char text[48];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff;
    const long magnitude = offset < 0 ? -offset : offset;
    char zone[48];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', magnitude / 3600,
                  magnitude / 60 % 60);
    return std::string(text) + zone;
}

namespace {

// The length of the UTF-8 sequence at `at` and its code point; 0 when the
// bytes there are not one (bad lead or continuation, overlong, surrogate,
// past U+10FFFF).
size_t Utf8Sequence(const std::string& text, size_t at, unsigned& point) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    unsigned minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, point = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        point = point << 6 | (next & 0x3F);
    }
    if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

std::string SafeText(const std::string& text) {
    std::string out;
    char escape[16];
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned point = c;
        const size_t length = c < 0x80 ? 1 : Utf8Sequence(text, i, point);
        if (c == '\\') {
            out += "\\\\";
        } else if (length == 0 || point < 0x20 || point == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else if ((point >= 0x80 && point <= 0x9F) || (point >= 0x202A && point <= 0x202E) ||
                   (point >= 0x2066 && point <= 0x2069)) {
            std::snprintf(escape, sizeof escape, "\\u%04X", point);
            out += escape;
        } else {
            out.append(text, i, length);
        }
        i += length == 0 ? 1 : length;
    }
    return out;
}

time_t ListingTimeToEpoch(time_t listing_time) {
    // mktime with tm_isdst 0 subtracted the standard-time offset; add it back.
    tzset();
    return listing_time - timezone;
}

}  // namespace cli
