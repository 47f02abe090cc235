// Tests of head-tag rendering.
#include "core/payload/html.hpp"
#include "core/payload/payload.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/json.hpp"

namespace quarlo {
namespace {

constexpr std::string_view kScriptOpen = "<script type=\"application/ld+json\">\n";
constexpr std::string_view kScriptClose = "\n</script>";

// The smallest payload: only the always-written fields.
SEOPayload minimal_payload() {
  SEOPayload p;
  p.title = "T";
  p.canonical = "https://example.com/";
  p.robots = "index,follow";
  p.og.type = "website";
  p.twitter.card = "summary";
  return p;
}

std::string html(const SEOPayload& p) { return p.render_html(); }
std::string jsonld(const SEOPayload& p) { return p.render_jsonld(); }

// The JSON text between the script element's start and end tags.
std::string script_body(const std::string& element) {
  EXPECT_TRUE(element.starts_with(kScriptOpen)) << element;
  EXPECT_TRUE(element.ends_with(kScriptClose)) << element;
  return element.substr(kScriptOpen.size(),
                        element.size() - kScriptOpen.size() - kScriptClose.size());
}

std::string replace_all(std::string s, std::string_view from, std::string_view to) {
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
    s.replace(at, from.size(), to);
  }
  return s;
}

// ---------------------------------------------------------------------------
// Escaping

struct EscapeCase {
  std::string text;
  std::string escaped;
};

class EscapeHtml : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeHtml, ReplacesTheSixCharactersAmpersandFirst) {
  const auto& c = GetParam();
  EXPECT_EQ(escape_html(c.text), c.escaped);
  std::string out = "<kept>";
  append_escaped_html(out, c.text);
  EXPECT_EQ(out, "<kept>" + c.escaped);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EscapeHtml,
    ::testing::Values(
        EscapeCase{"", ""}, EscapeCase{"plain text", "plain text"},
        EscapeCase{"A & B <C>", "A &amp; B &lt;C&gt;"},
        EscapeCase{"&\"'<>", "&amp;&quot;&#x27;&lt;&gt;"},
        EscapeCase{"it's \"quoted\"", "it&#x27;s &quot;quoted&quot;"},
        // Entities already in the input are escaped again, never kept.
        EscapeCase{"&amp;", "&amp;amp;"}, EscapeCase{"&lt;b&gt;", "&amp;lt;b&amp;gt;"},
        EscapeCase{"&#x27;", "&amp;#x27;"},
        EscapeCase{"<<&&>>", "&lt;&lt;&amp;&amp;&gt;&gt;"},
        // CR is a character reference (a parser reads a raw one as LF); LF stays.
        EscapeCase{"a\rb\r\n\r", "a&#13;b&#13;\n&#13;"}, EscapeCase{"&#13;\r", "&amp;#13;&#13;"},
        // Everything else is copied byte for byte: the bytes next to the
        // special ones too, in a text long enough for the block scan.
        EscapeCase{"!#$%()*+,-./:;=?@[]^_`{|}~\t\x0c\x0e\xa6\xa7\xbc\xbe",
                   "!#$%()*+,-./:;=?@[]^_`{|}~\t\x0c\x0e\xa6\xa7\xbc\xbe"},
        EscapeCase{"Caf\xC3\xA9 \xE2\x80\x94 /\\`=", "Caf\xC3\xA9 \xE2\x80\x94 /\\`="},
        EscapeCase{std::string("a\0b\t\n", 5), std::string("a\0b\t\n", 5)}));

// Every position of texts around the 16-byte blocks of the scan: one or two
// special characters among plain ones, against the plain replacement chain.
TEST(EscapeHtml, AnyPositionInLongerTexts) {
  const auto reference = [](std::string s) {
    s = replace_all(std::move(s), "&", "&amp;");
    s = replace_all(std::move(s), "<", "&lt;");
    s = replace_all(std::move(s), ">", "&gt;");
    s = replace_all(std::move(s), "\"", "&quot;");
    s = replace_all(std::move(s), "'", "&#x27;");
    return replace_all(std::move(s), "\r", "&#13;");
  };
  const std::string specials = "&<>\"'\r";
  for (std::size_t length = 1; length <= 50; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      std::string text(length, 'a');
      text[at] = specials[at % specials.size()];
      text[length - 1 - at] = specials[(at + 2) % specials.size()];
      // Copied into its own buffer so that a read past the end is caught by
      // the address sanitizer.
      const std::vector<char> exact(text.begin(), text.end());
      ASSERT_EQ(escape_html(std::string_view(exact.data(), exact.size())), reference(text))
          << text;
    }
  }
}

