// WebSite and web page documents, with the site search action.
#include "core/jsonld/jsonld.hpp"
#include "core/jsonld/object.hpp"

namespace quarlo {
namespace jsonld {

void write_website(JsonTextWriter& w, std::string_view schema_type, const SchemaContext& context) {
  BaseDocument base(w, context);
  base.open(schema_type);
  base.people_and_dates();
  base.image();
  base.name();
  // Only the site itself offers a search box, and only with a template that
  // has the placeholder to fill in.
  const auto& search = context.config.search_url_template;
  if (schema_type == "WebSite" && search && search->find("{search_term_string}") != std::string::npos) {
    w.key(R"("potentialAction":)");
    w.begin_object();
    w.key(R"("@type":)");
    w.literal(R"("SearchAction")");
    w.key(R"("query-input":)");
    w.literal(R"("required name=search_term_string")");
    w.key(R"("target":)");
    write_typed_object(w, R"("EntryPoint")", R"("urlTemplate":)", *search);
    w.end_object();
  }
  base.publisher();
  base.url_and_close();
}

}  // namespace jsonld

Json build_website(std::string_view schema_type, const SchemaContext& context) {
  return jsonld::document_value([&](JsonTextWriter& w) { jsonld::write_website(w, schema_type, context); });
}

}  // namespace quarlo
