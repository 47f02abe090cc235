// Breadcrumb trails as Schema.org BreadcrumbList documents.
#include "core/jsonld/breadcrumbs.hpp"

#include <charconv>
#include <cstdint>
#include <string>
#include <utility>

#include "core/base/record_json.hpp"
#include "core/jsonld/jsonld.hpp"

namespace quarlo {
namespace {

// The crumb's canonical URL as a JSON string, resolved straight into the
// text; the rare URL with a character to escape is written again escaped.
Result<void> append_url_string(std::string& out, std::string_view url, const PublicUrlResolver& resolver) {
  out.push_back('"');
  const std::size_t from = out.size();
  QUARLO_TRY_VOID(resolver.append_resolved(out, url));
  const std::string_view written = std::string_view(out).substr(from);
  if (json_string_size(written) != written.size() + 2) {
    const std::string plain(written);
    out.resize(from - 1);
    append_json_string(out, plain);
    return {};
  }
  out.push_back('"');
  return {};
}

}  // namespace

Result<void> append_breadcrumb_list(std::string& out, const std::vector<Breadcrumb>& breadcrumbs,
                                    const PublicUrlResolver& resolver) {
  // Room for the whole list at once (a long trail would otherwise be copied
  // into ever larger buffers): its fixed parts, each crumb's texts and
  // position, and a site origin of up to 64 bytes before each URL.
  std::size_t room = 96;
  for (const Breadcrumb& crumb : breadcrumbs) room += crumb.name.size() + crumb.url.size() + 128;
  out.reserve(out.size() + room);
  // The list is only ever written compact: its fixed parts go in as text.
  out.append(R"({"@context":"https://schema.org","@type":"BreadcrumbList","itemListElement":[)");
  std::uint64_t position = 0;
  for (const Breadcrumb& crumb : breadcrumbs) {
    out.append(position == 0 ? std::string_view(R"({"@type":"ListItem","item":)")
                             : std::string_view(R"(,{"@type":"ListItem","item":)"));
    QUARLO_TRY_VOID(append_url_string(out, crumb.url, resolver));
    out.append(R"(,"name":)");
    append_json_string(out, crumb.name);
    out.append(R"(,"position":)");
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, ++position).ptr;
    out.append(digits, end);
    out.push_back('}');
  }
  out.append("]}");
  return {};
}

Result<Json> build_breadcrumb_list(const std::vector<Breadcrumb>& breadcrumbs, const SEOConfig& config) {
  return build_breadcrumb_list(breadcrumbs, PublicUrlResolver(config));
}

Result<Json> build_breadcrumb_list(const std::vector<Breadcrumb>& breadcrumbs, const PublicUrlResolver& resolver) {
  std::string text;
  QUARLO_TRY_VOID(append_breadcrumb_list(text, breadcrumbs, resolver));
  auto parsed = parse_json(text, text.size());
  if (!parsed) return std::move(parsed).error();
  return std::move(parsed).value();
}

}  // namespace quarlo
