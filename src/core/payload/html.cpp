// HTML head rendering of a payload: the title element, the description,
// canonical and robots tags, the Open Graph and Twitter Card meta tags and the
// JSON-LD script element.
//
// Everything is written into one output buffer: text values are escaped in a
// single pass as they are appended, and the JSON-LD text is laid out from the
// document's compact text straight after the script start tag, neutralised in
// the same pass.
#include "core/payload/html.hpp"

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/base/fields.hpp"
#include "core/base/json_doc.hpp"
#include "core/base/text_cursor.hpp"
#include "core/payload/payload.hpp"

namespace quarlo {
namespace {

using namespace std::string_view_literals;

// The six bytes that HTML escaping replaces, indexed by byte; 0 = copy.
constexpr std::array<std::uint8_t, 256> kHtmlEscapeIndex = [] {
  std::array<std::uint8_t, 256> t{};
  t[static_cast<unsigned char>('&')] = 1;
  t[static_cast<unsigned char>('<')] = 2;
  t[static_cast<unsigned char>('>')] = 3;
  t[static_cast<unsigned char>('"')] = 4;
  t[static_cast<unsigned char>('\'')] = 5;
  t[static_cast<unsigned char>('\r')] = 6;
  return t;
}();

// Replacing "&" first and every other character afterwards is the same as
// one pass that maps each special byte to its entity: the entities produced
// for "<", ">", '"', "'" and CR are never escaped again, while an "&" from
// the input always is, even when it already starts an entity. A raw CR would
// reach every HTML parser as LF (input streams normalise line breaks before
// tokenising), while the character reference keeps it a CR.
constexpr std::array<std::string_view, 7> kHtmlEscapes{
    ""sv, "&amp;"sv, "&lt;"sv, "&gt;"sv, "&quot;"sv, "&#x27;"sv, "&#13;"sv};

#if defined(__SSE2__)
// Bit i is set when byte i of `v` is one that escaping replaces. "&" and "'"
// (0x26, 0x27) differ only in their lowest bit, "<" and ">" (0x3C, 0x3E)
// only in their second: one comparison each covers both.
unsigned html_special_mask(__m128i v) {
  const __m128i amp_or_apos = _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xFE))),
                                             _mm_set1_epi8('&'));
  const __m128i lt_or_gt = _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xFD))),
                                          _mm_set1_epi8('<'));
  const __m128i quot_or_cr = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(amp_or_apos, lt_or_gt), quot_or_cr)));
}
#endif

#if defined(__SSE2__)
// Copies n bytes, sizeof(Word) <= n <= 2 * sizeof(Word), from p to w as two
// overlapping words.
template <class Word>
void put_ends(char* w, const char* p, std::size_t n) {
  Word head = 0;
  Word tail = 0;
  std::memcpy(&head, p, sizeof head);
  std::memcpy(&tail, p + n - sizeof tail, sizeof tail);
  std::memcpy(w, &head, sizeof head);
  std::memcpy(w + n - sizeof tail, &tail, sizeof tail);
}

// Copies n < 16 bytes from p to w in a few overlapping moves, reading
// only the n bytes.
void put_short(char* w, const char* p, std::size_t n) {
  if (n >= 8) {
    put_ends<std::uint64_t>(w, p, n);
  } else if (n >= 4) {
    put_ends<std::uint32_t>(w, p, n);
  } else if (n != 0) {
    w[0] = p[0];
    w[n / 2] = p[n / 2];
    w[n - 1] = p[n - 1];
  }
}
#endif

