// Tests of SHA-256 digests.
#include "core/base/sha256.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace quarlo {
namespace {

struct DigestCase {
  std::string input;
  const char* hex;
};

class Sha256 : public ::testing::TestWithParam<DigestCase> {};

std::string hex(const Sha256Digest& digest) {
  std::string out;
  for (const unsigned char byte : digest) {
    out.push_back("0123456789abcdef"[byte >> 4]);
    out.push_back("0123456789abcdef"[byte & 0xF]);
  }
  return out;
}

TEST_P(Sha256, MatchesKnownDigests) {
  EXPECT_EQ(sha256_hex(GetParam().input), GetParam().hex);
  // The fallback computes the same digests.
  EXPECT_EQ(hex(detail::sha256_portable(GetParam().input)), GetParam().hex);
}

// Every length around the one- and two-block padding boundaries, and over
// several blocks: the fallback agrees with libcrypto.
TEST(Sha256Fallback, AgreesWithLibcryptoAtEveryLength) {
  std::string input;
  for (std::size_t length = 0; length <= 200; ++length) {
    EXPECT_EQ(detail::sha256_portable(input), sha256(input)) << length;
    input.push_back(static_cast<char>('a' + length % 26));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fips180Vectors, Sha256,
    ::testing::Values(
        DigestCase{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        DigestCase{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        DigestCase{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                   "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        DigestCase{std::string(1000000, 'a'),
                   "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // A NUL byte is hashed like any other.
        DigestCase{std::string("\0", 1),
                   "6e340b9cffb37a989ca544e6bb780a2c78901d3fb33738768511a30617afa01d"}));

}  // namespace
}  // namespace quarlo
