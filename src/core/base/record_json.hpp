// The JSON forms of records with a field table (fields.hpp): their text,
// written field by field straight into a buffer, compact or pretty, in
// declaration order; a guess of that text's length; and their OrderedJson
// value, also in declaration order. Absent optional fields are left out
// (or written as null where the table says so).
#pragma once

#include <charconv>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

#include "core/base/fields.hpp"
#include "core/base/json.hpp"
#include "core/base/json_doc.hpp"
#include "core/base/text_cursor.hpp"

namespace quarlo {

// Writes one JSON text in the layout of the JSON writer (json.hpp): compact
// without any whitespace; pretty with a line break and two spaces per level
// before every entry and before the closing bracket, "{}" and "[]" when
// empty.
class JsonTextWriter {
 public:
  JsonTextWriter(std::string& out, JsonLayout layout) noexcept
      : out_(out), pretty_(layout == JsonLayout::Pretty) {}

  void begin_object() { open('{'); }
  void end_object() { close('}'); }
  void begin_array() { open('['); }
  void end_array() { close(']'); }

  // Starts an object member whose key is given as its JSON text with the
  // colon ("\"title\":"), as Field::json_key holds it.
  void key(std::string_view json_key) {
    next_item();
    out_.append(json_key);
    if (pretty_) out_.push_back(' ');
  }
  // Starts an object member under any key text.
  void key_text(std::string_view text) {
    next_item();
    append_json_string(out_, text);
    out_.push_back(':');
    if (pretty_) out_.push_back(' ');
  }
  // Starts an array element.
  void element() { next_item(); }

  void string(std::string_view text) { append_json_string(out_, text); }
  // A value given as its JSON text, written as it is: a constant already in
  // JSON form ("\"Person\"").
  void literal(std::string_view json_text) { out_.append(json_text); }
  // One string value made of several pieces, written as their concatenation.
  void string_pieces(std::initializer_list<std::string_view> pieces) { append_json_string_pieces(out_, pieces); }
  void boolean(bool value) { out_.append(value ? std::string_view("true") : std::string_view("false")); }
  void null() { out_.append("null"); }
  template <class Int>
  void number(Int value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out_.append(digits, end);
  }
  // Any JSON value, laid out at the current nesting level.
  void value(const Json& json) {
    append_json(out_, json, pretty_ ? JsonLayout::Pretty : JsonLayout::Compact, depth_);
  }
  // A document held as canonical text: copied, or re-indented when pretty.
  void value(const JsonDoc& document) {
    if (pretty_) {
      append_pretty_json_text(out_, document.text(), depth_);
    } else {
      out_.append(document.text());
    }
  }

