// A faster front end to parse_args for constructors with many keyword
// arguments.
//
// PyArg_ParseTupleAndKeywords looks each keyword up in the kwargs dict by a
// str it builds from the C name, once per name up to the last one given:
// for a class with twenty keyword arguments that dominates the call. The
// ArgParser walks the kwargs dict once instead and matches its keys by
// identity against interned names (the keyword names at a call site are
// interned by the compiler). Whenever the fast path cannot decide (a key
// that is not identical to an interned name, too many positional arguments,
// a value given twice, a required argument missing) it hands the call to
// parse_args, so every accepted call and every error message is exactly
// what parse_args gives.
//
//   static const char* const kKeywords[] = {"url", "width", nullptr};
//   ArgParser image_args{"O|$O:SEOImage", kKeywords};   // namespace scope
//   ...
//   PyObject *url = nullptr, *width = nullptr;
//   image_args.parse(args, kwargs, &url, &width);
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <type_traits>

#include "python/runtime/args.hpp"
#include "python/runtime/cell.hpp"
#include "python/runtime/pyref.hpp"

namespace quarlo::py {

// N counts the keyword names including the terminating nullptr.
//
// For METH_FASTCALL | METH_KEYWORDS functions, parse_fastcall takes the
// vector of arguments directly (no argument tuple is built for the call):
//
//   PyObject* clean_url_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
//   clean_url_args.parse_fastcall(args, nargs, kwnames, &url);
template <std::size_t N>
class ArgParser {
 public:
  static constexpr std::size_t kCount = N - 1;

  // `format` and `keywords` follow parse_args and must have static storage.
  constexpr ArgParser(const char* format, const char* const (&keywords)[N]) noexcept
      : format_(format), keywords_(keywords) {
    bool optional = false, keyword_only = false;
    for (const char* p = format; *p != '\0' && *p != ':'; ++p) {
      if (*p == '|') {
        optional = true;
      } else if (*p == '$') {
        keyword_only = true;
      } else {
        if (!optional) ++required_;
        if (!keyword_only) ++max_positional_;
      }
    }
  }
  ArgParser(const ArgParser&) = delete;
  ArgParser& operator=(const ArgParser&) = delete;

  template <class... Out>
  void parse(PyObject* args, PyObject* kwargs, Out**... out) {
    static_assert(sizeof...(Out) == kCount, "one output per keyword");
    static_assert((std::is_same_v<Out, PyObject> && ...), "outputs are PyObject*");
    std::array<PyObject**, kCount> slots{out...};
    if (!fast_parse(args, kwargs, slots)) {
      for (PyObject** slot : slots) *slot = nullptr;
      parse_args(args, kwargs, format_, keywords_, out...);
    }
  }

  // The same for the vectorcall convention: `args` holds the positional
  // arguments, then the values of the keywords named in the `kwnames` tuple.
  template <class... Out>
  void parse_fastcall(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Out**... out) {
    static_assert(sizeof...(Out) == kCount, "one output per keyword");
    static_assert((std::is_same_v<Out, PyObject> && ...), "outputs are PyObject*");
    std::array<PyObject**, kCount> slots{out...};
    if (fast_parse_vector(args, nargs, kwnames, slots)) return;
    for (PyObject** slot : slots) *slot = nullptr;
    // Rare shapes (and every error) go through the tuple/dict path, so the
    // messages are the usual ones. The values stay alive through `args`.
    PyRef tuple = PyRef::checked(PyTuple_New(nargs));
    for (Py_ssize_t i = 0; i < nargs; ++i) {
      Py_INCREF(args[i]);
      PyTuple_SetItem(tuple.get(), i, args[i]);
    }
    PyRef dict;
    if (kwnames != nullptr) {
      dict = PyRef::checked(PyDict_New());
      const Py_ssize_t nkw = PyTuple_Size(kwnames);
      for (Py_ssize_t i = 0; i < nkw; ++i) {
        if (PyDict_SetItem(dict.get(), PyTuple_GetItem(kwnames, i), args[nargs + i]) < 0) throw_error_set();
      }
    }
    parse_args(tuple.get(), dict.get(), format_, keywords_, out...);
  }

 private:
  bool fast_parse_vector(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                         const std::array<PyObject**, kCount>& slots) {
    if (nargs < 0 || static_cast<std::size_t>(nargs) > max_positional_) return false;
    for (Py_ssize_t i = 0; i < nargs; ++i) *slots[static_cast<std::size_t>(i)] = args[i];
    if (kwnames != nullptr) {
      const Py_ssize_t nkw = PyTuple_Size(kwnames);
      for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GetItem(kwnames, k);
        std::size_t index = static_cast<std::size_t>(nargs);
        while (index < kCount && key != name(index)) ++index;
        if (index == kCount || *slots[index] != nullptr) return false;
        *slots[index] = args[nargs + k];
      }
    }
    for (std::size_t i = 0; i < required_; ++i) {
      if (*slots[i] == nullptr) return false;
    }
    return true;
  }

  // Fills the slots and returns true, or returns false to leave the call to
  // parse_args (the slots may then hold partial results).
  bool fast_parse(PyObject* args, PyObject* kwargs, const std::array<PyObject**, kCount>& slots) {
    if (!PyTuple_Check(args)) return false;
    const Py_ssize_t nargs = PyTuple_Size(args);
    if (nargs < 0 || static_cast<std::size_t>(nargs) > max_positional_) return false;
    for (Py_ssize_t i = 0; i < nargs; ++i) *slots[static_cast<std::size_t>(i)] = PyTuple_GetItem(args, i);
    if (kwargs != nullptr) {
      if (!PyDict_Check(kwargs)) return false;
      Py_ssize_t pos = 0;
      PyObject *key = nullptr, *value = nullptr;
      while (PyDict_Next(kwargs, &pos, &key, &value)) {
        std::size_t index = static_cast<std::size_t>(nargs);
        while (index < kCount && key != name(index)) ++index;
        if (index == kCount) return false;  // unknown, given twice, or not interned
        *slots[index] = value;
      }
    }
    for (std::size_t i = 0; i < required_; ++i) {
      if (*slots[i] == nullptr) return false;
    }
    return true;
  }

  // The interned name of keyword `index` (borrowed).
  PyObject* name(std::size_t index) {
    if (PyObject* s = names_[index].get()) return s;
    return names_[index].offer(PyRef::checked(PyUnicode_InternFromString(keywords_[index])));
  }

  const char* format_;
  const char* const* keywords_;
  std::size_t required_ = 0;
  std::size_t max_positional_ = 0;
  std::array<ObjectCell, kCount> names_{};
};

}  // namespace quarlo::py
