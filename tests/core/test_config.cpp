// Tests of the site configuration: defaults, validation, serialised form.
#include "core/model/config.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace quarlo {
namespace {

// ---- validation ---------------------------------------------------------------

constexpr const char* kHostEmpty = "canonical_host must be a non-empty string";
constexpr const char* kHostOnly = "canonical_host must be host-only (no scheme/path/query)";
constexpr const char* kBaseEmpty = "public_base_url must be a non-empty string";
constexpr const char* kTemplate = "title_template must include '{title}' placeholder";

struct ValidateCase {
  const char* name;
  std::function<void(SEOConfig&)> edit;
  const char* message;  // nullptr: valid
};

void PrintTo(const ValidateCase& c, std::ostream* os) { *os << c.name; }

class Validation : public ::testing::TestWithParam<ValidateCase> {};

TEST_P(Validation, FirstFailingCheckDecides) {
  const auto& c = GetParam();
  SEOConfig config;
  c.edit(config);
  const auto result = validate(config);
  if (c.message == nullptr) {
    EXPECT_TRUE(result) << result.error().message();
    return;
  }
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind(), ErrorKind::InvalidConfig);
  EXPECT_EQ(result.error().message(), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, Validation,
    ::testing::Values(
        ValidateCase{"DefaultConfig", [](SEOConfig&) {}, nullptr},
        ValidateCase{"HostWithPort", [](SEOConfig& c) { c.canonical_host = "example.com:8080"; },
                     nullptr},
        ValidateCase{"WhitespaceHost", [](SEOConfig& c) { c.canonical_host = " \t "; }, nullptr},
        ValidateCase{"EmptyHost", [](SEOConfig& c) { c.canonical_host = ""; }, kHostEmpty},
        ValidateCase{"EmptyHostAndBase",
                     [](SEOConfig& c) {
                       c.canonical_host = "";
                       c.public_base_url = "";
                     },
                     kHostEmpty},
        ValidateCase{"HostIsUrl",
                     [](SEOConfig& c) { c.canonical_host = "https://example.com/"; }, kHostOnly},
        ValidateCase{"HostPath", [](SEOConfig& c) { c.canonical_host = "example.com/blog"; },
                     kHostOnly},
        ValidateCase{"HostQuery", [](SEOConfig& c) { c.canonical_host = "example.com?a=1"; },
                     kHostOnly},
        ValidateCase{"HostFragment", [](SEOConfig& c) { c.canonical_host = "#"; }, kHostOnly},
        ValidateCase{"HostOnlyBeatsBase",
                     [](SEOConfig& c) {
                       c.canonical_host = "example.com/";
                       c.public_base_url = "";
                       c.title_template = "";
                     },
                     kHostOnly},
        ValidateCase{"EmptyBase", [](SEOConfig& c) { c.public_base_url = ""; }, kBaseEmpty},
        ValidateCase{"EmptyBaseBeatsTemplate",
                     [](SEOConfig& c) {
                       c.public_base_url = "";
                       c.title_template = "x";
                     },
                     kBaseEmpty},
        ValidateCase{"UnparsableBaseIsLaterConcern",
                     [](SEOConfig& c) { c.public_base_url = "not a url"; }, nullptr},
        ValidateCase{"TemplateWithText",
                     [](SEOConfig& c) { c.title_template = "Read {title} | Site"; }, nullptr},
        ValidateCase{"TemplateAbsent", [](SEOConfig& c) { c.title_template.reset(); }, nullptr},
        ValidateCase{"TemplateEmpty", [](SEOConfig& c) { c.title_template = ""; }, kTemplate},
        ValidateCase{"TemplateCapitalT", [](SEOConfig& c) { c.title_template = "{Title}"; },
                     kTemplate},
        ValidateCase{"TemplateBroken", [](SEOConfig& c) { c.title_template = "{title"; },
                     kTemplate}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// ---- defaults -----------------------------------------------------------------

TEST(DefaultSchemaTypeMap, KeysAreEntityTypeNamesExceptOther) {
  const SchemaTypeMap map = default_schema_type_map();
  EXPECT_EQ(map.size(), 10u);
  EXPECT_FALSE(map.contains("other"));
  for (const auto& [key, value] : map) {
    EXPECT_TRUE(entity_type_from_str(key)) << key;
    EXPECT_TRUE(value.has_value()) << key;
  }
  EXPECT_EQ(map.at("local_business"), "LocalBusiness");
  EXPECT_EQ(map.at("faq"), "FAQPage");
}

// ---- serialised forms ---------------------------------------------------------

TEST(ConfigJson, DefaultConfig) {
  EXPECT_EQ(
      to_json(SEOConfig{}).dump(),
      R"({"canonical_host":"localhost","public_base_url":"http://localhost",)"
      R"("url_policy":{"enforce_https":true,"lowercase_paths":false,"trailing_slash":"Never",)"
      R"("collapse_duplicate_slashes":true,"strip_tracking_params":true,)"
      R"("allowed_query_params":[],"extra_tracking_params":[]},)"
      R"("default_robots":{"index":true,"follow":true},"title_template":"{title}",)"
      R"("search_robots":{"index":false,"follow":true},)"
      R"("schema_type_map":{"faq":"FAQPage","home":"WebSite","local_business":"LocalBusiness",)"
      R"("organization":"Organization","page":"WebPage","post":"Article","product":"Product",)"
      R"("search":"SearchResultsPage","taxonomy":"CollectionPage","video":"VideoObject"},)"
      R"("auto_generate_schema":true,"emit_warnings":false})");
}

TEST(ConfigJson, AbsentTemplateIsNullAndAbsentSchemaTypeIsNull) {
  SEOConfig config;
  config.title_template.reset();
  config.schema_type_map = {{"post", std::nullopt}, {"home", "WebSite"}};
  const OrderedJson j = to_json(config);
  ASSERT_TRUE(j.contains("title_template"));
  EXPECT_TRUE(j["title_template"].is_null());
  EXPECT_EQ(j["schema_type_map"].dump(), R"({"home":"WebSite","post":null})");
}

TEST(ConfigJson, EveryFieldInDeclarationOrder) {
  SEOConfig c;
  c.url_policy.trailing_slash = TrailingSlash::Always;
  c.url_policy.allowed_query_params = {"page", "q"};
  c.url_policy.extra_tracking_params = {"ref"};
  c.default_og_image = SEOImage{"https://x/og.png", 1200, std::nullopt, std::nullopt};
  c.site_name = "Site";
  c.publisher_name = "Pub";
  c.publisher_logo = "https://x/logo.png";
  c.locale = "en_US";
  c.locale_alternate = std::vector<std::string>{"fr_FR", "de_DE"};
  c.twitter_site = "@site";
  c.emit_warnings = true;
  c.search_url_template = "https://x/search?q={search_term_string}";

  const OrderedJson j = to_json(c);
  std::vector<std::string> keys;
  for (const auto& item : j.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{
                      "canonical_host", "public_base_url", "url_policy", "default_robots",
                      "default_og_image", "site_name", "title_template", "search_robots",
                      "schema_type_map", "auto_generate_schema", "publisher_name",
                      "publisher_logo", "locale", "locale_alternate", "twitter_site",
                      "emit_warnings", "search_url_template"}));
  EXPECT_EQ(j["url_policy"]["trailing_slash"], "Always");
  EXPECT_EQ(j["url_policy"]["allowed_query_params"].dump(), R"(["page","q"])");
  EXPECT_EQ(j["default_og_image"].dump(), R"({"url":"https://x/og.png","width":1200})");
  EXPECT_EQ(j["locale_alternate"].dump(), R"(["fr_FR","de_DE"])");
}

TEST(ConfigJson, EmptyAlternateLocalesArePresent) {
  SEOConfig c;
  c.locale_alternate.emplace();
  EXPECT_EQ(to_json(c)["locale_alternate"].dump(), "[]");
}

}  // namespace
}  // namespace quarlo
