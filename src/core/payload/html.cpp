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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/base/fields.hpp"
#include "core/base/json_doc.hpp"
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

// The first byte in [p, end) that escaping replaces, or `end`; `begin` is
// the start of the whole text (p >= begin). Most values hold none or few, so
// the scan runs sixteen bytes at a time; the last partial block is read as
// the final sixteen bytes of the text when it is that long.
const char* find_html_special(const char* const begin, const char* p, const char* const end) {
#if defined(__SSE2__)
  const __m128i amp = _mm_set1_epi8('&');
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i gt = _mm_set1_epi8('>');
  const __m128i quot = _mm_set1_epi8('"');
  const __m128i apos = _mm_set1_epi8('\'');
  const __m128i cr = _mm_set1_epi8('\r');
  const auto special_mask = [&](const char* at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, lt)),
                     _mm_or_si128(_mm_cmpeq_epi8(v, gt), _mm_cmpeq_epi8(v, quot))),
        _mm_or_si128(_mm_cmpeq_epi8(v, apos), _mm_cmpeq_epi8(v, cr)));
    return static_cast<unsigned>(_mm_movemask_epi8(hits));
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

// Writes `head` (`<meta name="tag" content="`, or with property=), then the
// value escaped, then `">` and a line feed.
void append_meta(std::string& out, std::string_view head, std::string_view value) {
  out.append(head);
  append_escaped_html(out, value);
  out.append(kLineEnd);
}

void append_meta(std::string& out, std::string_view head, std::uint32_t value) {
  std::array<char, 16> digits{};
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
  out.append(head);
  out.append(digits.data(), end);
  out.append(kLineEnd);
}

// One line per element.
void append_meta(std::string& out, std::string_view head, const std::vector<std::string>& values) {
  for (const auto& value : values) append_meta(out, head, value);
}

// The meta lines of a social record: one per present field, in the order of
// its table, under the field's tag and the given attribute ("property" for
// Open Graph, "name" otherwise). Each line ends with a line feed.
template <FieldName Attribute, class Record>
void append_meta_lines(std::string& out, const Record& record) {
  for_each_field<Record>([&](auto f) {
    using F = decltype(f);
    static_assert(!F::tag.empty(), "a rendered field names its meta tag");
    constexpr std::string_view head = joined_names<"<meta ", Attribute, "=\"", F::tag_literal, "\" content=\"">;
    if constexpr (F::is_optional) {
      if (const auto& value = f.of(record)) append_meta(out, head, *value);
    } else {
      append_meta(out, head, f.of(record));
    }
  });
}

void append_opengraph_lines(std::string& out, const OGPayload& og) { append_meta_lines<"property">(out, og); }
void append_twitter_lines(std::string& out, const TwitterPayload& tw) { append_meta_lines<"name">(out, tw); }

// The script element: the pretty text of the document, with "</" written
// as "<\/" (no "</script>" can end the element early) and "<!--" as
// "\u003c!--" (no comment opener can switch the HTML parser into the
// script's double-escaped state, where "</script>" no longer closes it).
// Both can only occur inside JSON strings, where either escape is valid JSON
// and reads back as the same text.
void append_jsonld(std::string& out, const JsonDoc& schema) {
  out.append(kScriptOpen);
  append_pretty_json_text_for_script(out, schema.text());
  out.append(kScriptClose);
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
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* run = begin;
  for (const char* p = find_html_special(begin, run, end); p != end;
       p = find_html_special(begin, run, end)) {
    out.append(run, static_cast<std::size_t>(p - run));
    out.append(kHtmlEscapes[kHtmlEscapeIndex[static_cast<unsigned char>(*p)]]);
    run = p + 1;
  }
  out.append(run, static_cast<std::size_t>(end - run));
}

std::string escape_html(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8 + 8);
  append_escaped_html(out, text);
  return out;
}

std::string SEOPayload::render_opengraph() const {
  std::string out;
  out.reserve(512);
  append_opengraph_lines(out, og);
  out.pop_back();  // the type line is always there; no line feed after the last
  return out;
}

std::string SEOPayload::render_twitter() const {
  std::string out;
  out.reserve(384);
  append_twitter_lines(out, twitter);
  out.pop_back();  // the card line is always there
  return out;
}

std::string SEOPayload::render_jsonld() const {
  std::string out;
  if (!schema_jsonld) return out;
  out.reserve(jsonld_size_guess(*schema_jsonld));
  append_jsonld(out, *schema_jsonld);
  return out;
}

std::string SEOPayload::render_html() const {
  std::string out;
  out.reserve(estimate_head_size(*this) + (schema_jsonld ? jsonld_size_guess(*schema_jsonld) + 1 : 0));

  out.append("<title>"sv);
  append_escaped_html(out, title);
  out.append("</title>\n"sv);
  if (!description.empty()) append_meta(out, "<meta name=\"description\" content=\"", description);
  out.append("<link rel=\"canonical\" href=\""sv);
  append_escaped_html(out, canonical);
  out.append(kLineEnd);
  append_meta(out, "<meta name=\"robots\" content=\"", robots);
  // Neither block is ever empty: "og:type" and "twitter:card" always render.
  append_opengraph_lines(out, og);
  append_twitter_lines(out, twitter);
  if (schema_jsonld) {
    append_jsonld(out, *schema_jsonld);
    out.push_back('\n');
  }
  return out;
}

}  // namespace quarlo
