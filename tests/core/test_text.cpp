// Tests of html_to_text and description snippets.
#include "core/payload/text.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "core/base/unicode.hpp"
#include "text_reference.hpp"

namespace quarlo {
namespace {

std::string utf8(char32_t cp) {
  std::string out;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

struct TextCase {
  std::string html;
  std::string text;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.html); }

class HtmlToText : public ::testing::TestWithParam<TextCase> {};

TEST_P(HtmlToText, MatchesTheExpectedText) {
  const auto& c = GetParam();
  EXPECT_EQ(html_to_text(c.html), c.text);
  EXPECT_EQ(testing_reference::html_to_text(c.html), c.text) << "reference disagrees";
}

INSTANTIATE_TEST_SUITE_P(
    TagsAndText, HtmlToText,
    ::testing::Values(
        TextCase{"", ""}, TextCase{"<p>Hello <b>world</b></p>", "Hello world"}, TextCase{"<p>A</p><p>B</p>", "A B"},
        TextCase{"a<br/>b<img src=\"x.png\" alt=\"y\">c", "a b c"}, TextCase{"a<>b", "a b"},
        TextCase{"Fish &amp; chips &lt;b&gt; &#160;", "Fish &amp; chips &lt;b&gt; &#160;"},
        TextCase{"a > b >> c", "a > b >> c"},
        // An unclosed "<" swallows the rest.
        TextCase{"a < b", "a"}, TextCase{"a<", "a"}, TextCase{"<", ""}, TextCase{"<<<<", ""},
        TextCase{"x<<p>y", "x y"},
        // The tag ends at the first ">", even inside a comment or a quoted value.
        TextCase{"<!-- <p> -->after", "-->after"}, TextCase{"<a title=\"1>2\">x</a>", "2\">x"},
        TextCase{std::string("a\0b<\0>c", 7), std::string("a\0b c", 5)}));

INSTANTIATE_TEST_SUITE_P(
    SkippedElements, HtmlToText,
    ::testing::Values(
        TextCase{"<style>p{color:red}</style>Text", "Text"}, TextCase{"<STYLE>x</Style>Text", "Text"},
        TextCase{"<ScRiPt>x();</SCRIPT>y", "y"},
        // Inside skipped content a "<" still opens a tag up to the next ">".
        TextCase{"<script>if (a<b) x();</script>y", ""}, TextCase{"<noscript><p>x</p></noscript>y", "y"},
        TextCase{"<NOSCRIPT>x</noScript>y", "y"},
        // Entering and leaving append nothing: the text on both sides joins.
        TextCase{"a<script>x</script>b", "ab"}, TextCase{"a <script>x</script> b", "a b"},
        // Attributes or spaces make the whole tag text differ: nothing skipped.
        TextCase{"<script type=x>var a;</script>Text", "var a; Text"}, TextCase{"<script >x</script>y", "x y"},
        TextCase{"< script>x", "x"}, TextCase{"<scripts>x</scripts>y", "x y"}, TextCase{"<styl>x", "x"},
        TextCase{"</script>x", "x"}, TextCase{"<script/>x</script>y", "x y"},
        // Only the exact closing tag of the same element ends skipping.
        TextCase{"<script>never closed", ""}, TextCase{"<noscript>x</noscript >tail", ""},
        TextCase{"<style>a</script>b</ style>c</style/>d</style>e", "e"},
        TextCase{"<script>a<style>b</style>c</script>d", "d"},
        TextCase{"<script>x</script", ""}, TextCase{"<script>a<b", ""}, TextCase{"<script>a>b</script>c", "c"},
        // Non-ASCII tag texts go through the full lower-case mapping:
        // U+0130 becomes "i" + U+0307, so this is not "script".
        TextCase{"<SCR\xc4\xb0PT>x</script>y", "x y"}, TextCase{"<script>x</SCR\xc4\xb0PT>y", ""},
        TextCase{"<scr\xc4\xb1pt>x", "x"}, TextCase{"<\xe2\x84\xaa>x", "x"}));

INSTANTIATE_TEST_SUITE_P(
    WhiteSpace, HtmlToText,
    ::testing::Values(
        TextCase{"  \t\n a \r\n b \f\v ", "a b"}, TextCase{"a\n\n\nb", "a b"}, TextCase{" \t\r\n", ""},
        TextCase{"<p> </p> <p>\n</p>", ""}, TextCase{"a <p> b </p> c", "a b c"},
        // U+00A0, U+3000, U+0085, U+2028, U+1680, U+205F, U+202F, U+2000, U+200A.
        TextCase{"\xc2\xa0" "a\xe3\x80\x80\xe3\x80\x80" "b\xc2\x85" "c\xe2\x80\xa8", "a b c"},
        TextCase{"a\xe1\x9a\x80" "b\xe2\x81\x9f" "c\xe2\x80\xaf" "d\xe2\x80\x80\xe2\x80\x8a" "e", "a b c d e"},
        // Not White_Space: U+200B, U+FEFF, U+180E, U+2060.
        TextCase{"a\xe2\x80\x8b" "b\xef\xbb\xbf" "c\xe1\xa0\x8e" "d\xe2\x81\xa0", "a\xe2\x80\x8b" "b\xef\xbb\xbf" "c\xe1\xa0\x8e" "d\xe2\x81\xa0"},
        TextCase{"<p>Gr\xc3\xbc\xc3\x9f" "e, \xe4\xb8\x96\xe7\x95\x8c \xf0\x9f\x98\x80</p>",
                 "Gr\xc3\xbc\xc3\x9f" "e, \xe4\xb8\x96\xe7\x95\x8c \xf0\x9f\x98\x80"},
        TextCase{"\xe2\x80\x9cQuoted\xe2\x80\x9d \xe2\x80\x94 it\xe2\x80\x99s", "\xe2\x80\x9cQuoted\xe2\x80\x9d \xe2\x80\x94 it\xe2\x80\x99s"}));

INSTANTIATE_TEST_SUITE_P(
    InvalidUtf8, HtmlToText,
    ::testing::Values(
        // Ill-formed bytes are copied unchanged and are never white space.
        TextCase{"a\xff b\xfe", "a\xff b\xfe"}, TextCase{" \x80 ", "\x80"},
        TextCase{"\xe2\x80 x", "\xe2\x80 x"}, TextCase{"x\xe2\x80", "x\xe2\x80"},
        // A lone lead byte before a real U+2028; an NBSP split by a tag.
        TextCase{"x\xf0\xe2\x80\xa8y", "x\xf0 y"}, TextCase{"\xc2<b>\xa0", "\xc2 \xa0"},
        // Surrogates and overlong forms are not white space either.
        TextCase{"a\xed\xa0\x80" "b\xc0\xa0" "c\xe0\x80\xa0" "d", "a\xed\xa0\x80" "b\xc0\xa0" "c\xe0\x80\xa0" "d"},
        TextCase{"<script>\xff</script>\xfe", "\xfe"},
        // Pieces that meet once a skipped element is dropped are read as one
        // character: here an NBSP, U+2028 and a copyright sign.
        TextCase{"\xc2<SCRIPT></script>\xa0", ""}, TextCase{"a\xe2<style>x</style>\x80\xa8" "b", "a b"},
        TextCase{"a \xe2<style></style>\x80<script></script>\xa8 b", "a b"},
        TextCase{"a\xc2<noscript></noscript>\xa9" "b", "a\xc2\xa9" "b"},
        TextCase{"\xe2<script></script>\x80 \xa8", "\xe2\x80 \xa8"}));

// Every scalar value between two letters: White_Space becomes one space,
// anything else stays as it is ("<" aside).
TEST(HtmlToTextCodeSpace, EveryScalarValueIsClassifiedByTheWhiteSpaceProperty) {
  std::size_t white = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp == '<' || (cp >= 0xD800 && cp <= 0xDFFF)) continue;
    const std::string html = "a" + utf8(cp) + "b";
    const std::string expected = is_white_space(cp) ? "a b" : html;
    if (is_white_space(cp)) ++white;
    const std::string text = html_to_text(html);
    if (text != expected) {
      ADD_FAILURE() << "U+" << std::hex << static_cast<std::uint32_t>(cp);
      break;
    }
  }
  EXPECT_EQ(white, 25u);
}

