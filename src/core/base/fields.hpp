// Field tables: a record with several forms (JSON texts, dictionary form,
// reading back, rendering, the binding's getters and dict views) lists its
// fields once, in declaration order, as a static constexpr tuple named
// `fields` right after its members:
//
//   struct SEOImage {
//     std::string url;
//     std::optional<std::uint32_t> width;
//     ...
//     static constexpr auto fields = std::tuple{
//         field<"url">(&SEOImage::url),
//         field<"width">(&SEOImage::width),
//         ...};
//   };
//
// Each entry is a Field: the key text (`name`), the member it stands for
// (`member`) and what it holds (`kind`, which follows from the member's
// type; an std::optional member is optional and omitted when absent). A
// rendered field also names its meta tag (field<"site_name",
// "og:site_name">), and a field written as null when absent says so
// (WhenAbsent::Null). The names, the kind and whether the field is optional
// are compile-time constants of the entry's type, and the tables themselves
// are constants, so the forms walk a table with for_each_field into code as
// direct as a hand-written list:
//
//   for_each_field<SEOImage>([&](auto f) {
//     using F = decltype(f);
//     if (const auto& value = f.of(image)) ...F::name...
//   });
//
// An entry's member pointer is a constant too, usable as a template argument:
// std::get<I>(SEOImage::fields).member.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/base/json.hpp"
#include "core/base/json_doc.hpp"

namespace quarlo {

// A string literal as a template argument: field<"title">(...).
template <std::size_t N>
struct FieldName {
  char chars[N]{};

  consteval FieldName(const char (&text)[N]) noexcept {
    for (std::size_t i = 0; i < N; ++i) chars[i] = text[i];
  }
  [[nodiscard]] static constexpr std::size_t size() noexcept { return N - 1; }
  [[nodiscard]] constexpr std::string_view view() const noexcept { return {chars, N - 1}; }
};

// The texts `Parts` written one after another, as a constant with static
// storage: joined_names<"\"", Name, "\":"> is the key of a JSON member.
template <FieldName... Parts>
inline constexpr auto kJoinedNames = [] {
  std::array<char, (std::size_t{1} + ... + Parts.size())> out{};
  std::size_t at = 0;
  ((std::copy_n(Parts.chars, Parts.size(), out.begin() + static_cast<std::ptrdiff_t>(at)), at += Parts.size()),
   ...);
  return out;
}();
template <FieldName... Parts>
inline constexpr std::string_view joined_names{kJoinedNames<Parts...>.data(), kJoinedNames<Parts...>.size() - 1};

// What a field holds, seen through std::optional.
enum class FieldKind : std::uint8_t {
  Text,        // std::string
  Flag,        // bool
  Number,      // an integer type; its range is the type's
  Name,        // an enumeration, written as its serialised name
  TextList,    // std::vector<std::string>
  TextMap,     // std::map from text to optional text
  Record,      // a record with its own field table (or a Box holding one)
  RecordList,  // std::vector of records
  RecordMap,   // std::map from text to records
  Document,    // Json or JsonDoc: any JSON value
};

// How an absent optional field appears in the serialised forms.
enum class WhenAbsent : std::uint8_t { Omitted, Null };

namespace detail {

template <class T>
struct OptionalTraits {
  static constexpr bool optional = false;
  using value_type = T;
};
template <class T>
struct OptionalTraits<std::optional<T>> {
  static constexpr bool optional = true;
  using value_type = T;
};

template <class T>
struct IsVector : std::false_type {};
template <class T, class A>
struct IsVector<std::vector<T, A>> : std::true_type {};

template <class T>
struct IsTextKeyedMap : std::false_type {};
template <class V, class C, class A>
struct IsTextKeyedMap<std::map<std::string, V, C, A>> : std::true_type {};

// A Box (an owned record on the heap) names what it holds.
template <class T>
concept Boxed = requires { typename T::element_type; };

// A record: any class the other kinds do not claim. Decided without looking
// at the record's own table, which may still be being defined (a record can
// hold a Shared copy of itself).
template <class T>
consteval FieldKind kind_of() {
  if constexpr (std::is_same_v<T, std::string>) {
    return FieldKind::Text;
  } else if constexpr (std::is_same_v<T, bool>) {
    return FieldKind::Flag;
  } else if constexpr (std::is_integral_v<T>) {
    return FieldKind::Number;
  } else if constexpr (std::is_enum_v<T>) {
    return FieldKind::Name;
  } else if constexpr (std::is_same_v<T, Json> || std::is_same_v<T, JsonDoc>) {
    return FieldKind::Document;
  } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
    return FieldKind::TextList;
  } else if constexpr (IsVector<T>::value) {
    return FieldKind::RecordList;
  } else if constexpr (IsTextKeyedMap<T>::value) {
    if constexpr (std::is_same_v<typename T::mapped_type, std::optional<std::string>>) {
      return FieldKind::TextMap;
    } else {
      return FieldKind::RecordMap;
    }
  } else {
    static_assert(std::is_class_v<T>, "a field holds text, a flag, a number, a name, a list, a map, a record "
                                      "or a JSON document");
    return FieldKind::Record;
  }
}

// A field name is written into JSON texts without escaping.
template <FieldName Name>
consteval bool is_plain_key() {
  for (std::size_t i = 0; i < Name.size(); ++i) {
    const char c = Name.chars[i];
    if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return Name.size() > 0;
}

}  // namespace detail

// One entry of a field table. `Member` is the member's declared type.
template <FieldName Name, FieldName Tag, class Record, class Member>
struct Field {
  static_assert(detail::is_plain_key<Name>(), "field names need no JSON escaping");

