// Payload records: JSON texts and reading a dictionary back, both walking
// the records' field tables.
#include "core/payload/payload.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "core/base/record_json.hpp"

namespace quarlo {
namespace {

// ---------------------------------------------------------------------------
// JSON texts

void write_payload(std::string& out, const SEOPayload& p, JsonLayout layout) {
  // A generous guess, so that writing seldom reallocates.
  const std::size_t guess = 256 + json_size_guess(p) + 64 * p.extra.size();
  out.reserve(out.size() + (layout == JsonLayout::Pretty ? guess + guess / 2 : guess));
  JsonTextWriter w(out, layout);
  w.begin_object();
  write_fields(w, p);
  for (const auto& [key, value] : p.extra) {
    // Only code can put a field name into extra; the field keeps its key
    // and no text holds a key twice.
    if (is_field_name<SEOPayload>(key)) continue;
    w.key_text(key);
    w.value(value);
  }
  w.end_object();
}

// The compact text of a payload without extra entries, through a cursor.
char* put_compact_payload(TextCursor& cursor, char* w, const SEOPayload& p) {
  w = cursor.room(w, 1);
  *w++ = '{';
  bool first = true;
  w = put_compact_fields(cursor, w, p, first);
  w = cursor.room(w, 1);
  *w++ = '}';
  return w;
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

// "invalid type: " or "invalid value: ", the found value's description,
// ", expected " and what was expected.
QuarloError unexpected(std::string_view problem, const Json& found, std::string_view expected) {
  std::string message(problem);
  message += describe(found);
  message += ", expected ";
  message += expected;
  return QuarloError::serialization(std::move(message));
}

QuarloError invalid_type(const Json& found, std::string_view expected) {
  return unexpected("invalid type: ", found, expected);
}

QuarloError invalid_value(const Json& found, std::string_view expected) {
  return unexpected("invalid value: ", found, expected);
}

QuarloError invalid_length(std::size_t length, std::string_view expected) {
  return QuarloError::serialization("invalid length " + std::to_string(length) + ", expected " +
                                    std::string(expected));
}

QuarloError missing_field(std::string_view name) {
  return QuarloError::serialization("missing field `" + std::string(name) + "`");
}

// How a record is named in messages.
template <class Record>
constexpr std::string_view kStructName = "";
template <>
constexpr std::string_view kStructName<SEOPayload> = "struct SEOPayload";
template <>
constexpr std::string_view kStructName<OGPayload> = "struct OGPayload";
template <>
constexpr std::string_view kStructName<TwitterPayload> = "struct TwitterPayload";

// One value of a field, by the member's type, read into a freshly made
// record (a failure leaves the record half-read: the caller drops it); null
// stands for an absent optional value.
Result<void> read_value(const Json& value, std::string& out);
Result<void> read_value(const Json& value, std::uint32_t& out);
Result<void> read_value(const Json& value, std::vector<std::string>& out);
Result<void> read_value(const Json& value, JsonDoc& out);
template <HasFields Record>
Result<void> read_value(const Json& value, Record& out);

template <class T>
Result<void> read_value(const Json& value, std::optional<T>& out) {
  if (value.is_null()) {
    out.reset();
    return {};
  }
  return read_value(value, out.emplace());
}

Result<void> read_value(const Json& value, std::string& out) {
  const auto* text = value.get_ptr<const Json::string_t*>();
  if (!text) return invalid_type(value, "a string");
  out = *text;
  return {};
}

Result<void> read_value(const Json& value, std::uint32_t& out) {
  constexpr auto kMax = std::numeric_limits<std::uint32_t>::max();
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

Result<void> read_value(const Json& value, std::vector<std::string>& out) {
  const auto* items = value.get_ptr<const Json::array_t*>();
  if (!items) return invalid_type(value, "a sequence");
  out.clear();
  out.reserve(items->size());
  for (const auto& item : *items) {
    QUARLO_TRY_VOID(read_value(item, out.emplace_back()));
  }
  return {};
}

Result<void> read_value(const Json& value, JsonDoc& out) {
  out = JsonDoc::from_value(value);
  return {};
}

// Reads the members of `object` into `record`: keys in the object's order,
// each known key's value converted (and failing) when its key is reached,
// every other key handed to on_unknown. Then the first field that is not
// optional, in declaration order, and was not given is reported missing.
template <HasFields Record, class OnUnknown>
Result<void> read_members(const Json::object_t& object, Record& record, OnUnknown&& on_unknown) {
  static_assert(field_count<Record> <= 64);
  std::uint64_t given = 0;
  for (const auto& member : object) {
    const std::string& key = member.first;
    const Json& item = member.second;
    Result<void> read;
    const bool known = visit_field_named<Record>(key, [&](auto f) {
      constexpr std::uint64_t bit = std::uint64_t{1} << field_index<Record>(decltype(f)::name);
      read = read_value(item, f.of(record));
      given |= bit;
    });
    if (!read) return std::move(read).error();
    if (!known) on_unknown(key, item);
  }
  std::string_view missing;
  for_each_field<Record>([&](auto f) {
    using F = decltype(f);
    if constexpr (!F::is_optional) {
      constexpr std::uint64_t bit = std::uint64_t{1} << field_index<Record>(F::name);
      if (missing.empty() && (given & bit) == 0) missing = F::name;
    }
  });
  if (!missing.empty()) return missing_field(missing);
  return {};
}

// A social record from an object (unknown keys dropped) or from an array
// holding one value per field in declaration order.
template <HasFields Record>
Result<void> read_value(const Json& value, Record& out) {
  if (const auto* object = value.get_ptr<const Json::object_t*>()) {
    return read_members(*object, out, [](const std::string&, const Json&) {});
  }
  if (const auto* items = value.get_ptr<const Json::array_t*>()) {
    constexpr std::size_t kFields = field_count<Record>;
    const std::size_t n = std::min(items->size(), kFields);
    for (std::size_t i = 0; i < n; ++i) {
      Result<void> read;
      visit_field_at<Record>(i, [&](auto f) { read = read_value((*items)[i], f.of(out)); });
      if (!read) return read;
    }
    if (items->size() < kFields) {
      return invalid_length(items->size(), std::string(kStructName<Record>) + " with " + std::to_string(kFields) +
                                               " elements");
    }
    if (items->size() > kFields) return invalid_length(items->size(), "fewer elements in array");
    return {};
  }
  return invalid_type(value, kStructName<Record>);
}

}  // namespace

// ---------------------------------------------------------------------------

Result<SEOPayload> SEOPayload::from_dict(const Json& value) {
  const auto* object = value.get_ptr<const Json::object_t*>();
  if (!object) return invalid_type(value, kStructName<SEOPayload>);
  SEOPayload payload;
  QUARLO_TRY_VOID(read_members(*object, payload,
                               [&](const std::string& key, const Json& item) { payload.extra.emplace(key, item); }));
  return payload;
}

std::string SEOPayload::to_json_pretty() const {
  std::string out;
  write_payload(out, *this, JsonLayout::Pretty);
  return out;
}

std::string SEOPayload::to_json_compact() const {
  std::string out;
  write_payload(out, *this, JsonLayout::Compact);
  return out;
}

void SEOPayload::append_json_compact(std::string& out) const {
  write_payload(out, *this, JsonLayout::Compact);
}

std::string_view compact_json_into(const SEOPayload& payload, std::string& buffer) {
  if (!payload.extra.empty()) {
    // Extra entries hold JSON values of any kind: written by the writer.
    buffer.clear();
    payload.append_json_compact(buffer);
    return buffer;
  }
  TextCursor cursor(buffer, 0, 256 + json_size_guess(payload));
  const std::size_t size = cursor.offset(put_compact_payload(cursor, cursor.start(), payload));
  return {buffer.data(), size};
}

}  // namespace quarlo
