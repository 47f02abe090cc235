// Schema type dispatch, the base document and absolute image references.
#include "core/jsonld/jsonld.hpp"

#include <array>
#include <cstdint>
#include <utility>

#include "core/jsonld/object.hpp"

namespace quarlo {
namespace {

enum class Builder : std::uint8_t { Article, Website, Video, FaqPage, Product, Organization, LocalBusiness };

struct DispatchEntry {
  std::string_view schema_type;
  Builder builder;
};

// Schema type names with a built-in builder, compared exactly (case-sensitive).
constexpr std::array<DispatchEntry, 12> kDispatch{{
    {"Article", Builder::Article},
    {"BlogPosting", Builder::Article},
    {"NewsArticle", Builder::Article},
    {"WebSite", Builder::Website},
    {"WebPage", Builder::Website},
    {"CollectionPage", Builder::Website},
    {"SearchResultsPage", Builder::Website},
    {"VideoObject", Builder::Video},
    {"FAQPage", Builder::FaqPage},
    {"Product", Builder::Product},
    {"Organization", Builder::Organization},
    {"LocalBusiness", Builder::LocalBusiness},
}};

const DispatchEntry* find_builtin(std::string_view schema_type) noexcept {
  for (const auto& entry : kDispatch) {
    if (entry.schema_type == schema_type) return &entry;
  }
  return nullptr;
}

void write_builtin(JsonTextWriter& w, Builder builder, std::string_view schema_type, const SchemaContext& context) {
  switch (builder) {
    case Builder::Article:
      return jsonld::write_article(w, schema_type, context);
    case Builder::Website:
      return jsonld::write_website(w, schema_type, context);
    case Builder::Video:
      return jsonld::write_video(w, context);
    case Builder::FaqPage:
      return jsonld::write_faq_page(w, context);
    case Builder::Product:
      return jsonld::write_product(w, context);
    case Builder::Organization:
      return jsonld::write_organization(w, context);
    case Builder::LocalBusiness:
      return jsonld::write_local_business(w, context);
  }
  jsonld::write_website(w, schema_type, context);
}

constexpr char ascii_lower(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// `lower_prefix` must be lower-case ASCII.
bool starts_with_ignoring_ascii_case(std::string_view text, std::string_view lower_prefix) noexcept {
  if (text.size() < lower_prefix.size()) return false;
  for (std::size_t i = 0; i < lower_prefix.size(); ++i) {
    if (ascii_lower(text[i]) != lower_prefix[i]) return false;
  }
  return true;
}

constexpr bool is_ascii_alpha(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_scheme_char(char c) noexcept {
  return is_ascii_alpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// The scheme of a URL text as the URL parser reads it (leading control
// characters and spaces skipped), or empty when the text has none.
std::string_view scheme_of(std::string_view url) noexcept {
  std::size_t start = 0;
  while (start < url.size() && static_cast<unsigned char>(url[start]) <= 0x20) ++start;
  if (start == url.size() || !is_ascii_alpha(url[start])) return {};
  std::size_t end = start + 1;
  while (end < url.size() && is_scheme_char(url[end])) ++end;
  if (end == url.size() || url[end] != ':') return {};
  return url.substr(start, end - start);
}

std::string_view without_trailing_slashes(std::string_view s) noexcept {
  const auto keep = s.find_last_not_of('/');
  return keep == std::string_view::npos ? std::string_view{} : s.substr(0, keep + 1);
}

}  // namespace

namespace jsonld {

AssetUrl asset_url(std::string_view reference, std::string_view public_base_url) {
  AssetUrl url;
  if (starts_with_ignoring_ascii_case(reference, "http://") ||
      starts_with_ignoring_ascii_case(reference, "https://")) {
    url.pieces[0] = reference;
    return url;
  }
  // A scheme-relative reference names its own host: it only borrows the
  // base URL's scheme, in lower case.
  if (reference.starts_with("//")) {
    const std::string_view scheme = scheme_of(public_base_url);
    if (!scheme.empty()) {
      if (scheme.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string_view::npos) {
        url.pieces = {scheme, ":", reference};
        return url;
      }
      url.owned.reserve(scheme.size() + 1 + reference.size());
      for (const char c : scheme) url.owned.push_back(ascii_lower(c));
      url.owned.push_back(':');
      url.owned.append(reference);
      url.pieces[0] = url.owned;
      return url;
    }
  }
  // Everything else is a path under the base URL, joined with exactly the
  // slash the reference brings or one added.
  url.pieces = {without_trailing_slashes(public_base_url), reference.starts_with('/') ? "" : "/", reference};
  return url;
}

// The documents are written compact only, so a constant run of members
// and brackets goes in as one text where the layout allows.

void BaseDocument::open(std::string_view schema_type) {
  w_.begin_object();
  w_.key(R"("@context":"https://schema.org","@type":)");
  w_.string(schema_type);
}

void BaseDocument::people_and_dates() {
  const SEOEntity& entity = context_.entity;
  if (entity.author_name) {
    w_.key(R"("author":{"@type":"Person","name":)");
    w_.string(*entity.author_name);
    w_.literal("}");
  }
  write_optional_string(w_, R"("dateModified":)", entity.updated_at);
  write_optional_string(w_, R"("datePublished":)", entity.published_at);
  write_optional_string(w_, R"("description":)", context_.description);
}

void BaseDocument::image() {
  if (!context_.image) return;
  w_.key(R"("image":)");
  image_value();
}

void BaseDocument::name() {
  w_.key(R"("name":)");
  w_.string(context_.title);
}

void BaseDocument::publisher() {
  const SEOConfig& config = context_.config;
  if (!config.publisher_name) return;
  w_.key(R"("publisher":{"@type":"Organization")");
  if (config.publisher_logo) {
    w_.literal(R"(,"logo":)");
    // An owned text (a rare scheme-relative logo) lives until written.
    const AssetUrl logo = asset_url(*config.publisher_logo, config.public_base_url);
    write_asset_url(w_, logo);
  }
  w_.literal(R"(,"name":)");
  w_.string(*config.publisher_name);
  w_.literal("}");
}

void BaseDocument::url_and_close() {
  w_.key(R"("url":)");
  w_.string(context_.canonical);
  w_.end_object();
}

}  // namespace jsonld

std::string absolute_asset_url(std::string_view reference, std::string_view public_base_url) {
  jsonld::AssetUrl url = jsonld::asset_url(reference, public_base_url);
  if (!url.owned.empty()) return std::move(url.owned);
  std::string out;
  out.reserve(url.pieces[0].size() + url.pieces[1].size() + url.pieces[2].size());
  for (const std::string_view piece : url.pieces) out.append(piece);
  return out;
}

Json base_schema(std::string_view schema_type, const SchemaContext& context) {
  return jsonld::document_value([&](JsonTextWriter& w) {
    jsonld::BaseDocument base(w, context);
    base.open(schema_type);
    base.people_and_dates();
    base.image();
    base.name();
    base.publisher();
    base.url_and_close();
  });
}

std::string& SchemaDocuments::next_document() {
  if (count_++ == 0) {
    // The typical documents (an article and a breadcrumb list) fit.
    text_.reserve(2048);
    text_.push_back('[');
  } else {
    text_.push_back(',');
  }
  return text_;
}

void SchemaDocuments::add_value(const Json& value) {
  if (value.is_array()) {
    for (const Json& element : value) append_json(next_document(), element, JsonLayout::Compact);
  } else {
    append_json(next_document(), value, JsonLayout::Compact);
  }
}

std::optional<std::string> SchemaDocuments::take_text() && {
  if (count_ == 0) return std::nullopt;
  if (count_ == 1) {
    text_.erase(0, 1);
  } else {
    text_.push_back(']');
  }
  return std::move(text_);
}

void append_schema(SchemaDocuments& documents, const SchemaContext& context) {
  const auto& type_map = context.config.schema_type_map;
  const auto mapped = type_map.find(entity_type_name(context.entity.entity_type));
  if (mapped == type_map.end() || !mapped->second) return;
  const std::string_view schema_type = *mapped->second;
  if (const DispatchEntry* entry = find_builtin(schema_type)) {
    JsonTextWriter w(documents.next_document(), JsonLayout::Compact);
    write_builtin(w, entry->builder, schema_type, context);
    return;
  }
  if (context.registry != nullptr) {
    if (const SchemaBuilder* builder = context.registry->find(schema_type)) {
      documents.add_value((*builder)(context));
      return;
    }
  }
  JsonTextWriter w(documents.next_document(), JsonLayout::Compact);
  jsonld::write_website(w, schema_type, context);
}

std::optional<Json> build_schema(const SchemaContext& context) {
  const auto& type_map = context.config.schema_type_map;
  const auto mapped = type_map.find(entity_type_name(context.entity.entity_type));
  if (mapped == type_map.end() || !mapped->second) return std::nullopt;
  const std::string_view schema_type = *mapped->second;
  if (const DispatchEntry* entry = find_builtin(schema_type)) {
    return jsonld::document_value(
        [&](JsonTextWriter& w) { write_builtin(w, entry->builder, schema_type, context); });
  }
  if (context.registry != nullptr) {
    if (const SchemaBuilder* builder = context.registry->find(schema_type)) return (*builder)(context);
  }
  return build_website(schema_type, context);
}

}  // namespace quarlo
