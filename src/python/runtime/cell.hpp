// Process-wide, once-filled cells for Python objects.
//
// The binding keeps a few objects for the life of the process (exception
// classes, type objects, cached callables, interned names). They are never
// released: the interpreter may finalise in any order, and nothing here is
// torn down.
//
// Filling must not use C++ function-local statics: their initialisation
// holds a lock, and Python code run during it (an import, a class creation)
// may let another thread take the interpreter lock and then block on that
// lock while holding the interpreter lock. Instead, a filler builds a
// candidate and offers it; the first stored one wins, later ones are dropped.
#pragma once

#include <Python.h>

#include <atomic>

#include "python/runtime/pyref.hpp"

namespace quarlo::py {

// Holds one strong reference once filled.
class ObjectCell {
 public:
  constexpr ObjectCell() noexcept = default;
  ObjectCell(const ObjectCell&) = delete;
  ObjectCell& operator=(const ObjectCell&) = delete;

  // The stored object (borrowed), or null while the cell is empty.
  [[nodiscard]] PyObject* get() const noexcept { return obj_.load(std::memory_order_acquire); }

  // Stores `candidate` unless the cell is already filled, in which case the
  // candidate is released. Returns the stored object (borrowed).
  PyObject* offer(PyRef candidate) noexcept {
    PyObject* expected = nullptr;
    PyObject* mine = candidate.get();
    if (obj_.compare_exchange_strong(expected, mine, std::memory_order_acq_rel)) {
      (void)candidate.release();
      return mine;
    }
    return expected;  // `candidate` is released on return
  }

 private:
  std::atomic<PyObject*> obj_{nullptr};
};

// An interned str made once from a literal; used for attribute and method
// names on hot paths so no string is built per call.
class InternedString {
 public:
  explicit constexpr InternedString(const char* text) noexcept : text_(text) {}

  // Borrowed reference; throws PyErrorAlreadySet if the string cannot be made.
  [[nodiscard]] PyObject* get() {
    if (PyObject* s = cell_.get()) return s;
    return cell_.offer(PyRef::checked(PyUnicode_InternFromString(text_)));
  }

 private:
  const char* text_;
  ObjectCell cell_;
};

}  // namespace quarlo::py