// Runs of plain bytes of every length before and after a special one, each
// plain byte different from its neighbours, so that a run copied out of
// place or short shows; and the plain bytes alone, which come back as they
// are.
TEST(EscapeHtml, PlainRunsOfEveryLengthKeepTheirBytes) {
  constexpr std::string_view kPlain = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  const auto escaped = [](const std::string& text) {
    const std::vector<char> exact(text.begin(), text.end());  // a read past the end shows
    return escape_html(std::string_view(exact.data(), exact.size()));
  };
  for (std::size_t before = 0; before <= 40; ++before) {
    for (std::size_t after = 0; after <= 20; ++after) {
      std::string plain;
      for (std::size_t i = 0; i < before + after; ++i) plain += kPlain[i % kPlain.size()];
      ASSERT_EQ(escaped(plain), plain);
      std::string text = plain;
      text.insert(before, "<");
      std::string expected = plain;
      expected.insert(before, "&lt;");
      ASSERT_EQ(escaped(text), expected) << text;
    }
  }
}

// ---------------------------------------------------------------------------
// Line forms: each field on its own, with a value that needs escaping.

struct LineCase {
  const char* name;
  std::function<void(SEOPayload&)> set;
  // Which block to compare: the head, the Open Graph or the Twitter block.
  enum Block { Head, OpenGraph, Twitter } block;
  std::string expected;
};

class LineForm : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineForm, RendersTheFieldWithItsTagNameInOrder) {
  const auto& c = GetParam();
  SEOPayload p = minimal_payload();
  c.set(p);
  switch (c.block) {
    case LineCase::Head:
      EXPECT_EQ(html(p), c.expected);
      break;
    case LineCase::OpenGraph:
      EXPECT_EQ(p.render_opengraph(), c.expected);
      break;
    case LineCase::Twitter:
      EXPECT_EQ(p.render_twitter(), c.expected);
      break;
  }
}

const std::string kOgType = "<meta property=\"og:type\" content=\"website\">";
const std::string kCard = "<meta name=\"twitter:card\" content=\"summary\">";
const std::string kTail = kOgType + "\n" + kCard + "\n";

