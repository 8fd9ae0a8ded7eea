// CRC-64/XZ (ECMA-182 polynomial, reflected, initial value and final XOR all
// ones), the checksum the store reports in x-oss-hash-crc64ecma.
#ifndef CONTRACTS_OSS_AOS_CRC64_H
#define CONTRACTS_OSS_AOS_CRC64_H

#include <stddef.h>
#include <stdint.h>

// Continues `crc` (0 for an empty prefix) over `len` more bytes:
// aos_crc64(aos_crc64(0, a), b) == aos_crc64(0, a + b).
uint64_t aos_crc64(uint64_t crc, const void* data, size_t len);

// The CRC-64 of A followed by B from crc1 = CRC-64 of A, crc2 = CRC-64 of B
// and len2 = the length of B, without the bytes: how the parts' checksums
// give the checksum of the object they make up.
uint64_t aos_crc64_combine(uint64_t crc1, uint64_t crc2, uint64_t len2);

#endif  // CONTRACTS_OSS_AOS_CRC64_H
