// Plain text and description snippets from HTML fragments.
#include "core/payload/text.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "core/base/text_cursor.hpp"
#include "core/base/unicode.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarlo {
namespace {

// Byte classes for the scan. Every byte >= 0x80 starts the Unicode path.
enum ByteClass : std::uint8_t { kPlain, kSpace, kOpen, kHigh };

constexpr std::array<std::uint8_t, 256> make_classes() {
  std::array<std::uint8_t, 256> classes{};
  for (std::size_t b = 0; b < 256; ++b) {
    if (b >= 0x80) {
      classes[b] = kHigh;
    } else if (b == ' ' || (b >= 0x09 && b <= 0x0D)) {
      classes[b] = kSpace;
    } else if (b == '<') {
      classes[b] = kOpen;
    } else {
      classes[b] = kPlain;
    }
  }
  return classes;
}

constexpr std::array<std::uint8_t, 256> kClasses = make_classes();

// The elements whose content is dropped; the closing tag is "/" + name.
enum class Skip : std::uint8_t { kNone, kStyle, kScript, kNoscript };

constexpr std::string_view kSkipped[] = {"", "style", "script", "noscript"};

std::string_view name_of(Skip skip) noexcept { return kSkipped[static_cast<std::size_t>(skip)]; }

// Lower-casing never maps a character to nothing, so a tag text of more
// scalar values than the longest text it is compared with ("/noscript", nine
// characters, at most four bytes each) can never match.
constexpr std::size_t kLongestMatchingTag = 9 * 4;

// A tag text lower-cased. fold() declines (false) a text that cannot equal
// any of the texts compared with: those are letters with at most a leading
// "/", and an ASCII character other than a letter keeps its value. ASCII tags
// are folded byte by byte; a tag with any byte >= 0x80 goes through the full
// Unicode mapping (U+212A KELVIN SIGN lower-cases to "k").
class FoldedTag {
 public:
  bool fold(std::string_view tag) {
    if (tag.size() > kLongestMatchingTag) return false;
    bool ascii = true;
    for (std::size_t i = 0; i < tag.size(); ++i) {
      const auto b = static_cast<unsigned char>(tag[i]);
      if (b >= 0x80) {
        ascii = false;
      } else if (b == '/') {
        ascii_[i] = '/';
      } else if ((b | 0x20) >= 'a' && (b | 0x20) <= 'z') {
        ascii_[i] = static_cast<char>(b | 0x20);
      } else {
        return false;
      }
    }
    if (ascii) {
      text_ = std::string_view(ascii_.data(), tag.size());
    } else {
      unicode_ = to_lower(tag);
      text_ = unicode_;
    }
    return true;
  }

  [[nodiscard]] std::string_view text() const noexcept { return text_; }

 private:
  std::array<char, kLongestMatchingTag> ascii_{};
  std::string unicode_;
  std::string_view text_;
};

// The skipped element an opening tag text names, if any.
Skip opening_skip(std::string_view tag) {
  // Most tags are ruled out by an ASCII first character.
  if (tag.empty()) return Skip::kNone;
  const auto first = static_cast<unsigned char>(tag.front());
  if (first < 0x80 && (first | 0x20) != 's' && (first | 0x20) != 'n') return Skip::kNone;
  FoldedTag folded;
  if (!folded.fold(tag)) return Skip::kNone;
  for (const Skip skip : {Skip::kStyle, Skip::kScript, Skip::kNoscript}) {
    if (folded.text() == name_of(skip)) return skip;
  }
  return Skip::kNone;
}

// True when the tag text closes the element `skip` exactly ("/" + name).
bool closes(std::string_view tag, Skip skip) {
  const std::string_view name = name_of(skip);
  if (tag.empty() || (static_cast<unsigned char>(tag.front()) < 0x80 && tag.front() != '/')) return false;
  FoldedTag folded;
  if (!folded.fold(tag)) return false;
  const std::string_view text = folded.text();
  return text.size() == name.size() + 1 && text.front() == '/' && text.substr(1) == name;
}

// Every non-ASCII White_Space character lies in one of these ranges; the
// property itself is asked only for candidates. (A test walks the whole code
// space to keep this gate and is_white_space in agreement.)
bool may_be_white_space(char32_t cp) noexcept {
  return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x205F) || cp == 0x3000;
}

