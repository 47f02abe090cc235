// The entry-point guard: no C++ exception ever unwinds into the interpreter.
//
// Every function the interpreter calls (module functions, methods, getters,
// setters, tp_new, tp_dealloc and other slots) is declared noexcept and runs
// its body inside guard() or guard_unraisable():
//
//   static PyObject* payload_to_json(PyObject* self, PyObject*) noexcept {
//     return guard([&] {
//       ...                       // may throw
//       return PyRef::checked(PyUnicode_FromStringAndSize(...));
//     });
//   }
//
// What the guard does with an exception escaping the body:
//  * PyErrorAlreadySet: the Python error is already set; it is left as is.
//  * std::bad_alloc: MemoryError.
//  * anything else: an internal fault, raised as the dedicated internal-fault
//    class (derived directly from BaseException, so `except Exception` does
//    not swallow it) with the exception's what() text.
// It then returns the error value of the slot kind: null for pointers, -1 for
// signed integers (int, Py_ssize_t, Py_hash_t). A body returning PyRef gives
// a PyObject* entry point (the reference is released to the caller).
#pragma once

#include <Python.h>

#include <type_traits>
#include <utility>

#include "python/runtime/pyref.hpp"

namespace quarlo::py {

namespace detail {

// Sets the Python error for the C++ exception being handled; call only from
// a catch block. If that itself fails, the process stops with a fatal error.
void set_error_from_current_exception() noexcept;

template <class R>
constexpr R error_value() noexcept {
  if constexpr (std::is_pointer_v<R>) {
    return nullptr;
  } else {
    static_assert(std::is_integral_v<R> && std::is_signed_v<R>,
                  "guard() bodies return a pointer, PyRef or a signed integer");
    return static_cast<R>(-1);
  }
}

template <class R>
using entry_result_t = std::conditional_t<std::is_same_v<R, PyRef>, PyObject*, R>;

}  // namespace detail

// Raises the internal-fault exception with `message` (always sets an error).
void raise_internal_fault(const char* message) noexcept;

// Runs `body` and returns its result, or the error value of its type with a
// Python exception set.
template <class F>
auto guard(F&& body) noexcept -> detail::entry_result_t<std::invoke_result_t<F&>> {
  using R = std::invoke_result_t<F&>;
  try {
    if constexpr (std::is_same_v<R, PyRef>) {
      return body().release();
    } else {
      return body();
    }
  } catch (...) {
    detail::set_error_from_current_exception();
    return detail::error_value<detail::entry_result_t<R>>();
  }
}

// For slots that cannot report an error (tp_dealloc, tp_finalize): a fault
// in `body`, or a Python error it leaves set, goes to the interpreter's
// unraisable-exception hook with `context` (pass the type or a bound method,
// never a half-destroyed object). An exception pending before the call is
// kept.
template <class F>
void guard_unraisable(PyObject* context, F&& body) noexcept {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  try {
    body();
  } catch (...) {
    detail::set_error_from_current_exception();
  }
  if (PyErr_Occurred()) PyErr_WriteUnraisable(context);
  PyErr_Restore(type, value, traceback);
}

}  // namespace quarlo::py
