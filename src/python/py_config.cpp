// URLPolicy and SEOConfig.
#include "python/py_config.hpp"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/url/url.hpp"
#include "python/interface/tables.hpp"
#include "python/py_entity.hpp"
#include "python/runtime/args.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/record_fields.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/interface.hpp"
#include "python/runtime/module.hpp"
#include "python/runtime/record_object.hpp"
#include "python/runtime/repr.hpp"

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

std::vector<std::string> str_list_or_empty(const Arg& arg) {
  if (is_none_or_missing(arg)) return {};
  return str_sequence_arg(arg.object, arg.name);
}

namespace policy_api = iface::URLPolicy;

PyObject* policy_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    policy_api::New a;
    a.parse(args, kwargs);
    PolicyRecord policy;
    policy.enforce_https = bool_arg(a.enforce_https);
    policy.lowercase_paths = bool_arg(a.lowercase_paths);
    policy.trailing_slash = str_arg(a.trailing_slash);
    policy.collapse_duplicate_slashes = bool_arg(a.collapse_duplicate_slashes);
    policy.strip_tracking_params = bool_arg(a.strip_tracking_params);
    policy.allowed_query_params = str_list_or_empty(a.allowed_query_params);
    policy.extra_tracking_params = str_list_or_empty(a.extra_tracking_params);
    return new_record_object(type, std::move(policy));
  });
}

PyGetSetDef policy_getset[] = {
    property_def(policy_api::enforce_https, get_field<&PolicyRecord::enforce_https>),
    property_def(policy_api::lowercase_paths, get_field<&PolicyRecord::lowercase_paths>),
    property_def(policy_api::trailing_slash, get_field<&PolicyRecord::trailing_slash>),
    property_def(policy_api::collapse_duplicate_slashes, get_field<&PolicyRecord::collapse_duplicate_slashes>),
    property_def(policy_api::strip_tracking_params, get_field<&PolicyRecord::strip_tracking_params>),
    property_def(policy_api::allowed_query_params, get_field<&PolicyRecord::allowed_query_params>),
    property_def(policy_api::extra_tracking_params, get_field<&PolicyRecord::extra_tracking_params>),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot policy_slots[] = {
    {Py_tp_new, as_slot(policy_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<PolicyRecord>)},
    {Py_tp_getset, policy_getset},
    {Py_tp_doc, const_cast<char*>(policy_api::kDoc)},
    {Py_tp_repr, as_slot(properties_repr<policy_api::kProperties>)},
    {0, nullptr},
};
PyType_Spec policy_spec{policy_api::kQualifiedName, sizeof(RecordObject<PolicyRecord>), 0, kFinalTypeFlags,
                        policy_slots};
TypeCell policy_type{policy_spec};

// --------------------------------------------------------------- SEOConfig

// The core configuration and its public base URL, parsed once for every
// route resolved under it. Neither changes after construction, so the copies
// handed to hooks and registries share them.
struct ConfigCore {
  explicit ConfigCore(quarlo::SEOConfig core) : config(std::move(core)), public_base(config.public_base_url) {}

  quarlo::SEOConfig config;
  quarlo::PublicBase public_base;
};

// The shared core and the two registry objects (strong references, null
// when absent). Only the registries change after construction.
struct ConfigRecord {
  std::shared_ptr<const ConfigCore> core;
  PyObject* hooks = nullptr;
  PyObject* schema_registry = nullptr;
};

// None or a sequence (not a str) of (str, str) tuples; the last pair for a
// key wins.
std::optional<SchemaTypeMap> schema_type_map_arg(const Arg& arg) {
  if (is_none_or_missing(arg)) return std::nullopt;
  const char* const name = arg.name;
  const SequenceArg pairs(arg.object, name, "(str, str) tuples");
  SchemaTypeMap map;
  pairs.guard_memory([&] {
    std::vector<std::pair<std::string, std::string>> items;
    pairs.for_each([&](PyObject* item) {
      const auto [key_obj, value_obj] = pair_item(item, name);
      items.emplace_back(str_arg(key_obj, name), str_arg(value_obj, name));
    });
    // Inserted in key order (a stable sort keeps the last pair of a key
    // last), so that the map's nodes lie in memory in the order they are
    // read: a large map given in any order converts as fast as a sorted one.
    std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [key, value] : items) {
      map.insert_or_assign(map.end(), std::move(key), std::optional<std::string>(std::move(value)));
    }
  });
  return map;
}

