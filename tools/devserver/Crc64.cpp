#include "Crc64.h"

#include <array>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define DEVSERVER_CRC64_CLMUL 1
#endif

namespace devserver {
namespace {

// Bit i of a 64-bit value is the coefficient of x^(63-i) (reflected order).
constexpr uint64_t kPoly = 0xC96C5795D7870F42ULL;  // ECMA-182, reflected

// a * x mod P.
uint64_t TimesX(uint64_t a) {
    return (a & 1) ? (a >> 1) ^ kPoly : a >> 1;
}

// Eight slicing tables, built once.
struct Tables {
    std::array<std::array<uint64_t, 256>, 8> t{};
    Tables() {
        for (uint64_t n = 0; n < 256; ++n) {
            uint64_t c = n;
            for (int k = 0; k < 8; ++k) c = TimesX(c);
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

// a * b mod P.
uint64_t MultiplyMod(uint64_t a, uint64_t b) {
    uint64_t product = 0;
    for (int k = 0; k < 64; ++k, b = TimesX(b))
        if ((a >> (63 - k)) & 1) product ^= b;  // the x^k term of a
    return product;
}

// x^n mod P, by squaring.
uint64_t XPowMod(uint64_t n) {
    uint64_t result = 1ULL << 63;  // x^0
    uint64_t base = 1ULL << 62;    // x^1
    for (; n != 0; n >>= 1, base = MultiplyMod(base, base))
        if (n & 1) result = MultiplyMod(result, base);
    return result;
}

// The running remainder, without the initial and final inversion: for a
// register crc, (crc * x^(8 len) + data * x^64) mod P; table-driven.
uint64_t RawTableUpdate(uint64_t crc, const unsigned char* p, size_t len) {
    const auto& t = GetTables().t;
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
    return crc;
}

#ifdef DEVSERVER_CRC64_CLMUL

// Folding constants. A 128-bit block holds the coefficients of degree d+127
// (bit 0 of its first byte) down to d; its first 8 bytes are the high half.
// Carry-less products of reflected operands come out multiplied by x once
// more, hence the exponents one below the distances 128+64 / 128 and
// 512+64 / 512 that the halves move by.
struct FoldConstants {
    uint64_t by128_high = XPowMod(128 + 64 - 1);
    uint64_t by128_low = XPowMod(128 - 1);
    uint64_t by512_high = XPowMod(512 + 64 - 1);
    uint64_t by512_low = XPowMod(512 - 1);
};

const FoldConstants& GetFoldConstants() {
    static const FoldConstants constants;
    return constants;
}

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i block, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(block, k, 0x00),
                         _mm_clmulepi64_si128(block, k, 0x11));
}

// Raw register over `len` bytes, len >= 64: four 128-bit lanes advance 64
// bytes at a time, are folded into one, and the last whole 16-byte blocks
// follow; the table finishes the remainder.
__attribute__((target("pclmul,sse2"))) uint64_t RawClmulUpdate(uint64_t crc, const unsigned char* p,
                                                               size_t len) {
    const FoldConstants& c = GetFoldConstants();
    const __m128i k512 =
        _mm_set_epi64x(static_cast<long long>(c.by512_low), static_cast<long long>(c.by512_high));
    const __m128i k128 =
        _mm_set_epi64x(static_cast<long long>(c.by128_low), static_cast<long long>(c.by128_high));
    auto load = [](const unsigned char* at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    };
    __m128i x0 = _mm_xor_si128(load(p), _mm_set_epi64x(0, static_cast<long long>(crc)));
    __m128i x1 = load(p + 16);
    __m128i x2 = load(p + 32);
    __m128i x3 = load(p + 48);
    p += 64;
    len -= 64;
    while (len >= 64) {
        x0 = _mm_xor_si128(Fold(x0, k512), load(p));
        x1 = _mm_xor_si128(Fold(x1, k512), load(p + 16));
        x2 = _mm_xor_si128(Fold(x2, k512), load(p + 32));
        x3 = _mm_xor_si128(Fold(x3, k512), load(p + 48));
        p += 64;
        len -= 64;
    }
    __m128i x = _mm_xor_si128(Fold(x0, k128), x1);
    x = _mm_xor_si128(Fold(x, k128), x2);
    x = _mm_xor_si128(Fold(x, k128), x3);
    while (len >= 16) {
        x = _mm_xor_si128(Fold(x, k128), load(p));
        p += 16;
        len -= 16;
    }
    // The 16 bytes left in the lane are a message of their own whose raw
    // register (from zero) is the remainder of everything so far.
    unsigned char rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), x);
    crc = RawTableUpdate(0, rest, sizeof rest);
    return RawTableUpdate(crc, p, len);
}

bool HasClmul() {
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    return has;
}

#endif

}  // namespace

uint64_t Crc64Update(uint64_t crc, const void* data, size_t len) {
    const auto* p = static_cast<const unsigned char*>(data);
#ifdef DEVSERVER_CRC64_CLMUL
    if (len >= 64 && HasClmul()) return ~RawClmulUpdate(~crc, p, len);
#endif
    return ~RawTableUpdate(~crc, p, len);
}

uint64_t Crc64Combine(uint64_t crc_a, uint64_t crc_b, uint64_t len_b) {
    if (len_b == 0) return crc_a;
    // Appending len_b bytes multiplies A's checksum by x^(8 len_b); the
    // initial and final inversions cancel out.
    return MultiplyMod(crc_a, XPowMod(8 * len_b)) ^ crc_b;
}

}  // namespace devserver
