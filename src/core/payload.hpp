// The payload: the resolved metadata of one page (title, description,
// canonical URL, robots string, Open Graph and Twitter Card records, JSON-LD
// document and extra top-level keys), its dictionary form and JSON texts,
// reading it back from a dictionary, and its HTML head rendering.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.hpp"
#include "core/json.hpp"

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
  std::optional<Json> schema_jsonld;
  PayloadExtra extra;

  // Dictionary form: a JSON object whose keys are byte-wise ascending at every
  // depth, the extra entries merged among the field keys. Absent optional
  // fields are left out, never written as null.
  [[nodiscard]] Result<Json> to_dict() const;
  // Reads a dictionary form back (Serialization errors with the exact
  // messages callers see, e.g. "missing field `title`").
  [[nodiscard]] static Result<SEOPayload> from_dict(const Json& value);

  // JSON texts: fields in declaration order, then "schema_jsonld" when
  // present, then the extra entries in byte-wise key order.
  [[nodiscard]] Result<std::string> to_json_pretty() const;
  // The compact text, which is the hashed form.
  [[nodiscard]] Result<std::string> to_json_compact() const;
  // Appends the compact text to `out` (one reserved buffer, no copies).
  void append_json_compact(std::string& out) const;

  // HTML head rendering: every text value is HTML-escaped; the JSON-LD text
  // is written into a script element with "</" and "<!--" neutralised.
  [[nodiscard]] std::string render_opengraph() const;
  [[nodiscard]] std::string render_twitter() const;
  [[nodiscard]] Result<std::string> render_jsonld() const;
  [[nodiscard]] Result<std::string> render_html() const;

  friend bool operator==(const SEOPayload&, const SEOPayload&) = default;
};

// "&", "<", ">", '"', "'" and CR (U+000D) replaced, in that order, by
// "&amp;", "&lt;", "&gt;", "&quot;", "&#x27;" and "&#13;". Every other byte,
// NUL included, is copied.
[[nodiscard]] std::string escape_html(std::string_view text);
void append_escaped_html(std::string& out, std::string_view text);

}  // namespace quarlo
