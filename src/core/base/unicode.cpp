// Unicode helpers on ICU: White_Space, lower-casing, UTF-8 checks.
#include "core/base/unicode.hpp"

#include <cstdint>
#include <cstring>
#include <limits>

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace quarlo {
namespace {

const std::uint8_t* bytes_of(std::string_view text) noexcept {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

// Decodes the character starting at `i` and advances `i` past it; an
// ill-formed sequence yields a negative value and counts as one character.
UChar32 next_char(const std::uint8_t* s, std::int64_t& i, std::int64_t length) noexcept {
  UChar32 c;
  U8_NEXT(s, i, length, c);
  return c;
}

bool is_ascii_white_space(std::uint8_t b) noexcept {
  return b == ' ' || (b >= 0x09 && b <= 0x0D);
}

// Start of the last character in [begin, end), which is valid and white
// space; `end` when the last character is anything else.
std::int64_t white_space_before(const std::uint8_t* s, std::int64_t begin,
                                std::int64_t end) noexcept {
  std::int64_t start = end - 1;
  if (s[start] < 0x80) return is_ascii_white_space(s[start]) ? start : end;
  // Step back over at most three trail bytes to a possible lead byte, then
  // decode forwards: the character must end exactly at `end`.
  while (start > begin && end - start < 4 && U8_IS_TRAIL(s[start])) --start;
  std::int64_t i = start;
  const UChar32 c = next_char(s, i, end);
  if (c < 0 || i != end) return end;
  return is_white_space(static_cast<char32_t>(c)) ? start : end;
}

constexpr std::size_t kMaxIcuLength = static_cast<std::size_t>(std::numeric_limits<int32_t>::max());

void append_lower(std::string& out, std::string_view text) {
  icu::StringByteSink<std::string> sink(&out);
  UErrorCode status = U_ZERO_ERROR;
  // Ill-formed sequences are copied unchanged by the UTF-8 case mapper.
  icu::CaseMap::utf8ToLower("", 0, icu::StringPiece(text.data(), static_cast<int32_t>(text.size())),
                            sink, nullptr, status);
  if (U_FAILURE(status)) {
    // Only reachable on allocation failure inside ICU; keep the text rather
    // than lose it.
    out.append(text);
  }
}

}  // namespace

bool is_white_space(char32_t cp) noexcept {
  if (cp < 0x80) return is_ascii_white_space(static_cast<std::uint8_t>(cp));
  if (cp > 0x10FFFF) return false;
  return u_isUWhiteSpace(static_cast<UChar32>(cp)) != 0;
}

std::string_view detail::trim_white_space(std::string_view text) noexcept {
  const std::uint8_t* s = bytes_of(text);
  const auto length = static_cast<std::int64_t>(text.size());
  std::int64_t begin = 0;
  while (begin < length) {
    if (s[begin] < 0x80) {
      if (!is_ascii_white_space(s[begin])) break;
      ++begin;
      continue;
    }
    std::int64_t i = begin;
    const UChar32 c = next_char(s, i, length);
    if (c < 0 || !is_white_space(static_cast<char32_t>(c))) break;
    begin = i;
  }
  std::int64_t end = length;
  while (end > begin) {
    const std::int64_t start = white_space_before(s, begin, end);
    if (start == end) break;
    end = start;
  }
  return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

std::string to_lower(std::string_view text) {
  std::string out;
  if (is_ascii(text)) {
    out.resize(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      out[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    return out;
  }
  out.reserve(text.size());
  // ICU takes 32-bit lengths; split longer texts before a lead or ASCII byte.
  while (text.size() > kMaxIcuLength) {
    std::size_t cut = kMaxIcuLength;
    while (cut > 0 && U8_IS_TRAIL(static_cast<std::uint8_t>(text[cut]))) --cut;
    if (cut == 0) cut = kMaxIcuLength;
    append_lower(out, text.substr(0, cut));
    text.remove_prefix(cut);
  }
  append_lower(out, text);
  return out;
}

std::size_t count_scalars(std::string_view text) noexcept {
  const std::uint8_t* s = bytes_of(text);
  const auto length = static_cast<std::int64_t>(text.size());
  std::size_t count = 0;
  std::int64_t i = 0;
  while (i < length) {
    if (s[i] < 0x80) {
      ++i;
    } else {
      next_char(s, i, length);
    }
    ++count;
  }
  return count;
}

bool is_ascii(std::string_view text) noexcept {
  const char* p = text.data();
  std::size_t n = text.size();
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if (word & kHighBits) return false;
  }
  for (; n > 0; ++p, --n) {
    if (static_cast<unsigned char>(*p) >= 0x80) return false;
  }
  return true;
}

bool is_valid_utf8(std::string_view text) noexcept {
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    if (!utf8_sequence(text, i, length)) return false;
  }
  return true;
}

std::string replace_invalid_utf8(std::string_view text) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    if (utf8_sequence(text, i, length)) {
      out.append(text.substr(i, length));
    } else {
      out.append(kReplacement);
    }
  }
  return out;
}

}  // namespace quarlo
