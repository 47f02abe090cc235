// Fuzzes canonical URL resolution and tracking-parameter removal. The input
// is split into a policy byte, the public base URL and the route or URL.
// Beyond not crashing: results keep the configured scheme and host, valid
// UTF-8 input gives valid UTF-8 output, clean_query is idempotent and
// clean_url keeps the fragment out of the query and unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/url/detrack.hpp"
#include "core/base/unicode.hpp"
#include "core/url/url.hpp"

namespace {

[[noreturn]] void fail(const char* what, std::string_view input, std::string_view detail) {
  std::fprintf(stderr, "%s\n  input:  %.*s\n  detail: %.*s\n", what, static_cast<int>(input.size()), input.data(),
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

using quarlo::is_valid_utf8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 4096) return 0;
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const std::uint8_t flags = data[0];
  std::string_view rest = all.substr(1);
  const std::size_t split = rest.find('\n');
  const std::string_view base = split == std::string_view::npos ? std::string_view("https://example.com/")
                                                                 : rest.substr(0, split);
  const std::string_view route = split == std::string_view::npos ? rest : rest.substr(split + 1);

  quarlo::SEOConfig config;
  config.canonical_host = "canonical.example";
  config.public_base_url = std::string(base);
  auto& policy = config.url_policy;
  policy.enforce_https = flags & 1;
  policy.lowercase_paths = flags & 2;
  policy.collapse_duplicate_slashes = flags & 4;
  policy.strip_tracking_params = flags & 8;
  policy.trailing_slash = static_cast<quarlo::TrailingSlash>((flags >> 4) % 3);
  if (flags & 64) policy.allowed_query_params = {"page", "q"};
  if (flags & 128) policy.extra_tracking_params = {"ref"};

  const auto result = quarlo::normalize_public_url(route, config);
  if (result) {
    const std::string_view out = *result;
    if (out.find("://canonical.example") == std::string_view::npos) fail("host lost", all, out);
    if (policy.enforce_https && !out.starts_with("https://")) fail("scheme not enforced", all, out);
    if (is_valid_utf8(route) && !is_valid_utf8(out)) fail("invalid UTF-8 out", all, out);
  }

  const std::string once = quarlo::clean_query(route);
  if (quarlo::clean_query(once) != once) fail("clean_query not idempotent", all, once);
  const auto cleaned = quarlo::clean_url(route);
  if (is_valid_utf8(route) && !is_valid_utf8(cleaned.url)) fail("invalid UTF-8 from clean_url", all, cleaned.url);
  const std::size_t hash = route.find('#');
  if (hash != std::string_view::npos && !cleaned.url.ends_with(route.substr(hash))) {
    fail("clean_url changed the fragment", all, cleaned.url);
  }
  for (const auto* map : {&cleaned.removed_params, &cleaned.cleaned_params}) {
    for (const auto& [key, value] : *map) {
      if (key.find('#') != std::string_view::npos || value.find('#') != std::string_view::npos) {
        fail("fragment in a parameter map", all, value);
      }
    }
  }

  // A shaped path starts with "/", or is empty (only slashes, uncollapsed,
  // under the Never rule).
  const std::string path = quarlo::normalize_path(route, policy);
  if (!path.empty() && path.front() != '/') fail("normalize_path lost the leading slash", all, path);
  return 0;
}
