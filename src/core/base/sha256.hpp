// SHA-256 (FIPS 180-4) digests as lower-case hexadecimal text.
#pragma once

#include <string>
#include <string_view>

namespace quarlo {

// 64 lower-case hexadecimal digits of the SHA-256 digest of `bytes`.
// Throws std::bad_alloc, like any allocation, if libcrypto cannot set up the
// digest.
[[nodiscard]] std::string sha256_hex(std::string_view bytes);

}  // namespace quarlo
