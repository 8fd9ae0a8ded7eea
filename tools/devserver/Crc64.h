// CRC-64/XZ (ECMA-182 polynomial, reflected, initial value and final XOR all
// ones), the checksum the object store reports as x-oss-hash-crc64ecma.
#ifndef TOOLS_DEVSERVER_CRC64_H
#define TOOLS_DEVSERVER_CRC64_H

#include <cstddef>
#include <cstdint>

namespace devserver {

// Continues a running checksum; start with crc = 0 (the initial/final XOR is
// applied inside), so Crc64Update(0, whole) == Crc64Update(Crc64Update(0, a), b).
uint64_t Crc64Update(uint64_t crc, const void* data, size_t len);

// Checksum of A followed by B, from crc(A), crc(B) and the length of B.
uint64_t Crc64Combine(uint64_t crc_a, uint64_t crc_b, uint64_t len_b);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_CRC64_H
