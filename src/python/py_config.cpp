// URLPolicy and SEOConfig.
#include "python/py_config.hpp"

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/url/url.hpp"
#include "python/runtime/args.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/fast_args.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/module.hpp"
#include "python/py_entity.hpp"
#include "python/runtime/record_object.hpp"

namespace quarlo::py {
namespace {

// --------------------------------------------------------------- URLPolicy

// The policy as given: the trailing-slash word is kept verbatim and only
// checked when the policy is converted for use.
struct PolicyRecord {
  bool enforce_https = true;
  bool lowercase_paths = false;
  std::string trailing_slash;
  bool collapse_duplicate_slashes = true;
  bool strip_tracking_params = true;
  std::vector<std::string> allowed_query_params;
  std::vector<std::string> extra_tracking_params;
};

std::vector<std::string> str_list_or_empty(PyObject* obj, const char* name) {
  if (is_none_or_missing(obj)) return {};
  return str_sequence_arg(obj, name);
}

const char* const kPolicyKeywords[] = {"enforce_https",         "lowercase_paths",
                                        "trailing_slash",        "collapse_duplicate_slashes",
                                        "strip_tracking_params", "allowed_query_params",
                                        "extra_tracking_params", nullptr};
ArgParser policy_args{"|$OOOOOOO:URLPolicy", kPolicyKeywords};

PyObject* policy_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    PyObject *enforce_https = nullptr, *lowercase_paths = nullptr, *trailing_slash = nullptr,
             *collapse = nullptr, *strip = nullptr, *allowed = nullptr, *extra = nullptr;
    policy_args.parse(args, kwargs, &enforce_https, &lowercase_paths,
               &trailing_slash, &collapse, &strip, &allowed, &extra);
    PolicyRecord policy;
    policy.enforce_https = bool_arg(enforce_https, "enforce_https", true);
    policy.lowercase_paths = bool_arg(lowercase_paths, "lowercase_paths", false);
    policy.trailing_slash = trailing_slash == nullptr ? std::string("never") : str_arg(trailing_slash, "trailing_slash");
    policy.collapse_duplicate_slashes = bool_arg(collapse, "collapse_duplicate_slashes", true);
    policy.strip_tracking_params = bool_arg(strip, "strip_tracking_params", true);
    policy.allowed_query_params = str_list_or_empty(allowed, "allowed_query_params");
    policy.extra_tracking_params = str_list_or_empty(extra, "extra_tracking_params");
    return new_record_object(type, std::move(policy));
  });
}

