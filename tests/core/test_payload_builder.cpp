// Tests of the payload builder.
#include "core/payload/builder.hpp"

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "core/payload/digest.hpp"
#include "core/jsonld/jsonld.hpp"

namespace quarlo {
namespace {

SEOConfig site() {
  SEOConfig c;
  c.canonical_host = "example.com";
  c.public_base_url = "https://example.com";
  c.title_template.reset();
  return c;
}

SEOEntity post(std::optional<std::string> title = "Post") {
  SEOEntity e;
  e.entity_type = EntityType::Post;
  e.title = std::move(title);
  return e;
}

SEOImage image(std::string url, std::optional<std::string> alt = std::nullopt) {
  SEOImage i;
  i.url = std::move(url);
  i.alt = std::move(alt);
  return i;
}

// One build with the three inputs shaped by a case.
struct Inputs {
  SEOEntity entity = post();
  SEOConfig config = site();
  SEOOverrides overrides;
  std::string route = "/blog/post";
};

using Shape = std::function<void(Inputs&)>;

SEOPayload build(const Shape& shape) {
  Inputs in;
  shape(in);
  auto r = build_seo_payload_with_overrides(in.entity, in.route, in.config, &in.overrides);
  EXPECT_TRUE(r) << (r ? "" : r.error().display());
  return r ? std::move(r).value() : SEOPayload{};
}

// ---- precedence chains -------------------------------------------------------

struct FieldCase {
  const char* name;
  Shape shape;
  std::function<std::optional<std::string>(const SEOPayload&)> field;
  std::optional<std::string> expected;
};

std::string PrintName(const ::testing::TestParamInfo<FieldCase>& param_info) { return param_info.param.name; }

class Chains : public ::testing::TestWithParam<FieldCase> {};

TEST_P(Chains, FirstUsableCandidateWins) {
  const auto& c = GetParam();
  EXPECT_EQ(c.field(build(c.shape)), c.expected);
}

auto title = [](const SEOPayload& p) -> std::optional<std::string> { return p.title; };
auto description = [](const SEOPayload& p) -> std::optional<std::string> { return p.description; };
auto og_title = [](const SEOPayload& p) { return p.og.title; };
auto og_description = [](const SEOPayload& p) { return p.og.description; };
auto twitter_title = [](const SEOPayload& p) { return p.twitter.title; };
auto twitter_description = [](const SEOPayload& p) { return p.twitter.description; };
auto card = [](const SEOPayload& p) -> std::optional<std::string> { return p.twitter.card; };
auto og_type = [](const SEOPayload& p) -> std::optional<std::string> { return p.og.type; };
auto robots = [](const SEOPayload& p) -> std::optional<std::string> { return p.robots; };
auto canonical = [](const SEOPayload& p) -> std::optional<std::string> { return p.canonical; };

const std::string kLongBody = "<p>" + std::string(170, 'a') + "</p>";

INSTANTIATE_TEST_SUITE_P(
    Builder, Chains,
    ::testing::Values(
        // title
        FieldCase{"TitleFallback", [](Inputs& in) { in.entity.title.reset(); }, title, "Untitled"},
        FieldCase{"TitleTemplateTrimsFirst",
                  [](Inputs& in) {
                    in.entity.title = "  Hello  ";
                    in.config.title_template = "{title} | Site";
                  },
                  title, "Hello | Site"},
        FieldCase{"TitleTemplateSkipped",
                  [](Inputs& in) {
                    in.entity.title = "  Hello  ";
                    in.config.title_template = "{title} | Site";
                    in.overrides.skip_title_template = true;
                  },
                  title, "Hello"},
        FieldCase{"TitleOverrideGoesThroughTemplate",
                  [](Inputs& in) {
                    in.overrides.meta_title = "Meta";
                    in.config.title_template = "{title} | Site";
                  },
                  title, "Meta | Site"},
        FieldCase{"TitleEveryPlaceholder",
                  [](Inputs& in) { in.config.title_template = "{title} - {title}"; }, title, "Post - Post"},
        FieldCase{"TitleTemplateWithoutPlaceholder",
                  [](Inputs& in) { in.config.title_template = "Fixed"; }, title, "Fixed"},
        FieldCase{"TitleUntitledThroughTemplate",
                  [](Inputs& in) {
                    in.entity.title = " \t";
                    in.config.title_template = "{title} | Site";
                  },
                  title, "Untitled | Site"},
        FieldCase{"TitleBlankOverrideSkipped", [](Inputs& in) { in.overrides.meta_title = "   "; }, title,
                  "Post"},
        FieldCase{"TitleOtherPlaceholdersKept",
                  [](Inputs& in) { in.config.title_template = "{title} | {site_name}"; }, title,
                  "Post | {site_name}"},
        // description
        FieldCase{"DescriptionOverride",
                  [](Inputs& in) {
                    in.overrides.meta_description = " Meta ";
                    in.entity.excerpt = "Excerpt";
                  },
                  description, "Meta"},
        FieldCase{"DescriptionExcerpt", [](Inputs& in) { in.entity.excerpt = "\xC2\xA0" "Excerpt"; }, description,
                  "Excerpt"},
        FieldCase{"DescriptionSnippetAfterEmptyExcerpt",
                  [](Inputs& in) {
                    in.entity.excerpt = "";
                    in.entity.body_html = kLongBody;
                  },
                  description, std::string(157, 'a') + "..."},
        FieldCase{"DescriptionEmpty", [](Inputs&) {}, description, ""},
        FieldCase{"DescriptionBodyWithoutText",
                  [](Inputs& in) { in.entity.body_html = "<p> </p><script>x</script>"; }, description, ""},
        // social texts
        FieldCase{"OgTitleFromTitle", [](Inputs& in) { in.config.title_template = "{title} | S"; }, og_title,
                  "Post | S"},
        FieldCase{"OgTitleOverride", [](Inputs& in) { in.overrides.og_title = " OG "; }, og_title, "OG"},
        FieldCase{"OgDescriptionAbsentWhenEmpty", [](Inputs&) {}, og_description, std::nullopt},
        FieldCase{"TwitterTitleFromOgOverride", [](Inputs& in) { in.overrides.og_title = "OG"; },
                  twitter_title, "OG"},
        FieldCase{"TwitterTitleOverride",
                  [](Inputs& in) {
                    in.overrides.og_title = "OG";
                    in.overrides.twitter_title = "TW";
                  },
                  twitter_title, "TW"},
        FieldCase{"TwitterDescriptionFromOg", [](Inputs& in) { in.overrides.og_description = "D"; },
                  twitter_description, "D"},
        FieldCase{"TwitterDescriptionBlankOverride",
                  [](Inputs& in) {
                    in.entity.excerpt = "E";
                    in.overrides.twitter_description = "  ";
                  },
                  twitter_description, "E"},
        // card and type
        FieldCase{"CardDefaultWithoutImage", [](Inputs&) {}, card, "summary_large_image"},
        FieldCase{"CardOverrideTrimmed", [](Inputs& in) { in.overrides.twitter_card = " summary "; }, card,
                  "summary"},
        FieldCase{"CardBlankOverride", [](Inputs& in) { in.overrides.twitter_card = ""; }, card,
                  "summary_large_image"},
        FieldCase{"OgTypeVideo", [](Inputs& in) { in.entity.entity_type = EntityType::Video; }, og_type,
                  "article"},
        FieldCase{"OgTypePage", [](Inputs& in) { in.entity.entity_type = EntityType::Page; }, og_type,
                  "website"},
        FieldCase{"OgTypeProduct", [](Inputs& in) { in.entity.entity_type = EntityType::Product; }, og_type,
                  "website"},
        // robots
        FieldCase{"RobotsOverride",
                  [](Inputs& in) {
                    Robots r;
                    r.index = false;
                    r.follow = false;
                    in.overrides.robots = r;
                    in.entity.status = "published";
                  },
                  robots, "noindex,nofollow"},
        FieldCase{"RobotsSearchWhateverStatus",
                  [](Inputs& in) {
                    in.entity.entity_type = EntityType::Search;
                    in.entity.status = "pending";
                  },
                  robots, "noindex,follow"},
        FieldCase{"RobotsDefaultWithoutStatus",
                  [](Inputs& in) { in.config.default_robots.max_snippet = 50; }, robots,
                  "index,follow,max-snippet:50"},
        FieldCase{"RobotsPublishedAnyCase",
                  [](Inputs& in) {
                    in.entity.status = "PubLished";
                    in.config.default_robots.max_snippet = 50;
                  },
                  robots, "index,follow"},
        FieldCase{"RobotsPending", [](Inputs& in) { in.entity.status = "pending"; }, robots, "noindex,follow"},
        FieldCase{"RobotsStatusNotTrimmed", [](Inputs& in) { in.entity.status = " published"; }, robots,
                  "noindex,follow"},
        // canonical
        FieldCase{"CanonicalFromRoute", [](Inputs& in) { in.route = "/Blog//Post/?utm_source=x&a=1"; },
                  canonical, "https://example.com/Blog/Post?a=1"},
        FieldCase{"CanonicalPathBeatsRoute", [](Inputs& in) { in.overrides.canonical_path = "/other"; },
                  canonical, "https://example.com/other"},
        FieldCase{"CanonicalOverrideKeptAsWritten",
                  [](Inputs& in) {
                    in.overrides.canonical_url = "  https://WWW.Example.com/A?utm_source=x  ";
                    in.overrides.canonical_path = "/ignored";
                  },
                  canonical, "https://WWW.Example.com/A?utm_source=x"}),
    PrintName);

// ---- canonical override failures ---------------------------------------------------

struct FailureCase {
  const char* name;
  Shape shape;
  ErrorKind kind;
  std::string message;
};

std::string PrintFailure(const ::testing::TestParamInfo<FailureCase>& param_info) {
  return param_info.param.name;
}

class Failures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Failures, EndTheBuildWithTheError) {
  const auto& c = GetParam();
  Inputs in;
  c.shape(in);
  auto r = build_seo_payload_with_overrides(in.entity, in.route, in.config, &in.overrides);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), c.kind);
  EXPECT_EQ(r.error().message(), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Builder, Failures,
    ::testing::Values(
        FailureCase{"OverrideFtp", [](Inputs& in) { in.overrides.canonical_url = "ftp://example.com/x"; },
                    ErrorKind::InvalidUrl, "canonical_url override must use http or https"},
        FailureCase{"OverrideRelative", [](Inputs& in) { in.overrides.canonical_url = "/relative"; },
                    ErrorKind::InvalidUrl,
                    "canonical_url override must be an absolute URL: relative URL without a base"},
        FailureCase{"OverrideBlank", [](Inputs& in) { in.overrides.canonical_url = "   "; },
                    ErrorKind::InvalidUrl,
                    "canonical_url override must be an absolute URL: relative URL without a base"},
        FailureCase{"OverrideBadPort", [](Inputs& in) { in.overrides.canonical_url = "https://a.com:99999/"; },
                    ErrorKind::InvalidUrl, "canonical_url override must be an absolute URL: invalid port number"},
        FailureCase{"BlankRoute", [](Inputs& in) { in.route = " "; }, ErrorKind::InvalidUrl,
                    "url_or_path must be a non-empty string"},
        FailureCase{"BadBaseUrl", [](Inputs& in) { in.config.public_base_url = "nope"; },
                    ErrorKind::InvalidConfig, "invalid public_base_url: relative URL without a base"},
        FailureCase{"BadBreadcrumbAfterGoodOne",
                    [](Inputs& in) {
                      in.entity.breadcrumbs = std::vector<Breadcrumb>{{"Home", "/"}, {"Bad", "  "}};
                    },
                    ErrorKind::InvalidUrl, "url_or_path must be a non-empty string"}),
    PrintFailure);

