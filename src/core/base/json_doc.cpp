// JSON documents held as canonical compact text: reading the value back and
// writing the pretty layout straight from the text.
#include "core/base/json_doc.hpp"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <vector>

#include "core/base/text_cursor.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarlo {
namespace {

// The first byte in [p, end) that ends a run of plain string content: '"',
// '\\', and '<' too when `kLessThan` (the script-safe layout looks at every
// "<"). Strings are the long stretches of a document, so the scan runs
// sixteen bytes at a time where it can.
template <bool kLessThan>
const char* find_string_special(const char* p, const char* const end) noexcept {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i less = _mm_set1_epi8('<');
  for (; end - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash));
    if constexpr (kLessThan) hits = _mm_or_si128(hits, _mm_cmpeq_epi8(v, less));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mask != 0) return p + __builtin_ctz(mask);
  }
#endif
  for (; p != end; ++p) {
    if (*p == '"' || *p == '\\' || (kLessThan && *p == '<')) return p;
  }
  return end;
}

bool continues_number(char c) noexcept {
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// ---------------------------------------------------------------------------
// Reading the value back

int hex_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The four hex digits at p (p + 4 <= end), or -1.
long read_hex4(const char* p, const char* end) noexcept {
  if (end - p < 4) return -1;
  long v = 0;
  for (int i = 0; i < 4; ++i) {
    const int d = hex_value(p[i]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes the string literal whose opening quote is at p into `out`;
// returns the position after its closing quote (or `end`).
const char* read_string(const char* p, const char* const end, std::string& out) {
  ++p;  // opening quote
  while (p < end) {
    const char* const special = find_string_special<false>(p, end);
    out.append(p, static_cast<std::size_t>(special - p));
    p = special;
    if (p == end) break;
    if (*p == '"') return p + 1;
    // A backslash escape.
    if (end - p < 2) return end;
    const char e = p[1];
    p += 2;
    switch (e) {
      case 'b': out.push_back('\b'); break;
      case 'f': out.push_back('\f'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      case 'u': {
        const long unit = read_hex4(p, end);
        if (unit < 0) {
          out.push_back('u');
          break;
        }
        p += 4;
        auto cp = static_cast<std::uint32_t>(unit);
        if (cp >= 0xD800 && cp < 0xDC00 && end - p >= 6 && p[0] == '\\' && p[1] == 'u') {
          const long low = read_hex4(p + 2, end);
          if (low >= 0xDC00 && low < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<std::uint32_t>(low) - 0xDC00);
            p += 6;
          }
        }
        append_utf8(out, cp);
        break;
      }
      default:  // '"', '\\', '/'
        out.push_back(e);
        break;
    }
  }
  return end;
}

// The number token [p, q): integers as the parser reads them (non-negative
// ones unsigned, negative ones signed, either as a double when out of
// range), everything else a double.
Json read_number(const char* p, const char* q) {
  bool integral = true;
  for (const char* c = p; c != q; ++c) {
    if (*c == '.' || *c == 'e' || *c == 'E') integral = false;
  }
  if (integral) {
    if (*p == '-') {
      std::int64_t v = 0;
      const auto r = std::from_chars(p, q, v);
      if (r.ec == std::errc{} && r.ptr == q) return Json(v);
    } else {
      std::uint64_t v = 0;
      const auto r = std::from_chars(p, q, v);
      if (r.ec == std::errc{} && r.ptr == q) return Json(v);
    }
  }
  double d = 0;
  const auto r = std::from_chars(p, q, d);
  if (r.ec == std::errc{}) return Json(d);
  return Json(nullptr);
}

// Reads canonical compact text into a value with an explicit stack of open
// containers, so no depth is too deep. Canonical text is trusted: anything
// unexpected is skipped rather than refused, and reading never fails.
Json read_canonical(std::string_view text) {
  Json root;
  std::vector<Json*> stack;
  std::string key;
  const auto place = [&](Json&& v) -> Json* {
    if (stack.empty()) {
      root = std::move(v);
      return &root;
    }
    Json& parent = *stack.back();
    if (auto* array = parent.get_ptr<Json::array_t*>()) return &array->emplace_back(std::move(v));
    auto& object = *parent.get_ptr<Json::object_t*>();
    // Keys arrive in ascending order: each member goes at the end.
    return &object.insert_or_assign(object.end(), std::move(key), std::move(v))->second;
  };
  const auto literal = [&](const char* p, const char* end, std::size_t size, Json&& v) {
    place(std::move(v));
    return static_cast<std::size_t>(end - p) < size ? end : p + size;
  };

  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    switch (*p) {
      case '{':
        stack.push_back(place(Json(Json::value_t::object)));
        ++p;
        break;
      case '[':
        stack.push_back(place(Json(Json::value_t::array)));
        ++p;
        break;
      case '}':
      case ']':
        if (!stack.empty()) stack.pop_back();
        ++p;
        break;
      case '"': {
        std::string s;
        p = read_string(p, end, s);
        if (p < end && *p == ':' && !stack.empty() && stack.back()->is_object()) {
          key = std::move(s);
          ++p;
        } else {
          place(Json(std::move(s)));
        }
        break;
      }
      case 't':
        p = literal(p, end, 4, Json(true));
        break;
      case 'f':
        p = literal(p, end, 5, Json(false));
        break;
      case 'n':
        p = literal(p, end, 4, Json(nullptr));
        break;
      default: {
        if (!continues_number(*p)) {
          ++p;  // ',' or anything canonical text does not hold
          break;
        }
        const char* q = p;
        while (q != end && continues_number(*q)) ++q;
        place(read_number(p, q));
        p = q;
        break;
      }
    }
  }
  return root;
}

// ---------------------------------------------------------------------------
// Pretty layout
//
// Written through a TextCursor: each token first asks for the room it may
// need (a line break with its indentation, or a run of string content with
// the byte that ends it); indentation and string content are stored sixteen
// bytes at a time. Where strings end is read from bitmasks of 64 bytes at a
// time (StringScan).

// The slack every write keeps beyond the bytes it means: stores run in whole
// sixteen-byte blocks.
constexpr std::size_t kSlack = 32;

// A line feed and `2 * depth` spaces; needs max(32, 2 * depth + 16) bytes
// of room.
char* line_break(char* w, std::size_t depth) {
  const std::size_t n = 1 + 2 * depth;
#if defined(__SSE2__)
  // The line feed and the first spaces in two stores: indentation up to
  // depth 15.
  alignas(16) static constexpr char kFirst[16] = {'\n', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                                  ' ',  ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  const __m128i spaces = _mm_set1_epi8(' ');
  _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_load_si128(reinterpret_cast<const __m128i*>(kFirst)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(w + 16), spaces);
  if (n > 32) [[unlikely]] {
    for (std::size_t i = 32; i < n; i += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(w + i), spaces);
  }
#else
  *w = '\n';
  std::memset(w + 1, ' ', n - 1);
#endif
  return w + n;
}

// Where strings end. The bytes that end a run of plain string content ('"',
// '\\', and '<' in the script layout) are located by a bitmask of the 64
// bytes from `base`, computed once and walked bit by bit: finding the end of
// a short string is then a shift and a bit scan of a register rather than
// loads and compares of the bytes from the string's start, which the next
// string would have to wait for.
template <bool kScript>
class StringScan {
 public:
  StringScan(const char* begin, const char* end) noexcept : begin_(begin), end_(end) { load(begin); }

  // The first such byte at or after p (p <= end), or `end`.
  const char* next(const char* p) noexcept {
    if (p - base_ >= 64) load(p);
    while (true) {
      const std::uint64_t m = mask_ >> (p - base_);
      if (m != 0) return p + __builtin_ctzll(m);
      load(base_ + 64);
      p = base_;
    }
  }

 private:
  // The mask of the 64 bytes from `base`; the bit of `end` is set, so a scan
  // stops there. Near the end, the last 64 bytes of the text are read
  // instead (or a padded copy of a shorter text).
  void load(const char* base) noexcept {
    base_ = base;
    const auto rest = end_ - base;
    if (rest >= 64) [[likely]] {
      mask_ = chunk_mask(base);
    } else if (end_ - begin_ >= 64) {
      mask_ = chunk_mask(end_ - 64) >> 1 >> (63 - rest) | std::uint64_t{1} << rest;
    } else {
      alignas(16) char padded[64] = {};  // zero bytes are never special
      if (rest > 0) std::memcpy(padded, base, static_cast<std::size_t>(rest));
      mask_ = chunk_mask(padded) | std::uint64_t{1} << rest;
    }
  }

  static std::uint64_t chunk_mask(const char* at) noexcept {
    std::uint64_t m = 0;
#if defined(__SSE2__)
    for (int block = 0; block < 4; ++block) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * block));
      __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
      if constexpr (kScript) hits = _mm_or_si128(hits, _mm_cmpeq_epi8(v, _mm_set1_epi8('<')));
      m |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hits))) << (16 * block);
    }
