// SEOPayload, OGPayload and TwitterPayload.
//
//   @final class SEOPayload:          # read-only mapping over the dict form
//       title: str; description: str; canonical: str; robots: str
//       og: OGPayload; twitter: TwitterPayload; schema_jsonld: Any | None
//       def __getitem__(key: str); def get(key: str, default=None)
//       def __contains__(key: str) -> bool; def __len__(); def __iter__()
//       def keys() -> list[str]; def to_dict() -> dict; def to_json() -> str
//       def hash() -> str; def etag() -> str; def render_*() -> str
//       __eq__ with SEOPayload (record equality) or dict (dict comparison)
//       __hash__ = None
//
// The dict form has its keys in byte-wise order at every depth: the seven
// field keys with the extra keys merged among them, "og" and "twitter" as
// dicts of their present fields. It is built straight from the record, key
// strings interned once per process; item access builds only the value asked
// for, and keys/len/iteration never build values at all. Nothing is cached:
// every call returns new objects.
#include "python/py_payload.hpp"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/payload/digest.hpp"
#include "python/runtime/args.hpp"
#include "python/runtime/cell.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/fast_args.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/module.hpp"
#include "python/runtime/record_object.hpp"

namespace quarlo::py {
namespace {

// ------------------------------------------------------------------- keys

// Top-level field keys, in byte-wise order (the order of the dict form).
enum class Field : unsigned char { Canonical, Description, Og, Robots, SchemaJsonld, Title, Twitter };
constexpr std::size_t kFieldCount = 7;
constexpr std::array<std::string_view, kFieldCount> kFieldNames{
    "canonical", "description", "og", "robots", "schema_jsonld", "title", "twitter"};

std::array<InternedString, kFieldCount> g_field_keys{
    InternedString{"canonical"}, InternedString{"description"}, InternedString{"og"},
    InternedString{"robots"},    InternedString{"schema_jsonld"}, InternedString{"title"},
    InternedString{"twitter"}};

PyObject* field_key(Field field) { return g_field_keys[static_cast<std::size_t>(field)].get(); }

// Keys of the social records.
InternedString g_type{"type"};
InternedString g_title{"title"};
InternedString g_description{"description"};
InternedString g_url{"url"};
InternedString g_image{"image"};
InternedString g_image_width{"image_width"};
InternedString g_image_height{"image_height"};
InternedString g_image_alt{"image_alt"};
InternedString g_site_name{"site_name"};
InternedString g_locale{"locale"};
InternedString g_locale_alternate{"locale_alternate"};
InternedString g_audio{"audio"};
InternedString g_video{"video"};
InternedString g_card{"card"};
InternedString g_site{"site"};
InternedString g_creator{"creator"};

// The field a key names, if any.
constexpr std::optional<Field> field_of(std::string_view key) noexcept {
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    if (kFieldNames[i] == key) return static_cast<Field>(i);
  }
  return std::nullopt;
}

// ------------------------------------------------------------ dict helpers

void set_item(PyObject* dict, PyObject* key, const PyRef& value) {
  if (PyDict_SetItem(dict, key, value.get()) < 0) throw_error_set();
}

template <class T>
void set_present(PyObject* dict, InternedString& key, const std::optional<T>& value) {
  if (value) set_item(dict, key.get(), to_py(*value));
}

// "og" of the dict form: present keys in byte-wise order.
PyRef og_view(const OGPayload& og) {
  PyRef dict = PyRef::checked(PyDict_New());
  PyObject* d = dict.get();
  set_present(d, g_audio, og.audio);
  set_present(d, g_description, og.description);
  set_present(d, g_image, og.image);
  set_present(d, g_image_alt, og.image_alt);
  set_present(d, g_image_height, og.image_height);
  set_present(d, g_image_width, og.image_width);
  set_present(d, g_locale, og.locale);
  set_present(d, g_locale_alternate, og.locale_alternate);
  set_present(d, g_site_name, og.site_name);
  set_present(d, g_title, og.title);
  set_item(d, g_type.get(), to_py(og.type));
  set_present(d, g_url, og.url);
  set_present(d, g_video, og.video);
  return dict;
}

// "twitter" of the dict form: present keys in byte-wise order.
PyRef twitter_view(const TwitterPayload& tw) {
  PyRef dict = PyRef::checked(PyDict_New());
  PyObject* d = dict.get();
  set_item(d, g_card.get(), to_py(tw.card));
  set_present(d, g_creator, tw.creator);
  set_present(d, g_description, tw.description);
  set_present(d, g_image, tw.image);
  set_present(d, g_image_alt, tw.image_alt);
  set_present(d, g_site, tw.site);
  set_present(d, g_title, tw.title);
  return dict;
}

// OGPayload.to_dict: "type" first, then the present fields in declaration
// order.
PyRef og_declared(const OGPayload& og) {
  PyRef dict = PyRef::checked(PyDict_New());
  PyObject* d = dict.get();
  set_item(d, g_type.get(), to_py(og.type));
  set_present(d, g_title, og.title);
  set_present(d, g_description, og.description);
  set_present(d, g_url, og.url);
  set_present(d, g_image, og.image);
  set_present(d, g_image_width, og.image_width);
  set_present(d, g_image_height, og.image_height);
  set_present(d, g_image_alt, og.image_alt);
  set_present(d, g_site_name, og.site_name);
  set_present(d, g_locale, og.locale);
  set_present(d, g_locale_alternate, og.locale_alternate);
  set_present(d, g_audio, og.audio);
  set_present(d, g_video, og.video);
  return dict;
}

PyRef twitter_declared(const TwitterPayload& tw) {
  PyRef dict = PyRef::checked(PyDict_New());
  PyObject* d = dict.get();
  set_item(d, g_card.get(), to_py(tw.card));
  set_present(d, g_title, tw.title);
  set_present(d, g_description, tw.description);
  set_present(d, g_image, tw.image);
  set_present(d, g_image_alt, tw.image_alt);
  set_present(d, g_site, tw.site);
  set_present(d, g_creator, tw.creator);
  return dict;
}

// ------------------------------------------------------------- dict form

// The value of one field in the dict form; null for an absent schema.
PyRef field_value(const SEOPayload& p, Field field) {
  switch (field) {
    case Field::Canonical:
      return new_str(p.canonical);
    case Field::Description:
      return new_str(p.description);
    case Field::Og:
      return og_view(p.og);
    case Field::Robots:
      return new_str(p.robots);
    case Field::SchemaJsonld:
      return p.schema_jsonld ? json_to_pyobject_depth(*p.schema_jsonld, 0) : PyRef();
    case Field::Title:
      return new_str(p.title);
    case Field::Twitter:
      return twitter_view(p.twitter);
  }
  return PyRef();
}

// Calls on_field(Field) and on_extra(key, value) in the byte-wise order of
// the dict form's keys: the fields present merged with the extra entries.
// An extra entry under a field name never shows (the field keeps its key).
template <class OnField, class OnExtra>
void for_each_key(const SEOPayload& p, OnField&& on_field, OnExtra&& on_extra) {
  auto extra = p.extra.begin();
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    const std::string_view name = kFieldNames[i];
    for (; extra != p.extra.end() && std::string_view(extra->first) <= name; ++extra) {
      if (extra->first != name) on_extra(extra->first, extra->second);
    }
    const auto field = static_cast<Field>(i);
    if (field != Field::SchemaJsonld || p.schema_jsonld) on_field(field);
  }
  for (; extra != p.extra.end(); ++extra) on_extra(extra->first, extra->second);
}