INSTANTIATE_TEST_SUITE_P(
    Table, LineForm,
    ::testing::Values(
        LineCase{"Minimal", [](SEOPayload&) {}, LineCase::Head,
                 "<title>T</title>\n"
                 "<link rel=\"canonical\" href=\"https://example.com/\">\n"
                 "<meta name=\"robots\" content=\"index,follow\">\n" +
                     kTail},
        LineCase{"TitleAndDescription",
                 [](SEOPayload& p) {
                   p.title = "A & B <C>";
                   p.description = "say \"hi\"";
                 },
                 LineCase::Head,
                 "<title>A &amp; B &lt;C&gt;</title>\n"
                 "<meta name=\"description\" content=\"say &quot;hi&quot;\">\n"
                 "<link rel=\"canonical\" href=\"https://example.com/\">\n"
                 "<meta name=\"robots\" content=\"index,follow\">\n" +
                     kTail},
        // Only an empty description drops its line; blanks are content.
        LineCase{"BlankDescription", [](SEOPayload& p) { p.description = " "; }, LineCase::Head,
                 "<title>T</title>\n<meta name=\"description\" content=\" \">\n"
                 "<link rel=\"canonical\" href=\"https://example.com/\">\n"
                 "<meta name=\"robots\" content=\"index,follow\">\n" +
                     kTail},
        LineCase{"EmptyTitleCanonicalRobots",
                 [](SEOPayload& p) {
                   p.title.clear();
                   p.canonical.clear();
                   p.robots.clear();
                 },
                 LineCase::Head,
                 "<title></title>\n<link rel=\"canonical\" href=\"\">\n"
                 "<meta name=\"robots\" content=\"\">\n" +
                     kTail},
        LineCase{"CanonicalWithQuery",
                 [](SEOPayload& p) { p.canonical = "https://e.com/?a=1&b=\"2\""; }, LineCase::Head,
                 "<title>T</title>\n"
                 "<link rel=\"canonical\" href=\"https://e.com/?a=1&amp;b=&quot;2&quot;\">\n"
                 "<meta name=\"robots\" content=\"index,follow\">\n" +
                     kTail},
        LineCase{"OgType", [](SEOPayload& p) { p.og.type = "a'b"; }, LineCase::OpenGraph,
                 "<meta property=\"og:type\" content=\"a&#x27;b\">"},
        LineCase{"OgTypeEmpty", [](SEOPayload& p) { p.og.type.clear(); }, LineCase::OpenGraph,
                 "<meta property=\"og:type\" content=\"\">"},
        LineCase{"OgTitle", [](SEOPayload& p) { p.og.title = "It's"; }, LineCase::OpenGraph,
                 kOgType + "\n<meta property=\"og:title\" content=\"It&#x27;s\">"},
        LineCase{"OgTitleEmpty", [](SEOPayload& p) { p.og.title = ""; }, LineCase::OpenGraph,
                 kOgType + "\n<meta property=\"og:title\" content=\"\">"},
        LineCase{"OgDescription", [](SEOPayload& p) { p.og.description = "x>y"; },
                 LineCase::OpenGraph,
                 kOgType + "\n<meta property=\"og:description\" content=\"x&gt;y\">"},
        LineCase{"OgUrl", [](SEOPayload& p) { p.og.url = "https://e.com/?a&b"; },
                 LineCase::OpenGraph,
                 kOgType + "\n<meta property=\"og:url\" content=\"https://e.com/?a&amp;b\">"},
        LineCase{"OgImage", [](SEOPayload& p) { p.og.image = "https://e.com/a.png"; },
                 LineCase::OpenGraph,
                 kOgType + "\n<meta property=\"og:image\" content=\"https://e.com/a.png\">"},
        LineCase{"WidthWithoutHeight", [](SEOPayload& p) { p.og.image_width = 1200u; },
                 LineCase::OpenGraph,
                 kOgType + "\n<meta property=\"og:image:width\" content=\"1200\">"},
        LineCase{"HeightWithoutWidth", [](SEOPayload& p) { p.og.image_height = 0u; },
                 LineCase::OpenGraph,
                 kOgType + "\n<meta property=\"og:image:height\" content=\"0\">"},
        LineCase{"LargestSizes",
                 [](SEOPayload& p) {
                   p.og.image_width = 4294967295u;
                   p.og.image_height = 4294967295u;
                 },
                 LineCase::OpenGraph,
                 kOgType + "\n<meta property=\"og:image:width\" content=\"4294967295\">" +
                     "\n<meta property=\"og:image:height\" content=\"4294967295\">"},
        LineCase{"OgImageAlt", [](SEOPayload& p) { p.og.image_alt = "<alt>"; },
                 LineCase::OpenGraph,
                 kOgType + "\n<meta property=\"og:image:alt\" content=\"&lt;alt&gt;\">"},
        LineCase{"OgSiteName", [](SEOPayload& p) { p.og.site_name = "A&B"; }, LineCase::OpenGraph,
                 kOgType + "\n<meta property=\"og:site_name\" content=\"A&amp;B\">"},
        LineCase{"OgLocale", [](SEOPayload& p) { p.og.locale = "en_US"; }, LineCase::OpenGraph,
                 kOgType + "\n<meta property=\"og:locale\" content=\"en_US\">"},
        LineCase{"LocaleAlternateInListOrderBetweenLocaleAndAudio",
                 [](SEOPayload& p) {
                   p.og.locale = "en_US";
                   p.og.locale_alternate = std::vector<std::string>{"fr_FR", "de_DE", ""};
                   p.og.audio = "a.mp3";
                 },
                 LineCase::OpenGraph,
                 kOgType + "\n<meta property=\"og:locale\" content=\"en_US\">" +
                     "\n<meta property=\"og:locale:alternate\" content=\"fr_FR\">" +
                     "\n<meta property=\"og:locale:alternate\" content=\"de_DE\">" +
                     "\n<meta property=\"og:locale:alternate\" content=\"\">" +
                     "\n<meta property=\"og:audio\" content=\"a.mp3\">"},
        LineCase{"LocaleAlternateEmptyList",
                 [](SEOPayload& p) { p.og.locale_alternate = std::vector<std::string>{}; },
                 LineCase::OpenGraph, kOgType},
        LineCase{"OgAudio", [](SEOPayload& p) { p.og.audio = "a\"b"; }, LineCase::OpenGraph,
                 kOgType + "\n<meta property=\"og:audio\" content=\"a&quot;b\">"},
        LineCase{"OgVideo", [](SEOPayload& p) { p.og.video = "v.mp4"; }, LineCase::OpenGraph,
                 kOgType + "\n<meta property=\"og:video\" content=\"v.mp4\">"},
        LineCase{"Card", [](SEOPayload& p) { p.twitter.card = "<x>"; }, LineCase::Twitter,
                 "<meta name=\"twitter:card\" content=\"&lt;x&gt;\">"},
        LineCase{"TwitterTitle", [](SEOPayload& p) { p.twitter.title = "a&b"; },
                 LineCase::Twitter, kCard + "\n<meta name=\"twitter:title\" content=\"a&amp;b\">"},
        LineCase{"TwitterDescriptionEmpty", [](SEOPayload& p) { p.twitter.description = ""; },
                 LineCase::Twitter, kCard + "\n<meta name=\"twitter:description\" content=\"\">"},
        LineCase{"TwitterImage", [](SEOPayload& p) { p.twitter.image = "i.png"; },
                 LineCase::Twitter, kCard + "\n<meta name=\"twitter:image\" content=\"i.png\">"},
        LineCase{"TwitterImageAlt", [](SEOPayload& p) { p.twitter.image_alt = "it's"; },
                 LineCase::Twitter,
                 kCard + "\n<meta name=\"twitter:image:alt\" content=\"it&#x27;s\">"},
        LineCase{"TwitterSite", [](SEOPayload& p) { p.twitter.site = "@site"; },
                 LineCase::Twitter, kCard + "\n<meta name=\"twitter:site\" content=\"@site\">"},
        LineCase{"TwitterCreator", [](SEOPayload& p) { p.twitter.creator = "@me"; },
                 LineCase::Twitter, kCard + "\n<meta name=\"twitter:creator\" content=\"@me\">"}),
    [](const ::testing::TestParamInfo<LineCase>& param_info) {
      return std::string(param_info.param.name);
    });

