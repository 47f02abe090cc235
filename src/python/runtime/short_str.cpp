// The process-wide tables of short str objects.
#include "python/runtime/short_str.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "python/runtime/args.hpp"

namespace quarlo::py {
namespace {

// A text of at most 23 bytes as three little-endian words: bytes 0-7,
// 8-15 and 16-22, each zero-padded, with the length in the top byte of the
// last. Two texts are equal exactly when their fingerprints are.
struct Fingerprint {
  std::uint64_t a = 0, b = 0, c = 0;

  friend bool operator==(const Fingerprint&, const Fingerprint&) = default;
};

template <class Word>
Word load(const char* at) noexcept {
  Word word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// Bytes [0, n) of p, n <= 8, as a zero-padded little-endian word, read with
// a few fixed-size loads that overlap for the shorter lengths.
std::uint64_t word_of(const char* p, std::size_t n) noexcept {
  if (n == 8) return load<std::uint64_t>(p);
  if (n >= 4) {
    return std::uint64_t{load<std::uint32_t>(p)} | (std::uint64_t{load<std::uint32_t>(p + n - 4)} << (8 * (n - 4)));
  }
  if (n == 0) return 0;
  const auto byte = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i); };
  return byte(0) | byte(n / 2) | byte(n - 1);
}

Fingerprint fingerprint(std::string_view text) noexcept {
  static_assert(kMaxShortStr <= 23, "the length takes the last word's top byte");
  const char* p = text.data();
  const std::size_t n = text.size();
  Fingerprint f;
  f.a = word_of(p, std::min<std::size_t>(n, 8));
  if (n > 8) f.b = word_of(p + 8, std::min<std::size_t>(n - 8, 8));
  if (n > 16) f.c = word_of(p + 16, n - 16);
  f.c |= std::uint64_t{n} << 56;
  return f;
}

// Strings are immutable, so sharing one between dicts and calls changes
// nothing a caller can see. Pairs of slots are picked by a hash of the UTF-8
// text (a text is looked for in both) and a new text replaces the older of
// the two, and only short texts are kept, so the
// memory stays bounded whatever texts pass through. Used with the
// interpreter lock held (the module loads only in the main interpreter);
// like the other process-wide objects, never torn down.
class ShortStrings {
  static constexpr unsigned kPairBits = 9;

 public:
  // How many texts the table holds at most.
  static constexpr std::size_t kSlots = std::size_t{2} << kPairBits;

  PyRef get(std::string_view text) {
    if (text.size() > kMaxShortStr) return new_str(text);
    const Fingerprint f = fingerprint(text);
    Pair& pair = pairs_[pair_index(f)];
    if (pair.first.str != nullptr && pair.first.text == f) return PyRef::borrow(pair.first.str);
    if (pair.second.str != nullptr && pair.second.text == f) return PyRef::borrow(pair.second.str);
    // Two texts of one pair of slots do not push each other out: the first
    // slot's text moves to the second, whose text goes.
    PyRef fresh = new_str(text);
    PyObject* old = pair.second.str;
    pair.second = pair.first;
    pair.first.text = f;
    pair.first.str = Py_NewRef(fresh.get());
    Py_XDECREF(old);  // a str: its release runs no Python code
    return fresh;
  }

 private:
  struct Slot {
    PyObject* str = nullptr;  // strong reference, or null while empty
    Fingerprint text;
  };
  // A lookup reads one cache line.
  struct alignas(64) Pair {
    Slot first, second;
  };

  static std::size_t pair_index(const Fingerprint& f) noexcept {
    std::uint64_t h = (f.a * 0x9E3779B97F4A7C15u) ^ (f.b * 0xC2B2AE3D27D4EB4Fu) ^ (f.c * 0x165667B19E3779F9u);
    h ^= h >> 31;
    return static_cast<std::size_t>((h * 0x94D049BB133111EBu) >> (64 - kPairBits));
  }

  std::array<Pair, std::size_t{1} << kPairBits> pairs_{};
};

// Keys and values apart, so that varying values do not push out the keys.
constinit ShortStrings g_keys;
constinit ShortStrings g_values;

}  // namespace

PyRef key_str(std::string_view text) { return g_keys.get(text); }
PyRef map_key_str(std::string_view text, std::size_t entries) {
  return entries <= ShortStrings::kSlots ? g_keys.get(text) : new_str(text);
}
PyRef value_str(std::string_view text) { return g_values.get(text); }

}  // namespace quarlo::py
