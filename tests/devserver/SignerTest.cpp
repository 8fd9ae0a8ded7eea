// Version 1 signatures: vectors produced by the store's official Node.js
// client, and the canonicalization rules around them.
#include <gtest/gtest.h>

#include "Signer.h"

using namespace devserver;

TEST(Signer, OfficialClientVectors) {
    EXPECT_EQ(SignString("OtxrzxIsfpFjA7SwPzILwy8Bw21TLhquhboDYROV",
                         "PUT\neB5eJF1ptWaXm4bijSPyxw==\ntext/html\nWed, 28 Dec 2022 10:27:41 GMT\n"
                         "x-oss-meta-author:foo@example.com\nx-oss-meta-magic:abracadabra\n"
                         "/oss-example/nelson"),
              "5BVXsh0sZLdbvxjduw6BTb4d2g8=");
    EXPECT_EQ(SignString("sts-secret-1",
                         "PUT\n\napplication/octet-stream\nSat, 05 Dec 2026 08:00:00 GMT\n"
                         "x-oss-date:Sat, 05 Dec 2026 08:00:00 GMT\n"
                         "x-oss-security-token:CAIS-test-token\n"
                         "/nimbra-backup/big.bin?partNumber=3&uploadId=0004B9895DBBB6EC98E36"),
              "9bbcY9iCy6H1Im1pTJMcxHSfLrQ=");
    EXPECT_EQ(SignString("sts-secret-1",
                         "GET\n\n\nSat, 05 Dec 2026 08:00:00 GMT\n"
                         "x-oss-date:Sat, 05 Dec 2026 08:00:00 GMT\n"
                         "x-oss-security-token:CAIS-test-token\n/nimbra-backup/"),
              "w8iNyTqNeWTzzVxRnkBdv473/zM=");
}

TEST(Signer, StringToSignIsAssembledFromItsParts) {
    // The second vector, rebuilt from a request's pieces.
    std::string headers =
        CanonicalizedOssHeaders({{"X-OSS-Security-Token", " CAIS-test-token "},
                                 {"Content-Type", "application/octet-stream"},
                                 {"x-oss-date", "Sat, 05 Dec 2026 08:00:00 GMT"}});
    EXPECT_EQ(headers,
              "x-oss-date:Sat, 05 Dec 2026 08:00:00 GMT\nx-oss-security-token:CAIS-test-token\n");
    std::string resource = CanonicalizedResource(
        "nimbra-backup", "big.bin", {{"uploadId", "0004B9895DBBB6EC98E36"}, {"partNumber", "3"}});
    EXPECT_EQ(resource, "/nimbra-backup/big.bin?partNumber=3&uploadId=0004B9895DBBB6EC98E36");
    std::string sts = StringToSign("PUT", "", "application/octet-stream",
                                   "Sat, 05 Dec 2026 08:00:00 GMT", headers, resource);
    EXPECT_EQ(SignString("sts-secret-1", sts), "9bbcY9iCy6H1Im1pTJMcxHSfLrQ=");
}

TEST(Signer, OnlySubresourcesEnterTheResource) {
    EXPECT_EQ(CanonicalizedResource("b", "",
                                    {{"prefix", "a/"},
                                     {"marker", "m"},
                                     {"delimiter", "/"},
                                     {"max-keys", "5"},
                                     {"encoding-type", "url"}}),
              "/b/");
    EXPECT_EQ(CanonicalizedResource("b", "k", {{"uploads", ""}}), "/b/k?uploads");
    EXPECT_EQ(CanonicalizedResource(
                  "b", "k", {{"max-parts", "9"}, {"uploadId", "U"}, {"part-number-marker", "2"}}),
              "/b/k?uploadId=U");
    EXPECT_EQ(CanonicalizedResource(
                  "b", "dir/a b",
                  {{"response-content-type", "text/plain"}, {"acl", ""}, {"security-token", "T"}}),
              "/b/dir/a b?acl&response-content-type=text/plain&security-token=T");
    EXPECT_EQ(CanonicalizedResource("", "", {}), "/");
    EXPECT_TRUE(IsSignedSubresource("x-oss-process"));
    EXPECT_FALSE(IsSignedSubresource("prefix"));
}

TEST(Signer, Base64RoundTripAndRejection) {
    const unsigned char raw[] = {0x5e, 0xb6, 0x3b, 0xbb, 0xe0, 0x1e};
    std::string enc = Base64Encode(raw, sizeof raw);
    EXPECT_EQ(enc, "XrY7u+Ae");
    EXPECT_EQ(Base64Decode(enc), std::string(reinterpret_cast<const char*>(raw), sizeof raw));
    EXPECT_EQ(Base64Decode("XUFAKrxLKna5cZ2REBfFkg==").size(), 16u);
    EXPECT_EQ(Base64Decode("abc"), "");
    EXPECT_EQ(Base64Decode("a!!="), "");
}
