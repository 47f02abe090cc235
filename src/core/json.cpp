#include "core/json.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

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

void append_string_literal(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size() + 2);
  out.push_back('"');
  const char* p = text.data();
  const char* const end = p + text.size();
  const char* run = p;
  for (; p != end; ++p) {
    const char esc = kEscape[static_cast<unsigned char>(*p)];
    if (esc == 0) continue;
    out.append(run, p);
    if (esc == 'u') {
      const auto byte = static_cast<unsigned char>(*p);
      const char seq[6] = {'\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
      out.append(seq, sizeof seq);
    } else {
      const char seq[2] = {'\\', esc};
      out.append(seq, sizeof seq);
    }
    run = p + 1;
  }
  out.append(run, end);
  out.push_back('"');
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
template <class J>
void append_value(std::string& out, const J& root, JsonLayout layout) {
  using object_iter = typename J::object_t::const_iterator;
  using array_iter = typename J::array_t::const_iterator;
  struct Frame {
    bool is_object;
    object_iter obj_it, obj_end;
    array_iter arr_it, arr_end;
  };
  const bool pretty = layout == JsonLayout::Pretty;
  std::vector<Frame> stack;

  // Opens `v`; returns true when a non-empty container was pushed.
  auto open = [&](const J& v) -> bool {
    if (v.is_object()) {
      const auto& obj = *v.template get_ptr<const typename J::object_t*>();
      if (obj.empty()) {
        out.append("{}");
        return false;
      }
      out.push_back('{');
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
      if (pretty) append_newline_indent(out, stack.size());
      out.push_back(close);
      first = false;
      continue;
    }
    if (!first) out.push_back(',');
    first = false;
    if (pretty) append_newline_indent(out, stack.size());
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

}  // namespace

std::string write_json(const Json& value, JsonLayout layout) { return write_value(value, layout); }

std::string write_json(const OrderedJson& value, JsonLayout layout) {
  return write_value(value, layout);
}

void append_json(std::string& out, const Json& value, JsonLayout layout) {
  append_value(out, value, layout);
}

void append_json(std::string& out, const OrderedJson& value, JsonLayout layout) {
  append_value(out, value, layout);
}

void append_json_string(std::string& out, std::string_view text) {
  append_string_literal(out, text);
}

}  // namespace quarlo