// ---------------------------------------------------------------------------
// The full head of a payload with every field present.

SEOPayload full_payload() {
  SEOPayload p;
  p.title = "Tom & Jerry's <Guide>";
  p.description = "A \"short\" guide.";
  p.canonical = "https://example.com/blog/guide/";
  p.robots = "index,follow";
  p.og.type = "article";
  p.og.title = "Tom & Jerry";
  p.og.description = "OG description";
  p.og.url = "https://example.com/blog/guide/";
  p.og.image = "https://example.com/img/a.png?w=1&h=2";
  p.og.image_width = 1200u;
  p.og.image_height = 630u;
  p.og.image_alt = "Alt 'text'";
  p.og.site_name = "Example";
  p.og.locale = "en_US";
  p.og.locale_alternate = std::vector<std::string>{"fr_FR", "de_DE"};
  p.og.audio = "https://example.com/a.mp3";
  p.og.video = "https://example.com/v.mp4";
  p.twitter.card = "summary_large_image";
  p.twitter.title = "TW title";
  p.twitter.description = "TW <description>";
  p.twitter.image = "https://example.com/img/a.png";
  p.twitter.image_alt = "TW alt";
  p.twitter.site = "@example";
  p.twitter.creator = "@author";
  p.schema_jsonld = JsonDoc::from_value(Json::array(
      {Json{{"@context", "https://schema.org"},
            {"@type", "Article"},
            {"headline", "Tom & Jerry's </script><!--<script>"},
            {"wordCount", 120},
            {"author", Json{{"@type", "Person"}, {"name", "Ann"}}},
            {"keywords", Json::array()}},
       Json{{"@type", "BreadcrumbList"}, {"itemListElement", Json::object()}}}));
  // Present but ignored by rendering.
  p.extra["custom"] = Json("x");
  return p;
}

