// Conversion between Python objects and the core's JSON values.
//
// Python -> JSON goes through the standard library's json.dumps (default
// options), whose text the core parser reads back: so exactly what
// json.dumps accepts converts, dict keys become strings the way json.dumps
// writes them, and object members end up in byte-wise key order. Plain
// values (exact dict with str keys, list, tuple, str, int within 64 bits,
// finite float, bool, None) are converted directly to the same result,
// without the text.
//
// JSON -> Python builds new objects (short strings aside, which are shared:
// short_str.hpp; and, converting canonical text, a long text met again in
// the same conversion, which gives the str made the first time):
// null/bool/int/float/str, arrays as lists, objects as dicts in byte-wise
// key order. Unsigned integers above INT64_MAX come back as float. Nesting
// below depth 128 fails.
//
// All functions run with the interpreter lock held and throw
// PyErrorAlreadySet on failure.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/base/json.hpp"
#include "core/base/json_doc.hpp"
#include "python/runtime/pyref.hpp"
#include "python/runtime/short_str.hpp"

namespace quarlo::py {

// Deepest level json_to_pyobject_depth converts (a value converted whole is
// at depth 0).
inline constexpr unsigned kMaxPythonJsonDepth = 128;

// json.dumps(obj) parsed into a Json value. Errors of json.dumps (TypeError
// for a set, for example) propagate unchanged; text the parser refuses
// (NaN or infinities, a lone surrogate, nesting beyond 127 levels) raises
// ValueError with the parser's message, line and column included.
Json py_to_json_value(PyObject* obj);
// As py_to_json_value for a value whose outermost container only wraps
// documents of their own (the payload dict a hook returns): that level is
// not counted, so each member may nest as deep as a document converted
// alone, and one nested deeper fails with the same ValueError.
Json py_wrapper_to_json_value(PyObject* obj);
// As py_to_json_value, except that text the parser refuses gives null.
Json py_to_json_value_or_null(PyObject* obj);

// A new Python object for `value` found at nesting `depth`; deeper than
// kMaxPythonJsonDepth raises ValueError "JSON structure too deeply nested
// (max 128 levels)" (checked before anything else).
PyRef json_to_pyobject_depth(const Json& value, unsigned depth);

class PyValueMaker;

// The same for a document held as canonical text: the objects
// json_to_pyobject_depth(document.value(), depth) gives, made straight from
// the text without the tree (failing the same way, at the same point).
PyRef json_doc_to_pyobject_depth(const JsonDoc& document, unsigned depth);
// The same, its strings made and its objects recorded by `maker`.
PyRef json_doc_to_pyobject_depth(const JsonDoc& document, unsigned depth, PyValueMaker& maker);

// A new dict of the members of `value`, each converted from depth 0; a value
// that is not an object gives an empty dict.
PyRef json_to_pydict(const Json& value);

// A record of a value the binding has just made from JSON, to tell later
// whether Python code changed it since. The value must be plain: exact
// dicts and lists whose leaves are exact str, exact int and bool. The record
// keeps every container's length and its key and item objects in order,
// and holds a reference to every object of the value, so that none can be
// freed and its address taken by another object meanwhile. A value with any
// other leaf (None, a float, ...) is never reported unchanged: its JSON form
// may differ from the JSON it was made from (null members, large integers).
//
// The record is taken while the value is made: it is given each object as
// it is made, in the order a walk of the finished value visits them (a
// container before its contents, a dict's key before its value, members in
// insertion order), and a container's length once it is complete.
class PlainValueRecord {
 public:
  PlainValueRecord() noexcept = default;
  PlainValueRecord(const PlainValueRecord&) = delete;
  PlainValueRecord& operator=(const PlainValueRecord&) = delete;
  ~PlainValueRecord();

  // Whether the value is plain and every container of it still has the
  // objects it had when recorded, in the same order. Runs no Python code.
  [[nodiscard]] bool unchanged() const noexcept;

  // Recording while the value is made. Once a leaf that is not plain shows,
  // the rest is not recorded (the record can no longer tell "unchanged").
  //
  // A new dict or list; the slot its length is given to by close().
  std::size_t open(PyObject* container);
  void close(std::size_t slot, Py_ssize_t length) noexcept;
  // The place of a dict key made after its value, and the key itself.
  std::size_t reserve_key();
  void set_key(std::size_t slot, PyObject* key) noexcept;
  // A str, int, bool, None or float (the last two make the value not plain).
  void leaf(PyObject* obj) {
    if (!plain_) return;
    PyTypeObject* type = Py_TYPE(obj);
    if (type != &PyUnicode_Type && type != &PyLong_Type && type != &PyBool_Type) {
      plain_ = false;
      return;
    }
    note(obj);
  }
  // A whole value made elsewhere (of any kind), walked now.
  void value(PyObject* obj);

 private:
  static constexpr std::size_t kNoSlot = static_cast<std::size_t>(-1);

  void note(PyObject* obj) {
    objects_.push_back(obj);
    Py_INCREF(obj);
  }
  bool record(PyObject* obj);
  bool same_contents(PyObject* obj, std::size_t& object, std::size_t& size) const noexcept;

  std::vector<PyObject*> objects_;  // strong references (or null), in walk order
  std::vector<Py_ssize_t> sizes_;   // container lengths, in walk order
  bool plain_ = true;
};

// Makes the values of one conversion to Python: strings up to 24 bytes come
// from the shared tables (short_str.hpp), and a longer text met again within
// the same conversion (a description or a URL repeated in several places)
// gives the str made the first time. Given a record, it notes there every
// object made (the conversions that take a maker call it).
class PyValueMaker {
 public:
  explicit PyValueMaker(PlainValueRecord* record = nullptr) noexcept : record_(record) {}
  PyValueMaker(const PyValueMaker&) = delete;
  PyValueMaker& operator=(const PyValueMaker&) = delete;
  ~PyValueMaker();

  // A str of `text`, which must stay readable for the maker's lifetime.
  PyRef str(std::string_view text) { return text.size() <= kMaxShortStr ? value_str(text) : long_str(text); }
  [[nodiscard]] PlainValueRecord* record() const noexcept { return record_; }

 private:
  PyRef long_str(std::string_view text);

  static constexpr std::size_t kMemo = 12;
  static constexpr std::size_t kMaxUnequalBytes = std::size_t{1} << 16;
  struct Entry {
    std::string_view text;
    std::uint64_t head, tail;  // its first and last eight bytes
    PyObject* str;             // strong reference
  };

  PlainValueRecord* record_;
  std::array<Entry, kMemo> memo_{};
  std::size_t count_ = 0;
  std::size_t unequal_bytes_ = 0;
};

}  // namespace quarlo::py
