// JSON writer (compact and pretty texts) and parser.
#include "core/base/json.hpp"

#include "core/base/unicode.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarlo {
namespace {

// ---------------------------------------------------------------------------
// Strings

// For each byte: 0 = written as is, otherwise the character after the
// backslash ('u' for the \u00xx form).
constexpr std::array<char, 256> make_escape_table() {
  std::array<char, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[static_cast<std::size_t>(c)] = 'u';
  table['\b'] = 'b';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\f'] = 'f';
  table['\r'] = 'r';
  table['"'] = '"';
  table['\\'] = '\\';
  return table;
}

constexpr std::array<char, 256> kEscape = make_escape_table();
constexpr char kHexDigits[] = "0123456789abcdef";

// The first byte in [p, end) that needs an escape, or `end`; `begin` <= p is
// where the text starts. Most texts hold none, so the scan runs sixteen bytes
// at a time where it can, the last block overlapping bytes already checked.
const char* find_escape(const char* const begin, const char* p, const char* const end) {
#if defined(__SSE2__)
  const __m128i max_control = _mm_set1_epi8(0x1F);
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  // Bit i set when byte i of the block at q needs an escape.
  auto block_mask = [&](const char* q) -> unsigned {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    // Unsigned v <= 0x1F exactly when max(v, 0x1F) == 0x1F.
    const __m128i hits =
        _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, max_control), max_control),
                     _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
    return static_cast<unsigned>(_mm_movemask_epi8(hits));
  };
  if (end - begin >= 16) {
    for (; end - p >= 16; p += 16) {
      const unsigned mask = block_mask(p);
      if (mask != 0) return p + __builtin_ctz(mask);
    }
    if (p == end) return end;
    const char* const q = end - 16;
    const unsigned mask = block_mask(q) & (~0u << (p - q));
    return mask != 0 ? q + __builtin_ctz(mask) : end;
  }
  // A short text: its first and last eight (or four) bytes, overlapping,
  // tell in one block whether the rest holds anything to escape.
  if (end - p >= 4) {
    __m128i halves;
    if (end - p >= 8) {
      std::uint64_t head;
      std::uint64_t tail;
      std::memcpy(&head, p, 8);
      std::memcpy(&tail, end - 8, 8);
      halves = _mm_set_epi64x(static_cast<long long>(tail), static_cast<long long>(head));
    } else {
      std::uint32_t head;
      std::uint32_t tail;
      std::memcpy(&head, p, 4);
      std::memcpy(&tail, end - 4, 4);
      // The unused lanes repeat the head, which decides nothing new.
      halves = _mm_set_epi32(static_cast<int>(head), static_cast<int>(head), static_cast<int>(tail),
                             static_cast<int>(head));
    }
    const __m128i hits =
        _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(halves, max_control), max_control),
                     _mm_or_si128(_mm_cmpeq_epi8(halves, quote), _mm_cmpeq_epi8(halves, backslash)));
    if (_mm_movemask_epi8(hits) == 0) return end;
  }
#else
  (void)begin;
#endif
  while (p != end && kEscape[static_cast<unsigned char>(*p)] == 0) ++p;
  return p;
}

// The escaped characters of `text`, without quotes; `first` is where the
// first byte to escape is (or the end).
void append_escaped_from(std::string& out, std::string_view text, const char* first) {
  const char* run = text.data();
  const char* const end = run + text.size();
  const char* const begin = run;
  for (const char* p = first; p != end; p = find_escape(begin, run, end)) {
    out.append(run, static_cast<std::size_t>(p - run));
    const auto byte = static_cast<unsigned char>(*p);
    const char esc = kEscape[byte];
    if (esc == 'u') {
      const char seq[6] = {'\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
      out.append(seq, sizeof seq);
    } else {
      const char seq[2] = {'\\', esc};
      out.append(seq, sizeof seq);
    }
    run = p + 1;
  }
  out.append(run, static_cast<std::size_t>(end - run));
}

void append_escaped(std::string& out, std::string_view text) {
  const char* const begin = text.data();
  append_escaped_from(out, text, find_escape(begin, begin, begin + text.size()));
}

void append_string_literal(std::string& out, std::string_view text) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* const first = find_escape(begin, begin, end);
  const std::size_t size = out.size();
  if (out.capacity() - size < text.size() + 2) out.reserve(size + text.size() + 2);
  if (first == end) {
    // Most texts have nothing to escape: the literal is written in place.
    out.append(text.size() + 2, '"');
    if (!text.empty()) std::memcpy(out.data() + size + 1, begin, text.size());
    return;
  }
  out.push_back('"');
  append_escaped_from(out, text, first);
  out.push_back('"');
}

