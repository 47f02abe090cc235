// _quarlo_testing: a test-only extension that exposes the binding helpers
// (guard, error mapping, type helpers) to pytest. Built only with
// QUARLO_BUILD_TEST_EXTENSION=ON and never installed.
//
// It links its own copy of the binding library, so its process-wide cells
// (exception table, internal-fault class) are distinct from those of the
// installed _quarlo_native: compare classes by name across the two.
#include <Python.h>

#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/error.hpp"
#include "core/base/json.hpp"
#include "core/payload/payload.hpp"
#include "python/runtime/args.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/module.hpp"
#include "python/py_payload.hpp"
#include "python/runtime/pyref.hpp"

namespace quarlo::py::testing {
namespace {

std::string_view utf8_view(PyObject* str) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) throw_error_set();
  return {data, static_cast<std::size_t>(size)};
}

PyRef to_list(const std::vector<std::string>& items) {
  PyRef list = PyRef::checked(PyList_New(0));
  for (const auto& item : items) {
    if (PyList_Append(list.get(), new_str(item).get()) < 0) throw_error_set();
  }
  return list;
}

template <class T>
PyRef int_or_none(const std::optional<T>& value) {
  if (!value) return PyRef::borrow(Py_None);
  return PyRef::checked(PyLong_FromLongLong(*value));
}

// Forward declaration: the Token class is defined further down.
PyTypeObject* token();

// parse_sample(a, b=None, *, c=None, flag=True): the arguments given, as a
// dict, after the shape check; `flag` goes through bool_arg with its default.
PyObject* parse_sample(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    static const char* const kKeywords[] = {"a", "b", "c", "flag", nullptr};
    PyObject *a = nullptr, *b = nullptr, *c = nullptr, *flag = nullptr;
    parse_args(args, kwargs, "O|O$OO:parse_sample", kKeywords, &a, &b, &c, &flag);
    PyRef out = PyRef::checked(PyDict_New());
    const char* names[] = {"a", "b", "c"};
    PyObject* values[] = {a, b, c};
    for (int i = 0; i < 3; ++i) {
      if (values[i] != nullptr && PyDict_SetItemString(out.get(), names[i], values[i]) < 0) throw_error_set();
    }
    PyObject* flag_value = bool_arg(flag, "flag", true) ? Py_True : Py_False;
    if (PyDict_SetItemString(out.get(), "flag", flag_value) < 0) throw_error_set();
    return out;
  });
}

// convert(kind, value): runs one converter on `value` (argument name
// "value") and returns the converted value rebuilt as a Python object.
PyObject* convert(PyObject*, PyObject* args) noexcept {
  return guard([&]() -> PyRef {
    PyObject *kind_obj, *value;
    if (!PyArg_ParseTuple(args, "UO:convert", &kind_obj, &value)) throw_error_set();
    const std::string kind = utf8(kind_obj);
    if (kind == "str") return new_str(str_arg(value, "value"));
    if (kind == "optional_str") {
      auto text = optional_str_arg(value, "value");
      return text ? new_str(*text) : PyRef::borrow(Py_None);
    }
    if (kind == "bool") return PyRef::borrow(bool_arg(value, "value") ? Py_True : Py_False);
    if (kind == "optional_u32") return int_or_none(optional_u32_arg(value, "value"));
    if (kind == "optional_i32") return int_or_none(optional_i32_arg(value, "value"));
    if (kind == "str_sequence") return to_list(str_sequence_arg(value, "value"));
    if (kind == "optional_str_sequence") {
      auto items = optional_str_sequence_arg(value, "value");
      return items ? to_list(*items) : PyRef::borrow(Py_None);
    }
    if (kind == "token") return PyRef::borrow(instance_arg(value, token(), "value"));
    if (kind == "optional_token") {
      PyObject* obj = optional_instance_arg(value, token(), "value");
      return PyRef::borrow(obj ? obj : Py_None);
    }
    PyErr_SetString(PyExc_ValueError, "unknown converter");
    throw_error_set();
  });
}

