// VideoObject documents: thumbnail and upload date.
#include "core/jsonld/jsonld.hpp"
#include "core/jsonld/object.hpp"

namespace quarlo {
namespace jsonld {

void write_video(JsonTextWriter& w, const SchemaContext& context) {
  BaseDocument base(w, context);
  base.open("VideoObject");
  base.people_and_dates();
  base.image();
  base.name();
  base.publisher();
  // The thumbnail repeats "image", already in absolute form.
  if (base.has_image()) {
    w.key(R"("thumbnailUrl":)");
    base.image_value();
  }
  write_optional_string(w, R"("uploadDate":)", context.entity.published_at);
  base.url_and_close();
}

}  // namespace jsonld

Json build_video(const SchemaContext& context) {
  return jsonld::document_value([&](JsonTextWriter& w) { jsonld::write_video(w, context); });
}

}  // namespace quarlo
