// Organization documents: sameAs links and the logo.
#include "core/jsonld/jsonld.hpp"
#include "core/jsonld/object.hpp"

namespace quarlo {
namespace jsonld {
namespace {

// "@context" "@type" | address | base members and "logo" | "sameAs" | "url".
void write_organization_members(JsonTextWriter& w, std::string_view schema_type, const SchemaContext& context) {
  BaseDocument base(w, context);
  base.open(schema_type);
  if (schema_type == "LocalBusiness") {
    if (const auto& address = context.entity.address) {
      w.key(R"("address":)");
      write_typed_object(w, R"("PostalAddress")", R"("streetAddress":)", *address);
    }
  }
  base.people_and_dates();
  base.image();
  // The organisation's own logo is written as configured; only the logo
  // inside "publisher" is made absolute.
  write_optional_string(w, R"("logo":)", context.config.publisher_logo);
  base.name();
  base.publisher();
  if (const auto& same_as = context.entity.same_as) {
    w.key(R"("sameAs":)");
    w.begin_array();
    for (const std::string& url : *same_as) {
      w.element();
      w.string(url);
    }
    w.end_array();
  }
  base.url_and_close();
}

}  // namespace

void write_organization(JsonTextWriter& w, const SchemaContext& context) {
  write_organization_members(w, "Organization", context);
}

// An organisation with a postal address.
void write_local_business(JsonTextWriter& w, const SchemaContext& context) {
  write_organization_members(w, "LocalBusiness", context);
}

}  // namespace jsonld

Json build_organization(const SchemaContext& context) {
  return jsonld::document_value([&](JsonTextWriter& w) { jsonld::write_organization(w, context); });
}

Json build_local_business(const SchemaContext& context) {
  return jsonld::document_value([&](JsonTextWriter& w) { jsonld::write_local_business(w, context); });
}

}  // namespace quarlo
