// Python views of core records that have a field table
// (core/base/fields.hpp): their properties and their dictionaries walk the
// table, so a field added to a record (and, for a property, to the
// interface description) needs no edit in the class file.
//
//   // OGPayload's properties: its record's fields, each read by its name
//   auto og_getset = field_properties<OGPayload, iface::OGPayload::kProperties>();
//   {Py_tp_getset, og_getset.data()},
//
//   // {"type": ..., "title": ...}: the present fields in declaration order
//   PyRef dict = fields_to_pydict<KeyOrder::Declared>(og);
//
// How a value reads in Python is the reader's `read`: FieldReader gives the
// plain values (to_py in record_object.hpp). A class whose record holds
// other records, documents or enumerations derives its own reader and adds
// `read` overloads for those types.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <iterator>
#include <memory>
#include <string_view>
#include <tuple>
#include <utility>

#include "core/base/fields.hpp"
#include "python/runtime/cell.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/interface.hpp"
#include "python/runtime/pyref.hpp"
#include "python/runtime/record_object.hpp"
#include "python/runtime/short_str.hpp"

namespace quarlo::py {

struct FieldReader {
  template <class T>
  static PyRef read(const T& value) {
    return to_py(value);
  }
};

// The key of field F as an interned str, made once per process.
template <class F>
inline InternedString field_key{F::name.data()};

// Whether field `f` of `record` has a value (only an optional can lack one).
template <class F, class Record>
[[nodiscard]] bool has_value(const F& f, const Record& record) noexcept {
  if constexpr (F::is_optional) {
    return f.of(record).has_value();
  } else {
    return true;
  }
}

// The value of field `f` of `record` read by Reader, or null when absent.
template <class Reader, class F, class Record>
PyRef read_field(const F& f, const Record& record) {
  const auto& value = f.of(record);
  if constexpr (F::is_optional) {
    return value ? Reader::read(*value) : PyRef();
  } else {
    return Reader::read(value);
  }
}

// -------------------------------------------------------------- properties

// The record an instance holds: inline, or behind a shared pointer (a class
// whose copies share one immutable record).
template <class Record>
[[nodiscard]] const Record& held_record(const Record& record) noexcept {
  return record;
}
template <class Record>
[[nodiscard]] const Record& held_record(const std::shared_ptr<const Record>& record) noexcept {
  return *record;
}

// The getter of the property that reads field `Index` of Record; the
// instance holds a `Held` (the Record itself or a shared pointer to it).
template <HasFields Record, class Reader, std::size_t Index, class Held = Record>
PyObject* get_record_field(PyObject* self, void*) noexcept {
  static_assert(Index < field_count<Record>, "a property of this class names no field of its record");
  return guard([&] {
    return Reader::read(std::get<Index>(Record::fields).of(held_record<Record>(record_of<Held>(self))));
  });
}

// The getset table (ended by the null entry) of a class whose properties,
// its generated kProperties in their order, each read the field of the same
// name of the Record the instance holds (inline, or behind the shared
// pointer `Held`); a property without such a field does not compile. An
// absent optional field reads as None.
template <HasFields Record, const auto& Properties, class Reader = FieldReader, class Held = Record>
constexpr auto selected_field_properties() {
  constexpr std::size_t kCount = std::size(Properties);
  return []<std::size_t... J>(std::index_sequence<J...>) {
    return std::array<PyGetSetDef, kCount + 1>{{
        PyGetSetDef{Properties[J].name,
                    &get_record_field<Record, Reader, field_index<Record>(Properties[J].name), Held>, nullptr,
                    Properties[J].doc, nullptr}...,
        PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr},
    }};
  }(std::make_index_sequence<kCount>{});
}

// The same for a class that has a property for every field of its record:
// a field the interface description does not list does not compile either.
template <HasFields Record, const auto& Properties, class Reader = FieldReader>
constexpr auto field_properties() {
  static_assert(std::size(Properties) == field_count<Record>,
                "every field of the record must be a property of the class (interface/description.py)");
  return selected_field_properties<Record, Properties, Reader>();
}

