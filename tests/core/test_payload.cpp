// Tests of the payload forms, from_dict and the payload digest.
#include "core/payload/payload.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/base/sha256.hpp"
#include "core/payload/digest.hpp"

namespace quarlo {
namespace {

// Every Open Graph and Twitter field, a schema array and two extras.
SEOPayload full_payload() {
  SEOPayload p;
  p.title = "Hello, world";
  p.description = "A first post.";
  p.canonical = "https://example.com/blog/hello/";
  p.robots = "index,follow";
  p.og.type = "article";
  p.og.title = "Hello OG";
  p.og.description = "OG description";
  p.og.url = "https://example.com/blog/hello/";
  p.og.image = "https://example.com/img/hello.png";
  p.og.image_width = 1200;
  p.og.image_height = 630;
  p.og.image_alt = "A greeting";
  p.og.site_name = "Example";
  p.og.locale = "en_US";
  p.og.locale_alternate = std::vector<std::string>{"de_DE", "fr_FR"};
  p.og.audio = "https://example.com/a.mp3";
  p.og.video = "https://example.com/v.mp4";
  p.twitter.card = "summary_large_image";
  p.twitter.title = "Hello TW";
  p.twitter.description = "TW description";
  p.twitter.image = "https://example.com/img/hello.png";
  p.twitter.image_alt = "A greeting";
  p.twitter.site = "@example";
  p.twitter.creator = "@author";
  Json article = {{"@type", "Article"},        {"@context", "https://schema.org"},
                  {"wordCount", 350},          {"headline", "Hello, world"},
                  {"rating", 4.5},             {"keywords", Json::array()}};
  Json crumbs = {{"itemListElement", Json::array({{{"position", 1}, {"@type", "ListItem"}}})},
                 {"@type", "BreadcrumbList"}};
  p.schema_jsonld = JsonDoc::from_value(Json::array({article, crumbs}));
  p.extra.emplace("custom", Json{{"nested", Json::object()}, {"flag", true}});
  p.extra.emplace("alpha", Json(nullptr));
  return p;
}

// Only "type", "title" and "url" in og; no schema, no extras.
SEOPayload minimal_payload() {
  SEOPayload p;
  p.title = "T";
  p.canonical = "https://e.com/";
  p.robots = "index,follow";
  p.og.type = "website";
  p.og.title = "T";
  p.og.url = "https://e.com/";
  p.twitter.card = "summary";
  return p;
}

std::string compact(const SEOPayload& p) { return p.to_json_compact(); }
std::string pretty(const SEOPayload& p) { return p.to_json_pretty(); }

std::vector<std::string> keys_of(const Json& object) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : object.items()) keys.push_back(key);
  return keys;
}

Json parse(const std::string& text) {
  auto r = parse_json(text);
  EXPECT_TRUE(r) << text;
  return r ? *r : Json();
}

// The dictionary form: the compact text read back.
Json dict_of(const SEOPayload& p) { return parse(compact(p)); }

// ---------------------------------------------------------------------------
// JSON texts

constexpr const char* kFullCompact =
    R"json({"title":"Hello, world","description":"A first post.","canonical":"https://example.com/blog/hello/",)json"
    R"json("robots":"index,follow","og":{"type":"article","title":"Hello OG","description":"OG description",)json"
    R"json("url":"https://example.com/blog/hello/","image":"https://example.com/img/hello.png",)json"
    R"json("image_width":1200,"image_height":630,"image_alt":"A greeting","site_name":"Example",)json"
    R"json("locale":"en_US","locale_alternate":["de_DE","fr_FR"],"audio":"https://example.com/a.mp3",)json"
    R"json("video":"https://example.com/v.mp4"},"twitter":{"card":"summary_large_image","title":"Hello TW",)json"
    R"json("description":"TW description","image":"https://example.com/img/hello.png","image_alt":"A greeting",)json"
    R"json("site":"@example","creator":"@author"},"schema_jsonld":[{"@context":"https://schema.org",)json"
    R"json("@type":"Article","headline":"Hello, world","keywords":[],"rating":4.5,"wordCount":350},)json"
    R"json({"@type":"BreadcrumbList","itemListElement":[{"@type":"ListItem","position":1}]}],)json"
    R"json("alpha":null,"custom":{"flag":true,"nested":{}}})json";

