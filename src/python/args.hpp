// Argument parsing and conversion for every function, method and
// constructor of the module.
//
// The shape of a call (positional/keyword split, defaults, missing or
// duplicate arguments) is checked by parse_args, which reports problems in
// CPython's usual wording. Values are then converted one by one with the
// *_arg converters, which take the object (borrowed; null for "not given")
// and the argument's name:
//
//   static const char* const kKeywords[] = {"url", "width", "height", "alt", nullptr};
//   PyObject *url = nullptr, *width = nullptr, *height = nullptr, *alt = nullptr;
//   parse_args(args, kwargs, "O|$OOO:SEOImage", kKeywords, &url, &width, &height, &alt);
//   image.url = str_arg(url, "url");
//   image.width = optional_u32_arg(width, "width");
//
// A failed conversion propagates the conversion's own exception with the
// note "while processing '<name>'" added (where the interpreter supports
// exception notes) and throws PyErrorAlreadySet. Only the failure paths look
// anything up by name; the success paths do no imports and build no strings.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "python/pyref.hpp"

namespace quarlo::py {

// Parses (args, kwargs) with PyArg_ParseTupleAndKeywords. `format` uses only
// "O" for values, "|" before the optional ones, "$" before the keyword-only
// ones (so "|$" when all are keyword-only) and ends with ":name" so errors
// name the callable. `keywords` lists every name in order, ending in nullptr.
// Outputs of arguments not given are left untouched: initialise them to null.
template <class... Out>
void parse_args(PyObject* args, PyObject* kwargs, const char* format,
                const char* const* keywords, Out**... out) {
  static_assert((std::is_same_v<Out, PyObject> && ...), "parse_args outputs are PyObject*");
  // The C API takes char** (before 3.13) but does not write to it.
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), out...)) {
    throw_error_set();
  }
}

// Adds "while processing '<name>'" to the pending exception when the
// interpreter can; if that fails, the original exception stays as it was.
void add_argument_note(const char* name) noexcept;
// add_argument_note, then unwind to the guard.
[[noreturn]] void fail_argument(const char* name);

// The `__name__` of an object's type (for messages).
PyRef type_name_of(PyObject* obj);
// Raises TypeError "'<type>' object is not an instance of '<target>'" (for
// None: "'None' is not an instance of '<target>'") with the argument note.
[[noreturn]] void raise_not_instance(PyObject* obj, const char* target, const char* name);

// UTF-8 copy of a str (no type check, no note): for values already known to
// be str. A lone surrogate raises UnicodeEncodeError.
std::string utf8(PyObject* str);
// A new str from UTF-8 text (invalid UTF-8 raises UnicodeDecodeError).
PyRef new_str(std::string_view text);

// str (or a subclass) -> UTF-8 text.
std::string str_arg(PyObject* obj, const char* name);
// As str_arg, without a copy: the view lives as long as `obj` does.
std::string_view str_view_arg(PyObject* obj, const char* name);
// None or not given -> nullopt; otherwise as str_arg.
std::optional<std::string> optional_str_arg(PyObject* obj, const char* name);

// Exactly True or False; anything else (the int 1 included) is refused.
bool bool_arg(PyObject* obj, const char* name);
// Not given -> `default_value`; otherwise as bool_arg.
bool bool_arg(PyObject* obj, const char* name, bool default_value);

// True, False or a NumPy boolean scalar (a type named "bool_" or "bool" in
// the module "numpy", read through its truth value); anything else gives
// nullopt. No note, no exception unless reading the truth value fails.
std::optional<bool> bool_or_numpy_bool(PyObject* obj);
// As bool_arg, but a NumPy boolean scalar is accepted too.
bool flag_arg(PyObject* obj, const char* name, bool default_value);

// None or not given -> nullopt; otherwise an int in range (bool, being an
// int, is accepted). Other types: TypeError; out of range: OverflowError.
std::optional<std::uint32_t> optional_u32_arg(PyObject* obj, const char* name);
std::optional<std::int32_t> optional_i32_arg(PyObject* obj, const char* name);

// Any sequence (list, tuple, ...) of str; a str itself is refused.
std::vector<std::string> str_sequence_arg(PyObject* obj, const char* name);
// None or not given -> nullopt; otherwise as str_sequence_arg.
std::optional<std::vector<std::string>> optional_str_sequence_arg(PyObject* obj, const char* name);

// An instance of exactly `type` (the module's classes are final); returns
// `obj`. Anything else, None included, is refused.
PyObject* instance_arg(PyObject* obj, PyTypeObject* type, const char* name);
// None or not given -> null; otherwise as instance_arg.
PyObject* optional_instance_arg(PyObject* obj, PyTypeObject* type, const char* name);

inline bool is_none_or_missing(PyObject* obj) noexcept { return obj == nullptr || obj == Py_None; }

}  // namespace quarlo::py
