// Python <-> JSON value conversion.
#include "python/runtime/convert.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <tuple>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "python/runtime/args.hpp"
#include "python/runtime/cell.hpp"
#include "python/runtime/short_str.hpp"

namespace quarlo::py {

namespace {

ObjectCell g_json_module;
InternedString g_dumps{"dumps"};

// The json module, imported once per process.
PyObject* json_module() {
  if (PyObject* json = g_json_module.get()) return json;
  return g_json_module.offer(PyRef::checked(PyImport_ImportModule("json")));
}

// json.dumps(obj) as a Json value, or the parser's error. `dumps` is read
// from the module on every call, so a replacement (a mock.patch, say) holds
// exactly while it is in place.
Result<Json> dump_and_parse(PyObject* obj, std::size_t wrapper_levels) {
  PyRef dumps = PyRef::checked(PyObject_GetAttr(json_module(), g_dumps.get()));
  PyRef text = PyRef::checked(PyObject_CallFunctionObjArgs(dumps.get(), obj, nullptr));
  if (!PyUnicode_Check(text.get())) {
    PyRef type = type_name_of(text.get());
    PyErr_Format(PyExc_TypeError, "json.dumps returned '%U', not 'str'", type.get());
    throw_error_set();
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (data == nullptr) throw_error_set();
  return parse_json(std::string_view(data, static_cast<std::size_t>(size)), wrapper_levels);
}

// The values that json.dumps writes and the parser reads back unchanged,
// converted without the JSON text: None, exact bool, exact int within 64
// bits, finite exact float, exact str (no lone surrogate), exact list and
// tuple, and exact dict with exact-str keys, nested at most `levels` deep
// (the parser's limit). Anything else returns false with no error set, and
// the caller takes the json.dumps road, which gives the same value or the
// documented error.
// No Python code runs here, so nothing can change under the walk.
bool convert_plain(PyObject* obj, std::size_t levels, Json& out) {
  if (obj == Py_None) {
    out = nullptr;
    return true;
  }
  if (obj == Py_True || obj == Py_False) {
    out = obj == Py_True;
    return true;
  }
  PyTypeObject* type = Py_TYPE(obj);
  if (type == &PyUnicode_Type) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
    if (data == nullptr) {
      PyErr_Clear();
      return false;
    }
    out = std::string(data, static_cast<std::size_t>(size));
    return true;
  }
  if (type == &PyLong_Type) {
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow == 0 && !(value == -1 && PyErr_Occurred())) {
      if (value >= 0) {
        out = static_cast<std::uint64_t>(value);
      } else {
        out = static_cast<std::int64_t>(value);
      }
      return true;
    }
    if (overflow > 0) {
      const unsigned long long value_u = PyLong_AsUnsignedLongLong(obj);
      if (!(value_u == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
        out = static_cast<std::uint64_t>(value_u);
        return true;
      }
    }
    PyErr_Clear();
    return false;  // beyond 64 bits: the text road turns it into a double or an error
  }
  if (type == &PyFloat_Type) {
    const double value = PyFloat_AsDouble(obj);
    if (!std::isfinite(value)) return false;
    out = value;
    return true;
  }
  const bool is_list = type == &PyList_Type;
  if (is_list || type == &PyTuple_Type) {
    if (levels == 0) return false;
    const Py_ssize_t size = is_list ? PyList_Size(obj) : PyTuple_Size(obj);
    out = Json::array();
    auto& array = *out.get_ptr<Json::array_t*>();
    array.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < size; ++i) {
      PyObject* item = is_list ? PyList_GetItem(obj, i) : PyTuple_GetItem(obj, i);  // borrowed
      if (!convert_plain(item, levels - 1, array.emplace_back())) return false;
    }
    return true;
  }
  if (type == &PyDict_Type) {
    if (levels == 0) return false;
    out = Json::object();
    auto& object = *out.get_ptr<Json::object_t*>();
    Py_ssize_t pos = 0;
    PyObject *key = nullptr, *value = nullptr;
    while (PyDict_Next(obj, &pos, &key, &value)) {
      if (Py_TYPE(key) != &PyUnicode_Type) return false;
      Py_ssize_t size = 0;
      const char* data = PyUnicode_AsUTF8AndSize(key, &size);
      if (data == nullptr) {
        PyErr_Clear();
        return false;
      }
      // Keys usually arrive in byte-wise order (dicts made from JSON values),
      // so the end is the right hint; the value is converted in place.
      const auto member = object.emplace_hint(object.end(), std::piecewise_construct,
                                              std::forward_as_tuple(data, static_cast<std::size_t>(size)),
                                              std::forward_as_tuple());
      if (!convert_plain(value, levels - 1, member->second)) return false;
    }
    return true;
  }
  return false;
}

PyRef to_python(const Json& value, unsigned depth);

// Fills `dict` with the members of object `value`, converted at `depth`, in
// byte-wise key order (the order of Json's std::map).
void fill_dict(PyObject* dict, const Json& value, unsigned depth) {
  for (const auto& [key, member] : *value.get_ptr<const Json::object_t*>()) {
    PyRef item = to_python(member, depth);
    if (PyDict_SetItem(dict, key_str(key).get(), item.get()) < 0) throw_error_set();
  }
}

PyRef to_python(const Json& value, unsigned depth) {
  if (depth > kMaxPythonJsonDepth) {
    PyErr_SetString(PyExc_ValueError, "JSON structure too deeply nested (max 128 levels)");
    throw_error_set();
  }
  using value_t = nlohmann::detail::value_t;
  switch (value.type()) {
    case value_t::null:
      return PyRef::borrow(Py_None);
    case value_t::boolean:
      return PyRef::borrow(*value.get_ptr<const Json::boolean_t*>() ? Py_True : Py_False);
    case value_t::number_unsigned: {
      const std::uint64_t u = *value.get_ptr<const Json::number_unsigned_t*>();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return PyRef::checked(PyFloat_FromDouble(static_cast<double>(u)));
      }
      return PyRef::checked(PyLong_FromUnsignedLongLong(u));
    }
    case value_t::number_integer:
      return PyRef::checked(PyLong_FromLongLong(*value.get_ptr<const Json::number_integer_t*>()));
    case value_t::number_float:
      return PyRef::checked(PyFloat_FromDouble(*value.get_ptr<const Json::number_float_t*>()));
    case value_t::string:
      return value_str(*value.get_ptr<const Json::string_t*>());
    case value_t::array: {
      const auto& array = *value.get_ptr<const Json::array_t*>();
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


// The offset of the first '"' or '\\' in `text` at or after `at`, or the
// text's size: sixteen bytes a step with SSE2, eight without (the lowest
// flagged byte of a word is always a true match), then byte by byte.
std::size_t find_quote_or_backslash(std::string_view text, std::size_t at) noexcept {
#if defined(__SSE2__)
  const __m128i quotes = _mm_set1_epi8('"');
  const __m128i backslashes = _mm_set1_epi8('\\');
  for (; at + 16 <= text.size(); at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
    const __m128i found = _mm_or_si128(_mm_cmpeq_epi8(bytes, quotes), _mm_cmpeq_epi8(bytes, backslashes));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(found));
    if (mask != 0) return at + static_cast<std::size_t>(std::countr_zero(mask));
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighs = 0x8080808080808080u;
    constexpr std::uint64_t kQuotes = kOnes * static_cast<unsigned char>('"');
    constexpr std::uint64_t kBackslashes = kOnes * static_cast<unsigned char>('\\');
    for (; at + 8 <= text.size(); at += 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, text.data() + at, sizeof word);
      const std::uint64_t quote_bytes = word ^ kQuotes;
      const std::uint64_t backslash_bytes = word ^ kBackslashes;
      const std::uint64_t found =
          (((quote_bytes - kOnes) & ~quote_bytes) | ((backslash_bytes - kOnes) & ~backslash_bytes)) & kHighs;
      if (found != 0) return at + static_cast<std::size_t>(std::countr_zero(found) / 8);
    }
  }
  while (at < text.size() && text[at] != '"' && text[at] != '\\') ++at;
  return at;
}

// Python objects straight from canonical compact text, in the text's order,
// which is the order the tree conversion visits (object keys byte-wise
// ascending, each member's value converted before its key). Past the end of
// a malformed text, values read as None. Strings come from the maker, and
// every object made goes to its record when it has one.
class CanonicalTextToPython {
 public:
  CanonicalTextToPython(std::string_view text, PyValueMaker& maker) noexcept
      : text_(text), maker_(maker), record_(maker.record()) {}

