// Tests of the Unicode helpers.
#include "core/base/unicode.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quarlo {
namespace {

TEST(WhiteSpace, ExactlyTheWhiteSpaceProperty) {
  const char32_t white[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680,
                            0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007,
                            0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  for (char32_t cp : white) EXPECT_TRUE(is_white_space(cp)) << std::hex << static_cast<std::uint32_t>(cp);
  const char32_t other[] = {0x00, 0x08, 0x0E, 0x1C, 0x1F, 0x21, 0x7F, 0x84, 0x180E, 0x200B,
                            0x200C, 0x2060, 0xFEFF, 0xD800, 0x10FFFF, 0x110000, 0xFFFFFFFF};
  for (char32_t cp : other) EXPECT_FALSE(is_white_space(cp)) << std::hex << static_cast<std::uint32_t>(cp);
}

struct TrimCase {
  std::string text;
  std::string trimmed;
};

class Trim : public ::testing::TestWithParam<TrimCase> {};

TEST_P(Trim, RemovesWhiteSpaceAtBothEnds) {
  const auto& c = GetParam();
  const std::string_view result = trim(c.text);
  EXPECT_EQ(result, c.trimmed);
  // A view into the argument.
  if (!result.empty()) {
    EXPECT_GE(result.data(), c.text.data());
    EXPECT_LE(result.data() + result.size(), c.text.data() + c.text.size());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Trim,
    ::testing::Values(
        TrimCase{"", ""}, TrimCase{" \t\r\n\v\f", ""}, TrimCase{"  a b  ", "a b"},
        TrimCase{"\xc2\xa0\xe3\x80\x80x\xe2\x80\xa8\xc2\x85", "x"},
        TrimCase{"\xe2\x80\x8bx\xef\xbb\xbf", "\xe2\x80\x8bx\xef\xbb\xbf"},  // ZWSP, BOM stay
        TrimCase{"\xe2\x80\xaf\xe2\x81\x9f", ""},
        TrimCase{std::string(" \0 ", 3), std::string("\0", 1)},
        // Invalid sequences are opaque characters and stop trimming.
        TrimCase{" \xff ", "\xff"}, TrimCase{" \x80\xc2\xa0", "\x80"},
        TrimCase{"\xe2\x80 x", "\xe2\x80 x"}, TrimCase{"x\xe2\x80", "x\xe2\x80"},
        // A truncated sequence just before white space at the end.
        TrimCase{"x\xe2\xe2\x80\xa8", "x\xe2"}, TrimCase{"\xa0 ", "\xa0"}));

struct LowerCase {
  std::string text;
  std::string lower;
};

class ToLower : public ::testing::TestWithParam<LowerCase> {};

TEST_P(ToLower, FullMappingUnderTheRootLocale) {
  EXPECT_EQ(to_lower(GetParam().text), GetParam().lower);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToLower,
    ::testing::Values(
        LowerCase{"", ""}, LowerCase{"Hello, World! 123", "hello, world! 123"},
        LowerCase{std::string("A\0B", 3), std::string("a\0b", 3)},
        LowerCase{"\xc4\xb0stanbul", "i\xcc\x87stanbul"},                    // İ -> i + U+0307
        LowerCase{"I", "i"},                                                  // no Turkish rules
        LowerCase{"\xce\x9f\xce\x94\xce\x9f\xce\xa3", "\xce\xbf\xce\xb4\xce\xbf\xcf\x82"},  // final sigma
        LowerCase{"\xce\xa3\xce\x91", "\xcf\x83\xce\xb1"},                    // non-final sigma
        LowerCase{"CAF\xc3\x89 \xc3\x84\xc3\x96\xc3\x9c", "caf\xc3\xa9 \xc3\xa4\xc3\xb6\xc3\xbc"},
        LowerCase{"\xe1\xba\x9e", "\xc3\x9f"},                                // ẞ -> ß
        LowerCase{"\xf0\x90\x90\x80", "\xf0\x90\x90\xa8"},                    // Deseret, 4 bytes
        // Invalid bytes are kept and do not stop the mapping around them.
        LowerCase{"A\xff" "B\xc3\x89\xed\xa0\x80\xc3", "a\xff" "b\xc3\xa9\xed\xa0\x80\xc3"}));

struct CountCase {
  std::string text;
  std::size_t scalars;
  bool ascii;
};

class Count : public ::testing::TestWithParam<CountCase> {};

TEST_P(Count, ScalarsAndAsciiness) {
  EXPECT_EQ(count_scalars(GetParam().text), GetParam().scalars);
  EXPECT_EQ(is_ascii(GetParam().text), GetParam().ascii);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Count,
    ::testing::Values(CountCase{"", 0, true}, CountCase{"abc", 3, true},
                      CountCase{std::string("a\0b", 3), 3, true},
                      CountCase{std::string(20, 'x') + "\x7f", 21, true},
                      CountCase{"Caf\xc3\xa9", 4, false},
                      CountCase{"\xe2\x82\xac\xf0\x9f\x98\x80", 2, false},
                      CountCase{std::string(17, 'x') + "\xc3\xa9", 18, false},
                      // Each ill-formed sequence counts as one.
                      CountCase{"\xff\xfe", 2, false}, CountCase{"\xe2\x82x", 2, false},
                      CountCase{"\xed\xa0\x80", 3, false}));

}  // namespace
}  // namespace quarlo
