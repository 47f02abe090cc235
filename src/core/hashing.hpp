// SHA-256 (FIPS 180-4) digests as lower-case hexadecimal text, and the
// payload digest and ETag built on the payload's compact JSON text.
#pragma once

#include <string>
#include <string_view>

#include "core/error.hpp"

namespace quarlo {

struct SEOPayload;

// 64 lower-case hexadecimal digits of the SHA-256 digest of `bytes`.
// Throws std::bad_alloc, like any allocation, if libcrypto cannot set up the
// digest.
[[nodiscard]] std::string sha256_hex(std::string_view bytes);

// SHA-256 of the payload's compact JSON text, as 64 lower-case hex digits.
[[nodiscard]] Result<std::string> hash_payload(const SEOPayload& payload);
// The digest in double quotation marks (a strong HTTP ETag, 66 characters).
[[nodiscard]] Result<std::string> etag_payload(const SEOPayload& payload);

}  // namespace quarlo