// ------------------------------------------------------------ dictionaries

enum class KeyOrder : unsigned char {
  Declared,  // the order of the field table
  Sorted,    // byte-wise by key, as the payload's dictionary form has them
};

// A new dict of the record's fields in `Order`, each value read by Reader.
// Absent optional fields are left out, or None where the table says they
// are written as null.
template <KeyOrder Order, class Reader = FieldReader, HasFields Record>
PyRef fields_to_pydict(const Record& record) {
  PyRef dict = PyRef::checked(PyDict_New());
  const auto add = [&](auto f) {
    using F = decltype(f);
    const auto set = [&](const PyRef& value) {
      if (PyDict_SetItem(dict.get(), field_key<F>.get(), value.get()) < 0) throw_error_set();
    };
    const auto& value = f.of(record);
    if constexpr (F::is_optional) {
      if (value) {
        set(Reader::read(*value));
      } else if (f.when_absent == WhenAbsent::Null) {
        set(PyRef::borrow(Py_None));
      }
    } else {
      set(Reader::read(value));
    }
  };
  if constexpr (Order == KeyOrder::Sorted) {
    for_each_field_in_key_order<Record>(add);
  } else {
    for_each_field<Record>(add);
  }
  return dict;
}

// Reads a record as its serialised form does: nested records as dicts
// with byte-wise ordered keys, lists as lists, maps as dicts, names as their
// serialised text. The same objects as converting the record's OrderedJson
// form, made without that intermediate tree.
struct PlainReader {
  template <class T>
  static PyRef read(const T& value);
};

// A new dict of the record's fields as PlainReader reads them, keys in
// byte-wise order.
template <HasFields Record>
PyRef record_to_pydict(const Record& record) {
  return fields_to_pydict<KeyOrder::Sorted, PlainReader>(record);
}

template <class T>
PyRef PlainReader::read(const T& value) {
  constexpr FieldKind kind = quarlo::detail::kind_of<T>();
  static_assert(kind != FieldKind::Document, "a record holding a JSON document has its own dictionary form");
  if constexpr (kind == FieldKind::Text || kind == FieldKind::Flag || kind == FieldKind::Number) {
    return to_py(value);
  } else if constexpr (kind == FieldKind::Name) {
    return value_str(serialized_name(value));
  } else if constexpr (kind == FieldKind::TextList || kind == FieldKind::RecordList) {
    PyRef list = PyRef::checked(PyList_New(static_cast<Py_ssize_t>(value.size())));
    Py_ssize_t i = 0;
    for (const auto& item : value) PyList_SetItem(list.get(), i++, read(item).release());  // steals
    return list;
  } else if constexpr (kind == FieldKind::TextMap || kind == FieldKind::RecordMap) {
    PyRef dict = PyRef::checked(PyDict_New());
    for (const auto& [key, item] : value) {  // std::map: byte-wise key order
      PyRef converted;
      if constexpr (kind == FieldKind::TextMap) {
        converted = item ? value_str(*item) : PyRef::borrow(Py_None);
      } else {
        converted = read(item);
      }
      if (PyDict_SetItem(dict.get(), map_key_str(key, value.size()).get(), converted.get()) < 0) throw_error_set();
    }
    return dict;
  } else if constexpr (quarlo::detail::Boxed<T>) {
    return record_to_pydict(*value);
  } else {
    return record_to_pydict(value);
  }
}

// Calls fn(field) for the field whose interned key is `key` itself (an
// identity test: keys written in Python source are interned); false when
// none is.
template <HasFields Record, class Fn>
bool visit_field_by_identity(PyObject* key, Fn&& fn) {
  return std::apply(
      [&](auto... f) { return ((key == field_key<decltype(f)>.get() ? (fn(f), true) : false) || ...); },
      Record::fields);
}

}  // namespace quarlo::py
