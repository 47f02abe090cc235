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
// The module's own callables do not write any of that: each has a generated
// argument record (python/interface/tables.hpp) with its keyword list, format
// and a fast parser (fast_args.hpp), and one Arg member per parameter, which
// the converters take as it is:
//
//   iface::SEOImage::New a;
//   a.parse(args, kwargs);
//   image.url = str_arg(a.url);
//   image.width = optional_u32_arg(a.width);
//
// A failed conversion propagates the conversion's own exception with the
// note "while processing '<name>'" added (where the interpreter supports
// exception notes) and throws PyErrorAlreadySet. Only the failure paths look
// anything up by name; the success paths do no imports and build no strings.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "python/runtime/pyref.hpp"

namespace quarlo::py {

namespace detail {
// The shape check behind parse_args; `out` holds `count` output pointers.
void parse_call(PyObject* args, PyObject* kwargs, const char* format, const char* const* keywords,
                PyObject** const* out, std::size_t count);
}  // namespace detail

// Checks the shape of a call and hands out its values. `format` uses only
// "O" for values, "|" before the optional ones, "$" before the keyword-only
// ones (so "|$" when all are keyword-only) and ends with ":name", the name
// the messages give the callable. `keywords` lists every name in order,
// ending in nullptr. A call of the wrong shape raises TypeError worded as
// the running interpreter words it for a Python function of that name and
// signature ("f() got an unexpected keyword argument 'x'", "f() got multiple
// values for argument 'a'", "f() takes 2 positional arguments but 3 were
// given", "f() missing 1 required positional argument: 'a'"; from 3.13 an
// unknown keyword close to a parameter name adds "Did you mean 'y'?").
// Outputs of arguments not given are left untouched: initialise them to null.
template <class... Out>
void parse_args(PyObject* args, PyObject* kwargs, const char* format,
                const char* const* keywords, Out**... out) {
  static_assert((std::is_same_v<Out, PyObject> && ...), "parse_args outputs are PyObject*");
  const std::array<PyObject**, sizeof...(Out)> outputs{out...};
  detail::parse_call(args, kwargs, format, keywords, outputs.data(), outputs.size());
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

// A sequence argument: a list, a tuple or any other sequence, read item by
// item through the sequence protocol. A str, bytes or bytearray is refused
// ("a str is not accepted as a sequence of <what>"), and so is anything that
// is not a sequence. The length the object reports bounds the loop but never
// sizes storage: a lying __len__ cannot make the module reserve memory, and
// storage grows as items arrive. An allocation that fails on the way is a
// MemoryError with the argument note; an error from the object itself (its
// __len__, its __getitem__) propagates with the note.
class SequenceArg {
 public:
  SequenceArg(PyObject* obj, const char* name, const char* what);

  // Capacity worth reserving: the length of a list or tuple (its items
  // exist already), at most a small fixed number for any other sequence.
  [[nodiscard]] std::size_t reserve_hint() const noexcept;

  // Calls each(item) with every item (borrowed, valid during the call), in
  // order.
  template <class F>
  void for_each(F&& each) const {
    for (Py_ssize_t i = 0; i < length_; ++i) {
      PyRef item = PyRef::steal(PySequence_GetItem(obj_, i));
      if (!item) fail_argument(name_);
      each(item.get());
    }
  }

  // `body` (which fills storage from this sequence) with std::bad_alloc
  // turned into MemoryError with the argument note.
  template <class F>
  void guard_memory(F&& body) const {
    try {
      body();
    } catch (const std::bad_alloc&) {
      fail_memory();
    }
  }

 private:
  [[noreturn]] void fail_memory() const;

  PyObject* obj_;
  const char* name_;
  Py_ssize_t length_ = 0;
};

// The items of a sequence argument, each converted by convert(item) -> T.
template <class T, class Convert>
std::vector<T> sequence_arg(PyObject* obj, const char* name, const char* what, Convert&& convert) {
  const SequenceArg sequence(obj, name, what);
  std::vector<T> out;
  sequence.guard_memory([&] {
    out.reserve(sequence.reserve_hint());
    sequence.for_each([&](PyObject* item) { out.push_back(convert(item)); });
  });
  return out;
}

// The two items (borrowed) of a 2-tuple found in a sequence argument;
// anything else is refused with the argument note.
std::pair<PyObject*, PyObject*> pair_item(PyObject* item, const char* name);

// A sequence of str.
std::vector<std::string> str_sequence_arg(PyObject* obj, const char* name);
// None or not given -> nullopt; otherwise as str_sequence_arg.
std::optional<std::vector<std::string>> optional_str_sequence_arg(PyObject* obj, const char* name);

// An instance of exactly `type` (the module's classes are final); returns
// `obj`. Anything else, None included, is refused.
PyObject* instance_arg(PyObject* obj, PyTypeObject* type, const char* name);
// None or not given -> null; otherwise as instance_arg.
PyObject* optional_instance_arg(PyObject* obj, PyTypeObject* type, const char* name);

inline bool is_none_or_missing(PyObject* obj) noexcept { return obj == nullptr || obj == Py_None; }

// ------------------------------------------------- generated argument records

// One parameter of a call: its name (for the argument note) and the object
// given (borrowed), null when it was not given.
struct Arg {
  constexpr explicit Arg(const char* parameter) noexcept : name(parameter) {}
  const char* name;
  PyObject* object = nullptr;
};
// A parameter whose default is True or False.
struct BoolArg : Arg {
  constexpr BoolArg(const char* parameter, bool default_value) noexcept : Arg(parameter), fallback(default_value) {}
  bool fallback;
};
// A parameter whose default is a str.
struct StrArg : Arg {
  constexpr StrArg(const char* parameter, std::string_view default_value) noexcept
      : Arg(parameter), fallback(default_value) {}
  std::string_view fallback;
};

// The converters above for a parameter of a record; a BoolArg or StrArg not
// given reads as its default.
inline bool is_none_or_missing(const Arg& arg) noexcept { return is_none_or_missing(arg.object); }
inline std::string str_arg(const Arg& arg) { return str_arg(arg.object, arg.name); }
inline std::string str_arg(const StrArg& arg) {
  return arg.object == nullptr ? std::string(arg.fallback) : str_arg(arg.object, arg.name);
}
inline std::string_view str_view_arg(const Arg& arg) { return str_view_arg(arg.object, arg.name); }
inline std::optional<std::string> optional_str_arg(const Arg& arg) { return optional_str_arg(arg.object, arg.name); }
inline bool bool_arg(const BoolArg& arg) { return bool_arg(arg.object, arg.name, arg.fallback); }
inline bool flag_arg(const BoolArg& arg) { return flag_arg(arg.object, arg.name, arg.fallback); }
inline std::optional<std::uint32_t> optional_u32_arg(const Arg& arg) { return optional_u32_arg(arg.object, arg.name); }
inline std::optional<std::int32_t> optional_i32_arg(const Arg& arg) { return optional_i32_arg(arg.object, arg.name); }
inline std::optional<std::vector<std::string>> optional_str_sequence_arg(const Arg& arg) {
  return optional_str_sequence_arg(arg.object, arg.name);
}
inline PyObject* instance_arg(const Arg& arg, PyTypeObject* type) { return instance_arg(arg.object, type, arg.name); }
inline PyObject* optional_instance_arg(const Arg& arg, PyTypeObject* type) {
  return optional_instance_arg(arg.object, type, arg.name);
}

}  // namespace quarlo::py
