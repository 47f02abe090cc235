// SEOPayload, OGPayload and TwitterPayload (their members, signatures and
// docstrings: interface/description.py).
//
// SEOPayload is a read-only mapping over the payload's dict form, with
// equality against another payload (record equality) or a dict (dict
// comparison), and no hash. The dict form has its keys in byte-wise order at
// every depth: the payload's fields with the extra keys merged among them,
// "og" and "twitter" as dicts of their present fields. It is built straight
// from the record by walking the records' field tables, key strings interned
// once per process; item access builds only the value asked for, and
// keys/len/iteration never build values at all. Nothing is cached: every call
// returns new objects. The properties of the three classes are the fields of
// their records too.
#include "python/py_payload.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/text_cursor.hpp"
#include "core/payload/digest.hpp"
#include "core/payload/html.hpp"
#include "python/interface/tables.hpp"
#include "python/runtime/args.hpp"
#include "python/runtime/cell.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/interface.hpp"
#include "python/runtime/module.hpp"
#include "python/runtime/record_fields.hpp"
#include "python/runtime/record_object.hpp"
#include "python/runtime/repr.hpp"

namespace quarlo::py {
namespace {

// ------------------------------------------------------------- dict form

void set_item(PyObject* dict, PyObject* key, const PyRef& value) {
  if (PyDict_SetItem(dict, key, value.get()) < 0) throw_error_set();
}

// A new dict holding the record's present keys (those `present(field)`
// accepts) in byte-wise order, each under None, to be filled by
// PyDict_SetItem: copied from a kept dict of the same keys, so that it
// comes at its full size instead of growing as keys are added one by one.
// A few key sets per record type are kept (a record's optional fields are
// seldom present in many combinations); another set replaces one of them.
template <HasFields Record, class Present>
PyRef dict_with_keys(Present&& present) {
  static_assert(field_count<Record> <= 64, "one bit per field");
  std::uint64_t mask = 0;
  std::size_t index = 0;
  for_each_field_in_key_order<Record>([&](auto f) {
    if (present(f)) mask |= std::uint64_t{1} << index;
    ++index;
  });
  struct Kept {
    std::uint64_t mask = 0;
    PyObject* dict = nullptr;  // strong reference, never released
  };
  static constinit std::array<Kept, 4> kept{};
  static constinit std::size_t next = 0;
  for (const Kept& k : kept) {
    if (k.dict != nullptr && k.mask == mask) return PyRef::checked(PyDict_Copy(k.dict));
  }
  PyRef made = PyRef::checked(PyDict_New());
  index = 0;
  for_each_field_in_key_order<Record>([&](auto f) {
    if (mask & (std::uint64_t{1} << index++)) set_item(made.get(), field_key<decltype(f)>.get(), PyRef::borrow(Py_None));
  });
  Kept& slot = kept[next++ % kept.size()];
  Py_XDECREF(std::exchange(slot.dict, Py_NewRef(made.get())));
  slot.mask = mask;
  return PyRef::checked(PyDict_Copy(made.get()));
}

// The dict form's values: "og" and "twitter" as dicts of their present
// fields in byte-wise key order, the schema document converted (a document
// too deep to convert raises).
struct DictFormReader : FieldReader {
  using FieldReader::read;
  static PyRef read(const OGPayload& og) { return fields_to_pydict<KeyOrder::Sorted>(og); }
  static PyRef read(const TwitterPayload& twitter) { return fields_to_pydict<KeyOrder::Sorted>(twitter); }
  static PyRef read(const JsonDoc& document) { return json_doc_to_pyobject_depth(document, 0); }
};

// The value of payload field `f` in the dict form; null when it is absent.
template <class F>
PyRef field_value(F f, const SEOPayload& p) {
  return read_field<DictFormReader>(f, p);
}

// Calls on_field(field) and on_extra(key, value) in the byte-wise order of
// the dict form's keys: the fields present merged with the extra entries.
// An extra entry under a field name never shows (the field keeps its key).
template <class OnField, class OnExtra>
void for_each_key(const SEOPayload& p, OnField&& on_field, OnExtra&& on_extra) {
  auto extra = p.extra.begin();
  for_each_field_in_key_order<SEOPayload>([&](auto f) {
    const std::string_view name = decltype(f)::name;
    for (; extra != p.extra.end() && std::string_view(extra->first) <= name; ++extra) {
      if (extra->first != name) on_extra(extra->first, extra->second);
    }
    if (has_value(f, p)) on_field(f);
  });
  for (; extra != p.extra.end(); ++extra) on_extra(extra->first, extra->second);
}

std::size_t key_count(const SEOPayload& p) {
  std::size_t count = 0;
  for_each_field<SEOPayload>([&](auto f) {
    if (has_value(f, p)) ++count;
  });
  for (const auto& entry : p.extra) {
    if (!is_field_name<SEOPayload>(entry.first)) ++count;
  }
  return count;
}

PyRef key_list(const SEOPayload& p) {
  PyRef list = PyRef::checked(PyList_New(static_cast<Py_ssize_t>(key_count(p))));
  Py_ssize_t i = 0;
  for_each_key(
      p,
      [&](auto f) {
        PyObject* key = field_key<decltype(f)>.get();
        Py_INCREF(key);
        PyList_SetItem(list.get(), i++, key);  // steals
      },
      [&](const std::string& key, const Json&) { PyList_SetItem(list.get(), i++, new_str(key).release()); });
  return list;
}

// The whole dict form, made with one maker (a long text repeated across the
// fields and the schema document is one str) and, given a record, noting
// each object in it as it is made.
class DictFormMaker {
 public:
  explicit DictFormMaker(PlainValueRecord* record) noexcept : maker_(record), record_(record) {}

