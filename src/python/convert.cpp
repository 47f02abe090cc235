// Python <-> JSON value conversion.
#include "python/convert.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <vector>

#include "python/args.hpp"
#include "python/cell.hpp"

namespace quarlo::py {

namespace {

ObjectCell g_json_dumps;

// json.dumps, imported once per process.
PyObject* json_dumps() {
  if (PyObject* dumps = g_json_dumps.get()) return dumps;
  PyRef json = PyRef::checked(PyImport_ImportModule("json"));
  return g_json_dumps.offer(PyRef::checked(PyObject_GetAttrString(json.get(), "dumps")));
}

// json.dumps(obj) as a Json value, or the parser's error.
Result<Json> dump_and_parse(PyObject* obj) {
  PyRef text = PyRef::checked(PyObject_CallFunctionObjArgs(json_dumps(), obj, nullptr));
  if (!PyUnicode_Check(text.get())) {
    PyRef type = type_name_of(text.get());
    PyErr_Format(PyExc_TypeError, "json.dumps returned '%U', not 'str'", type.get());
    throw_error_set();
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (data == nullptr) throw_error_set();
  return parse_json(std::string_view(data, static_cast<std::size_t>(size)));
}

PyRef to_python(const Json& value, unsigned depth);
PyRef to_python(const OrderedJson& value, unsigned depth);

// Sets key -> converted(member) in `dict`.
template <class J>
void set_member(PyObject* dict, const std::string& key, const J& member, unsigned depth) {
  PyRef item = to_python(member, depth);
  if (PyDict_SetItem(dict, new_str(key).get(), item.get()) < 0) throw_error_set();
}

// Fills `dict` with the members of object `value`, converted at `depth`, in
// byte-wise key order.
template <class J>
void fill_dict(PyObject* dict, const J& value, unsigned depth) {
  const auto& object = *value.template get_ptr<const typename J::object_t*>();
  if constexpr (std::is_same_v<J, Json>) {
    for (const auto& [key, member] : object) set_member(dict, key, member, depth);  // std::map: sorted
  } else {
    // Insertion order; std::string's ordering is byte-wise (unsigned).
    std::vector<const typename J::object_t::value_type*> members;
    members.reserve(object.size());
    for (const auto& entry : object) members.push_back(&entry);
    std::sort(members.begin(), members.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
    for (const auto* entry : members) set_member(dict, entry->first, entry->second, depth);
  }
}

template <class J>
PyRef to_python_impl(const J& value, unsigned depth) {
  if (depth > kMaxPythonJsonDepth) {
    PyErr_SetString(PyExc_ValueError, "JSON structure too deeply nested (max 128 levels)");
    throw_error_set();
  }
  using value_t = nlohmann::detail::value_t;
  switch (value.type()) {
    case value_t::null:
      return PyRef::borrow(Py_None);
    case value_t::boolean:
      return PyRef::borrow(*value.template get_ptr<const typename J::boolean_t*>() ? Py_True : Py_False);
    case value_t::number_unsigned: {
      const std::uint64_t u = *value.template get_ptr<const typename J::number_unsigned_t*>();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return PyRef::checked(PyFloat_FromDouble(static_cast<double>(u)));
      }
      return PyRef::checked(PyLong_FromUnsignedLongLong(u));
    }
    case value_t::number_integer:
      return PyRef::checked(PyLong_FromLongLong(*value.template get_ptr<const typename J::number_integer_t*>()));
    case value_t::number_float:
      return PyRef::checked(PyFloat_FromDouble(*value.template get_ptr<const typename J::number_float_t*>()));
    case value_t::string:
      return new_str(*value.template get_ptr<const typename J::string_t*>());
    case value_t::array: {
      const auto& array = *value.template get_ptr<const typename J::array_t*>();
      PyRef list = PyRef::checked(PyList_New(static_cast<Py_ssize_t>(array.size())));
      Py_ssize_t i = 0;
      for (const auto& element : array) {
        PyList_SetItem(list.get(), i++, to_python(element, depth + 1).release());  // steals
      }
      return list;
    }
    case value_t::object: {
      PyRef dict = PyRef::checked(PyDict_New());
      fill_dict(dict.get(), value, depth + 1);
      return dict;
    }
    case value_t::binary:
    case value_t::discarded:
      break;
  }
  throw std::logic_error("JSON value of a kind that has no Python form");
}

PyRef to_python(const Json& value, unsigned depth) { return to_python_impl(value, depth); }
PyRef to_python(const OrderedJson& value, unsigned depth) { return to_python_impl(value, depth); }

template <class J>
PyRef to_pydict(const J& value) {
  PyRef dict = PyRef::checked(PyDict_New());
  if (value.is_object()) fill_dict(dict.get(), value, 0);
  return dict;
}

}  // namespace

Json py_to_json_value(PyObject* obj) {
  Result<Json> parsed = dump_and_parse(obj);
  if (!parsed) {
    PyRef message = new_str(parsed.error().message());
    PyErr_SetObject(PyExc_ValueError, message.get());
    throw_error_set();
  }
  return std::move(parsed).value();
}

Json py_to_json_value_or_null(PyObject* obj) {
  Result<Json> parsed = dump_and_parse(obj);
  if (!parsed) return Json(nullptr);
  return std::move(parsed).value();
}

PyRef json_to_pyobject_depth(const Json& value, unsigned depth) { return to_python(value, depth); }
PyRef json_to_pyobject_depth(const OrderedJson& value, unsigned depth) { return to_python(value, depth); }
PyRef json_to_pydict(const Json& value) { return to_pydict(value); }
PyRef json_to_pydict(const OrderedJson& value) { return to_pydict(value); }

}  // namespace quarlo::py