// The first byte in [p, end) that escaping replaces, or `end`; `begin` is
// the start of the whole text (p >= begin). Most values hold none or few, so
// the scan runs sixteen bytes at a time; the last partial block is read as
// the final sixteen bytes of the text when it is that long.
const char* find_html_special(const char* const begin, const char* p, const char* const end) {
#if defined(__SSE2__)
  const auto special_mask = [](const char* at) {
    return html_special_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
  };
  while (end - p >= 16) {
    const unsigned mask = special_mask(p);
    if (mask != 0) return p + __builtin_ctz(mask);
    p += 16;
  }
  if (p != end && end - begin >= 16) {
    // Bit i stands for end - 16 + i; drop the bits before p.
    const unsigned mask = special_mask(end - 16) >> (16 - (end - p));
    return mask != 0 ? p + __builtin_ctz(mask) : end;
  }
  if (p != end) {
    // A text shorter than a block: read from a copy padded with zero bytes,
    // which are never special.
    alignas(16) char padded[16] = {};
    put_short(padded, p, static_cast<std::size_t>(end - p));
    const unsigned mask = special_mask(padded);
    return mask != 0 ? p + __builtin_ctz(mask) : end;
  }
  return end;
#else
  static_cast<void>(begin);
#endif
  for (; p != end; ++p) {
    if (kHtmlEscapeIndex[static_cast<unsigned char>(*p)] != 0) return p;
  }
  return end;
}

constexpr std::string_view kLineEnd = "\">\n";
constexpr std::string_view kScriptOpen = "<script type=\"application/ld+json\">\n";
constexpr std::string_view kScriptClose = "\n</script>";

// The most one input byte becomes ("&quot;"), and the slack the block
// stores below run past the bytes that count.
constexpr std::size_t kMaxEscapeGrowth = 6;
constexpr std::size_t kSlack = 16;

// The entities of kHtmlEscapes padded to eight bytes, stored whole.
constexpr std::array<std::array<char, 8>, 7> kPaddedEscapes = [] {
  std::array<std::array<char, 8>, 7> t{};
  for (std::size_t i = 0; i < kHtmlEscapes.size(); ++i) {
    for (std::size_t j = 0; j < kHtmlEscapes[i].size(); ++j) t[i][j] = kHtmlEscapes[i][j];
  }
  return t;
}();

// The room writing `text` escaped may take.
std::size_t escaped_room(std::string_view text) { return kMaxEscapeGrowth * text.size() + kSlack; }

// Writes `text` escaped at w, which has escaped_room(text) bytes of room;
// returns the position after it. Whole blocks of sixteen bytes are stored
// as they are read, and the cursor moves only past the plain ones.
char* put_escaped_html(char* w, std::string_view text) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
#if defined(__SSE2__)
  // Most values need no entity. The whole value is copied and scanned
  // first: when it holds nothing to replace, the position after it follows
  // from its size alone, and the next line need not wait for the scan.
  const std::size_t size = text.size();
  if (size >= 16) {
    unsigned specials = 0;
    for (std::size_t i = 0; i + 16 < size; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(w + i), v);
      specials |= html_special_mask(v);
    }
    // The last sixteen bytes, overlapping the block before.
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w + size - 16), v);
    specials |= html_special_mask(v);
    if (specials == 0) return w + size;
  } else if (size != 0) {
    alignas(16) char padded[16] = {};
    put_short(padded, begin, size);
    const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(padded));
    if (html_special_mask(v) == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(w), v);
      return w + size;
    }
  } else {
    return w;
  }
  // Otherwise escaped from the start, over what was copied.
#endif
  const char* p = begin;
  while (true) {
#if defined(__SSE2__)
    unsigned mask = 0;
    while (end - p >= 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(w), v);
      mask = html_special_mask(v);
      if (mask != 0) break;
      p += 16;
      w += 16;
    }
    if (mask != 0) {
      // The plain bytes before the special one are stored already.
      const auto run = static_cast<std::size_t>(__builtin_ctz(mask));
      w += run;
      p += run;
    } else {
      // Fewer than sixteen bytes are left.
      const char* const special = find_html_special(begin, p, end);
      const auto run = static_cast<std::size_t>(special - p);
      put_short(w, p, run);
      w += run;
      p = special;
    }
