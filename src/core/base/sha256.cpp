// SHA-256 digests: libcrypto, with the core's own implementation behind it.
#include "core/base/sha256.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>

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

// A digest context of this thread, reused for every digest the thread
// computes (a new one each time would cost two allocations). Null when
// libcrypto could not allocate it.
EVP_MD_CTX* thread_context() noexcept {
  struct Owned {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    Owned() noexcept = default;
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { EVP_MD_CTX_free(ctx); }
  };
  thread_local Owned owned;
  return owned.ctx;
}

bool libcrypto_sha256(std::string_view bytes, Sha256Digest& out) noexcept {
  EVP_MD_CTX* ctx = thread_context();
  unsigned int length = 0;
  return ctx != nullptr && EVP_DigestInit_ex2(ctx, sha256_algorithm(), nullptr) == 1 &&
         EVP_DigestUpdate(ctx, bytes.data(), bytes.size()) == 1 &&
         EVP_DigestFinal_ex(ctx, out.data(), &length) == 1 && length == out.size();
}

// FIPS 180-4, section 6.2.
constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotr(std::uint32_t x, int n) noexcept { return (x >> n) | (x << (32 - n)); }

void compress(std::uint32_t (&h)[8], const unsigned char* block) noexcept {
  std::uint32_t w[64];
  for (int t = 0; t < 16; ++t) {
    w[t] = static_cast<std::uint32_t>(block[4 * t]) << 24 | static_cast<std::uint32_t>(block[4 * t + 1]) << 16 |
           static_cast<std::uint32_t>(block[4 * t + 2]) << 8 | static_cast<std::uint32_t>(block[4 * t + 3]);
  }
  for (int t = 16; t < 64; ++t) {
    const std::uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
    const std::uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
  for (int t = 0; t < 64; ++t) {
    const std::uint32_t t1 = k + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[t] + w[t];
    const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    k = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
  h[5] += f;
  h[6] += g;
  h[7] += k;
}

}  // namespace

namespace detail {

Sha256Digest sha256_portable(std::string_view bytes) noexcept {
  std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t left = bytes.size();
  for (; left >= 64; left -= 64, data += 64) compress(h, data);
  // The last bytes, the 0x80 marker and the bit length fill one or two
  // final blocks.
  unsigned char tail[128] = {};
  if (left > 0) std::memcpy(tail, data, left);
  tail[left] = 0x80;
  const std::size_t tail_size = left < 56 ? 64 : 128;
  const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
  for (int i = 0; i < 8; ++i) tail[tail_size - 1 - static_cast<std::size_t>(i)] = static_cast<unsigned char>(bits >> (8 * i));
  compress(h, tail);
  if (tail_size == 128) compress(h, tail + 64);
  Sha256Digest out{};
  for (std::size_t i = 0; i < 8; ++i) {
    for (std::size_t j = 0; j < 4; ++j) out[4 * i + j] = static_cast<unsigned char>(h[i] >> (24 - 8 * j));
  }
  return out;
}

}  // namespace detail

Sha256Digest sha256(std::string_view bytes) noexcept {
  Sha256Digest out{};
  if (libcrypto_sha256(bytes, out)) return out;
  return detail::sha256_portable(bytes);
}

std::string sha256_hex(std::string_view bytes) {
  constexpr char kHex[] = "0123456789abcdef";
  const Sha256Digest digest = sha256(bytes);
  std::string out(2 * digest.size(), '\0');
  for (std::size_t i = 0; i < digest.size(); ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 0xF];
  }
  return out;
}

}  // namespace quarlo
