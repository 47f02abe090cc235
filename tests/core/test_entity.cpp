// Tests of the entity records and robots string.
#include "core/model/entity.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace quarlo {
namespace {

// ---- entity type names ------------------------------------------------------

struct TypeNameCase {
  const char* name;
  EntityType type;
  const char* serialized;
};

void PrintTo(const TypeNameCase& c, std::ostream* os) { *os << c.name; }

class EntityTypeNames : public ::testing::TestWithParam<TypeNameCase> {};

TEST_P(EntityTypeNames, ParseAndNamesRoundTrip) {
  const auto& c = GetParam();
  const auto parsed = entity_type_from_str(c.name);
  ASSERT_TRUE(parsed) << parsed.error().message();
  EXPECT_EQ(*parsed, c.type);
  EXPECT_EQ(entity_type_name(c.type), c.name);
  EXPECT_EQ(entity_type_serialized_name(c.type), c.serialized);
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, EntityTypeNames,
    ::testing::Values(TypeNameCase{"home", EntityType::Home, "Home"},
                      TypeNameCase{"post", EntityType::Post, "Post"},
                      TypeNameCase{"page", EntityType::Page, "Page"},
                      TypeNameCase{"video", EntityType::Video, "Video"},
                      TypeNameCase{"taxonomy", EntityType::Taxonomy, "Taxonomy"},
                      TypeNameCase{"search", EntityType::Search, "Search"},
                      TypeNameCase{"other", EntityType::Other, "Other"},
                      TypeNameCase{"product", EntityType::Product, "Product"},
                      TypeNameCase{"organization", EntityType::Organization, "Organization"},
                      TypeNameCase{"local_business", EntityType::LocalBusiness, "LocalBusiness"},
                      TypeNameCase{"faq", EntityType::Faq, "Faq"}));

class EntityTypeRejection : public ::testing::TestWithParam<std::string> {};

TEST_P(EntityTypeRejection, QuotesTheTextExactlyAsGiven) {
  const std::string& text = GetParam();
  const auto parsed = entity_type_from_str(text);
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.error().kind(), ErrorKind::InvalidEntity);
  EXPECT_EQ(parsed.error().message(),
            "entity_type must be one of "
            "home/post/page/video/taxonomy/search/other/product/organization/local_business/faq, "
            "got '" + text + "'");
}

INSTANTIATE_TEST_SUITE_P(
    NotAName, EntityTypeRejection,
    ::testing::Values("Post", "LOCAL_BUSINESS", "Local_Business", "post ", " post", "posts",
                      "local-business", "LocalBusiness", std::string("po\0st", 5),
                      std::string("post\0", 5)));

TEST(EntityTypeRejection, EmptyTextGivesAdjacentQuotes) {
  const auto parsed = entity_type_from_str("");
  ASSERT_FALSE(parsed);
  const std::string& m = parsed.error().message();
  ASSERT_GE(m.size(), 6u);
  EXPECT_EQ(m.substr(m.size() - 6), "got ''");
}

// ---- robots directive string ------------------------------------------------

Robots robots(bool index, bool follow, std::optional<std::int32_t> snippet = std::nullopt,
              std::optional<std::string> image = std::nullopt,
              std::optional<std::int32_t> video = std::nullopt) {
  Robots r;
  r.index = index;
  r.follow = follow;
  r.max_snippet = snippet;
  r.max_image_preview = std::move(image);
  r.max_video_preview = video;
  return r;
}

struct RobotsCase {
  Robots robots;
  const char* directive;
};

void PrintTo(const RobotsCase& c, std::ostream* os) { *os << c.directive; }

class RobotsDirective : public ::testing::TestWithParam<RobotsCase> {};

TEST_P(RobotsDirective, Serializes) {
  EXPECT_EQ(GetParam().robots.serialize(), GetParam().directive);
}

constexpr auto kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr auto kIntMax = std::numeric_limits<std::int32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Cases, RobotsDirective,
    ::testing::Values(
        RobotsCase{Robots{}, "index,follow"},
        RobotsCase{robots(false, true), "noindex,follow"},
        RobotsCase{robots(true, false), "index,nofollow"},
        RobotsCase{robots(false, false), "noindex,nofollow"},
        RobotsCase{robots(true, true, -1), "index,follow,max-snippet:-1"},
        RobotsCase{robots(true, true, std::nullopt, "large"), "index,follow,max-image-preview:large"},
        RobotsCase{robots(true, true, std::nullopt, std::nullopt, 30),
                   "index,follow,max-video-preview:30"},
        RobotsCase{robots(false, false, 0, "", 0),
                   "noindex,nofollow,max-snippet:0,max-image-preview:,max-video-preview:0"},
        RobotsCase{robots(false, false, -1, "large", 30),
                   "noindex,nofollow,max-snippet:-1,max-image-preview:large,max-video-preview:30"},
        RobotsCase{robots(true, true, kIntMin, " Big ", kIntMax),
                   "index,follow,max-snippet:-2147483648,max-image-preview: Big ,"
                   "max-video-preview:2147483647"}));