#else
    const char* const special = find_html_special(begin, p, end);
    const auto run = static_cast<std::size_t>(special - p);
    if (run != 0) std::memcpy(w, p, run);
    w += run;
    p = special;
#endif
    if (p == end) return w;
    const std::uint8_t entity = kHtmlEscapeIndex[static_cast<unsigned char>(*p++)];
    std::memcpy(w, kPaddedEscapes[entity].data(), 8);
    w += kHtmlEscapes[entity].size();
  }
}

// Writes `head` (`<meta name="tag" content="`, or with property=), then the
// value escaped, then `">` and a line feed.
// Inlined where it is used, so that the head, of a size known there, is
// stored in a few moves rather than by a memcpy call.
[[gnu::always_inline]] inline char* put_meta(TextCursor& cursor, char* w, std::string_view head,
                                             std::string_view value) {
  w = cursor.room(w, head.size() + escaped_room(value) + kLineEnd.size());
  w = put(w, head);
  w = put_escaped_html(w, value);
  return put(w, kLineEnd);
}

[[gnu::always_inline]] inline char* put_meta(TextCursor& cursor, char* w, std::string_view head,
                                             std::uint32_t value) {
  constexpr std::size_t kDigits = 10;
  w = cursor.room(w, head.size() + kDigits + kLineEnd.size());
  w = put(w, head);
  w = std::to_chars(w, w + kDigits, value).ptr;
  return put(w, kLineEnd);
}

// One line per element.
char* put_meta(TextCursor& cursor, char* w, std::string_view head, const std::vector<std::string>& values) {
  for (const auto& value : values) w = put_meta(cursor, w, head, value);
  return w;
}

// The meta lines of a social record: one per present field, in the order of
// its table, under the field's tag and the given attribute ("property" for
// Open Graph, "name" otherwise). Each line ends with a line feed.
template <FieldName Attribute, class Record>
char* put_meta_lines(TextCursor& cursor, char* w, const Record& record) {
  for_each_field<Record>([&](auto f) {
    using F = decltype(f);
    static_assert(!F::tag.empty(), "a rendered field names its meta tag");
    constexpr std::string_view head = joined_names<"<meta ", Attribute, "=\"", F::tag_literal, "\" content=\"">;
    if constexpr (F::is_optional) {
      if (const auto& value = f.of(record)) w = put_meta(cursor, w, head, *value);
    } else {
      w = put_meta(cursor, w, head, f.of(record));
    }
  });
  return w;
}

char* put_opengraph_lines(TextCursor& cursor, char* w, const OGPayload& og) {
  return put_meta_lines<"property">(cursor, w, og);
}
char* put_twitter_lines(TextCursor& cursor, char* w, const TwitterPayload& tw) {
  return put_meta_lines<"name">(cursor, w, tw);
}

// The script element: the pretty text of the document, with "</" written
// as "<\/" (no "</script>" can end the element early) and "<!--" as
// "\u003c!--" (no comment opener can switch the HTML parser into the
// script's double-escaped state, where "</script>" no longer closes it).
// Both can only occur inside JSON strings, where either escape is valid JSON
// and reads back as the same text.
char* put_jsonld(TextCursor& cursor, char* w, const JsonDoc& schema) {
  w = put(cursor.room(w, kScriptOpen.size()), kScriptOpen);
  w = put_pretty_json_text_for_script(cursor, w, schema.text());
  return put(cursor.room(w, kScriptClose.size() + 1), kScriptClose);
}

// The room the script element takes: the pretty text is about twice the
// compact text; a deeper document grows the buffer geometrically.
std::size_t jsonld_size_guess(const JsonDoc& schema) {
  return kScriptOpen.size() + kScriptClose.size() + 2 * schema.text().size() + 16;
}

// A first guess at the size of the head without its script element: the
// values plus the longest fixed text of their lines. Escaping may exceed it.
constexpr std::size_t kLineGuess = 56;

