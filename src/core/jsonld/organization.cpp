// Organization documents: sameAs links and the logo.
#include "core/jsonld/jsonld.hpp"
#include "core/jsonld/object.hpp"

namespace quarlo {

Json build_organization(const SchemaContext& context) {
  Json doc = base_schema("Organization", context);
  auto& m = jsonld::members(doc);
  if (const auto& same_as = context.entity.same_as) {
    Json urls = Json::array();
    auto& list = *urls.get_ptr<Json::array_t*>();
    list.reserve(same_as->size());
    for (const std::string& url : *same_as) list.emplace_back(url);
    jsonld::set_member(m, "sameAs", std::move(urls));
  }
  // The organisation's own logo is written as configured; only the logo
  // inside "publisher" is made absolute.
  if (const auto& logo = context.config.publisher_logo) jsonld::set_member(m, "logo", Json(*logo));
  return doc;
}

}  // namespace quarlo
