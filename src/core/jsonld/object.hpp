// Writing structured-data documents straight into their canonical compact
// text: every object's members are written in byte-wise ascending key order
// by construction, so the text is what the JSON writer makes of the same
// document held as a Json value. Internal to the jsonld and breadcrumbs
// modules.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/base/json.hpp"
#include "core/base/record_json.hpp"
#include "core/jsonld/jsonld.hpp"

namespace quarlo::jsonld {

// A reference made absolute, as up to three pieces to be written one after
// the other (the base URL, a joining slash, the reference), or as an owned
// text in the rare case that needs one.
struct AssetUrl {
  std::array<std::string_view, 3> pieces{};
  std::string owned;
};

[[nodiscard]] AssetUrl asset_url(std::string_view reference, std::string_view public_base_url);

inline void write_asset_url(JsonTextWriter& w, const AssetUrl& url) {
  w.string_pieces({url.pieces[0], url.pieces[1], url.pieces[2]});
}

// The member `json_key` (its key's JSON text with the colon) with the text
// as its value, when the text is present.
template <class Text>
void write_optional_string(JsonTextWriter& w, std::string_view json_key, const std::optional<Text>& text) {
  if (!text) return;
  w.key(json_key);
  w.string(*text);
}

// {"@type": type, key: text}: the shape of most nested Schema.org objects.
// `json_type` is the type name's JSON text (quoted), `json_key` the key's
// JSON text with the colon, which must sort after "@type".
inline void write_typed_object(JsonTextWriter& w, std::string_view json_type, std::string_view json_key,
                               std::string_view text) {
  w.begin_object();
  w.key(R"("@type":)");
  w.literal(json_type);
  w.key(json_key);
  w.string(text);
  w.end_object();
}

// The members every built-in document starts from, written in key order
// section by section, so that a per-type builder writes its own members
// between the sections where their keys sort:
//   "@context" "@type" | "author" "dateModified" "datePublished"
//   "description" | "image" | "name" | "publisher" | "url".
// The writer must be compact: constant runs of members go in as one text.
class BaseDocument {
 public:
  BaseDocument(JsonTextWriter& w, const SchemaContext& context)
      : w_(w), context_(context) {
    if (context.image) image_ = asset_url(*context.image, context.config.public_base_url);
  }

  // "{", "@context" and "@type".
  void open(std::string_view schema_type);
  // "author", "dateModified", "datePublished", "description".
  void people_and_dates();
  // "image", when the payload has one.
  void image();
  void name();
  // "publisher", when the configuration names one.
  void publisher();
  // "url" and "}".
  void url_and_close();

  [[nodiscard]] bool has_image() const noexcept { return context_.image.has_value(); }
  // The value of "image" again (for a member that repeats it).
  void image_value() { write_asset_url(w_, image_); }

 private:
  JsonTextWriter& w_;
  const SchemaContext& context_;
  AssetUrl image_;
};

// The built-in builders, each writing one whole document.
void write_article(JsonTextWriter& w, std::string_view schema_type, const SchemaContext& context);
void write_website(JsonTextWriter& w, std::string_view schema_type, const SchemaContext& context);
void write_video(JsonTextWriter& w, const SchemaContext& context);
void write_faq_page(JsonTextWriter& w, const SchemaContext& context);
void write_organization(JsonTextWriter& w, const SchemaContext& context);
void write_local_business(JsonTextWriter& w, const SchemaContext& context);
void write_product(JsonTextWriter& w, const SchemaContext& context);

// The Json value of a document written by `write` (for the callers that want
// a value rather than text).
template <class Write>
[[nodiscard]] Json document_value(Write&& write) {
  std::string text;
  JsonTextWriter w(text, JsonLayout::Compact);
  write(w);
  // The writer's own text parses back, except where an input held
  // ill-formed UTF-8, which gives null. Nesting is not limited here.
  auto parsed = parse_json(text, text.size());
  return parsed ? std::move(parsed).value() : Json();
}

}  // namespace quarlo::jsonld
