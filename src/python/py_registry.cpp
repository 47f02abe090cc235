// SchemaRegistry (its members, signatures and docstrings:
// interface/description.py).
//
// The lock is held for one core lookup only, during which no Python code
// runs, so it cannot deadlock with the interpreter lock.
#include "python/py_registry.hpp"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/jsonld/registry.hpp"
#include "python/interface/tables.hpp"
#include "python/runtime/args.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/interface.hpp"
#include "python/runtime/module.hpp"
#include "python/runtime/record_object.hpp"

namespace quarlo::py {
namespace {

struct RegistryRecord {
  std::mutex mutex;
  quarlo::SchemaRegistry registry;
};

namespace registry_api = iface::SchemaRegistry;

RegistryRecord& registry_of(PyObject* self) noexcept { return record_of<RegistryRecord>(self); }

PyObject* registry_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    registry_api::New a;
    a.parse(args, kwargs);
    // Built in place: a mutex cannot be moved into the object.
    PyRef obj = PyRef::checked(PyType_GenericAlloc(type, 0));
    std::construct_at(&registry_of(obj.get()));
    return obj;
  });
}

PyObject* registry_has(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    registry_api::has a;
    a.parse(args, nargs, kwnames);
    const std::string_view name = str_view_arg(a.schema_type);
    RegistryRecord& record = registry_of(self);
    bool found = false;
    {
      const std::lock_guard<std::mutex> lock(record.mutex);
      found = record.registry.has(name);
    }
    return to_py(found);
  });
}

PyObject* registry_list_types(PyObject* self, PyObject*) noexcept {
  return guard([&] {
    RegistryRecord& record = registry_of(self);
    std::vector<std::string> names;
    {
      const std::lock_guard<std::mutex> lock(record.mutex);
      names = record.registry.list_types();
    }
    return to_py(names);
  });
}

PyMethodDef registry_methods[] = {
    method_def<registry_api::has>(registry_has),
    method_def<registry_api::list_types>(registry_list_types),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot registry_slots[] = {
    {Py_tp_new, as_slot(registry_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<RegistryRecord>)},
    {Py_tp_methods, registry_methods},
    {Py_tp_doc, const_cast<char*>(registry_api::kDoc)},
    {0, nullptr},
};
PyType_Spec registry_spec{registry_api::kQualifiedName, sizeof(RecordObject<RegistryRecord>), 0,
                          kFinalTypeFlags, registry_slots};
TypeCell registry_type{registry_spec};

}  // namespace

PyTypeObject* schema_registry_type() { return registry_type.get(); }

}  // namespace quarlo::py