#else
    for (unsigned i = 0; i < 64; ++i) {
      const char c = at[i];
      if (c == '"' || c == '\\' || (kScript && c == '<')) m |= std::uint64_t{1} << i;
    }
#endif
    return m;
  }

  const char* const begin_;
  const char* const end_;
  const char* base_ = nullptr;
  std::uint64_t mask_ = 0;
};

// Copies the n bytes at `from` (n <= end - from); may store up to 32 bytes
// past them.
char* copy_span(char* w, const char* from, std::size_t n, const char* const end) {
#if defined(__SSE2__)
  // Whole sixteen-byte blocks, while they stay inside the text.
  if (static_cast<std::size_t>(end - from) >= n + 32) [[likely]] {
    const auto copy16 = [&](std::size_t i) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(w + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
    };
    copy16(0);
    copy16(16);
    for (std::size_t i = 32; i < n; i += 16) copy16(i);
    return w + n;
  }
#else
  static_cast<void>(end);
#endif
  if (n != 0) std::memcpy(w, from, n);
  return w + n;
}

// Copies the string literal whose opening quote is at p; returns the
// position after its closing quote. With kScript, "</" and "<!--" in it are
// rewritten. After the closing quote, at least kSlack bytes of room are
// left. Each run of plain bytes is copied together with the byte that ends
// it (the opening quote with the first).
template <bool kScript>
const char* copy_string(StringScan<kScript>& scan, TextCursor& cursor, char*& w, const char* p,
                        const char* const end) {
  const char* from = p;
  const char* special = scan.next(p + 1);
#if defined(__SSE2__)
  // Most strings: up to 30 plain bytes, not near the end of the text, are
  // copied whole, quotes included, in two blocks.
  if (special - from < 32 && end - special > 32 && *special == '"') [[likely]] {
    w = cursor.room(w, 32 + kSlack);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w + 16),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16)));
    w += special + 1 - from;
    return special + 1;
  }
