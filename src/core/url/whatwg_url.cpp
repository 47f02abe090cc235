// WHATWG URL parsing for absolute URLs without a base URL.
//
// The parser is the basic URL parser of the URL Standard run without a base
// and without a state override, so the relative states collapse into one
// failure. It works on UTF-8 bytes: after pre-processing the input is always
// well-formed UTF-8, so percent-encoding a code point is the same as
// percent-encoding each of its bytes, and every delimiter is ASCII.
//
// Failure descriptions. The standard distinguishes many failures; callers see
// the closest of seven descriptions:
//   missing-scheme-non-relative-URL                      "relative URL without a base"
//   host-missing (special URL with an empty host, user
//     information followed by an empty host, empty host
//     in front of a port)                                "empty host"
//   port-out-of-range, port-invalid                      "invalid port number"
//   IPv4-too-many-parts, IPv4-non-numeric-part,
//     IPv4-out-of-range-part                             "invalid IPv4 address"
//   IPv6-unclosed, IPv6-invalid-compression,
//     IPv6-too-many-pieces, IPv6-multiple-compression,
//     IPv6-invalid-code-point, IPv6-too-few-pieces,
//     IPv4-in-IPv6-* (all of them)                       "invalid IPv6 address"
//   host-invalid-code-point (opaque hosts),
//     domain-invalid-code-point                          "invalid domain character"
//   domain-to-ASCII (a UTS #46 error on a non-ASCII
//     domain, an empty result, a host that is not
//     well-formed UTF-8 once percent-decoded)            "invalid international domain name"
#include "core/url/whatwg_url.hpp"

#include "core/base/unicode.hpp"
#include "core/url/whatwg_url_internal.hpp"

#include <unicode/uidna.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

