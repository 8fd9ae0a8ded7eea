// CRC-64/XZ: the published check value, agreement with a bit-by-bit
// reference on every length and alignment, and incremental use.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "Contracts/oss/aos_crc64.h"
#include "tests/support/TestData.h"

namespace {

uint64_t BitwiseCrc64(const std::string& data, uint64_t start = 0) {
    uint64_t crc = ~start;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xC96C5795D7870F42ULL : crc >> 1;
    }
    return ~crc;
}

using testdata::RandomBytes;

}  // namespace

TEST(OssCrc64, CheckValue) {
    EXPECT_EQ(aos_crc64(0, "123456789", 9), 0x995DC9BBDF1939FAULL);
    EXPECT_EQ(aos_crc64(0, "123456789", 9), 11051210869376104954ULL);
    EXPECT_EQ(aos_crc64(0, "", 0), 0u);
    EXPECT_EQ(aos_crc64(0x1234, "", 0), 0x1234u);
}

TEST(OssCrc64, MatchesTheBitwiseDefinitionOnEveryLengthAndAlignment) {
    const std::string data = RandomBytes(300, 1);
    for (size_t off = 0; off < 8; ++off) {
        for (size_t len = 0; off + len <= data.size(); len += (len < 40 ? 1 : 37)) {
            ASSERT_EQ(aos_crc64(0, data.data() + off, len), BitwiseCrc64(data.substr(off, len)))
                << "off " << off << " len " << len;
        }
    }
}

TEST(OssCrc64, LongInputsMatchTheBitwiseDefinition) {
    // Long inputs go through block folding where the processor offers it:
    // every length around its 16- and 64-byte steps, at an odd address and
    // with a carried-in value, and one body of a few hundred KiB.
    const std::string data = RandomBytes(300001, 4);
    for (size_t len = 48; len <= 272; ++len) {
        ASSERT_EQ(aos_crc64(0x0123456789abcdefULL, data.data() + 3, len),
                  BitwiseCrc64(data.substr(3, len), 0x0123456789abcdefULL))
            << "len " << len;
    }
    EXPECT_EQ(aos_crc64(0, data.data() + 1, data.size() - 1), BitwiseCrc64(data.substr(1)));
}

TEST(OssCrc64, IncrementalEqualsOneShot) {
    const std::string data = RandomBytes(1 << 16, 2);
    const uint64_t whole = aos_crc64(0, data.data(), data.size());
    for (size_t split : {size_t(0), size_t(1), size_t(7), size_t(8), size_t(4097), data.size()}) {
        uint64_t crc = aos_crc64(0, data.data(), split);
        crc = aos_crc64(crc, data.data() + split, data.size() - split);
        EXPECT_EQ(crc, whole) << split;
    }
    // Many small pieces of varying size, as a transfer delivers them.
    std::mt19937 gen(3);
    uint64_t crc = 0;
    for (size_t off = 0; off < data.size();) {
        size_t n = std::min<size_t>(gen() % 700, data.size() - off);
        crc = aos_crc64(crc, data.data() + off, n);
        off += n;
    }
    EXPECT_EQ(crc, whole);
}
