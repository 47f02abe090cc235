// build_seo_payload, build_seo_payload_dict, build_seo_payload_with_overrides.
//
// Registry and hook objects are caller code: they may reassign or clear
// `config.schema_registry` / `config.hooks` (dropping what may be the last
// reference to the object being called) or run anything else. So each pass
// takes its own strong reference to the object it calls and to everything
// it hands over, and never reads the configuration's slots again while it
// runs. The core records of the entity and the configuration cannot change
// (only the registry slots of an SEOConfig are mutable), and the caller's
// argument references keep both objects alive for the whole call.
#include "python/py_build.hpp"

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/payload/builder.hpp"
#include "core/validation/validation.hpp"
#include "python/interface/tables.hpp"
#include "python/runtime/args.hpp"
#include "python/runtime/cell.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/interface.hpp"
#include "python/runtime/module.hpp"
#include "python/py_config.hpp"
#include "python/py_entity.hpp"
#include "python/py_overrides.hpp"
#include "python/py_payload.hpp"

namespace quarlo::py {
namespace {

InternedString g_has{"has"};
InternedString g_generate{"generate"};
InternedString g_run{"run"};
InternedString g_post_process{"post_process"};
InternedString g_warn{"warn"};

PyRef optional_str(const std::optional<std::string>& text) {
  return text ? new_str(*text) : PyRef::borrow(Py_None);
}

// The registry's `has` answer: a bool or a NumPy boolean, nothing else
// (not even a truthy int).
bool registry_answer(PyObject* answer) {
  if (std::optional<bool> value = bool_or_numpy_bool(answer)) return *value;
  if (answer == Py_None) {
    PyErr_SetString(PyExc_TypeError, "'None' is not an instance of 'bool'");
  } else {
    PyRef type = type_name_of(answer);
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of 'bool'", type.get());
  }
  throw_error_set();
}

// A single JSON-LD object with a string "@type" may be replaced by the
// registry's generator for that type. Arrays (several documents) never go
// to the registry.
void apply_schema_registry(SEOPayload& payload, PyObject* entity, PyObject* config) {
  const PyRef registry = PyRef::borrow(config_schema_registry(config));
  if (!registry) return;
  if (!payload.schema_jsonld || !payload.schema_jsonld->is_object()) return;
  const Json schema = payload.schema_jsonld->value();
  const auto type_member = schema.find("@type");
  if (type_member == schema.end() || !type_member->is_string()) return;

  const PyRef type_name = new_str(type_member->get_ref<const std::string&>());
  const PyRef answer =
      PyRef::checked(PyObject_CallMethodObjArgs(registry.get(), g_has.get(), type_name.get(), nullptr));
  if (!registry_answer(answer.get())) return;

  const PyRef entity_copy = copy_entity(entity);
  const PyRef config_copy = copy_config(config);
  const PyRef canonical = new_str(payload.canonical);
  const PyRef title = new_str(payload.title);
  const PyRef description = new_str(payload.description);
  const PyRef image = optional_str(payload.og.image);
  const PyRef document = PyRef::checked(PyObject_CallMethodObjArgs(
      registry.get(), g_generate.get(), type_name.get(), entity_copy.get(), config_copy.get(), canonical.get(),
      title.get(), description.get(), image.get(), nullptr));
  if (document.get() == Py_None) return;
  payload.schema_jsonld = JsonDoc::from_value(py_to_json_value(document.get()));
}

// SEOPayload::from_dict for a dict the hook pass just converted. The schema
// document (any JSON value; null means none) is written into the result
// and dropped from the dict before from_dict reads the rest: it is usually
// the largest part of the dict, and it can never be the reason reading
// fails.
SEOPayload payload_from_dict(Json&& value) {
  std::optional<JsonDoc> schema;
  if (value.is_object()) {
    auto& members = *value.get_ptr<Json::object_t*>();
    if (const auto member = members.find("schema_jsonld"); member != members.end()) {
      if (!member->second.is_null()) schema = JsonDoc::from_value(member->second);
      members.erase(member);
    }
  }
  SEOPayload payload = unwrap(SEOPayload::from_dict(value));
  payload.schema_jsonld = std::move(schema);
  return payload;
}

// The hook sees the payload's dictionary form and may change it in place
// (returning None) or return another dict; either way the payload is read
// back from that dict, unless it is exactly the dict as made (which would
// read back as the same payload).
void apply_hooks(SEOPayload& payload, PyObject* entity, PyObject* config) {
  const PyRef hooks = PyRef::borrow(config_hooks(config));
  if (!hooks) return;
  PlainValueRecord made;
  const PyRef dict = payload_to_pydict(payload, &made);
  const PyRef entity_copy = copy_entity(entity);
  const PyRef config_copy = copy_config(config);
  const PyRef run = PyRef::checked(PyObject_GetAttr(hooks.get(), g_run.get()));
  const PyRef result = PyRef::checked(PyObject_CallFunctionObjArgs(
      run.get(), g_post_process.get(), dict.get(), entity_copy.get(), config_copy.get(), nullptr));
  PyObject* chosen = dict.get();
  if (result.get() != Py_None) {
    if (!PyDict_Check(result.get())) {
      PyErr_SetString(PyExc_TypeError, "post_process hooks must return a dict");
      throw_error_set();
    }
    chosen = result.get();
  }
  // A payload's dict form reads back as that same payload: a dict the hook
  // left exactly as it was made is not read again.
  if (chosen == dict.get() && made.unchanged()) return;
  // The dict wraps the schema document: the nesting limit applies to the
  // document, as in the registry pass, not to the dict around it.
  payload = payload_from_dict(py_wrapper_to_json_value(chosen));
}

// Each finding of the final payload becomes one warnings.warn call with the
// text "[RULE] message" (plus " (url)" when the finding has one), default
// category and stack level. A call that raises (a filter set to "error")
// ends the build with that exception; later findings are not warned.
void emit_validation_warnings(const SEOPayload& payload) {
  const std::vector<SEOIssue> issues = quarlo::validate(payload);
  if (issues.empty()) return;
  // Looked up per call, so a replaced warnings.warn is honoured.
  const PyRef warnings = PyRef::checked(PyImport_ImportModule("warnings"));
  const PyRef warn = PyRef::checked(PyObject_GetAttr(warnings.get(), g_warn.get()));
  for (const SEOIssue& issue : issues) {
    std::string text;
    text.reserve(issue.rule_id.size() + issue.message.size() + (issue.url ? issue.url->size() : 0) + 6);
    text.append("[").append(issue.rule_id).append("] ").append(issue.message);
    if (issue.url) text.append(" (").append(*issue.url).append(")");
    const PyRef message = new_str(text);
    const PyRef ignored = PyRef::checked(PyObject_CallFunctionObjArgs(warn.get(), message.get(), nullptr));
  }
}

void maybe_emit_warnings(const SEOPayload& payload, bool emit_warnings) {
  if (!emit_warnings) return;
  emit_validation_warnings(payload);
}

// ------------------------------------------------------------ functions

struct BuildArgs {
  PyObject* entity;
  std::string_view route;
  PyObject* config;
  const quarlo::SEOOverrides* overrides;
};

// Converts in signature order; `overrides` may be not given (a record of
// build_seo_payload or build_seo_payload_dict) or required (one of
// build_seo_payload_with_overrides).
template <class Record>
BuildArgs convert_args(const Record& a) {
  BuildArgs out{};
  out.entity = instance_arg(a.entity, seo_entity_type());
  out.route = str_view_arg(a.route);
  out.config = instance_arg(a.config, seo_config_type());
  constexpr bool kRequired = std::is_same_v<Record, iface::build_seo_payload_with_overrides>;
  PyObject* given = kRequired ? instance_arg(a.overrides, seo_overrides_type())
                              : optional_instance_arg(a.overrides, seo_overrides_type());
  out.overrides = given != nullptr ? &unwrap_seo_overrides(given) : nullptr;
  return out;
}

SEOPayload run(const BuildArgs& args) { return build_seo_payload(args.entity, args.route, args.config, args.overrides); }

PyObject* build_seo_payload_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    iface::build_seo_payload a;
    a.parse(args, nargs, kwnames);
    return new_seo_payload(run(convert_args(a)));
  });
}

