// The payload: the resolved metadata of one page (title, description,
// canonical URL, robots string, Open Graph and Twitter Card records, JSON-LD
// document and extra top-level keys), its JSON texts, reading it back from
// its dictionary form, and its HTML head rendering.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/error.hpp"
#include "core/base/fields.hpp"
#include "core/base/json.hpp"
#include "core/base/json_doc.hpp"

namespace quarlo {

struct OGPayload {
  std::string type;
  std::optional<std::string> title;
  std::optional<std::string> description;
  std::optional<std::string> url;
  std::optional<std::string> image;
  std::optional<std::uint32_t> image_width;
  std::optional<std::uint32_t> image_height;
  std::optional<std::string> image_alt;
  std::optional<std::string> site_name;
  std::optional<std::string> locale;
  std::optional<std::vector<std::string>> locale_alternate;
  std::optional<std::string> audio;
  std::optional<std::string> video;

  // The fields, each with its meta tag. Derived from this table: the JSON
  // texts and their size estimate, from_dict (object and array forms, the
  // field count in its messages), the Open Graph lines of the head and the
  // binding's properties and dict views.
  static constexpr auto fields = std::tuple{
      field<"type", "og:type">(&OGPayload::type),
      field<"title", "og:title">(&OGPayload::title),
      field<"description", "og:description">(&OGPayload::description),
      field<"url", "og:url">(&OGPayload::url),
      field<"image", "og:image">(&OGPayload::image),
      field<"image_width", "og:image:width">(&OGPayload::image_width),
      field<"image_height", "og:image:height">(&OGPayload::image_height),
      field<"image_alt", "og:image:alt">(&OGPayload::image_alt),
      field<"site_name", "og:site_name">(&OGPayload::site_name),
      field<"locale", "og:locale">(&OGPayload::locale),
      field<"locale_alternate", "og:locale:alternate">(&OGPayload::locale_alternate),
      field<"audio", "og:audio">(&OGPayload::audio),
      field<"video", "og:video">(&OGPayload::video),
  };

  friend bool operator==(const OGPayload&, const OGPayload&) = default;
};

struct TwitterPayload {
  std::string card;
  std::optional<std::string> title;
  std::optional<std::string> description;
  std::optional<std::string> image;
  std::optional<std::string> image_alt;
  std::optional<std::string> site;
  std::optional<std::string> creator;

  // The fields, each with its meta tag. Derived from this table: as for
  // OGPayload, with the Twitter Card lines of the head.
  static constexpr auto fields = std::tuple{
      field<"card", "twitter:card">(&TwitterPayload::card),
      field<"title", "twitter:title">(&TwitterPayload::title),
      field<"description", "twitter:description">(&TwitterPayload::description),
      field<"image", "twitter:image">(&TwitterPayload::image),
      field<"image_alt", "twitter:image:alt">(&TwitterPayload::image_alt),
      field<"site", "twitter:site">(&TwitterPayload::site),
      field<"creator", "twitter:creator">(&TwitterPayload::creator),
  };

  friend bool operator==(const TwitterPayload&, const TwitterPayload&) = default;
};

// Extra top-level keys, byte-wise ascending; never one of the seven field names.
using PayloadExtra = std::map<std::string, Json, std::less<>>;

struct SEOPayload {
  std::string title;
  std::string description;
  std::string canonical;
  std::string robots;
  OGPayload og;
  TwitterPayload twitter;
  // The JSON-LD document (an object, or an array of documents), held as its
  // canonical compact text.
  std::optional<JsonDoc> schema_jsonld;
  PayloadExtra extra;

  // The fields; `extra` is none: its entries follow the fields in every form.
  // Derived from this table: the JSON texts and their size estimate,
  // from_dict (the required keys and the order their absence is reported
  // in are the non-optional fields in declaration order), the field names an
  // extra entry may not take, and the binding's dict view.
  static constexpr auto fields = std::tuple{
      field<"title">(&SEOPayload::title),
      field<"description">(&SEOPayload::description),
      field<"canonical">(&SEOPayload::canonical),
      field<"robots">(&SEOPayload::robots),
      field<"og">(&SEOPayload::og),
      field<"twitter">(&SEOPayload::twitter),
      field<"schema_jsonld">(&SEOPayload::schema_jsonld),
  };

  // The dictionary form is the compact text read back: the same members,
  // the keys of every object in byte-wise order, absent optional fields
  // left out. from_dict reads it back (Serialization errors with the exact
  // messages callers see, e.g. "missing field `title`").
  [[nodiscard]] static Result<SEOPayload> from_dict(const Json& value);

  // JSON texts: fields in declaration order, then "schema_jsonld" when
  // present, then the extra entries in byte-wise key order.
  [[nodiscard]] std::string to_json_pretty() const;
  // The compact text, which is the hashed form.
  [[nodiscard]] std::string to_json_compact() const;
  // Appends the compact text to `out` (one reserved buffer, no copies).
  void append_json_compact(std::string& out) const;

  // HTML head rendering: every text value is HTML-escaped; the JSON-LD text
  // is written into a script element with "</" and "<!--" neutralised.
  [[nodiscard]] std::string render_opengraph() const;
  [[nodiscard]] std::string render_twitter() const;
  // The script element, or "" when there is no schema.
  [[nodiscard]] std::string render_jsonld() const;
  // The whole head snippet, each line ended by a line feed.
  [[nodiscard]] std::string render_html() const;

  friend bool operator==(const SEOPayload&, const SEOPayload&) = default;
};

// The compact text of `payload` written into `buffer` from its start, as a
// view into it. The buffer keeps its size (at least the text's), so a buffer
// used for page after page is neither allocated nor filled again.
[[nodiscard]] std::string_view compact_json_into(const SEOPayload& payload, std::string& buffer);

}  // namespace quarlo