// roundtrip(obj): json_to_pyobject_depth(py_to_json_value(obj), 0).
PyObject* roundtrip(PyObject*, PyObject* obj) noexcept {
  return guard([&] { return json_to_pyobject_depth(py_to_json_value(obj), 0); });
}

// to_dict(obj): json_to_pydict(py_to_json_value(obj)).
PyObject* to_dict(PyObject*, PyObject* obj) noexcept {
  return guard([&] { return json_to_pydict(py_to_json_value(obj)); });
}

// or_null(obj): the lenient conversion, back to Python.
PyObject* or_null(PyObject*, PyObject* obj) noexcept {
  return guard([&] { return json_to_pyobject_depth(py_to_json_value_or_null(obj), 0); });
}

// parse(text, depth=0): the core parser, converted at `depth`.
PyObject* parse(PyObject*, PyObject* args) noexcept {
  return guard([&] {
    PyObject* text;
    unsigned int depth = 0;
    if (!PyArg_ParseTuple(args, "U|I:parse", &text, &depth)) throw_error_set();
    Result<Json> parsed = parse_json(utf8(text));
    if (!parsed) raise_core_error(parsed.error());
    return json_to_pyobject_depth(*parsed, depth);
  });
}

PyObject* dumps(PyObject* obj, JsonLayout layout) noexcept {
  return guard([&] { return new_str(write_json(py_to_json_value(obj), layout)); });
}
PyObject* dumps_compact(PyObject*, PyObject* obj) noexcept { return dumps(obj, JsonLayout::Compact); }
PyObject* dumps_pretty(PyObject*, PyObject* obj) noexcept { return dumps(obj, JsonLayout::Pretty); }

// nested_arrays(levels, innermost_size): `levels` arrays inside one another
// (built in C++, past the parser's limit), the innermost holding that many
// zeros, converted whole.
PyObject* nested_arrays(PyObject*, PyObject* args) noexcept {
  return guard([&] {
    unsigned int levels, innermost;
    if (!PyArg_ParseTuple(args, "II:nested_arrays", &levels, &innermost)) throw_error_set();
    Json value = Json::array();
    for (unsigned int i = 0; i < innermost; ++i) value.push_back(0);
    for (unsigned int i = 1; i < levels; ++i) value = Json::array({std::move(value)});
    return json_to_pyobject_depth(value, 0);
  });
}

OrderedJson reversed_copy(const Json& value) {
  if (value.is_array()) {
    OrderedJson out = OrderedJson::array();
    for (const auto& element : value) out.push_back(reversed_copy(element));
    return out;
  }
  if (value.is_object()) {
    OrderedJson out = OrderedJson::object();
    for (auto it = value.crbegin(); it != value.crend(); ++it) {
      out[it.key()] = reversed_copy(it.value());
    }
    return out;
  }
  return OrderedJson(value);  // scalars convert directly
}

// ordered_to_dict(obj): converts obj to JSON, rebuilds it as an OrderedJson
// with every object's members inserted in descending key order, and
// converts that with json_to_pydict.
PyObject* ordered_to_dict(PyObject*, PyObject* obj) noexcept {
  return guard([&] { return json_to_pydict(reversed_copy(py_to_json_value(obj))); });
}

// payload_from_json(text, wrap_schema=0): an SEOPayload read from the
// dictionary form in JSON text (core errors raise as usual). With
// `wrap_schema`, the schema is put inside that many further arrays, which
// the parser alone would refuse.
PyObject* payload_from_json(PyObject*, PyObject* args) noexcept {
  return guard([&] {
    PyObject* text;
    unsigned int wrap = 0;
    if (!PyArg_ParseTuple(args, "U|I:payload_from_json", &text, &wrap)) throw_error_set();
    SEOPayload payload = unwrap(SEOPayload::from_dict(unwrap(parse_json(utf8(text)))));
    if (payload.schema_jsonld) {
      // An array around canonical text is canonical text too.
      std::string wrapped(wrap, '[');
      wrapped.append(payload.schema_jsonld->text());
      wrapped.append(wrap, ']');
      payload.schema_jsonld = JsonDoc::from_canonical(std::move(wrapped));
    }
    return new_seo_payload(std::move(payload));
  });
}