// The length of what append_string_literal writes, without writing it.
std::size_t string_literal_size(std::string_view text) noexcept {
  std::size_t size = text.size() + 2;
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  for (const char* p = find_escape(begin, begin, end); p != end; p = find_escape(begin, p + 1, end)) {
    size += kEscape[static_cast<unsigned char>(*p)] == 'u' ? 5u : 1u;  // \u00xx or a backslash pair
  }
  return size;
}

// ---------------------------------------------------------------------------
// Numbers

template <class Int>
void append_integer(std::string& out, Int value) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, res.ptr);
}

// Shortest round-trip digits, laid out in plain notation for decimal
// exponents -5..15 (always with a fraction part) and in scientific notation
// otherwise.
void append_double(std::string& out, double value) {
  if (!std::isfinite(value)) {
    // The parser never produces these; a value built in code might.
    out.append("null");
    return;
  }
  // Scientific form gives "d[.ddd]e±XX" with the shortest digits.
  char sci[40];
  const auto res = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  const char* p = sci;
  const char* const end = res.ptr;

  // Longest forms: "-0.0000" + 17 digits; "-" + 16 digits + "." + 1 digit;
  // "-d.dddddddddddddddde-324".
  char out_buf[48];
  char* o = out_buf;
  if (*p == '-') {
    *o++ = '-';
    ++p;
  }
  // Collect the digits without the decimal point.
  char digits[20];
  std::size_t n = 0;
  for (; p != end && *p != 'e'; ++p) {
    if (*p != '.') digits[n++] = *p;
  }
  // Exponent.
  ++p;  // 'e'
  const bool neg_exp = *p == '-';
  ++p;  // sign
  int exp = 0;
  for (; p != end; ++p) exp = exp * 10 + (*p - '0');
  if (neg_exp) exp = -exp;

  if (exp >= -5 && exp <= 15) {
    if (exp >= 0) {
      const std::size_t int_len = static_cast<std::size_t>(exp) + 1;
      if (n <= int_len) {
        std::memcpy(o, digits, n);
        o += n;
        std::memset(o, '0', int_len - n);
        o += int_len - n;
        *o++ = '.';
        *o++ = '0';
      } else {
        std::memcpy(o, digits, int_len);
        o += int_len;
        *o++ = '.';
        std::memcpy(o, digits + int_len, n - int_len);
        o += n - int_len;
      }
    } else {
      const std::size_t zeros = static_cast<std::size_t>(-exp - 1);
      *o++ = '0';
      *o++ = '.';
      std::memset(o, '0', zeros);
      o += zeros;
      std::memcpy(o, digits, n);
      o += n;
    }
  } else {
    *o++ = digits[0];
    if (n > 1) {
      *o++ = '.';
      std::memcpy(o, digits + 1, n - 1);
      o += n - 1;
    }
    *o++ = 'e';
    *o++ = exp < 0 ? '-' : '+';
    o = std::to_chars(o, out_buf + sizeof out_buf, exp < 0 ? -exp : exp).ptr;
  }
  out.append(out_buf, o);
}

// ---------------------------------------------------------------------------
// Values

template <class J>
void append_scalar(std::string& out, const J& value) {
  using nlohmann::detail::value_t;
  switch (value.type()) {
    case value_t::string:
      append_string_literal(out, *value.template get_ptr<const typename J::string_t*>());
      return;
    case value_t::boolean:
      out.append(*value.template get_ptr<const typename J::boolean_t*>() ? "true" : "false");
      return;
    case value_t::number_integer:
      append_integer(out, *value.template get_ptr<const typename J::number_integer_t*>());
      return;
    case value_t::number_unsigned:
      append_integer(out, *value.template get_ptr<const typename J::number_unsigned_t*>());
      return;
    case value_t::number_float:
      append_double(out, *value.template get_ptr<const typename J::number_float_t*>());
      return;
    case value_t::null:
    case value_t::binary:     // not representable in JSON text
    case value_t::discarded:  // only seen inside a parser callback
    case value_t::object:     // containers are handled by the caller
    case value_t::array:
      out.append("null");
      return;
  }
  out.append("null");
}

void append_newline_indent(std::string& out, std::size_t level) {
  out.push_back('\n');
  out.append(level * 2, ' ');
}

