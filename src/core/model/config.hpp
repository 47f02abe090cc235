// The site-wide configuration every payload is built under: canonical host
// and public base URL, the URL policy, robots defaults, social settings and
// the entity-type-to-Schema.org-type map.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/model/entity.hpp"
#include "core/base/error.hpp"
#include "core/base/json.hpp"

namespace quarlo {

enum class TrailingSlash : std::uint8_t { Always, Never, Preserve };

// "Always", "Never", "Preserve".
[[nodiscard]] std::string_view trailing_slash_serialized_name(TrailingSlash value) noexcept;
[[nodiscard]] inline std::string_view serialized_name(TrailingSlash value) noexcept {
  return trailing_slash_serialized_name(value);
}

struct URLPolicy {
  bool enforce_https = true;
  bool lowercase_paths = false;
  TrailingSlash trailing_slash = TrailingSlash::Never;
  bool collapse_duplicate_slashes = true;
  bool strip_tracking_params = true;
  std::vector<std::string> allowed_query_params;
  std::vector<std::string> extra_tracking_params;

  // Derived from this table: the serialised form (to_json, trailing_slash
  // by its serialised name).
  static constexpr auto fields = std::tuple{
      field<"enforce_https">(&URLPolicy::enforce_https),
      field<"lowercase_paths">(&URLPolicy::lowercase_paths),
      field<"trailing_slash">(&URLPolicy::trailing_slash),
      field<"collapse_duplicate_slashes">(&URLPolicy::collapse_duplicate_slashes),
      field<"strip_tracking_params">(&URLPolicy::strip_tracking_params),
      field<"allowed_query_params">(&URLPolicy::allowed_query_params),
      field<"extra_tracking_params">(&URLPolicy::extra_tracking_params),
  };

  friend bool operator==(const URLPolicy&, const URLPolicy&) = default;
};

// Entity type name -> Schema.org type name; an absent value means no schema.
// std::map keeps the keys in byte-wise ascending order.
using SchemaTypeMap = std::map<std::string, std::optional<std::string>, std::less<>>;

// The ten default entries ("home" -> "WebSite", ..., "faq" -> "FAQPage").
[[nodiscard]] SchemaTypeMap default_schema_type_map();

// Index and follow, no limits.
[[nodiscard]] Robots default_page_robots();
// Noindex and follow, no limits.
[[nodiscard]] Robots default_search_robots();

struct SEOConfig {
  std::string canonical_host = "localhost";
  std::string public_base_url = "http://localhost";
  URLPolicy url_policy;
  Robots default_robots = default_page_robots();
  std::optional<SEOImage> default_og_image;
  std::optional<std::string> site_name;
  std::optional<std::string> title_template = std::string("{title}");
  Robots search_robots = default_search_robots();
  SchemaTypeMap schema_type_map = default_schema_type_map();
  bool auto_generate_schema = true;
  std::optional<std::string> publisher_name;
  std::optional<std::string> publisher_logo;
  std::optional<std::string> locale;
  std::optional<std::vector<std::string>> locale_alternate;
  std::optional<std::string> twitter_site;
  bool emit_warnings = false;
  std::optional<std::string> search_url_template;

  // Derived from this table: the serialised form (to_json; title_template
  // is written as null when absent, the other optional fields are left
  // out) and the binding's dictionary form.
  static constexpr auto fields = std::tuple{
      field<"canonical_host">(&SEOConfig::canonical_host),
      field<"public_base_url">(&SEOConfig::public_base_url),
      field<"url_policy">(&SEOConfig::url_policy),
      field<"default_robots">(&SEOConfig::default_robots),
      field<"default_og_image">(&SEOConfig::default_og_image),
      field<"site_name">(&SEOConfig::site_name),
      field<"title_template">(&SEOConfig::title_template, WhenAbsent::Null),
      field<"search_robots">(&SEOConfig::search_robots),
      field<"schema_type_map">(&SEOConfig::schema_type_map),
      field<"auto_generate_schema">(&SEOConfig::auto_generate_schema),
      field<"publisher_name">(&SEOConfig::publisher_name),
      field<"publisher_logo">(&SEOConfig::publisher_logo),
      field<"locale">(&SEOConfig::locale),
      field<"locale_alternate">(&SEOConfig::locale_alternate),
      field<"twitter_site">(&SEOConfig::twitter_site),
      field<"emit_warnings">(&SEOConfig::emit_warnings),
      field<"search_url_template">(&SEOConfig::search_url_template),
  };

  friend bool operator==(const SEOConfig&, const SEOConfig&) = default;
};

// The four checks, in order; the first failing one decides (InvalidConfig).
[[nodiscard]] Result<void> validate(const SEOConfig& config);

// Serialised forms: fields in declaration order ("title_template" always
// written, null when absent; other optional fields omitted when absent).
[[nodiscard]] OrderedJson to_json(const URLPolicy& policy);
[[nodiscard]] OrderedJson to_json(const SEOConfig& config);

}  // namespace quarlo
