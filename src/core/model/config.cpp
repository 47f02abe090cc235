// Site configuration: defaults, validation and the serialised form.
#include "core/model/config.hpp"

namespace quarlo {
namespace {

OrderedJson string_array(const std::vector<std::string>& items) {
  OrderedJson out = OrderedJson::array();
  for (const auto& item : items) out.push_back(item);
  return out;
}

template <class T>
void put_optional(OrderedJson& j, const char* key, const std::optional<T>& value) {
  if (value) j[key] = *value;
}

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

OrderedJson to_json(const URLPolicy& policy) {
  OrderedJson j = OrderedJson::object();
  j["enforce_https"] = policy.enforce_https;
  j["lowercase_paths"] = policy.lowercase_paths;
  j["trailing_slash"] = trailing_slash_serialized_name(policy.trailing_slash);
  j["collapse_duplicate_slashes"] = policy.collapse_duplicate_slashes;
  j["strip_tracking_params"] = policy.strip_tracking_params;
  j["allowed_query_params"] = string_array(policy.allowed_query_params);
  j["extra_tracking_params"] = string_array(policy.extra_tracking_params);
  return j;
}

OrderedJson to_json(const SEOConfig& config) {
  OrderedJson j = OrderedJson::object();
  j["canonical_host"] = config.canonical_host;
  j["public_base_url"] = config.public_base_url;
  j["url_policy"] = to_json(config.url_policy);
  j["default_robots"] = to_json(config.default_robots);
  if (config.default_og_image) j["default_og_image"] = to_json(*config.default_og_image);
  put_optional(j, "site_name", config.site_name);
  j["title_template"] = config.title_template ? OrderedJson(*config.title_template) : OrderedJson();
  j["search_robots"] = to_json(config.search_robots);

  // The map's keys are unique and already in order: append the members
  // directly (operator[] would search the ordered object for each key).
  OrderedJson schema_types = OrderedJson::object();
  auto& members = *schema_types.get_ptr<OrderedJson::object_t*>();
  members.reserve(config.schema_type_map.size());
  for (const auto& [entity_type, schema_type] : config.schema_type_map) {
    members.Container::emplace_back(entity_type, schema_type ? OrderedJson(*schema_type) : OrderedJson());
  }
  j["schema_type_map"] = std::move(schema_types);

  j["auto_generate_schema"] = config.auto_generate_schema;
  put_optional(j, "publisher_name", config.publisher_name);
  put_optional(j, "publisher_logo", config.publisher_logo);
  put_optional(j, "locale", config.locale);
  if (config.locale_alternate) j["locale_alternate"] = string_array(*config.locale_alternate);
  put_optional(j, "twitter_site", config.twitter_site);
  j["emit_warnings"] = config.emit_warnings;
  put_optional(j, "search_url_template", config.search_url_template);
  return j;
}

}  // namespace quarlo