TEST(Builder, OverrideSkipsTheBaseUrlWhenNothingElseResolves) {
  Inputs in;
  in.config.public_base_url = "nope";
  in.overrides.canonical_url = "https://example.com/x";
  auto r = build_seo_payload_with_overrides(in.entity, in.route, in.config, &in.overrides);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->canonical, "https://example.com/x");
}

// ---- images and copied fields -------------------------------------------------------

TEST(Builder, ImagesComeWholeFromOneSource) {
  const SEOPayload p = build([](Inputs& in) {
    SEOImage featured = image("/featured.png", "Featured");
    featured.width = 1200;
    featured.height = 630;
    in.entity.featured_image = featured;
    in.config.default_og_image = image("/default.png", "Default");
    in.overrides.twitter_image = image("/tw.png");
  });
  EXPECT_EQ(p.og.image, "/featured.png");
  EXPECT_EQ(p.og.image_width, 1200u);
  EXPECT_EQ(p.og.image_height, 630u);
  EXPECT_EQ(p.og.image_alt, "Featured");
  EXPECT_EQ(p.twitter.image, "/tw.png");
  EXPECT_EQ(p.twitter.image_alt, std::nullopt);  // never borrowed from the Open Graph image
}

TEST(Builder, OgImageOverrideReachesBothRecords) {
  const SEOPayload p = build([](Inputs& in) {
    in.entity.featured_image = image("/featured.png");
    in.overrides.og_image = image("https://cdn.example.net/o.png", "O");
  });
  EXPECT_EQ(p.og.image, "https://cdn.example.net/o.png");
  EXPECT_EQ(p.twitter.image, "https://cdn.example.net/o.png");
  EXPECT_EQ(p.twitter.image_alt, "O");
}