// Writes containers with an explicit stack so that deep values built in code
// cannot exhaust the call stack.
// `level` is the nesting of `root` itself; its entries are one deeper.
template <class J>
void append_value(std::string& out, const J& root, JsonLayout layout, std::size_t level = 0) {
  using object_iter = typename J::object_t::const_iterator;
  using array_iter = typename J::array_t::const_iterator;
  struct Frame {
    bool is_object;
    object_iter obj_it, obj_end;
    array_iter arr_it, arr_end;
  };
  const bool pretty = layout == JsonLayout::Pretty;
  std::vector<Frame> stack;
  // Room for the nesting of typical documents in one allocation, made when
  // the first container opens.
  constexpr std::size_t kUsualDepth = 16;

  // Opens `v`; returns true when a non-empty container was pushed.
  auto open = [&](const J& v) -> bool {
    if (v.is_object()) {
      const auto& obj = *v.template get_ptr<const typename J::object_t*>();
      if (obj.empty()) {
        out.append("{}");
        return false;
      }
      out.push_back('{');
      if (stack.capacity() == 0) stack.reserve(kUsualDepth);
      stack.push_back(Frame{true, obj.begin(), obj.end(), {}, {}});
      return true;
    }
    if (v.is_array()) {
      const auto& arr = *v.template get_ptr<const typename J::array_t*>();
      if (arr.empty()) {
        out.append("[]");
        return false;
      }
      out.push_back('[');
      if (stack.capacity() == 0) stack.reserve(kUsualDepth);
      stack.push_back(Frame{false, {}, {}, arr.begin(), arr.end()});
      return true;
    }
    append_scalar(out, v);
    return false;
  };

  if (!open(root)) return;
  bool first = true;
  while (!stack.empty()) {
    Frame& f = stack.back();
    const bool done = f.is_object ? f.obj_it == f.obj_end : f.arr_it == f.arr_end;
    if (done) {
      const char close = f.is_object ? '}' : ']';
      stack.pop_back();
      if (pretty) append_newline_indent(out, level + stack.size());
      out.push_back(close);
      first = false;
      continue;
    }
    if (!first) out.push_back(',');
    first = false;
    if (pretty) append_newline_indent(out, level + stack.size());
    const J* child;
    if (f.is_object) {
      append_string_literal(out, f.obj_it->first);
      out.append(pretty ? ": " : ":");
      child = &f.obj_it->second;
      ++f.obj_it;
    } else {
      child = &*f.arr_it;
      ++f.arr_it;
    }
    // `f` may dangle after open() grows the stack.
    if (open(*child)) first = true;
  }
}

template <class J>
std::string write_value(const J& value, JsonLayout layout) {
  std::string out;
  out.reserve(256);
  append_value(out, value, layout);
  return out;
}


// ---------------------------------------------------------------------------
// Parser

// Why the builder stopped the parser, when it did.
enum class Stop { None, TooDeep, NumberOutOfRange, ParserError };

// Builds a Json value from parser events, enforcing the nesting limit and
// refusing numbers too large for a double. Objects are std::map based and a
// repeated key is assigned over the earlier one: the later duplicate wins.
class DomBuilder {
 public:
  // nlohmann's exception id for a number that overflows a double.
  static constexpr int kNumberOverflow = 406;

  using number_integer_t = Json::number_integer_t;
  using number_unsigned_t = Json::number_unsigned_t;
  using number_float_t = Json::number_float_t;
  using string_t = Json::string_t;
  using binary_t = Json::binary_t;

  explicit DomBuilder(std::size_t max_nesting) noexcept : max_nesting_(max_nesting) {}

  bool null() { return add(Json(nullptr)); }
  bool boolean(bool v) { return add(Json(v)); }
  bool number_integer(number_integer_t v) {
    ++numbers_;
    return add(Json(v));
  }
  bool number_unsigned(number_unsigned_t v) {
    ++numbers_;
    return add(Json(v));
  }
  bool number_float(number_float_t v, const string_t& /*text*/) {
    ++numbers_;
    // The parser reports overflow itself (kNumberOverflow); kept as a guard.
    if (!std::isfinite(v)) return stop(Stop::NumberOutOfRange);
    return add(Json(v));
  }
  bool string(string_t& v) { return add(Json(std::move(v))); }
  bool binary(binary_t& v) { return add(Json::binary(std::move(v))); }

