// Readable reprs of the module's record classes.
#include "python/runtime/repr.hpp"

#include <string>
#include <string_view>

#include "python/runtime/args.hpp"
#include "python/runtime/pyref.hpp"

namespace quarlo::py {
namespace {

// The text of a str object as UTF-8 (lone surrogates escaped by repr()
// already, so this never fails for a repr).
std::string_view utf8_of(PyObject* text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) throw PyErrorAlreadySet();
  return {data, static_cast<std::size_t>(size)};
}

// Appends `text` cut to `limit` characters (code points), ending in "..."
// when cut.
void append_cut(std::string& out, std::string_view text, std::size_t limit) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // continuation byte
    if (chars == limit - 3) {
      out.append(text.substr(0, i));
      out.append("...");
      return;
    }
    ++chars;
  }
  out.append(text);
}

class ReprWriter {
 public:
  explicit ReprWriter(PyObject* self) {
    PyRef name = PyRef::checked(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "__name__"));
    out_.append(utf8_of(name.get()));
    out_.push_back('(');
  }

  void item(std::string_view name, PyObject* value) {
    if (value == Py_None) return;
    PyRef text = PyRef::checked(PyObject_Repr(value));
    if (!first_) out_.append(", ");
    first_ = false;
    out_.append(name);
    out_.push_back('=');
    append_cut(out_, utf8_of(text.get()), kReprValueLimit);
  }

  PyRef finish() {
    std::string whole;
    append_cut(whole, out_, kReprLimit - 1);
    whole.push_back(')');
    return new_str(whole);
  }

 private:
  std::string out_;
  bool first_ = true;
};

}  // namespace

PyObject* attributes_repr(PyObject* self, const Property* properties, std::size_t count) noexcept {
  return guard([&] {
    ReprWriter writer(self);
    for (std::size_t i = 0; i < count; ++i) {
      PyRef value = PyRef::checked(PyObject_GetAttrString(self, properties[i].name));
      writer.item(properties[i].name, value.get());
    }
    return writer.finish();
  });
}

PyObject* dict_repr(PyObject* self) noexcept {
  return guard([&] {
    ReprWriter writer(self);
    PyRef dict = PyRef::checked(PyObject_CallMethod(self, "to_dict", nullptr));
    PyObject *key = nullptr, *value = nullptr;
    Py_ssize_t position = 0;
    while (PyDict_Next(dict.get(), &position, &key, &value)) writer.item(utf8_of(key), value);
    return writer.finish();
  });
}

}  // namespace quarlo::py