namespace quarlo::whatwg {
namespace {

using failure::kBadDomainChar;
using failure::kBadIdn;
using failure::kBadIpv4;
using failure::kBadIpv6;
using failure::kBadPort;
using failure::kEmptyHost;
using failure::kNoBase;

// An empty view means success for the helpers below.
using Failure = std::string_view;

// ---------------------------------------------------------------------------
// Character classes

constexpr bool is_alpha(int c) noexcept { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
constexpr bool is_digit(int c) noexcept { return c >= '0' && c <= '9'; }
constexpr bool is_alnum(int c) noexcept { return is_alpha(c) || is_digit(c); }
constexpr int hex_value(int c) noexcept {
  if (is_digit(c)) return c - '0';
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
  return -1;
}
constexpr char to_lower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}
constexpr bool is_tab_or_newline(char c) noexcept { return c == '\t' || c == '\n' || c == '\r'; }

constexpr bool is_forbidden_host_byte(unsigned char c) noexcept {
  switch (c) {
    case 0x00: case '\t': case '\n': case '\r': case ' ': case '#': case '/': case ':':
    case '<': case '>': case '?': case '@': case '[': case '\\': case ']': case '^': case '|':
      return true;
    default:
      return false;
  }
}
constexpr bool is_forbidden_domain_byte(unsigned char c) noexcept {
  return c <= 0x1F || c == '%' || c == 0x7F || is_forbidden_host_byte(c);
}

// ---------------------------------------------------------------------------
// Percent-encode sets. They nest (C0 control < fragment, query < special-query;
// query < path < userinfo), so each ASCII byte carries one bit per set that
// contains it. Bytes >= 0x80 are in every set.

enum EncodeSet : std::uint8_t {
  kC0ControlSet = 1U << 0,
  kFragmentSet = 1U << 1,
  kQuerySet = 1U << 2,
  kSpecialQuerySet = 1U << 3,
  kPathSet = 1U << 4,
  kUserinfoSet = 1U << 5,
};

// Two more bits mark the bytes that end a run of bytes copied as they are in
// a path segment (the path set and the segment delimiters) and in an opaque
// path (the C0 control set, '?', '#' and the space, which depends on what
// follows).
constexpr std::uint8_t kPathStop = 1U << 6;
constexpr std::uint8_t kOpaquePathStop = 1U << 7;

constexpr std::array<std::uint8_t, 256> make_encode_table() {
  std::array<std::uint8_t, 256> table{};
  auto add = [&table](std::string_view chars, unsigned sets) {
    for (const char c : chars) table[static_cast<unsigned char>(c)] |= static_cast<std::uint8_t>(sets);
  };
  constexpr unsigned all = kC0ControlSet | kFragmentSet | kQuerySet | kSpecialQuerySet | kPathSet | kUserinfoSet;
  for (unsigned c = 0; c < 0x20; ++c) table[c] = all;
  table[0x7F] = all;
  for (unsigned c = 0x80; c < 0x100; ++c) table[c] = all;
  add(" \"<>", kFragmentSet | kQuerySet | kSpecialQuerySet | kPathSet | kUserinfoSet);
  add("`", kFragmentSet | kPathSet | kUserinfoSet);
  add("#", kQuerySet | kSpecialQuerySet | kPathSet | kUserinfoSet);
  add("'", kSpecialQuerySet);
  add("?^{}", kPathSet | kUserinfoSet);
  add("/:;=@[\\]|", kUserinfoSet);
  for (unsigned c = 0; c < 0x100; ++c) {
    if ((table[c] & kPathSet) != 0) table[c] |= kPathStop;
    if ((table[c] & kC0ControlSet) != 0) table[c] |= kOpaquePathStop;
  }
  add("/\\", kPathStop);
  add("?# ", kOpaquePathStop);
  return table;
}
constexpr std::array<std::uint8_t, 256> kEncodeTable = make_encode_table();
constexpr char kUpperHex[] = "0123456789ABCDEF";

inline void append_escaped(std::string& out, unsigned char c) {
  const char escape[3] = {'%', kUpperHex[c >> 4], kUpperHex[c & 0xF]};
  out.append(escape, 3);
}

inline void append_encoded(std::string& out, unsigned char c, EncodeSet set) {
  if ((kEncodeTable[c] & set) != 0) {
    append_escaped(out, c);
  } else {
    out.push_back(static_cast<char>(c));
  }
}

// Length of the run of bytes from in[from] on that have none of the bits of
// `stop`.
inline std::size_t run_length(std::string_view in, std::size_t from, unsigned stop) noexcept {
  const auto* const s = reinterpret_cast<const unsigned char*>(in.data());
  const std::size_t n = in.size();
  std::size_t i = from;
  // Eight bytes at a time while none of them stops the run, then one by one.
  for (; n - i >= 8; i += 8) {
    const unsigned bits = kEncodeTable[s[i]] | kEncodeTable[s[i + 1]] | kEncodeTable[s[i + 2]] |
                          kEncodeTable[s[i + 3]] | kEncodeTable[s[i + 4]] | kEncodeTable[s[i + 5]] |
                          kEncodeTable[s[i + 6]] | kEncodeTable[s[i + 7]];
    if ((bits & stop) != 0) {
      while ((kEncodeTable[s[i]] & stop) == 0) ++i;  // one of the eight stops it
      return i - from;
    }
  }
  while (i < n && (kEncodeTable[s[i]] & stop) == 0) ++i;
  return i - from;
}

// Appends in[from, end) to `out`, percent-encoding the bytes in `set` (which
// include every byte in `stop`); `stop` bytes are the ones the caller looks
// at itself, so this returns at the first of them.
inline std::size_t append_run(std::string& out, std::string_view in, std::size_t from, unsigned stop) {
  const std::size_t length = run_length(in, from, stop);
  out.append(in.data() + from, length);
  return from + length;
}

// True when one of the eight bytes of `word` is >= 0x80 or below 0x0E (which
// takes in tab, LF and CR): such a word is looked at byte by byte.
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
inline bool needs_a_closer_look(std::uint64_t word) noexcept {
  return ((word | ((word - kOnes * 0x0E) & ~word)) & kHighBits) != 0;
}

inline std::uint64_t load8(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// True when `s` is well-formed UTF-8 without tab or newline. ASCII text goes
// eight bytes at a time; a word that may hold something else is checked
// byte by byte from its first byte, which is always a sequence boundary.
bool is_clean(std::string_view s) noexcept {
  const char* const data = s.data();
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    if (n - i >= 16) {
      const std::uint64_t a = load8(data + i);
      const std::uint64_t b = load8(data + i + 8);
      if (((a | b | ((a - kOnes * 0x0E) & ~a) | ((b - kOnes * 0x0E) & ~b)) & kHighBits) == 0) {
        i += 16;
        continue;
      }
    }
    if (n - i >= 8) {
      if (!needs_a_closer_look(load8(data + i))) {
        i += 8;
        continue;
      }
    } else if (n >= 8 && !needs_a_closer_look(load8(data + n - 8))) {
      return true;  // the last eight bytes, overlapping those already seen
    }
    const std::size_t stop = std::min(n, i + 8);
    while (i < stop) {
      std::size_t length = 0;
      if (!utf8_sequence(s, i, length) || is_tab_or_newline(data[i])) return false;
      i += length;
    }
  }
  return true;
}

// Strips leading and trailing C0 controls and spaces, removes every tab and
// newline and replaces ill-formed UTF-8 by U+FFFD. Returns a view of `input`
// when nothing but stripping was needed, else a view of `storage`.
std::string_view preprocess(std::string_view input, std::string& storage) {
  std::size_t begin = 0;
  std::size_t end = input.size();
  while (begin < end && static_cast<unsigned char>(input[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(input[end - 1]) <= 0x20) --end;
  input = input.substr(begin, end - begin);
  if (is_clean(input)) return input;

  // Decoding comes first: a tab between the bytes of a sequence breaks it.
  storage = replace_invalid_utf8(input);
  std::erase_if(storage, is_tab_or_newline);
  return storage;
}

// ---------------------------------------------------------------------------
// IPv4

constexpr std::uint64_t kIpv4Saturation = (std::uint64_t{1} << 32) + 1;

// Parses one dotted part: decimal, octal ("0" prefix) or hexadecimal ("0x");
// values above 2^32 saturate, which is enough to reject them.
bool parse_ipv4_number(std::string_view s, std::uint64_t& value) noexcept {
  if (s.empty()) return false;
  int radix = 10;
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    radix = 16;
    s.remove_prefix(2);
  } else if (s.size() >= 2 && s[0] == '0') {
    radix = 8;
    s.remove_prefix(1);
  }
  value = 0;
  for (const char c : s) {
    const int digit = hex_value(static_cast<unsigned char>(c));
    if (digit < 0 || digit >= radix) return false;
    value = value * static_cast<unsigned>(radix) + static_cast<unsigned>(digit);
    if (value > kIpv4Saturation) value = kIpv4Saturation;
  }
  return true;
}

bool ends_in_a_number(std::string_view s) noexcept {
  if (s.empty()) return false;
  if (s.back() == '.') s.remove_suffix(1);
  const std::string_view last = s.substr(s.rfind('.') + 1);  // npos + 1 == 0
  if (last.empty()) return false;
  bool all_digits = true;
  for (const char c : last) all_digits = all_digits && is_digit(static_cast<unsigned char>(c));
  std::uint64_t ignored = 0;
  return all_digits || parse_ipv4_number(last, ignored);
}

Failure parse_ipv4(std::string_view s, std::string& out) {
  if (s.size() > 1 && s.back() == '.') s.remove_suffix(1);
  std::array<std::uint64_t, 4> numbers{};
  std::size_t count = 0;
  for (std::size_t start = 0;;) {
    const std::size_t dot = s.find('.', start);
    const std::string_view part = s.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (count == numbers.size()) return kBadIpv4;
    if (!parse_ipv4_number(part, numbers[count])) return kBadIpv4;
    ++count;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  for (std::size_t i = 0; i + 1 < count; ++i) {
    if (numbers[i] > 255) return kBadIpv4;
  }
  const std::uint64_t last = numbers[count - 1];
  if (last >= (std::uint64_t{1} << (8 * (5 - count)))) return kBadIpv4;
  std::uint64_t address = last;
  for (std::size_t i = 0; i + 1 < count; ++i) address += numbers[i] << (8 * (3 - i));

  out.clear();
  for (int shift = 24; shift >= 0; shift -= 8) {
    out += std::to_string((address >> shift) & 0xFF);
    if (shift != 0) out += '.';
  }
  return {};
}

// ---------------------------------------------------------------------------
// IPv6

Failure parse_ipv6(std::string_view s, std::array<std::uint16_t, 8>& address) noexcept {
  address.fill(0);
  std::size_t piece = 0;
  std::size_t compress = 8;  // 8: no compression
  std::size_t p = 0;
  const auto at = [&s](std::size_t i) -> int { return i < s.size() ? static_cast<unsigned char>(s[i]) : -1; };

  if (at(p) == ':') {
    if (at(p + 1) != ':') return kBadIpv6;
    p += 2;
    compress = ++piece;
  }
  while (at(p) != -1) {
    if (piece == 8) return kBadIpv6;
    if (at(p) == ':') {
      if (compress != 8) return kBadIpv6;
      ++p;
      compress = ++piece;
      continue;
    }
    unsigned value = 0;
    std::size_t length = 0;
    while (length < 4 && hex_value(at(p)) >= 0) {
      value = value * 16 + static_cast<unsigned>(hex_value(at(p)));
      ++p;
      ++length;
    }
    if (at(p) == '.') {
      if (length == 0) return kBadIpv6;
      p -= length;
      if (piece > 6) return kBadIpv6;
      int numbers_seen = 0;
      while (at(p) != -1) {
        int ipv4_piece = -1;
        if (numbers_seen > 0) {
          if (at(p) == '.' && numbers_seen < 4) {
            ++p;
          } else {
            return kBadIpv6;
          }
        }
        if (!is_digit(at(p))) return kBadIpv6;
        while (is_digit(at(p))) {
          const int number = at(p) - '0';
          if (ipv4_piece == -1) {
            ipv4_piece = number;
          } else if (ipv4_piece == 0) {
            return kBadIpv6;
          } else {
            ipv4_piece = ipv4_piece * 10 + number;
          }
          if (ipv4_piece > 255) return kBadIpv6;
          ++p;
        }
        address[piece] = static_cast<std::uint16_t>(address[piece] * 0x100 + ipv4_piece);
        ++numbers_seen;
        if (numbers_seen == 2 || numbers_seen == 4) ++piece;
      }
      if (numbers_seen != 4) return kBadIpv6;
      break;
    }
    if (at(p) == ':') {
      ++p;
      if (at(p) == -1) return kBadIpv6;
    } else if (at(p) != -1) {
      return kBadIpv6;
    }
    address[piece] = static_cast<std::uint16_t>(value);
    ++piece;
  }
  if (compress != 8) {
    std::size_t swaps = piece - compress;
    piece = 7;
    while (piece != 0 && swaps > 0) {
      std::swap(address[piece], address[compress + swaps - 1]);
      --piece;
      --swaps;
    }
  } else if (piece != 8) {
    return kBadIpv6;
  }
  return {};
}

void serialize_ipv6(const std::array<std::uint16_t, 8>& address, std::string& out) {
  // The first longest run of two or more zero pieces is written as "::".
  std::size_t compress = 8;
  std::size_t best = 1;
  for (std::size_t i = 0; i < 8;) {
    std::size_t j = i;
    while (j < 8 && address[j] == 0) ++j;
    if (j - i > best) {
      best = j - i;
      compress = i;
    }
    i = j == i ? i + 1 : j;
  }
  out.clear();
  out += '[';
  static constexpr char kLowerHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < 8; ++i) {
    if (i == compress) {
      out += i == 0 ? "::" : ":";
      i += best - 1;
      continue;
    }
    const unsigned v = address[i];
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned nibble = (v >> shift) & 0xF;
      if (nibble != 0 || started || shift == 0) {
        out += kLowerHex[nibble];
        started = true;
      }
    }
    if (i != 7) out += ':';
  }
  out += ']';
}

// ---------------------------------------------------------------------------
// Domains

const UIDNA* uts46() noexcept {
  // Created once, shared read-only by every thread, never closed.
  static const UIDNA* const instance = [] {
    UErrorCode status = U_ZERO_ERROR;
    UIDNA* idna = uidna_openUTS46(UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ | UIDNA_NONTRANSITIONAL_TO_ASCII |
                                      UIDNA_NONTRANSITIONAL_TO_UNICODE,
                                  &status);
    return U_SUCCESS(status) ? idna : nullptr;
  }();
  return instance;
}

// CheckHyphens and VerifyDnsLength are off, so these never fail a domain.
// Labels handed to ICU in one call: enough to make the cost of a call small
// beside the work, few enough to keep the moves inside a call short.
constexpr std::size_t kLabelsPerIcuCall = 32;

constexpr std::uint32_t kIgnoredIdnaErrors = UIDNA_ERROR_EMPTY_LABEL | UIDNA_ERROR_LABEL_TOO_LONG |
                                             UIDNA_ERROR_DOMAIN_NAME_TOO_LONG | UIDNA_ERROR_LEADING_HYPHEN |
                                             UIDNA_ERROR_TRAILING_HYPHEN | UIDNA_ERROR_HYPHEN_3_4;

constexpr std::size_t kMaxIcuLength = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());

// The result of one ICU call when the call itself failed, beside the UTS #46
// error bits.
constexpr std::uint32_t kIcuCallFailed = 1U << 31;

// One call of ICU's UTS #46 to ASCII on `domain`, into `out` (replaced).
// Returns the UTS #46 errors, or kIcuCallFailed.
std::uint32_t icu_name_to_ascii(const UIDNA* idna, std::string_view domain, std::string& out) {
  if (domain.size() > kMaxIcuLength) return kIcuCallFailed;
  // Room for the usual growth of short labels ("\xC3\xBC" becomes "xn--tda").
  out.resize(std::min(domain.size() * 3 + 32, kMaxIcuLength));
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    UIDNAInfo info = UIDNA_INFO_INITIALIZER;
    const std::int32_t length =
        uidna_nameToASCII_UTF8(idna, domain.data(), static_cast<std::int32_t>(domain.size()), out.data(),
                               static_cast<std::int32_t>(out.size()), &info, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR && attempt == 0) {
      out.resize(static_cast<std::size_t>(length));
      continue;
    }
    if (U_FAILURE(status)) return kIcuCallFailed;
    out.resize(static_cast<std::size_t>(length));
    return info.errors;
  }
  return kIcuCallFailed;
}