std::size_t line_size_guess(const std::string& value) { return value.size() + kLineGuess; }
std::size_t line_size_guess(std::uint32_t) { return kLineGuess; }
std::size_t line_size_guess(const std::vector<std::string>& values) {
  std::size_t n = 0;
  for (const auto& value : values) n += line_size_guess(value);
  return n;
}

template <class Record>
std::size_t meta_lines_size_guess(const Record& record) {
  std::size_t n = 0;
  for_each_field<Record>([&](auto f) {
    if constexpr (decltype(f)::is_optional) {
      if (const auto& value = f.of(record)) n += line_size_guess(*value);
    } else {
      n += line_size_guess(f.of(record));
    }
  });
  return n;
}

std::size_t estimate_head_size(const SEOPayload& p) {
  return line_size_guess(p.title) + line_size_guess(p.description) + line_size_guess(p.canonical) +
         line_size_guess(p.robots) + meta_lines_size_guess(p.og) + meta_lines_size_guess(p.twitter);
}

}  // namespace

void append_escaped_html(std::string& out, std::string_view text) {
  TextCursor cursor(out, escaped_room(text));
  cursor.finish(put_escaped_html(cursor.start(), text));
}

std::string escape_html(std::string_view text) {
  std::string out;
  append_escaped_html(out, text);
  return out;
}

std::string SEOPayload::render_opengraph() const {
  std::string out;
  TextCursor cursor(out, meta_lines_size_guess(og));
  char* w = put_opengraph_lines(cursor, cursor.start(), og);
  cursor.finish(w - 1);  // the type line is always there; no line feed after the last
  return out;
}

std::string SEOPayload::render_twitter() const {
  std::string out;
  TextCursor cursor(out, meta_lines_size_guess(twitter));
  char* w = put_twitter_lines(cursor, cursor.start(), twitter);
  cursor.finish(w - 1);  // the card line is always there
  return out;
}

std::string SEOPayload::render_jsonld() const {
  std::string out;
  if (!schema_jsonld) return out;
  TextCursor cursor(out, jsonld_size_guess(*schema_jsonld));
  cursor.finish(put_jsonld(cursor, cursor.start(), *schema_jsonld));
  return out;
}

namespace {

char* put_head_html(TextCursor& cursor, char* w, const SEOPayload& p) {
  w = cursor.room(w, "<title></title>\n"sv.size() + escaped_room(p.title));
  w = put(w, "<title>"sv);
  w = put_escaped_html(w, p.title);
  w = put(w, "</title>\n"sv);
  if (!p.description.empty()) w = put_meta(cursor, w, "<meta name=\"description\" content=\"", p.description);
  w = put_meta(cursor, w, "<link rel=\"canonical\" href=\"", p.canonical);
  w = put_meta(cursor, w, "<meta name=\"robots\" content=\"", p.robots);
  // Neither block is ever empty: "og:type" and "twitter:card" always render.
  w = put_opengraph_lines(cursor, w, p.og);
  w = put_twitter_lines(cursor, w, p.twitter);
  if (p.schema_jsonld) {
    w = put_jsonld(cursor, w, *p.schema_jsonld);
    *w++ = '\n';  // put_jsonld leaves room for it
  }
  return w;
}

std::size_t head_size_guess(const SEOPayload& p) {
  return estimate_head_size(p) + (p.schema_jsonld ? jsonld_size_guess(*p.schema_jsonld) + 1 : 0);
}

}  // namespace

std::string SEOPayload::render_html() const {
  std::string out;
  TextCursor cursor(out, head_size_guess(*this));
  cursor.finish(put_head_html(cursor, cursor.start(), *this));
  return out;
}

std::string_view render_html_into(const SEOPayload& payload, std::string& buffer) {
  TextCursor cursor(buffer, 0, head_size_guess(payload));
  const std::size_t size = cursor.offset(put_head_html(cursor, cursor.start(), payload));
  return {buffer.data(), size};
}

}  // namespace quarlo
