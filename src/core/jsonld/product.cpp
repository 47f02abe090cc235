// Product documents: SKU and offer.
#include "core/jsonld/jsonld.hpp"
#include "core/jsonld/object.hpp"

namespace quarlo {
namespace {

// An availability already written as a Schema.org vocabulary URL is kept;
// a bare term ("InStock") is put under the vocabulary.
std::string availability_url(std::string_view availability) {
  if (availability.starts_with("https://schema.org/") || availability.starts_with("http://schema.org/")) {
    return std::string(availability);
  }
  std::string url;
  url.reserve(kSchemaOrgContext.size() + 1 + availability.size());
  url.append(kSchemaOrgContext);
  url.push_back('/');
  url.append(availability);
  return url;
}

}  // namespace

Json build_product(const SchemaContext& context) {
  Json doc = base_schema("Product", context);
  const SEOEntity& entity = context.entity;
  auto& m = jsonld::members(doc);
  if (entity.sku) jsonld::set_member(m, "sku", Json(*entity.sku));
  if (entity.price || entity.price_currency || entity.availability) {
    Json offer = jsonld::new_object();
    auto& o = jsonld::members(offer);
    jsonld::append_member(o, "@type", Json("Offer"));
    if (entity.availability) jsonld::append_member(o, "availability", Json(availability_url(*entity.availability)));
    if (entity.price) jsonld::append_member(o, "price", Json(*entity.price));
    if (entity.price_currency) jsonld::append_member(o, "priceCurrency", Json(*entity.price_currency));
    jsonld::set_member(m, "offers", std::move(offer));
  }
  return doc;
}

}  // namespace quarlo