constexpr const char* kFullPretty = R"json({
  "title": "Hello, world",
  "description": "A first post.",
  "canonical": "https://example.com/blog/hello/",
  "robots": "index,follow",
  "og": {
    "type": "article",
    "title": "Hello OG",
    "description": "OG description",
    "url": "https://example.com/blog/hello/",
    "image": "https://example.com/img/hello.png",
    "image_width": 1200,
    "image_height": 630,
    "image_alt": "A greeting",
    "site_name": "Example",
    "locale": "en_US",
    "locale_alternate": [
      "de_DE",
      "fr_FR"
    ],
    "audio": "https://example.com/a.mp3",
    "video": "https://example.com/v.mp4"
  },
  "twitter": {
    "card": "summary_large_image",
    "title": "Hello TW",
    "description": "TW description",
    "image": "https://example.com/img/hello.png",
    "image_alt": "A greeting",
    "site": "@example",
    "creator": "@author"
  },
  "schema_jsonld": [
    {
      "@context": "https://schema.org",
      "@type": "Article",
      "headline": "Hello, world",
      "keywords": [],
      "rating": 4.5,
      "wordCount": 350
    },
    {
      "@type": "BreadcrumbList",
      "itemListElement": [
        {
          "@type": "ListItem",
          "position": 1
        }
      ]
    }
  ],
  "alpha": null,
  "custom": {
    "flag": true,
    "nested": {}
  }
})json";

TEST(PayloadText, FullPayloadCompact) { EXPECT_EQ(compact(full_payload()), kFullCompact); }

TEST(PayloadText, FullPayloadPretty) { EXPECT_EQ(pretty(full_payload()), kFullPretty); }

TEST(PayloadText, AppendCompactKeepsWhatIsInTheBuffer) {
  std::string out = "prefix:";
  full_payload().append_json_compact(out);
  EXPECT_EQ(out, std::string("prefix:") + kFullCompact);
}

TEST(PayloadText, MinimalPayloadOmitsAbsentFields) {
  const auto p = minimal_payload();
  EXPECT_EQ(compact(p),
            R"json({"title":"T","description":"","canonical":"https://e.com/","robots":"index,follow",)json"
            R"json("og":{"type":"website","title":"T","url":"https://e.com/"},"twitter":{"card":"summary"}})json");
  EXPECT_EQ(pretty(p), R"json({
  "title": "T",
  "description": "",
  "canonical": "https://e.com/",
  "robots": "index,follow",
  "og": {
    "type": "website",
    "title": "T",
    "url": "https://e.com/"
  },
  "twitter": {
    "card": "summary"
  }
})json");
}

TEST(PayloadText, PresentEmptyValuesAreWritten) {
  auto p = minimal_payload();
  p.og.image_alt = "";
  p.og.locale_alternate = std::vector<std::string>{};
  p.og.image_width = 0;
  p.twitter.site = "";
  p.schema_jsonld = JsonDoc::from_value(Json::object());
  EXPECT_EQ(compact(p),
            R"json({"title":"T","description":"","canonical":"https://e.com/","robots":"index,follow",)json"
            R"json("og":{"type":"website","title":"T","url":"https://e.com/","image_width":0,"image_alt":"",)json"
            R"json("locale_alternate":[]},"twitter":{"card":"summary","site":""},"schema_jsonld":{}})json");
  const auto text = pretty(p);
  EXPECT_NE(text.find("\n    \"locale_alternate\": []\n  },"), std::string::npos) << text;
  EXPECT_NE(text.find("\n  \"schema_jsonld\": {}\n}"), std::string::npos) << text;
}

struct EscapeCase {
  std::string title;
  std::string literal;
};

