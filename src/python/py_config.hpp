// The configuration classes: URLPolicy (the policy as the caller gave it,
// its trailing-slash word unchecked until used) and SEOConfig (a validated
// core configuration plus the caller's hook and schema registry objects).
#pragma once

#include <Python.h>

#include "core/model/config.hpp"
#include "core/url/url.hpp"
#include "python/runtime/pyref.hpp"

namespace quarlo::py {

// The class objects, created on first use; throw PyErrorAlreadySet if that
// fails.
PyTypeObject* url_policy_type();
PyTypeObject* seo_config_type();

// The core policy of a URLPolicy instance. A trailing-slash word other than
// "always", "never" or "preserve" (exact bytes) raises ValueError
// "invalid trailing_slash: <word>" and throws PyErrorAlreadySet.
quarlo::URLPolicy to_core_policy(PyObject* policy);

// The core configuration of an SEOConfig instance, and its public base URL
// parsed once (pass it to the builder and the URL resolver); both valid
// while the object lives, and never changed (only the registries are
// mutable).
const quarlo::SEOConfig& unwrap_config(PyObject* config) noexcept;
const quarlo::PublicBase& config_public_base(PyObject* config) noexcept;

// The hook and schema registry objects (borrowed), or null when absent.
// Python code may replace them at any time, releasing the old object: take
// a reference (PyRef::borrow) before calling into one.
PyObject* config_hooks(PyObject* config) noexcept;
PyObject* config_schema_registry(PyObject* config) noexcept;

// A new SEOConfig (another object) with the core configuration of `config`,
// without hooks or schema registry; the two share the immutable core
// configuration instead of copying it.
PyRef copy_config(PyObject* config);

}  // namespace quarlo::py
