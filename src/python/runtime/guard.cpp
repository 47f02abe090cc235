// The entry-point guard's exception handling and the internal-fault class.
#include "python/runtime/guard.hpp"

#include <exception>
#include <new>

#include "python/runtime/cell.hpp"

namespace quarlo::py {

namespace {

ObjectCell g_internal_fault;

// The internal-fault class, made once per process; null with an error set if
// it cannot be made. It is deliberately not a module attribute: callers are
// not meant to catch it.
PyObject* internal_fault_class() noexcept {
  if (PyObject* cls = g_internal_fault.get()) return cls;
  PyObject* made = PyErr_NewException("_quarlo_native.InternalFault", PyExc_BaseException, nullptr);
  if (made == nullptr) return nullptr;
  return g_internal_fault.offer(PyRef::steal(made));
}

}  // namespace

void raise_internal_fault(const char* message) noexcept {
  PyObject* cls = internal_fault_class();
  if (cls == nullptr) {
    // Without the class the fault still must not pass silently.
    PyErr_Clear();
    cls = PyExc_SystemError;
  }
  PyErr_SetString(cls, message);
}

namespace detail {

void set_error_from_current_exception() noexcept {
  try {
    try {
      throw;
    } catch (const PyErrorAlreadySet&) {
      if (!PyErr_Occurred()) {
        raise_internal_fault("a failure was reported without a Python exception");
      }
    } catch (const std::bad_alloc&) {
      PyErr_NoMemory();
    } catch (const std::exception& e) {
      raise_internal_fault(e.what());
    } catch (...) {
      raise_internal_fault("unknown C++ exception");
    }
  } catch (...) {
    Py_FatalError("uncaught panic at ffi boundary");
  }
}

}  // namespace detail

}  // namespace quarlo::py
