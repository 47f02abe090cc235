// VideoObject documents: thumbnail and upload date.
#include "core/jsonld/jsonld.hpp"
#include "core/jsonld/object.hpp"

namespace quarlo {

Json build_video(const SchemaContext& context) {
  Json doc = base_schema("VideoObject", context);
  auto& m = jsonld::members(doc);
  // "image" is already in absolute form.
  if (const auto image = m.find("image"); image != m.end()) {
    Json thumbnail = image->second;
    jsonld::set_member(m, "thumbnailUrl", std::move(thumbnail));
  }
  if (context.entity.published_at) jsonld::set_member(m, "uploadDate", Json(*context.entity.published_at));
  return doc;
}

}  // namespace quarlo
