// Tests of route and public URL normalisation.
#include "core/url/url.hpp"

#include <gtest/gtest.h>

#include <string>

#include "core/base/unicode.hpp"

namespace quarlo {
namespace {

SEOConfig make_config(std::string base = "https://example.com", URLPolicy policy = {}) {
  SEOConfig c;
  c.canonical_host = "www.example.com";
  c.public_base_url = std::move(base);
  c.url_policy = std::move(policy);
  return c;
}

URLPolicy policy_with(TrailingSlash rule, bool collapse = true, bool lower = false) {
  URLPolicy p;
  p.trailing_slash = rule;
  p.collapse_duplicate_slashes = collapse;
  p.lowercase_paths = lower;
  return p;
}

struct PathCase {
  std::string_view input;
  URLPolicy policy;
  std::string_view expected;
};

class NormalizePath : public ::testing::TestWithParam<PathCase> {};

TEST_P(NormalizePath, ShapesPathUnderPolicy) {
  const auto& c = GetParam();
  EXPECT_EQ(normalize_path(c.input, c.policy), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NormalizePath,
    ::testing::Values(
        PathCase{"", {}, "/"}, PathCase{" \t\n ", {}, "/"}, PathCase{"blog/x/", {}, "/blog/x"},
        PathCase{"\xE3\x80\x80/a\xC2\xA0", {}, "/a"},  // Unicode white space trimmed
        PathCase{"/a//b///c", {}, "/a/b/c"},
        PathCase{"/a//b", policy_with(TrailingSlash::Never, false), "/a//b"},
        PathCase{"/a", policy_with(TrailingSlash::Always), "/a/"},
        PathCase{"/a/", policy_with(TrailingSlash::Always), "/a/"},
        PathCase{"/a///", policy_with(TrailingSlash::Never, false), "/a"},
        PathCase{"///", policy_with(TrailingSlash::Never, false), ""},
        PathCase{"/", policy_with(TrailingSlash::Never), "/"},
        PathCase{"/a//", policy_with(TrailingSlash::Preserve, false), "/a//"},
        PathCase{"/Blog/%2F/\xC3\x89T\xC3\x89", policy_with(TrailingSlash::Preserve, true, true),
                 "/blog/%2f/\xC3\xA9t\xC3\xA9"},
        PathCase{"/A?Q#F", policy_with(TrailingSlash::Preserve, true, false), "/A?Q#F"}));

struct PublicCase {
  std::string_view input;
  std::string base;
  URLPolicy policy;
  std::string_view expected;
};

class NormalizePublicUrl : public ::testing::TestWithParam<PublicCase> {};

TEST_P(NormalizePublicUrl, ResolvesToCanonicalUrl) {
  const auto& c = GetParam();
  auto r = normalize_public_url(c.input, make_config(c.base, c.policy));
  ASSERT_TRUE(r) << r.error().display();
  EXPECT_EQ(*r, c.expected);
}

URLPolicy allowed(std::vector<std::string> names) {
  URLPolicy p;
  p.allowed_query_params = std::move(names);
  return p;
}

URLPolicy no_strip() {
  URLPolicy p;
  p.strip_tracking_params = false;
  return p;
}

URLPolicy http_ok() {
  URLPolicy p;
  p.enforce_https = false;
  return p;
}

URLPolicy extra_tracking() {
  URLPolicy p;
  p.extra_tracking_params = {"ref"};
  return p;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NormalizePublicUrl,
    ::testing::Values(
        PublicCase{"blog/hello/", "https://example.com", {}, "https://www.example.com/blog/hello"},
        PublicCase{"/blog/hello-world/", "https://example.com/", {}, "https://www.example.com/blog/hello-world"},
        PublicCase{"http://other.org:8080/A//b/?utm_source=x&k=1#frag", "https://example.com", {},
                   "https://www.example.com/A/b?k=1"},
        PublicCase{"/a//b?utm_source=x&id=7#top", "https://example.com", {}, "https://www.example.com/a/b?id=7"},
        PublicCase{"/p?utm_source=x&gclid=y", "https://example.com", {}, "https://www.example.com/p"},
        PublicCase{"?a=1", "https://example.com/shop/", {}, "https://www.example.com/shop?a=1"},
        PublicCase{"/shop", "https://example.com/shop/", {}, "https://www.example.com/shop"},
        PublicCase{"/shop/item", "https://example.com/shop", {}, "https://www.example.com/shop/item"},
        PublicCase{"/shopping", "https://example.com/shop", {}, "https://www.example.com/shop/shopping"},
        PublicCase{"item", "https://example.com/shop", {}, "https://www.example.com/shop/item"},
        PublicCase{"/p?page=2&ref=home", "https://example.com", allowed({"page"}), "https://www.example.com/p?page=2"},
        PublicCase{"/p?utm_source=x&page=2", "https://example.com", allowed({"utm_source"}),
                   "https://www.example.com/p?utm_source=x"},
        PublicCase{"/p?utm_source=x&&a=1&=v", "https://example.com", no_strip(),
                   "https://www.example.com/p?utm_source=x&a=1"},
        PublicCase{"/p?REF=1&b=2", "https://example.com", extra_tracking(), "https://www.example.com/p?b=2"},
        PublicCase{"/x", "http://example.com:8080/", http_ok(), "http://www.example.com/x"},
        PublicCase{"/x", "http://example.com/", {}, "https://www.example.com/x"},
        // an absolute URL contributes its parsed, percent-encoded path and query
        PublicCase{"https://e.org/a b/../c?q=\"x\"", "https://example.com", {}, "https://www.example.com/c?q=%22x%22"},
        // not an absolute URL: used as a raw path, nothing encoded
        PublicCase{"/a b/../c", "https://example.com", {}, "https://www.example.com/a b/../c"}));

TEST(NormalizePublicUrlErrors, BlankInputFailsBeforeBaseIsLookedAt) {
  auto r = normalize_public_url(" \t", make_config("not a url"));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), QuarloError::invalid_url("url_or_path must be a non-empty string"));
  EXPECT_EQ(r.error().display(), "invalid URL: url_or_path must be a non-empty string");
}

TEST(NormalizePublicUrlErrors, UnparsableBaseUrlIsAConfigurationError) {
  auto r = normalize_public_url("/a", make_config("example.com"));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), QuarloError::invalid_config("invalid public_base_url: relative URL without a base"));
  auto r2 = normalize_public_url("/a", make_config("https://"));
  ASSERT_FALSE(r2);
  EXPECT_EQ(r2.error(), QuarloError::invalid_config("invalid public_base_url: empty host"));
}

