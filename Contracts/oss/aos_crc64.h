// CRC-64/XZ (ECMA-182 polynomial, reflected, initial value and final XOR all
// ones), the checksum the store reports in x-oss-hash-crc64ecma.
#ifndef CONTRACTS_OSS_AOS_CRC64_H
#define CONTRACTS_OSS_AOS_CRC64_H

#include <stddef.h>
#include <stdint.h>

// Continues `crc` (0 for an empty prefix) over `len` more bytes:
// aos_crc64(aos_crc64(0, a), b) == aos_crc64(0, a + b).
uint64_t aos_crc64(uint64_t crc, const void* data, size_t len);

#endif  // CONTRACTS_OSS_AOS_CRC64_H
