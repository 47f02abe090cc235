// The site-wide configuration every payload is built under: canonical host
// and public base URL, the URL policy, robots defaults, social settings and
// the entity-type-to-Schema.org-type map.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
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

struct URLPolicy {
  bool enforce_https = true;
  bool lowercase_paths = false;
  TrailingSlash trailing_slash = TrailingSlash::Never;
  bool collapse_duplicate_slashes = true;
  bool strip_tracking_params = true;
  std::vector<std::string> allowed_query_params;
  std::vector<std::string> extra_tracking_params;

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

struct ParsedPublicBase;  // url.hpp

// public_base_url parsed once (prepare_public_base, url.hpp) and shared by
// the copies of a configuration, so resolving a route does not parse it
// again. Not part of the configuration's value: equality ignores it, and it
// is used only while public_base_url is still the text it was parsed from.
struct PublicBaseCache {
  std::shared_ptr<const ParsedPublicBase> parsed;

  friend bool operator==(const PublicBaseCache&, const PublicBaseCache&) noexcept { return true; }
};

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
  PublicBaseCache public_base_cache;

  friend bool operator==(const SEOConfig&, const SEOConfig&) = default;
};

// The four checks, in order; the first failing one decides (InvalidConfig).
[[nodiscard]] Result<void> validate(const SEOConfig& config);

// Serialised forms: fields in declaration order ("title_template" always
// written, null when absent; other optional fields omitted when absent).
[[nodiscard]] OrderedJson to_json(const URLPolicy& policy);
[[nodiscard]] OrderedJson to_json(const SEOConfig& config);

}  // namespace quarlo
