// Shaping route paths under a URL policy and resolving a route or URL to the
// site's one canonical absolute URL: the configured scheme, the configured
// canonical host, a policy-shaped path and a query without tracking or
// unwanted parameters.
#pragma once

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

// Resolves a path or URL against the configuration. Fails with InvalidUrl
// ("url_or_path must be a non-empty string") for a blank input, and with
// InvalidConfig ("invalid public_base_url: " + parser description) when the
// base URL does not parse as an absolute URL. An input that is not an
// absolute URL is used as a raw path, never an error.
[[nodiscard]] Result<std::string> normalize_public_url(std::string_view url_or_path,
                                                       const SEOConfig& config);

// A configuration's public base URL and the parser's result for it.
struct ParsedPublicBase {
  std::string text;
  whatwg::ParseResult result;
};

// Parses config.public_base_url once and keeps the result in the
// configuration (and so in its copies) for every later resolution. Never
// fails: a base URL that does not parse is kept as such, and resolving a URL
// under it fails as it would without the cache, with the same message.
void prepare_public_base(SEOConfig& config);

// normalize_public_url for several routes under one configuration (the
// canonical URL and every breadcrumb of a build): the public base URL is
// parsed once (not at all when the configuration holds its parse), and
// every result and error is that of normalize_public_url. Borrows the
// configuration, which must outlive the resolver and stay unchanged.
class PublicUrlResolver {
 public:
  explicit PublicUrlResolver(const SEOConfig& config);
  PublicUrlResolver(const PublicUrlResolver&) = delete;
  PublicUrlResolver& operator=(const PublicUrlResolver&) = delete;

  [[nodiscard]] Result<std::string> resolve(std::string_view url_or_path) const;
  [[nodiscard]] const SEOConfig& config() const noexcept { return config_; }

 private:
  const SEOConfig& config_;
  std::optional<whatwg::ParseResult> own_;  // when the configuration holds no parse of its base URL
  const whatwg::ParseResult* base_;         // own_ or the configuration's
};

// The canonical query filter: keeps the "&"-separated pieces with a non-empty
// key that pass the policy (allowed list as a whitelist when non-empty,
// otherwise tracking parameters dropped when strip_tracking_params), copied
// unchanged and joined with "&".
[[nodiscard]] std::string filter_query(std::string_view query, const URLPolicy& policy);

}  // namespace quarlo
