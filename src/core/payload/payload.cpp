// Payload records: dictionary form, JSON texts and reading a dictionary back.
#include "core/payload/payload.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <utility>

namespace quarlo {
namespace {

// The seven field names of the payload. An extra entry under one of them
// cannot come out of from_dict; one set directly in code is left out of every
// form so that the field keeps its key and no text holds a key twice.
bool is_field_name(std::string_view key) {
  static constexpr std::array<std::string_view, 7> kNames = {
      "title", "description", "canonical", "robots", "og", "twitter", "schema_jsonld"};
  return std::find(kNames.begin(), kNames.end(), key) != kNames.end();
}

// ---------------------------------------------------------------------------
// JSON texts
//
// The payload is written field by field straight into the caller's buffer,
// in the layout of the JSON writer: compact without any whitespace, pretty
// with a line break and two spaces per level before every entry. JSON values
// (schema, extras) go through the writer itself.

// Appends `value` in pretty layout as the value of an entry at nesting
// `level`: the writer lays it out from level 0, so every line break it wrote
// is shifted right by two spaces per level, in place. Raw line breaks occur
// in the writer's output only as layout (string contents are escaped).
void append_pretty_nested(std::string& out, const Json& value, std::size_t level) {
  const std::size_t start = out.size();
  append_json(out, value, JsonLayout::Pretty);
  const std::size_t pad = 2 * level;
  auto breaks = static_cast<std::size_t>(std::count(out.begin() + static_cast<std::ptrdiff_t>(start),
                                                    out.end(), '\n'));
  if (breaks == 0 || pad == 0) return;
  std::size_t src = out.size();
  out.resize(src + breaks * pad);
  char* const text = out.data();
  std::size_t dst = out.size();
  while (breaks > 0) {
    const char c = text[--src];
    if (c == '\n') {
      dst -= pad;
      std::memset(text + dst, ' ', pad);
      --breaks;
    }
    text[--dst] = c;
  }
}

class PayloadWriter {
 public:
  PayloadWriter(std::string& out, JsonLayout layout)
      : out_(out), pretty_(layout == JsonLayout::Pretty) {}

  void open_object() {
    out_.push_back('{');
    ++depth_;
    first_ = true;
  }
  void close_object() {
    --depth_;
    if (pretty_) line_break();
    out_.push_back('}');
    first_ = false;
  }

  // Key of a field, given as its compact text with quotes and colon
  // (R"("title":)"): field names need no escaping.
  void field(std::string_view quoted_key) {
    next_item();
    out_.append(quoted_key);
    if (pretty_) out_.push_back(' ');
  }
  // Key of an extra entry: any text.
  void extra_key(std::string_view name) {
    next_item();
    append_json_string(out_, name);
    out_.push_back(':');
    if (pretty_) out_.push_back(' ');
  }

  void string(std::string_view text) { append_json_string(out_, text); }

  void unsigned_number(std::uint32_t value) {
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    out_.append(buf, res.ptr);
  }

  void string_list(const std::vector<std::string>& items) {
    if (items.empty()) {
      out_.append("[]", 2);
      return;
    }
    out_.push_back('[');
    ++depth_;
    first_ = true;
    for (const auto& item : items) {
      next_item();
      string(item);
    }
    --depth_;
    if (pretty_) line_break();
    out_.push_back(']');
    first_ = false;
  }

  void json(const Json& value) {
    if (pretty_) {
      append_pretty_nested(out_, value, depth_);
    } else {
      append_json(out_, value, JsonLayout::Compact);
    }
  }

  void optional_string(std::string_view quoted_key, const std::optional<std::string>& value) {
    if (!value) return;
    field(quoted_key);
    string(*value);
  }
  void optional_size(std::string_view quoted_key, const std::optional<std::uint32_t>& value) {
    if (!value) return;
    field(quoted_key);
    unsigned_number(*value);
  }

 private:
  void next_item() {
    if (!first_) out_.push_back(',');
    first_ = false;
    if (pretty_) line_break();
  }
  void line_break() {
    out_.push_back('\n');
    out_.append(2 * depth_, ' ');
  }

