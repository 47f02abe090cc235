// The payload builder: precedence chains from overrides, entity and configuration.
#include "core/payload/builder.hpp"

#include <utility>

#include "core/base/ascii.hpp"
#include "core/jsonld/breadcrumbs.hpp"
#include "core/jsonld/jsonld.hpp"
#include "core/payload/text.hpp"
#include "core/base/unicode.hpp"
#include "core/url/url.hpp"
#include "core/url/whatwg_url.hpp"

namespace quarlo {
namespace {

constexpr std::string_view kFallbackTitle = "Untitled";
constexpr std::string_view kTitlePlaceholder = "{title}";
constexpr std::size_t kDescriptionLimit = 160;
constexpr std::string_view kDefaultTwitterCard = "summary_large_image";

// A candidate is usable when present and not blank; a chain takes the
// trimmed form of its first usable candidate.
std::optional<std::string_view> usable(const std::optional<std::string>& candidate) noexcept {
  if (!candidate) return std::nullopt;
  const std::string_view trimmed = trim(*candidate);
  if (trimmed.empty()) return std::nullopt;
  return trimmed;
}

std::optional<std::string_view> usable_text(std::string_view candidate) noexcept {
  const std::string_view trimmed = trim(candidate);
  if (trimmed.empty()) return std::nullopt;
  return trimmed;
}

std::optional<std::string> to_owned(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  return std::string(*text);
}

std::string apply_title_template(std::string_view tmpl, std::string_view title) {
  std::string out;
  out.reserve(tmpl.size() + title.size());
  std::size_t from = 0;
  for (std::size_t at = tmpl.find(kTitlePlaceholder); at != std::string_view::npos;
       at = tmpl.find(kTitlePlaceholder, from)) {
    out.append(tmpl, from, at - from);
    out.append(title);
    from = at + kTitlePlaceholder.size();
  }
  out.append(tmpl, from);
  return out;
}

std::string resolve_title(const SEOEntity& entity, const SEOConfig& config, const SEOOverrides& overrides) {
  std::optional<std::string_view> text = usable(overrides.meta_title);
  if (!text) text = usable(entity.title);
  const std::string_view title = text ? *text : kFallbackTitle;
  if (config.title_template && !overrides.skip_title_template) {
    return apply_title_template(*config.title_template, title);
  }
  return std::string(title);
}

std::string resolve_description(const SEOEntity& entity, const SEOOverrides& overrides) {
  if (auto text = usable(overrides.meta_description)) return std::string(*text);
  if (auto text = usable(entity.excerpt)) return std::string(*text);
  if (entity.body_html) {
    // A snippet is never blank: html_to_text collapses and trims white space.
    if (auto snippet = build_description_snippet(*entity.body_html, kDescriptionLimit)) {
      return std::move(*snippet);
    }
  }
  return std::string();
}

// An explicit canonical URL must be an absolute http(s) URL; it is kept as
// written (trimmed), not re-serialised or normalised.
Result<std::string> checked_canonical_override(std::string_view override_url) {
  const std::string_view trimmed = trim(override_url);
  const whatwg::ParseResult parsed = whatwg::parse(trimmed);
  if (!parsed) {
    std::string message = "canonical_url override must be an absolute URL: ";
    message.append(parsed.failure);
    return QuarloError::invalid_url(std::move(message));
  }
  if (parsed.url->scheme != "http" && parsed.url->scheme != "https") {
    return QuarloError::invalid_url("canonical_url override must use http or https");
  }
  return std::string(trimmed);
}

Robots choose_robots(const SEOEntity& entity, const SEOConfig& config, const SEOOverrides& overrides) {
  if (overrides.robots) return *overrides.robots;
  if (entity.entity_type == EntityType::Search) return config.search_robots;
  if (!entity.status) return config.default_robots;
  Robots robots;
  robots.index = equals_ignoring_ascii_case(*entity.status, "published");
  robots.follow = true;
  return robots;
}

}  // namespace

Result<SEOPayload> build_seo_payload(const SEOEntity& entity, std::string_view route, const SEOConfig& config,
                                     const SEOOverrides* overrides_or_null, const SchemaRegistry* registry,
                                     const PublicBase* public_base) {
  static const SEOOverrides kNoOverrides;
  const SEOOverrides& overrides = overrides_or_null ? *overrides_or_null : kNoOverrides;
  // Parsed once for the canonical URL and every breadcrumb; a bad base URL
  // surfaces only when a route is resolved.
  const PublicUrlResolver resolver(config, public_base);

  SEOPayload payload;
  payload.title = resolve_title(entity, config, overrides);
  payload.description = resolve_description(entity, overrides);

  if (overrides.canonical_url) {
    QUARLO_TRY(payload.canonical, checked_canonical_override(*overrides.canonical_url));
  } else {
    const std::string_view path = overrides.canonical_path ? std::string_view(*overrides.canonical_path) : route;
    QUARLO_TRY_VOID(resolver.append_resolved(payload.canonical, path));
  }

  payload.robots = choose_robots(entity, config, overrides).serialize();

  // Images: each record takes one whole image from the first source present.
  const SEOImage* og_image = overrides.og_image         ? &*overrides.og_image
                             : entity.featured_image    ? &*entity.featured_image
                             : config.default_og_image  ? &*config.default_og_image
                                                        : nullptr;
  const SEOImage* twitter_image = overrides.twitter_image ? &*overrides.twitter_image : og_image;

  OGPayload& og = payload.og;
  const bool is_article = entity.entity_type == EntityType::Post || entity.entity_type == EntityType::Video;
  og.type = is_article ? "article" : "website";
  og.title = to_owned(usable(overrides.og_title));
  if (!og.title) og.title = to_owned(usable_text(payload.title));
  og.description = to_owned(usable(overrides.og_description));
  if (!og.description) og.description = to_owned(usable_text(payload.description));
  og.url = payload.canonical;
  if (og_image) {
    og.image = og_image->url;
    og.image_width = og_image->width;
    og.image_height = og_image->height;
    og.image_alt = og_image->alt;
  }
  og.site_name = config.site_name;
  og.locale = config.locale;
  og.locale_alternate = config.locale_alternate;
  og.audio = overrides.og_audio;
  og.video = overrides.og_video;

  TwitterPayload& twitter = payload.twitter;
  const auto card = usable(overrides.twitter_card);
  twitter.card = card ? *card : kDefaultTwitterCard;
  twitter.title = to_owned(usable(overrides.twitter_title));
  if (!twitter.title) twitter.title = og.title;
  twitter.description = to_owned(usable(overrides.twitter_description));
  if (!twitter.description) twitter.description = og.description;
  if (twitter_image) {
    twitter.image = twitter_image->url;
    twitter.image_alt = twitter_image->alt;
  }
  twitter.site = config.twitter_site;
  twitter.creator = overrides.twitter_creator;

  // Structured data: the main document (unless omitted), then the breadcrumb
  // list whenever the entity carries a trail, as one canonical text.
  SchemaDocuments documents;
  if (overrides.omit_schema) {
    // no main document
  } else if (overrides.schema_jsonld) {
    documents.add_value(*overrides.schema_jsonld);
  } else if (config.auto_generate_schema) {
    const SchemaContext context{entity,
                                config,
                                payload.canonical,
                                payload.title,
                                std::string_view(payload.description),
                                og.image ? std::optional<std::string_view>(*og.image) : std::nullopt,
                                registry};
    append_schema(documents, context);
  }
  if (entity.breadcrumbs) {
    QUARLO_TRY_VOID(append_breadcrumb_list(documents.next_document(), *entity.breadcrumbs, resolver));
  }
  if (std::optional<std::string> text = std::move(documents).take_text()) {
    payload.schema_jsonld = JsonDoc::from_canonical(std::move(*text));
  }
  return payload;
}

Result<SEOPayload> build_seo_payload_with_overrides(const SEOEntity& entity, std::string_view route,
                                                    const SEOConfig& config, const SEOOverrides* overrides,
                                                    const PublicBase* public_base) {
  return build_seo_payload(entity, route, config, overrides, nullptr, public_base);
}

}  // namespace quarlo
