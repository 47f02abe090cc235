// LocalBusiness documents: an organisation with a postal address.
#include "core/jsonld/jsonld.hpp"
#include "core/jsonld/object.hpp"

namespace quarlo {

Json build_local_business(const SchemaContext& context) {
  Json doc = build_organization(context);
  auto& m = jsonld::members(doc);
  jsonld::set_member(m, "@type", Json("LocalBusiness"));
  if (const auto& address = context.entity.address) {
    jsonld::set_member(m, "address", jsonld::typed_object("PostalAddress", "streetAddress", Json(*address)));
  }
  return doc;
}

}  // namespace quarlo