PyObject* build_seo_payload_dict_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) noexcept {
  return guard([&] {
    iface::build_seo_payload_dict a;
    a.parse(args, nargs, kwnames);
    return payload_to_pydict(run(convert_args(a)));
  });
}

PyObject* build_seo_payload_with_overrides_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                              PyObject* kwnames) noexcept {
  return guard([&] {
    iface::build_seo_payload_with_overrides a;
    a.parse(args, nargs, kwnames);
    return new_seo_payload(run(convert_args(a)));
  });
}

}  // namespace

quarlo::SEOPayload build_seo_payload(PyObject* entity, std::string_view route, PyObject* config,
                                     const quarlo::SEOOverrides* overrides) {
  const quarlo::SEOConfig& core_config = unwrap_config(config);
  SEOPayload payload = unwrap(quarlo::build_seo_payload_with_overrides(unwrap_seo_entity(entity), route, core_config,
                                                                      overrides, &config_public_base(config)));
  apply_schema_registry(payload, entity, config);
  apply_hooks(payload, entity, config);
  maybe_emit_warnings(payload, core_config.emit_warnings);
  return payload;
}

PyMethodDef build_seo_payload_def = method_def<iface::build_seo_payload>(build_seo_payload_fn);
PyMethodDef build_seo_payload_dict_def = method_def<iface::build_seo_payload_dict>(build_seo_payload_dict_fn);
PyMethodDef build_seo_payload_with_overrides_def =
    method_def<iface::build_seo_payload_with_overrides>(build_seo_payload_with_overrides_fn);

}  // namespace quarlo::py
