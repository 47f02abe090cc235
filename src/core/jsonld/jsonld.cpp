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

Json run_builtin(Builder builder, std::string_view schema_type, const SchemaContext& context) {
  switch (builder) {
    case Builder::Article:
      return build_article(schema_type, context);
    case Builder::Website:
      return build_website(schema_type, context);
    case Builder::Video:
      return build_video(context);
    case Builder::FaqPage:
      return build_faq_page(context);
    case Builder::Product:
      return build_product(context);
    case Builder::Organization:
      return build_organization(context);
    case Builder::LocalBusiness:
      return build_local_business(context);
  }
  return build_website(schema_type, context);
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

std::string absolute_asset_url(std::string_view reference, std::string_view public_base_url) {
  if (starts_with_ignoring_ascii_case(reference, "http://") ||
      starts_with_ignoring_ascii_case(reference, "https://")) {
    return std::string(reference);
  }
  std::string out;
  // A scheme-relative reference names its own host: it only borrows the
  // base URL's scheme.
  if (reference.starts_with("//")) {
    const std::string_view scheme = scheme_of(public_base_url);
    if (!scheme.empty()) {
      out.reserve(scheme.size() + 1 + reference.size());
      for (const char c : scheme) out.push_back(ascii_lower(c));
      out.push_back(':');
      out.append(reference);
      return out;
    }
  }
  // Everything else is a path under the base URL, joined with exactly the
  // slash the reference brings or one added.
  const std::string_view base = without_trailing_slashes(public_base_url);
  out.reserve(base.size() + 1 + reference.size());
  out.append(base);
  if (!reference.starts_with('/')) out.push_back('/');
  out.append(reference);
  return out;
}

Json base_schema(std::string_view schema_type, const SchemaContext& context) {
  const SEOEntity& entity = context.entity;
  const SEOConfig& config = context.config;

  // Keys are added in byte-wise ascending order, each at the end of the map.
  Json doc = jsonld::new_object();
  auto& m = jsonld::members(doc);
  jsonld::append_member(m, "@context", Json(kSchemaOrgContext));
  jsonld::append_member(m, "@type", Json(schema_type));
  if (entity.author_name) {
    jsonld::append_member(m, "author", jsonld::typed_object("Person", "name", Json(*entity.author_name)));
  }
  if (entity.updated_at) jsonld::append_member(m, "dateModified", Json(*entity.updated_at));
  if (entity.published_at) jsonld::append_member(m, "datePublished", Json(*entity.published_at));
  if (context.description) jsonld::append_member(m, "description", Json(*context.description));
  if (context.image) {
    jsonld::append_member(m, "image", Json(absolute_asset_url(*context.image, config.public_base_url)));
  }
  jsonld::append_member(m, "name", Json(context.title));
  if (config.publisher_name) {
    Json publisher = jsonld::new_object();
    auto& p = jsonld::members(publisher);
    jsonld::append_member(p, "@type", Json("Organization"));
    if (config.publisher_logo) {
      jsonld::append_member(p, "logo", Json(absolute_asset_url(*config.publisher_logo, config.public_base_url)));
    }
    jsonld::append_member(p, "name", Json(*config.publisher_name));
    jsonld::append_member(m, "publisher", std::move(publisher));
  }
  jsonld::append_member(m, "url", Json(context.canonical));
  return doc;
}

std::optional<Json> build_schema(const SchemaContext& context) {
  const auto& type_map = context.config.schema_type_map;
  const auto mapped = type_map.find(entity_type_name(context.entity.entity_type));
  if (mapped == type_map.end() || !mapped->second) return std::nullopt;
  const std::string_view schema_type = *mapped->second;
  if (const DispatchEntry* entry = find_builtin(schema_type)) {
    return run_builtin(entry->builder, schema_type, context);
  }
  if (context.registry != nullptr) {
    if (const SchemaBuilder* builder = context.registry->find(schema_type)) return (*builder)(context);
  }
  return build_website(schema_type, context);
}

}  // namespace quarlo
