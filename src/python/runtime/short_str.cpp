// The process-wide tables of short str objects.
#include "python/runtime/short_str.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "python/runtime/args.hpp"

namespace quarlo::py {
namespace {

// Strings are immutable, so sharing one between dicts and calls changes
// nothing a caller can see. Slots are picked by a hash of the UTF-8 text and
// a different text replaces a slot's, and only short texts are kept, so the
// memory stays bounded whatever texts pass through. Used with the
// interpreter lock held (the module loads only in the main interpreter);
// like the other process-wide objects, never torn down.
class ShortStrings {
 public:
  PyRef get(std::string_view text) {
    if (text.size() > kMaxLength) return new_str(text);
    Slot& slot = slots_[slot_index(text)];
    if (slot.str != nullptr && slot.length == text.size() && std::memcmp(slot.text, text.data(), text.size()) == 0) {
      return PyRef::borrow(slot.str);
    }
    PyRef fresh = new_str(text);
    PyObject* old = slot.str;
    std::memcpy(slot.text, text.data(), text.size());
    slot.length = static_cast<unsigned char>(text.size());
    slot.str = Py_NewRef(fresh.get());
    Py_XDECREF(old);  // a str: its release runs no Python code
    return fresh;
  }

 private:
  static constexpr std::size_t kSlots = 512;  // a power of two
  static constexpr std::size_t kMaxLength = 22;

  struct Slot {
    PyObject* str = nullptr;  // strong reference, or null while empty
    unsigned char length = 0;
    char text[kMaxLength] = {};
  };

  // A hash of the length and of the first and last eight bytes (all of a
  // text of up to sixteen), folded to a slot. Texts that differ elsewhere
  // only share a slot.
  static std::size_t slot_index(std::string_view text) noexcept {
    const std::size_t n = text.size();
    std::uint64_t head = 0, tail = 0;
    if (n >= 8) {
      std::memcpy(&head, text.data(), 8);
      std::memcpy(&tail, text.data() + n - 8, 8);
    } else if (n > 0) {
      std::memcpy(&head, text.data(), n);
    }
    std::uint64_t h = (head * 0x9E3779B97F4A7C15u) ^ (tail * 0xC2B2AE3D27D4EB4Fu) ^ n;
    h ^= h >> 31;
    return static_cast<std::size_t>((h * 0x94D049BB133111EBu) >> 55) & (kSlots - 1);
  }

  std::array<Slot, kSlots> slots_{};
};

// Keys and values apart, so that varying values do not push out the keys.
constinit ShortStrings g_keys;
constinit ShortStrings g_values;

}  // namespace

PyRef key_str(std::string_view text) { return g_keys.get(text); }
PyRef value_str(std::string_view text) { return g_values.get(text); }

}  // namespace quarlo::py
