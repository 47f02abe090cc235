// Instances that own one C++ record: the value classes of the module hold
// their core record (or a small struct of their fields) inline, after the
// object header.
//
// Construction converts every argument into a local record first and only
// then allocates the object and moves the record into it, so a failed
// conversion never leaves a half-built instance behind:
//
//   quarlo::Breadcrumb crumb{str_arg(name, "name"), str_arg(url, "url")};
//   return new_record_object(type, std::move(crumb));
//
// Instances of the module's classes are of the exact type (the classes are
// final), so record_of() needs no check beyond the caller's type test.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "python/runtime/args.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/pyref.hpp"
#include "python/runtime/short_str.hpp"

namespace quarlo::py {

template <class T>
struct RecordObject {
  PyObject ob_base;
  T value;
};

template <class T>
[[nodiscard]] inline T& record_of(PyObject* obj) noexcept {
  return reinterpret_cast<RecordObject<T>*>(obj)->value;
}

// A new instance of `type` (whose basic size is sizeof(RecordObject<T>))
// holding `value`. GC types come back tracked, like any PyType_GenericAlloc
// result; their other members are zero.
template <class T>
[[nodiscard]] PyRef new_record_object(PyTypeObject* type, T&& value) {
  static_assert(std::is_nothrow_move_constructible_v<std::remove_cvref_t<T>>);
  PyRef obj = PyRef::checked(PyType_GenericAlloc(type, 0));
  std::construct_at(&record_of<std::remove_cvref_t<T>>(obj.get()), std::forward<T>(value));
  return obj;
}

// Frees the memory of an instance whose C++ members are already destroyed,
// and drops the instance's reference to its (heap) type.
inline void free_instance(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

// tp_dealloc of a non-GC class holding a T.
template <class T>
void record_dealloc(PyObject* self) noexcept {
  guard_unraisable(reinterpret_cast<PyObject*>(Py_TYPE(self)), [&] {
    std::destroy_at(&record_of<T>(self));
  });
  free_instance(self);
}

// Python values for record fields (properties build a new value on every
// read, short texts aside, which are shared; absent optional values are
// None).
inline PyRef to_py(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }
inline PyRef to_py(const std::string& value) { return value_str(value); }
inline PyRef to_py(std::uint32_t value) { return PyRef::checked(PyLong_FromUnsignedLong(value)); }
inline PyRef to_py(std::int32_t value) { return PyRef::checked(PyLong_FromLong(value)); }
inline PyRef to_py(const std::vector<std::string>& values) {
  PyRef list = PyRef::checked(PyList_New(static_cast<Py_ssize_t>(values.size())));
  Py_ssize_t i = 0;
  for (const std::string& value : values) PyList_SetItem(list.get(), i++, value_str(value).release());
  return list;
}
template <class T>
PyRef to_py(const std::optional<T>& value) {
  return value ? to_py(*value) : PyRef::borrow(Py_None);
}

namespace detail {
template <auto Member>
struct member_of;
template <class Record, class Field, Field Record::*Member>
struct member_of<Member> {
  using record = Record;
};
}  // namespace detail

// A getter (PyGetSetDef::get) for one field of the record the instance holds:
//   {"url", get_field<&quarlo::SEOImage::url>, nullptr, doc, nullptr}
template <auto Member>
PyObject* get_field(PyObject* self, void*) noexcept {
  using Record = typename detail::member_of<Member>::record;
  return guard([&] { return to_py(record_of<Record>(self).*Member); });
}

}  // namespace quarlo::py