TEST(Builder, DefaultImageWhenNothingElse) {
  const SEOPayload p = build([](Inputs& in) { in.config.default_og_image = image("/d.png"); });
  EXPECT_EQ(p.og.image, "/d.png");
  EXPECT_EQ(p.og.image_width, std::nullopt);
}

TEST(Builder, CopiedFieldsPassUnchanged) {
  const SEOPayload p = build([](Inputs& in) {
    in.config.site_name = "";
    in.config.locale = "en_US";
    in.config.locale_alternate = std::vector<std::string>{};
    in.config.twitter_site = " @site ";
    in.overrides.twitter_creator = "";
    in.overrides.og_audio = " a.mp3";
    in.overrides.og_video = "v.mp4";
  });
  EXPECT_EQ(p.og.site_name, "");
  EXPECT_EQ(p.og.locale, "en_US");
  EXPECT_EQ(p.og.locale_alternate, std::vector<std::string>{});
  EXPECT_EQ(p.og.audio, " a.mp3");
  EXPECT_EQ(p.og.video, "v.mp4");
  EXPECT_EQ(p.og.url, p.canonical);
  EXPECT_EQ(p.twitter.site, " @site ");
  EXPECT_EQ(p.twitter.creator, "");
  EXPECT_TRUE(p.extra.empty());
}

