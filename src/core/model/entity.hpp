// The content entity a payload is built for, and the small value records it
// and the site configuration share: images, breadcrumbs, FAQ items and robots
// directives. All records own their texts and lists and copy by value;
// an absent optional value is distinct from an empty one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/error.hpp"
#include "core/base/fields.hpp"
#include "core/base/json.hpp"

namespace quarlo {

enum class EntityType : std::uint8_t {
  Home,
  Post,
  Page,
  Video,
  Taxonomy,
  Search,
  Other,
  Product,
  Organization,
  LocalBusiness,
  Faq,
};

inline constexpr std::size_t kEntityTypeCount = 11;

// Parses the lower-case word ("post", "local_business", ...): exact bytes,
// no trimming, no case folding. Failure: InvalidEntity.
[[nodiscard]] Result<EntityType> entity_type_from_str(std::string_view text);
// "post", "local_business", ...: also the key of the schema type map.
[[nodiscard]] std::string_view entity_type_name(EntityType type) noexcept;
// "Post", "LocalBusiness", ...: used only in the serialised entity.
[[nodiscard]] std::string_view entity_type_serialized_name(EntityType type) noexcept;
// The same, under the name every enumeration's serialised name has (what
// a FieldKind::Name field is written as).
[[nodiscard]] inline std::string_view serialized_name(EntityType type) noexcept {
  return entity_type_serialized_name(type);
}

struct SEOImage {
  std::string url;
  std::optional<std::uint32_t> width;
  std::optional<std::uint32_t> height;
  std::optional<std::string> alt;

  // Derived from this table: the serialised form (to_json) and the
  // binding's properties and dictionary form.
  static constexpr auto fields = std::tuple{
      field<"url">(&SEOImage::url),
      field<"width">(&SEOImage::width),
      field<"height">(&SEOImage::height),
      field<"alt">(&SEOImage::alt),
  };

  friend bool operator==(const SEOImage&, const SEOImage&) = default;
};

struct Breadcrumb {
  std::string name;
  std::string url;

  // Derived from this table: the serialised form and the binding's properties.
  static constexpr auto fields = std::tuple{
      field<"name">(&Breadcrumb::name),
      field<"url">(&Breadcrumb::url),
  };

  friend bool operator==(const Breadcrumb&, const Breadcrumb&) = default;
};

struct FAQItem {
  std::string question;
  std::string answer;

  // Derived from this table: the serialised form and the binding's properties.
  static constexpr auto fields = std::tuple{
      field<"question">(&FAQItem::question),
      field<"answer">(&FAQItem::answer),
  };

  friend bool operator==(const FAQItem&, const FAQItem&) = default;
};

struct Robots {
  bool index = true;
  bool follow = true;
  std::optional<std::int32_t> max_snippet;
  std::optional<std::string> max_image_preview;
  std::optional<std::int32_t> max_video_preview;

  // The meta robots directive string, e.g. "index,follow" or
  // "noindex,nofollow,max-snippet:-1,max-image-preview:large,max-video-preview:30".
  [[nodiscard]] std::string serialize() const;

  // Derived from this table: the serialised form and the binding's
  // properties (the directive string is serialize()).
  static constexpr auto fields = std::tuple{
      field<"index">(&Robots::index),
      field<"follow">(&Robots::follow),
      field<"max_snippet">(&Robots::max_snippet),
      field<"max_image_preview">(&Robots::max_image_preview),
      field<"max_video_preview">(&Robots::max_video_preview),
  };

  friend bool operator==(const Robots&, const Robots&) = default;
};

struct SEOEntity {
  EntityType entity_type = EntityType::Other;
  std::optional<std::string> slug;
  std::optional<std::string> title;
  std::optional<std::string> excerpt;
  std::optional<std::string> body_html;
  std::optional<std::string> status;
  std::optional<SEOImage> featured_image;
  std::optional<std::string> published_at;
  std::optional<std::string> updated_at;
  std::optional<std::string> author_name;
  std::optional<std::vector<Breadcrumb>> breadcrumbs;
  std::optional<std::string> sku;
  std::optional<std::string> price;
  std::optional<std::string> price_currency;
  std::optional<std::string> availability;
  std::optional<std::vector<std::string>> same_as;
  std::optional<std::string> address;
  std::optional<std::vector<FAQItem>> faq_items;

  // Derived from this table: the serialised form (entity_type by its
  // serialised name) and the binding's properties and dictionary form.
  static constexpr auto fields = std::tuple{
      field<"entity_type">(&SEOEntity::entity_type),
      field<"slug">(&SEOEntity::slug),
      field<"title">(&SEOEntity::title),
      field<"excerpt">(&SEOEntity::excerpt),
      field<"body_html">(&SEOEntity::body_html),
      field<"status">(&SEOEntity::status),
      field<"featured_image">(&SEOEntity::featured_image),
      field<"published_at">(&SEOEntity::published_at),
      field<"updated_at">(&SEOEntity::updated_at),
      field<"author_name">(&SEOEntity::author_name),
      field<"breadcrumbs">(&SEOEntity::breadcrumbs),
      field<"sku">(&SEOEntity::sku),
      field<"price">(&SEOEntity::price),
      field<"price_currency">(&SEOEntity::price_currency),
      field<"availability">(&SEOEntity::availability),
      field<"same_as">(&SEOEntity::same_as),
      field<"address">(&SEOEntity::address),
      field<"faq_items">(&SEOEntity::faq_items),
  };

  friend bool operator==(const SEOEntity&, const SEOEntity&) = default;
};

// Per-call values that take precedence over the entity and the configuration
// when a payload is built. All absent and both flags false behaves exactly
// like no overrides at all.
struct SEOOverrides {
  std::optional<std::string> meta_title;
  std::optional<std::string> meta_description;
  std::optional<std::string> canonical_url;
  std::optional<std::string> canonical_path;
  std::optional<Robots> robots;
  std::optional<std::string> og_title;
  std::optional<std::string> og_description;
  std::optional<SEOImage> og_image;
  std::optional<std::string> twitter_card;
  std::optional<std::string> twitter_title;
  std::optional<std::string> twitter_description;
  std::optional<SEOImage> twitter_image;
  std::optional<Json> schema_jsonld;
  bool omit_schema = false;
  bool skip_title_template = false;
  std::optional<std::string> twitter_creator;
  std::optional<std::string> og_audio;
  std::optional<std::string> og_video;

  friend bool operator==(const SEOOverrides&, const SEOOverrides&) = default;
};

// Serialised forms: fields in declaration order, absent optional fields
// omitted (the entity type written with its serialised name).
[[nodiscard]] OrderedJson to_json(const SEOImage& image);
[[nodiscard]] OrderedJson to_json(const Breadcrumb& crumb);
[[nodiscard]] OrderedJson to_json(const FAQItem& item);
[[nodiscard]] OrderedJson to_json(const Robots& robots);
[[nodiscard]] OrderedJson to_json(const SEOEntity& entity);

}  // namespace quarlo