#endif
  while (true) {
    if (special == end) {
      const auto n = static_cast<std::size_t>(end - from);
      w = cursor.room(w, n + kSlack);
      w = copy_span(w, from, n, end);
      return end;
    }
    const auto n = static_cast<std::size_t>(special - from) + 1;
    w = cursor.room(w, n + 16 + kSlack);
    w = copy_span(w, from, n, end);
    const char c = *special;
    if (c == '"') return special + 1;
    if (c == '\\') {
      // The escaped byte starts the next run, whatever it is.
      if (special + 1 == end) return end;
      from = special + 1;
      special = scan.next(special + 2);
      continue;
    }
    // '<' (kScript only), copied already.
    const auto rest = static_cast<std::size_t>(end - special);
    if (rest >= 2 && special[1] == '/') {
      w = put(w, "\\/");
      from = special + 2;
    } else if (rest >= 4 && special[1] == '!' && special[2] == '-' && special[3] == '-') {
      w = put(w - 1, "\\u003c!--");
      from = special + 4;
    } else {
      from = special + 1;
    }
    special = scan.next(from);
  }
}

template <bool kScript>
char* put_pretty(TextCursor& cursor, char* w, std::string_view compact, std::size_t level) {
  // Indentation roughly doubles a typical document; deeper ones grow the
  // buffer geometrically.
  w = cursor.room(w, 2 * compact.size() + 2 * level + 2 * kSlack);
  std::size_t depth = level;
  const char* p = compact.data();
  const char* const end = p + compact.size();
  StringScan<kScript> scan(p, end);
  while (p != end) {
    const char c = *p;
    if (c == '"') {
      p = copy_string<kScript>(scan, cursor, w, p, end);
      // A key and its colon together: the string left room for ": ".
      if (p != end && *p == ':') {
        w[0] = ':';
        w[1] = ' ';
        w += 2;
        ++p;
      }
      continue;
    }
    if (c == ',') {  // the most frequent byte outside strings
      w = cursor.room(w, 2 + 2 * depth + kSlack);
      *w++ = ',';
      w = line_break(w, depth);
      ++p;
      continue;
    }
    switch (c) {
      case '{':
      case '[': {
        const char close = c == '{' ? '}' : ']';
        w = cursor.room(w, 2 + 2 * (depth + 1) + kSlack);
        *w++ = c;
        if (end - p >= 2 && p[1] == close) {
          *w++ = close;
          p += 2;
          break;
        }
        w = line_break(w, ++depth);
        ++p;
        break;
      }
      case '}':
      case ']':
        if (depth > 0) --depth;
        w = cursor.room(w, 2 + 2 * depth + kSlack);
        w = line_break(w, depth);
        *w++ = c;
        ++p;
        break;
      case ':':
        w = cursor.room(w, 2 + kSlack);
        *w++ = ':';
        *w++ = ' ';
        ++p;
        break;
      default: {
        // A number or literal: copied up to the next structural byte.
        const char* q = p + 1;
        while (q != end && *q != ',' && *q != ']' && *q != '}' && *q != ':' && *q != '"' && *q != '[' &&
               *q != '{') {
          ++q;
        }
        const auto n = static_cast<std::size_t>(q - p);
        w = cursor.room(w, n + kSlack);
        w = copy_span(w, p, n, end);
        p = q;
        break;
      }
    }
  }
  return w;
}

