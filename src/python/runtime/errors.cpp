// Exception table and core-error mapping.
#include "python/runtime/errors.hpp"

#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "python/runtime/cell.hpp"
#include "python/runtime/guard.hpp"

namespace quarlo::py {

namespace {

// How many rows of iface::kExceptions list core error kind `kind`.
constexpr std::size_t classes_raised_for(std::size_t kind) noexcept {
  std::size_t count = 0;
  for (const ExceptionClass& row : iface::kExceptions) {
    if ((row.kinds & kind_bit(static_cast<ErrorKind>(kind))) != 0) ++count;
  }
  return count;
}

constexpr bool every_kind_has_one_class() noexcept {
  for (std::size_t kind = 0; kind < kErrorKindCount; ++kind) {
    if (classes_raised_for(kind) != 1) return false;
  }
  return true;
}
static_assert(kErrorKindCount <= 32, "ExceptionClass::kinds has one bit a kind");
static_assert(every_kind_has_one_class(), "each core error kind must be raised as exactly one exception class");

// The row of iface::kExceptions raised for each core error kind, in
// ErrorKind declaration order.
constexpr std::array<std::size_t, kErrorKindCount> kClassIndexByKind = [] {
  std::array<std::size_t, kErrorKindCount> index{};
  for (std::size_t kind = 0; kind < kErrorKindCount; ++kind) {
    for (std::size_t i = 0; i < kExceptionCount; ++i) {
      if ((iface::kExceptions[i].kinds & kind_bit(static_cast<ErrorKind>(kind))) != 0) index[kind] = i;
    }
  }
  return index;
}();

// The once-filled cell. The record is never freed.
std::atomic<const ExceptionTypes*> g_exception_types{nullptr};

PyRef builtins_attr(const char* name) {
  PyRef builtins = PyRef::checked(PyImport_ImportModule("builtins"));
  return PyRef::checked(PyObject_GetAttrString(builtins.get(), name));
}

PyRef one_tuple(PyObject* item) {
  PyRef tuple = PyRef::checked(PyTuple_New(1));
  Py_INCREF(item);
  PyTuple_SetItem(tuple.get(), 0, item);  // steals; cannot fail for a fresh tuple
  return tuple;
}

// Message text as str; undecodable bytes are replaced so this cannot fail on
// content (only on memory).
PyRef message_str(const std::string& text) {
  return PyRef::checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

}  // namespace

PyObject* ExceptionTypes::for_kind(ErrorKind kind) const noexcept {
  return classes[kClassIndexByKind[static_cast<std::size_t>(kind)]];
}

PyRef make_exception_tuple(const char* qualified_name, PyObject* bases) {
  PyRef type = builtins_attr("type");
  const char* dot = std::strrchr(qualified_name, '.');
  PyRef short_name = PyRef::checked(PyUnicode_FromString(dot ? dot + 1 : qualified_name));
  PyRef namespace_dict = PyRef::checked(PyDict_New());
  PyRef cls = PyRef::checked(PyObject_CallFunctionObjArgs(
      type.get(), short_name.get(), bases, namespace_dict.get(), nullptr));
  if (!PyType_Check(cls.get())) {
    PyRef cls_type = PyRef::checked(PyObject_GetAttrString(
        reinterpret_cast<PyObject*>(Py_TYPE(cls.get())), "__name__"));
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of 'type'", cls_type.get());
    throw_error_set();
  }
  // type() records the module of whatever Python frame is running (during an
  // import that is the import machinery), which would show up in tracebacks
  // and break pickling; name the module the class is published in instead.
  if (dot != nullptr) {
    PyRef module_name = PyRef::checked(
        PyUnicode_FromStringAndSize(qualified_name, static_cast<Py_ssize_t>(dot - qualified_name)));
    if (PyObject_SetAttrString(cls.get(), "__module__", module_name.get()) < 0) throw_error_set();
  }
  return cls;
}

const ExceptionTypes& exception_types() {
  if (const ExceptionTypes* stored = g_exception_types.load(std::memory_order_acquire)) {
    return *stored;
  }
  // The owners release everything made so far if a later step fails. Each
  // class comes after its base.
  std::array<PyRef, kExceptionCount> made;
  for (std::size_t i = 0; i < kExceptionCount; ++i) {
    const ExceptionClass& row = iface::kExceptions[i];
    PyRef builtin_base = row.builtin_base != nullptr ? builtins_attr(row.builtin_base) : PyRef();
    PyRef bases = one_tuple(builtin_base ? builtin_base.get() : made[row.base].get());
    made[i] = make_exception_tuple(row.qualified_name, bases.get());
  }

  auto record = std::make_unique<ExceptionTypes>();
  for (std::size_t i = 0; i < kExceptionCount; ++i) record->classes[i] = made[i].get();

  // Creating the classes ran Python code, so another thread may have filled
  // the cell meanwhile; the first record stored wins.
  const ExceptionTypes* expected = nullptr;
  if (g_exception_types.compare_exchange_strong(expected, record.get(), std::memory_order_acq_rel)) {
    for (auto& cls : made) (void)cls.release();  // owned by the cell from now on
    return *record.release();
  }
  return *expected;  // ours are released by their owners
}

void convert_core_error(const QuarloError& error) noexcept {
  // Every caller holds the interpreter lock (the module never releases it),
  // so the thread state is not touched here: PyGILState_* does not work in
  // sub-interpreters.
  try {
    PyObject* cls = nullptr;
    try {
      cls = exception_types().for_kind(error.kind());
    } catch (const PyErrorAlreadySet&) {
      PyErr_Clear();
    }
    if (cls != nullptr) {
      PyErr_SetObject(cls, message_str(error.message()).get());
    } else {
      PyErr_SetObject(PyExc_Exception, message_str(error.display()).get());
    }
  } catch (...) {
    detail::set_error_from_current_exception();
  }
}

void raise_core_error(const QuarloError& error) {
  convert_core_error(error);
  throw_error_set();
}

void raise_value_error_display(const QuarloError& error) {
  PyErr_SetObject(PyExc_ValueError, message_str(error.display()).get());
  throw_error_set();
}

}  // namespace quarlo::py
