// Tests of schema dispatch, the base document, builders and the registry.
#include "core/jsonld/jsonld.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarlo {
namespace {

std::string compact(const Json& value) { return write_json(value, JsonLayout::Compact); }

std::vector<std::string> keys_of(const Json& object) {
  std::vector<std::string> keys;
  for (const auto& item : object.items()) keys.push_back(item.key());
  return keys;
}

// A page whose context borrows from its own members.
struct Page {
  SEOEntity entity;
  SEOConfig config;
  std::string canonical = "https://example.com/p";
  std::string title = "T";
  std::optional<std::string> description = std::string();
  std::optional<std::string> image;
  const SchemaRegistry* registry = nullptr;

  Page() {
    config.canonical_host = "example.com";
    config.public_base_url = "https://example.com/";
  }
  [[nodiscard]] SchemaContext context() const {
    return SchemaContext{entity,
                         config,
                         canonical,
                         title,
                         description ? std::optional<std::string_view>(*description) : std::nullopt,
                         image ? std::optional<std::string_view>(*image) : std::nullopt,
                         registry};
  }
  // build_schema with the entity's type sent to `schema_type`.
  [[nodiscard]] std::optional<Json> build_as(std::string_view schema_type) {
    config.schema_type_map["post"] = std::string(schema_type);
    entity.entity_type = EntityType::Post;
    return build_schema(context());
  }
};

// Every optional input that some builder reads is set.
Page full_page() {
  Page page;
  page.description = "D";
  page.image = "/img/a.png";
  page.entity.published_at = "2024-01-02";
  page.entity.updated_at = "2024-02-03";
  page.entity.author_name = "Ann";
  page.entity.faq_items = std::vector<FAQItem>{{"Q1", "A1"}};
  page.entity.sku = "S1";
  page.entity.price = "9.50";
  page.entity.same_as = std::vector<std::string>{"https://social.example/a"};
  page.entity.address = "1 Main St";
  page.config.publisher_name = "Pub";
  page.config.publisher_logo = "logo.png";
  page.config.search_url_template = "https://example.com/s?q={search_term_string}";
  return page;
}

const std::vector<std::string> kBaseKeys = {"@context",    "@type", "author", "dateModified", "datePublished",
                                            "description", "image", "name",   "publisher",    "url"};

std::vector<std::string> base_keys_plus(std::vector<std::string> extra) {
  extra.insert(extra.end(), kBaseKeys.begin(), kBaseKeys.end());
  std::sort(extra.begin(), extra.end());
  return extra;
}

struct DispatchCase {
  std::string_view schema_type;
  std::string_view written_type;
  std::vector<std::string> keys;
};

class Dispatch : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(Dispatch, PicksBuilderByExactName) {
  const auto& c = GetParam();
  Page page = full_page();
  auto doc = page.build_as(c.schema_type);
  ASSERT_TRUE(doc.has_value());
  EXPECT_EQ((*doc)["@type"], c.written_type);
  EXPECT_EQ(keys_of(*doc), c.keys);
}

INSTANTIATE_TEST_SUITE_P(
    Names, Dispatch,
    ::testing::Values(
        DispatchCase{"Article", "Article", base_keys_plus({"mainEntityOfPage"})},
        DispatchCase{"BlogPosting", "BlogPosting", base_keys_plus({"mainEntityOfPage"})},
        DispatchCase{"NewsArticle", "NewsArticle", base_keys_plus({"mainEntityOfPage"})},
        DispatchCase{"WebSite", "WebSite", base_keys_plus({"potentialAction"})},
        DispatchCase{"WebPage", "WebPage", kBaseKeys}, DispatchCase{"CollectionPage", "CollectionPage", kBaseKeys},
        DispatchCase{"SearchResultsPage", "SearchResultsPage", kBaseKeys},
        DispatchCase{"VideoObject", "VideoObject", base_keys_plus({"thumbnailUrl", "uploadDate"})},
        DispatchCase{"FAQPage", "FAQPage", base_keys_plus({"mainEntity"})},
        DispatchCase{"Product", "Product", base_keys_plus({"offers", "sku"})},
        DispatchCase{"Organization", "Organization", base_keys_plus({"logo", "sameAs"})},
        DispatchCase{"LocalBusiness", "LocalBusiness", base_keys_plus({"address", "logo", "sameAs"})},
        // Names differing in case, and names without a builder: the base document.
        DispatchCase{"article", "article", kBaseKeys}, DispatchCase{"website", "website", kBaseKeys},
        DispatchCase{"Recipe", "Recipe", kBaseKeys},
        DispatchCase{"", "", kBaseKeys}));

TEST(BuildSchema, DefaultMapGivesEachEntityTypeItsDocument) {
  const std::vector<std::pair<EntityType, std::optional<std::string_view>>> cases = {
      {EntityType::Home, "WebSite"},
      {EntityType::Post, "Article"},
      {EntityType::Page, "WebPage"},
      {EntityType::Video, "VideoObject"},
      {EntityType::Taxonomy, "CollectionPage"},
      {EntityType::Search, "SearchResultsPage"},
      {EntityType::Other, std::nullopt},
      {EntityType::Product, "Product"},
      {EntityType::Organization, "Organization"},
      {EntityType::LocalBusiness, "LocalBusiness"},
      {EntityType::Faq, "FAQPage"},
  };
  for (const auto& [type, expected] : cases) {
    Page page;
    page.entity.entity_type = type;
    auto doc = build_schema(page.context());
    ASSERT_EQ(doc.has_value(), expected.has_value()) << entity_type_name(type);
    if (expected) {
      EXPECT_EQ((*doc)["@type"], *expected);
    }
  }
}

TEST(BuildSchema, AbsentMapValueGivesNoDocument) {
  Page page;
  page.config.schema_type_map["post"] = std::nullopt;
  page.entity.entity_type = EntityType::Post;
  auto doc = build_schema(page.context());
  EXPECT_FALSE(doc.has_value());
}

TEST(BuildSchema, RegistryServesOnlyNamesWithoutBuiltInBuilder) {
  SchemaRegistry registry;
  registry.insert("Recipe", [](const SchemaContext&) { return Json::array({1, 2}); });
  registry.insert("Count", [](const SchemaContext&) { return Json(42); });
  registry.insert("Titled", [](const SchemaContext& c) { return Json(c.title); });
  registry.insert("Article", [](const SchemaContext&) { return Json("from registry"); });

  const std::vector<std::pair<std::string_view, std::string_view>> cases = {
      {"Recipe", "[1,2]"},  // the value as it is: no base document, any JSON value
      {"Count", "42"},
      {"Titled", "\"T\""},
      {"Article", ""},  // built-in builders come first
      {"Missing", ""},
  };
  for (const auto& [name, expected] : cases) {
    Page page;
    page.registry = &registry;
    auto doc = page.build_as(name);
    ASSERT_TRUE(doc.has_value()) << name;
    if (expected.empty()) {
      EXPECT_EQ((*doc)["@type"], name);
    } else {
      EXPECT_EQ(compact(*doc), expected) << name;
    }
  }
}

TEST(SchemaRegistry, ListsNamesInByteOrderAndMatchesExactly) {
  SchemaRegistry registry;
  EXPECT_TRUE(registry.list_types().empty());
  EXPECT_FALSE(registry.has("Recipe"));
  EXPECT_EQ(registry.find("Recipe"), nullptr);

  registry.insert("b", [](const SchemaContext&) { return Json(1); });
  registry.insert("a", [](const SchemaContext&) { return Json(2); });
  registry.insert("B", [](const SchemaContext&) { return Json(3); });
  registry.insert("a", [](const SchemaContext&) { return Json(4); });  // replaces
  EXPECT_EQ(registry.list_types(), (std::vector<std::string>{"B", "a", "b"}));
  EXPECT_TRUE(registry.has("a"));
  EXPECT_FALSE(registry.has("A"));
  EXPECT_FALSE(registry.has("a "));
  Page page;
  EXPECT_EQ((*registry.find("a"))(page.context()), Json(4));
}

struct BaseCase {
  std::string_view label;
  void (*setup)(Page&);
  std::string_view expected;
};

class BaseSchema : public ::testing::TestWithParam<BaseCase> {};

TEST_P(BaseSchema, WritesPresentPartsInKeyOrder) {
  Page page;
  GetParam().setup(page);
  auto doc = base_schema("Thing", page.context());
  EXPECT_EQ(compact(doc), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Parts, BaseSchema,
    ::testing::Values(
        BaseCase{"bare", [](Page& p) { p.description.reset(); },
                 R"({"@context":"https://schema.org","@type":"Thing","name":"T","url":"https://example.com/p"})"},
        BaseCase{"empty description", [](Page&) {},
                 R"({"@context":"https://schema.org","@type":"Thing","description":"","name":"T",)"
                 R"("url":"https://example.com/p"})"},
        BaseCase{"logo without publisher name", [](Page& p) { p.config.publisher_logo = "/l.png"; },
                 R"({"@context":"https://schema.org","@type":"Thing","description":"","name":"T",)"
                 R"("url":"https://example.com/p"})"},
        BaseCase{"publisher without logo", [](Page& p) { p.config.publisher_name = "Pub"; },
                 R"({"@context":"https://schema.org","@type":"Thing","description":"","name":"T",)"
                 R"("publisher":{"@type":"Organization","name":"Pub"},"url":"https://example.com/p"})"},
        BaseCase{"everything",
                 [](Page& p) {
                   p.description = " D <b>";
                   p.image = "img/a.png";
                   p.title = " T ";
                   p.entity.published_at = "2024-01-02";
                   p.entity.updated_at = "yesterday";
                   p.entity.author_name = "";
                   p.config.publisher_name = "Pub";
                   p.config.publisher_logo = "/logo.png";
                 },
                 R"({"@context":"https://schema.org","@type":"Thing","author":{"@type":"Person","name":""},)"
                 R"("dateModified":"yesterday","datePublished":"2024-01-02","description":" D <b>",)"
                 R"("image":"https://example.com/img/a.png","name":" T ",)"
                 R"("publisher":{"@type":"Organization","logo":"https://example.com/logo.png","name":"Pub"},)"
                 R"("url":"https://example.com/p"})"}),
    [](const auto& test_param) {
      std::string name(test_param.param.label);
      for (char& c : name) c = (c == ' ') ? '_' : c;
      return name;
    });

struct AssetCase {
  std::string_view reference;
  std::string_view base;
  std::string_view expected;
};

class AbsoluteAssetUrl : public ::testing::TestWithParam<AssetCase> {};

TEST_P(AbsoluteAssetUrl, ResolvesAgainstBase) {
  const auto& c = GetParam();
  EXPECT_EQ(absolute_asset_url(c.reference, c.base), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AbsoluteAssetUrl,
    ::testing::Values(
        AssetCase{"https://cdn.example.net/a.png", "https://example.com", "https://cdn.example.net/a.png"},
        AssetCase{"http://cdn.example.net/a.png", "https://example.com", "http://cdn.example.net/a.png"},
        // The scheme prefix is matched without regard to ASCII case.
        AssetCase{"HTTPS://cdn.example.net/a.png", "https://example.com", "HTTPS://cdn.example.net/a.png"},
        AssetCase{"hTtP://cdn.example.net/a.png", "https://example.com", "hTtP://cdn.example.net/a.png"},
        // Paths: the base loses its trailing slashes; one "/" joins a bare relative path.
        AssetCase{"/img/a.png", "https://example.com///", "https://example.com/img/a.png"},
        AssetCase{"/img//a.png", "https://example.com", "https://example.com/img//a.png"},
        AssetCase{"img/a.png", "https://example.com", "https://example.com/img/a.png"},
        AssetCase{"img/a.png", "https://example.com/blog/", "https://example.com/blog/img/a.png"},
        AssetCase{"https:/a.png", "https://example.com", "https://example.com/https:/a.png"},
        // Scheme-relative references keep their own host and take the base's scheme.
        AssetCase{"//cdn.example.net/og.png", "https://example.com/", "https://cdn.example.net/og.png"},
        AssetCase{"//cdn.example.net/og.png", "HTTP://example.com", "http://cdn.example.net/og.png"}));

TEST(BuildWebsite, SearchActionOnlyForWebSiteWithPlaceholder) {
  const std::string action =
      R"({"@type":"SearchAction","query-input":"required name=search_term_string",)"
      R"("target":{"@type":"EntryPoint","urlTemplate":" /s?q={search_term_string}&x"}})";
  const std::vector<std::tuple<std::string_view, std::optional<std::string>, bool>> cases = {
      {"WebSite", " /s?q={search_term_string}&x", true},
      {"WebSite", "/s?q=search_term_string", false},
      {"WebSite", "/s?q={search_term}", false},
      {"WebSite", std::nullopt, false},
      {"WebPage", " /s?q={search_term_string}&x", false},
      {"website", " /s?q={search_term_string}&x", false},
  };
  for (const auto& [type, tmpl, expected] : cases) {
    Page page;
    page.config.search_url_template = tmpl;
    auto doc = build_website(type, page.context());
    ASSERT_EQ(doc.contains("potentialAction"), expected) << type << " " << tmpl.value_or("-");
    if (expected) {
      EXPECT_EQ(compact(doc["potentialAction"]), action);
    }
  }
}

TEST(BuildArticle, PointsMainEntityAtCanonical) {
  Page page;
  auto doc = build_article("NewsArticle", page.context());
  EXPECT_EQ(compact(doc),
            R"({"@context":"https://schema.org","@type":"NewsArticle","description":"",)"
            R"("mainEntityOfPage":{"@id":"https://example.com/p"},"name":"T","url":"https://example.com/p"})");
}

TEST(BuildVideo, ThumbnailAndUploadDateFollowImageAndPublication) {
  Page bare;
  auto doc = build_video(bare.context());
  EXPECT_FALSE(doc.contains("image"));
  EXPECT_FALSE(doc.contains("thumbnailUrl"));
  EXPECT_FALSE(doc.contains("uploadDate"));

  Page page;
  page.image = "v.jpg";
  page.entity.published_at = "2024-05-06T07:08:09Z";
  doc = build_video(page.context());
  EXPECT_EQ(doc["image"], "https://example.com/v.jpg");
  EXPECT_EQ(doc["thumbnailUrl"], "https://example.com/v.jpg");
  EXPECT_EQ(doc["uploadDate"], "2024-05-06T07:08:09Z");
  EXPECT_EQ(doc["datePublished"], "2024-05-06T07:08:09Z");
}

TEST(BuildFaqPage, OneQuestionPerItemInOrder) {
  const std::vector<std::pair<std::optional<std::vector<FAQItem>>, std::string_view>> cases = {
      {std::nullopt, ""},
      {std::vector<FAQItem>{}, "[]"},
      {std::vector<FAQItem>{{"Q2?", ""}, {"Q1?", "<b>A1</b>"}},
       R"([{"@type":"Question","acceptedAnswer":{"@type":"Answer","text":""},"name":"Q2?"},)"
       R"({"@type":"Question","acceptedAnswer":{"@type":"Answer","text":"<b>A1</b>"},"name":"Q1?"}])"},
  };
  for (const auto& [items, expected] : cases) {
    Page page;
    page.entity.faq_items = items;
    auto doc = build_faq_page(page.context());
    EXPECT_EQ(doc["@type"], "FAQPage");
    if (expected.empty()) {
      EXPECT_FALSE(doc.contains("mainEntity"));
    } else {
      EXPECT_EQ(compact(doc["mainEntity"]), expected);
    }
  }
}

TEST(BuildOrganization, SameAsAndVerbatimLogoBesidePublisher) {
  Page page;
  page.entity.same_as = std::vector<std::string>{"https://b.example", "a"};
  page.config.publisher_name = "Pub";
  page.config.publisher_logo = "img/logo.png";
  auto doc = build_organization(page.context());
  EXPECT_EQ(compact(doc),
            R"({"@context":"https://schema.org","@type":"Organization","description":"",)"
            R"("logo":"img/logo.png","name":"T",)"
            R"("publisher":{"@type":"Organization","logo":"https://example.com/img/logo.png","name":"Pub"},)"
            R"("sameAs":["https://b.example","a"],"url":"https://example.com/p"})");

  page.entity.same_as = std::vector<std::string>{};
  page.config.publisher_logo.reset();
  doc = build_organization(page.context());
  EXPECT_EQ(doc["sameAs"], Json::array());
  EXPECT_FALSE(doc.contains("logo"));
}

TEST(BuildLocalBusiness, OrganizationRetypedWithOptionalAddress) {
  Page page;
  page.entity.same_as = std::vector<std::string>{"x"};
  auto doc = build_local_business(page.context());
  EXPECT_EQ(doc["@type"], "LocalBusiness");
  EXPECT_EQ(doc["sameAs"], Json::array({"x"}));
  EXPECT_FALSE(doc.contains("address"));

  page.entity.address = "1 Main St, Springfield";
  doc = build_local_business(page.context());
  EXPECT_EQ(compact(doc["address"]), R"({"@type":"PostalAddress","streetAddress":"1 Main St, Springfield"})");
}

struct ProductCase {
  std::optional<std::string> sku, price, currency, availability;
  std::string_view expected_offers;  // empty: no "offers"
};

class BuildProduct : public ::testing::TestWithParam<ProductCase> {};

TEST_P(BuildProduct, SkuAndOffers) {
  const auto& c = GetParam();
  Page page;
  page.entity.sku = c.sku;
  page.entity.price = c.price;
  page.entity.price_currency = c.currency;
  page.entity.availability = c.availability;
  auto doc = build_product(page.context());
  EXPECT_EQ(doc["@type"], "Product");
  EXPECT_EQ(doc.contains("sku"), c.sku.has_value());
  if (c.sku) {
    EXPECT_EQ(doc["sku"], *c.sku);
  }
  if (c.expected_offers.empty()) {
    EXPECT_FALSE(doc.contains("offers"));
  } else {
    EXPECT_EQ(compact(doc["offers"]), c.expected_offers);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BuildProduct,
    ::testing::Values(
        ProductCase{"S-1", {}, {}, {}, ""},
        ProductCase{{}, "10", {}, {}, R"({"@type":"Offer","price":"10"})"},
        ProductCase{"S", "0.00", "EUR", "InStock",
                    R"({"@type":"Offer","availability":"https://schema.org/InStock","price":"0.00",)"
                    R"("priceCurrency":"EUR"})"},
        ProductCase{{}, {}, {}, " in stock", R"({"@type":"Offer","availability":"https://schema.org/ in stock"})"},
        // A value already in the vocabulary is not prefixed again.
        ProductCase{{}, {}, {}, "https://schema.org/OutOfStock",
                    R"({"@type":"Offer","availability":"https://schema.org/OutOfStock"})"},
        ProductCase{{}, {}, {}, "http://schema.org/PreOrder",
                    R"({"@type":"Offer","availability":"http://schema.org/PreOrder"})"},
        ProductCase{{}, {}, {}, "https://example.com/x",
                    R"({"@type":"Offer","availability":"https://schema.org/https://example.com/x"})"}));


// The text a built-in builder writes is already canonical: it equals what
// the JSON writer makes of its parsed value, key order and escapes included,
// for every built-in type with none and with every optional member.
struct CanonicalCase {
  std::string_view schema_type;
  Page (*page)();
};

Page bare_page() { return Page(); }

// Every optional member, texts that need escapes, a non-ASCII text, and a
// scheme-relative image under an upper-case scheme.
Page escaped_page() {
  Page page = full_page();
  page.title = "Say \"hi\"\\\n\t\x01 \xC3\xA9t\xC3\xA9";
  page.description = "</script> & \x7F";
  page.image = "//cdn.example/a b.png";
  page.config.public_base_url = "HTTPS://example.com/base/";
  page.entity.faq_items = std::vector<FAQItem>{{"Q\"1", "A\n1"}, {"Q2", ""}};
  page.entity.same_as = std::vector<std::string>{};
  page.entity.price_currency = "EUR";
  page.entity.availability = "InStock";
  page.config.publisher_logo = "https://cdn.example/logo.png";
  return page;
}

// No description, a publisher without logo, an absolute image, empty lists,
// a search template without its placeholder, an offer of one member.
Page sparse_page() {
  Page page;
  page.description.reset();
  page.image = "HTTP://cdn.example/x.png";
  page.config.publisher_name = "Pub";
  page.entity.faq_items = std::vector<FAQItem>{};
  page.entity.address = "";
  page.entity.availability = "https://schema.org/InStock";
  page.config.search_url_template = "https://example.com/s?q=";
  return page;
}

class CanonicalText : public ::testing::TestWithParam<CanonicalCase> {};

TEST_P(CanonicalText, EqualsTheWriterOutputOfItsValue) {
  Page page = GetParam().page();
  page.config.schema_type_map["post"] = std::string(GetParam().schema_type);
  page.entity.entity_type = EntityType::Post;
  SchemaDocuments documents;
  append_schema(documents, page.context());
  ASSERT_EQ(documents.count(), 1u);
  const std::optional<std::string> text = std::move(documents).take_text();
  ASSERT_TRUE(text);
  auto value = parse_json(*text);
  ASSERT_TRUE(value) << *text;
  EXPECT_EQ(*text, compact(*value));
  EXPECT_EQ(*value, *build_schema(page.context()));
  EXPECT_EQ((*value)["@type"], std::string(GetParam().schema_type));
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, CanonicalText,
    ::testing::ValuesIn([] {
      std::vector<CanonicalCase> cases;
      for (const std::string_view type : {"Article", "BlogPosting", "NewsArticle", "WebSite", "WebPage",
                                          "CollectionPage", "SearchResultsPage", "VideoObject", "FAQPage",
                                          "Product", "Organization", "LocalBusiness", "Dataset"}) {
        for (Page (*page)() : {&bare_page, &full_page, &escaped_page, &sparse_page}) cases.push_back({type, page});
      }
      return cases;
    }()));

TEST(SchemaDocuments, OneDocumentAloneSeveralAsArrayArraysSpread) {
  const auto text_of = [](const std::vector<Json>& values) {
    SchemaDocuments documents;
    for (const Json& value : values) documents.add_value(value);
    return std::move(documents).take_text();
  };
  EXPECT_EQ(text_of({}), std::nullopt);
  EXPECT_EQ(text_of({Json::array()}), std::nullopt);
  EXPECT_EQ(text_of({Json::object({{"b", 1}, {"a", nullptr}})}), R"({"a":null,"b":1})");
  EXPECT_EQ(text_of({Json::array({Json::array({1})})}), "[1]");
  EXPECT_EQ(text_of({Json::array({1, "x"}), Json(2.5)}), R"([1,"x",2.5])");
}

}  // namespace
}  // namespace quarlo