class PayloadTextEscaping : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(PayloadTextEscaping, TitleIsWrittenAsJsonString) {
  auto p = minimal_payload();
  p.title = GetParam().title;
  p.twitter.title = GetParam().title;
  p.extra.emplace(GetParam().title, Json(1));
  const std::string literal = GetParam().literal;
  for (const auto& text : {compact(p), pretty(p)}) {
    EXPECT_TRUE(text.starts_with("{\"title\":" + literal) ||
                text.starts_with("{\n  \"title\": " + literal))
        << text;
    EXPECT_EQ(parse(text), dict_of(p));
  }
  EXPECT_TRUE(compact(p).ends_with("," + literal + ":1}")) << compact(p);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PayloadTextEscaping,
    ::testing::Values(EscapeCase{"a\"b\\c\td\x01", R"("a\"b\\c\td\u0001")"},
                      EscapeCase{"Caf\xC3\xA9 / \x7F", "\"Caf\xC3\xA9 / \x7F\""},
                      EscapeCase{"\b\f\n\r\x1F", R"("\b\f\n\r\u001f")"},
                      EscapeCase{"", R"("")"}));

// Long texts are scanned in blocks: an escaped byte is found at every
// position of a block and across block ends, and bytes from 0x80 up are
// never taken for control characters.
TEST(PayloadTextLongStrings, EscapesAtEveryPosition) {
  const std::string plain = "https://example.com/\x7F\x80\xC3\xA9\xFF/abcdefghijklmnopqrstuvwxyz0123456789";
  for (const char special : {'"', '\\', '\x01', '\x1F', '\n'}) {
    for (std::size_t pos = 0; pos <= plain.size(); ++pos) {
      std::string title = plain;
      title.insert(pos, 1, special);
      std::string expected = "\"" + plain.substr(0, pos);
      switch (special) {
        case '"': expected += "\\\""; break;
        case '\\': expected += "\\\\"; break;
        case '\x01': expected += "\\u0001"; break;
        case '\x1F': expected += "\\u001f"; break;
        default: expected += "\\n"; break;
      }
      expected += plain.substr(pos) + "\"";
      auto p = minimal_payload();
      p.title = title;
      EXPECT_TRUE(compact(p).starts_with("{\"title\":" + expected + ",")) << pos;
    }
  }
}

// The pretty and compact texts are what the JSON writer gives for the same
// payload built as an OrderedJson with the fields in declaration order.
OrderedJson reference_object(const SEOPayload& p) {
  OrderedJson o = OrderedJson::object();
  o["title"] = p.title;
  o["description"] = p.description;
  o["canonical"] = p.canonical;
  o["robots"] = p.robots;
  OrderedJson og = OrderedJson::object();
  og["type"] = p.og.type;
  auto put = [](OrderedJson& obj, const char* key, const auto& value) {
    if (value) obj[key] = *value;
  };
  put(og, "title", p.og.title);
  put(og, "description", p.og.description);
  put(og, "url", p.og.url);
  put(og, "image", p.og.image);
  put(og, "image_width", p.og.image_width);
  put(og, "image_height", p.og.image_height);
  put(og, "image_alt", p.og.image_alt);
  put(og, "site_name", p.og.site_name);
  put(og, "locale", p.og.locale);
  put(og, "locale_alternate", p.og.locale_alternate);
  put(og, "audio", p.og.audio);
  put(og, "video", p.og.video);
  o["og"] = og;
  OrderedJson tw = OrderedJson::object();
  tw["card"] = p.twitter.card;
  put(tw, "title", p.twitter.title);
  put(tw, "description", p.twitter.description);
  put(tw, "image", p.twitter.image);
  put(tw, "image_alt", p.twitter.image_alt);
  put(tw, "site", p.twitter.site);
  put(tw, "creator", p.twitter.creator);
  o["twitter"] = tw;
  if (p.schema_jsonld) o["schema_jsonld"] = OrderedJson(p.schema_jsonld->value());
  for (const auto& [key, value] : p.extra) o[key] = OrderedJson(value);
  return o;
}

class PayloadTextMatchesWriter : public ::testing::TestWithParam<SEOPayload> {};

TEST_P(PayloadTextMatchesWriter, ByteForByte) {
  const auto& p = GetParam();
  const auto reference = reference_object(p);
  EXPECT_EQ(pretty(p), write_json(reference, JsonLayout::Pretty));
  EXPECT_EQ(compact(p), write_json(reference, JsonLayout::Compact));
  // The hashed text, written into a buffer left longer and holding other
  // bytes by an earlier page, and into an empty one.
  std::string used(4096, '#');
  EXPECT_EQ(compact_json_into(p, used), compact(p));
  std::string empty;
  EXPECT_EQ(compact_json_into(p, empty), compact(p));
}