// Length of the label separator at s[i]: 1 for ".", 3 for the full stops
// U+3002, U+FF0E and U+FF61 (the only code points that UTS #46 maps to
// something holding a "."), else 0.
std::size_t separator_length(std::string_view s, std::size_t i) noexcept {
  if (s[i] == '.') return 1;
  if (static_cast<unsigned char>(s[i]) < 0xE3 || s.size() - i < 3) return 0;
  const std::string_view three = s.substr(i, 3);
  return three == "\xE3\x80\x82" || three == "\xEF\xBC\x8E" || three == "\xEF\xBD\xA1" ? 3 : 0;
}

// ICU converts a domain in one buffer and moves the rest of it after every
// label it rewrites, which is quadratic in the number of labels. UTS #46
// maps and checks each label on its own, though, except for the bidi rule,
// which holds for every label once any label is right-to-left. So a domain
// goes to ICU `labels_per_call` labels at a time (0: all at once, as does
// any domain of no more labels than that); when it took several calls, one
// more call on the joined ASCII result checks the domain-wide bidi condition:
// ICU decodes its "xn--" labels back to the labels it encoded and checks them
// together, without rewriting (so without moving) anything.
Failure uts46_to_ascii(std::string_view domain, std::string& out, std::size_t labels_per_call) {
  const UIDNA* idna = uts46();
  if (idna == nullptr || domain.size() > kMaxIcuLength / 4) return kBadIdn;
  const auto failed = [](std::uint32_t errors) { return (errors & ~kIgnoredIdnaErrors) != 0; };
  out.clear();
  std::string piece_out;
  std::size_t piece_start = 0;
  std::size_t labels = 0;
  for (std::size_t i = 0;; ++i) {
    std::size_t separator = 0;
    while (i < domain.size() && (separator = separator_length(domain, i)) == 0) ++i;
    const bool last = i == domain.size();
    if (++labels != labels_per_call && !last) {
      i += separator - 1;
      continue;
    }
    if (last && piece_start == 0) return failed(icu_name_to_ascii(idna, domain, out)) ? kBadIdn : Failure{};
    // An empty piece is an empty label, which fails nothing.
    const std::string_view piece = domain.substr(piece_start, i - piece_start);
    if (!piece.empty()) {
      if (failed(icu_name_to_ascii(idna, piece, piece_out))) return kBadIdn;
      out += piece_out;
    }
    if (last) break;
    out += '.';
    piece_start = i + separator;
    labels = 0;
    i += separator - 1;
  }
  return failed(icu_name_to_ascii(idna, out, piece_out)) ? kBadIdn : Failure{};
}

