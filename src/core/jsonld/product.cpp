// Product documents: SKU and offer.
#include "core/jsonld/jsonld.hpp"
#include "core/jsonld/object.hpp"

namespace quarlo {
namespace jsonld {
namespace {

// An availability already written as a Schema.org vocabulary URL is kept;
// a bare term ("InStock") is put under the vocabulary.
void write_availability(JsonTextWriter& w, std::string_view availability) {
  if (availability.starts_with("https://schema.org/") || availability.starts_with("http://schema.org/")) {
    w.string(availability);
  } else {
    w.string_pieces({kSchemaOrgContext, "/", availability});
  }
}

}  // namespace

void write_product(JsonTextWriter& w, const SchemaContext& context) {
  const SEOEntity& entity = context.entity;
  BaseDocument base(w, context);
  base.open("Product");
  base.people_and_dates();
  base.image();
  base.name();
  if (entity.price || entity.price_currency || entity.availability) {
    w.key(R"("offers":)");
    w.begin_object();
    w.key(R"("@type":)");
    w.literal(R"("Offer")");
    if (entity.availability) {
      w.key(R"("availability":)");
      write_availability(w, *entity.availability);
    }
    write_optional_string(w, R"("price":)", entity.price);
    write_optional_string(w, R"("priceCurrency":)", entity.price_currency);
    w.end_object();
  }
  base.publisher();
  write_optional_string(w, R"("sku":)", entity.sku);
  base.url_and_close();
}

}  // namespace jsonld

Json build_product(const SchemaContext& context) {
  return jsonld::document_value([&](JsonTextWriter& w) { jsonld::write_product(w, context); });
}

}  // namespace quarlo
