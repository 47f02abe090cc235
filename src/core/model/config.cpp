// Site configuration: defaults, validation and the serialised form.
#include "core/model/config.hpp"

#include "core/base/record_json.hpp"

namespace quarlo {
namespace {

// A scheme separator "://" always holds a "/", so the three characters cover
// schemes, paths, queries and fragments alike.
bool is_host_only(std::string_view host) {
  return host.find_first_of("/?#") == std::string_view::npos;
}

}  // namespace

std::string_view trailing_slash_serialized_name(TrailingSlash value) noexcept {
  switch (value) {
    case TrailingSlash::Always:
      return "Always";
    case TrailingSlash::Never:
      return "Never";
    case TrailingSlash::Preserve:
      return "Preserve";
  }
  return {};
}

SchemaTypeMap default_schema_type_map() {
  return SchemaTypeMap{
      {"home", "WebSite"},
      {"post", "Article"},
      {"page", "WebPage"},
      {"video", "VideoObject"},
      {"taxonomy", "CollectionPage"},
      {"search", "SearchResultsPage"},
      {"product", "Product"},
      {"organization", "Organization"},
      {"local_business", "LocalBusiness"},
      {"faq", "FAQPage"},
  };
}

Robots default_page_robots() {
  Robots robots;
  robots.index = true;
  robots.follow = true;
  return robots;
}

Robots default_search_robots() {
  Robots robots;
  robots.index = false;
  robots.follow = true;
  return robots;
}

Result<void> validate(const SEOConfig& config) {
  if (config.canonical_host.empty()) {
    return QuarloError::invalid_config("canonical_host must be a non-empty string");
  }
  if (!is_host_only(config.canonical_host)) {
    return QuarloError::invalid_config("canonical_host must be host-only (no scheme/path/query)");
  }
  if (config.public_base_url.empty()) {
    return QuarloError::invalid_config("public_base_url must be a non-empty string");
  }
  if (config.title_template &&
      config.title_template->find("{title}") == std::string::npos) {
    return QuarloError::invalid_config("title_template must include '{title}' placeholder");
  }
  return {};
}

OrderedJson to_json(const URLPolicy& policy) { return to_ordered_json(policy); }
OrderedJson to_json(const SEOConfig& config) { return to_ordered_json(config); }

}  // namespace quarlo