// True when the well-formed sequence of `length` bytes at `p` is White_Space.
bool sequence_is_white_space(const unsigned char* p, std::size_t length) noexcept {
  char32_t cp;
  if (length == 2) {
    cp = (static_cast<char32_t>(p[0] & 0x1F) << 6) | (p[1] & 0x3F);
  } else if (length == 3) {
    cp = (static_cast<char32_t>(p[0] & 0x0F) << 12) | (static_cast<char32_t>(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
  } else {
    return false;  // nothing in the four-byte planes is White_Space
  }
  return may_be_white_space(cp) && is_white_space(cp);
}

// Block copying. The scan copies ordinary ASCII a block at a time: it
// stops at bytes >= 0x80, ASCII controls (the white space among them), "<",
// and a " " that follows a " " (or comes first in the block when the output
// is empty or ends in a space). A " " after anything else is the single
// space a white-space run becomes, and is copied as it is.
#if defined(__SSE2__)

constexpr std::size_t kBlock = 16;

// Number of ordinary bytes at the start of the block at `p` (kBlock if all).
inline std::size_t ordinary_prefix(const unsigned char* p, bool after_space) noexcept {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i spaces = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '));
  // Signed compare: bytes >= 0x80 are negative, so this takes them with the
  // controls.
  const __m128i below_space = _mm_cmplt_epi8(bytes, _mm_set1_epi8(' '));
  const __m128i opens = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('<'));
  const __m128i doubled = _mm_and_si128(spaces, _mm_slli_si128(spaces, 1));
  auto stops = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(below_space, opens), doubled)));
  if (after_space) stops |= static_cast<unsigned>(_mm_movemask_epi8(spaces)) & 1U;
  return stops == 0 ? kBlock : static_cast<std::size_t>(std::countr_zero(stops));
}

#else

// The same eight bytes at a time in a 64-bit word. Marks are the high bits
// of its bytes; every mask is exact per byte (no carry crosses a byte).
constexpr std::size_t kBlock = 8;
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
constexpr std::uint64_t kLows = ~kHighs;
constexpr bool kLittle = std::endian::native == std::endian::little;

constexpr std::uint64_t bytes_equal(std::uint64_t word, unsigned char value) noexcept {
  const std::uint64_t diff = word ^ (kOnes * value);
  return ~(((diff & kLows) + kLows) | diff) & kHighs;
}

inline std::size_t ordinary_prefix(const unsigned char* p, bool after_space) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  const std::uint64_t high = word & kHighs;
  const std::uint64_t control = ~(((word & kLows) + kOnes * (0x80 - 0x20)) | word) & kHighs;
  const std::uint64_t spaces = bytes_equal(word, ' ');
  // Each byte's mark moved to the byte after it in memory.
  const std::uint64_t after_spaces = kLittle ? spaces << 8 : spaces >> 8;
  const std::uint64_t first = after_space ? (kLittle ? 0x80ULL : 0x80ULL << 56) : 0;
  const std::uint64_t stops = high | control | bytes_equal(word, '<') | (spaces & (after_spaces | first));
  if (stops == 0) return kBlock;
  return static_cast<std::size_t>(kLittle ? std::countr_zero(stops) : std::countl_zero(stops)) / 8;
}

#endif

// Index of the first `byte` in s[from, n), or n. Most tags are short, so the
// first block is looked at inline.
inline std::size_t find_byte(const unsigned char* s, std::size_t from, std::size_t n, unsigned char byte) noexcept {
#if defined(__SSE2__)
  if (n - from >= kBlock) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + from));
    const auto found =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(byte)))));
    if (found != 0) return from + static_cast<std::size_t>(std::countr_zero(found));
    from += kBlock;
  }
#endif
  const void* found = std::memchr(s + from, byte, n - from);
  return found == nullptr ? n : static_cast<std::size_t>(static_cast<const unsigned char*>(found) - s);
}

// Number of bytes < 0x80 at the start of text[from, from + limit), which
// must lie within the text.
inline std::size_t ascii_prefix(std::string_view text, std::size_t from, std::size_t limit) noexcept {
  const auto* const p = reinterpret_cast<const unsigned char*>(text.data()) + from;
  std::size_t k = 0;
#if defined(__SSE2__)
  for (; k + kBlock <= limit; k += kBlock) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(bytes));
    if (high != 0) return k + static_cast<std::size_t>(std::countr_zero(high));
  }
