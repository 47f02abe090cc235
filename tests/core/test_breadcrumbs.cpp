// Tests of breadcrumb lists and the public URL resolver.
#include "core/jsonld/breadcrumbs.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarlo {
namespace {

SEOConfig site(std::string base = "https://example.com/") {
  SEOConfig c;
  c.canonical_host = "www.example.com";
  c.public_base_url = std::move(base);
  return c;
}

std::string compact(const Json& value) { return write_json(value, JsonLayout::Compact); }

TEST(BreadcrumbList, ItemsInOrderWithCanonicalUrls) {
  const std::vector<Breadcrumb> crumbs = {
      {"Home", "/"},
      {" Blog <b> ", "blog//posts/?utm_source=x&page=2#top"},
      {"", "https://other.example:8080/Hello/?ref=1"},
      {"Home", "/"},
  };
  auto list = build_breadcrumb_list(crumbs, site());
  ASSERT_TRUE(list) << list.error().display();
  EXPECT_EQ(compact(*list),
            R"({"@context":"https://schema.org","@type":"BreadcrumbList","itemListElement":[)"
            R"({"@type":"ListItem","item":"https://www.example.com/","name":"Home","position":1},)"
            R"({"@type":"ListItem","item":"https://www.example.com/blog/posts?page=2","name":" Blog <b> ","position":2},)"
            R"({"@type":"ListItem","item":"https://www.example.com/Hello?ref=1","name":"","position":3},)"
            R"({"@type":"ListItem","item":"https://www.example.com/","name":"Home","position":4}]})");
}

// The list's text is written directly: it must be the canonical text of its
// value, with URLs that need escapes (a relative path is taken verbatim) and
// after text already in the buffer.
TEST(BreadcrumbList, TextIsCanonicalAndAppended) {
  const std::vector<Breadcrumb> crumbs = {{"Q\"", "/a\"b\\c\x01"}, {"\xC3\xA9", "/\xC3\xA9t\xC3\xA9/"}, {"x", "/x"}};
  const SEOConfig config = site();
  const PublicUrlResolver resolver(config);
  std::string text = "prefix";
  ASSERT_TRUE(append_breadcrumb_list(text, crumbs, resolver));
  ASSERT_TRUE(text.starts_with("prefix"));
  text.erase(0, 6);
  auto value = parse_json(text);
  ASSERT_TRUE(value) << text;
  EXPECT_EQ(text, compact(*value));
  for (std::size_t i = 0; i < crumbs.size(); ++i) {
    EXPECT_EQ((*value)["itemListElement"][i]["item"], *resolver.resolve(crumbs[i].url)) << i;
  }
}

TEST(BreadcrumbList, EmptyTrailGivesEmptyListEvenUnderBadBase) {
  for (const std::string base : {"https://example.com", "not a url"}) {
    auto list = build_breadcrumb_list({}, site(base));
    ASSERT_TRUE(list) << base;
    EXPECT_EQ(compact(*list), R"({"@context":"https://schema.org","@type":"BreadcrumbList","itemListElement":[]})");
  }
}

TEST(BreadcrumbList, FirstUnresolvableCrumbEndsTheCall) {
  const std::vector<Breadcrumb> blank_middle = {{"A", "/a"}, {"B", " \t "}, {"C", "/c"}};
  auto list = build_breadcrumb_list(blank_middle, site());
  ASSERT_FALSE(list);
  EXPECT_EQ(list.error(), QuarloError::invalid_url("url_or_path must be a non-empty string"));

  auto bad_base = build_breadcrumb_list(blank_middle, site("/relative"));
  ASSERT_FALSE(bad_base);
  EXPECT_EQ(bad_base.error(), QuarloError::invalid_config("invalid public_base_url: relative URL without a base"));
}

TEST(BreadcrumbList, ResolverOverloadMatchesConfigOverload) {
  const SEOConfig config = site("https://example.com/shop/");
  const std::vector<Breadcrumb> crumbs = {{"Shop", "/shop/"}, {"Item", "items/1?x=1"}};
  const PublicUrlResolver resolver(config);
  auto via_resolver = build_breadcrumb_list(crumbs, resolver);
  auto via_config = build_breadcrumb_list(crumbs, config);
  ASSERT_TRUE(via_resolver && via_config);
  EXPECT_EQ(*via_resolver, *via_config);
  EXPECT_EQ((*via_config)["itemListElement"][1]["item"], "https://www.example.com/shop/items/1?x=1");
}

// The resolver must give exactly what normalize_public_url gives, results and
// errors alike, for every input and base.
TEST(PublicUrlResolver, AgreesWithNormalizePublicUrl) {
  URLPolicy http_kept;
  http_kept.enforce_https = false;
  http_kept.trailing_slash = TrailingSlash::Always;
  std::vector<SEOConfig> configs = {site(), site("https://example.com/shop/"), site("http://example.com:8080/a"),
                                    site("not a url"), site("https://"), site("")};
  configs[2].url_policy = http_kept;
  const std::vector<std::string_view> inputs = {
      "",      " \t\n",      "/",        "blog/hello/", "/shop",
      "/shop/x", "?a=1",     "/a//b?utm_source=x&id=7#top",
      "https://other.example/Path/?fbclid=1&q=2#f", "mailto:someone@example.com", "https://[::1",
      "\xE3\x80\x80/x\xC2\xA0"};
  for (const SEOConfig& config : configs) {
    const PublicUrlResolver resolver(config);
    for (const std::string_view input : inputs) {
      const auto expected = normalize_public_url(input, config);
      const auto actual = resolver.resolve(input);
      ASSERT_EQ(actual.has_value(), expected.has_value()) << config.public_base_url << " | " << input;
      if (expected) {
        EXPECT_EQ(*actual, *expected) << config.public_base_url << " | " << input;
      } else {
        EXPECT_EQ(actual.error(), expected.error()) << config.public_base_url << " | " << input;
      }
    }
  }
  // Blank input is reported before a bad base URL.
  EXPECT_EQ(PublicUrlResolver(configs[3]).resolve(" ").error().kind(), ErrorKind::InvalidUrl);
  EXPECT_EQ(PublicUrlResolver(configs[3]).resolve("/x").error().kind(), ErrorKind::InvalidConfig);
}

}  // namespace
}  // namespace quarlo
