// ASCII-only case helpers for protocol texts (schemes, parameter names,
// status words), where Unicode case mapping must not apply.
#pragma once

#include <cstddef>
#include <string_view>

namespace quarlo {

[[nodiscard]] constexpr char ascii_lower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

[[nodiscard]] constexpr bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

[[nodiscard]] constexpr bool starts_with_ignoring_ascii_case(std::string_view text, std::string_view prefix) noexcept {
  return text.size() >= prefix.size() && equals_ignoring_ascii_case(text.substr(0, prefix.size()), prefix);
}

// True when the text begins with "http://" or "https://" in any ASCII case:
// the test for an absolute web URL reference used by images, logos and the
// validation rules.
[[nodiscard]] constexpr bool has_http_scheme_prefix(std::string_view text) noexcept {
  return starts_with_ignoring_ascii_case(text, "http://") || starts_with_ignoring_ascii_case(text, "https://");
}

}  // namespace quarlo