  PyRef payload(const SEOPayload& p) {
    PyRef dict = p.extra.empty() ? dict_with_keys<SEOPayload>([&](auto f) { return has_value(f, p); })
                                 : PyRef::checked(PyDict_New());
    const std::size_t slot = open(dict.get());
    Py_ssize_t members = 0;
    for_each_key(
        p,
        [&](auto f) {
          PyObject* key = field_key<decltype(f)>.get();
          if (record_ != nullptr) record_->leaf(key);
          const auto& value = f.of(p);
          if constexpr (decltype(f)::is_optional) {
            set_item(dict.get(), key, make(*value));
          } else {
            set_item(dict.get(), key, make(value));
          }
          ++members;
        },
        [&](const std::string& key, const Json& value) {
          PyRef key_obj = new_str(key);
          if (record_ != nullptr) record_->leaf(key_obj.get());
          PyRef item = json_to_pyobject_depth(value, 0);
          if (record_ != nullptr) record_->value(item.get());
          set_item(dict.get(), key_obj.get(), item);
          ++members;
        });
    close(slot, members);
    return dict;
  }

 private:
  std::size_t open(PyObject* container) { return record_ != nullptr ? record_->open(container) : 0; }
  void close(std::size_t slot, Py_ssize_t length) noexcept {
    if (record_ != nullptr) record_->close(slot, length);
  }
  PyRef leaf(PyRef obj) {
    if (record_ != nullptr) record_->leaf(obj.get());
    return obj;
  }

  PyRef make(const std::string& text) { return leaf(maker_.str(text)); }
  PyRef make(const std::vector<std::string>& texts) {
    PyRef list = PyRef::checked(PyList_New(static_cast<Py_ssize_t>(texts.size())));
    const std::size_t slot = open(list.get());
    Py_ssize_t i = 0;
    for (const std::string& text : texts) PyList_SetItem(list.get(), i++, make(text).release());  // steals
    close(slot, i);
    return list;
  }
  PyRef make(const JsonDoc& document) { return json_doc_to_pyobject_depth(document, 0, maker_); }
  PyRef make(const OGPayload& og) { return fields(og); }
  PyRef make(const TwitterPayload& twitter) { return fields(twitter); }
  template <class T>
  PyRef make(const T& value) {
    return leaf(DictFormReader::read(value));
  }

