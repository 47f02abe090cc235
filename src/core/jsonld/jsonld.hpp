// Structured data: choosing the Schema.org type of an entity through the
// configuration's schema type map and building its JSON-LD document from the
// common base document plus per-type additions.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/model/config.hpp"
#include "core/model/entity.hpp"
#include "core/base/json.hpp"
#include "core/jsonld/registry.hpp"

namespace quarlo {

// "https://schema.org": the vocabulary URL of every document's "@context".
inline constexpr std::string_view kSchemaOrgContext = "https://schema.org";

// Everything a builder reads, borrowed from the payload build for one call.
struct SchemaContext {
  const SEOEntity& entity;
  const SEOConfig& config;
  std::string_view canonical;
  std::string_view title;
  std::optional<std::string_view> description;
  std::optional<std::string_view> image;  // the Open Graph image URL, verbatim
  const SchemaRegistry* registry = nullptr;
};

// The structured-data documents of a payload collected as one canonical
// compact text (object keys in byte-wise ascending order, no whitespace): a
// single document as it is, several as an array of them in order.
class SchemaDocuments {
 public:
  // Starts the next document: its text is to be appended to the result.
  [[nodiscard]] std::string& next_document();
  // Adds a document given as a value: an array contributes its elements,
  // any other value itself.
  void add_value(const Json& value);
  [[nodiscard]] std::size_t count() const noexcept { return count_; }
  // The text, or absent when no document was added.
  [[nodiscard]] std::optional<std::string> take_text() &&;

 private:
  std::string text_;  // "[" and the documents joined by ","
  std::size_t count_ = 0;
};

// Adds the document for the entity's schema type; nothing when the entity
// type maps to no schema type. A registered builder's value is added as
// SchemaDocuments::add_value adds it.
void append_schema(SchemaDocuments& documents, const SchemaContext& context);

// The document for the entity's schema type as a value, or absent when the
// entity type maps to no schema type.
[[nodiscard]] std::optional<Json> build_schema(const SchemaContext& context);

// The common document every built-in builder starts from: "@context",
// "@type", "name", "url", "description", "image", dates, author, publisher.
[[nodiscard]] Json base_schema(std::string_view schema_type, const SchemaContext& context);

// Absolute form of an image or logo reference under the public base URL.
[[nodiscard]] std::string absolute_asset_url(std::string_view reference, std::string_view public_base_url);

// Per-type builders.
[[nodiscard]] Json build_article(std::string_view schema_type, const SchemaContext& context);
[[nodiscard]] Json build_website(std::string_view schema_type, const SchemaContext& context);
[[nodiscard]] Json build_video(const SchemaContext& context);
[[nodiscard]] Json build_faq_page(const SchemaContext& context);
[[nodiscard]] Json build_organization(const SchemaContext& context);
[[nodiscard]] Json build_local_business(const SchemaContext& context);
[[nodiscard]] Json build_product(const SchemaContext& context);

}  // namespace quarlo
