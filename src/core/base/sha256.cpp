// SHA-256 digests through libcrypto.
#include "core/base/sha256.hpp"

#include <new>

#include <openssl/evp.h>

namespace quarlo {

namespace {

// The SHA-256 implementation, looked up once: EVP_sha256() makes libcrypto
// find the algorithm again on every digest, a quarter of the cost of hashing
// a typical payload. Kept for the life of the process.
const EVP_MD* sha256_algorithm() noexcept {
  static const EVP_MD* const fetched = [] {
    const EVP_MD* md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return md != nullptr ? md : EVP_sha256();
  }();
  return fetched;
}

}  // namespace

std::string sha256_hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, sha256_algorithm(), nullptr) != 1 ||
      length != 32) {
    // SHA-256 is always available in libcrypto; failing here means it could
    // not allocate its context.
    throw std::bad_alloc();
  }
  constexpr char kHex[] = "0123456789abcdef";
  std::string out(2 * length, '\0');
  for (unsigned int i = 0; i < length; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 0xF];
  }
  return out;
}

}  // namespace quarlo
