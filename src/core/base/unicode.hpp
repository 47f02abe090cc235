// Unicode helpers over UTF-8 text (std::string / std::string_view).
// A NUL inside a text is an ordinary character. Invalid UTF-8 sequences are
// treated as single non-white-space characters (each counts as one scalar
// value and is never lower-cased or trimmed). ASCII input takes fast paths
// that never enter ICU.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quarlo {

// True when the code point has the Unicode White_Space property.
[[nodiscard]] bool is_white_space(char32_t cp) noexcept;

namespace detail {
[[nodiscard]] std::string_view trim_white_space(std::string_view text) noexcept;
}  // namespace detail

// Removes leading and trailing White_Space characters; returns a view into
// the argument.
[[nodiscard]] inline std::string_view trim(std::string_view text) noexcept {
  // Most texts start and end with a visible ASCII character: nothing to do.
  if (!text.empty()) {
    const auto first = static_cast<unsigned char>(text.front());
    const auto last = static_cast<unsigned char>(text.back());
    if (first > 0x20 && first < 0x80 && last > 0x20 && last < 0x80) return text;
  }
  return detail::trim_white_space(text);
}

// Full Unicode lower-case mapping under the root locale (final sigma rules
// included; U+0130 becomes "i" followed by U+0307).
[[nodiscard]] std::string to_lower(std::string_view text);

// Number of Unicode scalar values (not bytes).
[[nodiscard]] std::size_t count_scalars(std::string_view text) noexcept;

// True when every byte is below 0x80.
[[nodiscard]] bool is_ascii(std::string_view text) noexcept;

// Length of the well-formed UTF-8 sequence starting at s[i] (true), or the
// length of the maximal ill-formed subpart there (false), which a UTF-8
// decoder replaces by one U+FFFD. Requires i < s.size().
[[nodiscard]] inline bool utf8_sequence(std::string_view s, std::size_t i, std::size_t& length) noexcept {
  const auto lead = static_cast<unsigned char>(s[i]);
  if (lead < 0x80) {
    length = 1;
    return true;
  }
  std::size_t trailing = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trailing = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trailing = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trailing = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    length = 1;
    return false;
  }
  for (std::size_t k = 1; k <= trailing; ++k) {
    if (i + k >= s.size()) {
      length = k;
      return false;
    }
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (b < low || b > high) {
      length = k;
      return false;
    }
    low = 0x80;
    high = 0xBF;
  }
  length = trailing + 1;
  return true;
}

// True when the whole text is well-formed UTF-8.
[[nodiscard]] bool is_valid_utf8(std::string_view text) noexcept;

// The text with every maximal ill-formed UTF-8 subpart replaced by U+FFFD
// (what the Encoding Standard's UTF-8 decoder does).
[[nodiscard]] std::string replace_invalid_utf8(std::string_view text);

}  // namespace quarlo
