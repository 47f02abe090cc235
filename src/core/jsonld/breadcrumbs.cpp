// Breadcrumb trails as Schema.org BreadcrumbList documents.
#include "core/jsonld/breadcrumbs.hpp"

#include <cstdint>
#include <string>
#include <utility>

#include "core/base/record_json.hpp"
#include "core/jsonld/jsonld.hpp"

namespace quarlo {

Result<void> append_breadcrumb_list(std::string& out, const std::vector<Breadcrumb>& breadcrumbs,
                                    const PublicUrlResolver& resolver) {
  JsonTextWriter w(out, JsonLayout::Compact);
  w.begin_object();
  w.key(R"("@context":)");
  w.string(kSchemaOrgContext);
  w.key(R"("@type":)");
  w.string("BreadcrumbList");
  w.key(R"("itemListElement":)");
  w.begin_array();
  std::uint64_t position = 0;
  std::string url;
  for (const Breadcrumb& crumb : breadcrumbs) {
    QUARLO_TRY_VOID(resolver.resolve_into(url, crumb.url));
    w.element();
    w.begin_object();
    w.key(R"("@type":)");
    w.string("ListItem");
    w.key(R"("item":)");
    w.string(url);
    w.key(R"("name":)");
    w.string(crumb.name);
    w.key(R"("position":)");
    w.number(++position);
    w.end_object();
  }
  w.end_array();
  w.end_object();
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
