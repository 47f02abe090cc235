// Fuzzes reading a payload from a JSON text: parse_json, then from_dict.
// Beyond not crashing: an accepted payload writes a dictionary form that
// from_dict accepts again, giving an equal payload; its compact and pretty
// texts parse back to that same dictionary, and both texts are byte for byte
// what the JSON writer gives for the payload laid out as an OrderedJson.
// The head's script element is the document's pretty text made safe for a
// script element, and a head written into a buffer used before is the same;
// so is the hashed text.
// A rejected input fails with a Serialization error.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/base/json.hpp"
#include "core/payload/html.hpp"
#include "core/payload/payload.hpp"

namespace {

[[noreturn]] void fail(const char* what, std::string_view input, std::string_view detail) {
  std::fprintf(stderr, "%s\n  input:  %.*s\n  detail: %.*s\n", what, static_cast<int>(input.size()),
               input.data(), static_cast<int>(detail.size()), detail.data());
  std::abort();
}

template <class Optional>
void put(quarlo::OrderedJson& object, const char* key, const Optional& value) {
  if (value) object[key] = *value;
}

// The payload's text layout built the slow way, as the writer's reference.
quarlo::OrderedJson reference_object(const quarlo::SEOPayload& p) {
  quarlo::OrderedJson o = quarlo::OrderedJson::object();
  o["title"] = p.title;
  o["description"] = p.description;
  o["canonical"] = p.canonical;
  o["robots"] = p.robots;
  quarlo::OrderedJson og = quarlo::OrderedJson::object();
  og["type"] = p.og.type;
  put(og, "title", p.og.title);
  put(og, "description", p.og.description);
  put(og, "url", p.og.url);
  put(og, "image", p.og.image);
  put(og, "image_width", p.og.image_width);
  put(og, "image_height", p.og.image_height);
  put(og, "image_alt", p.og.image_alt);
  put(og, "site_name", p.og.site_name);
  put(og, "locale", p.og.locale);
  put(og, "locale_alternate", p.og.locale_alternate);
  put(og, "audio", p.og.audio);
  put(og, "video", p.og.video);
  o["og"] = std::move(og);
  quarlo::OrderedJson tw = quarlo::OrderedJson::object();
  tw["card"] = p.twitter.card;
  put(tw, "title", p.twitter.title);
  put(tw, "description", p.twitter.description);
  put(tw, "image", p.twitter.image);
  put(tw, "image_alt", p.twitter.image_alt);
  put(tw, "site", p.twitter.site);
  put(tw, "creator", p.twitter.creator);
  o["twitter"] = std::move(tw);
  if (p.schema_jsonld) o["schema_jsonld"] = quarlo::OrderedJson(p.schema_jsonld->value());
  for (const auto& [key, value] : p.extra) o[key] = quarlo::OrderedJson(value);
  return o;
}

std::string replace_all(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

void check_head(std::string_view input, const quarlo::SEOPayload& p) {
  const std::string html = p.render_html();
  if (p.schema_jsonld) {
    const std::string pretty = quarlo::write_json(p.schema_jsonld->value(), quarlo::JsonLayout::Pretty);
    const std::string script = "<script type=\"application/ld+json\">\n" +
                               replace_all(replace_all(pretty, "</", "<\\/"), "<!--", "\\u003c!--") +
                               "\n</script>\n";
    if (html.size() < script.size() || html.compare(html.size() - script.size(), script.size(), script) != 0) {
      fail("script element differs from the writer's pretty text", input, html);
    }
  }
  // A buffer left longer and holding other bytes by an earlier page.
  static std::string buffer;
  if (quarlo::render_html_into(p, buffer) != html) fail("head written into a used buffer differs", input, html);
  buffer.assign(buffer.size() + 7, '#');
}

void check_text_parses_back(const char* what, std::string_view input, const std::string& text,
                            const quarlo::Json& dict) {
  const auto parsed = quarlo::parse_json(text);
  if (!parsed) fail(what, input, parsed.error().message());
  // The dictionary form and the texts hold the same values.
  if (*parsed != dict) fail(what, input, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 8192) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto value = quarlo::parse_json(input);
  if (!value) return 0;

  const auto payload = quarlo::SEOPayload::from_dict(*value);
  if (!payload) {
    if (payload.error().kind() != quarlo::ErrorKind::Serialization) {
      fail("from_dict failed with another kind", input, payload.error().message());
    }
    return 0;
  }

  const std::string compact = payload->to_json_compact();
  const std::string pretty = payload->to_json_pretty();
  // The dictionary form is the compact text read back.
  const auto dict = quarlo::parse_json(compact);
  if (!dict) fail("compact text", input, dict.error().message());
  const auto again = quarlo::SEOPayload::from_dict(*dict);
  if (!again) fail("dictionary form rejected", input, again.error().message());
  if (!(*again == *payload)) fail("dictionary form reads back different", input, compact);
  check_text_parses_back("pretty text", input, pretty, *dict);

  const auto reference = reference_object(*payload);
  if (compact != quarlo::write_json(reference, quarlo::JsonLayout::Compact)) {
    fail("compact text differs from the writer's", input, compact);
  }
  if (pretty != quarlo::write_json(reference, quarlo::JsonLayout::Pretty)) {
    fail("pretty text differs from the writer's", input, pretty);
  }
  check_head(input, *payload);
  // The hashed text is the compact text, written into a used buffer too.
  static std::string hashed;
  if (quarlo::compact_json_into(*payload, hashed) != compact) fail("hashed text differs", input, compact);
  hashed.assign(hashed.size() + 5, '#');
  return 0;
}
