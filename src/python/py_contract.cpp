// SEOExpectation, SEOContractRule, SEOContractConfig, SEOContract;
// build_seo_contract (their members, signatures and docstrings:
// interface/description.py). SEOContract is made only by build_seo_contract.
//
// Nested expectations are shared, not copied: the core records hold their
// nested expectations as immutable shared records, so an expectation nested
// into another costs one shallow copy of its own fields, however large the
// expectations nested in it are.
#include "python/py_contract.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/contract/builder.hpp"
#include "core/contract/model.hpp"
#include "core/base/json.hpp"
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

// -------------------------------------------------------------- converters

// None or not given -> nullopt; otherwise exactly True or False.
std::optional<bool> optional_bool_arg(const Arg& arg) {
  if (is_none_or_missing(arg)) return std::nullopt;
  return bool_arg(arg.object, arg.name);
}

// None or not given -> nullopt; otherwise an int in 0..2**64-1 (bool, being
// an int, is accepted). Other types: TypeError; out of range: OverflowError.
std::optional<std::uint64_t> optional_u64_arg(const Arg& arg) {
  if (is_none_or_missing(arg)) return std::nullopt;
  PyObject* const obj = arg.object;
  const char* const name = arg.name;
  if (!PyLong_Check(obj)) {
    PyRef type = type_name_of(obj);
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be interpreted as an integer", type.get());
    fail_argument(name);
  }
  int overflow = 0;
  const long long small = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (small == -1 && PyErr_Occurred()) fail_argument(name);
  if (overflow == 0 && small >= 0) return static_cast<std::uint64_t>(small);
  if (overflow < 0 || (overflow == 0 && small < 0)) {
    PyErr_SetString(PyExc_OverflowError, "can't convert negative int to unsigned");
    fail_argument(name);
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(obj);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
      PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C unsigned long long");
    }
    fail_argument(name);
  }
  return static_cast<std::uint64_t>(value);
}

// --------------------------------------------------------- SEOExpectation

namespace expectation_api = iface::SEOExpectation;

PyTypeObject* expectation_type_get();

std::optional<FieldExpectation> field_expectation(const Arg& arg) {
  std::optional<bool> required = optional_bool_arg(arg);
  if (!required) return std::nullopt;
  return FieldExpectation{required};
}

// A nested expectation: a shallow copy of its record, sharing whatever nests
// in it. Comparisons and the JSON writer recurse once per level, so nesting
// is capped where it is built.
std::optional<Shared<SEOExpectation>> nested_expectation(const Arg& arg) {
  PyObject* given = optional_instance_arg(arg, expectation_type_get());
  if (given == nullptr) return std::nullopt;
  const SEOExpectation& inner = record_of<SEOExpectation>(given);
  if (expectation_depth(inner) >= kMaxExpectationNesting) {
    PyErr_Format(PyExc_ValueError, "expectations nest deeper than %zu levels", kMaxExpectationNesting);
    fail_argument(arg.name);
  }
  return Shared<SEOExpectation>(inner);
}

PyObject* expectation_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    expectation_api::New a;
    a.parse(args, kwargs);
    SEOExpectation e;
    e.required = optional_bool_arg(a.required);
    e.forbidden = optional_bool_arg(a.forbidden);
    e.equals = optional_str_arg(a.equals);
    e.not_equals = optional_str_arg(a.not_equals);
    e.contains = optional_str_arg(a.contains);
    e.matches = optional_str_arg(a.matches);
    e.one_of = optional_str_sequence_arg(a.one_of);
    e.min_length = optional_u64_arg(a.min_length);
    e.max_length = optional_u64_arg(a.max_length);
    e.min_items = optional_u64_arg(a.min_items);
    e.max_items = optional_u64_arg(a.max_items);
    e.indexable = optional_bool_arg(a.indexable);
    e.canonical = optional_str_arg(a.canonical);
    // Types given without `schema_required` still make a schema expectation
    // (holding only "types"): the caller meant them.
    std::optional<bool> schema_required_value = optional_bool_arg(a.schema_required);
    std::optional<std::vector<std::string>> types = optional_str_sequence_arg(a.schema_types);
    if (schema_required_value || types) e.schema = SchemaExpectation{schema_required_value, std::move(types)};
    e.open_graph = field_expectation(a.og_required);
    e.twitter = field_expectation(a.twitter_required);
    e.sitemap = field_expectation(a.sitemap_required);
    e.hreflang = field_expectation(a.hreflang_required);
    e.title = nested_expectation(a.title);
    e.description = nested_expectation(a.description);
    return new_record_object(type, std::move(e));
  });
}

auto expectation_getset = selected_field_properties<SEOExpectation, expectation_api::kProperties>();

