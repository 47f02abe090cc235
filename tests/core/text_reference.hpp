// A literal, slow rendering of html_to_text for differential checks in the
// unit tests and the fuzz target: build the whole buffer first (every tag
// lower-cased by the full mapping), then collapse white space, then trim.
#pragma once

#include <string>
#include <string_view>

#include "core/base/unicode.hpp"

namespace quarlo::testing_reference {

inline char32_t decode_utf8(std::string_view s, std::size_t i, std::size_t length) {
  const auto b = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(s[i + k])); };
  switch (length) {
    case 1: return b(0);
    case 2: return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
    case 3: return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    default: return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
  }
}

inline std::string html_to_text(std::string_view html) {
  std::string buffer;
  std::string skipping;  // empty when not skipping
  for (std::size_t i = 0; i < html.size();) {
    if (html[i] != '<') {
      if (skipping.empty()) buffer += html[i];
      ++i;
      continue;
    }
    const std::size_t gt = html.find('>', i + 1);
    const std::string tag = to_lower(html.substr(i + 1, gt == std::string_view::npos ? std::string_view::npos : gt - i - 1));
    if (skipping.empty()) {
      if (tag == "style" || tag == "script" || tag == "noscript") {
        skipping = tag;
      } else {
        buffer += ' ';
      }
    } else if (tag == "/" + skipping) {
      skipping.clear();
    }
    if (gt == std::string_view::npos) break;
    i = gt + 1;
  }

  std::string collapsed;
  bool in_run = false;
  for (std::size_t i = 0, length = 0; i < buffer.size(); i += length) {
    const bool valid = utf8_sequence(buffer, i, length);
    if (valid && is_white_space(decode_utf8(buffer, i, length))) {
      if (!in_run) collapsed += ' ';
      in_run = true;
    } else {
      collapsed.append(buffer, i, length);
      in_run = false;
    }
  }
  return std::string(trim(collapsed));
}

}  // namespace quarlo::testing_reference
