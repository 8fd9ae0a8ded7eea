#include "Contracts/oss/aos_crc64.h"

#include <string.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define AOS_CRC64_CLMUL 1
#include <immintrin.h>
#endif

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

// The register step over whole bytes, without the initial and final
// inversions: reg becomes (reg * x^(8 len) + data * x^64) mod P.
uint64_t TableStep(uint64_t reg, const unsigned char* p, size_t len) {
    const auto& t = kTables.t;
    while (len >= 8) {
        reg ^= LoadLittleEndian64(p);
        reg = t[7][reg & 0xff] ^ t[6][(reg >> 8) & 0xff] ^ t[5][(reg >> 16) & 0xff] ^
              t[4][(reg >> 24) & 0xff] ^ t[3][(reg >> 32) & 0xff] ^ t[2][(reg >> 40) & 0xff] ^
              t[1][(reg >> 48) & 0xff] ^ t[0][reg >> 56];
        p += 8;
        len -= 8;
    }
    while (len--) reg = kTables.t[0][(reg ^ *p++) & 0xff] ^ (reg >> 8);
    return reg;
}

#ifdef AOS_CRC64_CLMUL

// Carry-less multiplication folding (PCLMULQDQ), several times faster than
// the tables on large bodies. Values are reflected: bit i of a 64-bit word
// is the coefficient of x^(63-i), bit i of a 16-byte block (loaded little
// endian) that of x^(127-i). A block accumulator X stands for the register
// (X * x^64) mod P. Moving X forward by n bits, X * x^n = H * x^(n+64) +
// L * x^n with H its first and L its second 64-bit lane, takes one product
// per lane: the product of two reflected words lands one degree low, so the
// constants are x^(n+63) mod P and x^(n-1) mod P.

// x^n mod P, reflected.
constexpr uint64_t XPowModP(int n) {
    uint64_t a = 1ULL << 63;  // x^0
    for (int i = 0; i < n; ++i) a = (a & 1) ? (a >> 1) ^ kPolyReflected : a >> 1;
    return a;
}

constexpr uint64_t kFold128Hi = XPowModP(128 + 63), kFold128Lo = XPowModP(128 - 1);
constexpr uint64_t kFold512Hi = XPowModP(512 + 63), kFold512Lo = XPowModP(512 - 1);
constexpr uint64_t kFold2048Hi = XPowModP(2048 + 63), kFold2048Lo = XPowModP(2048 - 1);
const size_t kClmulMin = 64;  // below this the tables are as quick
const size_t kWideMin = 256;  // the 512-bit step's four first accumulators

__attribute__((target("pclmul,sse2"))) inline __m128i Load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// x * x^n + d, with k holding the two constants for n.
__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i x, __m128i k, __m128i d) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), d);
}

// Takes len >= kClmulMin bytes; consumes whole 16-byte blocks and returns
// how many, leaving the register after them in reg.
__attribute__((target("pclmul,sse2"))) size_t ClmulStep(uint64_t& reg, const unsigned char* p,
                                                        size_t len) {
    const __m128i k128 = _mm_set_epi64x((long long)kFold128Lo, (long long)kFold128Hi);
    const __m128i k512 = _mm_set_epi64x((long long)kFold512Lo, (long long)kFold512Hi);
    // Four accumulators 512 bits apart keep the multiplier busy; the
    // register enters as the first block's high half (reg * x^64).
    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi64_si128((long long)reg));
    __m128i x1 = Load(p + 16), x2 = Load(p + 32), x3 = Load(p + 48);
    size_t done = 64;
    for (; len - done >= 64; done += 64) {
        x0 = Fold(x0, k512, Load(p + done));
        x1 = Fold(x1, k512, Load(p + done + 16));
        x2 = Fold(x2, k512, Load(p + done + 32));
        x3 = Fold(x3, k512, Load(p + done + 48));
    }
    __m128i x = Fold(Fold(Fold(x0, k128, x1), k128, x2), k128, x3);
    for (; len - done >= 16; done += 16) x = Fold(x, k128, Load(p + done));
    // (X * x^64) mod P is what the table step makes of X's 16 bytes.
    unsigned char block[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block), x);
    reg = TableStep(0, block, sizeof block);
    return done;
}

// The same folding four 128-bit lanes at a time (VPCLMULQDQ on 512-bit
// registers, about four times the speed of ClmulStep where the processor has
// it): four accumulators of 64 bytes, 2048 bits apart, are folded into one
// 64-byte accumulator and its lanes into one block, which then takes the
// remaining whole blocks as in ClmulStep.
#define AOS_CRC64_WIDE __attribute__((target("avx512f,vpclmulqdq,pclmul,sse2")))

