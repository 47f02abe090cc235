// PyRef, the one owning handle for PyObject* in the binding, and the
// PyErrorAlreadySet signal used to unwind to the entry-point guard.
//
// Conventions of the binding layer:
//  * A raw PyObject* in a signature is always a borrowed reference.
//  * A function that produces a new reference returns a PyRef.
//  * A helper that fails leaves the Python error indicator set and throws
//    PyErrorAlreadySet; the guard of the entry point (guard.hpp) catches it
//    and returns the slot's error value with the error left in place.
#pragma once

#include <Python.h>

#include <utility>

namespace quarlo::py {

// Thrown after a Python exception has been set. Carries nothing: the
// exception itself lives in the interpreter's error indicator.
struct PyErrorAlreadySet {};

[[noreturn]] inline void throw_error_set() { throw PyErrorAlreadySet{}; }

// Move-only owner of one strong reference (or of nothing).
class PyRef {
 public:
  constexpr PyRef() noexcept = default;
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : obj_(other.obj_) { other.obj_ = nullptr; }
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      PyObject* old = obj_;
      obj_ = other.obj_;
      other.obj_ = nullptr;
      Py_XDECREF(old);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(obj_); }

  // Takes over a new reference (which may be null).
  [[nodiscard]] static PyRef steal(PyObject* obj) noexcept { return PyRef(obj); }
  // Takes a new reference to a borrowed object (which may be null).
  [[nodiscard]] static PyRef borrow(PyObject* obj) noexcept {
    Py_XINCREF(obj);
    return PyRef(obj);
  }
  // Takes over the result of a C API call that returns a new reference or
  // null with an exception set; null throws PyErrorAlreadySet.
  [[nodiscard]] static PyRef checked(PyObject* obj) {
    if (obj == nullptr) throw_error_set();
    return PyRef(obj);
  }

  // Gives up ownership: the caller now owns the reference (return values,
  // and the C API functions that steal, such as PyList_SetItem).
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(obj_, nullptr); }
  [[nodiscard]] PyObject* get() const noexcept { return obj_; }
  explicit operator bool() const noexcept { return obj_ != nullptr; }
  void reset() noexcept { Py_CLEAR(obj_); }

 private:
  explicit PyRef(PyObject* obj) noexcept : obj_(obj) {}
  PyObject* obj_ = nullptr;
};

}  // namespace quarlo::py