PyGetSetDef policy_getset[] = {
    {"enforce_https", get_field<&PolicyRecord::enforce_https>, nullptr,
     "Whether ``http`` is rewritten to ``https``.", nullptr},
    {"lowercase_paths", get_field<&PolicyRecord::lowercase_paths>, nullptr,
     "Whether path segments are lowercased. Off by default: path case is\n"
     "preserved because it can be significant.",
     nullptr},
    {"trailing_slash", get_field<&PolicyRecord::trailing_slash>, nullptr,
     "Trailing slash policy: ``\"always\"``, ``\"never\"``, or ``\"preserve\"``.", nullptr},
    {"collapse_duplicate_slashes", get_field<&PolicyRecord::collapse_duplicate_slashes>, nullptr,
     "Whether repeated slashes are collapsed.", nullptr},
    {"strip_tracking_params", get_field<&PolicyRecord::strip_tracking_params>, nullptr,
     "Whether tracking parameters such as ``utm_*`` are removed.", nullptr},
    {"allowed_query_params", get_field<&PolicyRecord::allowed_query_params>, nullptr,
     "Query parameters to keep when tracking parameters are stripped. A\n"
     "listed parameter is kept even when it matches a tracking pattern.",
     nullptr},
    {"extra_tracking_params", get_field<&PolicyRecord::extra_tracking_params>, nullptr,
     "Additional query parameter names to strip, on top of the built-in\ntracking list.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot policy_slots[] = {
    {Py_tp_new, as_slot(policy_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<PolicyRecord>)},
    {Py_tp_getset, policy_getset},
    {Py_tp_doc,
     const_cast<char*>("URLPolicy(*, enforce_https=True, lowercase_paths=False, trailing_slash=\"never\", "
                       "collapse_duplicate_slashes=True, strip_tracking_params=True, "
                       "allowed_query_params=None, extra_tracking_params=None)\n--\n\n"
                       "Controls how canonical URLs are normalized.")},
    {0, nullptr},
};
PyType_Spec policy_spec{"_quarlo_native.URLPolicy", sizeof(RecordObject<PolicyRecord>), 0, kFinalTypeFlags,
                        policy_slots};
TypeCell policy_type{policy_spec};

// --------------------------------------------------------------- SEOConfig

// The core configuration, its public base URL parsed once for every route
// resolved under it, and the two registry objects (strong references, null
// when absent). Only the registries change after construction.
struct ConfigRecord {
  explicit ConfigRecord(quarlo::SEOConfig core)
      : config(std::move(core)), public_base(config.public_base_url) {}
  ConfigRecord(quarlo::SEOConfig core, quarlo::PublicBase base)
      : config(std::move(core)), public_base(std::move(base)) {}

  quarlo::SEOConfig config;
  quarlo::PublicBase public_base;
  PyObject* hooks = nullptr;
  PyObject* schema_registry = nullptr;
};

// None or a sequence (not a str) of (str, str) tuples; the last pair for a
// key wins.
std::optional<SchemaTypeMap> schema_type_map_arg(PyObject* obj, const char* name) {
  if (is_none_or_missing(obj)) return std::nullopt;
  const SequenceArg pairs(obj, name, "(str, str) tuples");
  SchemaTypeMap map;
  pairs.guard_memory([&] {
    pairs.for_each([&](PyObject* item) {
      const auto [key_obj, value_obj] = pair_item(item, name);
      std::string key = str_arg(key_obj, name);
      std::string value = str_arg(value_obj, name);
      map.insert_or_assign(std::move(key), std::optional<std::string>(std::move(value)));
    });
  });
  return map;
}

const char* const kConfigKeywords[] = {
    "canonical_host", "public_base_url", "url_policy",      "default_robots",       "default_og_image",
    "site_name",      "title_template",  "search_robots",   "auto_generate_schema", "publisher_name",
    "publisher_logo", "locale",          "locale_alternate", "twitter_site",        "emit_warnings",
    "schema_type_map", "search_url_template", "hooks",      "schema_registry",      nullptr};
ArgParser config_args{"OO|$OOOOOOOOOOOOOOOOO:SEOConfig", kConfigKeywords};

PyObject* config_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    PyObject *canonical_host = nullptr, *public_base_url = nullptr, *url_policy = nullptr,
             *default_robots = nullptr, *default_og_image = nullptr, *site_name = nullptr,
             *title_template = nullptr, *search_robots = nullptr, *auto_generate_schema = nullptr,
             *publisher_name = nullptr, *publisher_logo = nullptr, *locale = nullptr,
             *locale_alternate = nullptr, *twitter_site = nullptr, *emit_warnings = nullptr,
             *schema_type_map = nullptr, *search_url_template = nullptr, *hooks = nullptr,
             *schema_registry = nullptr;
    config_args.parse(args, kwargs, &canonical_host, &public_base_url,
               &url_policy, &default_robots, &default_og_image, &site_name, &title_template, &search_robots,
               &auto_generate_schema, &publisher_name, &publisher_logo, &locale, &locale_alternate,
               &twitter_site, &emit_warnings, &schema_type_map, &search_url_template, &hooks,
               &schema_registry);

    // Argument types, in signature order. The record starts from the core
    // defaults (URL policy, robots, schema type map) for what is not given.
    quarlo::SEOConfig config;
    config.canonical_host = str_arg(canonical_host, "canonical_host");
    config.public_base_url = str_arg(public_base_url, "public_base_url");
    PyObject* policy = optional_instance_arg(url_policy, policy_type.get(), "url_policy");
    PyObject* page_robots = optional_instance_arg(default_robots, robots_type(), "default_robots");
    PyObject* og_image = optional_instance_arg(default_og_image, seo_image_type(), "default_og_image");
    config.site_name = optional_str_arg(site_name, "site_name");
    // No "{title}" default here: a configuration made without a template has none.
    config.title_template = optional_str_arg(title_template, "title_template");
    PyObject* search_page_robots = optional_instance_arg(search_robots, robots_type(), "search_robots");
    config.auto_generate_schema = bool_arg(auto_generate_schema, "auto_generate_schema", true);
    config.publisher_name = optional_str_arg(publisher_name, "publisher_name");
    config.publisher_logo = optional_str_arg(publisher_logo, "publisher_logo");
    config.locale = optional_str_arg(locale, "locale");
    config.locale_alternate = optional_str_sequence_arg(locale_alternate, "locale_alternate");
    config.twitter_site = optional_str_arg(twitter_site, "twitter_site");
    config.emit_warnings = bool_arg(emit_warnings, "emit_warnings", false);
    std::optional<SchemaTypeMap> type_map = schema_type_map_arg(schema_type_map, "schema_type_map");
    config.search_url_template = optional_str_arg(search_url_template, "search_url_template");

    if (policy != nullptr) config.url_policy = to_core_policy(policy);
    if (page_robots != nullptr) config.default_robots = unwrap_robots(page_robots);
    if (search_page_robots != nullptr) config.search_robots = unwrap_robots(search_page_robots);
    if (og_image != nullptr) config.default_og_image = unwrap_seo_image(og_image);
    if (type_map) config.schema_type_map = std::move(*type_map);  // replaces the defaults entirely
    unwrap(quarlo::validate(config));

    // The base URL is parsed here, once; one that does not parse still
    // fails only when a URL is resolved.
    PyRef obj = new_record_object(type, ConfigRecord(std::move(config)));
    ConfigRecord& record = record_of<ConfigRecord>(obj.get());
    if (!is_none_or_missing(hooks)) record.hooks = Py_NewRef(hooks);
    if (!is_none_or_missing(schema_registry)) record.schema_registry = Py_NewRef(schema_registry);
    return obj;
  });
}