TEST(Builder, BareEntityGivesTheDocumentedDefaults) {
  SEOEntity entity;
  entity.entity_type = EntityType::Other;
  const SEOConfig config = site();
  auto r = build_seo_payload_with_overrides(entity, "/", config, nullptr);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->title, "Untitled");
  EXPECT_EQ(r->description, "");
  EXPECT_EQ(r->og.title, "Untitled");
  EXPECT_EQ(r->og.description, std::nullopt);
  EXPECT_EQ(r->twitter.title, "Untitled");
  EXPECT_EQ(r->twitter.card, "summary_large_image");
  EXPECT_EQ(r->schema_jsonld, std::nullopt);  // "other" maps to no schema type
}

TEST(Builder, NoOverridesEqualsEmptyOverrides) {
  Inputs in;
  in.entity.breadcrumbs = std::vector<Breadcrumb>{{"Home", "/"}};
  const SEOOverrides empty;
  auto a = build_seo_payload_with_overrides(in.entity, in.route, in.config, nullptr);
  auto b = build_seo_payload_with_overrides(in.entity, in.route, in.config, &empty);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(*a, *b);
  EXPECT_EQ(hash_payload(*a), hash_payload(*b));
}

// ---- schema assembly -------------------------------------------------------------

std::string type_of(const Json& document) { return document.at("@type").get<std::string>(); }

// The payload's document as a value (null when there is none).
Json schema_of(const SEOPayload& p) { return p.schema_jsonld ? p.schema_jsonld->value() : Json(); }

TEST(Schema, GeneratedDocumentThenBreadcrumbs) {
  const SEOPayload p = build([](Inputs& in) {
    in.entity.breadcrumbs = std::vector<Breadcrumb>{{"Home", "/"}, {"Blog", "/blog"}};
  });
  ASSERT_TRUE(p.schema_jsonld && p.schema_jsonld->is_array());
  ASSERT_EQ(schema_of(p).size(), 2u);
  EXPECT_EQ(type_of(schema_of(p)[0]), "Article");
  EXPECT_EQ(type_of(schema_of(p)[1]), "BreadcrumbList");
  EXPECT_EQ(schema_of(p)[0].at("name"), p.title);
  EXPECT_EQ(schema_of(p)[0].at("url"), p.canonical);
}