// Domain to ASCII with beStrict false. An ASCII domain is only lower-cased:
// its "xn--" labels are neither decoded nor validated, since sites use labels
// that decode but fail the UTS #46 validity criteria and browsers load them.
// Non-ASCII domains go through UTS #46.
Failure domain_to_ascii(std::string_view domain, std::string& out) {
  if (is_ascii(domain)) {
    out.assign(domain);
    for (char& c : out) c = to_lower(c);
  } else {
    if (!is_valid_utf8(domain)) return kBadIdn;  // U+FFFD would be disallowed anyway
    if (const Failure f = uts46_to_ascii(domain, out, kLabelsPerIcuCall); !f.empty()) return f;
  }
  if (out.empty()) return kBadIdn;
  for (const char c : out) {
    if (is_forbidden_domain_byte(static_cast<unsigned char>(c))) return kBadDomainChar;
  }
  return {};
}

// Byte classes for the scheme, authority and host states, which scan with
// one table look-up per byte and collect what they saw.
enum ByteClass : std::uint16_t {
  kSchemeByte = 1U << 0,   // ASCII alphanumeric, '+', '-', '.'
  kUpperByte = 1U << 1,    // 'A' to 'Z'
  kAtSign = 1U << 2,       // '@'
  kEndsHost = 1U << 3,     // '/', '?', '#'
  kBackslash = 1U << 4,    // '\', which ends the host for special schemes only
  kColon = 1U << 5,        // ':'
  kBracket = 1U << 6,      // '[', ']'
  kForbiddenByte = 1U << 7,  // a forbidden domain code point other than '%'
  kDigitByte = 1U << 8,
  kNotPlainAscii = 1U << 9,  // '%' or a byte >= 0x80: the general host path decides
};