  PyRef value(unsigned depth) {
    if (depth > kMaxPythonJsonDepth) {
      PyErr_SetString(PyExc_ValueError, "JSON structure too deeply nested (max 128 levels)");
      throw_error_set();
    }
    switch (peek()) {
      case '{':
        return object(depth);
      case '[':
        return array(depth);
      case '"': {
        const Span span = string_span();
        return leaf(str(span));
      }
      case 't':
        at_ += 4;
        return leaf(PyRef::borrow(Py_True));
      case 'f':
        at_ += 5;
        return leaf(PyRef::borrow(Py_False));
      case 'n':
      case '\0':
        at_ += 4;
        return leaf(PyRef::borrow(Py_None));
      default:
        return leaf(number());
    }
  }

 private:
  // A string literal: [begin, end) is its content in the text; `escaped`
  // when it holds a backslash escape.
  struct Span {
    std::size_t begin;
    std::size_t end;
    bool escaped;
  };

  char peek() const noexcept { return at_ < text_.size() ? text_[at_] : '\0'; }

  PyRef leaf(PyRef obj) {
    if (record_ != nullptr) record_->leaf(obj.get());
    return obj;
  }

  Span string_span() noexcept {
    const std::size_t begin = at_ + 1;
    std::size_t i = begin;
    bool escaped = false;
    while ((i = find_quote_or_backslash(text_, i)) < text_.size() && text_[i] != '"') {
      escaped = true;
      i += 2;
    }
    const std::size_t end = std::min(i, text_.size());
    at_ = std::min(i + 1, text_.size());
    return {begin, end, escaped};
  }

