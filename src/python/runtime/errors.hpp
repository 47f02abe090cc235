// The module's exception classes and the one place where core errors become
// Python exceptions.
//
// The classes, their bases and the core error kinds each is raised for are
// one table, iface::kExceptions, generated from the interface description
// (src/python/interface/description.py): QuarloError, a ValueError, and its
// subclasses, each raised for one or more kinds of core error.
//
// They are made once per process with builtins.type() and kept for its
// whole life, so every module object (a re-import, another interpreter)
// publishes the very same classes. The exception carries the core message
// alone (no display prefix).
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <iterator>
#include <utility>

#include "core/base/error.hpp"
#include "python/interface/tables.hpp"
#include "python/runtime/pyref.hpp"

namespace quarlo::py {

inline constexpr std::size_t kExceptionCount = std::size(iface::kExceptions);

// The classes of iface::kExceptions, in its order: borrowed references that
// stay valid for the life of the process.
struct ExceptionTypes {
  std::array<PyObject*, kExceptionCount> classes{};

  // The class raised for a core error of `kind`.
  [[nodiscard]] PyObject* for_kind(ErrorKind kind) const noexcept;
};

// The table, created on first use. A failed attempt leaves nothing behind and
// throws PyErrorAlreadySet; the next call starts again. When two threads race
// on first use, the first record stored wins and the other is released.
const ExceptionTypes& exception_types();

// Creates one exception class through builtins.type(short_name, bases, {}),
// where short_name is the part of `qualified_name` after its last '.'.
// `bases` is a tuple of classes. Throws PyErrorAlreadySet on failure.
PyRef make_exception_tuple(const char* qualified_name, PyObject* bases);

// Sets the Python error for a core error: the class of its kind with the
// message as the single argument. If the table cannot be had, the built-in
// Exception with the full display text instead. Never fails. The calling
// thread must hold the interpreter lock (every entry point does).
void convert_core_error(const QuarloError& error) noexcept;

// convert_core_error, then unwind to the guard.
[[noreturn]] void raise_core_error(const QuarloError& error);

// The built-in ValueError with the full display text (prefix included), for
// the few functions that report core errors that way.
[[noreturn]] void raise_value_error_display(const QuarloError& error);

// The value of a successful result; a failed one raises its core error.
template <class T>
T unwrap(Result<T>&& result) {
  if (!result) raise_core_error(result.error());
  return std::move(result).value();
}
inline void unwrap(Result<void>&& result) {
  if (!result) raise_core_error(result.error());
}

}  // namespace quarlo::py