// ---- serialised forms -------------------------------------------------------

TEST(EntityJson, OnlyTypeHasOneKey) {
  SEOEntity entity;
  entity.entity_type = EntityType::LocalBusiness;
  EXPECT_EQ(to_json(entity).dump(), R"({"entity_type":"LocalBusiness"})");
}

TEST(EntityJson, EmptyListsArePresentAbsentListsAreNot) {
  SEOEntity entity;
  entity.entity_type = EntityType::Post;
  entity.breadcrumbs.emplace();
  entity.same_as.emplace();
  entity.faq_items.emplace();
  EXPECT_EQ(to_json(entity).dump(),
            R"({"entity_type":"Post","breadcrumbs":[],"same_as":[],"faq_items":[]})");
}

TEST(EntityJson, EveryFieldInDeclarationOrder) {
  SEOEntity e;
  e.entity_type = EntityType::Faq;
  e.slug = "s";
  e.title = "t";
  e.excerpt = "";
  e.body_html = "<p>b</p>";
  e.status = "published";
  e.featured_image = SEOImage{"https://x/i.png", 1200, 630, "alt"};
  e.published_at = "2024-01-01";
  e.updated_at = "2024-01-02";
  e.author_name = "a";
  e.breadcrumbs = std::vector<Breadcrumb>{{"Home", "/"}, {"Blog", "/blog"}};
  e.sku = "k";
  e.price = "9.90";
  e.price_currency = "EUR";
  e.availability = "InStock";
  e.same_as = std::vector<std::string>{"https://b", "https://a"};
  e.address = "1 Road";
  e.faq_items = std::vector<FAQItem>{{"q?", "a."}};

  const OrderedJson j = to_json(e);
  std::vector<std::string> keys;
  for (const auto& item : j.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{
                      "entity_type", "slug", "title", "excerpt", "body_html", "status",
                      "featured_image", "published_at", "updated_at", "author_name", "breadcrumbs",
                      "sku", "price", "price_currency", "availability", "same_as", "address",
                      "faq_items"}));
  EXPECT_EQ(j["entity_type"], "Faq");
  EXPECT_EQ(j["excerpt"], "");
  EXPECT_EQ(j["breadcrumbs"].dump(),
            R"([{"name":"Home","url":"/"},{"name":"Blog","url":"/blog"}])");
  EXPECT_EQ(j["same_as"].dump(), R"(["https://b","https://a"])");
  EXPECT_EQ(j["faq_items"].dump(), R"([{"question":"q?","answer":"a."}])");
  EXPECT_EQ(j["featured_image"], to_json(*e.featured_image));
}

struct ImageCase {
  SEOImage image;
  const char* json;
};

void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.json; }

class ImageJson : public ::testing::TestWithParam<ImageCase> {};

TEST_P(ImageJson, FieldsInOrderAbsentOmitted) {
  const OrderedJson j = to_json(GetParam().image);
  EXPECT_EQ(j.dump(), GetParam().json);
  for (const char* key : {"width", "height"}) {
    if (j.contains(key)) {
      EXPECT_TRUE(j[key].is_number_integer()) << key;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageJson,
    ::testing::Values(
        ImageCase{SEOImage{"u", 1200, 630, "a"}, R"({"url":"u","width":1200,"height":630,"alt":"a"})"},
        ImageCase{SEOImage{"u", std::nullopt, std::nullopt, std::nullopt}, R"({"url":"u"})"},
        ImageCase{SEOImage{"u", std::nullopt, 0, std::nullopt}, R"({"url":"u","height":0})"},
        ImageCase{SEOImage{"u", 4294967295u, std::nullopt, ""},
                  R"({"url":"u","width":4294967295,"alt":""})"}));

TEST(RobotsJson, BooleansAlwaysLimitsWhenPresent) {
  EXPECT_EQ(to_json(robots(false, true)).dump(), R"({"index":false,"follow":true})");
  EXPECT_EQ(to_json(robots(true, false, -1, "large", 30)).dump(),
            R"({"index":true,"follow":false,"max_snippet":-1,"max_image_preview":"large",)"
            R"("max_video_preview":30})");
}

}  // namespace
}  // namespace quarlo