SEOPayload deep_extras() {
  auto p = minimal_payload();
  p.og.locale_alternate = std::vector<std::string>{"x"};
  p.schema_jsonld = JsonDoc::from_value(Json("just a string"));
  p.extra.emplace("a", Json::array({Json::array({1, Json::array()}), Json{{"k", {{"m", -0.0}}}}}));
  p.extra.emplace("b", Json::object());
  p.extra.emplace("line\nbreak", Json("multi\nline"));
  p.extra.emplace("z", Json(1e16));
  return p;
}

INSTANTIATE_TEST_SUITE_P(Payloads, PayloadTextMatchesWriter,
                         ::testing::Values(minimal_payload(), full_payload(), deep_extras()));

// ---------------------------------------------------------------------------
// Dictionary form

TEST(PayloadDict, KeysAreByteWiseAtEveryDepthWithExtrasMerged) {
  auto p = full_payload();
  p.extra.emplace("d", Json(1));
  const Json dict = dict_of(p);
  EXPECT_EQ(keys_of(dict),
            (std::vector<std::string>{"alpha", "canonical", "custom", "d", "description", "og",
                                      "robots", "schema_jsonld", "title", "twitter"}));
  EXPECT_EQ(keys_of(dict["og"]),
            (std::vector<std::string>{"audio", "description", "image", "image_alt", "image_height",
                                      "image_width", "locale", "locale_alternate", "site_name",
                                      "title", "type", "url", "video"}));
  EXPECT_EQ(keys_of(dict["twitter"]),
            (std::vector<std::string>{"card", "creator", "description", "image", "image_alt",
                                      "site", "title"}));
  EXPECT_EQ(keys_of(dict["schema_jsonld"][0]),
            (std::vector<std::string>{"@context", "@type", "headline", "keywords", "rating",
                                      "wordCount"}));
  EXPECT_EQ(dict["og"]["image_width"], Json(1200));
  EXPECT_TRUE(dict["og"]["image_height"].is_number_integer());
  EXPECT_EQ(dict["og"]["locale_alternate"], Json::array({"de_DE", "fr_FR"}));
  EXPECT_TRUE(dict["alpha"].is_null());
}

TEST(PayloadDict, MinimalPayloadHasSixKeysAndNoNull) {
  const Json dict = dict_of(minimal_payload());
  EXPECT_EQ(keys_of(dict), (std::vector<std::string>{"canonical", "description", "og", "robots",
                                                     "title", "twitter"}));
  EXPECT_EQ(dict["og"], (Json{{"type", "website"}, {"title", "T"}, {"url", "https://e.com/"}}));
  EXPECT_EQ(dict["twitter"], (Json{{"card", "summary"}}));
  EXPECT_EQ(compact(minimal_payload()).find("null"), std::string::npos);
}

// The key-order walk of the field tables (what the binding's dict views
// iterate) gives the dictionary form's keys in their order.
template <class Record>
std::vector<std::string> walked_keys() {
  std::vector<std::string> names;
  for_each_field_in_key_order<Record>([&](auto f) { names.emplace_back(decltype(f)::name); });
  return names;
}

TEST(PayloadDict, FieldTablesWalkInTheKeyOrder) {
  auto p = full_payload();
  p.extra.clear();
  const Json dict = dict_of(p);
  EXPECT_EQ(walked_keys<SEOPayload>(), keys_of(dict));
  EXPECT_EQ(walked_keys<OGPayload>(), keys_of(dict["og"]));
  EXPECT_EQ(walked_keys<TwitterPayload>(), keys_of(dict["twitter"]));
}

// Only code can put a field name into extra; the field keeps its key and no
// text carries the key twice.
TEST(PayloadDict, ExtraUnderAFieldNameIsLeftOut) {
  auto p = minimal_payload();
  p.extra.emplace("title", Json("shadow"));
  p.extra.emplace("schema_jsonld", Json(1));
  EXPECT_EQ(dict_of(p), dict_of(minimal_payload()));
  EXPECT_EQ(compact(p), compact(minimal_payload()));
  EXPECT_EQ(pretty(p), pretty(minimal_payload()));
}