#endif
  while (k < limit && p[k] < 0x80) ++k;
  return k;
}

// Collapses white-space runs to one " " and trims both ends, reading the
// text afresh as UTF-8. Only needed when dropping a skipped element joined
// ill-formed pieces (from "\xC2<script></script>\xA0" an NBSP).
void collapse_white_space(std::string& text) {
  char* const start = text.data();
  char* w = start;
  const auto* const s = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    const bool white = utf8_sequence(text, i, length) &&
                       (length == 1 ? kClasses[s[i]] == kSpace : sequence_is_white_space(s + i, length));
    if (white) {
      if (w != start && w[-1] != ' ') *w++ = ' ';
    } else {
      std::memmove(w, s + i, length);  // w never passes s + i
      w += length;
    }
  }
  if (w != start && w[-1] == ' ') --w;
  text.resize(static_cast<std::size_t>(w - start));
}

// The walk of a description snippet over text still being written: the
// characters counted so far and where the kept prefix ends. It reads only
// bytes that can no longer change: a rejoined ill-formed sequence (see
// collapse_white_space) or the final trim touch at most the last four bytes
// written, and reading one character looks at most four bytes ahead.
struct SnippetWalk {
  static constexpr std::size_t kSettledMargin = 8;

  std::size_t max_chars;
  std::size_t keep;
  std::size_t next_check;
  std::size_t i = 0;
  std::size_t count = 0;
  std::size_t cut = 0;

  // True once the text written so far reaches character max_chars + 1: the
  // snippet is then that text cut at `cut`, whatever follows.
  bool advance(std::string_view text) noexcept {
    while (i + kSettledMargin <= text.size()) {
      if (count == keep) cut = i;
      if (count == max_chars) return true;
      // ASCII bytes are a character each: a run of them is counted at once,
      // up to the next count that matters.
      const std::size_t next_mark = count < keep ? keep : max_chars;
      const std::size_t settled_end = text.size() - kSettledMargin + 1;
      const std::size_t run = ascii_prefix(text, i, std::min(settled_end - i, next_mark - count));
      if (run != 0) {
        i += run;
        count += run;
        continue;
      }
      std::size_t length = 0;
      (void)utf8_sequence(text, i, length);
      i += length;
      ++count;
    }
    next_check = text.size() + 2 * kSettledMargin;
    return false;
  }
};

