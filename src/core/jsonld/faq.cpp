// FAQPage documents with their questions and answers.
#include "core/jsonld/jsonld.hpp"
#include "core/jsonld/object.hpp"

namespace quarlo {
namespace jsonld {

void write_faq_page(JsonTextWriter& w, const SchemaContext& context) {
  BaseDocument base(w, context);
  base.open("FAQPage");
  base.people_and_dates();
  base.image();
  if (const auto& items = context.entity.faq_items) {
    w.key(R"("mainEntity":)");
    w.begin_array();
    for (const FAQItem& item : *items) {
      w.element();
      w.begin_object();
      w.key(R"("@type":)");
      w.literal(R"("Question")");
      w.key(R"("acceptedAnswer":)");
      write_typed_object(w, R"("Answer")", R"("text":)", item.answer);
      w.key(R"("name":)");
      w.string(item.question);
      w.end_object();
    }
    w.end_array();
  }
  base.name();
  base.publisher();
  base.url_and_close();
}

}  // namespace jsonld

Json build_faq_page(const SchemaContext& context) {
  return jsonld::document_value([&](JsonTextWriter& w) { jsonld::write_faq_page(w, context); });
}

}  // namespace quarlo