constexpr std::array<std::uint16_t, 256> make_byte_classes() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned c = 0; c < 0x100; ++c) {
    unsigned bits = 0;
    if (c < 0x80 && (is_alnum(static_cast<int>(c)) || c == '+' || c == '-' || c == '.')) bits |= kSchemeByte;
    if (c >= 'A' && c <= 'Z') bits |= kUpperByte;
    if (c == '@') bits |= kAtSign;
    if (c == '/' || c == '?' || c == '#') bits |= kEndsHost;
    if (c == '\\') bits |= kBackslash;
    if (c == ':') bits |= kColon;
    if (c == '[' || c == ']') bits |= kBracket;
    if (is_digit(static_cast<int>(c))) bits |= kDigitByte;
    if (c == '%' || c >= 0x80) {
      bits |= kNotPlainAscii;
    } else if (is_forbidden_domain_byte(static_cast<unsigned char>(c))) {
      bits |= kForbiddenByte;
    }
    table[c] = static_cast<std::uint16_t>(bits);
  }
  return table;
}
constexpr std::array<std::uint16_t, 256> kByteClasses = make_byte_classes();
static_assert(kUpperByte << 4 == 'a' - 'A');

inline unsigned byte_class(char c) noexcept { return kByteClasses[static_cast<unsigned char>(c)]; }

// The classes of the bytes of `s`, or-ed.
inline unsigned classes_of(std::string_view s) noexcept {
  unsigned seen = 0;
  for (const char c : s) seen |= byte_class(c);
  return seen;
}

// Copies `s` to `out`, lower-casing ASCII letters when `seen` (its classes)
// says there are upper-case ones.
inline void assign_lower(std::string_view s, unsigned seen, std::string& out) {
  out.clear();
  out.append(s);
  if ((seen & kUpperByte) == 0) return;
  for (char& c : out) c = static_cast<char>(static_cast<unsigned char>(c) | ((byte_class(c) & kUpperByte) << 4));
}

// The classes of a host's bytes when the caller has not collected them.
constexpr unsigned kClassesUnknown = ~0U;

// The host parser. `scratch` is reused working storage. The fast path takes
// ASCII domains without percent-encoding, which domain to ASCII only
// lower-cases, using the byte classes the caller may have collected;
// `fast_path` false sends every domain the general way (percent-decoding,
// domain to ASCII, then the checks), for checking the one against the other.
Failure parse_host(std::string_view input, bool is_opaque, std::string& out, std::string& scratch,
                   bool fast_path = true, unsigned classes = kClassesUnknown) {
  if (!input.empty() && input.front() == '[') {
    if (input.size() < 2 || input.back() != ']') return kBadIpv6;
    std::array<std::uint16_t, 8> address{};
    if (const Failure f = parse_ipv6(input.substr(1, input.size() - 2), address); !f.empty()) return f;
    serialize_ipv6(address, out);
    return {};
  }
  if (is_opaque) {
    out.clear();
    for (const char c : input) {
      if (is_forbidden_host_byte(static_cast<unsigned char>(c))) return kBadDomainChar;
      append_encoded(out, static_cast<unsigned char>(c), kC0ControlSet);
    }
    return {};
  }
  if (fast_path) {
    const unsigned seen = classes == kClassesUnknown ? classes_of(input) : classes;
    if ((seen & kNotPlainAscii) == 0) {
      assign_lower(input, seen, out);
      if (out.empty()) return kBadIdn;
      if ((seen & kForbiddenByte) != 0) return kBadDomainChar;
      if ((seen & kDigitByte) != 0 && ends_in_a_number(out)) {
        scratch.assign(out);
        return parse_ipv4(scratch, out);
      }
      return {};
    }
  }
  std::string_view domain = input;
  if (input.find('%') != std::string_view::npos) {
    percent_decode(input, scratch);
    domain = scratch;
  }
  if (const Failure f = domain_to_ascii(domain, out); !f.empty()) return f;
  if (ends_in_a_number(out)) {
    scratch.assign(out);
    return parse_ipv4(scratch, out);
  }
  return {};
}

