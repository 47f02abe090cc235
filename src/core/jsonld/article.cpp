// Article-like documents (Article, BlogPosting, NewsArticle).
#include "core/jsonld/jsonld.hpp"
#include "core/jsonld/object.hpp"

namespace quarlo {
namespace jsonld {

void write_article(JsonTextWriter& w, std::string_view schema_type, const SchemaContext& context) {
  BaseDocument base(w, context);
  base.open(schema_type);
  base.people_and_dates();
  base.image();
  w.key(R"("mainEntityOfPage":{"@id":)");
  w.string(context.canonical);
  w.literal("}");
  base.name();
  base.publisher();
  base.url_and_close();
}

}  // namespace jsonld

Json build_article(std::string_view schema_type, const SchemaContext& context) {
  return jsonld::document_value([&](JsonTextWriter& w) { jsonld::write_article(w, schema_type, context); });
}

}  // namespace quarlo
