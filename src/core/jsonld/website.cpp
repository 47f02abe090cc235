// WebSite and web page documents, with the site search action.
#include "core/jsonld/jsonld.hpp"
#include "core/jsonld/object.hpp"

namespace quarlo {

Json build_website(std::string_view schema_type, const SchemaContext& context) {
  Json doc = base_schema(schema_type, context);
  // Only the site itself offers a search box, and only with a template that
  // has the placeholder to fill in.
  const auto& search = context.config.search_url_template;
  if (schema_type == "WebSite" && search && search->find("{search_term_string}") != std::string::npos) {
    Json action = jsonld::new_object();
    auto& a = jsonld::members(action);
    jsonld::append_member(a, "@type", Json("SearchAction"));
    jsonld::append_member(a, "query-input", Json("required name=search_term_string"));
    jsonld::append_member(a, "target", jsonld::typed_object("EntryPoint", "urlTemplate", Json(*search)));
    jsonld::set_member(jsonld::members(doc), "potentialAction", std::move(action));
  }
  return doc;
}

}  // namespace quarlo