// ---------------------------------------------------------------------------
// from_dict

TEST(PayloadFromDict, RoundTripsTheDictionaryForm) {
  for (const auto& p : {minimal_payload(), full_payload(), deep_extras()}) {
    const auto back = SEOPayload::from_dict(dict_of(p));
    ASSERT_TRUE(back) << back.error().message();
    EXPECT_EQ(*back, p);
    EXPECT_EQ(compact(*back), compact(p));
  }
}

TEST(PayloadFromDict, NullSchemaReadsBackAbsent) {
  auto p = minimal_payload();
  p.schema_jsonld = JsonDoc::from_value(Json(nullptr));
  const Json dict = dict_of(p);
  ASSERT_TRUE(dict.contains("schema_jsonld"));
  const auto back = SEOPayload::from_dict(dict);
  ASSERT_TRUE(back);
  EXPECT_FALSE(back->schema_jsonld.has_value());
  EXPECT_EQ(*back, minimal_payload());
  EXPECT_FALSE(dict_of(*back).contains("schema_jsonld"));
  EXPECT_EQ(compact(*back).find("schema_jsonld"), std::string::npos);
}

TEST(PayloadFromDict, UnknownKeysGoToExtraAndAreWrittenLast) {
  Json dict = dict_of(full_payload());
  dict["aaa"] = Json::array({1});
  dict["zzz"] = Json(nullptr);
  const auto back = SEOPayload::from_dict(dict);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->extra.at("aaa"), Json::array({1}));
  EXPECT_TRUE(back->extra.at("zzz").is_null());
  const auto text = compact(*back);
  EXPECT_TRUE(text.ends_with(R"json(}]}],"aaa":[1],"alpha":null,"custom":{"flag":true,"nested":{}},"zzz":null})json"))
      << text;
}

TEST(PayloadFromDict, NullOptionalsAreAbsentAndUnknownSocialKeysDropped) {
  const Json dict = parse(R"json({"canonical":"c","description":"d","robots":"r","title":"t",
      "og":{"type":"website","title":null,"image_width":null,"locale_alternate":null,"other":5,"zz":[]},
      "twitter":{"card":"summary","site":null,"unknown":{"x":1}},
      "schema_jsonld":null})json");
  const auto back = SEOPayload::from_dict(dict);
  ASSERT_TRUE(back) << back.error().message();
  OGPayload og;
  og.type = "website";
  TwitterPayload tw;
  tw.card = "summary";
  EXPECT_EQ(back->og, og);
  EXPECT_EQ(back->twitter, tw);
  EXPECT_FALSE(back->schema_jsonld);
  EXPECT_TRUE(back->extra.empty());
}

TEST(PayloadFromDict, AcceptsTheArrayFormOfTheSocialRecords) {
  const Json dict = parse(R"json({"canonical":"c","description":"d","robots":"r","title":"t",
      "og":["article","T",null,"u","i",1200,630,"alt","site","en_US",["de_DE"],null,"v"],
      "twitter":["summary",null,"D",null,null,"@s","@c"]})json");
  const auto back = SEOPayload::from_dict(dict);
  ASSERT_TRUE(back) << back.error().message();
  const auto& og = back->og;
  EXPECT_EQ(og.type, "article");
  EXPECT_EQ(og.title, "T");
  EXPECT_FALSE(og.description);
  EXPECT_EQ(og.url, "u");
  EXPECT_EQ(og.image, "i");
  EXPECT_EQ(og.image_width, 1200u);
  EXPECT_EQ(og.image_height, 630u);
  EXPECT_EQ(og.image_alt, "alt");
  EXPECT_EQ(og.site_name, "site");
  EXPECT_EQ(og.locale, "en_US");
  EXPECT_EQ(og.locale_alternate, std::vector<std::string>{"de_DE"});
  EXPECT_FALSE(og.audio);
  EXPECT_EQ(og.video, "v");
  const auto& tw = back->twitter;
  EXPECT_EQ(tw.card, "summary");
  EXPECT_FALSE(tw.title);
  EXPECT_EQ(tw.description, "D");
  EXPECT_FALSE(tw.image);
  EXPECT_FALSE(tw.image_alt);
  EXPECT_EQ(tw.site, "@s");
  EXPECT_EQ(tw.creator, "@c");
}

