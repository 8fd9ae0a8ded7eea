// Text forms of sizes, rates, durations and times, as every host shows them.
#ifndef HOSTKIT_FORMAT_H
#define HOSTKIT_FORMAT_H

#include <ctime>
#include <string>

namespace hostkit {

// 1536 -> "1.5 KiB"; below 1 KiB plain bytes ("512 B").
std::string FormatBytes(long long bytes);

// Bytes per second -> "12.3 MiB/s".
std::string FormatRate(double bytes_per_second);

// Seconds -> "0:05", "12:34", "1:02:03"; negative -> "--:--".
std::string FormatDuration(double seconds);

// Local time "YYYY-MM-DD HH:MM".
std::string FormatLocalTime(time_t t);

// Milliseconds since the epoch as local time "YYYY-MM-DD HH:MM:SS.mmm".
std::string FormatLocalMillis(long long ms);

// ISO 8601 local time with its UTC offset, e.g. "2024-12-05T15:40:02+01:00".
std::string FormatIsoLocal(time_t t);

}  // namespace hostkit

#endif  // HOSTKIT_FORMAT_H
