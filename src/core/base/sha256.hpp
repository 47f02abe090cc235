// SHA-256 (FIPS 180-4) digests. Never fails and never throws (beyond the
// allocation of the returned text).
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace quarlo {

using Sha256Digest = std::array<unsigned char, 32>;

// The digest of `bytes`, through libcrypto with one digest context per
// thread, made on first use and reused; should libcrypto fail to make or
// run it (it can only fail to allocate), the digest is computed by the
// core's own implementation instead. Both give the same bytes.
[[nodiscard]] Sha256Digest sha256(std::string_view bytes) noexcept;

// 64 lower-case hexadecimal digits of the SHA-256 digest of `bytes`.
[[nodiscard]] std::string sha256_hex(std::string_view bytes);

namespace detail {
// The core's own implementation, the fallback of sha256().
[[nodiscard]] Sha256Digest sha256_portable(std::string_view bytes) noexcept;
}  // namespace detail

}  // namespace quarlo