 private:
  void open(char bracket) {
    out_.push_back(bracket);
    ++depth_;
    first_ = true;
  }
  void close(char bracket) {
    --depth_;
    if (!first_ && pretty_) line_break();
    out_.push_back(bracket);
    first_ = false;
  }
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

template <HasFields Record>
void write_record(JsonTextWriter& w, const Record& record);

// One present value of a field, by its kind.
template <class T>
void write_field_value(JsonTextWriter& w, const T& value) {
  constexpr FieldKind kind = detail::kind_of<T>();
  if constexpr (kind == FieldKind::Text) {
    w.string(value);
  } else if constexpr (kind == FieldKind::Flag) {
    w.boolean(value);
  } else if constexpr (kind == FieldKind::Number) {
    w.number(value);
  } else if constexpr (kind == FieldKind::Name) {
    w.string(serialized_name(value));
  } else if constexpr (kind == FieldKind::Document) {
    w.value(value);
  } else if constexpr (kind == FieldKind::TextList || kind == FieldKind::RecordList) {
    w.begin_array();
    for (const auto& item : value) {
      w.element();
      write_field_value(w, item);
    }
    w.end_array();
  } else if constexpr (kind == FieldKind::TextMap || kind == FieldKind::RecordMap) {
    w.begin_object();
    for (const auto& [key, item] : value) {
      w.key_text(key);
      if constexpr (kind == FieldKind::TextMap) {
        if (item) {
          w.string(*item);
        } else {
          w.null();
        }
      } else {
        write_record(w, item);
      }
    }
    w.end_object();
  } else if constexpr (detail::Boxed<T>) {
    write_record(w, *value);
  } else {
    write_record(w, value);
  }
}

// The members of `record`, without the braces (for records that write
// more members after their fields).
template <HasFields Record>
void write_fields(JsonTextWriter& w, const Record& record) {
  for_each_field<Record>([&](auto f) {
    using F = decltype(f);
    const auto& member = f.of(record);
    if constexpr (F::is_optional) {
      if (member) {
        w.key(F::json_key);
        write_field_value(w, *member);
      } else if (f.when_absent == WhenAbsent::Null) {
        w.key(F::json_key);
        w.null();
      }
    } else {
      w.key(F::json_key);
      write_field_value(w, member);
    }
  });
}

template <HasFields Record>
void write_record(JsonTextWriter& w, const Record& record) {
  w.begin_object();
  write_fields(w, record);
  w.end_object();
}

// The compact text of a record's fields written through a TextCursor: the
// same bytes as write_fields in JsonLayout::Compact, without the writer's
// per-piece bookkeeping, for the texts written on every page (the digest's).
// For records of texts, flags, numbers, names, lists, records and documents
// held as text. `first` tells whether no member has been written yet.
template <class T>
char* put_compact_value(TextCursor& cursor, char* w, const T& value);

template <HasFields Record>
char* put_compact_fields(TextCursor& cursor, char* w, const Record& record, bool& first) {
  for_each_field<Record>([&](auto f) {
    using F = decltype(f);
    const auto& member = f.of(record);
    const auto key = [&] {
      w = cursor.room(w, F::json_key.size() + 1);
      if (!first) *w++ = ',';
      first = false;
      w = put(w, F::json_key);
    };
    if constexpr (F::is_optional) {
      if (member) {
        key();
        w = put_compact_value(cursor, w, *member);
      } else if (f.when_absent == WhenAbsent::Null) {
        key();
        w = put(cursor.room(w, 4), "null");
      }
    } else {
      key();
      w = put_compact_value(cursor, w, member);
    }
  });
  return w;
}

template <class T>
char* put_compact_value(TextCursor& cursor, char* w, const T& value) {
  constexpr FieldKind kind = detail::kind_of<T>();
  if constexpr (kind == FieldKind::Text) {
    return put_json_string(cursor.room(w, json_string_room(value)), value);
  } else if constexpr (kind == FieldKind::Flag) {
    return put(cursor.room(w, 5), value ? std::string_view("true") : std::string_view("false"));
  } else if constexpr (kind == FieldKind::Number) {
    constexpr std::size_t kDigits = 24;
    w = cursor.room(w, kDigits);
    return std::to_chars(w, w + kDigits, value).ptr;
  } else if constexpr (kind == FieldKind::Name) {
    const std::string_view name = serialized_name(value);
    return put_json_string(cursor.room(w, json_string_room(name)), name);
  } else if constexpr (kind == FieldKind::Document) {
    static_assert(std::is_same_v<T, JsonDoc>, "only documents held as text are written through a cursor");
    return put(cursor.room(w, value.text().size()), value.text());
  } else if constexpr (kind == FieldKind::TextList || kind == FieldKind::RecordList) {
    w = cursor.room(w, 1);
    *w++ = '[';
    bool first_item = true;
    for (const auto& item : value) {
      if (!first_item) {
        w = cursor.room(w, 1);
        *w++ = ',';
      }
      first_item = false;
      w = put_compact_value(cursor, w, item);
    }
    w = cursor.room(w, 1);
    *w++ = ']';
    return w;
  } else if constexpr (kind == FieldKind::TextMap || kind == FieldKind::RecordMap) {
    static_assert(kind != FieldKind::TextMap && kind != FieldKind::RecordMap, "maps are written by write_fields");
    return w;
  } else if constexpr (detail::Boxed<T>) {
    return put_compact_value(cursor, w, *value);
  } else {
    w = cursor.room(w, 1);
    *w++ = '{';
    bool first_member = true;
    w = put_compact_fields(cursor, w, value, first_member);
    w = cursor.room(w, 1);
    *w++ = '}';
    return w;
  }
}

// A generous guess of the compact text's length of a present value, so that
// writing seldom reallocates; a JSON document is guessed at 1 KiB, one held
// as text is its text's length.
template <class T>
std::size_t json_size_guess(const T& value) {
  constexpr FieldKind kind = detail::kind_of<T>();
  if constexpr (kind == FieldKind::Text) {
    return value.size() + 2;
  } else if constexpr (kind == FieldKind::Flag || kind == FieldKind::Number || kind == FieldKind::Name) {
    return 20;
  } else if constexpr (kind == FieldKind::Document) {
    if constexpr (std::is_same_v<T, JsonDoc>) {
      return value.text().size();
    } else {
      return 1024;
    }
  } else if constexpr (kind == FieldKind::TextList || kind == FieldKind::RecordList) {
    std::size_t n = 2;
    for (const auto& item : value) n += json_size_guess(item) + 1;
    return n;
  } else if constexpr (kind == FieldKind::TextMap || kind == FieldKind::RecordMap) {
    std::size_t n = 2;
    for (const auto& [key, item] : value) {
      n += key.size() + 4;
      if constexpr (kind == FieldKind::TextMap) {
        n += item ? item->size() + 2 : 4;
      } else {
        n += json_size_guess(item);
      }
    }
    return n;
  } else if constexpr (detail::Boxed<T>) {
    return json_size_guess(*value);
  } else {
    std::size_t n = 2;
    for_each_field<T>([&](auto f) {
      using F = decltype(f);
      const auto& member = f.of(value);
      if constexpr (F::is_optional) {
        if (member) n += F::json_key.size() + 1 + json_size_guess(*member);
      } else {
        n += F::json_key.size() + 1 + json_size_guess(member);
      }
    });
    return n;
  }
}

// The record as an OrderedJson object: members in declaration order.
template <HasFields Record>
OrderedJson to_ordered_json(const Record& record);

template <class T>
OrderedJson ordered_json_value(const T& value) {
  constexpr FieldKind kind = detail::kind_of<T>();
  static_assert(kind != FieldKind::Document, "a record holding a JSON document has no OrderedJson form");
  if constexpr (kind == FieldKind::Text || kind == FieldKind::Flag || kind == FieldKind::Number) {
    return OrderedJson(value);
  } else if constexpr (kind == FieldKind::Name) {
    return OrderedJson(serialized_name(value));
  } else if constexpr (kind == FieldKind::TextList || kind == FieldKind::RecordList) {
    OrderedJson list = OrderedJson::array();
    auto& items = *list.get_ptr<OrderedJson::array_t*>();
    items.reserve(value.size());
    for (const auto& item : value) items.push_back(ordered_json_value(item));
    return list;
  } else if constexpr (kind == FieldKind::TextMap || kind == FieldKind::RecordMap) {
    // The map's keys are unique and in order: the members are appended
    // directly (operator[] would search the ordered object for each key).
    OrderedJson object = OrderedJson::object();
    auto& members = *object.get_ptr<OrderedJson::object_t*>();
    members.reserve(value.size());
    for (const auto& [key, item] : value) {
      if constexpr (kind == FieldKind::TextMap) {
        members.Container::emplace_back(key, item ? OrderedJson(*item) : OrderedJson());
      } else {
        members.Container::emplace_back(key, to_ordered_json(item));
      }
    }
    return object;
  } else if constexpr (detail::Boxed<T>) {
    return to_ordered_json(*value);
  } else {
    return to_ordered_json(value);
  }
}

template <HasFields Record>
OrderedJson to_ordered_json(const Record& record) {
  OrderedJson object = OrderedJson::object();
  auto& members = *object.get_ptr<OrderedJson::object_t*>();
  members.reserve(field_count<Record>);
  for_each_field<Record>([&](auto f) {
    using F = decltype(f);
    const auto& member = f.of(record);
    if constexpr (F::is_optional) {
      if (member) {
        members.Container::emplace_back(F::name, ordered_json_value(*member));
      } else if (f.when_absent == WhenAbsent::Null) {
        members.Container::emplace_back(F::name, OrderedJson());
      }
    } else {
      members.Container::emplace_back(F::name, ordered_json_value(member));
    }
  });
  return object;
}

}  // namespace quarlo