  // Keys come from the table of short keys, values from the maker.
  PyRef str(const Span& span, bool is_key = false) {
    if (!span.escaped) {
      const std::string_view text = text_.substr(span.begin, span.end - span.begin);
      return is_key ? key_str(text) : maker_.str(text);
    }
    std::string decoded;
    read_json_doc_string(text_, span.begin - 1, decoded);
    return new_str(decoded);
  }

  PyRef object(unsigned depth) {
    PyRef dict = PyRef::checked(PyDict_New());
    const std::size_t length_slot = record_ != nullptr ? record_->open(dict.get()) : 0;
    Py_ssize_t members = 0;
    ++at_;
    if (peek() == '}') {
      ++at_;
    } else {
      while (at_ < text_.size()) {
        const Span key = string_span();
        ++at_;  // ':'
        const std::size_t key_slot = record_ != nullptr ? record_->reserve_key() : 0;
        PyRef item = value(depth + 1);
        PyRef key_obj = str(key, true);
        if (record_ != nullptr) record_->set_key(key_slot, key_obj.get());
        if (PyDict_SetItem(dict.get(), key_obj.get(), item.get()) < 0) throw_error_set();
        ++members;
        const char next = peek();
        ++at_;  // ',' or '}'
        if (next != ',') break;
      }
    }
    if (record_ != nullptr) record_->close(length_slot, members);
    return dict;
  }

  PyRef array(unsigned depth) {
    PyRef list = PyRef::checked(PyList_New(0));
    const std::size_t length_slot = record_ != nullptr ? record_->open(list.get()) : 0;
    Py_ssize_t items = 0;
    ++at_;
    if (peek() == ']') {
      ++at_;
    } else {
      while (at_ < text_.size()) {
        PyRef item = value(depth + 1);
        if (PyList_Append(list.get(), item.get()) < 0) throw_error_set();
        ++items;
        const char next = peek();
        ++at_;  // ',' or ']'
        if (next != ',') break;
      }
    }
    if (record_ != nullptr) record_->close(length_slot, items);
    return list;
  }

