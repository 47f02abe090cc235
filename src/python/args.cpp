// Argument conversion helpers.
#include "python/args.hpp"

#include <limits>
#include <stdexcept>

#include "python/cell.hpp"

namespace quarlo::py {

namespace {

InternedString g_add_note{"add_note"};
InternedString g_name{"__name__"};
InternedString g_module{"__module__"};

std::string_view utf8_view(PyObject* str) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) throw_error_set();
  return {data, static_cast<std::size_t>(size)};
}

[[noreturn]] void not_given(const char* name) {
  // parse_args always fills required arguments; reaching this is a bug in
  // the calling entry point.
  throw std::logic_error(std::string("required argument '") + name + "' was not parsed");
}

// Python int -> long long; other types, and values beyond long long (with
// the message for each direction), fail with the note.
long long int_value(PyObject* obj, const char* name, const char* below_message,
                    const char* above_message) {
  if (!PyLong_Check(obj)) {
    PyRef type = type_name_of(obj);
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be interpreted as an integer", type.get());
    fail_argument(name);
  }
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (value == -1 && PyErr_Occurred()) fail_argument(name);
  if (overflow != 0) {
    PyErr_SetString(PyExc_OverflowError, overflow < 0 ? below_message : above_message);
    fail_argument(name);
  }
  return value;
}

}  // namespace

void add_argument_note(const char* name) noexcept {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return;
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    PyObject* method = nullptr;
    try {
      method = g_add_note.get();
    } catch (const PyErrorAlreadySet&) {
    }
    PyObject* note = method ? PyUnicode_FromFormat("while processing '%s'", name) : nullptr;
    // add_note exists from 3.11; on older interpreters this fails and the
    // exception goes on without a note.
    PyObject* result = note ? PyObject_CallMethodObjArgs(value, method, note, nullptr) : nullptr;
    if (result == nullptr) PyErr_Clear();
    Py_XDECREF(result);
    Py_XDECREF(note);
  }
  PyErr_Restore(type, value, traceback);
}

void fail_argument(const char* name) {
  add_argument_note(name);
  throw_error_set();
}

PyRef type_name_of(PyObject* obj) {
  return PyRef::checked(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(obj)), g_name.get()));
}

void raise_not_instance(PyObject* obj, const char* target, const char* name) {
  if (obj == Py_None) {
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", target);
  } else {
    PyRef type = type_name_of(obj);
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", type.get(), target);
  }
  fail_argument(name);
}

std::string utf8(PyObject* str) { return std::string(utf8_view(str)); }

PyRef new_str(std::string_view text) {
  return PyRef::checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

std::string_view str_view_arg(PyObject* obj, const char* name) {
  if (obj == nullptr) not_given(name);
  if (!PyUnicode_Check(obj)) raise_not_instance(obj, "str", name);
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (data == nullptr) fail_argument(name);  // lone surrogate: UnicodeEncodeError
  return {data, static_cast<std::size_t>(size)};
}

std::string str_arg(PyObject* obj, const char* name) { return std::string(str_view_arg(obj, name)); }

std::optional<std::string> optional_str_arg(PyObject* obj, const char* name) {
  if (is_none_or_missing(obj)) return std::nullopt;
  return str_arg(obj, name);
}

bool bool_arg(PyObject* obj, const char* name) {
  if (obj == Py_True) return true;
  if (obj == Py_False) return false;
  if (obj == nullptr) not_given(name);
  raise_not_instance(obj, "bool", name);
}

bool bool_arg(PyObject* obj, const char* name, bool default_value) {
  return obj == nullptr ? default_value : bool_arg(obj, name);
}

std::optional<bool> bool_or_numpy_bool(PyObject* obj) {
  if (obj == Py_True) return true;
  if (obj == Py_False) return false;
  // Only reached for other objects: look at the type's module and name.
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
  PyRef module = PyRef::steal(PyObject_GetAttr(type, g_module.get()));
  if (!module) {
    PyErr_Clear();
    return std::nullopt;
  }
  if (!PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) {
    return std::nullopt;
  }
  PyRef name = PyRef::steal(PyObject_GetAttr(type, g_name.get()));
  if (!name) {
    PyErr_Clear();
    return std::nullopt;
  }
  if (!PyUnicode_Check(name.get()) || (PyUnicode_CompareWithASCIIString(name.get(), "bool_") != 0 &&
                                       PyUnicode_CompareWithASCIIString(name.get(), "bool") != 0)) {
    return std::nullopt;
  }
  const int truth = PyObject_IsTrue(obj);
  if (truth < 0) throw_error_set();
  return truth != 0;
}

bool flag_arg(PyObject* obj, const char* name, bool default_value) {
  if (obj == nullptr) return default_value;
  std::optional<bool> value;
  try {
    value = bool_or_numpy_bool(obj);
  } catch (const PyErrorAlreadySet&) {
    fail_argument(name);
  }
  if (!value) raise_not_instance(obj, "bool", name);
  return *value;
}

std::optional<std::uint32_t> optional_u32_arg(PyObject* obj, const char* name) {
  if (is_none_or_missing(obj)) return std::nullopt;
  constexpr const char* kNegative = "can't convert negative int to unsigned";
  constexpr const char* kTooLarge = "Python int too large to convert to C unsigned int";
  const long long value = int_value(obj, name, kNegative, kTooLarge);
  if (value < 0) {
    PyErr_SetString(PyExc_OverflowError, kNegative);
    fail_argument(name);
  }
  if (value > static_cast<long long>(std::numeric_limits<std::uint32_t>::max())) {
    PyErr_SetString(PyExc_OverflowError, kTooLarge);
    fail_argument(name);
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<std::int32_t> optional_i32_arg(PyObject* obj, const char* name) {
  if (is_none_or_missing(obj)) return std::nullopt;
  constexpr const char* kOutOfRange = "Python int too large to convert to C int";
  const long long value = int_value(obj, name, kOutOfRange, kOutOfRange);
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
    PyErr_SetString(PyExc_OverflowError, kOutOfRange);
    fail_argument(name);
  }
  return static_cast<std::int32_t>(value);
}

std::vector<std::string> str_sequence_arg(PyObject* obj, const char* name) {
  if (obj == nullptr) not_given(name);
  if (PyUnicode_Check(obj)) {
    PyErr_SetString(PyExc_TypeError, "a str is not accepted as a sequence of str");
    fail_argument(name);
  }
  if (!PySequence_Check(obj)) raise_not_instance(obj, "Sequence", name);
  const Py_ssize_t size = PySequence_Size(obj);
  if (size < 0) fail_argument(name);
  std::vector<std::string> out;
  out.reserve(static_cast<std::size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyRef item = PyRef::steal(PySequence_GetItem(obj, i));
    if (!item) fail_argument(name);
    out.push_back(str_arg(item.get(), name));
  }
  return out;
}

std::optional<std::vector<std::string>> optional_str_sequence_arg(PyObject* obj, const char* name) {
  if (is_none_or_missing(obj)) return std::nullopt;
  return str_sequence_arg(obj, name);
}

PyObject* instance_arg(PyObject* obj, PyTypeObject* type, const char* name) {
  if (obj == nullptr) not_given(name);
  if (Py_TYPE(obj) == type) return obj;
  PyRef target = PyRef::checked(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), g_name.get()));
  const std::string target_name = utf8(target.get());
  raise_not_instance(obj, target_name.c_str(), name);
}

PyObject* optional_instance_arg(PyObject* obj, PyTypeObject* type, const char* name) {
  if (is_none_or_missing(obj)) return nullptr;
  return instance_arg(obj, type, name);
}

}  // namespace quarlo::py
