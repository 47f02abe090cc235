// Article-like documents (Article, BlogPosting, NewsArticle).
#include "core/jsonld/jsonld.hpp"
#include "core/jsonld/object.hpp"

namespace quarlo {

Json build_article(std::string_view schema_type, const SchemaContext& context) {
  Json doc = base_schema(schema_type, context);
  Json page = jsonld::new_object();
  jsonld::append_member(jsonld::members(page), "@id", Json(context.canonical));
  jsonld::set_member(jsonld::members(doc), "mainEntityOfPage", std::move(page));
  return doc;
}

}  // namespace quarlo
