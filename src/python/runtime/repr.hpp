// Readable reprs of the module's record classes:
//
//   SEOIssue(rule_id='QUARLO108', severity='warning', message='OG image is missing', ...)
//
// The class name, then each readable value as name=repr(value) in the
// class's order, values that are None left out. Every value's repr is cut to
// kReprValueLimit characters (ending in "...") and the whole repr to
// kReprLimit, so a long body or a large document prints as a short line.
#pragma once

#include <Python.h>

#include <cstddef>

#include "python/runtime/guard.hpp"
#include "python/runtime/interface.hpp"

namespace quarlo::py {

inline constexpr std::size_t kReprValueLimit = 80;
inline constexpr std::size_t kReprLimit = 400;

// The repr from the named attributes of `self`.
PyObject* attributes_repr(PyObject* self, const Property* properties, std::size_t count) noexcept;

// The repr from the items of self.to_dict(), for records whose readable
// values are their dictionary form.
PyObject* dict_repr(PyObject* self) noexcept;

// The tp_repr slot of a class whose readable values are its properties.
template <const auto& Properties>
PyObject* properties_repr(PyObject* self) noexcept {
  return attributes_repr(self, Properties, std::size(Properties));
}

}  // namespace quarlo::py