// One pass over the bytes. Text is copied straight into the output; each
// run of white space (tags count as a space) is written as a single " " the
// first time it is met, unless the output is still empty or already ends in
// that space. The output holds " " only as such a separator, so the trailing
// one, if any, is the whole of the trimming left to do at the end. The
// output is never longer than the input: every byte is copied at most once,
// a tag ("<" at least) becomes at most one space, and a white-space run one.
// With a walk, the scan stops as soon as the walk has settled the snippet
// (`settled` then true, and the result is the text written so far,
// untrimmed).
// The text is written at the start of `out`, which is grown to the input's
// size when shorter; its length is returned, and the bytes of `out` after
// it are left as they are.
std::size_t scan_text(std::string_view html, SnippetWalk* walk, bool& settled, std::string& out) {
  settled = false;
  if (out.size() < html.size()) out.resize(html.size());
  char* const start = out.data();
  char* w = start;
  const auto* const s = reinterpret_cast<const unsigned char*>(html.data());
  const std::size_t n = html.size();
  std::size_t i = 0;
  Skip skip = Skip::kNone;
  bool rejoined = false;

  const auto separate = [&]() {
    if (w != start && w[-1] != ' ') *w++ = ' ';
  };

  while (i < n) {
    if (walk != nullptr && static_cast<std::size_t>(w - start) >= walk->next_check && !rejoined &&
        walk->advance(std::string_view(start, static_cast<std::size_t>(w - start)))) {
      settled = true;
      return static_cast<std::size_t>(w - start);
    }
    if (skip != Skip::kNone) {
      // Drop everything up to a tag that closes the element exactly.
      const std::size_t open = find_byte(s, i, n, '<');
      if (open == n) break;
      const std::size_t tag_begin = open + 1;
      const std::size_t tag_end = find_byte(s, tag_begin, n, '>');
      if (tag_end == n) break;  // the tag runs to the end: nothing more to copy
      if (closes(html.substr(tag_begin, tag_end - tag_begin), skip)) {
        skip = Skip::kNone;
        // Bytes of an ill-formed sequence before the element may join the
        // bytes after it into one character, white space perhaps.
        if (w != start && static_cast<unsigned char>(w[-1]) >= 0x80) rejoined = true;
      }
      i = tag_end + 1;
      continue;
    }

    // Copy ordinary ASCII and single spaces a block at a time. Writing the
    // whole block is safe even when less is kept: the output never runs
    // ahead of the input.
    while (i + kBlock <= n) {
      std::memcpy(w, s + i, kBlock);
      const std::size_t ordinary = ordinary_prefix(s + i, w == start || w[-1] == ' ');
      i += ordinary;
      w += ordinary;
      if (ordinary < kBlock) break;
    }
    if (i == n) break;

    const unsigned char c = s[i];
    switch (kClasses[c]) {
      case kPlain:  // a non-space ASCII control, or any byte of a short last block
        *w++ = static_cast<char>(c);
        ++i;
        break;
      case kSpace:  // and the rest of an ASCII white-space run (line break, indentation)
        separate();
        ++i;
        while (i < n && kClasses[s[i]] == kSpace) ++i;
        break;
      case kOpen: {
        const std::size_t tag_begin = i + 1;
        const std::size_t tag_end = find_byte(s, tag_begin, n, '>');
        if (tag_end == n) {
          // An unclosed tag runs to the end of the input and ends the scan;
          // whatever it is, nothing visible would follow.
          i = n;
          break;
        }
        skip = opening_skip(html.substr(tag_begin, tag_end - tag_begin));
        if (skip == Skip::kNone) separate();
        i = tag_end + 1;
        break;
      }
      default: {  // kHigh
        std::size_t length = 0;
        if (utf8_sequence(html, i, length) && sequence_is_white_space(s + i, length)) {
          separate();
        } else {
          // A character, or an ill-formed sequence, copied as it stands.
          std::memcpy(w, s + i, length);
          w += length;
        }
        i += length;
        break;
      }
    }
  }

  if (w != start && w[-1] == ' ') --w;
  if (!rejoined) return static_cast<std::size_t>(w - start);
  out.resize(static_cast<std::size_t>(w - start));
  collapse_white_space(out);
  return out.size();
}

constexpr std::string_view kEllipsis = "...";

}  // namespace

std::string html_to_text(std::string_view html) {
  bool settled = false;
  std::string out;
  out.resize(scan_text(html, nullptr, settled, out));
  return out;
}

std::optional<std::string> build_description_snippet(std::optional<std::string_view> html, std::size_t max_chars) {
  if (!html) return std::nullopt;
  const std::size_t keep = max_chars >= kEllipsis.size() ? max_chars - kEllipsis.size() : 0;
  // A long body is scanned only as far as the snippet needs.
  SnippetWalk walk{max_chars, keep, max_chars + SnippetWalk::kSettledMargin + 1};
  bool settled = false;
  // The body's text is written into a buffer kept per thread, of which only
  // the snippet's part is copied out: a typical build then neither
  // allocates nor clears room for the whole body.
  std::string text = with_kept_buffer([&](std::string& buffer) {
    const std::size_t written = scan_text(*html, &walk, settled, buffer);
    return std::string(buffer.data(), written);
  });
  if (settled) {
    text.resize(walk.cut);
    text.append(kEllipsis);
    return text;
  }
  if (text.empty()) return std::nullopt;

  // Walk at most max_chars + 1 characters, remembering where the kept
  // prefix ends; a text that runs out first is short enough as it is.
  std::size_t cut = 0;
  std::size_t count = 0;
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    if (count == keep) cut = i;
    if (count == max_chars) {
      text.resize(cut);
      text.append(kEllipsis);
      return text;
    }
    const std::size_t next_mark = count < keep ? keep : max_chars;
    length = ascii_prefix(text, i, std::min(text.size() - i, next_mark - count));
    if (length != 0) {
      count += length;
      continue;
    }
    (void)utf8_sequence(text, i, length);
    ++count;
  }
  return text;
}

}  // namespace quarlo