// ---------------------------------------------------------------------------
// Paths

bool is_windows_drive_letter(std::string_view s) noexcept {
  return s.size() == 2 && is_alpha(static_cast<unsigned char>(s[0])) && (s[1] == ':' || s[1] == '|');
}

bool is_single_dot(std::string_view s) noexcept {
  return s == "." || (s.size() == 3 && s[0] == '%' && s[1] == '2' && to_lower(s[2]) == 'e');
}

bool is_double_dot(std::string_view s) noexcept {
  const auto dot_at = [&s](std::size_t& i) {
    if (i < s.size() && s[i] == '.') {
      i += 1;
      return true;
    }
    if (i + 3 <= s.size() && s[i] == '%' && s[i + 1] == '2' && to_lower(s[i + 2]) == 'e') {
      i += 3;
      return true;
    }
    return false;
  };
  std::size_t i = 0;
  return dot_at(i) && dot_at(i) && i == s.size();
}

// Removes the path's last segment, except a lone normalised drive letter of
// a file URL.
void shorten_path(std::string& path, bool is_file) {
  if (is_file && path.size() == 3 && path[0] == '/' && is_alpha(static_cast<unsigned char>(path[1])) &&
      path[2] == ':') {
    return;
  }
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos) path.erase(slash);
}

// ---------------------------------------------------------------------------
// The state machine
//
// Each state consumes as much of the input as it can at once: runs of bytes
// that need neither percent-encoding nor a decision are found with one table
// look-up per byte and appended in one go. `p` is the position of the byte a
// state looks at first; p == n is the end of the input.

enum class State {
  kAuthority,
  kFileHost,
  kPathStart,
  kPath,
  kOpaquePath,
  kQuery,
  kFragment,
  kDone,
};

// Schemes by what the parser does with them.
enum class SchemeKind { kOther, kSpecial, kFile };

struct SchemeInfo {
  SchemeKind kind;
  int default_port;
};

SchemeInfo classify_scheme(std::string_view scheme) noexcept {
  switch (scheme.size()) {
    case 2:
      if (scheme == "ws") return {SchemeKind::kSpecial, 80};
      break;
    case 3:
      if (scheme == "wss") return {SchemeKind::kSpecial, 443};
      if (scheme == "ftp") return {SchemeKind::kSpecial, 21};
      break;
    case 4:
      if (scheme == "http") return {SchemeKind::kSpecial, 80};
      if (scheme == "file") return {SchemeKind::kFile, -1};
      break;
    case 5:
      if (scheme == "https") return {SchemeKind::kSpecial, 443};
      break;
    default:
      break;
  }
  return {SchemeKind::kOther, -1};
}

// The bits of the bytes that end an authority, host or port.
constexpr unsigned host_end_bits(bool special) noexcept { return kEndsHost | (special ? unsigned{kBackslash} : 0U); }

inline bool ends_host_part(unsigned char c, bool special) noexcept {
  return (kByteClasses[c] & host_end_bits(special)) != 0;
}

// Ends the path segment that starts at path[segment] (a '/'), `slash` telling
// whether a segment follows: drops "." and ".." segments (with the one before
// "..") and normalises the drive letter that starts a file path.
void end_dot_or_drive_segment(std::string& path, std::size_t segment, bool slash, bool is_file) {
  const std::string_view text = std::string_view(path).substr(segment + 1);
  if (text[0] == '.' || text[0] == '%') {
    if (is_double_dot(text)) {
      path.resize(segment);
      shorten_path(path, is_file);
      if (!slash) path += '/';
      return;
    }
    if (is_single_dot(text)) {
      path.resize(segment);
      if (!slash) path += '/';
      return;
    }
  }
  if (is_file && segment == 0 && is_windows_drive_letter(text)) path[2] = ':';
}

inline void end_segment(std::string& path, std::size_t segment, bool slash, bool is_file) {
  // Dot segments are at most six bytes long ("%2e%2e"), drive letters two.
  const std::size_t length = path.size() - segment - 1;
  if (length != 0 && length <= 6) end_dot_or_drive_segment(path, segment, slash, is_file);
}

Failure parse_port(std::string_view digits, int default_port, std::optional<std::uint16_t>& port) noexcept {
  if (digits.empty()) return {};
  std::uint32_t value = 0;
  for (const char d : digits) {
    value = value * 10 + static_cast<std::uint32_t>(d - '0');
    if (value > 65535) return kBadPort;
  }
  if (static_cast<int>(value) != default_port) port = static_cast<std::uint16_t>(value);
  return {};
}

// Parses the user information in front of an '@' of the authority.
void parse_userinfo(std::string_view text, Url& url, bool& at_sign_seen, bool& password_token_seen) {
  if (at_sign_seen) (password_token_seen ? url.password : url.username) += "%40";
  at_sign_seen = true;
  for (const char b : text) {
    if (b == ':' && !password_token_seen) {
      password_token_seen = true;
      continue;
    }
    append_encoded(password_token_seen ? url.password : url.username, static_cast<unsigned char>(b), kUserinfoSet);
  }
}