// payload_dict_generic(payload): the dict form the general way, the core's
// compact text read back and converted with json_to_pydict (what
// SEOPayload.to_dict must equal).
PyObject* payload_dict_generic(PyObject*, PyObject* obj) noexcept {
  return guard([&] {
    instance_arg(obj, seo_payload_type(), "payload");
    return json_to_pydict(unwrap(parse_json(unwrap_seo_payload(obj).to_json_compact())));
  });
}

// throw_cpp(kind, message): throws a C++ exception of the given kind through
// the guard.
PyObject* throw_cpp(PyObject*, PyObject* args) noexcept {
  return guard([&]() -> PyObject* {
    PyObject *kind_obj, *message_obj;
    if (!PyArg_ParseTuple(args, "UU:throw_cpp", &kind_obj, &message_obj)) throw_error_set();
    const std::string kind(utf8_view(kind_obj));
    const std::string message(utf8_view(message_obj));
    if (kind == "bad_alloc") throw std::bad_alloc();
    if (kind == "runtime_error") throw std::runtime_error(message);
    if (kind == "non_std") throw 42;
    if (kind == "silent_failure") throw_error_set();  // no Python error set
    if (kind == "python_error") {
      PyErr_SetString(PyExc_KeyError, message.c_str());
      throw_error_set();
    }
    PyErr_SetString(PyExc_ValueError, "unknown kind");
    return nullptr;
  });
}

// guard_int(fail): the int flavour of the guard; returns 0 or raises.
PyObject* guard_int(PyObject*, PyObject* fail) noexcept {
  int rc = guard([&]() -> int {
    if (PyObject_IsTrue(fail)) throw std::logic_error("int slot fault");
    return 0;
  });
  if (rc < 0) return nullptr;
  return PyLong_FromLong(rc);
}

// unraisable(message, pending): a fault in a body that cannot raise goes to
// sys.unraisablehook. With `pending` true, a KeyError set before the call
// must still be the one raised afterwards.
PyObject* unraisable(PyObject*, PyObject* args) noexcept {
  return guard([&]() -> PyObject* {
    PyObject* message_obj;
    int pending;
    if (!PyArg_ParseTuple(args, "Up:unraisable", &message_obj, &pending)) throw_error_set();
    const std::string message(utf8_view(message_obj));
    if (pending) PyErr_SetString(PyExc_KeyError, "pending");
    guard_unraisable(message_obj, [&] { throw std::runtime_error(message); });
    if (pending) return nullptr;
    Py_RETURN_NONE;
  });
}

// (kind_name, message) -> the core error they name.
QuarloError core_error_from_args(PyObject* args, const char* format) {
  PyObject *kind_obj, *message_obj;
  if (!PyArg_ParseTuple(args, format, &kind_obj, &message_obj)) throw_error_set();
  const std::string_view kind_name = utf8_view(kind_obj);
  for (const auto& info : kErrorKinds) {
    if (info.name == kind_name) return QuarloError(info.kind, std::string(utf8_view(message_obj)));
  }
  PyErr_SetString(PyExc_ValueError, "unknown error kind");
  throw_error_set();
}

// raise_core_error(kind_name, message): raises through convert_core_error.
PyObject* raise_core(PyObject*, PyObject* args) noexcept {
  return guard([&]() -> PyObject* { raise_core_error(core_error_from_args(args, "UU:raise_core_error")); });
}

// raise_display(kind_name, message): the ValueError-with-display-text path.
PyObject* raise_display(PyObject*, PyObject* args) noexcept {
  return guard([&]() -> PyObject* { raise_value_error_display(core_error_from_args(args, "UU:raise_display")); });
}

// error_kinds(): the core kind names in declaration order.
PyObject* error_kinds(PyObject*, PyObject*) noexcept {
  return guard([&] {
    PyRef list = PyRef::checked(PyList_New(0));
    for (const auto& info : kErrorKinds) {
      PyRef name = PyRef::checked(PyUnicode_FromStringAndSize(info.name.data(),
                                                              static_cast<Py_ssize_t>(info.name.size())));
      if (PyList_Append(list.get(), name.get()) < 0) throw_error_set();
    }
    return list;
  });
}

