// The payload digest and ETag: the compact text is written into a buffer
// kept per thread and hashed from it; the hex digits come from a table of
// the two digits of each byte, written into the one result string.
#include "core/payload/digest.hpp"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/base/sha256.hpp"
#include "core/base/text_cursor.hpp"
#include "core/payload/payload.hpp"

namespace quarlo {
namespace {

// The two lower-case hex digits of each byte value.
constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
  constexpr char kHex[] = "0123456789abcdef";
  std::array<std::array<char, 2>, 256> t{};
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = {kHex[i >> 4], kHex[i & 0xF]};
  return t;
}();

// The digest of the payload's compact text, its hex digits written at
// `at` (2 * 32 bytes).
void write_hex_digest(const SEOPayload& payload, char* at) {
  const Sha256Digest digest =
      with_kept_buffer([&](std::string& buffer) { return sha256(compact_json_into(payload, buffer)); });
  for (const unsigned char byte : digest) {
    *at++ = kHexPairs[byte][0];
    *at++ = kHexPairs[byte][1];
  }
}

constexpr std::size_t kHexSize = 2 * std::tuple_size_v<Sha256Digest>;

}  // namespace

std::string hash_payload(const SEOPayload& payload) {
  std::string hex(kHexSize, '\0');
  write_hex_digest(payload, hex.data());
  return hex;
}

std::string etag_payload(const SEOPayload& payload) {
  std::string etag(kHexSize + 2, '"');
  write_hex_digest(payload, etag.data() + 1);
  return etag;
}

}  // namespace quarlo