// Runs the parser on pre-processed input; returns the failure, leaving `url`
// half-built, or an empty view.
Failure run(std::string_view in, Url& url) {
  const std::size_t n = in.size();
  const auto byte = [&in](std::size_t i) { return static_cast<unsigned char>(in[i]); };

  // Scheme start and scheme states.
  std::size_t p = 0;
  SchemeInfo scheme{SchemeKind::kSpecial, 443};
  if (in.substr(0, 6) == "https:") {
    url.scheme.append("https", 5);
  } else if (in.substr(0, 5) == "http:") {
    url.scheme.append("http", 4);
    scheme.default_port = 80;
  } else {
    if (n == 0 || !is_alpha(byte(0))) return kNoBase;
    unsigned seen = 0;
    for (p = 1; p < n && (byte_class(in[p]) & kSchemeByte) != 0; ++p) seen |= byte_class(in[p]);
    if (p == n || in[p] != ':') return kNoBase;
    assign_lower(in.substr(0, p), seen | byte_class(in[0]), url.scheme);
    scheme = classify_scheme(url.scheme);
  }
  p = url.scheme.size() + 1;
  const bool special = scheme.kind != SchemeKind::kOther;
  const bool is_file = scheme.kind == SchemeKind::kFile;
  std::string scratch;  // host parsing work space
  std::size_t mark = p;  // start of the authority or file host text

  State state;
  if (is_file) {
    // File and file slash states.
    url.host.emplace();
    state = State::kPath;
    if (p < n && (in[p] == '/' || in[p] == '\\')) {
      ++p;
      if (p < n && (in[p] == '/' || in[p] == '\\')) {
        mark = ++p;
        state = State::kFileHost;
      }
    }
  } else if (special) {
    // Special authority slashes and special authority ignore slashes states.
    if (n - p >= 2 && in[p] == '/' && in[p + 1] == '/') p += 2;
    while (p < n && (in[p] == '/' || in[p] == '\\')) ++p;
    mark = p;
    state = State::kAuthority;
  } else if (p < n && in[p] == '/') {
    // Path or authority state.
    ++p;
    if (p < n && in[p] == '/') {
      mark = ++p;
      state = State::kAuthority;
    } else {
      state = State::kPath;
    }
  } else {
    url.opaque_path = true;
    state = State::kOpaquePath;
  }

  std::size_t segment = 0;  // start of the open path segment in url.path
  bool segment_open = false;
  while (state != State::kDone) {
    switch (state) {
      case State::kAuthority: {
        // The authority ends at the first delimiter; user information, if
        // any, at its last '@'.
        const unsigned end_bits = host_end_bits(special);
        bool at_sign_seen = false;
        bool password_token_seen = false;
        unsigned seen = 0;
        for (;; ++p) {
          const unsigned stop = end_bits | kAtSign;
          for (; n - p >= 4; p += 4) {
            const unsigned a = byte_class(in[p]), b = byte_class(in[p + 1]);
            const unsigned c = byte_class(in[p + 2]), d = byte_class(in[p + 3]);
            if (((a | b | c | d) & stop) != 0) break;
            seen |= a | b | c | d;
          }
          while (p < n && (byte_class(in[p]) & stop) == 0) seen |= byte_class(in[p++]);
          if (p == n || in[p] != '@') break;
          parse_userinfo(in.substr(mark, p - mark), url, at_sign_seen, password_token_seen);
          mark = p + 1;
        }
        if (at_sign_seen && mark == p) return kEmptyHost;

        // Host state: the host ends at the authority's end or at a ':' outside
        // brackets.
        if ((seen & (kColon | kBracket)) != 0) {
          p = mark;
          bool inside_brackets = false;
          for (; p < n; ++p) {
            const unsigned bits = kByteClasses[byte(p)];
            if ((bits & (end_bits | kColon | kBracket)) == 0) continue;
            if ((bits & end_bits) != 0 || (in[p] == ':' && !inside_brackets)) break;
            if (in[p] == '[') inside_brackets = true;
            if (in[p] == ']') inside_brackets = false;
          }
        }
        const std::string_view host_text = in.substr(mark, p - mark);
        if (p < n && in[p] == ':') {
          if (host_text.empty()) return kEmptyHost;
          if (const Failure f = parse_host(host_text, !special, url.host.emplace(), scratch); !f.empty()) return f;
          // Port state.
          mark = ++p;
          while (p < n && is_digit(byte(p))) ++p;
          if (p < n && !ends_host_part(byte(p), special)) return kBadPort;
          if (const Failure f = parse_port(in.substr(mark, p - mark), scheme.default_port, url.port); !f.empty()) {
            return f;
          }
        } else {
          if (special && host_text.empty()) return kEmptyHost;
          // Without user information the bytes seen are the host's.
          const unsigned classes = at_sign_seen ? kClassesUnknown : seen;
          if (const Failure f = parse_host(host_text, !special, url.host.emplace(), scratch, true, classes);
              !f.empty()) {
            return f;
          }
        }
        state = State::kPathStart;
        break;
      }

      case State::kFileHost: {
        while (p < n && !ends_host_part(byte(p), true)) ++p;
        const std::string_view text = in.substr(mark, p - mark);
        if (is_windows_drive_letter(text)) {
          // "file://C:/": the drive letter starts the path, the host stays empty.
          url.path += '/';
          url.path += text;
          segment = 0;
          segment_open = true;
          state = State::kPath;
        } else {
          if (!text.empty()) {
            std::string& host = *url.host;
            if (const Failure f = parse_host(text, false, host, scratch); !f.empty()) return f;
            if (host == "localhost") host.clear();
          }
          state = State::kPathStart;
        }
        break;
      }

      case State::kPathStart:
        if (special) {
          if (p < n && (in[p] == '/' || in[p] == '\\')) ++p;
          state = State::kPath;
        } else if (p == n) {
          state = State::kDone;
        } else if (in[p] == '?') {
          ++p;
          state = State::kQuery;
        } else if (in[p] == '#') {
          ++p;
          state = State::kFragment;
        } else {
          if (in[p] == '/') ++p;
          state = State::kPath;
        }
        break;

      case State::kPath: {
        std::string& path = url.path;
        if (!segment_open) {
          if (path.empty() && n - p >= 15) path.reserve(n - p + 1);
          segment = path.size();
          path += '/';
          segment_open = true;
        }
        p = append_run(path, in, p, kPathStop);
        if (p == n) {
          end_segment(path, segment, false, is_file);
          state = State::kDone;
          break;
        }
        const unsigned char c = byte(p++);
        if (c == '/' || (special && c == '\\')) {
          end_segment(path, segment, true, is_file);
          segment_open = false;
        } else if (c == '?' || c == '#') {
          end_segment(path, segment, false, is_file);
          state = c == '?' ? State::kQuery : State::kFragment;
        } else {
          append_encoded(path, c, kPathSet);  // a non-special '\' stays as it is
        }
        break;
      }

      case State::kOpaquePath: {
        p = append_run(url.path, in, p, kOpaquePathStop);
        if (p == n) {
          state = State::kDone;
          break;
        }
        const unsigned char c = byte(p++);
        if (c == '?') {
          state = State::kQuery;
        } else if (c == '#') {
          state = State::kFragment;
        } else if (c == ' ') {
          // A space right before the query or fragment is escaped so that it
          // survives serialising and parsing again.
          const bool last = p < n && (in[p] == '?' || in[p] == '#');
          url.path += last ? "%20" : " ";
        } else {
          append_escaped(url.path, c);
        }
        break;
      }

      case State::kQuery: {
        std::string& query = url.query ? *url.query : url.query.emplace();
        if (query.empty() && n - p > 15) query.reserve(n - p);
        const EncodeSet set = special ? kSpecialQuerySet : kQuerySet;
        p = append_run(query, in, p, set);
        if (p == n) {
          state = State::kDone;
        } else if (in[p] == '#') {
          ++p;
          state = State::kFragment;
        } else {
          append_escaped(query, byte(p++));
        }
        break;
      }

      case State::kFragment: {
        std::string& fragment = url.fragment ? *url.fragment : url.fragment.emplace();
        if (fragment.empty() && n - p > 15) fragment.reserve(n - p);
        p = append_run(fragment, in, p, kFragmentSet);
        if (p == n) {
          state = State::kDone;
        } else {
          append_escaped(fragment, byte(p++));
        }
        break;
      }

      case State::kDone:
        break;
    }
  }
  return {};
}

}  // namespace