  // "og" and "twitter": their present fields in byte-wise key order (an
  // absent one the table writes as null is None).
  template <HasFields Record>
  PyRef fields(const Record& record) {
    PyRef dict = dict_with_keys<Record>([&](auto f) {
      if constexpr (decltype(f)::is_optional) {
        return f.of(record).has_value() || f.when_absent == WhenAbsent::Null;
      } else {
        return true;
      }
    });
    const std::size_t slot = open(dict.get());
    Py_ssize_t members = 0;
    for_each_field_in_key_order<Record>([&](auto f) {
      using F = decltype(f);
      PyObject* key = field_key<F>.get();
      const auto& value = f.of(record);
      if constexpr (F::is_optional) {
        if (!value && f.when_absent != WhenAbsent::Null) return;
        if (record_ != nullptr) record_->leaf(key);
        set_item(dict.get(), key, value ? make(*value) : leaf(PyRef::borrow(Py_None)));
      } else {
        if (record_ != nullptr) record_->leaf(key);
        set_item(dict.get(), key, make(value));
      }
      ++members;
    });
    close(slot, members);
    return dict;
  }

  PyValueMaker maker_;
  PlainValueRecord* record_;
};

// ----------------------------------------------------------- item lookup

// The UTF-8 text of a str key; nullopt for a lone surrogate, which cannot be
// a key of the dict form.
std::optional<std::string_view> key_text(PyObject* key) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(key, &size);
  if (data == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string_view(data, static_cast<std::size_t>(size));
}

// The value under `key` in the dict form, or null when the key is absent.
// `key` must be a str.
PyRef lookup(const SEOPayload& p, PyObject* key) {
  PyRef value;
  const auto read = [&](auto f) { value = field_value(f, p); };
  // Keys written in Python source are interned: the identity test settles
  // the common case without reading the text.
  if (visit_field_by_identity<SEOPayload>(key, read)) return value;
  const std::optional<std::string_view> text = key_text(key);
  if (!text) return PyRef();
  if (visit_field_named<SEOPayload>(*text, read)) return value;
  const auto entry = p.extra.find(*text);
  if (entry == p.extra.end()) return PyRef();
  return json_to_pyobject_depth(entry->second, 0);
}

// Item keys must be str; anything else is refused with the argument note.
PyObject* key_arg(PyObject* key) {
  if (!PyUnicode_Check(key)) raise_not_instance(key, "str", "key");
  return key;
}

const SEOPayload& payload_of(PyObject* self) noexcept { return record_of<SEOPayload>(self); }

// ---------------------------------------------------------------- OGPayload

namespace og_api = iface::OGPayload;

// The present fields in declaration order.
PyObject* og_to_dict(PyObject* self, PyObject*) noexcept {
  return guard([&] { return fields_to_pydict<KeyOrder::Declared>(record_of<OGPayload>(self)); });
}

auto og_getset = field_properties<OGPayload, og_api::kProperties>();

PyMethodDef og_methods[] = {
    method_def<og_api::to_dict>(og_to_dict),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot og_slots[] = {
    {Py_tp_dealloc, as_slot(record_dealloc<OGPayload>)},
    {Py_tp_getset, og_getset.data()},
    {Py_tp_methods, og_methods},
    {Py_tp_doc, const_cast<char*>(og_api::kDoc)},
    {Py_tp_repr, as_slot(properties_repr<og_api::kProperties>)},
    {0, nullptr},
};
PyType_Spec og_spec{og_api::kQualifiedName, sizeof(RecordObject<OGPayload>), 0, kNoConstructorTypeFlags,
                    og_slots};
TypeCell og_type{og_spec};

// ----------------------------------------------------------- TwitterPayload

namespace twitter_api = iface::TwitterPayload;

// The present fields in declaration order.
PyObject* twitter_to_dict(PyObject* self, PyObject*) noexcept {
  return guard([&] { return fields_to_pydict<KeyOrder::Declared>(record_of<TwitterPayload>(self)); });
}

auto twitter_getset = field_properties<TwitterPayload, twitter_api::kProperties>();

PyMethodDef twitter_methods[] = {
    method_def<twitter_api::to_dict>(twitter_to_dict),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot twitter_slots[] = {
    {Py_tp_dealloc, as_slot(record_dealloc<TwitterPayload>)},
    {Py_tp_getset, twitter_getset.data()},
    {Py_tp_methods, twitter_methods},
    {Py_tp_doc, const_cast<char*>(twitter_api::kDoc)},
    {Py_tp_repr, as_slot(properties_repr<twitter_api::kProperties>)},
    {0, nullptr},
};
PyType_Spec twitter_spec{twitter_api::kQualifiedName, sizeof(RecordObject<TwitterPayload>), 0,
                         kNoConstructorTypeFlags, twitter_slots};
TypeCell twitter_type{twitter_spec};

// --------------------------------------------------------------- SEOPayload

namespace payload_api = iface::SEOPayload;

// The properties: "og" and "twitter" as new OGPayload and TwitterPayload
// objects; the schema document converted, reading as None when it is too
// deep to convert (the property never raises).
struct PropertyReader : FieldReader {
  using FieldReader::read;
  static PyRef read(const OGPayload& og) { return new_record_object(og_type.get(), OGPayload(og)); }
  static PyRef read(const TwitterPayload& twitter) {
    return new_record_object(twitter_type.get(), TwitterPayload(twitter));
  }
  static PyRef read(const std::optional<JsonDoc>& document) {
    if (!document) return PyRef::borrow(Py_None);
    try {
      return json_doc_to_pyobject_depth(*document, 0);
    } catch (const PyErrorAlreadySet&) {
      PyErr_Clear();
      return PyRef::borrow(Py_None);
    }
  }
};

PyObject* payload_subscript(PyObject* self, PyObject* key) noexcept {
  return guard([&] {
    PyRef value = lookup(payload_of(self), key_arg(key));
    if (!value) {
      PyErr_SetObject(PyExc_KeyError, key);
      throw_error_set();
    }
    return value;
  });
}

PyObject* payload_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    payload_api::get a;
    a.parse(args, nargs, kwnames);
    PyRef value = lookup(payload_of(self), key_arg(a.key.object));
    if (!value) return PyRef::borrow(a.default_.object != nullptr ? a.default_.object : Py_None);
    return value;
  });
}

// Containment decides from the key alone; no value is built.
int payload_contains(PyObject* self, PyObject* key) noexcept {
  return guard([&]() -> int {
    const SEOPayload& p = payload_of(self);
    const std::optional<std::string_view> text = key_text(key_arg(key));
    if (!text) return 0;
    bool present = false;
    if (visit_field_named<SEOPayload>(*text, [&](auto f) { present = has_value(f, p); })) return present ? 1 : 0;
    return p.extra.find(*text) != p.extra.end() ? 1 : 0;
  });
}

Py_ssize_t payload_length(PyObject* self) noexcept {
  return guard([&] { return static_cast<Py_ssize_t>(key_count(payload_of(self))); });
}

PyObject* payload_iter(PyObject* self) noexcept {
  return guard([&] {
    PyRef keys = key_list(payload_of(self));
    return PyRef::checked(PyObject_GetIter(keys.get()));
  });
}

// payload == other: record equality with another payload, the ordinary
// dict comparison of the dict form with a dict, otherwise False.
PyRef equals(PyObject* self, PyObject* other) {
  if (Py_TYPE(other) == Py_TYPE(self)) {
    return PyRef::borrow(payload_of(self) == payload_of(other) ? Py_True : Py_False);
  }
  if (PyDict_Check(other)) {
    PyRef view = payload_to_pydict(payload_of(self));
    return PyRef::checked(PyObject_RichCompare(view.get(), other, Py_EQ));
  }
  return PyRef::borrow(Py_False);
}

PyObject* payload_richcompare(PyObject* self, PyObject* other, int op) noexcept {
  return guard([&] {
    if (op == Py_EQ) return equals(self, other);
    if (op == Py_NE) {
      PyRef eq = equals(self, other);
      const int truth = PyObject_IsTrue(eq.get());
      if (truth < 0) throw_error_set();
      return PyRef::borrow(truth ? Py_False : Py_True);
    }
    return PyRef::borrow(Py_NotImplemented);
  });
}

PyObject* payload_keys(PyObject* self, PyObject*) noexcept {
  return guard([&] { return key_list(payload_of(self)); });
}

PyObject* payload_to_dict_method(PyObject* self, PyObject*) noexcept {
  return guard([&] { return payload_to_pydict(payload_of(self)); });
}

PyObject* payload_to_json(PyObject* self, PyObject*) noexcept {
  return guard([&] { return new_str(payload_of(self).to_json_pretty()); });
}

PyObject* payload_hash(PyObject* self, PyObject*) noexcept {
  return guard([&] { return new_str(hash_payload(payload_of(self))); });
}

PyObject* payload_etag(PyObject* self, PyObject*) noexcept {
  return guard([&] { return new_str(etag_payload(payload_of(self))); });
}

PyObject* payload_render_html(PyObject* self, PyObject*) noexcept {
  return guard([&] {
    const SEOPayload& payload = payload_of(self);
    return with_kept_buffer([&](std::string& buffer) { return new_str(render_html_into(payload, buffer)); });
  });
}

PyObject* payload_render_opengraph(PyObject* self, PyObject*) noexcept {
  return guard([&] { return new_str(payload_of(self).render_opengraph()); });
}

PyObject* payload_render_twitter(PyObject* self, PyObject*) noexcept {
  return guard([&] { return new_str(payload_of(self).render_twitter()); });
}

PyObject* payload_render_jsonld(PyObject* self, PyObject*) noexcept {
  return guard([&] { return new_str(payload_of(self).render_jsonld()); });
}

auto payload_getset = field_properties<SEOPayload, payload_api::kProperties, PropertyReader>();

PyMethodDef payload_methods[] = {
    method_def<payload_api::get>(payload_get),
    method_def<payload_api::keys>(payload_keys),
    method_def<payload_api::to_dict>(payload_to_dict_method),
    method_def<payload_api::to_json>(payload_to_json),
    method_def<payload_api::hash>(payload_hash),
    method_def<payload_api::etag>(payload_etag),
    method_def<payload_api::render_html>(payload_render_html),
    method_def<payload_api::render_opengraph>(payload_render_opengraph),
    method_def<payload_api::render_twitter>(payload_render_twitter),
    method_def<payload_api::render_jsonld>(payload_render_jsonld),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot payload_slots[] = {
    {Py_tp_dealloc, as_slot(record_dealloc<SEOPayload>)},
    {Py_tp_getset, payload_getset.data()},
    {Py_tp_methods, payload_methods},
    {Py_tp_richcompare, as_slot(payload_richcompare)},
    // Equality without a hash: the class's __hash__ is None.
    {Py_tp_hash, as_slot(PyObject_HashNotImplemented)},
    {Py_tp_iter, as_slot(payload_iter)},
    {Py_mp_subscript, as_slot(payload_subscript)},
    {Py_mp_length, as_slot(payload_length)},
    {Py_sq_contains, as_slot(payload_contains)},
    {Py_tp_doc, const_cast<char*>(payload_api::kDoc)},
    {Py_tp_repr, as_slot(properties_repr<payload_api::kProperties>)},
    {0, nullptr},
};
PyType_Spec payload_spec{payload_api::kQualifiedName, sizeof(RecordObject<SEOPayload>), 0,
                         kNoConstructorTypeFlags, payload_slots};
TypeCell payload_type{payload_spec};

}  // namespace

PyTypeObject* seo_payload_type() { return payload_type.get(); }
PyTypeObject* og_payload_type() { return og_type.get(); }
PyTypeObject* twitter_payload_type() { return twitter_type.get(); }

const quarlo::SEOPayload& unwrap_seo_payload(PyObject* obj) noexcept { return payload_of(obj); }

PyRef new_seo_payload(quarlo::SEOPayload&& payload) {
  return new_record_object(payload_type.get(), std::move(payload));
}

PyRef payload_to_pydict(const quarlo::SEOPayload& payload, PlainValueRecord* record) {
  return DictFormMaker(record).payload(payload);
}

}  // namespace quarlo::py
