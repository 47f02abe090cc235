// Route paths and canonical public URLs under the URL policy.
#include "core/url/url.hpp"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "core/url/detrack.hpp"
#include "core/base/unicode.hpp"
#include "core/url/whatwg_url.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarlo {
namespace {

// Up to this many allowed names are scanned linearly; longer lists are put
// into a hash set once per call.
constexpr std::size_t kLinearAllowedLimit = 8;

// The operations below work on the tail of `out` that starts at `from`, so
// the canonical URL is built in one string.

void collapse_slashes(std::string& out, std::size_t from) {
  const auto last = std::unique(out.begin() + static_cast<std::ptrdiff_t>(from), out.end(),
                                [](char a, char b) { return a == '/' && b == '/'; });
  out.erase(last, out.end());
}

void lower_case(std::string& out, std::size_t from) {
  const std::string_view tail = std::string_view(out).substr(from);
  if (is_ascii(tail)) {
    for (std::size_t i = from; i < out.size(); ++i) {
      if (out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] + ('a' - 'A'));
    }
    return;
  }
  std::string lowered = to_lower(tail);
  out.resize(from);
  out.append(lowered);
}

void apply_trailing_slash(std::string& out, std::size_t from, TrailingSlash rule) {
  const std::string_view tail = std::string_view(out).substr(from);
  switch (rule) {
    case TrailingSlash::Always:
      if (tail.empty() || tail.back() != '/') out.push_back('/');
      break;
    case TrailingSlash::Never:
      if (tail != "/") {
        const auto keep = tail.find_last_not_of('/');
        out.resize(from + (keep == std::string_view::npos ? 0 : keep + 1));
      }
      break;
    case TrailingSlash::Preserve:
      break;
  }
}

// True when `path` is ASCII and the policy's slash collapsing and
// lower-casing would leave it as it is (most paths).
bool path_is_settled(std::string_view path, bool collapse, bool lower) noexcept {
  const char* const p = path.data();
  const std::size_t n = path.size();
#if defined(__SSE2__)
  unsigned carry = 0;  // 1 when the byte before the block is "/"
  const auto block_is_settled = [&](const char* q) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    // Bytes >= 0x80 are negative here, so they never count as letters.
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('A' - 1)),
                                        _mm_cmplt_epi8(v, _mm_set1_epi8('Z' + 1)));
    const auto slashes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('/'))));
    unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(v));
    if (lower) hits |= static_cast<unsigned>(_mm_movemask_epi8(upper));
    if (collapse) hits |= slashes & ((slashes << 1) | carry);
    carry = (slashes >> 15) & 1U;
    return hits == 0;
  };
  if (n < 16) {
    char padded[16] = {};
    if (n != 0) std::memcpy(padded, p, n);
    return block_is_settled(padded);
  }
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    if (!block_is_settled(p + i)) return false;
  }
  if (i == n) return true;
  carry = p[n - 17] == '/' ? 1U : 0U;
  return block_is_settled(p + n - 16);
#else
  for (std::size_t i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(p[i]);
    if (b >= 0x80 || (lower && b >= 'A' && b <= 'Z') || (collapse && b == '/' && i != 0 && p[i - 1] == '/')) {
      return false;
    }
  }
  return true;
#endif
}