// ---------------------------------------------------------------------------
// Public interface

ParseResult parse(std::string_view input) {
  std::string storage;
  ParseResult result;
  if (const Failure f = run(preprocess(input, storage), result.url.emplace()); !f.empty()) {
    result.url.reset();
    result.failure = f;
  }
  return result;
}

void percent_decode(std::string_view input, std::string& out, bool plus_as_space) {
  out.clear();
  out.reserve(input.size());
  for (std::size_t i = 0; i < input.size(); ++i) {
    const char c = input[i];
    int high = -1;
    int low = -1;
    if (c == '%' && input.size() - i > 2 && (high = hex_value(static_cast<unsigned char>(input[i + 1]))) >= 0 &&
        (low = hex_value(static_cast<unsigned char>(input[i + 2]))) >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += plus_as_space && c == '+' ? ' ' : c;
    }
  }
}

std::string_view internal::uts46_to_ascii(std::string_view domain, std::string& out, std::size_t labels_per_call) {
  return whatwg::uts46_to_ascii(domain, out, labels_per_call);
}

std::string_view internal::parse_special_host(std::string_view input, std::string& out, bool fast_path) {
  std::string scratch;
  return parse_host(input, false, out, scratch, fast_path);
}

std::string Url::protocol() const {
  std::string out;
  out.reserve(scheme.size() + 1);
  out += scheme;
  out += ':';
  return out;
}

std::string Url::host_with_port() const {
  if (!host) return {};
  std::string out = *host;
  if (port) {
    out += ':';
    out += std::to_string(*port);
  }
  return out;
}

std::string Url::search() const { return query && !query->empty() ? "?" + *query : std::string(); }

std::string Url::hash() const { return fragment && !fragment->empty() ? "#" + *fragment : std::string(); }

std::string Url::href() const {
  std::string out;
  out.reserve(scheme.size() + username.size() + password.size() + (host ? host->size() : 0) + path.size() +
              (query ? query->size() : 0) + (fragment ? fragment->size() : 0) + 16);
  out += scheme;
  out += ':';
  if (host) {
    out += "//";
    if (!username.empty() || !password.empty()) {
      out += username;
      if (!password.empty()) {
        out += ':';
        out += password;
      }
      out += '@';
    }
    out += *host;
    if (port) {
      out += ':';
      out += std::to_string(*port);
    }
  } else if (!opaque_path && path.size() > 1 && path[0] == '/' && path[1] == '/') {
    // Without this the empty first segment would read back as a host.
    out += "/.";
  }
  out += path;
  if (query) {
    out += '?';
    out += *query;
  }
  if (fragment) {
    out += '#';
    out += *fragment;
  }
  return out;
}

}  // namespace quarlo::whatwg
