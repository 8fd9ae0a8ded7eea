#include "Contracts/oss/aos_crc64.h"

#include <string.h>

namespace {

constexpr uint64_t kPolyReflected = 0xC96C5795D7870F42ULL;

// Slicing-by-8 tables: t[0] is the classic byte table, t[k][b] the CRC of
// byte b followed by k zero bytes.
struct Crc64Tables {
    uint64_t t[8][256];
};

constexpr Crc64Tables MakeTables() {
    Crc64Tables r{};
    for (int n = 0; n < 256; ++n) {
        uint64_t c = (uint64_t)n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPolyReflected : c >> 1;
        r.t[0][n] = c;
    }
    for (int n = 0; n < 256; ++n) {
        uint64_t c = r.t[0][n];
        for (int k = 1; k < 8; ++k) {
            c = r.t[0][c & 0xff] ^ (c >> 8);
            r.t[k][n] = c;
        }
    }
    return r;
}

constexpr Crc64Tables kTables = MakeTables();

inline uint64_t LoadLittleEndian64(const unsigned char* p) {
    uint64_t v;
    memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

}  // namespace

uint64_t aos_crc64(uint64_t crc, const void* data, size_t len) {
    const unsigned char* p = (const unsigned char*)data;
    const auto& t = kTables.t;
    crc = ~crc;
    while (len >= 8) {
        crc ^= LoadLittleEndian64(p);
        crc = t[7][crc & 0xff] ^ t[6][(crc >> 8) & 0xff] ^ t[5][(crc >> 16) & 0xff] ^
              t[4][(crc >> 24) & 0xff] ^ t[3][(crc >> 32) & 0xff] ^ t[2][(crc >> 40) & 0xff] ^
              t[1][(crc >> 48) & 0xff] ^ t[0][crc >> 56];
        p += 8;
        len -= 8;
    }
    while (len--) crc = t[0][(crc ^ *p++) & 0xff] ^ (crc >> 8);
    return ~crc;
}
