// Argument conversion helpers.
#include "python/runtime/args.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "python/runtime/cell.hpp"

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

// ------------------------------------------------------------ call shape

namespace {

// What a parse_args format says about the parameters.
struct Signature {
  std::string_view name;          // after ':'
  std::size_t positional = 0;     // parameters before '$'
  std::size_t required = 0;       // parameters before '|'
};

Signature read_format(const char* format, std::size_t count) {
  Signature sig;
  bool optional = false, keyword_only = false;
  std::size_t seen = 0;
  const char* p = format;
  for (; *p != '\0' && *p != ':'; ++p) {
    if (*p == '|') {
      optional = true;
    } else if (*p == '$') {
      // Keyword-only parameters are always optional, so the required ones
      // come first and are all positional.
      if (!optional) throw std::logic_error(std::string("'$' before '|' in argument format: ") + format);
      keyword_only = true;
    } else if (*p == 'O') {
      if (!optional) ++sig.required;
      if (!keyword_only) ++sig.positional;
      ++seen;
    } else {
      throw std::logic_error(std::string("unsupported argument format: ") + format);
    }
  }
  if (seen != count) {
    throw std::logic_error(std::string("argument format does not match its outputs: ") + format);
  }
  if (*p == ':') sig.name = p + 1;
  return sig;
}

// The interpreter's minor version (3.x), read once from its version text.
int python_minor_version() noexcept {
  static const int minor = [] {
    const char* version = Py_GetVersion();  // "3.13.0 (main, ...)"
    const char* dot = std::strchr(version, '.');
    return dot == nullptr ? 0 : std::atoi(dot + 1);
  }();
  return minor;
}

// The edit distance the interpreter uses to suggest a name: moving,
// inserting or deleting a character costs 2, changing only its ASCII case
// costs 1. Gives up (max_cost + 1) once the cost must exceed max_cost.
constexpr std::size_t kMoveCost = 2;
constexpr std::size_t kCaseCost = 1;
constexpr std::size_t kMaxSuggestionLength = 40;

std::size_t substitution_cost(char a, char b) noexcept {
  if ((a & 31) != (b & 31)) return kMoveCost;
  if (a == b) return 0;
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
  return lower(a) == lower(b) ? kCaseCost : kMoveCost;
}

std::size_t suggestion_distance(std::string_view a, std::string_view b, std::size_t max_cost) {
  while (!a.empty() && !b.empty() && a.front() == b.front()) {
    a.remove_prefix(1);
    b.remove_prefix(1);
  }
  while (!a.empty() && !b.empty() && a.back() == b.back()) {
    a.remove_suffix(1);
    b.remove_suffix(1);
  }
  if (a.empty() || b.empty()) return (a.size() + b.size()) * kMoveCost;
  if (a.size() > kMaxSuggestionLength || b.size() > kMaxSuggestionLength) return max_cost + 1;
  if (b.size() < a.size()) std::swap(a, b);
  if ((b.size() - a.size()) * kMoveCost > max_cost) return max_cost + 1;
  std::array<std::size_t, kMaxSuggestionLength> row{};
  for (std::size_t i = 0; i < a.size(); ++i) row[i] = (i + 1) * kMoveCost;
  std::size_t result = 0;
  for (std::size_t bi = 0; bi < b.size(); ++bi) {
    std::size_t distance = result = bi * kMoveCost;
    std::size_t minimum = std::numeric_limits<std::size_t>::max();
    for (std::size_t ai = 0; ai < a.size(); ++ai) {
      const std::size_t substitute = distance + substitution_cost(b[bi], a[ai]);
      distance = row[ai];
      result = std::min(std::min(result, distance) + kMoveCost, substitute);
      row[ai] = result;
      minimum = std::min(minimum, result);
    }
    if (minimum > max_cost) return max_cost + 1;
  }
  return result;
}

// The parameter name the interpreter (3.13 and later) would suggest for an
// unknown keyword, or null.
const char* suggest_keyword(PyObject* key, const char* const* keywords, std::size_t count) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(key, &size);
  if (data == nullptr) {
    PyErr_Clear();
    return nullptr;
  }
  const std::string_view wrong(data, static_cast<std::size_t>(size));
  const char* best = nullptr;
  std::size_t best_distance = std::numeric_limits<std::size_t>::max();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view candidate(keywords[i]);
    if (candidate == wrong) continue;
    std::size_t max_distance = (wrong.size() + candidate.size() + 3) * kMoveCost / 6;
    if (best_distance != std::numeric_limits<std::size_t>::max()) {
      max_distance = std::min(max_distance, best_distance - 1);
    }
    const std::size_t distance = suggestion_distance(wrong, candidate, max_distance);
    if (distance > max_distance) continue;
    if (best == nullptr || distance < best_distance) {
      best = keywords[i];
      best_distance = distance;
    }
  }
  return best;
}