  bool start_object(std::size_t /*size*/) { return open(Json::value_t::object); }
  bool start_array(std::size_t /*size*/) { return open(Json::value_t::array); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool key(string_t& k) {
    key_ = std::move(k);
    return true;
  }

  bool parse_error(std::size_t /*offset*/, const std::string& /*token*/,
                   const nlohmann::detail::exception& ex) {
    if (ex.id == kNumberOverflow) {
      // A number token too large for a double; its message has no position.
      ++numbers_;
      return stop(Stop::NumberOutOfRange);
    }
    error_ = ex.what();
    return stop(Stop::ParserError);
  }

  Json& root() { return root_; }
  Stop stopped() const { return stopped_; }
  // Number tokens seen so far, the refused one included.
  std::size_t numbers() const { return numbers_; }
  const std::string& error() const { return error_; }

 private:
  // Places `v` in the current container (or as the root); returns where it
  // landed.
  Json* place(Json&& v) {
    if (stack_.empty()) {
      root_ = std::move(v);
      return &root_;
    }
    Json& parent = *stack_.back();
    if (auto* array = parent.get_ptr<Json::array_t*>()) {
      return &array->emplace_back(std::move(v));
    }
    auto* object = parent.get_ptr<Json::object_t*>();
    return &object->insert_or_assign(std::move(key_), std::move(v)).first->second;
  }

  bool add(Json&& v) {
    place(std::move(v));
    return true;
  }

  bool open(Json::value_t type) {
    if (stack_.size() >= max_nesting_) return stop(Stop::TooDeep);
    stack_.push_back(place(Json(type)));
    return true;
  }

  bool close() {
    stack_.pop_back();
    return true;
  }

  bool stop(Stop why) {
    stopped_ = why;
    return false;
  }

  std::size_t max_nesting_;
  Json root_;
  std::vector<Json*> stack_;
  string_t key_;
  std::size_t numbers_ = 0;
  Stop stopped_ = Stop::None;
  std::string error_;
};

// Line and column of a byte the way the parser's own messages count them:
// lines are separated by "\n", columns count bytes from 1.
struct TextPosition {
  std::size_t line = 1;
  std::size_t column = 0;
};

// Walks the bytes of a text outside its strings; the text must be one the
// parser accepted up to the point of interest. `visit(index)` is called for
// every such byte and ends the walk, returning that byte's position, by
// returning true.
template <class Visit>
TextPosition scan_structure(std::string_view text, Visit visit) {
  TextPosition pos;
  bool in_string = false;
  bool escaped = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    ++pos.column;
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
      continue;
    }
    if (visit(i)) return pos;
    if (c == '\n') {
      ++pos.line;
      pos.column = 0;
    }
  }
  return pos;
}

// The "[" or "{" that opens nesting level max_nesting + 1.
TextPosition locate_too_deep(std::string_view text, std::size_t max_nesting) {
  std::size_t depth = 0;
  return scan_structure(text, [&](std::size_t i) {
    const char c = text[i];
    if (c == '[' || c == '{') return ++depth > max_nesting;
    if (c == ']' || c == '}') --depth;
    return false;
  });
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool continues_number(char c) {
  return is_digit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// The last byte of the `ordinal`-th number token (counted from 1); the token
// goes to `token`. Outside strings a number token starts with "-" or a digit
// and runs over digits, signs, "." and exponent letters.
TextPosition locate_number(std::string_view text, std::size_t ordinal, std::string& token) {
  std::size_t seen = 0;
  std::size_t start = 0;
  bool in_number = false;
  return scan_structure(text, [&](std::size_t i) {
    const char c = text[i];
    if (!in_number) {
      if (c != '-' && !is_digit(c)) return false;
      in_number = true;
      start = i;
      ++seen;
    } else if (!continues_number(c)) {
      in_number = false;
      return false;
    }
    const bool last = i + 1 == text.size() || !continues_number(text[i + 1]);
    if (last) in_number = false;
    if (seen != ordinal || !last) return false;
    token.assign(text.substr(start, i + 1 - start));
    return true;
  });
}

// nlohmann's messages read "[json.exception.parse_error.101] parse error at
// line L, column C: description"; drop the bracketed identifier.
std::string clean_parser_message(std::string_view what) {
  constexpr std::string_view kTag = "[json.exception.";
  if (what.substr(0, kTag.size()) == kTag) {
    const auto close = what.find("] ");
    if (close != std::string_view::npos) what.remove_prefix(close + 2);
  }
  // The parser quotes the input it last read, which may hold invalid UTF-8;
  // messages must stay valid text.
  return replace_invalid_utf8(what);
}

QuarloError positioned_error(const TextPosition& pos, const std::string& description) {
  return QuarloError::serialization("parse error at line " + std::to_string(pos.line) +
                                    ", column " + std::to_string(pos.column) + ": " +
                                    description);
}

}  // namespace

std::string write_json(const Json& value, JsonLayout layout) { return write_value(value, layout); }

std::string write_json(const OrderedJson& value, JsonLayout layout) {
  return write_value(value, layout);
}

void append_json(std::string& out, const Json& value, JsonLayout layout, std::size_t level) {
  append_value(out, value, layout, level);
}

void append_json(std::string& out, const OrderedJson& value, JsonLayout layout, std::size_t level) {
  append_value(out, value, layout, level);
}

void append_json_string(std::string& out, std::string_view text) {
  append_string_literal(out, text);
}

char* put_json_string(char* w, std::string_view text) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin;
  *w++ = '"';
  while (true) {
    const char* special = end;
#if defined(__SSE2__)
    // Whole blocks are stored as they are read; the cursor moves only past
    // the plain bytes.
    const __m128i max_control = _mm_set1_epi8(0x1F);
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    bool found = false;
    while (end - p >= 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(w), v);
      const __m128i hits =
          _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, max_control), max_control),
                       _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
      const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
      if (mask != 0) {
        special = p + __builtin_ctz(mask);
        found = true;
        break;
      }
      p += 16;
      w += 16;
    }
    if (!found) special = find_escape(begin, p, end);