// Appends the normalised form of `path` to `out`.
void append_normalized_path(std::string& out, std::string_view path, const URLPolicy& policy) {
  const std::size_t from = out.size();
  const std::string_view trimmed = trim(path);
  if (trimmed.empty() || trimmed.front() != '/') out.push_back('/');
  out.append(trimmed);
  const bool collapse = policy.collapse_duplicate_slashes;
  const bool lower = policy.lowercase_paths;
  if ((collapse || lower) && !path_is_settled(trimmed, collapse, lower)) {
    if (collapse) collapse_slashes(out, from);
    if (lower) lower_case(out, from);
  }
  apply_trailing_slash(out, from, policy.trailing_slash);
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

std::string normalize_path(std::string_view path, const URLPolicy& policy) {
  std::string out;
  out.reserve(path.size() + 2);
  append_normalized_path(out, path, policy);
  return out;
}

namespace {

// Appends "?" and the filtered query to `out` unless nothing is kept.
void append_filtered_query(std::string& out, std::string_view query, const URLPolicy& policy) {
  if (query.empty()) return;

  const auto& allowed = policy.allowed_query_params;
  std::optional<std::unordered_set<std::string_view>> allowed_set;
  if (allowed.size() > kLinearAllowedLimit) allowed_set.emplace(allowed.begin(), allowed.end());
  const auto is_allowed = [&](std::string_view key) {
    if (allowed_set) return allowed_set->count(key) != 0;
    return std::find(allowed.begin(), allowed.end(), key) != allowed.end();
  };

  bool first = true;
  for_each_query_piece(query, [&](const QueryPiece& piece) {
    const std::string_view raw_key = piece.key();
    if (raw_key.empty()) return;
    bool keep = true;
    if (!allowed.empty()) {
      keep = is_allowed(decoded_key(raw_key));
    } else if (policy.strip_tracking_params) {
      keep = !is_tracking_key(raw_key, policy.extra_tracking_params);
    }
    if (!keep) return;
    out.push_back(first ? '?' : '&');
    out.append(piece.text);
    first = false;
  });
}

}  // namespace

std::string filter_query(std::string_view query, const URLPolicy& policy) {
  std::string out;
  append_filtered_query(out, query, policy);
  if (!out.empty()) out.erase(0, 1);  // the "?"
  return out;
}

PublicBase::PublicBase(std::string_view public_base_url)
    : text_(public_base_url), parsed_(whatwg::parse(public_base_url)) {}

PublicUrlResolver::PublicUrlResolver(const SEOConfig& config, const PublicBase* base)
    : config_(config), base_(nullptr) {
  if (base != nullptr && base->text() == config.public_base_url) {
    base_ = &base->parsed();
  } else {
    base_ = &own_.emplace(whatwg::parse(config.public_base_url));
  }
  if (*base_) {
    const std::string_view scheme = scheme_of_results();
    const std::string_view host = config_.canonical_host;
    if (scheme.size() + 3 + host.size() <= origin_.size()) {
      char* w = origin_.data();
      std::memcpy(w, scheme.data(), scheme.size());
      std::memcpy(w + scheme.size(), "://", 3);
      if (!host.empty()) std::memcpy(w + scheme.size() + 3, host.data(), host.size());
      origin_size_ = scheme.size() + 3 + host.size();
    }
  }
}

std::string_view PublicUrlResolver::scheme_of_results() const noexcept {
  return config_.url_policy.enforce_https ? std::string_view("https") : std::string_view(base_->url->scheme);
}

Result<std::string> PublicUrlResolver::resolve(std::string_view url_or_path) const {
  std::string out;
  QUARLO_TRY_VOID(append_resolved(out, url_or_path));
  return out;
}

Result<void> PublicUrlResolver::append_resolved(std::string& out, std::string_view url_or_path) const {
  const std::string_view trimmed = trim(url_or_path);
  if (trimmed.empty()) {
    return QuarloError::invalid_url("url_or_path must be a non-empty string");
  }
  if (!*base_) {
    std::string message = "invalid public_base_url: ";
    message.append(base_->failure);
    return QuarloError::invalid_config(std::move(message));
  }

  std::optional<whatwg::ParseResult> parsed_input;
  if (may_be_absolute_url(trimmed)) parsed_input.emplace(whatwg::parse(trimmed));

  std::string_view path;
  std::string_view query;
  if (parsed_input && *parsed_input) {
    path = parsed_input->url->path;
    if (parsed_input->url->query) query = *parsed_input->url->query;
  } else {
    path = trimmed.substr(0, trimmed.find('#'));
    const std::size_t q = path.find('?');
    if (q != std::string_view::npos) {
      query = path.substr(q + 1);
      path = path.substr(0, q);
    }
  }

  // A path outside the base URL's path prefix is put under it.
  const std::string_view prefix = strip_trailing_slashes(base_->url->path);
  std::string joined;
  if (!prefix.empty()) {
    const bool under_prefix = path == prefix || (path.size() > prefix.size() && path.starts_with(prefix) &&
                                                 path[prefix.size()] == '/');
    if (!under_prefix) {
      joined.reserve(prefix.size() + 1 + path.size());
      joined.append(prefix);
      if (!path.starts_with('/')) joined.push_back('/');
      joined.append(path);
      path = joined;
    }
  }

  const URLPolicy& policy = config_.url_policy;
  const std::string_view scheme = scheme_of_results();
  const std::size_t needed = scheme.size() + 3 + config_.canonical_host.size() + path.size() + query.size() + 3;
  if (out.capacity() - out.size() < needed) out.reserve(out.size() + needed);
  if (origin_size_ != 0) {
    out.append(origin_.data(), origin_size_);
  } else {
    out.append(scheme);
    out.append("://");
    out.append(config_.canonical_host);
  }
  append_normalized_path(out, path, policy);
  append_filtered_query(out, query, policy);
  return {};
}

Result<std::string> normalize_public_url(std::string_view url_or_path, const SEOConfig& config,
                                         const PublicBase* base) {
  return PublicUrlResolver(config, base).resolve(url_or_path);
}

}  // namespace quarlo
