// The JSON value type of the system and the writer and parser for its JSON
// texts.
//
// Json is nlohmann::json with its default std::map objects: keys are kept in
// byte-wise ascending order and inserting an existing key replaces its value.
// OrderedJson keeps insertion order; records that are serialised directly
// (payload, social records, configuration, entity, contract) build an
// OrderedJson with their fields in declaration order.
//
// The texts are written by our own writer, not by nlohmann's dump():
//  * strings: `"` and `\` escaped, \b \t \n \f \r, every other character
//    below U+0020 as \u00xx (lower-case hex); everything else, "/" and U+007F
//    and non-ASCII included, written as is;
//  * integers in decimal;
//  * doubles with the shortest round-trip digits: plain notation (always with
//    a fraction part) when the decimal exponent is in -5..15, otherwise
//    scientific ("1e+16", "1.5e-6"); zero is "0.0", negative zero "-0.0";
//  * compact: no whitespace at all; pretty: two spaces per level, "{}"/"[]"
//    when empty, no trailing newline.
// Writing never fails.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/base/error.hpp"

namespace quarlo {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

enum class JsonLayout { Compact, Pretty };

[[nodiscard]] std::string write_json(const Json& value, JsonLayout layout);
[[nodiscard]] std::string write_json(const OrderedJson& value, JsonLayout layout);
// Appends to `out` instead of returning a new string. The pretty layout
// indents as for the value of an entry at nesting `level` (0: a document of
// its own; 1: the value of a top-level member).
void append_json(std::string& out, const Json& value, JsonLayout layout, std::size_t level = 0);
void append_json(std::string& out, const OrderedJson& value, JsonLayout layout, std::size_t level = 0);
// Appends one JSON string literal (with quotes) for `text`.
void append_json_string(std::string& out, std::string_view text);
// Writes that literal at `w`, which has json_string_room(text) bytes of
// room, and returns the position after it.
char* put_json_string(char* w, std::string_view text);
// The room put_json_string may take: six bytes for each byte of `text` (the
// "\u00xx" form), the quotes and sixteen bytes of slack for block stores.
[[nodiscard]] constexpr std::size_t json_string_room(std::string_view text) noexcept {
  return 6 * text.size() + 2 + 16;
}
// Appends one JSON string literal for the concatenation of `pieces`, without
// joining them first.
void append_json_string_pieces(std::string& out, std::initializer_list<std::string_view> pieces);
// The length in bytes of that literal, computed without writing it.
[[nodiscard]] std::size_t json_string_size(std::string_view text) noexcept;

// Maximum nesting of arrays and objects accepted by parse_json (the outermost
// container counts as the first level).
inline constexpr std::size_t kMaxJsonNesting = 127;

// Parses JSON text (RFC 8259, UTF-8) into a Json value. Non-negative integers
// that fit become unsigned 64-bit, negative ones that fit signed 64-bit, any
// other number a double. A later duplicate key replaces an earlier one.
// Failure: a Serialization error whose message is the parser's description
// of the fault after its line and column (lines counted from 1 and split at
// "\n", columns are bytes from 1), e.g.
// "parse error at line 1, column 1: syntax error while parsing value -
// invalid literal; last read: 'N'". More than kMaxJsonNesting nested
// containers is a failure too: "parse error at line 1, column 128: nesting
// deeper than 127 arrays and objects", positioned at the offending "[" or
// "{". A number too large for a double fails as well ("...: number out of
// range; last read: '1e400'", positioned at its last digit). Input bytes quoted in a message that are not valid UTF-8 are shown as
// U+FFFD, so the message is always valid UTF-8.
[[nodiscard]] Result<Json> parse_json(std::string_view text);
// The same for a text whose outermost `wrapper_levels` containers only wrap
// documents of their own (a payload dict around its schema document): those
// levels are not counted, so each document inside may nest kMaxJsonNesting
// deep. A deeper one fails with the same message, positioned at the "[" or
// "{" that opens its level kMaxJsonNesting + 1.
[[nodiscard]] Result<Json> parse_json(std::string_view text, std::size_t wrapper_levels);

}  // namespace quarlo
