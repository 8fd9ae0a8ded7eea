#include "Crc64.h"

#include <array>

namespace devserver {
namespace {

constexpr uint64_t kPoly = 0xC96C5795D7870F42ULL;  // ECMA-182, reflected

// Eight slicing tables, built once.
struct Tables {
    std::array<std::array<uint64_t, 256>, 8> t{};
    Tables() {
        for (uint64_t n = 0; n < 256; ++n) {
            uint64_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPoly : c >> 1;
            t[0][n] = c;
        }
        for (int s = 1; s < 8; ++s)
            for (int n = 0; n < 256; ++n) t[s][n] = (t[s - 1][n] >> 8) ^ t[0][t[s - 1][n] & 0xff];
    }
};

const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

// GF(2) matrix helpers for Crc64Combine (the zlib method).
uint64_t MatrixTimes(const uint64_t* mat, uint64_t vec) {
    uint64_t sum = 0;
    while (vec) {
        if (vec & 1) sum ^= *mat;
        vec >>= 1;
        ++mat;
    }
    return sum;
}

void MatrixSquare(uint64_t* square, const uint64_t* mat) {
    for (int n = 0; n < 64; ++n) square[n] = MatrixTimes(mat, mat[n]);
}

}  // namespace

uint64_t Crc64Update(uint64_t crc, const void* data, size_t len) {
    const auto& t = GetTables().t;
    const auto* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
    while (len >= 8) {
        uint64_t v = crc;
        for (int i = 0; i < 8; ++i) v ^= static_cast<uint64_t>(p[i]) << (8 * i);
        crc = t[7][v & 0xff] ^ t[6][(v >> 8) & 0xff] ^ t[5][(v >> 16) & 0xff] ^
              t[4][(v >> 24) & 0xff] ^ t[3][(v >> 32) & 0xff] ^ t[2][(v >> 40) & 0xff] ^
              t[1][(v >> 48) & 0xff] ^ t[0][v >> 56];
        p += 8;
        len -= 8;
    }
    while (len--) crc = t[0][(crc ^ *p++) & 0xff] ^ (crc >> 8);
    return ~crc;
}

uint64_t Crc64Combine(uint64_t crc_a, uint64_t crc_b, uint64_t len_b) {
    if (len_b == 0) return crc_a;
    uint64_t even[64];
    uint64_t odd[64];
    // Operator for one zero bit.
    odd[0] = kPoly;
    uint64_t row = 1;
    for (int n = 1; n < 64; ++n) {
        odd[n] = row;
        row <<= 1;
    }
    MatrixSquare(even, odd);  // two zero bits
    MatrixSquare(odd, even);  // four zero bits
    // Apply len_b zero bytes to crc_a.
    do {
        MatrixSquare(even, odd);
        if (len_b & 1) crc_a = MatrixTimes(even, crc_a);
        len_b >>= 1;
        if (len_b == 0) break;
        MatrixSquare(odd, even);
        if (len_b & 1) crc_a = MatrixTimes(odd, crc_a);
        len_b >>= 1;
    } while (len_b != 0);
    return crc_a ^ crc_b;
}

}  // namespace devserver