// Random mixes of the pieces the scanner treats specially, against the
// step-by-step rendering.
TEST(HtmlToTextRandom, AgreesWithTheStepByStepRendering) {
  const std::vector<std::string> pieces = {
      "<", ">", "<p>", "</p>", "<script>", "</script>", "<SCRIPT>", "</Script>", "<style>", "</style>",
      "<noscript>", "</noscript>", "<NoScript>", "</NOSCRIPT>", "<script type=x>", "</script >", "<!--", "-->",
      " ", "\t", "\n", "\xc2\xa0", "\xe3\x80\x80", "\xc2\x85", "\xe2\x80\xa9", "a", "Z", "&amp;", "\xc3\xa9",
      "\xff", "\xe2\x80", "\xe2", "\xc2", "\x80", "\xa0", "\xe2\x80\x99", "\xf0\x9f\x98\x80", "<\xe2\x84\xaa>", "<SCR\xc4\xb0PT>", "/", std::string(1, '\0')};
  std::mt19937 random(12345);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<std::size_t> length(0, 24);
  for (int round = 0; round < 20000; ++round) {
    std::string html;
    for (std::size_t k = length(random); k > 0; --k) html += pieces[pick(random)];
    const std::string text = html_to_text(html);
    ASSERT_EQ(text, testing_reference::html_to_text(html)) << "input: " << html;
    for (const std::size_t max_chars : {0u, 1u, 2u, 3u, 5u, 8u, 12u, 20u}) {
      const auto snippet = build_description_snippet(html, max_chars);
      ASSERT_EQ(snippet.has_value(), !text.empty());
      if (!snippet) continue;
      if (count_scalars(text) <= max_chars) {
        ASSERT_EQ(*snippet, text);
      } else {
        ASSERT_EQ(count_scalars(*snippet), std::max<std::size_t>(max_chars, 3));
        ASSERT_EQ(text.compare(0, snippet->size() - 3, *snippet, 0, snippet->size() - 3), 0);
      }
    }
  }
}