int config_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
  return guard([&] {
    ConfigRecord& record = record_of<ConfigRecord>(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(record.hooks);
    Py_VISIT(record.schema_registry);
    return 0;
  });
}

bool is_seo_config(PyObject* obj) noexcept;  // below, beside the class

// A configuration that will be freed the moment `obj` is released.
bool last_reference_to_config(PyObject* obj) noexcept {
  return is_seo_config(obj) && Py_REFCNT(obj) == 1;
}

// Releases a registry object taken out of a configuration. When it is a
// configuration whose last reference this is, freeing it would release its
// own registries from inside this call, and so on down a chain of any length
// (n.hooks = head; head = n), one C stack frame per link. Instead its
// registries are detached first and released by this loop, so a chain is
// freed in constant stack depth.
void release_registry(PyObject* obj) noexcept {
  if (obj == nullptr) return;
  if (!last_reference_to_config(obj)) {
    Py_DECREF(obj);
    return;
  }
  std::vector<PyObject*> pending;  // owned references
  try {
    pending.reserve(4);
  } catch (const std::bad_alloc&) {
    Py_DECREF(obj);  // the ordinary way, recursion and all
    return;
  }
  pending.push_back(obj);
  while (!pending.empty()) {
    PyObject* current = pending.back();
    pending.pop_back();
    if (last_reference_to_config(current)) {
      ConfigRecord& record = record_of<ConfigRecord>(current);
      try {
        for (PyObject** slot : {&record.hooks, &record.schema_registry}) {
          if (*slot == nullptr) continue;
          pending.push_back(*slot);  // a failed push leaves the slot to the ordinary way
          *slot = nullptr;
        }
      } catch (const std::bad_alloc&) {
      }
    }
    Py_DECREF(current);
  }
}

// Each slot is emptied before its object is released.
int config_clear(PyObject* self) noexcept {
  return guard([&] {
    ConfigRecord& record = record_of<ConfigRecord>(self);
    release_registry(std::exchange(record.hooks, nullptr));
    release_registry(std::exchange(record.schema_registry, nullptr));
    return 0;
  });
}

void config_dealloc(PyObject* self) noexcept {
  PyObject_GC_UnTrack(self);
  guard_unraisable(reinterpret_cast<PyObject*>(Py_TYPE(self)), [&] {
    config_clear(self);
    std::destroy_at(&record_of<ConfigRecord>(self));
  });
  free_instance(self);
}

template <PyObject* ConfigRecord::*Slot>
PyObject* get_registry(PyObject* self, void*) noexcept {
  return guard([&] {
    PyObject* value = record_of<ConfigRecord>(self).*Slot;
    return PyRef::borrow(value != nullptr ? value : Py_None);
  });
}

// The slot points at the new value before the old one is released: the old
// object's finaliser may run Python code that reads or assigns the attribute.
template <PyObject* ConfigRecord::*Slot>
int set_registry(PyObject* self, PyObject* value, void*) noexcept {
  return guard([&] {
    if (value == nullptr) {
      PyErr_SetString(PyExc_AttributeError, "property has no deleter");
      throw_error_set();
    }
    PyObject* fresh = value == Py_None ? nullptr : Py_NewRef(value);
    release_registry(std::exchange(record_of<ConfigRecord>(self).*Slot, fresh));
    return 0;
  });
}