// exception_types(): this extension's table as a tuple, in table order.
PyObject* exception_table(PyObject*, PyObject*) noexcept {
  return guard([&] {
    const ExceptionTypes& types = exception_types();
    PyRef tuple = PyRef::checked(PyTuple_New(static_cast<Py_ssize_t>(kExceptionCount)));
    for (std::size_t i = 0; i < kExceptionCount; ++i) {
      Py_INCREF(types.classes[i]);
      PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), types.classes[i]);
    }
    return tuple;
  });
}

// Two small classes made with the class-TU helpers.
PyType_Slot token_slots[] = {
    {Py_tp_doc, const_cast<char*>("A final, immutable test class.")},
    {0, nullptr},
};
PyType_Spec token_spec{"_quarlo_testing.Token", sizeof(PyObject), 0, kFinalTypeFlags, token_slots};
TypeCell token_type{token_spec};
PyTypeObject* token() { return token_type.get(); }

PyType_Slot sealed_slots[] = {
    {Py_tp_doc, const_cast<char*>("A test class only the module creates.")},
    {0, nullptr},
};
PyType_Spec sealed_spec{"_quarlo_testing.Sealed", sizeof(PyObject), 0, kNoConstructorTypeFlags,
                        sealed_slots};
TypeCell sealed_type{sealed_spec};

// make_sealed(): an instance of the class Python cannot instantiate.
PyObject* make_sealed(PyObject*, PyObject*) noexcept {
  return guard([&] {
    PyTypeObject* type = sealed_type.get();
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    return PyRef::checked(alloc(type, 0));
  });
}

PyMethodDef testing_methods[] = {
    {"throw_cpp", throw_cpp, METH_VARARGS, nullptr},
    {"guard_int", guard_int, METH_O, nullptr},
    {"unraisable", unraisable, METH_VARARGS, nullptr},
    {"raise_core_error", raise_core, METH_VARARGS, nullptr},
    {"raise_display", raise_display, METH_VARARGS, nullptr},
    {"error_kinds", error_kinds, METH_NOARGS, nullptr},
    {"exception_types", exception_table, METH_NOARGS, nullptr},
    {"make_sealed", make_sealed, METH_NOARGS, nullptr},
    {"parse_sample", as_pycfunction(parse_sample), METH_VARARGS | METH_KEYWORDS, nullptr},
    {"convert", convert, METH_VARARGS, nullptr},
    {"roundtrip", roundtrip, METH_O, nullptr},
    {"to_dict", to_dict, METH_O, nullptr},
    {"or_null", or_null, METH_O, nullptr},
    {"parse", parse, METH_VARARGS, nullptr},
    {"dumps_compact", dumps_compact, METH_O, nullptr},
    {"dumps_pretty", dumps_pretty, METH_O, nullptr},
    {"nested_arrays", nested_arrays, METH_VARARGS, nullptr},
    {"ordered_to_dict", ordered_to_dict, METH_O, nullptr},
    {"payload_from_json", payload_from_json, METH_VARARGS, nullptr},
    {"payload_dict_generic", payload_dict_generic, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

int exec_testing(PyObject* module) noexcept {
  return guard([&] {
    if (PyModule_AddObjectRef(module, "Token", reinterpret_cast<PyObject*>(token_type.get())) < 0 ||
        PyModule_AddObjectRef(module, "Sealed", reinterpret_cast<PyObject*>(sealed_type.get())) < 0) {
      throw_error_set();
    }
    return 0;
  });
}

PyModuleDef_Slot testing_slots[] = {
    {Py_mod_exec, as_slot(exec_testing)},
    {0, nullptr},
};

PyModuleDef testing_def = {
    PyModuleDef_HEAD_INIT, "_quarlo_testing", "Test-only access to the binding helpers.", 0,
    testing_methods,       testing_slots,     nullptr,                                   nullptr,
    nullptr,
};

}  // namespace
}  // namespace quarlo::py::testing

PyMODINIT_FUNC PyInit__quarlo_testing(void) { return PyModuleDef_Init(&quarlo::py::testing::testing_def); }