template <bool kScript>
void append_pretty(std::string& out, std::string_view compact, std::size_t level) {
  TextCursor cursor(out, 0);
  cursor.finish(put_pretty<kScript>(cursor, cursor.start(), compact, level));
}

}  // namespace

JsonDoc JsonDoc::from_value(const Json& value) {
  // Written into a buffer kept per thread, then copied at its exact size:
  // one allocation per document once the buffer has grown.
  return with_kept_buffer([&](std::string& buffer) {
    buffer.clear();
    append_json(buffer, value, JsonLayout::Compact);
    return JsonDoc{std::string(buffer)};
  });
}

Json JsonDoc::value() const { return read_canonical(text_); }

bool operator==(const JsonDoc& a, const JsonDoc& b) { return a.text_ == b.text_ || a.value() == b.value(); }

std::size_t read_json_doc_string(std::string_view text, std::size_t at, std::string& out) {
  if (at >= text.size()) return text.size();
  const char* const begin = text.data();
  return static_cast<std::size_t>(read_string(begin + at, begin + text.size(), out) - begin);
}

void append_pretty_json_text(std::string& out, std::string_view compact, std::size_t level) {
  append_pretty<false>(out, compact, level);
}

void append_pretty_json_text_for_script(std::string& out, std::string_view compact) {
  append_pretty<true>(out, compact, 0);
}

char* put_pretty_json_text_for_script(TextCursor& cursor, char* w, std::string_view compact) {
  return put_pretty<true>(cursor, w, compact, 0);
}

}  // namespace quarlo