// The index of the parameter called `key`, or `count` if there is none.
std::size_t keyword_index(PyObject* key, const char* const* keywords, std::size_t count) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(key, &size);
  if (data == nullptr) {  // a lone surrogate: no parameter has that name
    PyErr_Clear();
    return count;
  }
  const std::string_view text(data, static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < count; ++i) {
    if (text == keywords[i]) return i;
  }
  return count;
}

[[noreturn]] void raise_shape_error(PyRef message) {
  PyErr_SetObject(PyExc_TypeError, message.get());
  throw_error_set();
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
PyRef quoted_names(const std::vector<const char*>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    text += '\'';
    text += names[i];
    text += '\'';
  }
  return new_str(text);
}

[[noreturn]] void raise_missing(const Signature& sig, const char* kind, const std::vector<const char*>& names) {
  PyRef list = quoted_names(names);
  const std::string name(sig.name);
  raise_shape_error(PyRef::checked(PyUnicode_FromFormat("%s() missing %zd required %s argument%s: %U", name.c_str(),
                                                        static_cast<Py_ssize_t>(names.size()), kind,
                                                        names.size() == 1 ? "" : "s", list.get())));
}

}  // namespace

namespace detail {

// Checks in the order the interpreter checks a call of a Python function:
// each keyword in turn (unknown, or given twice), then the number of
// positional arguments, then missing required arguments.
void parse_call(PyObject* args, PyObject* kwargs, const char* format, const char* const* keywords,
                PyObject** const* out, std::size_t count) {
  const Signature sig = read_format(format, count);
  const std::string name(sig.name);
  if (!PyTuple_Check(args) || (kwargs != nullptr && !PyDict_Check(kwargs))) {
    PyErr_SetString(PyExc_SystemError, "bad call arguments");
    throw_error_set();
  }
  std::vector<PyObject*> values(count, nullptr);
  const Py_ssize_t nargs = PyTuple_Size(args);
  const auto given = static_cast<std::size_t>(nargs);
  for (std::size_t i = 0; i < std::min(given, sig.positional); ++i) {
    values[i] = PyTuple_GetItem(args, static_cast<Py_ssize_t>(i));
  }

  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject *key = nullptr, *value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!PyUnicode_Check(key)) {
        raise_shape_error(PyRef::checked(PyUnicode_FromFormat("%s() keywords must be strings", name.c_str())));
      }
      const std::size_t index = keyword_index(key, keywords, count);
      if (index == count) {
        const char* suggestion = python_minor_version() >= 13 ? suggest_keyword(key, keywords, count) : nullptr;
        if (suggestion != nullptr) {
          raise_shape_error(PyRef::checked(PyUnicode_FromFormat(
              "%s() got an unexpected keyword argument '%S'. Did you mean '%s'?", name.c_str(), key, suggestion)));
        }
        raise_shape_error(PyRef::checked(
            PyUnicode_FromFormat("%s() got an unexpected keyword argument '%S'", name.c_str(), key)));
      }
      if (values[index] != nullptr) {
        raise_shape_error(PyRef::checked(
            PyUnicode_FromFormat("%s() got multiple values for argument '%S'", name.c_str(), key)));
      }
      values[index] = value;
    }
  }

  if (given > sig.positional) {
    std::size_t keyword_only_given = 0;
    for (std::size_t i = sig.positional; i < count; ++i) {
      if (values[i] != nullptr) ++keyword_only_given;
    }
    const std::size_t defaults = sig.positional - std::min(sig.required, sig.positional);
    const std::string takes = defaults != 0 ? "from " + std::to_string(sig.positional - defaults) + " to " +
                                                  std::to_string(sig.positional) + " positional arguments"
                                            : std::to_string(sig.positional) +
                                                  (sig.positional == 1 ? " positional argument" : " positional arguments");
    std::string but = std::to_string(given);
    if (keyword_only_given != 0) {
      but += given == 1 ? " positional argument" : " positional arguments";
      but += " (and " + std::to_string(keyword_only_given) +
             (keyword_only_given == 1 ? " keyword-only argument)" : " keyword-only arguments)");
    }
    but += given == 1 && keyword_only_given == 0 ? " was" : " were";
    raise_shape_error(PyRef::checked(PyUnicode_FromFormat("%s() takes %s but %s given", name.c_str(), takes.c_str(),
                                                          but.c_str())));
  }

  std::vector<const char*> missing;
  for (std::size_t i = 0; i < sig.required; ++i) {
    if (values[i] == nullptr) missing.push_back(keywords[i]);
  }
  if (!missing.empty()) raise_missing(sig, "positional", missing);

  for (std::size_t i = 0; i < count; ++i) {
    if (values[i] != nullptr) *out[i] = values[i];
  }
}

}  // namespace detail

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