TEST(PayloadFromDict, SizesAcceptSignedAndUnsignedIntegersInRange) {
  Json dict = dict_of(minimal_payload());
  dict["og"]["image_width"] = Json(std::int64_t{4294967295});
  dict["og"]["image_height"] = Json(std::uint64_t{0});
  const auto back = SEOPayload::from_dict(dict);
  ASSERT_TRUE(back) << back.error().message();
  EXPECT_EQ(back->og.image_width, 4294967295u);
  EXPECT_EQ(back->og.image_height, 0u);
}

struct ErrorCase {
  const char* name;
  const char* text;  // the input as JSON text
  const char* message;
};

class PayloadFromDictError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(PayloadFromDictError, FailsWithTheExactMessage) {
  const Json input = parse(GetParam().text);
  const Json before = input;
  const auto r = SEOPayload::from_dict(input);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), ErrorKind::Serialization);
  EXPECT_EQ(r.error().message(), GetParam().message);
  EXPECT_EQ(input, before);
}

// Complete valid parts to combine into inputs.
std::string case_name(const ::testing::TestParamInfo<ErrorCase>& param_info) {
  return param_info.param.name;
}

#define HEAD R"("canonical":"c","description":"d","robots":"r","title":"t")"
#define OG_OK R"("og":{"type":"website"})"
#define TW_OK R"("twitter":{"card":"summary"})"