  std::string& out_;
  const bool pretty_;
  std::size_t depth_ = 0;
  bool first_ = true;
};

void write_og(PayloadWriter& w, const OGPayload& og) {
  w.open_object();
  w.field(R"("type":)");
  w.string(og.type);
  w.optional_string(R"("title":)", og.title);
  w.optional_string(R"("description":)", og.description);
  w.optional_string(R"("url":)", og.url);
  w.optional_string(R"("image":)", og.image);
  w.optional_size(R"("image_width":)", og.image_width);
  w.optional_size(R"("image_height":)", og.image_height);
  w.optional_string(R"("image_alt":)", og.image_alt);
  w.optional_string(R"("site_name":)", og.site_name);
  w.optional_string(R"("locale":)", og.locale);
  if (og.locale_alternate) {
    w.field(R"("locale_alternate":)");
    w.string_list(*og.locale_alternate);
  }
  w.optional_string(R"("audio":)", og.audio);
  w.optional_string(R"("video":)", og.video);
  w.close_object();
}

void write_twitter(PayloadWriter& w, const TwitterPayload& tw) {
  w.open_object();
  w.field(R"("card":)");
  w.string(tw.card);
  w.optional_string(R"("title":)", tw.title);
  w.optional_string(R"("description":)", tw.description);
  w.optional_string(R"("image":)", tw.image);
  w.optional_string(R"("image_alt":)", tw.image_alt);
  w.optional_string(R"("site":)", tw.site);
  w.optional_string(R"("creator":)", tw.creator);
  w.close_object();
}

std::size_t optional_size(const std::optional<std::string>& text) {
  return text ? text->size() + 16 : 0;
}

// A generous guess of the text length so that writing seldom reallocates:
// the texts themselves, the keys and punctuation, and room for the schema.
std::size_t estimate_text_size(const SEOPayload& p) {
  std::size_t n = 256 + p.title.size() + p.description.size() + p.canonical.size() +
                  p.robots.size() + p.og.type.size() + p.twitter.card.size();
  const auto& og = p.og;
  n += optional_size(og.title) + optional_size(og.description) + optional_size(og.url) +
       optional_size(og.image) + optional_size(og.image_alt) + optional_size(og.site_name) +
       optional_size(og.locale) + optional_size(og.audio) + optional_size(og.video);
  if (og.locale_alternate) {
    for (const auto& item : *og.locale_alternate) n += item.size() + 4;
  }
  const auto& tw = p.twitter;
  n += optional_size(tw.title) + optional_size(tw.description) + optional_size(tw.image) +
       optional_size(tw.image_alt) + optional_size(tw.site) + optional_size(tw.creator);
  if (p.schema_jsonld) n += 1024;
  n += 64 * p.extra.size();
  return n;
}

void write_payload(std::string& out, const SEOPayload& p, JsonLayout layout) {
  const std::size_t guess = estimate_text_size(p);
  out.reserve(out.size() + (layout == JsonLayout::Pretty ? guess + guess / 2 : guess));
  PayloadWriter w(out, layout);
  w.open_object();
  w.field(R"("title":)");
  w.string(p.title);
  w.field(R"("description":)");
  w.string(p.description);
  w.field(R"("canonical":)");
  w.string(p.canonical);
  w.field(R"("robots":)");
  w.string(p.robots);
  w.field(R"("og":)");
  write_og(w, p.og);
  w.field(R"("twitter":)");
  write_twitter(w, p.twitter);
  if (p.schema_jsonld) {
    w.field(R"("schema_jsonld":)");
    w.json(*p.schema_jsonld);
  }
  for (const auto& [key, value] : p.extra) {
    if (is_field_name(key)) continue;
    w.extra_key(key);
    w.json(value);
  }
  w.close_object();
}

// ---------------------------------------------------------------------------
// Dictionary form

void put_optional(Json::object_t& obj, const char* key, const std::optional<std::string>& value) {
  if (value) obj.emplace(key, Json(*value));
}

void put_optional(Json::object_t& obj, const char* key, const std::optional<std::uint32_t>& value) {
  if (value) obj.emplace(key, Json(static_cast<std::uint64_t>(*value)));
}

Json og_dict(const OGPayload& og) {
  Json value(Json::value_t::object);
  auto& obj = *value.get_ptr<Json::object_t*>();
  obj.emplace("type", Json(og.type));
  put_optional(obj, "title", og.title);
  put_optional(obj, "description", og.description);
  put_optional(obj, "url", og.url);
  put_optional(obj, "image", og.image);
  put_optional(obj, "image_width", og.image_width);
  put_optional(obj, "image_height", og.image_height);
  put_optional(obj, "image_alt", og.image_alt);
  put_optional(obj, "site_name", og.site_name);
  put_optional(obj, "locale", og.locale);
  if (og.locale_alternate) {
    Json list(Json::value_t::array);
    auto& items = *list.get_ptr<Json::array_t*>();
    items.reserve(og.locale_alternate->size());
    for (const auto& item : *og.locale_alternate) items.emplace_back(item);
    obj.emplace("locale_alternate", std::move(list));
  }
  put_optional(obj, "audio", og.audio);
  put_optional(obj, "video", og.video);
  return value;
}

Json twitter_dict(const TwitterPayload& tw) {
  Json value(Json::value_t::object);
  auto& obj = *value.get_ptr<Json::object_t*>();
  obj.emplace("card", Json(tw.card));
  put_optional(obj, "title", tw.title);
  put_optional(obj, "description", tw.description);
  put_optional(obj, "image", tw.image);
  put_optional(obj, "image_alt", tw.image_alt);
  put_optional(obj, "site", tw.site);
  put_optional(obj, "creator", tw.creator);
  return value;
}

// ---------------------------------------------------------------------------
// Reading the dictionary form back

// How a found value is named in messages: 'integer `5`', 'string "text"'.
std::string describe(const Json& value) {
  using nlohmann::detail::value_t;
  switch (value.type()) {
    case value_t::null:
      return "null";
    case value_t::boolean:
      return *value.get_ptr<const Json::boolean_t*>() ? "boolean `true`" : "boolean `false`";
    case value_t::number_integer:
      return "integer `" + std::to_string(*value.get_ptr<const Json::number_integer_t*>()) + "`";
    case value_t::number_unsigned:
      return "integer `" + std::to_string(*value.get_ptr<const Json::number_unsigned_t*>()) + "`";
    case value_t::number_float: {
      // Written as the JSON writer writes it ("1.5", "1.0", "1e+16"); the
      // non-finite values, which only code can build, by name.
      const double d = *value.get_ptr<const Json::number_float_t*>();
      if (std::isnan(d)) return "floating point `NaN`";
      if (std::isinf(d)) return d < 0 ? "floating point `-inf`" : "floating point `inf`";
      return "floating point `" + write_json(value, JsonLayout::Compact) + "`";
    }
    case value_t::string:
      return "string \"" + *value.get_ptr<const Json::string_t*>() + "\"";
    case value_t::array:
      return "sequence";
    case value_t::object:
      return "map";
    case value_t::binary:
      return "byte array";
    case value_t::discarded:
      break;
  }
  return "discarded value";
}

QuarloError invalid_type(const Json& found, std::string_view expected) {
  std::string message = "invalid type: ";
  message += describe(found);
  message += ", expected ";
  message += expected;
  return QuarloError::serialization(std::move(message));
}

QuarloError invalid_value(const Json& found, std::string_view expected) {
  std::string message = "invalid value: ";
  message += describe(found);
  message += ", expected ";
  message += expected;
  return QuarloError::serialization(std::move(message));
}

QuarloError invalid_length(std::size_t length, std::string_view expected) {
  return QuarloError::serialization("invalid length " + std::to_string(length) + ", expected " +
                                    std::string(expected));
}

QuarloError missing_field(std::string_view name) {
  return QuarloError::serialization("missing field `" + std::string(name) + "`");
}

Result<void> read_string(const Json& value, std::string& out) {
  const auto* text = value.get_ptr<const Json::string_t*>();
  if (!text) return invalid_type(value, "a string");
  out = *text;
  return {};
}

// Optional fields: null is the same as leaving the key out.
Result<void> read_optional_string(const Json& value, std::optional<std::string>& out) {
  if (value.is_null()) {
    out.reset();
    return {};
  }
  const auto* text = value.get_ptr<const Json::string_t*>();
  if (!text) return invalid_type(value, "a string");
  out = *text;
  return {};
}

Result<void> read_optional_u32(const Json& value, std::optional<std::uint32_t>& out) {
  constexpr auto kMax = std::numeric_limits<std::uint32_t>::max();
  if (value.is_null()) {
    out.reset();
    return {};
  }
  if (const auto* u = value.get_ptr<const Json::number_unsigned_t*>()) {
    if (*u > kMax) return invalid_value(value, "u32");
    out = static_cast<std::uint32_t>(*u);
    return {};
  }
  if (const auto* i = value.get_ptr<const Json::number_integer_t*>()) {
    if (*i < 0 || static_cast<std::uint64_t>(*i) > kMax) return invalid_value(value, "u32");
    out = static_cast<std::uint32_t>(*i);
    return {};
  }
  return invalid_type(value, "u32");
}

Result<void> read_optional_string_list(const Json& value,
                                       std::optional<std::vector<std::string>>& out) {
  if (value.is_null()) {
    out.reset();
    return {};
  }
  const auto* items = value.get_ptr<const Json::array_t*>();
  if (!items) return invalid_type(value, "a sequence");
  std::vector<std::string> list;
  list.reserve(items->size());
  for (const auto& item : *items) {
    QUARLO_TRY_VOID(read_string(item, list.emplace_back()));
  }
  out = std::move(list);
  return {};
}

template <class Record>
struct FieldReader {
  std::string_view name;
  Result<void> (*read)(const Json&, Record&);
};

// Declaration order; the first field is the required one.
constexpr std::array<FieldReader<OGPayload>, 13> kOgFields{{
    {"type", [](const Json& v, OGPayload& r) { return read_string(v, r.type); }},
    {"title", [](const Json& v, OGPayload& r) { return read_optional_string(v, r.title); }},
    {"description",
     [](const Json& v, OGPayload& r) { return read_optional_string(v, r.description); }},
    {"url", [](const Json& v, OGPayload& r) { return read_optional_string(v, r.url); }},
    {"image", [](const Json& v, OGPayload& r) { return read_optional_string(v, r.image); }},
    {"image_width",
     [](const Json& v, OGPayload& r) { return read_optional_u32(v, r.image_width); }},
    {"image_height",
     [](const Json& v, OGPayload& r) { return read_optional_u32(v, r.image_height); }},
    {"image_alt", [](const Json& v, OGPayload& r) { return read_optional_string(v, r.image_alt); }},
    {"site_name", [](const Json& v, OGPayload& r) { return read_optional_string(v, r.site_name); }},
    {"locale", [](const Json& v, OGPayload& r) { return read_optional_string(v, r.locale); }},
    {"locale_alternate",
     [](const Json& v, OGPayload& r) { return read_optional_string_list(v, r.locale_alternate); }},
    {"audio", [](const Json& v, OGPayload& r) { return read_optional_string(v, r.audio); }},
    {"video", [](const Json& v, OGPayload& r) { return read_optional_string(v, r.video); }},
}};

constexpr std::array<FieldReader<TwitterPayload>, 7> kTwitterFields{{
    {"card", [](const Json& v, TwitterPayload& r) { return read_string(v, r.card); }},
    {"title", [](const Json& v, TwitterPayload& r) { return read_optional_string(v, r.title); }},
    {"description",
     [](const Json& v, TwitterPayload& r) { return read_optional_string(v, r.description); }},
    {"image", [](const Json& v, TwitterPayload& r) { return read_optional_string(v, r.image); }},
    {"image_alt",
     [](const Json& v, TwitterPayload& r) { return read_optional_string(v, r.image_alt); }},
    {"site", [](const Json& v, TwitterPayload& r) { return read_optional_string(v, r.site); }},
    {"creator", [](const Json& v, TwitterPayload& r) { return read_optional_string(v, r.creator); }},
}};

// Reads a social record from an object (keys in the object's order, unknown
// keys dropped, the required first field looked for after all keys) or from
// an array holding one value per field in declaration order.
template <class Record, std::size_t N>
Result<Record> read_record(const Json& value, const std::array<FieldReader<Record>, N>& fields,
                           std::string_view struct_name) {
  Record record{};
  if (const auto* obj = value.get_ptr<const Json::object_t*>()) {
    bool have_required = false;
    for (const auto& entry : *obj) {
      const std::string_view key = entry.first;
      const auto field = std::find_if(fields.begin(), fields.end(),
                                      [key](const FieldReader<Record>& f) { return f.name == key; });
      if (field == fields.end()) continue;
      QUARLO_TRY_VOID(field->read(entry.second, record));
      if (field == fields.begin()) have_required = true;
    }
    if (!have_required) return missing_field(fields.front().name);
    return record;
  }
  if (const auto* items = value.get_ptr<const Json::array_t*>()) {
    const std::size_t n = std::min(items->size(), N);
    for (std::size_t i = 0; i < n; ++i) {
      QUARLO_TRY_VOID(fields[i].read((*items)[i], record));
    }
    if (items->size() < N) {
      return invalid_length(items->size(),
                            std::string(struct_name) + " with " + std::to_string(N) + " elements");
    }
    if (items->size() > N) return invalid_length(items->size(), "fewer elements in array");
    return record;
  }
  return invalid_type(value, struct_name);
}

}  // namespace

// ---------------------------------------------------------------------------

Result<Json> SEOPayload::to_dict() const {
  Json value(Json::value_t::object);
  auto& obj = *value.get_ptr<Json::object_t*>();
  obj.emplace("title", Json(title));
  obj.emplace("description", Json(description));
  obj.emplace("canonical", Json(canonical));
  obj.emplace("robots", Json(robots));
  obj.emplace("og", og_dict(og));
  obj.emplace("twitter", twitter_dict(twitter));
  if (schema_jsonld) obj.emplace("schema_jsonld", *schema_jsonld);
  for (const auto& [key, item] : extra) {
    if (!is_field_name(key)) obj.emplace(key, item);
  }
  return value;
}

Result<SEOPayload> SEOPayload::from_dict(const Json& value) {
  const auto* obj = value.get_ptr<const Json::object_t*>();
  if (!obj) return invalid_type(value, "struct SEOPayload");

  SEOPayload payload;
  // Required fields seen, in the order their absence is reported.
  enum : unsigned { kTitle = 1, kDescription = 2, kCanonical = 4, kRobots = 8, kOg = 16, kTwitter = 32 };
  unsigned seen = 0;
  for (const auto& [key, item] : *obj) {
    if (key == "title") {
      QUARLO_TRY_VOID(read_string(item, payload.title));
      seen |= kTitle;
    } else if (key == "description") {
      QUARLO_TRY_VOID(read_string(item, payload.description));
      seen |= kDescription;
    } else if (key == "canonical") {
      QUARLO_TRY_VOID(read_string(item, payload.canonical));
      seen |= kCanonical;
    } else if (key == "robots") {
      QUARLO_TRY_VOID(read_string(item, payload.robots));
      seen |= kRobots;
    } else if (key == "og") {
      QUARLO_TRY(payload.og, read_record(item, kOgFields, "struct OGPayload"));
      seen |= kOg;
    } else if (key == "twitter") {
      QUARLO_TRY(payload.twitter, read_record(item, kTwitterFields, "struct TwitterPayload"));
      seen |= kTwitter;
    } else if (key == "schema_jsonld") {
      if (!item.is_null()) payload.schema_jsonld = item;
    } else {
      payload.extra.emplace(key, item);
    }
  }
  static constexpr std::pair<unsigned, std::string_view> kRequired[] = {
      {kTitle, "title"}, {kDescription, "description"}, {kCanonical, "canonical"},
      {kRobots, "robots"}, {kOg, "og"}, {kTwitter, "twitter"}};
  for (const auto& [bit, name] : kRequired) {
    if ((seen & bit) == 0) return missing_field(name);
  }
  return payload;
}

Result<std::string> SEOPayload::to_json_pretty() const {
  std::string out;
  write_payload(out, *this, JsonLayout::Pretty);
  return out;
}

Result<std::string> SEOPayload::to_json_compact() const {
  std::string out;
  write_payload(out, *this, JsonLayout::Compact);
  return out;
}

void SEOPayload::append_json_compact(std::string& out) const {
  write_payload(out, *this, JsonLayout::Compact);
}

}  // namespace quarlo