#else
    special = find_escape(begin, p, end);
#endif
    const auto run = static_cast<std::size_t>(special - p);
    if (run != 0) std::memcpy(w, p, run);
    w += run;
    p = special;
    if (p == end) break;
    const auto byte = static_cast<unsigned char>(*p++);
    const char esc = kEscape[byte];
    *w++ = '\\';
    if (esc == 'u') {
      const char seq[5] = {'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
      std::memcpy(w, seq, sizeof seq);
      w += sizeof seq;
    } else {
      *w++ = esc;
    }
  }
  *w++ = '"';
  return w;
}

void append_json_string_pieces(std::string& out, std::initializer_list<std::string_view> pieces) {
  std::size_t size = 2;
  bool plain = true;
  for (const std::string_view piece : pieces) {
    size += piece.size();
    const char* const begin = piece.data();
    if (plain && find_escape(begin, begin, begin + piece.size()) != begin + piece.size()) plain = false;
  }
  const std::size_t from = out.size();
  if (out.capacity() - from < size) out.reserve(from + size);
  if (plain) {
    // Written in place, as a literal without escapes.
    out.append(size, '"');
    char* w = out.data() + from + 1;
    for (const std::string_view piece : pieces) {
      if (!piece.empty()) std::memcpy(w, piece.data(), piece.size());
      w += piece.size();
    }
    return;
  }
  out.push_back('"');
  for (const std::string_view piece : pieces) append_escaped(out, piece);
  out.push_back('"');
}

std::size_t json_string_size(std::string_view text) noexcept { return string_literal_size(text); }

Result<Json> parse_json(std::string_view text) { return parse_json(text, 0); }

Result<Json> parse_json(std::string_view text, std::size_t wrapper_levels) {
  try {
    const std::size_t max_nesting = kMaxJsonNesting + wrapper_levels;
    DomBuilder builder(max_nesting);
    const bool ok = Json::sax_parse(text.data(), text.data() + text.size(), &builder);
    if (ok) return std::move(builder.root());
    switch (builder.stopped()) {
      case Stop::TooDeep: {
        const auto pos = locate_too_deep(text, max_nesting);
        return positioned_error(pos, "nesting deeper than " + std::to_string(kMaxJsonNesting) +
                                         " arrays and objects");
      }
      case Stop::NumberOutOfRange: {
        std::string token;
        const auto pos = locate_number(text, builder.numbers(), token);
        return positioned_error(pos, "number out of range; last read: '" + token + "'");
      }
      case Stop::ParserError:
        return QuarloError::serialization(clean_parser_message(builder.error()));
      case Stop::None:
        break;
    }
    return QuarloError::serialization("parse error: the parser stopped without a description");
  } catch (const std::exception& e) {
    return QuarloError::serialization(clean_parser_message(e.what()));
  } catch (...) {
    return QuarloError::serialization("parse error: unknown failure");
  }
}

}  // namespace quarlo
