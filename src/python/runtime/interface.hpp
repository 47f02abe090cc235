// The shapes of the generated interface tables and the helpers that turn
// them into CPython's definitions.
//
// The texts and names of the module's Python interface are written once, in
// src/python/interface/description.py; at build time generate.py writes them
// into python/interface/tables.hpp (in the build tree, on the binding's
// include path) as the records below. A class file builds its tables from
// them instead of writing names and docstrings:
//
//   PyGetSetDef image_getset[] = {
//       property_def(iface::SEOImage::url, get_field<&quarlo::SEOImage::url>),
//       ...
//       {nullptr, nullptr, nullptr, nullptr, nullptr},
//   };
//   PyMethodDef image_methods[] = {
//       method_def<iface::SEOImage::to_dict>(image_to_dict),
//       {nullptr, nullptr, 0, nullptr},
//   };
//   {Py_tp_doc, const_cast<char*>(iface::SEOImage::kDoc)},
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/base/error.hpp"

namespace quarlo::py {

// A property: its attribute name and docstring.
struct Property {
  const char* name;
  const char* doc;
};

// The getset entry of a property; `set` is null for a read-only one.
inline PyGetSetDef property_def(const Property& property, getter get, setter set = nullptr) noexcept {
  return {property.name, get, set, property.doc, nullptr};
}

// The docstring of the property called `name` in a class's kProperties, or
// null when there is none.
template <std::size_t N>
constexpr const char* property_doc(const Property (&properties)[N], std::string_view name) noexcept {
  for (const Property& property : properties) {
    if (std::string_view(property.name) == name) return property.doc;
  }
  return nullptr;
}

// The two calling conventions of the module's methods and functions: none
// with arguments (METH_NOARGS), and vectorcall with keywords, whose
// arguments the callable's record parses (METH_FASTCALL | METH_KEYWORDS).
using NoArgsFunction = PyObject* (*)(PyObject*, PyObject*) noexcept;
using FastFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept;

// The method entry of a callable's generated record (Record::kName, kDoc,
// kFlags); the function must take the arguments the record says it takes.
template <class Record>
PyMethodDef method_def(NoArgsFunction function) noexcept {
  static_assert(Record::kFlags == METH_NOARGS, "this callable takes arguments: give a FastFunction");
  return {Record::kName, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function)), Record::kFlags,
          Record::kDoc};
}
template <class Record>
PyMethodDef method_def(FastFunction function) noexcept {
  static_assert(Record::kFlags == (METH_FASTCALL | METH_KEYWORDS), "this callable takes no arguments");
  return {Record::kName, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function)), Record::kFlags,
          Record::kDoc};
}

// The bit of one core error kind in ExceptionClass::kinds.
constexpr std::uint32_t kind_bit(ErrorKind kind) noexcept { return std::uint32_t{1} << static_cast<unsigned>(kind); }

// One exception class of the module. Its base is the builtins class named
// `builtin_base`, or, when that is null, the class at index `base` of the
// same table (listed earlier). `kinds` has the bit of every core error kind
// raised as this class.
struct ExceptionClass {
  const char* name;
  const char* qualified_name;
  const char* builtin_base;
  std::size_t base;
  std::uint32_t kinds;
};

}  // namespace quarlo::py