PyObject* config_to_dict(PyObject* self, PyObject*) noexcept {
  return guard([&] { return json_to_pydict(quarlo::to_json(record_of<ConfigRecord>(self).config)); });
}

PyGetSetDef config_getset[] = {
    {"hooks", get_registry<&ConfigRecord::hooks>, set_registry<&ConfigRecord::hooks>,
     "Config-scoped hook registry, consulted after the payload is built.", nullptr},
    {"schema_registry", get_registry<&ConfigRecord::schema_registry>,
     set_registry<&ConfigRecord::schema_registry>,
     "Config-scoped schema registry with Python-callable generators.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef config_methods[] = {
    {"to_dict", as_pycfunction(config_to_dict), METH_NOARGS,
     "to_dict($self)\n--\n\nReturns the configuration as a dictionary."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot config_slots[] = {
    {Py_tp_new, as_slot(config_new)},
    {Py_tp_dealloc, as_slot(config_dealloc)},
    {Py_tp_traverse, as_slot(config_traverse)},
    {Py_tp_clear, as_slot(config_clear)},
    {Py_tp_getset, config_getset},
    {Py_tp_methods, config_methods},
    {Py_tp_doc,
     const_cast<char*>("SEOConfig(canonical_host, public_base_url, *, url_policy=None, default_robots=None, "
                       "default_og_image=None, site_name=None, title_template=None, search_robots=None, "
                       "auto_generate_schema=True, publisher_name=None, publisher_logo=None, locale=None, "
                       "locale_alternate=None, twitter_site=None, emit_warnings=False, schema_type_map=None, "
                       "search_url_template=None, hooks=None, schema_registry=None)\n--\n\n"
                       "Site-wide configuration for payload generation.")},
    {0, nullptr},
};
PyType_Spec config_spec{"_quarlo_native.SEOConfig", sizeof(RecordObject<ConfigRecord>), 0,
                        kFinalTypeFlags | static_cast<unsigned int>(Py_TPFLAGS_HAVE_GC), config_slots};
TypeCell config_type{config_spec};

// Exact-type test (the class is final); no instance exists before the class.
bool is_seo_config(PyObject* obj) noexcept {
  PyTypeObject* type = config_type.peek();
  return type != nullptr && Py_TYPE(obj) == type;
}

}  // namespace

PyTypeObject* url_policy_type() { return policy_type.get(); }
PyTypeObject* seo_config_type() { return config_type.get(); }

quarlo::URLPolicy to_core_policy(PyObject* policy) {
  const PolicyRecord& given = record_of<PolicyRecord>(policy);
  quarlo::URLPolicy out;
  const std::string_view word = given.trailing_slash;
  if (word == "always") {
    out.trailing_slash = TrailingSlash::Always;
  } else if (word == "never") {
    out.trailing_slash = TrailingSlash::Never;
  } else if (word == "preserve") {
    out.trailing_slash = TrailingSlash::Preserve;
  } else {
    PyRef message = new_str("invalid trailing_slash: " + given.trailing_slash);
    PyErr_SetObject(PyExc_ValueError, message.get());
    throw_error_set();
  }
  out.enforce_https = given.enforce_https;
  out.lowercase_paths = given.lowercase_paths;
  out.collapse_duplicate_slashes = given.collapse_duplicate_slashes;
  out.strip_tracking_params = given.strip_tracking_params;
  out.allowed_query_params = given.allowed_query_params;
  out.extra_tracking_params = given.extra_tracking_params;
  return out;
}

const quarlo::SEOConfig& unwrap_config(PyObject* config) noexcept { return record_of<ConfigRecord>(config).config; }
const quarlo::PublicBase& config_public_base(PyObject* config) noexcept {
  return record_of<ConfigRecord>(config).public_base;
}
PyObject* config_hooks(PyObject* config) noexcept { return record_of<ConfigRecord>(config).hooks; }
PyObject* config_schema_registry(PyObject* config) noexcept {
  return record_of<ConfigRecord>(config).schema_registry;
}

PyRef copy_config(PyObject* config) {
  const ConfigRecord& record = record_of<ConfigRecord>(config);
  return new_record_object(seo_config_type(), ConfigRecord(record.config, record.public_base));
}

}  // namespace quarlo::py
