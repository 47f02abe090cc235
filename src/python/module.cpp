// The _quarlo_native module: definition, multi-phase initialisation and the
// publication of its members.
//
// The exec step adds, in this order, the classes (iface::kClasses), the
// functions (iface::kFunctions) and the exception classes
// (iface::kExceptions): the tables generated from the interface description
// (src/python/interface/description.py). Each addition appends the name to
// __all__ and then sets the attribute; the first failure fails the import.
// See module.hpp for how a class or function TU plugs in.
#include <Python.h>

#include <cstdint>

#include "python/interface/tables.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/module.hpp"
#include "python/runtime/pyref.hpp"

namespace quarlo::py {
namespace {

InternedString g_all_name{"__all__"};

// Appends `name` to the module's __all__ (creating it if missing), then sets
// the attribute.
void add_member(PyObject* module, const char* name, PyObject* value) {
  PyObject* dict = PyModule_GetDict(module);  // borrowed
  PyObject* all = PyDict_GetItemWithError(dict, g_all_name.get());  // borrowed
  if (all == nullptr) {
    if (PyErr_Occurred()) throw_error_set();
    PyRef fresh = PyRef::checked(PyList_New(0));
    if (PyDict_SetItem(dict, g_all_name.get(), fresh.get()) < 0) throw_error_set();
    all = fresh.get();  // the dict holds it now
  } else if (!PyList_Check(all)) {
    PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
    throw_error_set();
  }
  PyRef name_str = PyRef::checked(PyUnicode_FromString(name));
  if (PyList_Append(all, name_str.get()) < 0) throw_error_set();
  if (PyModule_AddObjectRef(module, name, value) < 0) throw_error_set();
}

// Last stage of the exec step: the exception classes.
void init(PyObject* module) {
  const ExceptionTypes& types = exception_types();
  for (std::size_t i = 0; i < kExceptionCount; ++i) {
    add_member(module, iface::kExceptions[i].name, types.classes[i]);
  }
}

// The class objects, the exception classes and a few cached callables are
// process-wide and belong to the interpreter that made them; another
// interpreter using them would share (and outlive) that interpreter's
// objects. So the module loads only in the main interpreter, whose id is 0.
void refuse_other_interpreters() {
  const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == 0) return;
  if (id > 0) {
    PyRef message = PyRef::checked(PyUnicode_FromString(
        "_quarlo_native can only be imported in the main interpreter: its classes are "
        "shared by the whole process, so it does not support sub-interpreters"));
    PyRef name = PyRef::checked(PyUnicode_FromString(iface::kModuleName));
    PyErr_SetImportError(message.get(), name.get(), nullptr);
  }
  throw_error_set();  // id < 0: the lookup failed with an error set
}

int exec_module(PyObject* module) noexcept {
  return guard([&] {
    refuse_other_interpreters();  // before anything process-wide is created
    for (const ClassEntry* entry = iface::kClasses; entry->name != nullptr; ++entry) {
      add_member(module, entry->name, reinterpret_cast<PyObject*>(entry->type()));
    }
    PyRef module_name = PyRef::checked(PyModule_GetNameObject(module));
    for (PyMethodDef* const* def = iface::kFunctions; *def != nullptr; ++def) {
      PyRef function = PyRef::checked(PyCFunction_NewEx(*def, module, module_name.get()));
      add_member(module, (*def)->ml_name, function.get());
    }
    init(module);
    return 0;
  });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, as_slot(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    iface::kModuleName,
    iface::kModuleDoc,
    0,        // no per-module state: everything is process-wide
    nullptr,  // functions are added by the exec step
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace quarlo::py

PyMODINIT_FUNC PyInit__quarlo_native(void) { return PyModuleDef_Init(&quarlo::py::module_def); }
