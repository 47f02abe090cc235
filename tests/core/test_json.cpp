// Tests of the JSON writer and parser.
#include "core/base/json.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "core/base/unicode.hpp"

namespace quarlo {
namespace {

std::string compact(const Json& v) { return write_json(v, JsonLayout::Compact); }
std::string pretty(const Json& v) { return write_json(v, JsonLayout::Pretty); }

// ---------------------------------------------------------------------------
// Numbers

struct DoubleCase {
  double value;
  const char* text;
};

class WriteDouble : public ::testing::TestWithParam<DoubleCase> {};

TEST_P(WriteDouble, UsesShortestDigitsAndTheLayoutOfItsExponent) {
  const auto& c = GetParam();
  EXPECT_EQ(compact(Json(c.value)), c.text);
  EXPECT_EQ(write_json(OrderedJson(c.value), JsonLayout::Pretty), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WriteDouble,
    ::testing::Values(DoubleCase{1.0, "1.0"}, DoubleCase{0.00001, "0.00001"},
                      DoubleCase{0.000012345, "0.000012345"}, DoubleCase{0.000001, "1e-6"},
                      DoubleCase{0.0000015, "1.5e-6"}, DoubleCase{1e16, "1e+16"},
                      DoubleCase{1e15, "1000000000000000.0"},
                      DoubleCase{1e14, "100000000000000.0"},
                      DoubleCase{1234567890123456.7, "1234567890123456.8"},
                      DoubleCase{12345678901234567.0, "1.2345678901234568e+16"},
                      DoubleCase{0.0, "0.0"}, DoubleCase{-0.0, "-0.0"}, DoubleCase{-1.0, "-1.0"},
                      DoubleCase{123.456, "123.456"}, DoubleCase{100.0, "100.0"},
                      DoubleCase{-2.5e-7, "-2.5e-7"}, DoubleCase{1e100, "1e+100"},
                      DoubleCase{5e-324, "5e-324"},
                      DoubleCase{1.7976931348623157e308, "1.7976931348623157e+308"},
                      DoubleCase{9.223372036854776e18, "9.223372036854776e+18"}));

TEST(WriteNumber, NonFiniteDoublesBecomeNull) {
  EXPECT_EQ(compact(Json(std::numeric_limits<double>::quiet_NaN())), "null");
  EXPECT_EQ(compact(Json(std::numeric_limits<double>::infinity())), "null");
  EXPECT_EQ(compact(Json::array({-std::numeric_limits<double>::infinity(), 1})), "[null,1]");
}

TEST(WriteNumber, IntegersAtTheirLimits) {
  EXPECT_EQ(compact(Json(std::numeric_limits<std::uint64_t>::max())), "18446744073709551615");
  EXPECT_EQ(compact(Json(std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");
  EXPECT_EQ(compact(Json(std::int64_t{0})), "0");
  EXPECT_EQ(compact(Json(std::uint64_t{0})), "0");
  EXPECT_EQ(compact(Json(-42)), "-42");
}

// ---------------------------------------------------------------------------
// Strings

// The literal written one byte at a time.
std::string reference_literal(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20) {
      const char* const named = c == '\b' ? "\\b" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\f' ? "\\f"
                                : c == '\r' ? "\\r" : nullptr;
      if (named != nullptr) {
        out += named;
      } else {
        const char hex[] = "0123456789abcdef";
        out += "\\u00";
        out += hex[b >> 4];
        out += hex[b & 0xF];
      }
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Every length up to three blocks with one byte of interest at every place
// (the scan takes short texts, whole blocks and an overlapping last block
// differently), whole and split into pieces.
TEST(WriteStringPlaces, EveryLengthAndPlaceAgreesWithTheByteByByteLiteral) {
  for (std::size_t length = 0; length <= 48; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      for (const char special : {'"', '\\', '\x01', '\x1f', '\n', ' ', '\x7f', '\x80'}) {
        std::string text(length, 'a');
        if (at < length) text[at] = special;
        const std::string expected = reference_literal(text);
        std::string out = "x";
        append_json_string(out, text);
        ASSERT_EQ(out, "x" + expected) << length << " " << at;
        ASSERT_EQ(json_string_size(text), expected.size()) << length << " " << at;
        const std::string_view view(text);
        const std::size_t cut = length / 3;
        out = "x";
        append_json_string_pieces(out, {view.substr(0, cut), "", view.substr(cut)});
        ASSERT_EQ(out, "x" + expected) << length << " " << at;
        // Written through a raw pointer into exactly the room it asks for,
        // from a copy of its own size (a read or write past either end is
        // the address sanitizer's to catch).
        const std::vector<char> exact(text.begin(), text.end());
        std::vector<char> room(json_string_room(text));
        const char* const written = put_json_string(room.data(), std::string_view(exact.data(), exact.size()));
        ASSERT_EQ(std::string_view(room.data(), static_cast<std::size_t>(written - room.data())), expected)
            << length << " " << at;
      }
    }
  }
}

struct EscapeCase {
  std::string text;
  std::string literal;
};

class WriteString : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(WriteString, EscapesOnlyQuoteBackslashAndControls) {
  const auto& c = GetParam();
  std::string out = "x";
  append_json_string(out, c.text);
  EXPECT_EQ(out, "x" + c.literal);
  EXPECT_EQ(compact(Json(c.text)), c.literal);
  EXPECT_EQ(json_string_size(c.text), c.literal.size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, WriteString,
    ::testing::Values(
        EscapeCase{"", R"("")"}, EscapeCase{"plain", R"("plain")"},
        EscapeCase{"a\"b\\c", R"("a\"b\\c")"},
        EscapeCase{"\b\t\n\f\r", R"("\b\t\n\f\r")"},
        EscapeCase{std::string("\x00\x01\x0b\x1f", 4), R"("\u0000\u0001\u000b\u001f")"},
        EscapeCase{"\x7f/</script>", "\"\x7f/</script>\""},
        EscapeCase{"Caf\xc3\xa9 \xe2\x80\xa8 \xf0\x9f\x98\x80", "\"Caf\xc3\xa9 \xe2\x80\xa8 \xf0\x9f\x98\x80\""},
        // Invalid UTF-8 goes through byte for byte.
        EscapeCase{"\xff\xc3(\xed\xa0\x80", "\"\xff\xc3(\xed\xa0\x80\""},
        EscapeCase{"tab\there\x01", R"("tab\there\u0001")"},
        // Escapes on both sides of the sixteen-byte blocks of the scan.
        EscapeCase{std::string(15, 'a') + "\"" + std::string(16, 'b') + "\x01\n",
                   "\"" + std::string(15, 'a') + "\\\"" + std::string(16, 'b') + "\\u0001\\n\""}));

// ---------------------------------------------------------------------------
// Layout

TEST(WriteLayout, ScalarsAndEmptyContainers) {
  for (auto layout : {JsonLayout::Compact, JsonLayout::Pretty}) {
    EXPECT_EQ(write_json(Json(nullptr), layout), "null");
    EXPECT_EQ(write_json(Json(true), layout), "true");
    EXPECT_EQ(write_json(Json(false), layout), "false");
    EXPECT_EQ(write_json(Json::object(), layout), "{}");
    EXPECT_EQ(write_json(Json::array(), layout), "[]");
    EXPECT_EQ(write_json(OrderedJson::object(), layout), "{}");
  }
}

TEST(WriteLayout, NestedCompactAndPretty) {
  const Json v = {{"b", Json::array({1, Json::object(), Json::array(), Json::array({true, nullptr})})},
                  {"a", {{"k", "v"}, {"e", Json::object()}}},
                  {"c", 2.5}};
  EXPECT_EQ(compact(v), R"({"a":{"e":{},"k":"v"},"b":[1,{},[],[true,null]],"c":2.5})");
  EXPECT_EQ(pretty(v),
            "{\n"
            "  \"a\": {\n"
            "    \"e\": {},\n"
            "    \"k\": \"v\"\n"
            "  },\n"
            "  \"b\": [\n"
            "    1,\n"
            "    {},\n"
            "    [],\n"
            "    [\n"
            "      true,\n"
            "      null\n"
            "    ]\n"
            "  ],\n"
            "  \"c\": 2.5\n"
            "}");
}

TEST(WriteLayout, KeysAreEscaped) {
  EXPECT_EQ(compact(Json{{"a\"\n", 1}}), R"({"a\"\n":1})");
}

TEST(WriteLayout, OrderedJsonKeepsInsertionOrderJsonSortsBytewise) {
  OrderedJson ordered;
  ordered["zeta"] = 1;
  ordered["Alpha"] = 2;
  ordered["\xc3\xa9"] = 3;
  ordered["alpha"] = 4;
  EXPECT_EQ(write_json(ordered, JsonLayout::Compact),
            "{\"zeta\":1,\"Alpha\":2,\"\xc3\xa9\":3,\"alpha\":4}");
  // Byte-wise: upper case before lower case, non-ASCII (lead byte >= 0x80) last.
  Json sorted;
  for (const auto& [key, value] : ordered.items()) sorted[key] = value.get<int>();
  EXPECT_EQ(compact(sorted), "{\"Alpha\":2,\"alpha\":4,\"zeta\":1,\"\xc3\xa9\":3}");
}

TEST(WriteLayout, AppendKeepsExistingText) {
  std::string out = "<script>";
  append_json(out, Json{{"a", 1}}, JsonLayout::Compact);
  append_json(out, OrderedJson::array({1, 2}), JsonLayout::Pretty);
  EXPECT_EQ(out, "<script>{\"a\":1}[\n  1,\n  2\n]");
}

TEST(WriteLayout, BinaryAndDiscardedAreNull) {
  Json v = Json::array({Json::binary({1, 2, 3}), Json(Json::value_t::discarded)});
  EXPECT_EQ(compact(v), "[null,null]");
}

TEST(WriteLayout, VeryDeepValueDoesNotExhaustTheStack) {
  constexpr int kDepth = 100000;
  Json root = Json::array();
  Json* cur = &root;
  for (int i = 0; i < kDepth; ++i) {
    cur->push_back(Json::array());
    cur = &(*cur)[0];
  }
  const std::string text = compact(root);
  EXPECT_EQ(text.size(), 2u * (kDepth + 1));
  EXPECT_EQ(text.substr(0, 3), "[[[");
  EXPECT_EQ(text.substr(text.size() - 3), "]]]");
}


// ---------------------------------------------------------------------------
// Parser

TEST(ParseNumber, FormsFollowSignAndRange) {
  struct Case {
    const char* text;
    Json::value_t type;
  };
  const Case cases[] = {
      {"0", Json::value_t::number_unsigned},
      {"18446744073709551615", Json::value_t::number_unsigned},
      {"18446744073709551616", Json::value_t::number_float},
      {"-1", Json::value_t::number_integer},
      {"-9223372036854775808", Json::value_t::number_integer},
      {"-9223372036854775809", Json::value_t::number_float},
      {"1.0", Json::value_t::number_float},
      {"1e2", Json::value_t::number_float},
      {"-0.0", Json::value_t::number_float},
  };
  for (const auto& c : cases) {
    auto r = parse_json(c.text);
    ASSERT_TRUE(r) << c.text << ": " << r.error().message();
    EXPECT_EQ(r->type(), c.type) << c.text;
  }
  EXPECT_EQ(parse_json("18446744073709551615")->get<std::uint64_t>(),
            std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(parse_json("-9223372036854775808")->get<std::int64_t>(),
            std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(parse_json("18446744073709551616")->get<double>(), 18446744073709551616.0);
  EXPECT_TRUE(std::signbit(parse_json("-0.0")->get<double>()));
}

TEST(Parse, RoundTripsThroughTheWriter) {
  const std::string text =
      R"({"a":[1,-2,2.5,1e+16,"x\u0001\"",true,false,null,{}],"b":{"c":[]},"\u00e9":0.00001})";
  auto r = parse_json(text);
  ASSERT_TRUE(r) << r.error().message();
  EXPECT_EQ(compact(*r), text.substr(0, text.find("\\u00e9")) + "\xc3\xa9\":0.00001}");
}

TEST(Parse, LaterDuplicateKeyWins) {
  auto r = parse_json(R"({"k":{"deep":[1]},"a":1,"k":2})");
  ASSERT_TRUE(r);
  EXPECT_EQ(compact(*r), R"({"a":1,"k":2})");
  r = parse_json(R"({"k":1,"k":{"x":[{"k":1,"k":3}]}})");
  ASSERT_TRUE(r);
  EXPECT_EQ(compact(*r), R"({"k":{"x":[{"k":3}]}})");
}

TEST(Parse, NestingLimitIs127) {
  const auto nested = [](std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
  };
  EXPECT_TRUE(parse_json(nested(kMaxJsonNesting)));
  auto too_deep = parse_json(nested(kMaxJsonNesting + 1));
  ASSERT_FALSE(too_deep);
  EXPECT_EQ(too_deep.error().kind(), ErrorKind::Serialization);
  EXPECT_EQ(too_deep.error().message(),
            "parse error at line 1, column 128: nesting deeper than 127 arrays and objects");

  // Objects count too, and strings holding brackets do not; the position is
  // that of the offending bracket.
  std::string text = "\n";
  for (std::size_t i = 0; i < kMaxJsonNesting - 1; ++i) text += "{\"[{\\\"\":";
  std::string ok = text + "[]" + std::string(kMaxJsonNesting - 1, '}');
  EXPECT_TRUE(parse_json(ok)) << parse_json(ok).error().message();
  std::string deep = text + "\n  [[]]" + std::string(kMaxJsonNesting - 1, '}');
  auto r = parse_json(deep);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(),
            "parse error at line 3, column 4: nesting deeper than 127 arrays and objects");
}

TEST(Parse, WrapperLevelsAreNotCounted) {
  const auto member = [](std::size_t depth) {
    return "{\"a\":1,\"doc\":" + std::string(depth, '[') + std::string(depth, ']') + "}";
  };
  EXPECT_FALSE(parse_json(member(kMaxJsonNesting)));
  EXPECT_TRUE(parse_json(member(kMaxJsonNesting), 1));
  EXPECT_TRUE(parse_json(member(kMaxJsonNesting - 1), 2));
  // The document's own limit still holds, with the same message.
  auto r = parse_json(member(kMaxJsonNesting + 1), 1);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(),
            "parse error at line 1, column 141: nesting deeper than 127 arrays and objects");
}

// Parse errors read "parse error at line L, column C: " and a description.
// Where the description is the JSON library's own (its wording changes
// between releases), only our part is checked: the position, that some
// description follows, and that the message is valid UTF-8 (the library
// quotes the input it last read, which may not be). Descriptions we write
// ourselves are checked in full.
struct BadCase {
  std::string text;
  int line;
  int column;
  std::optional<std::string> description;  // nullopt: the library's own
};

class ParseFailure : public ::testing::TestWithParam<BadCase> {};

TEST_P(ParseFailure, ReportsLineAndColumn) {
  const auto& c = GetParam();
  auto r = parse_json(c.text);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), ErrorKind::Serialization);
  const std::string& message = r.error().message();
  const std::string prefix = "parse error at line " + std::to_string(c.line) + ", column " +
                             std::to_string(c.column) + ": ";
  ASSERT_EQ(message.substr(0, prefix.size()), prefix) << message;
  const std::string description = message.substr(prefix.size());
  EXPECT_TRUE(is_valid_utf8(message)) << message;
  if (c.description) {
    EXPECT_EQ(description, *c.description);
  } else {
    EXPECT_FALSE(trim(description).empty()) << message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseFailure,
    ::testing::Values(
        BadCase{"NaN", 1, 1, std::nullopt},
        BadCase{"[1, Infinity]", 1, 5, std::nullopt},
        BadCase{"{\"a\":\n  -Infinity}", 2, 4, std::nullopt},
        BadCase{R"(["\ud800"])", 1, 9, std::nullopt},
        // The raw invalid byte is not copied into the message.
        BadCase{"\"a\xff\"", 1, 3, std::nullopt},
        BadCase{"{} x", 1, 4, std::nullopt},
        BadCase{"", 1, 1, std::nullopt},
        // Too large for a double: refused rather than held as infinity.
        BadCase{"[true, -1, 2.5, \"1e999\", false,\n 1e400]", 2, 6,
                "number out of range; last read: '1e400'"},
        BadCase{"-1E+309", 1, 7, "number out of range; last read: '-1E+309'"},
        BadCase{"[1,2", 1, 5, std::nullopt}));

}  // namespace
}  // namespace quarlo