  // Integers as the parser reads them: non-negative ones unsigned (a float
  // above INT64_MAX, as for the tree), negative ones signed; a double
  // otherwise.
  PyRef number() {
    const std::size_t begin = at_;
    bool integral = true;
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '.' || c == 'e' || c == 'E') {
        integral = false;
      } else if (!((c >= '0' && c <= '9') || c == '-' || c == '+')) {
        break;
      }
      ++at_;
    }
    const char* const first = text_.data() + begin;
    const char* const last = text_.data() + at_;
    if (integral && first != last) {
      if (*first == '-') {
        std::int64_t i = 0;
        const auto r = std::from_chars(first, last, i);
        if (r.ec == std::errc{} && r.ptr == last) return PyRef::checked(PyLong_FromLongLong(i));
      } else {
        std::uint64_t u = 0;
        const auto r = std::from_chars(first, last, u);
        if (r.ec == std::errc{} && r.ptr == last) {
          if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return PyRef::checked(PyFloat_FromDouble(static_cast<double>(u)));
          }
          return PyRef::checked(PyLong_FromUnsignedLongLong(u));
        }
      }
    }
    double d = 0;
    if (std::from_chars(first, last, d).ec != std::errc{}) {
      if (first == last) ++at_;  // a byte canonical text does not hold
      return PyRef::borrow(Py_None);
    }
    return PyRef::checked(PyFloat_FromDouble(d));
  }

  std::string_view text_;
  PyValueMaker& maker_;
  PlainValueRecord* record_;
  std::size_t at_ = 0;
};

PyRef to_pydict(const Json& value) {
  PyRef dict = PyRef::checked(PyDict_New());
  if (value.is_object()) fill_dict(dict.get(), value, 0);
  return dict;
}

// py_to_json_value with the outermost `wrapper_levels` containers not
// counted against the nesting limit.
Json to_json_value(PyObject* obj, std::size_t wrapper_levels) {
  if (Json plain; convert_plain(obj, kMaxJsonNesting + wrapper_levels, plain)) return plain;
  Result<Json> parsed = dump_and_parse(obj, wrapper_levels);
  if (!parsed) {
    PyRef message = new_str(parsed.error().message());
    PyErr_SetObject(PyExc_ValueError, message.get());
    throw_error_set();
  }
  return std::move(parsed).value();
}

}  // namespace

Json py_to_json_value(PyObject* obj) { return to_json_value(obj, 0); }

Json py_wrapper_to_json_value(PyObject* obj) { return to_json_value(obj, 1); }

Json py_to_json_value_or_null(PyObject* obj) {
  if (Json plain; convert_plain(obj, kMaxJsonNesting, plain)) return plain;
  Result<Json> parsed = dump_and_parse(obj, 0);
  if (!parsed) return Json(nullptr);
  return std::move(parsed).value();
}

PyRef json_to_pyobject_depth(const Json& value, unsigned depth) { return to_python(value, depth); }
PyRef json_doc_to_pyobject_depth(const JsonDoc& document, unsigned depth) {
  PyValueMaker maker;
  return CanonicalTextToPython(document.text(), maker).value(depth);
}
PyRef json_doc_to_pyobject_depth(const JsonDoc& document, unsigned depth, PyValueMaker& maker) {
  return CanonicalTextToPython(document.text(), maker).value(depth);
}
PyRef json_to_pydict(const Json& value) { return to_pydict(value); }

// --------------------------------------------------------- PlainValueRecord

PlainValueRecord::~PlainValueRecord() {
  for (PyObject* obj : objects_) Py_XDECREF(obj);
}

std::size_t PlainValueRecord::open(PyObject* container) {
  if (!plain_) return kNoSlot;
  if (objects_.empty()) {
    objects_.reserve(256);
    sizes_.reserve(32);
  }
  note(container);
  sizes_.push_back(-1);
  return sizes_.size() - 1;
}

void PlainValueRecord::close(std::size_t slot, Py_ssize_t length) noexcept {
  if (plain_ && slot < sizes_.size()) sizes_[slot] = length;
}

std::size_t PlainValueRecord::reserve_key() {
  if (!plain_) return kNoSlot;
  objects_.push_back(nullptr);
  return objects_.size() - 1;
}

void PlainValueRecord::set_key(std::size_t slot, PyObject* key) noexcept {
  if (slot >= objects_.size()) return;
  Py_INCREF(key);
  objects_[slot] = key;
}

void PlainValueRecord::value(PyObject* obj) {
  if (plain_) plain_ = record(obj);
}

