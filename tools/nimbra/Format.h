// Text forms of sizes, rates, durations and times for the command output.
#ifndef NIMBRA_CLI_FORMAT_H
#define NIMBRA_CLI_FORMAT_H

#include <ctime>
#include <string>

namespace cli {

// 1536 -> "1.5 KiB"; below 1 KiB plain bytes ("512 B").
std::string FormatBytes(long long bytes);

// Bytes per second -> "12.3 MiB/s".
std::string FormatRate(double bytes_per_second);

// Seconds -> "0:05", "12:34", "1:02:03"; negative -> "--:--".
std::string FormatDuration(double seconds);

// Local time "YYYY-MM-DD HH:MM" (or with seconds).
std::string FormatLocalTime(time_t t, bool with_seconds = false);

// ISO 8601 local time with its UTC offset, e.g. "2024-12-05T15:40:02+01:00".
std::string FormatIsoLocal(time_t t);

// `text` as a terminal can show it safely: C0 and C1 control characters,
// DEL and bytes that are not UTF-8 become \xNN (C1 ones \u0080 to \u009F),
// the direction overrides and isolates \u202A to \u202E and \u2066 to
// \u2069, and a backslash \\. Names and texts from a server could otherwise
// clear the screen, retitle the terminal or reorder what is shown.
std::string SafeText(const std::string& text);

// Listing times come from the library as the store's UTC wall-clock fields
// read as local standard time (mktime with tm_isdst 0). Returns the instant
// they name.
time_t ListingTimeToEpoch(time_t listing_time);

}  // namespace cli

#endif  // NIMBRA_CLI_FORMAT_H
