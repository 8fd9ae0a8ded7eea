// CRC-64/XZ as the store reports it.
#include <gtest/gtest.h>

#include "Crc64.h"
#include "tests/devserver/StoreTestUtil.h"

using namespace devserver;

TEST(Crc64, CheckValueAndEmptyInput) {
    EXPECT_EQ(Crc64Update(0, "123456789", 9), 11051210869376104954ULL);
    EXPECT_EQ(Crc64Update(0, "", 0), 0u);
}

TEST(Crc64, MatchesTheBitwiseDefinitionAcrossSlicingBoundaries) {
    std::string data = storetest::RandomBytes(1000, 7);
    for (size_t len : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 999u, 1000u}) {
        std::string s = data.substr(0, len);
        EXPECT_EQ(Crc64Update(0, s.data(), s.size()), storetest::ReferenceCrc64(s)) << len;
    }
}

TEST(Crc64, UpdateInPiecesAndCombineAgree) {
    std::string data = storetest::RandomBytes(70000, 8);
    uint64_t whole = Crc64Update(0, data.data(), data.size());
    for (size_t cut : {0u, 1u, 13u, 4096u, 69999u, 70000u}) {
        uint64_t a = Crc64Update(0, data.data(), cut);
        uint64_t b = Crc64Update(0, data.data() + cut, data.size() - cut);
        EXPECT_EQ(Crc64Update(a, data.data() + cut, data.size() - cut), whole) << cut;
        EXPECT_EQ(Crc64Combine(a, b, data.size() - cut), whole) << cut;
    }
}