AOS_CRC64_WIDE inline __m512i Load512(const unsigned char* p) {
    return _mm512_loadu_si512(p);
}

AOS_CRC64_WIDE inline __m512i Fold512(__m512i x, __m512i k, __m512i d) {
    // 0x96: a ^ b ^ c.
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                     _mm512_clmulepi64_epi128(x, k, 0x11), d, 0x96);
}

// Takes len >= kWideMin bytes; consumes whole 16-byte blocks and returns how
// many, leaving the register after them in reg.
AOS_CRC64_WIDE size_t WideStep(uint64_t& reg, const unsigned char* p, size_t len) {
    const __m512i k2048 =
        _mm512_set_epi64((long long)kFold2048Lo, (long long)kFold2048Hi, (long long)kFold2048Lo,
                         (long long)kFold2048Hi, (long long)kFold2048Lo, (long long)kFold2048Hi,
                         (long long)kFold2048Lo, (long long)kFold2048Hi);
    const __m512i k512 = _mm512_set_epi64(
        (long long)kFold512Lo, (long long)kFold512Hi, (long long)kFold512Lo, (long long)kFold512Hi,
        (long long)kFold512Lo, (long long)kFold512Hi, (long long)kFold512Lo, (long long)kFold512Hi);
    const __m128i k128 = _mm_set_epi64x((long long)kFold128Lo, (long long)kFold128Hi);
    __m512i x0 =
        _mm512_xor_si512(Load512(p), _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, (long long)reg));
    __m512i x1 = Load512(p + 64), x2 = Load512(p + 128), x3 = Load512(p + 192);
    size_t done = 256;
    for (; len - done >= 256; done += 256) {
        x0 = Fold512(x0, k2048, Load512(p + done));
        x1 = Fold512(x1, k2048, Load512(p + done + 64));
        x2 = Fold512(x2, k2048, Load512(p + done + 128));
        x3 = Fold512(x3, k2048, Load512(p + done + 192));
    }
    const __m512i x = Fold512(Fold512(Fold512(x0, k512, x1), k512, x2), k512, x3);
    __m128i y = _mm512_maskz_extracti32x4_epi32(0xF, x, 0);
    y = Fold(y, k128, _mm512_maskz_extracti32x4_epi32(0xF, x, 1));
    y = Fold(y, k128, _mm512_maskz_extracti32x4_epi32(0xF, x, 2));
    y = Fold(y, k128, _mm512_maskz_extracti32x4_epi32(0xF, x, 3));
    for (; len - done >= 16; done += 16) y = Fold(y, k128, Load(p + done));
    unsigned char block[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block), y);
    reg = TableStep(0, block, sizeof block);
    return done;
}

bool HaveWide() {
    static const bool have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq") &&
               __builtin_cpu_supports("pclmul");
    }();
    return have;
}

bool HaveClmul() {
    static const bool have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    }();
    return have;
}

#endif  // AOS_CRC64_CLMUL

// a * b mod P, both reflected (bit 63 is the coefficient of x^0).
uint64_t MultiplyModP(uint64_t a, uint64_t b) {
    uint64_t product = 0;
    for (uint64_t bit = 1ULL << 63; bit != 0 && a != 0; bit >>= 1) {
        if (a & bit) {
            product ^= b;
            a ^= bit;
        }
        b = (b & 1) ? (b >> 1) ^ kPolyReflected : b >> 1;  // b * x
    }
    return product;
}

}  // namespace

uint64_t aos_crc64_combine(uint64_t crc1, uint64_t crc2, uint64_t len2) {
    // The initial and final inversions cancel between the two checksums, so
    // crc(A B) = crc1 * x^(8 len2) + crc2 (mod P); x^(8 len2) by squaring.
    uint64_t shift = 1ULL << 63;         // x^0
    uint64_t square = 1ULL << (63 - 8);  // x^8: one byte
    for (; len2 != 0; len2 >>= 1) {
        if (len2 & 1) shift = MultiplyModP(shift, square);
        square = MultiplyModP(square, square);
    }
    return MultiplyModP(crc1, shift) ^ crc2;
}

uint64_t aos_crc64(uint64_t crc, const void* data, size_t len) {
    const unsigned char* p = (const unsigned char*)data;
    uint64_t reg = ~crc;
#ifdef AOS_CRC64_CLMUL
    if (len >= kWideMin && HaveWide()) {
        const size_t done = WideStep(reg, p, len);
        p += done;
        len -= done;
    } else if (len >= kClmulMin && HaveClmul()) {
        const size_t done = ClmulStep(reg, p, len);
        p += done;
        len -= done;
    }
#endif
    return ~TableStep(reg, p, len);
}