// The same with long ASCII runs (counted a block at a time) between
// multi-byte and ill-formed characters, under limits near the block size.
TEST(DescriptionSnippetRandom, LongAsciiRunsAgreeWithTheText) {
  const std::vector<std::string> pieces = {
      std::string(15, 'a'), std::string(16, 'b'), std::string(17, 'c'), std::string(33, 'd'), " ", "\n  ",
      "<b>", "</b>", "\xc3\xa9", "\xe2\x80\x99", "\xf0\x9f\x98\x80", "\xff", "\xe2\x80", "\xc2\xa0", "x"};
  std::mt19937 random(54321);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<std::size_t> length(0, 40);
  for (int round = 0; round < 4000; ++round) {
    std::string html;
    for (std::size_t k = length(random); k > 0; --k) html += pieces[pick(random)];
    const std::string text = html_to_text(html);
    for (const std::size_t max_chars : {15u, 16u, 17u, 31u, 32u, 33u, 100u, 160u}) {
      const auto snippet = build_description_snippet(html, max_chars);
      ASSERT_EQ(snippet.has_value(), !text.empty());
      if (!snippet) continue;
      if (count_scalars(text) <= max_chars) {
        ASSERT_EQ(*snippet, text) << "input: " << html;
      } else {
        ASSERT_EQ(count_scalars(*snippet), max_chars) << "input: " << html;
        ASSERT_EQ(text.compare(0, snippet->size() - 3, *snippet, 0, snippet->size() - 3), 0) << "input: " << html;
      }
    }
  }
}

struct SnippetCase {
  std::optional<std::string> html;
  std::size_t max_chars;
  std::optional<std::string> snippet;
};

void PrintTo(const SnippetCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(c.html) << " limit " << c.max_chars;
}

class DescriptionSnippet : public ::testing::TestWithParam<SnippetCase> {};

TEST_P(DescriptionSnippet, CutsToTheLimitInCharacters) {
  const auto& c = GetParam();
  const std::optional<std::string_view> html = c.html ? std::optional<std::string_view>(*c.html) : std::nullopt;
  EXPECT_EQ(build_description_snippet(html, c.max_chars), c.snippet);
}

const std::string k200 = std::string(150, 'a') + std::string(50, 'b');

INSTANTIATE_TEST_SUITE_P(
    Table, DescriptionSnippet,
    ::testing::Values(
        SnippetCase{std::nullopt, 160, std::nullopt}, SnippetCase{"", 160, std::nullopt},
        SnippetCase{"<p> \xc2\xa0</p>\n", 160, std::nullopt}, SnippetCase{"<script>x</script>", 160, std::nullopt},
        SnippetCase{"", 0, std::nullopt},
        SnippetCase{k200, 160, k200.substr(0, 157) + "..."}, SnippetCase{k200.substr(0, 160), 160, k200.substr(0, 160)},
        SnippetCase{k200.substr(0, 161), 160, k200.substr(0, 157) + "..."},
        SnippetCase{"<p>Hello <b>world</b></p>", 8, "Hello..."}, SnippetCase{"<p>Hello <b>world</b></p>", 11, "Hello world"},
        // Below three characters only the ellipsis is left.
        SnippetCase{"abcde", 2, "..."}, SnippetCase{"abcde", 0, "..."}, SnippetCase{"abcde", 3, "..."},
        SnippetCase{"abcde", 4, "a..."}, SnippetCase{"abcde", 5, "abcde"}, SnippetCase{"ab", 2, "ab"},
        SnippetCase{"ab", 1, "..."}, SnippetCase{"a", 0, "..."},
        // No word boundary search: a space just before the cut stays.
        SnippetCase{"abc def ghi", 7, "abc ..."}, SnippetCase{"abc   def   ghi", 8, "abc d..."},
        // Characters, not bytes.
        SnippetCase{"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 5, "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"},
        SnippetCase{"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 4, "\xc3\xa9..."},
        SnippetCase{"\xf0\x9f\x98\x80\xe4\xb8\x96\xf0\x9f\x98\x80\xe4\xb8\x96\xf0\x9f\x98\x80", 4, "\xf0\x9f\x98\x80..."},
        SnippetCase{"\xf0\x9f\x98\x80\xe4\xb8\x96\xf0\x9f\x98\x80\xe4\xb8\x96\xf0\x9f\x98\x80", 5,
                    "\xf0\x9f\x98\x80\xe4\xb8\x96\xf0\x9f\x98\x80\xe4\xb8\x96\xf0\x9f\x98\x80"},
        // An ill-formed sequence counts as one character and is never split.
        SnippetCase{"\xff\xfe\xfd\xfc\xfb", 4, "\xff..."}, SnippetCase{"\xe2\x80" "abc", 4, "\xe2\x80" "abc"},
        SnippetCase{"\xe2\x80\xe2\x80" "abc", 4, "\xe2\x80..."}));

}  // namespace
}  // namespace quarlo
