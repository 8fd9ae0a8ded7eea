// The library's transfer units and what one upload can be: it sends 10 MiB
// parts, which the store numbers 1 to 10,000, and downloads 1 MiB ranges.
// The hosts built with the library (nimbra, the host kit) count progress and
// check a file against the same values.
#ifndef NIMBRA_OSSLIMITS_H
#define NIMBRA_OSSLIMITS_H

inline constexpr long long kOssPartSize = 10485760;
inline constexpr int kOssMaxParts = 10000;
inline constexpr long long kOssRangeSize = 1048576;
// 10,000 parts of 10 MiB: 104,857,600,000 bytes (97.7 GiB).
inline constexpr long long kOssMaxUploadSize = kOssPartSize * kOssMaxParts;

#endif  // NIMBRA_OSSLIMITS_H
