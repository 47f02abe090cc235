// Shaping route paths under a URL policy and resolving a route or URL to the
// site's one canonical absolute URL: the configured scheme, the configured
// canonical host, a policy-shaped path and a query without tracking or
// unwanted parameters.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/model/config.hpp"
#include "core/base/error.hpp"
#include "core/url/whatwg_url.hpp"

namespace quarlo {

// Trims Unicode white space, makes the path start with "/" ("" becomes "/"),
// then applies the policy: collapse slash runs, full Unicode lower-casing,
// trailing slash rule. Nothing is percent-encoded, decoded or
// dot-segment-resolved; "?" and "#" are ordinary characters here.
[[nodiscard]] std::string normalize_path(std::string_view path, const URLPolicy& policy);

// A public base URL parsed once, for a caller that resolves many routes
// under one configuration over time (the binding's configuration object
// owns one beside its configuration). Never fails: a base URL that does not
// parse is kept as such, and resolving under it fails as without it, with
// the same message.
class PublicBase {
 public:
  explicit PublicBase(std::string_view public_base_url);

  [[nodiscard]] const std::string& text() const noexcept { return text_; }
  [[nodiscard]] const whatwg::ParseResult& parsed() const noexcept { return parsed_; }

 private:
  std::string text_;
  whatwg::ParseResult parsed_;
};

// Resolves a path or URL against the configuration. Fails with InvalidUrl
// ("url_or_path must be a non-empty string") for a blank input, and with
// InvalidConfig ("invalid public_base_url: " + parser description) when the
// base URL does not parse as an absolute URL. An input that is not an
// absolute URL is used as a raw path, never an error. `base`, when given
// and made from config.public_base_url, spares parsing the base URL; any
// other base is not used.
[[nodiscard]] Result<std::string> normalize_public_url(std::string_view url_or_path, const SEOConfig& config,
                                                       const PublicBase* base = nullptr);

// normalize_public_url for several routes under one configuration (the
// canonical URL and every breadcrumb of a build): the public base URL is
// parsed once (not at all with a PublicBase of it), and every result and
// error is that of normalize_public_url. Borrows the configuration and the
// base, which must outlive the resolver and stay unchanged.
class PublicUrlResolver {
 public:
  explicit PublicUrlResolver(const SEOConfig& config, const PublicBase* base = nullptr);
  PublicUrlResolver(const PublicUrlResolver&) = delete;
  PublicUrlResolver& operator=(const PublicUrlResolver&) = delete;

  [[nodiscard]] Result<std::string> resolve(std::string_view url_or_path) const;
  // The same appended to `out` (left as it was on failure).
  [[nodiscard]] Result<void> append_resolved(std::string& out, std::string_view url_or_path) const;
  [[nodiscard]] const SEOConfig& config() const noexcept { return config_; }

 private:
  // The scheme of every result (the base URL must have parsed).
  [[nodiscard]] std::string_view scheme_of_results() const noexcept;

  const SEOConfig& config_;
  std::optional<whatwg::ParseResult> own_;  // when no PublicBase of the configuration's base URL was given
  const whatwg::ParseResult* base_;         // own_ or the given PublicBase's
  // "scheme://host", the start of every result, when the base URL parses and
  // it fits (origin_size_ 0 otherwise).
  std::array<char, 64> origin_;
  std::size_t origin_size_ = 0;
};

// The canonical query filter: keeps the "&"-separated pieces with a non-empty
// key that pass the policy (allowed list as a whitelist when non-empty,
// otherwise tracking parameters dropped when strip_tracking_params), copied
// unchanged and joined with "&".
[[nodiscard]] std::string filter_query(std::string_view query, const URLPolicy& policy);

}  // namespace quarlo