namespace {

// Any other sequence reports a length that may be anything; storage for
// more items than this grows as they arrive.
constexpr std::size_t kUntrustedReserve = 16;

}  // namespace

SequenceArg::SequenceArg(PyObject* obj, const char* name, const char* what) : obj_(obj), name_(name) {
  if (obj == nullptr) not_given(name);
  // Text and byte strings are sequences too, of characters and of ints; as
  // an argument they are always a mistake.
  if (PyUnicode_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "a str is not accepted as a sequence of %s", what);
    fail_argument(name);
  }
  if (PyBytes_Check(obj) || PyByteArray_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "a %s object is not accepted as a sequence of %s",
                 PyBytes_Check(obj) ? "bytes" : "bytearray", what);
    fail_argument(name);
  }
  if (!PySequence_Check(obj)) raise_not_instance(obj, "Sequence", name);
  length_ = PySequence_Size(obj);
  if (length_ < 0) fail_argument(name);
}

std::size_t SequenceArg::reserve_hint() const noexcept {
  const auto length = static_cast<std::size_t>(length_);
  if (PyList_CheckExact(obj_) || PyTuple_CheckExact(obj_)) return length;
  return std::min(length, kUntrustedReserve);
}

void SequenceArg::fail_memory() const {
  PyErr_NoMemory();
  fail_argument(name_);
}

std::pair<PyObject*, PyObject*> pair_item(PyObject* item, const char* name) {
  if (!PyTuple_Check(item)) raise_not_instance(item, "tuple", name);
  const Py_ssize_t length = PyTuple_Size(item);
  if (length != 2) {
    PyErr_Format(PyExc_TypeError, "expected a tuple of length 2, got a tuple of length %zd", length);
    fail_argument(name);
  }
  return {PyTuple_GetItem(item, 0), PyTuple_GetItem(item, 1)};
}

std::vector<std::string> str_sequence_arg(PyObject* obj, const char* name) {
  return sequence_arg<std::string>(obj, name, "str", [&](PyObject* item) { return str_arg(item, name); });
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
