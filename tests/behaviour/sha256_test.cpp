// The digest the image is checked with, against published test vectors: the
// empty input, one block, the lengths where padding needs a second block, and a
// long input across many blocks.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "update/sha256.h"

namespace {

std::string Hex(const std::vector<uint8_t>& input) {
    uint8_t digest[SHA256_DIGEST_BYTES];
    Sha256(input.data(), uint32_t(input.size()), digest);
    std::string hex;
    char pair[3];
    for (uint8_t byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

std::vector<uint8_t> Text(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Hex(Text("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Hex(Text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Hex(std::vector<uint8_t>(64, 'a')),
              "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
    EXPECT_EQ(Hex(std::vector<uint8_t>(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, MatchesOnlyItsOwnInput) {
    const std::vector<uint8_t> data = Text("abc");
    uint8_t digest[SHA256_DIGEST_BYTES];
    Sha256(data.data(), 3, digest);
    EXPECT_TRUE(Sha256Matches(data.data(), 3, digest));
    EXPECT_FALSE(Sha256Matches(data.data(), 2, digest));
    EXPECT_FALSE(Sha256Matches(data.data(), 3, nullptr));
}

} // namespace
