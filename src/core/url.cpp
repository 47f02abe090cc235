#include "core/url.hpp"

#include <algorithm>
#include <unordered_set>

#include "core/detrack.hpp"
#include "core/unicode.hpp"
#include "core/whatwg_url.hpp"

namespace quarlo {
namespace {

// Up to this many allowed names are scanned linearly; longer lists are put
// into a hash set once per call.
constexpr std::size_t kLinearAllowedLimit = 8;

void collapse_slashes(std::string& path) {
  const auto last = std::unique(path.begin(), path.end(),
                                [](char a, char b) { return a == '/' && b == '/'; });
  path.erase(last, path.end());
}

void apply_trailing_slash(std::string& path, TrailingSlash rule) {
  switch (rule) {
    case TrailingSlash::Always:
      if (path.empty() || path.back() != '/') path.push_back('/');
      break;
    case TrailingSlash::Never:
      if (path != "/") {
        const auto keep = path.find_last_not_of('/');
        path.resize(keep == std::string::npos ? 0 : keep + 1);
      }
      break;
    case TrailingSlash::Preserve:
      break;
  }
}

std::string_view strip_trailing_slashes(std::string_view s) noexcept {
  const auto keep = s.find_last_not_of('/');
  return keep == std::string_view::npos ? std::string_view{} : s.substr(0, keep + 1);
}

// An absolute URL needs a scheme followed by ":"; without any ":" the parser
// can only report a relative URL, so it is not worth calling.
bool may_be_absolute_url(std::string_view text) noexcept {
  return text.find(':') != std::string_view::npos;
}

}  // namespace

Result<std::string> normalize_path(std::string_view path, const URLPolicy& policy) {
  const std::string_view trimmed = trim(path);
  std::string out;
  out.reserve(trimmed.size() + 2);
  if (trimmed.empty() || trimmed.front() != '/') out.push_back('/');
  out.append(trimmed);
  if (policy.collapse_duplicate_slashes) collapse_slashes(out);
  if (policy.lowercase_paths) out = to_lower(out);
  apply_trailing_slash(out, policy.trailing_slash);
  return out;
}

std::string filter_query(std::string_view query, const URLPolicy& policy) {
  std::string out;
  if (query.empty()) return out;
  out.reserve(query.size());

  const auto& allowed = policy.allowed_query_params;
  std::unordered_set<std::string_view> allowed_set;
  const bool use_set = allowed.size() > kLinearAllowedLimit;
  if (use_set) allowed_set.insert(allowed.begin(), allowed.end());
  const auto is_allowed = [&](std::string_view key) {
    if (use_set) return allowed_set.count(key) != 0;
    return std::find(allowed.begin(), allowed.end(), key) != allowed.end();
  };

  bool first = true;
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t amp = query.find('&', start);
    if (amp == std::string_view::npos) amp = query.size();
    const std::string_view piece = query.substr(start, amp - start);
    start = amp + 1;

    const std::string_view raw_key = piece.substr(0, piece.find('='));
    if (raw_key.empty()) continue;
    bool keep = true;
    if (!allowed.empty()) {
      keep = is_allowed(decoded_key(raw_key));
    } else if (policy.strip_tracking_params) {
      keep = !is_tracking_piece(piece, policy.extra_tracking_params);
    }
    if (!keep) continue;
    if (!first) out.push_back('&');
    out.append(piece);
    first = false;
  }
  return out;
}

Result<std::string> normalize_public_url(std::string_view url_or_path, const SEOConfig& config) {
  const std::string_view trimmed = trim(url_or_path);
  if (trimmed.empty()) {
    return QuarloError::invalid_url("url_or_path must be a non-empty string");
  }

  whatwg::ParseResult parsed_input;
  if (may_be_absolute_url(trimmed)) parsed_input = whatwg::parse(trimmed);

  const whatwg::ParseResult base = whatwg::parse(config.public_base_url);
  if (!base) {
    std::string message = "invalid public_base_url: ";
    message.append(base.failure);
    return QuarloError::invalid_config(std::move(message));
  }

  std::string path;
  std::string_view query;
  if (parsed_input) {
    path = parsed_input.url->path;
    if (parsed_input.url->query) query = *parsed_input.url->query;
  } else {
    std::string_view raw = trimmed.substr(0, trimmed.find('#'));
    const std::size_t q = raw.find('?');
    if (q != std::string_view::npos) {
      query = raw.substr(q + 1);
      raw = raw.substr(0, q);
    }
    path.assign(raw);
  }

  const std::string_view prefix = strip_trailing_slashes(base.url->path);
  if (!prefix.empty()) {
    const std::string_view p = path;
    const bool under_prefix =
        p == prefix || (p.size() > prefix.size() && p.starts_with(prefix) && p[prefix.size()] == '/');
    if (!under_prefix) {
      std::string joined;
      joined.reserve(prefix.size() + 1 + path.size());
      joined.append(prefix);
      if (!p.starts_with('/')) joined.push_back('/');
      joined.append(path);
      path = std::move(joined);
    }
  }

  QUARLO_TRY(std::string normalized, normalize_path(path, config.url_policy));
  const std::string filtered = filter_query(query, config.url_policy);

  const std::string_view scheme = config.url_policy.enforce_https ? std::string_view("https")
                                                                  : std::string_view(base.url->scheme);
  std::string out;
  out.reserve(scheme.size() + 3 + config.canonical_host.size() + normalized.size() +
              (filtered.empty() ? 0 : filtered.size() + 1));
  out.append(scheme);
  out.append("://");
  out.append(config.canonical_host);
  out.append(normalized);
  if (!filtered.empty()) {
    out.push_back('?');
    out.append(filtered);
  }
  return out;
}

}  // namespace quarlo
