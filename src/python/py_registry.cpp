// SchemaRegistry.
//
//   @final class SchemaRegistry:
//       def __init__() -> None
//       def has(schema_type: str) -> bool
//       def list_types() -> list[str]
//
// The lock is held for one core lookup only, during which no Python code
// runs, so it cannot deadlock with the interpreter lock.
#include "python/py_registry.hpp"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/jsonld/registry.hpp"
#include "python/runtime/args.hpp"
#include "python/runtime/fast_args.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/module.hpp"
#include "python/runtime/record_object.hpp"

namespace quarlo::py {
namespace {

struct RegistryRecord {
  std::mutex mutex;
  quarlo::SchemaRegistry registry;
};

const char* const kNoKeywords[] = {nullptr};
ArgParser registry_args{":SchemaRegistry", kNoKeywords};
const char* const kHasKeywords[] = {"schema_type", nullptr};
ArgParser has_args{"O:has", kHasKeywords};

RegistryRecord& registry_of(PyObject* self) noexcept { return record_of<RegistryRecord>(self); }

PyObject* registry_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    registry_args.parse(args, kwargs);
    // Built in place: a mutex cannot be moved into the object.
    PyRef obj = PyRef::checked(PyType_GenericAlloc(type, 0));
    std::construct_at(&registry_of(obj.get()));
    return obj;
  });
}

PyObject* registry_has(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    PyObject* schema_type = nullptr;
    has_args.parse_fastcall(args, nargs, kwnames, &schema_type);
    const std::string_view name = str_view_arg(schema_type, "schema_type");
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
    {"has", as_pycfunction(registry_has), METH_FASTCALL | METH_KEYWORDS,
     "has($self, schema_type)\n--\n\nReturns whether a native builder is registered for ``schema_type``."},
    {"list_types", as_pycfunction(registry_list_types), METH_NOARGS,
     "list_types($self)\n--\n\nLists the schema types with a registered native builder."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot registry_slots[] = {
    {Py_tp_new, as_slot(registry_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<RegistryRecord>)},
    {Py_tp_methods, registry_methods},
    {Py_tp_doc, const_cast<char*>(
                    "SchemaRegistry()\n--\n\n"
                    "Native introspection handle for the core schema registry.\n"
                    "\n"
                    "Python callables are registered through ``quarlo.registry.SchemaRegistry``,\n"
                    "which stores them and applies the generated schema around the build. This\n"
                    "native type only exposes ``has`` and ``list_types``.")},
    {0, nullptr},
};
PyType_Spec registry_spec{"_quarlo_native.SchemaRegistry", sizeof(RecordObject<RegistryRecord>), 0,
                          kFinalTypeFlags, registry_slots};
TypeCell registry_type{registry_spec};

}  // namespace

PyTypeObject* schema_registry_type() { return registry_type.get(); }

}  // namespace quarlo::py
