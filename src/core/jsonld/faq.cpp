// FAQPage documents with their questions and answers.
#include "core/jsonld/jsonld.hpp"
#include "core/jsonld/object.hpp"

namespace quarlo {

Json build_faq_page(const SchemaContext& context) {
  Json doc = base_schema("FAQPage", context);
  const auto& items = context.entity.faq_items;
  if (items) {
    Json questions = Json::array();
    auto& list = *questions.get_ptr<Json::array_t*>();
    list.reserve(items->size());
    for (const FAQItem& item : *items) {
      Json question = jsonld::new_object();
      auto& q = jsonld::members(question);
      jsonld::append_member(q, "@type", Json("Question"));
      jsonld::append_member(q, "acceptedAnswer", jsonld::typed_object("Answer", "text", Json(item.answer)));
      jsonld::append_member(q, "name", Json(item.question));
      list.push_back(std::move(question));
    }
    jsonld::set_member(jsonld::members(doc), "mainEntity", std::move(questions));
  }
  return doc;
}

}  // namespace quarlo