  using record_type = Record;
  using member_type = Member;
  // The type of a present value (Member without std::optional).
  using value_type = typename detail::OptionalTraits<Member>::value_type;

  // The key text: the JSON key, the dictionary key, the property name.
  static constexpr std::string_view name = Name.view();
  // The meta tag a rendered field is written under ("og:site_name"), or "".
  static constexpr std::string_view tag = Tag.view();
  // The JSON member key with its quotes and colon: "\"name\":".
  static constexpr std::string_view json_key = joined_names<"\"", Name, "\":">;
  // The same two texts as template arguments, for joining into longer
  // constants at compile time (joined_names).
  static constexpr auto name_literal = Name;
  static constexpr auto tag_literal = Tag;
  static constexpr bool is_optional = detail::OptionalTraits<Member>::optional;
  static constexpr FieldKind kind = detail::kind_of<value_type>();

  Member Record::*member;
  WhenAbsent when_absent = WhenAbsent::Omitted;

  [[nodiscard]] constexpr const Member& of(const Record& record) const noexcept { return record.*member; }
  [[nodiscard]] constexpr Member& of(Record& record) const noexcept { return record.*member; }
};

// A table entry: field<"title">(&OGPayload::title), with the meta tag of a
// rendered field as the second name: field<"title", "og:title">(...).
template <FieldName Name, FieldName Tag = "", class Record, class Member>
consteval Field<Name, Tag, Record, Member> field(Member Record::*member,
                                                  WhenAbsent when_absent = WhenAbsent::Omitted) {
  return {member, when_absent};
}

// A record that has a field table.
template <class Record>
concept HasFields = requires { Record::fields; };

template <class Record>
inline constexpr std::size_t field_count = std::tuple_size_v<std::remove_cvref_t<decltype(Record::fields)>>;

// Calls fn(field) for each entry of Record's table, in declaration order.
// The entry comes by value, so `decltype(f)::kind` and the other constants
// can steer `if constexpr`.
template <HasFields Record, class Fn>
constexpr void for_each_field(Fn&& fn) {
  std::apply([&](auto... f) { (fn(f), ...); }, Record::fields);
}

// Calls fn(field) for the entry named `key`; false when there is none.
template <HasFields Record, class Fn>
constexpr bool visit_field_named(std::string_view key, Fn&& fn) {
  return std::apply([&](auto... f) { return ((decltype(f)::name == key ? (fn(f), true) : false) || ...); },
                    Record::fields);
}

// Calls fn(field) for the entry at `index` in declaration order; false when
// the index is past the end.
template <HasFields Record, class Fn>
constexpr bool visit_field_at(std::size_t index, Fn&& fn) {
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    return ((I == index ? (fn(std::get<I>(Record::fields)), true) : false) || ...);
  }(std::make_index_sequence<field_count<Record>>{});
}

// The field names in declaration order.
template <HasFields Record>
inline constexpr auto field_names = std::apply(
    [](auto... f) { return std::array<std::string_view, sizeof...(f)>{decltype(f)::name...}; }, Record::fields);

// The declaration-order index of the field named `key`, or field_count
// when there is none.
template <HasFields Record>
[[nodiscard]] constexpr std::size_t field_index(std::string_view key) noexcept {
  return static_cast<std::size_t>(std::find(field_names<Record>.begin(), field_names<Record>.end(), key) -
                                  field_names<Record>.begin());
}

// Whether `key` names a field of Record.
template <HasFields Record>
[[nodiscard]] constexpr bool is_field_name(std::string_view key) noexcept {
  return std::find(field_names<Record>.begin(), field_names<Record>.end(), key) != field_names<Record>.end();
}

// The entries' declaration-order indices sorted by name, byte-wise: the
// order of the keys of a dictionary form.
template <HasFields Record>
inline constexpr auto fields_in_key_order = [] {
  std::array<std::size_t, field_count<Record>> order{};
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [](std::size_t a, std::size_t b) { return field_names<Record>[a] < field_names<Record>[b]; });
  return order;
}();

// Calls fn(field) for each entry in the byte-wise order of the names.
template <HasFields Record, class Fn>
constexpr void for_each_field_in_key_order(Fn&& fn) {
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (fn(std::get<fields_in_key_order<Record>[I]>(Record::fields)), ...);
  }(std::make_index_sequence<field_count<Record>>{});
}

}  // namespace quarlo