PyType_Slot expectation_slots[] = {
    {Py_tp_new, as_slot(expectation_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<SEOExpectation>)},
    {Py_tp_getset, expectation_getset.data()},
    {Py_tp_doc, const_cast<char*>(expectation_api::kDoc)},
    {Py_tp_repr, as_slot(properties_repr<expectation_api::kProperties>)},
    {0, nullptr},
};
PyType_Spec expectation_spec{expectation_api::kQualifiedName, sizeof(RecordObject<SEOExpectation>), 0,
                             kFinalTypeFlags, expectation_slots};
TypeCell expectation_type{expectation_spec};

PyTypeObject* expectation_type_get() { return expectation_type.get(); }

// The expectation of an SEOExpectation argument, copied.
SEOExpectation expectation_arg(PyObject* obj, const char* name) {
  return record_of<SEOExpectation>(instance_arg(obj, expectation_type.get(), name));
}
SEOExpectation expectation_arg(const Arg& arg) { return expectation_arg(arg.object, arg.name); }

// -------------------------------------------------------- SEOContractRule

// The severity stays as the caller wrote it until a configuration reads it.
struct RuleRecord {
  std::string match;
  SEOExpectation expect;
  std::optional<std::string> severity;
};

namespace rule_api = iface::SEOContractRule;

PyObject* rule_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    rule_api::New a;
    a.parse(args, kwargs);
    RuleRecord rule;
    rule.match = str_arg(a.match);
    rule.expect = expectation_arg(a.expect);
    rule.severity = optional_str_arg(a.severity);
    return new_record_object(type, std::move(rule));
  });
}

PyObject* rule_get_expect(PyObject* self, void*) noexcept {
  return guard([&] {
    return new_record_object(expectation_type.get(), SEOExpectation(record_of<RuleRecord>(self).expect));
  });
}

PyGetSetDef rule_getset[] = {
    property_def(rule_api::match, get_field<&RuleRecord::match>),
    property_def(rule_api::expect, rule_get_expect),
    property_def(rule_api::severity, get_field<&RuleRecord::severity>),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot rule_slots[] = {
    {Py_tp_new, as_slot(rule_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<RuleRecord>)},
    {Py_tp_getset, rule_getset},
    {Py_tp_doc, const_cast<char*>(rule_api::kDoc)},
    {Py_tp_repr, as_slot(properties_repr<rule_api::kProperties>)},
    {0, nullptr},
};
PyType_Spec rule_spec{rule_api::kQualifiedName, sizeof(RecordObject<RuleRecord>), 0, kFinalTypeFlags,
                      rule_slots};
TypeCell rule_type{rule_spec};

// Exactly "info" and "warning" are recognised; any other text is an error
// severity.
ContractSeverity parse_severity(std::string_view text) noexcept {
  if (text == "info") return ContractSeverity::Info;
  if (text == "warning") return ContractSeverity::Warning;
  return ContractSeverity::Error;
}

// ------------------------------------------------------ SEOContractConfig

namespace contract_config_api = iface::SEOContractConfig;

// One (route, SEOExpectation) pair of `exceptions` (named `name`): a 2-tuple.
std::pair<std::string, SEOExpectation> exception_pair(PyObject* item, const char* name) {
  if (!PyTuple_Check(item)) raise_not_instance(item, "tuple", name);
  const Py_ssize_t length = PyTuple_Size(item);
  if (length != 2) {
    PyErr_Format(PyExc_TypeError, "expected a tuple of length 2, got a tuple of length %zd", length);
    fail_argument(name);
  }
  std::string route = str_arg(PyTuple_GetItem(item, 0), name);
  return {std::move(route), expectation_arg(PyTuple_GetItem(item, 1), name)};
}

// A rule of `rules` (named `name`) as the core holds it: the severity word
// interpreted.
SEOContractRule core_rule(PyObject* item, const char* name) {
  const RuleRecord& rule = record_of<RuleRecord>(instance_arg(item, rule_type.get(), name));
  std::optional<ContractSeverity> severity;
  if (rule.severity) severity = parse_severity(*rule.severity);
  return SEOContractRule{rule.match, rule.expect, severity};
}

PyObject* config_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    contract_config_api::New a;
    a.parse(args, kwargs);
    SEOContractConfig config;
    config.canonical_host = str_arg(a.canonical_host);
    config.scheme = str_arg(a.scheme);
    if (!is_none_or_missing(a.defaults)) config.defaults = expectation_arg(a.defaults);
    if (!is_none_or_missing(a.rules)) {
      config.rules = sequence_arg<SEOContractRule>(a.rules.object, a.rules.name, rule_api::kName,
                                                   [&](PyObject* item) { return core_rule(item, a.rules.name); });
    }
    if (!is_none_or_missing(a.exceptions)) {
      // Sorted by route; a route given again replaces the earlier pair.
      const SequenceArg pairs(a.exceptions.object, a.exceptions.name, "(str, SEOExpectation) tuples");
      pairs.guard_memory([&] {
        pairs.for_each([&](PyObject* item) {
          auto [route, expectation] = exception_pair(item, a.exceptions.name);
          config.exceptions.insert_or_assign(std::move(route), std::move(expectation));
        });
      });
    }
    return new_record_object(type, std::move(config));
  });
}