INSTANTIATE_TEST_SUITE_P(
    TopLevelType, PayloadFromDictError,
    ::testing::Values(
        ErrorCase{"Null", "null", "invalid type: null, expected struct SEOPayload"},
        ErrorCase{"True", "true", "invalid type: boolean `true`, expected struct SEOPayload"},
        ErrorCase{"False", "false", "invalid type: boolean `false`, expected struct SEOPayload"},
        ErrorCase{"Integer", "5", "invalid type: integer `5`, expected struct SEOPayload"},
        ErrorCase{"Negative", "-9223372036854775808",
                  "invalid type: integer `-9223372036854775808`, expected struct SEOPayload"},
        ErrorCase{"Float", "1.5", "invalid type: floating point `1.5`, expected struct SEOPayload"},
        ErrorCase{"WholeFloat", "2.0",
                  "invalid type: floating point `2.0`, expected struct SEOPayload"},
        ErrorCase{"BigFloat", "1e16",
                  "invalid type: floating point `1e+16`, expected struct SEOPayload"},
        ErrorCase{"String", R"("text")", R"(invalid type: string "text", expected struct SEOPayload)"},
        ErrorCase{"Array", "[]", "invalid type: sequence, expected struct SEOPayload"}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    MissingFields, PayloadFromDictError,
    ::testing::Values(
        ErrorCase{"Empty", "{}", "missing field `title`"},
        ErrorCase{"Title", R"({"description":"d","canonical":"c","robots":"r",)" OG_OK "," TW_OK "}",
                  "missing field `title`"},
        ErrorCase{"Description", R"({"title":"t","canonical":"c"})", "missing field `description`"},
        ErrorCase{"Canonical", R"({"title":"t","description":"d",)" OG_OK "}",
                  "missing field `canonical`"},
        ErrorCase{"Robots", R"({"title":"t","description":"d","canonical":"c"})",
                  "missing field `robots`"},
        ErrorCase{"Og", "{" HEAD "," TW_OK "}", "missing field `og`"},
        ErrorCase{"Twitter", "{" HEAD "," OG_OK "}", "missing field `twitter`"},
        ErrorCase{"OgType", "{" HEAD R"(,"og":{"title":"x","typ":"website"},)" TW_OK "}",
                  "missing field `type`"},
        ErrorCase{"TwitterCard", "{" HEAD "," OG_OK R"(,"twitter":{"site":"@s"}})",
                  "missing field `card`"}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    WrongTypes, PayloadFromDictError,
    ::testing::Values(
        ErrorCase{"TitleInteger", R"({"title":5})", "invalid type: integer `5`, expected a string"},
        ErrorCase{"RobotsNull", R"({"robots":null})", "invalid type: null, expected a string"},
        ErrorCase{"DescriptionMap", R"({"description":{}})", "invalid type: map, expected a string"},
        ErrorCase{"OgString", R"({"og":"x"})", R"(invalid type: string "x", expected struct OGPayload)"},
        ErrorCase{"OgNull", R"({"og":null})", "invalid type: null, expected struct OGPayload"},
        ErrorCase{"TwitterBool", R"({"twitter":false})",
                  "invalid type: boolean `false`, expected struct TwitterPayload"},
        ErrorCase{"OgTypeNull", R"({"og":{"type":null}})", "invalid type: null, expected a string"},
        ErrorCase{"OgTitleArray", R"({"og":{"type":"w","title":[]}})",
                  "invalid type: sequence, expected a string"},
        ErrorCase{"WidthNegative", R"({"og":{"type":"w","image_width":-1}})",
                  "invalid value: integer `-1`, expected u32"},
        ErrorCase{"HeightTooLarge", R"({"og":{"type":"w","image_height":4294967296}})",
                  "invalid value: integer `4294967296`, expected u32"},
        ErrorCase{"WidthFloat", R"({"og":{"type":"w","image_width":1.5}})",
                  "invalid type: floating point `1.5`, expected u32"},
        ErrorCase{"WidthWholeFloat", R"({"og":{"type":"w","image_width":640.0}})",
                  "invalid type: floating point `640.0`, expected u32"},
        ErrorCase{"WidthString", R"({"og":{"type":"w","image_width":"640"}})",
                  R"(invalid type: string "640", expected u32)"},
        ErrorCase{"LocalesString", R"({"og":{"type":"w","locale_alternate":"de_DE"}})",
                  R"(invalid type: string "de_DE", expected a sequence)"},
        ErrorCase{"LocalesElement", R"({"og":{"type":"w","locale_alternate":["de_DE",1]}})",
                  "invalid type: integer `1`, expected a string"},
        ErrorCase{"LocalesNullElement", R"({"og":{"type":"w","locale_alternate":[null]}})",
                  "invalid type: null, expected a string"},
        ErrorCase{"TwitterSiteBool", R"({"twitter":{"card":"s","site":true}})",
                  "invalid type: boolean `true`, expected a string"}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    ArrayForm, PayloadFromDictError,
    ::testing::Values(
        ErrorCase{"OgEmpty", R"({"og":[]})",
                  "invalid length 0, expected struct OGPayload with 13 elements"},
        ErrorCase{"OgShort", R"({"og":["w",null,null,null,null,null,null,null,null,null,null,null]})",
                  "invalid length 12, expected struct OGPayload with 13 elements"},
        ErrorCase{"OgLong",
                  R"({"og":["w",null,null,null,null,null,null,null,null,null,null,null,null,1]})",
                  "invalid length 14, expected fewer elements in array"},
        ErrorCase{"TwitterShort", R"({"twitter":["s",null,null,null,null,null]})",
                  "invalid length 6, expected struct TwitterPayload with 7 elements"},
        ErrorCase{"TwitterLong", R"({"twitter":["s",null,null,null,null,null,null,null]})",
                  "invalid length 8, expected fewer elements in array"},
        // Elements are converted in order before the length is judged.
        ErrorCase{"ElementBeforeShortLength", R"({"og":["w",5]})",
                  "invalid type: integer `5`, expected a string"},
        ErrorCase{"ElementBeforeLongLength",
                  R"({"twitter":["s",null,null,null,null,null,[],null]})",
                  "invalid type: sequence, expected a string"},
        ErrorCase{"ArrayTypeNull", R"({"twitter":[null,null,null,null,null,null,null]})",
                  "invalid type: null, expected a string"},
        ErrorCase{"ArrayWidth", R"({"og":["w",null,null,null,null,-7]})",
                  "invalid value: integer `-7`, expected u32"}),
    case_name);

// Keys are read in byte-wise order and each value is checked when reached;
// missing keys only after every present key was well-formed.
INSTANTIATE_TEST_SUITE_P(
    Precedence, PayloadFromDictError,
    ::testing::Values(
        ErrorCase{"FirstBadKeyInKeyOrder", R"({"title":1,"canonical":2,"robots":3})",
                  "invalid type: integer `2`, expected a string"},
        ErrorCase{"TypeErrorBeforeMissing", R"({"twitter":{"card":"s","title":0}})",
                  "invalid type: integer `0`, expected a string"},
        ErrorCase{"NestedMissingAtItsKey", R"({"og":{},"robots":1})", "missing field `type`"},
        ErrorCase{"NestedValueBeforeNestedMissing", R"({"og":{"image_width":-1}})",
                  "invalid value: integer `-1`, expected u32"},
        ErrorCase{"NestedKeyOrder", R"({"og":{"type":1,"image_alt":2,"site_name":3}})",
                  "invalid type: integer `2`, expected a string"},
        ErrorCase{"EarlierKeyBeforeNested", R"({"description":[],"og":{}})",
                  "invalid type: sequence, expected a string"},
        ErrorCase{"ExtrasAndSchemaNeverFail",
                  R"({"aaa":1,"schema_jsonld":5,"zzz":{"og":1},)" OG_OK "," TW_OK "}",
                  "missing field `title`"},
        ErrorCase{"UnknownSocialKeysNeverFail",
                  R"({"og":{"type":"w","image":"i","width":-1},"robots":5,"twitter":{"card":"c","x":[1]}})",
                  "invalid type: integer `5`, expected a string"}),
    case_name);

#undef HEAD
#undef OG_OK
#undef TW_OK

// ---------------------------------------------------------------------------
// Hashing

// The digest of kFullCompact, computed with `printf '%s' '<text>' | sha256sum`.
constexpr const char* kFullDigest = "dbd0e9074c44e97ac7041e375d5e5ebaa909ee04f493a5de4079343ab9dc7ba7";

TEST(PayloadHash, DigestOfTheCompactText) {
  const std::string digest = hash_payload(full_payload());
  EXPECT_EQ(digest, kFullDigest);
  EXPECT_EQ(digest, sha256_hex(kFullCompact));
}

TEST(PayloadHash, EtagIsTheQuotedDigest) {
  const std::string etag = etag_payload(full_payload());
  EXPECT_EQ(etag, std::string("\"") + kFullDigest + "\"");
  EXPECT_EQ(etag.size(), 66u);
}

TEST(PayloadHash, EqualPayloadsShareADigestAndAnExtraChangesIt) {
  EXPECT_EQ(hash_payload(full_payload()), hash_payload(full_payload()));
  auto changed = full_payload();
  changed.extra["custom"] = Json{{"flag", false}, {"nested", Json::object()}};
  EXPECT_NE(changed, full_payload());
  EXPECT_NE(hash_payload(changed), hash_payload(full_payload()));
  auto added = minimal_payload();
  added.extra.emplace("custom", Json(nullptr));
  EXPECT_NE(hash_payload(added), hash_payload(minimal_payload()));
  EXPECT_NE(etag_payload(added), etag_payload(minimal_payload()));
}

// ---------------------------------------------------------------------------
// Equality

TEST(PayloadEquality, EveryFieldCounts) {
  const auto base = full_payload();
  EXPECT_EQ(base, full_payload());
  std::vector<SEOPayload> changed(6, base);
  changed[0].og.image_width.reset();
  changed[1].og.locale_alternate->push_back("x");
  changed[2].twitter.creator = "@other";
  changed[3].schema_jsonld.reset();
  changed[4].schema_jsonld = JsonDoc::from_value(Json(nullptr));
  changed[5].description = "";
  for (const auto& p : changed) EXPECT_NE(p, base);
  // Numbers compare as JSON values: 350 stored signed equals 350 unsigned.
  auto unsigned_count = base;
  Json document = unsigned_count.schema_jsonld->value();
  document[0]["wordCount"] = Json(std::uint64_t{350});
  unsigned_count.schema_jsonld = JsonDoc::from_value(document);
  EXPECT_EQ(unsigned_count, base);
}

}  // namespace
}  // namespace quarlo