TEST(Schema, OmitKeepsTheBreadcrumbList) {
  const SEOPayload p = build([](Inputs& in) {
    in.overrides.omit_schema = true;
    in.overrides.schema_jsonld = Json::object({{"@type", "Ignored"}});
    in.entity.breadcrumbs = std::vector<Breadcrumb>{{"Home", "/"}, {"Blog", "/blog"}};
  });
  ASSERT_TRUE(p.schema_jsonld && p.schema_jsonld->is_object());
  EXPECT_EQ(type_of(schema_of(p)), "BreadcrumbList");
}

TEST(Schema, OverrideArrayOfOneBecomesTheDocument) {
  const SEOPayload p = build([](Inputs& in) {
    in.overrides.schema_jsonld = Json::array({Json::object({{"@type", "Thing"}})});
  });
  ASSERT_TRUE(p.schema_jsonld);
  EXPECT_EQ(schema_of(p), Json::object({{"@type", "Thing"}}));
}

TEST(Schema, EmptyOverrideArrayGivesNoSchema) {
  const SEOPayload p = build([](Inputs& in) { in.overrides.schema_jsonld = Json::array(); });
  EXPECT_EQ(p.schema_jsonld, std::nullopt);
}

TEST(Schema, OverrideArrayElementsPrecedeBreadcrumbs) {
  const SEOPayload p = build([](Inputs& in) {
    in.overrides.schema_jsonld = Json::array({1, "two"});
    in.entity.breadcrumbs = std::vector<Breadcrumb>{};
  });
  ASSERT_TRUE(p.schema_jsonld && p.schema_jsonld->is_array());
  ASSERT_EQ(schema_of(p).size(), 3u);
  EXPECT_EQ(schema_of(p)[0], 1);
  EXPECT_EQ(schema_of(p)[1], "two");
  EXPECT_EQ(schema_of(p)[2].at("itemListElement"), Json::array());
}

TEST(Schema, NullOverrideIsADocument) {
  const SEOPayload p = build([](Inputs& in) { in.overrides.schema_jsonld = Json(nullptr); });
  ASSERT_TRUE(p.schema_jsonld);
  EXPECT_TRUE(schema_of(p).is_null());
}

TEST(Schema, AutoGenerateOffStillAddsBreadcrumbs) {
  const SEOPayload off = build([](Inputs& in) { in.config.auto_generate_schema = false; });
  EXPECT_EQ(off.schema_jsonld, std::nullopt);
  const SEOPayload crumbs = build([](Inputs& in) {
    in.config.auto_generate_schema = false;
    in.entity.breadcrumbs = std::vector<Breadcrumb>{{"Home", "/"}};
  });
  ASSERT_TRUE(crumbs.schema_jsonld);
  EXPECT_EQ(type_of(schema_of(crumbs)), "BreadcrumbList");
}

TEST(Schema, RegistryIsHandedToTheDispatch) {
  Inputs in;
  in.config.schema_type_map["post"] = "Recipe";
  SchemaRegistry registry;
  registry.insert("Recipe", [](const SchemaContext& context) {
    return Json::object({{"@type", "Recipe"}, {"name", std::string(context.title)}});
  });
  auto r = build_seo_payload(in.entity, in.route, in.config, nullptr, &registry);
  ASSERT_TRUE(r);
  EXPECT_EQ(schema_of(*r), Json::object({{"@type", "Recipe"}, {"name", "Post"}}));
  // The public entry never passes a registry: the generic document instead.
  auto plain = build_seo_payload_with_overrides(in.entity, in.route, in.config, nullptr);
  ASSERT_TRUE(plain);
  EXPECT_EQ(schema_of(*plain).at("url"), "https://example.com/blog/post");
}

TEST(Builder, SameInputsSameBytes) {
  Inputs in;
  in.entity.body_html = kLongBody;
  in.entity.breadcrumbs = std::vector<Breadcrumb>{{"Home", "/"}};
  auto a = build_seo_payload_with_overrides(in.entity, in.route, in.config, nullptr);
  auto b = build_seo_payload_with_overrides(in.entity, in.route, in.config, nullptr);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->to_json_compact(), b->to_json_compact());
}

}  // namespace
}  // namespace quarlo
