// The native SchemaRegistry: an introspection handle over a core schema
// registry, held behind a mutex. A new instance is empty and nothing can
// fill it; Python schema generators live in the Python package's own
// registry, which the payload functions consult.
#pragma once

#include <Python.h>

namespace quarlo::py {

// The class object, created on first use; throws PyErrorAlreadySet if that
// fails.
PyTypeObject* schema_registry_type();

}  // namespace quarlo::py