// Appends `obj` and, for a container, its length and contents; false at the
// first leaf that is not plain (the record is then of no use).
bool PlainValueRecord::record(PyObject* obj) {
  objects_.push_back(obj);
  Py_INCREF(obj);
  PyTypeObject* type = Py_TYPE(obj);
  if (type == &PyDict_Type) {
    sizes_.push_back(PyDict_Size(obj));
    Py_ssize_t pos = 0;
    PyObject *key = nullptr, *value = nullptr;
    while (PyDict_Next(obj, &pos, &key, &value)) {
      objects_.push_back(key);
      Py_INCREF(key);
      if (!record(value)) return false;
    }
    return true;
  }
  if (type == &PyList_Type) {
    const Py_ssize_t size = PyList_Size(obj);
    sizes_.push_back(size);
    for (Py_ssize_t i = 0; i < size; ++i) {
      if (!record(PyList_GetItem(obj, i))) return false;  // borrowed
    }
    return true;
  }
  return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyBool_Type;
}

// Whether container `obj`, found at its recorded place, still has the
// recorded length and contents; advances both cursors past it. Only
// containers found at their recorded place are entered, so the walk follows
// the recorded tree whatever was done to the value.
bool PlainValueRecord::same_contents(PyObject* obj, std::size_t& object, std::size_t& size) const noexcept {
  if (size >= sizes_.size()) return false;
  const std::size_t count = objects_.size();
  const auto is_container = [](PyObject* item) noexcept {
    PyTypeObject* type = Py_TYPE(item);
    return type == &PyDict_Type || type == &PyList_Type;
  };
  if (Py_TYPE(obj) == &PyDict_Type) {
    if (PyDict_Size(obj) != sizes_[size++]) return false;
    Py_ssize_t pos = 0;
    PyObject *key = nullptr, *value = nullptr;
    while (PyDict_Next(obj, &pos, &key, &value)) {
      if (count - object < 2 || objects_[object] != key || objects_[object + 1] != value) return false;
      object += 2;
      if (is_container(value) && !same_contents(value, object, size)) return false;
    }
    return true;
  }
  const Py_ssize_t length = PyList_Size(obj);
  if (length != sizes_[size++]) return false;
  for (Py_ssize_t i = 0; i < length; ++i) {
    PyObject* item = PyList_GetItem(obj, i);  // borrowed
    if (object >= count || objects_[object] != item) return false;
    ++object;
    if (is_container(item) && !same_contents(item, object, size)) return false;
  }
  return true;
}

bool PlainValueRecord::unchanged() const noexcept {
  // (A key slot still null, or a length never given, matches nothing.)
  if (!plain_ || objects_.empty()) return false;
  PyObject* root = objects_.front();
  if (Py_TYPE(root) != &PyDict_Type && Py_TYPE(root) != &PyList_Type) return objects_.size() == 1;
  std::size_t object = 1, size = 0;
  return same_contents(root, object, size) && object == objects_.size();
}

// ------------------------------------------------------------ PyValueMaker

PyValueMaker::~PyValueMaker() {
  for (std::size_t i = 0; i < count_; ++i) Py_DECREF(memo_[i].str);
}

// Texts alike in length and ends but not equal cost a comparison each: past
// a bound on the bytes so compared, the conversion makes every long text
// anew (a found text costs no more to compare than to make).
PyRef PyValueMaker::long_str(std::string_view text) {
  if (unequal_bytes_ > kMaxUnequalBytes) return new_str(text);
  std::uint64_t head = 0, tail = 0;
  std::memcpy(&head, text.data(), sizeof head);
  std::memcpy(&tail, text.data() + text.size() - sizeof tail, sizeof tail);
  for (std::size_t i = 0; i < count_; ++i) {
    const Entry& entry = memo_[i];
    if (entry.text.size() == text.size() && entry.head == head && entry.tail == tail) {
      if (std::memcmp(entry.text.data(), text.data(), text.size()) == 0) return PyRef::borrow(entry.str);
      unequal_bytes_ += text.size();
    }
  }
  PyRef made = new_str(text);
  if (count_ < kMemo) memo_[count_++] = Entry{text, head, tail, Py_NewRef(made.get())};
  return made;
}

}  // namespace quarlo::py