TEST(NormalizePublicUrl, CanonicalHostIsWrittenVerbatim) {
  SEOConfig c = make_config();
  c.canonical_host = "WWW.Example.com:8443";
  EXPECT_EQ(*normalize_public_url("/x", c), "https://WWW.Example.com:8443/x");
}

TEST(FilterQuery, LargeAllowedListBehavesLikeSmallOne) {
  URLPolicy p;
  for (int i = 0; i < 20; ++i) p.allowed_query_params.push_back("k" + std::to_string(i));
  EXPECT_EQ(filter_query("k3=1&x=2&k19=3&k%31=4", p), "k3=1&k19=3&k%31=4");
}

// The path shaped step by step: trimmed, led by "/", slash runs collapsed,
// then lower-cased as a whole.
std::string reference_path(std::string_view path, bool collapse, bool lower) {
  const std::string_view trimmed = trim(path);
  std::string out;
  if (trimmed.empty() || trimmed.front() != '/') out += '/';
  for (const char c : trimmed) {
    if (collapse && c == '/' && out.back() == '/') continue;
    out += c;
  }
  return lower ? to_lower(out) : out;
}

// Paths of every length up to three blocks with one character of interest at
// every place (paths are checked sixteen bytes at a time, the last block
// overlapping), under every combination of the two rules.
TEST(NormalizePathPlaces, EveryLengthAndPlaceAgreesWithTheStepByStepPath) {
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      for (const std::string_view special : {"/", "//", "A", "Z", "@", "[", "\xc3\x89", "\xc3", " "}) {
        std::string path = "/" + std::string(length, 'a');
        path.replace(at, at < path.size() ? 1 : 0, special);
        for (const bool collapse : {false, true}) {
          for (const bool lower : {false, true}) {
            ASSERT_EQ(normalize_path(path, policy_with(TrailingSlash::Preserve, collapse, lower)),
                      reference_path(path, collapse, lower))
                << path << " collapse " << collapse << " lower " << lower;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace quarlo

namespace quarlo {
namespace {

// A base URL parsed before resolves exactly as one parsed on every call,
// errors included (and still only at the call); a PublicBase of another
// base URL is not used.
TEST(PublicBase, ResolvesAsTheConfigurationAlone) {
  const std::string_view bases[] = {"https://example.com", "http://example.com:8080/shop/", "example.com",
                                    "https://", "https://exa mple.com", "https://[::1"};
  const std::string_view inputs[] = {"/a//b/?utm_source=x&id=7#top", "blog/post", "?a=1", " ",
                                     "https://other.example/x?fbclid=1"};
  const PublicBase other("https://other.example/elsewhere/");
  for (const std::string_view base_url : bases) {
    const SEOConfig config = make_config(std::string(base_url));
    const PublicBase base(base_url);
    for (const std::string_view input : inputs) {
      SCOPED_TRACE(std::string(base_url) + " | " + std::string(input));
      const auto expected = normalize_public_url(input, config);
      for (const PublicBase* given : {&base, &other}) {
        const auto got = normalize_public_url(input, config, given);
        ASSERT_EQ(static_cast<bool>(got), static_cast<bool>(expected));
        if (expected) {
          EXPECT_EQ(*got, *expected);
        } else {
          EXPECT_EQ(got.error(), expected.error());
        }
      }
    }
  }
}

}  // namespace
}  // namespace quarlo