PyType_Slot config_slots[] = {
    {Py_tp_new, as_slot(config_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<SEOContractConfig>)},
    {Py_tp_doc, const_cast<char*>(contract_config_api::kDoc)},
    {0, nullptr},
};
PyType_Spec config_spec{contract_config_api::kQualifiedName, sizeof(RecordObject<SEOContractConfig>), 0,
                        kFinalTypeFlags, config_slots};
TypeCell config_type{config_spec};

// ------------------------------------------------------------ SEOContract

namespace contract_api = iface::SEOContract;

const SEOContract& contract_of(PyObject* self) noexcept { return record_of<SEOContract>(self); }

// A core error of the contract's texts: the built-in ValueError with the
// full display text.
template <class T>
T value_or_value_error(Result<T>&& result) {
  if (!result) raise_value_error_display(result.error());
  return std::move(result).value();
}

// The properties: the site as a new dict of its fields.
struct ContractReader : FieldReader {
  using FieldReader::read;
  static PyRef read(const ContractSite& site) { return fields_to_pydict<KeyOrder::Declared>(site); }
};

PyObject* contract_hash(PyObject* self, PyObject*) noexcept {
  return guard([&] { return new_str(value_or_value_error(contract_of(self).hash())); });
}

PyObject* contract_to_json(PyObject* self, PyObject*) noexcept {
  return guard([&] { return new_str(value_or_value_error(contract_of(self).to_json())); });
}

// The contract's members read back as JSON values, so every dict has its
// keys in byte-wise order (unlike the member order of the file).
PyObject* contract_to_dict(PyObject* self, PyObject*) noexcept {
  return guard([&] {
    auto fail = [](const QuarloError& error) {
      PyErr_SetObject(PyExc_ValueError, new_str(error.message()).get());
      throw_error_set();
    };
    Result<std::string> text = contract_of(self).to_json();
    if (!text) fail(text.error());
    Result<Json> value = parse_json(*text);
    if (!value) fail(value.error());
    return json_to_pydict(*value);
  });
}

// A failed write is the built-in OSError carrying the display text
// ("serialization error: failed to write contract: ...").
PyObject* contract_write(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    contract_api::write a;
    a.parse(args, nargs, kwnames);
    const std::string_view path_text = str_view_arg(a.path);
    // The system call would stop at the NUL and write another file.
    if (path_text.find('\0') != std::string_view::npos) {
      PyErr_SetString(PyExc_ValueError, "embedded null byte");
      fail_argument(a.path.name);
    }
    Result<void> written = contract_of(self).write(path_text);
    if (!written) {
      const std::string text = written.error().display();
      PyRef message = PyRef::checked(
          PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
      PyErr_SetObject(PyExc_OSError, message.get());
      throw_error_set();
    }
    return PyRef::borrow(Py_None);
  });
}

auto contract_getset = selected_field_properties<SEOContract, contract_api::kProperties, ContractReader>();

PyMethodDef contract_methods[] = {
    method_def<contract_api::hash>(contract_hash),
    method_def<contract_api::to_json>(contract_to_json),
    method_def<contract_api::to_dict>(contract_to_dict),
    method_def<contract_api::write>(contract_write),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot contract_slots[] = {
    {Py_tp_dealloc, as_slot(record_dealloc<SEOContract>)},
    {Py_tp_getset, contract_getset.data()},
    {Py_tp_methods, contract_methods},
    {Py_tp_doc, const_cast<char*>(contract_api::kDoc)},
    {Py_tp_repr, as_slot(properties_repr<contract_api::kProperties>)},
    {0, nullptr},
};
PyType_Spec contract_spec{contract_api::kQualifiedName, sizeof(RecordObject<SEOContract>), 0,
                          kNoConstructorTypeFlags, contract_slots};
TypeCell contract_type{contract_spec};

// -------------------------------------------------------------- functions

PyObject* build_seo_contract_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    iface::build_seo_contract a;
    a.parse(args, nargs, kwnames);
    const SEOContractConfig& core_config = record_of<SEOContractConfig>(instance_arg(a.config, config_type.get()));
    return new_record_object(contract_type.get(), quarlo::build_seo_contract(core_config));
  });
}

}  // namespace

PyTypeObject* seo_expectation_type() { return expectation_type.get(); }
PyTypeObject* seo_contract_rule_type() { return rule_type.get(); }
PyTypeObject* seo_contract_config_type() { return config_type.get(); }
PyTypeObject* seo_contract_type() { return contract_type.get(); }

PyMethodDef build_seo_contract_def = method_def<iface::build_seo_contract>(build_seo_contract_fn);

}  // namespace quarlo::py
