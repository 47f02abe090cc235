// The process-wide tables of short str objects.
#include "python/runtime/short_str.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "python/runtime/args.hpp"

namespace quarlo::py {
namespace {

// A text of at most 24 bytes read as three words and its length, with a few
// fixed-size loads that overlap for the shorter lengths: two texts are
// equal exactly when their fingerprints are.
struct Fingerprint {
  std::uint64_t a = 0, b = 0, c = 0;
  std::size_t length = 0;

  friend bool operator==(const Fingerprint&, const Fingerprint&) = default;
};

template <class Word>
Word load(const char* at) noexcept {
  Word word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

Fingerprint fingerprint(std::string_view text) noexcept {
  const char* p = text.data();
  const std::size_t n = text.size();
  Fingerprint f;
  f.length = n;
  if (n >= 8) {
    f.a = load<std::uint64_t>(p);
    f.c = load<std::uint64_t>(p + n - 8);
    if (n > 16) f.b = load<std::uint64_t>(p + 8);
  } else if (n >= 4) {
    f.a = load<std::uint32_t>(p) | (std::uint64_t{load<std::uint32_t>(p + n - 4)} << 32);
  } else if (n > 0) {
    f.a = static_cast<unsigned char>(p[0]) | (static_cast<unsigned>(static_cast<unsigned char>(p[n / 2])) << 8) |
          (static_cast<unsigned>(static_cast<unsigned char>(p[n - 1])) << 16);
  }
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
 public:
  PyRef get(std::string_view text) {
    if (text.size() > kMaxShortStr) return new_str(text);
    const Fingerprint f = fingerprint(text);
    const std::size_t pair = slot_index(f) & ~std::size_t{1};
    Slot& first = slots_[pair];
    if (first.str != nullptr && first.text == f) return PyRef::borrow(first.str);
    Slot& second = slots_[pair + 1];
    if (second.str != nullptr && second.text == f) return PyRef::borrow(second.str);
    // Two texts of one pair of slots do not push each other out: the first
    // slot's text moves to the second, whose text goes.
    PyRef fresh = new_str(text);
    PyObject* old = second.str;
    second = first;
    first.text = f;
    first.str = Py_NewRef(fresh.get());
    Py_XDECREF(old);  // a str: its release runs no Python code
    return fresh;
  }

 private:
  static constexpr unsigned kSlotBits = 10;

  struct Slot {
    PyObject* str = nullptr;  // strong reference, or null while empty
    Fingerprint text;
  };

  static std::size_t slot_index(const Fingerprint& f) noexcept {
    std::uint64_t h = (f.a * 0x9E3779B97F4A7C15u) ^ (f.b * 0xC2B2AE3D27D4EB4Fu) ^ (f.c * 0x165667B19E3779F9u) ^ f.length;
    h ^= h >> 31;
    return static_cast<std::size_t>((h * 0x94D049BB133111EBu) >> (64 - kSlotBits));
  }

  std::array<Slot, std::size_t{1} << kSlotBits> slots_{};
};

// Keys and values apart, so that varying values do not push out the keys.
constinit ShortStrings g_keys;
constinit ShortStrings g_values;

}  // namespace

PyRef key_str(std::string_view text) { return g_keys.get(text); }
PyRef value_str(std::string_view text) { return g_values.get(text); }

}  // namespace quarlo::py
