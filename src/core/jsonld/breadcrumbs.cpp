// Breadcrumb trails as Schema.org BreadcrumbList documents.
#include "core/jsonld/breadcrumbs.hpp"

#include <cstdint>
#include <utility>

#include "core/jsonld/jsonld.hpp"
#include "core/jsonld/object.hpp"

namespace quarlo {

Result<Json> build_breadcrumb_list(const std::vector<Breadcrumb>& breadcrumbs, const SEOConfig& config) {
  return build_breadcrumb_list(breadcrumbs, PublicUrlResolver(config));
}

Result<Json> build_breadcrumb_list(const std::vector<Breadcrumb>& breadcrumbs, const PublicUrlResolver& resolver) {
  Json items = Json::array();
  auto& list = *items.get_ptr<Json::array_t*>();
  list.reserve(breadcrumbs.size());
  std::uint64_t position = 0;
  for (const Breadcrumb& crumb : breadcrumbs) {
    QUARLO_TRY(std::string url, resolver.resolve(crumb.url));
    Json item = jsonld::new_object();
    auto& m = jsonld::members(item);
    jsonld::append_member(m, "@type", Json("ListItem"));
    jsonld::append_member(m, "item", Json(std::move(url)));
    jsonld::append_member(m, "name", Json(crumb.name));
    jsonld::append_member(m, "position", Json(++position));
    list.push_back(std::move(item));
  }

  Json doc = jsonld::new_object();
  auto& m = jsonld::members(doc);
  jsonld::append_member(m, "@context", Json(kSchemaOrgContext));
  jsonld::append_member(m, "@type", Json("BreadcrumbList"));
  jsonld::append_member(m, "itemListElement", std::move(items));
  return doc;
}

}  // namespace quarlo