TEST(RenderHtml, FullPayloadHead) {
  const std::string expected =
      R"(<title>Tom &amp; Jerry&#x27;s &lt;Guide&gt;</title>
<meta name="description" content="A &quot;short&quot; guide.">
<link rel="canonical" href="https://example.com/blog/guide/">
<meta name="robots" content="index,follow">
<meta property="og:type" content="article">
<meta property="og:title" content="Tom &amp; Jerry">
<meta property="og:description" content="OG description">
<meta property="og:url" content="https://example.com/blog/guide/">
<meta property="og:image" content="https://example.com/img/a.png?w=1&amp;h=2">
<meta property="og:image:width" content="1200">
<meta property="og:image:height" content="630">
<meta property="og:image:alt" content="Alt &#x27;text&#x27;">
<meta property="og:site_name" content="Example">
<meta property="og:locale" content="en_US">
<meta property="og:locale:alternate" content="fr_FR">
<meta property="og:locale:alternate" content="de_DE">
<meta property="og:audio" content="https://example.com/a.mp3">
<meta property="og:video" content="https://example.com/v.mp4">
<meta name="twitter:card" content="summary_large_image">
<meta name="twitter:title" content="TW title">
<meta name="twitter:description" content="TW &lt;description&gt;">
<meta name="twitter:image" content="https://example.com/img/a.png">
<meta name="twitter:image:alt" content="TW alt">
<meta name="twitter:site" content="@example">
<meta name="twitter:creator" content="@author">
<script type="application/ld+json">
[
  {
    "@context": "https://schema.org",
    "@type": "Article",
    "author": {
      "@type": "Person",
      "name": "Ann"
    },
    "headline": "Tom & Jerry's <\/script>\u003c!--<script>",
    "keywords": [],
    "wordCount": 120
  },
  {
    "@type": "BreadcrumbList",
    "itemListElement": {}
  }
]
</script>
)";
  const SEOPayload p = full_payload();
  EXPECT_EQ(html(p), expected);

  // The blocks are the same texts as the block methods return.
  const std::string og = p.render_opengraph();
  const std::string tw = p.render_twitter();
  const std::string script = jsonld(p);
  EXPECT_NE(expected.find("\n" + og + "\n" + tw + "\n" + script + "\n"), std::string::npos);
}

TEST(RenderHtml, LineFeedRules) {
  SEOPayload with_schema = minimal_payload();
  with_schema.schema_jsonld = JsonDoc::from_value(Json{{"@type", "WebPage"}});
  for (const SEOPayload& p : {minimal_payload(), full_payload(), with_schema}) {
    const std::string head = html(p);
    EXPECT_TRUE(head.ends_with("\n") && !head.ends_with("\n\n")) << head;
    EXPECT_FALSE(p.render_opengraph().ends_with("\n"));
    EXPECT_FALSE(p.render_twitter().ends_with("\n"));
    EXPECT_EQ(head.find("\n\n"), std::string::npos) << head;
  }
}

TEST(RenderHtml, WithoutSchemaEndsWithTheLastTwitterLine) {
  SEOPayload p = full_payload();
  p.schema_jsonld.reset();
  EXPECT_EQ(jsonld(p), "");
  const std::string head = html(p);
  EXPECT_TRUE(head.ends_with("<meta name=\"twitter:creator\" content=\"@author\">\n")) << head;
  EXPECT_EQ(head.find("<script"), std::string::npos);
}

// ---------------------------------------------------------------------------
// JSON-LD script element

struct ScriptCase {
  const char* name;
  Json schema;
  std::string body;  // the expected text inside the element
};