namespace config_api = iface::SEOConfig;

PyObject* config_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    config_api::New a;
    a.parse(args, kwargs);

    // Argument types, in signature order. The record starts from the core
    // defaults (URL policy, robots, schema type map) for what is not given.
    quarlo::SEOConfig config;
    config.canonical_host = str_arg(a.canonical_host);
    config.public_base_url = str_arg(a.public_base_url);
    PyObject* policy = optional_instance_arg(a.url_policy, policy_type.get());
    PyObject* page_robots = optional_instance_arg(a.default_robots, robots_type());
    PyObject* og_image = optional_instance_arg(a.default_og_image, seo_image_type());
    config.site_name = optional_str_arg(a.site_name);
    // No "{title}" default here: a configuration made without a template has none.
    config.title_template = optional_str_arg(a.title_template);
    PyObject* search_page_robots = optional_instance_arg(a.search_robots, robots_type());
    config.auto_generate_schema = bool_arg(a.auto_generate_schema);
    config.publisher_name = optional_str_arg(a.publisher_name);
    config.publisher_logo = optional_str_arg(a.publisher_logo);
    config.locale = optional_str_arg(a.locale);
    config.locale_alternate = optional_str_sequence_arg(a.locale_alternate);
    config.twitter_site = optional_str_arg(a.twitter_site);
    config.emit_warnings = bool_arg(a.emit_warnings);
    std::optional<SchemaTypeMap> type_map = schema_type_map_arg(a.schema_type_map);
    config.search_url_template = optional_str_arg(a.search_url_template);

    if (policy != nullptr) config.url_policy = to_core_policy(policy);
    if (page_robots != nullptr) config.default_robots = unwrap_robots(page_robots);
    if (search_page_robots != nullptr) config.search_robots = unwrap_robots(search_page_robots);
    if (og_image != nullptr) config.default_og_image = unwrap_seo_image(og_image);
    if (type_map) config.schema_type_map = std::move(*type_map);  // replaces the defaults entirely
    unwrap(quarlo::validate(config));

    // The base URL is parsed here, once; one that does not parse still
    // fails only when a URL is resolved.
    PyRef obj = new_record_object(type, ConfigRecord{std::make_shared<const ConfigCore>(std::move(config))});
    ConfigRecord& record = record_of<ConfigRecord>(obj.get());
    if (!is_none_or_missing(a.hooks)) record.hooks = Py_NewRef(a.hooks.object);
    if (!is_none_or_missing(a.schema_registry)) record.schema_registry = Py_NewRef(a.schema_registry.object);
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
  return guard([&] { return record_to_pydict(unwrap_config(self)); });
}

PyGetSetDef config_getset[] = {
    property_def(config_api::hooks, get_registry<&ConfigRecord::hooks>, set_registry<&ConfigRecord::hooks>),
    property_def(config_api::schema_registry, get_registry<&ConfigRecord::schema_registry>,
                 set_registry<&ConfigRecord::schema_registry>),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef config_methods[] = {
    method_def<config_api::to_dict>(config_to_dict),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot config_slots[] = {
    {Py_tp_new, as_slot(config_new)},
    {Py_tp_dealloc, as_slot(config_dealloc)},
    {Py_tp_traverse, as_slot(config_traverse)},
    {Py_tp_clear, as_slot(config_clear)},
    {Py_tp_getset, config_getset},
    {Py_tp_methods, config_methods},
    {Py_tp_doc, const_cast<char*>(config_api::kDoc)},
    {Py_tp_repr, as_slot(dict_repr)},
    {0, nullptr},
};
PyType_Spec config_spec{config_api::kQualifiedName, sizeof(RecordObject<ConfigRecord>), 0,
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

const quarlo::SEOConfig& unwrap_config(PyObject* config) noexcept {
  return record_of<ConfigRecord>(config).core->config;
}
const quarlo::PublicBase& config_public_base(PyObject* config) noexcept {
  return record_of<ConfigRecord>(config).core->public_base;
}
PyObject* config_hooks(PyObject* config) noexcept { return record_of<ConfigRecord>(config).hooks; }
PyObject* config_schema_registry(PyObject* config) noexcept {
  return record_of<ConfigRecord>(config).schema_registry;
}

PyRef copy_config(PyObject* config) {
  return new_record_object(seo_config_type(), ConfigRecord{record_of<ConfigRecord>(config).core});
}

}  // namespace quarlo::py
