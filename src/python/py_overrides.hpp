// SEOOverrides: per-call overrides for the payload functions. An opaque,
// final class holding one core overrides record, made by its constructor
// (eighteen keyword-only arguments) and never changed afterwards. It keeps
// no reference to the objects it was made from.
#pragma once

#include <Python.h>

#include "core/model/entity.hpp"

namespace quarlo::py {

// The class object, created on first use; throws PyErrorAlreadySet if that
// fails.
PyTypeObject* seo_overrides_type();

// The record held by an instance; valid while the object lives.
const quarlo::SEOOverrides& unwrap_seo_overrides(PyObject* obj) noexcept;

}  // namespace quarlo::py