std::size_t key_count(const SEOPayload& p) {
  std::size_t count = p.schema_jsonld ? kFieldCount : kFieldCount - 1;
  for (const auto& entry : p.extra) {
    if (!field_of(entry.first)) ++count;
  }
  return count;
}

PyRef key_list(const SEOPayload& p) {
  PyRef list = PyRef::checked(PyList_New(static_cast<Py_ssize_t>(key_count(p))));
  Py_ssize_t i = 0;
  for_each_key(
      p,
      [&](Field field) {
        PyObject* key = field_key(field);
        Py_INCREF(key);
        PyList_SetItem(list.get(), i++, key);  // steals
      },
      [&](const std::string& key, const Json&) { PyList_SetItem(list.get(), i++, new_str(key).release()); });
  return list;
}

// ----------------------------------------------------------- item lookup

// The value under `key` in the dict form, or null when the key is absent.
// `key` must be a str.
PyRef lookup(const SEOPayload& p, PyObject* key) {
  // Keys written in Python source are interned: the identity test settles
  // the common case without reading the text.
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    if (key == g_field_keys[i].get()) return field_value(p, static_cast<Field>(i));
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(key, &size);
  if (data == nullptr) {
    // A lone surrogate cannot be a key of the dict form.
    PyErr_Clear();
    return PyRef();
  }
  const std::string_view text(data, static_cast<std::size_t>(size));
  if (const auto field = field_of(text)) return field_value(p, *field);
  const auto entry = p.extra.find(text);
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

PyObject* og_to_dict(PyObject* self, PyObject*) noexcept {
  return guard([&] { return og_declared(record_of<OGPayload>(self)); });
}

PyGetSetDef og_getset[] = {
    {"type", get_field<&OGPayload::type>, nullptr,
     "Open Graph object type, for example ``\"article\"`` or ``\"website\"``.", nullptr},
    {"title", get_field<&OGPayload::title>, nullptr, "Open Graph title.", nullptr},
    {"description", get_field<&OGPayload::description>, nullptr, "Open Graph description.", nullptr},
    {"url", get_field<&OGPayload::url>, nullptr, "Open Graph canonical URL.", nullptr},
    {"image", get_field<&OGPayload::image>, nullptr, "Absolute URL of the Open Graph image.", nullptr},
    {"image_width", get_field<&OGPayload::image_width>, nullptr, "Open Graph image width in pixels.", nullptr},
    {"image_height", get_field<&OGPayload::image_height>, nullptr, "Open Graph image height in pixels.", nullptr},
    {"image_alt", get_field<&OGPayload::image_alt>, nullptr, "Open Graph image alternative text.", nullptr},
    {"site_name", get_field<&OGPayload::site_name>, nullptr, "Site name.", nullptr},
    {"locale", get_field<&OGPayload::locale>, nullptr, "Locale, for example ``\"en_US\"``.", nullptr},
    {"locale_alternate", get_field<&OGPayload::locale_alternate>, nullptr, "Alternate locales.", nullptr},
    {"audio", get_field<&OGPayload::audio>, nullptr, "Open Graph audio URL.", nullptr},
    {"video", get_field<&OGPayload::video>, nullptr, "Open Graph video URL.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef og_methods[] = {
    {"to_dict", as_pycfunction(og_to_dict), METH_NOARGS,
     "to_dict($self)\n--\n\nReturns the Open Graph metadata as a dictionary."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot og_slots[] = {
    {Py_tp_dealloc, as_slot(record_dealloc<OGPayload>)},
    {Py_tp_getset, og_getset},
    {Py_tp_methods, og_methods},
    {Py_tp_doc, const_cast<char*>("Open Graph metadata for a payload. Read-only.")},
    {0, nullptr},
};
PyType_Spec og_spec{"_quarlo_native.OGPayload", sizeof(RecordObject<OGPayload>), 0, kNoConstructorTypeFlags,
                    og_slots};
TypeCell og_type{og_spec};

// ----------------------------------------------------------- TwitterPayload

PyObject* twitter_to_dict(PyObject* self, PyObject*) noexcept {
  return guard([&] { return twitter_declared(record_of<TwitterPayload>(self)); });
}

PyGetSetDef twitter_getset[] = {
    {"card", get_field<&TwitterPayload::card>, nullptr,
     "Card type, for example ``\"summary_large_image\"``.", nullptr},
    {"title", get_field<&TwitterPayload::title>, nullptr, "Twitter title.", nullptr},
    {"description", get_field<&TwitterPayload::description>, nullptr, "Twitter description.", nullptr},
    {"image", get_field<&TwitterPayload::image>, nullptr, "Absolute URL of the Twitter image.", nullptr},
    {"image_alt", get_field<&TwitterPayload::image_alt>, nullptr, "Twitter image alternative text.", nullptr},
    {"site", get_field<&TwitterPayload::site>, nullptr, "Twitter ``@handle`` for the site.", nullptr},
    {"creator", get_field<&TwitterPayload::creator>, nullptr, "Twitter ``@handle`` of the content creator.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef twitter_methods[] = {
    {"to_dict", as_pycfunction(twitter_to_dict), METH_NOARGS,
     "to_dict($self)\n--\n\nReturns the Twitter Card metadata as a dictionary."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot twitter_slots[] = {
    {Py_tp_dealloc, as_slot(record_dealloc<TwitterPayload>)},
    {Py_tp_getset, twitter_getset},
    {Py_tp_methods, twitter_methods},
    {Py_tp_doc, const_cast<char*>("Twitter Card metadata for a payload. Read-only.")},
    {0, nullptr},
};
PyType_Spec twitter_spec{"_quarlo_native.TwitterPayload", sizeof(RecordObject<TwitterPayload>), 0,
                         kNoConstructorTypeFlags, twitter_slots};
TypeCell twitter_type{twitter_spec};

// --------------------------------------------------------------- SEOPayload

PyObject* payload_get_og(PyObject* self, void*) noexcept {
  return guard([&] { return new_record_object(og_type.get(), OGPayload(payload_of(self).og)); });
}

PyObject* payload_get_twitter(PyObject* self, void*) noexcept {
  return guard([&] { return new_record_object(twitter_type.get(), TwitterPayload(payload_of(self).twitter)); });
}

// A document too deep to convert reads as None; the property never raises.
PyObject* payload_get_schema(PyObject* self, void*) noexcept {
  return guard([&] {
    const SEOPayload& p = payload_of(self);
    if (!p.schema_jsonld) return PyRef::borrow(Py_None);
    try {
      return json_to_pyobject_depth(*p.schema_jsonld, 0);
    } catch (const PyErrorAlreadySet&) {
      PyErr_Clear();
      return PyRef::borrow(Py_None);
    }
  });
}

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

const char* const kGetKeywords[] = {"key", "default", nullptr};
ArgParser get_args{"O|O:get", kGetKeywords};

PyObject* payload_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    PyObject *key = nullptr, *fallback = nullptr;
    get_args.parse_fastcall(args, nargs, kwnames, &key, &fallback);
    PyRef value = lookup(payload_of(self), key_arg(key));
    if (!value) return PyRef::borrow(fallback != nullptr ? fallback : Py_None);
    return value;
  });
}

// Containment decides from the key alone; no value is built.
int payload_contains(PyObject* self, PyObject* key) noexcept {
  return guard([&]() -> int {
    const SEOPayload& p = payload_of(self);
    key_arg(key);
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(key, &size);
    if (data == nullptr) {
      PyErr_Clear();
      return 0;
    }
    const std::string_view text(data, static_cast<std::size_t>(size));
    if (const auto field = field_of(text)) return *field != Field::SchemaJsonld || p.schema_jsonld ? 1 : 0;
    return p.extra.find(text) != p.extra.end() ? 1 : 0;
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
  return guard([&] { return new_str(payload_of(self).render_html()); });
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

PyGetSetDef payload_getset[] = {
    {"title", get_field<&SEOPayload::title>, nullptr, "The resolved title.", nullptr},
    {"description", get_field<&SEOPayload::description>, nullptr, "The resolved description.", nullptr},
    {"canonical", get_field<&SEOPayload::canonical>, nullptr, "The normalized canonical URL.", nullptr},
    {"robots", get_field<&SEOPayload::robots>, nullptr, "The serialized robots directives.", nullptr},
    {"og", payload_get_og, nullptr, "The Open Graph metadata.", nullptr},
    {"twitter", payload_get_twitter, nullptr, "The Twitter Card metadata.", nullptr},
    {"schema_jsonld", payload_get_schema, nullptr, "The generated JSON-LD schema, as a dict or list.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef payload_methods[] = {
    {"get", as_pycfunction(payload_get), METH_FASTCALL | METH_KEYWORDS,
     "get($self, key, default=None)\n--\n\nReturns the value for ``key``, or ``default`` when absent."},
    {"keys", as_pycfunction(payload_keys), METH_NOARGS, "keys($self)\n--\n\nReturns the payload keys."},
    {"to_dict", as_pycfunction(payload_to_dict_method), METH_NOARGS,
     "to_dict($self)\n--\n\nReturns the payload as a dictionary."},
    {"to_json", as_pycfunction(payload_to_json), METH_NOARGS,
     "to_json($self)\n--\n\nReturns the payload as a pretty printed JSON string."},
    {"hash", as_pycfunction(payload_hash), METH_NOARGS,
     "hash($self)\n--\n\nReturns the SHA-256 hash of the payload."},
    {"etag", as_pycfunction(payload_etag), METH_NOARGS,
     "etag($self)\n--\n\nReturns the payload hash as a quoted HTTP ETag."},
    {"render_html", as_pycfunction(payload_render_html), METH_NOARGS,
     "render_html($self)\n--\n\n"
     "Renders the full head snippet: title, description, canonical, robots,\n"
     "Open Graph, Twitter Cards, and JSON-LD."},
    {"render_opengraph", as_pycfunction(payload_render_opengraph), METH_NOARGS,
     "render_opengraph($self)\n--\n\nRenders only the Open Graph meta tags."},
    {"render_twitter", as_pycfunction(payload_render_twitter), METH_NOARGS,
     "render_twitter($self)\n--\n\nRenders only the Twitter Card meta tags."},
    {"render_jsonld", as_pycfunction(payload_render_jsonld), METH_NOARGS,
     "render_jsonld($self)\n--\n\nRenders only the JSON-LD script tag."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot payload_slots[] = {
    {Py_tp_dealloc, as_slot(record_dealloc<SEOPayload>)},
    {Py_tp_getset, payload_getset},
    {Py_tp_methods, payload_methods},
    {Py_tp_richcompare, as_slot(payload_richcompare)},
    // Equality without a hash: the class's __hash__ is None.
    {Py_tp_hash, as_slot(PyObject_HashNotImplemented)},
    {Py_tp_iter, as_slot(payload_iter)},
    {Py_mp_subscript, as_slot(payload_subscript)},
    {Py_mp_length, as_slot(payload_length)},
    {Py_sq_contains, as_slot(payload_contains)},
    {Py_tp_doc, const_cast<char*>("The resolved, deterministic SEO payload.\n"
                                  "\n"
                                  "Dict-compatible: supports ``payload[\"title\"]``, ``payload.get(...)``,\n"
                                  "``len(payload)``, iteration, and equality against another payload or a\n"
                                  "plain dictionary.")},
    {0, nullptr},
};
PyType_Spec payload_spec{"_quarlo_native.SEOPayload", sizeof(RecordObject<SEOPayload>), 0,
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

PyRef payload_to_pydict(const quarlo::SEOPayload& payload) {
  PyRef dict = PyRef::checked(PyDict_New());
  PyObject* d = dict.get();
  for_each_key(
      payload, [&](Field field) { set_item(d, field_key(field), field_value(payload, field)); },
      [&](const std::string& key, const Json& value) {
        set_item(d, new_str(key).get(), json_to_pyobject_depth(value, 0));
      });
  return dict;
}

}  // namespace quarlo::py
