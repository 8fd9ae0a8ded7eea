// What one upload can be: the library sends 10 MiB parts, and the store
// numbers them 1 to 10,000. The nimbra command line, built with the library,
// checks a file against the same limit before uploading it.
#ifndef NIMBRA_OSSLIMITS_H
#define NIMBRA_OSSLIMITS_H

inline constexpr long long kOssPartSize = 10485760;
inline constexpr int kOssMaxParts = 10000;
// 10,000 parts of 10 MiB: 104,857,600,000 bytes (97.7 GiB).
inline constexpr long long kOssMaxUploadSize = kOssPartSize * kOssMaxParts;

#endif  // NIMBRA_OSSLIMITS_H