class JsonLdScript : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(JsonLdScript, NeutralisesOnlyEndTagAndCommentOpeners) {
  const auto& c = GetParam();
  SEOPayload p = minimal_payload();
  p.schema_jsonld = JsonDoc::from_value(c.schema);
  const std::string element = jsonld(p);
  const std::string body = script_body(element);
  EXPECT_EQ(body, c.body);
  // Whatever was rewritten, the text still reads back as the same document.
  auto parsed = parse_json(body);
  ASSERT_TRUE(parsed.has_value()) << parsed.error().message();
  EXPECT_EQ(*parsed, c.schema);
  // Nothing inside can end the element or open a comment.
  EXPECT_EQ(body.find("</"), std::string::npos);
  EXPECT_EQ(body.find("<!--"), std::string::npos);
  // render_html carries the same element on its last lines.
  EXPECT_TRUE(html(p).ends_with("\n" + element + "\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, JsonLdScript,
    ::testing::Values(
        ScriptCase{"PlainDocumentIsThePrettyText",
                   Json{{"name", "a/b"}, {"@type", "Thing"}, {"n", 1.5}},
                   "{\n  \"@type\": \"Thing\",\n  \"n\": 1.5,\n  \"name\": \"a/b\"\n}"},
        ScriptCase{"EndTag", Json{{"x", "</script>"}}, "{\n  \"x\": \"<\\/script>\"\n}"},
        ScriptCase{"LessThanAloneUnchanged", Json{{"x", "a<b <p> <-- <! <!- <\\/"}},
                   "{\n  \"x\": \"a<b <p> <-- <! <!- <\\\\/\"\n}"},
        ScriptCase{"CommentThenScript", Json{{"x", "<!--<script>"}},
                   "{\n  \"x\": \"\\u003c!--<script>\"\n}"},
        ScriptCase{"Adjacent", Json{{"x", "<</<!--<!---</"}},
                   "{\n  \"x\": \"<<\\/\\u003c!--\\u003c!---<\\/\"\n}"},
        ScriptCase{"InKeysAndArrays", Json{{"</k", Json::array({"<!--", "</"})}},
                   "{\n  \"<\\/k\": [\n    \"\\u003c!--\",\n    \"<\\/\"\n  ]\n}"},
        ScriptCase{"StringOnly", Json("</"), "\"<\\/\""},
        ScriptCase{"Null", Json(nullptr), "null"},
        ScriptCase{"EmptyArray", Json::array(), "[]"}),
    [](const ::testing::TestParamInfo<ScriptCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(JsonLdScript, CommentOpenerInTitleCannotSwallowThePage) {
  SEOPayload p = minimal_payload();
  p.title = "<!--<script";
  p.description = "</script>";
  p.schema_jsonld = JsonDoc::from_value(Json{{"headline", p.title}, {"description", p.description}});
  const std::string head = html(p);
  EXPECT_EQ(head.find("<!--"), std::string::npos) << head;
  EXPECT_NE(head.find("<title>&lt;!--&lt;script</title>"), std::string::npos) << head;
  // The only end tag is the element's own, on the last line.
  EXPECT_EQ(head.find("</script>"), head.size() - std::string_view("</script>\n").size());
  const std::size_t open = head.find(kScriptOpen);
  ASSERT_NE(open, std::string::npos);
  auto parsed = parse_json(script_body(head.substr(open, head.size() - 1 - open)));
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(*parsed, p.schema_jsonld->value());
}

// The in-place rewrite against a plain two-step replacement, over texts
// dense in the characters of both patterns.
TEST(JsonLdScript, RewriteMatchesSequentialReplacement) {
  std::mt19937 rng(12345);
  const std::string_view alphabet = "<</!--a\\\"";
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<std::size_t> length(0, 40);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const std::size_t n = length(rng);
    for (std::size_t i = 0; i < n; ++i) text.push_back(alphabet[pick(rng)]);
    const Json schema = Json::array({text, Json{{text, text}}});
    SEOPayload p = minimal_payload();
    p.schema_jsonld = JsonDoc::from_value(schema);
    const std::string expected = replace_all(
        replace_all(write_json(schema, JsonLayout::Pretty), "</", "<\\/"), "<!--", "\\u003c!--");
    const std::string body = script_body(jsonld(p));
    ASSERT_EQ(body, expected) << "text: " << text;
    auto parsed = parse_json(body);
    ASSERT_TRUE(parsed.has_value()) << body;
    ASSERT_EQ(*parsed, schema) << body;
  }
}

}  // namespace
}  // namespace quarlo
