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

// Removes leading and trailing White_Space characters; returns a view into
// the argument.
[[nodiscard]] std::string_view trim(std::string_view text) noexcept;

// Full Unicode lower-case mapping under the root locale (final sigma rules
// included; U+0130 becomes "i" followed by U+0307).
[[nodiscard]] std::string to_lower(std::string_view text);

// Number of Unicode scalar values (not bytes).
[[nodiscard]] std::size_t count_scalars(std::string_view text) noexcept;

// True when every byte is below 0x80.
[[nodiscard]] bool is_ascii(std::string_view text) noexcept;

}  // namespace quarlo
