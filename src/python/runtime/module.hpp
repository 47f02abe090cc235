// Helpers for the translation units that define the module's classes and
// functions, and the shape of the module's class table.
//
// What the module publishes, in which order, with which names, signatures
// and docstrings, is written in src/python/interface/description.py; the
// build turns it into python/interface/tables.hpp (namespace iface), which
// also declares the accessor of each class (<snake_case name>_type) and the
// method definition of each function (<name>_def) for the module's tables
// (iface::kClasses, iface::kFunctions). A class TU (one per group of Python
// classes) owns its instance struct, its slots, its PyType_Spec and a
// TypeCell, and defines that accessor:
//
//   // py_image.hpp
//   PyTypeObject* seo_image_type();  // created on first use; throws PyErrorAlreadySet
//
//   // py_image.cpp
//   namespace {
//   PyObject* image_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
//     return guard([&] {
//       iface::SEOImage::New a;  // the constructor's arguments
//       a.parse(args, kwargs);
//       quarlo::SEOImage image;
//       image.url = str_arg(a.url);
//       ...
//     });
//   }
//   PyType_Slot image_slots[] = {
//       {Py_tp_new, as_slot(image_new)}, {Py_tp_dealloc, as_slot(image_dealloc)},
//       {Py_tp_doc, const_cast<char*>(iface::SEOImage::kDoc)},
//       {0, nullptr}};
//   PyType_Spec image_spec{iface::SEOImage::kQualifiedName, sizeof(RecordObject<quarlo::SEOImage>), 0,
//                          kFinalTypeFlags, image_slots};
//   TypeCell image_type{image_spec};
//   }  // namespace
//   PyTypeObject* seo_image_type() { return image_type.get(); }
//
// A function TU defines the function's method definition, with static
// storage, from its generated record (runtime/interface.hpp):
//
//   PyMethodDef clean_url_fn_def = method_def<iface::clean_url_fn>(clean_url_fn);
//
// The exec step binds each function to the module object, with the module's
// name as its __module__.
#pragma once

#include <Python.h>

#include "python/runtime/cell.hpp"
#include "python/runtime/pyref.hpp"

namespace quarlo::py {

// Final (no Py_TPFLAGS_BASETYPE) and immutable: attributes of the class
// cannot be set or deleted from Python.
inline constexpr unsigned int kFinalTypeFlags =
    static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE);
// For classes that only the module creates: no __new__, so calling the class
// raises TypeError.
inline constexpr unsigned int kNoConstructorTypeFlags =
    kFinalTypeFlags | static_cast<unsigned int>(Py_TPFLAGS_DISALLOW_INSTANTIATION);

// A heap type created from a PyType_Spec on first use and kept for the life
// of the process, shared by every module object. The PyType_Spec (and its
// name) must have static storage: the type keeps pointing at it.
class TypeCell {
 public:
  explicit constexpr TypeCell(PyType_Spec& spec) noexcept : spec_(&spec) {}

  // The type (borrowed); throws PyErrorAlreadySet if it cannot be created.
  [[nodiscard]] PyTypeObject* get() {
    if (PyObject* t = cell_.get()) return reinterpret_cast<PyTypeObject*>(t);
    return reinterpret_cast<PyTypeObject*>(cell_.offer(PyRef::checked(PyType_FromSpec(spec_))));
  }
  // The type if it exists already, else null (no instance can exist then).
  [[nodiscard]] PyTypeObject* peek() const noexcept {
    return reinterpret_cast<PyTypeObject*>(cell_.get());
  }

 private:
  PyType_Spec* spec_;
  ObjectCell cell_;
};

// Slot and method tables hold untyped function pointers; these casts go
// through void(*)(void) as the C API expects.
template <class F>
void* as_slot(F* fn) noexcept {
  return reinterpret_cast<void*>(reinterpret_cast<void (*)(void)>(fn));
}
template <class F>
PyCFunction as_pycfunction(F* fn) noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(fn));
}

// One row of the class table (iface::kClasses): the attribute name and the
// type accessor.
struct ClassEntry {
  const char* name;
  PyTypeObject* (*type)();
};

}  // namespace quarlo::py
