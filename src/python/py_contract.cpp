// SEOExpectation, SEOContractRule, SEOContractConfig, SEOContract;
// build_seo_contract.
//
//   @final class SEOExpectation:      # 21 keyword-only constraints
//       required: bool | None; indexable: bool | None; canonical: str | None
//   @final class SEOContractRule:     # (match, expect, *, severity=None)
//       match: str; expect: SEOExpectation (a copy); severity: str | None
//   @final class SEOContractConfig:   # (canonical_host, *, scheme="https",
//                                     #  defaults=None, rules=None, exceptions=None)
//   @final class SEOContract:         # only from build_seo_contract
//       contract_version: str; site: dict
//       def hash() -> str; def to_json() -> str; def to_dict() -> dict
//       def write(path: str) -> None
//
// Every object owns deep copies: an expectation passed to a constructor is
// copied into the new object, and `expect` returns a new copy.
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

// -------------------------------------------------------------- converters

// None or not given -> nullopt; otherwise exactly True or False.
std::optional<bool> optional_bool_arg(PyObject* obj, const char* name) {
  if (is_none_or_missing(obj)) return std::nullopt;
  return bool_arg(obj, name);
}

// None or not given -> nullopt; otherwise an int in 0..2**64-1 (bool, being
// an int, is accepted). Other types: TypeError; out of range: OverflowError.
std::optional<std::uint64_t> optional_u64_arg(PyObject* obj, const char* name) {
  if (is_none_or_missing(obj)) return std::nullopt;
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

void set_item(PyObject* dict, InternedString& key, const PyRef& value) {
  if (PyDict_SetItem(dict, key.get(), value.get()) < 0) throw_error_set();
}

// --------------------------------------------------------- SEOExpectation

const char* const kExpectationKeywords[] = {
    "required",     "forbidden",       "equals",           "not_equals",       "contains",
    "matches",      "one_of",          "min_length",       "max_length",       "min_items",
    "max_items",    "indexable",       "canonical",        "schema_required",  "schema_types",
    "og_required",  "twitter_required", "sitemap_required", "hreflang_required", "title",
    "description",  nullptr};
ArgParser expectation_args{"|$OOOOOOOOOOOOOOOOOOOOO:SEOExpectation", kExpectationKeywords};

PyTypeObject* expectation_type_get();

std::optional<FieldExpectation> field_expectation(PyObject* obj, const char* name) {
  std::optional<bool> required = optional_bool_arg(obj, name);
  if (!required) return std::nullopt;
  return FieldExpectation{required};
}

// A copy of a nested expectation. Copies, comparisons and the JSON writer
// recurse once per level, so nesting is capped where it is built.
std::optional<Box<SEOExpectation>> nested_expectation(PyObject* obj, const char* name) {
  PyObject* given = optional_instance_arg(obj, expectation_type_get(), name);
  if (given == nullptr) return std::nullopt;
  const SEOExpectation& inner = record_of<SEOExpectation>(given);
  if (expectation_depth(inner) >= kMaxExpectationNesting) {
    PyErr_Format(PyExc_ValueError, "expectations nest deeper than %zu levels", kMaxExpectationNesting);
    fail_argument(name);
  }
  return Box<SEOExpectation>(inner);
}

PyObject* expectation_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    PyObject *required = nullptr, *forbidden = nullptr, *equals = nullptr, *not_equals = nullptr,
             *contains = nullptr, *matches = nullptr, *one_of = nullptr, *min_length = nullptr,
             *max_length = nullptr, *min_items = nullptr, *max_items = nullptr, *indexable = nullptr,
             *canonical = nullptr, *schema_required = nullptr, *schema_types = nullptr, *og_required = nullptr,
             *twitter_required = nullptr, *sitemap_required = nullptr, *hreflang_required = nullptr,
             *title = nullptr, *description = nullptr;
    expectation_args.parse(args, kwargs, &required, &forbidden, &equals, &not_equals, &contains, &matches,
                           &one_of, &min_length, &max_length, &min_items, &max_items, &indexable, &canonical,
                           &schema_required, &schema_types, &og_required, &twitter_required,
                           &sitemap_required, &hreflang_required, &title, &description);
    SEOExpectation e;
    e.required = optional_bool_arg(required, "required");
    e.forbidden = optional_bool_arg(forbidden, "forbidden");
    e.equals = optional_str_arg(equals, "equals");
    e.not_equals = optional_str_arg(not_equals, "not_equals");
    e.contains = optional_str_arg(contains, "contains");
    e.matches = optional_str_arg(matches, "matches");
    e.one_of = optional_str_sequence_arg(one_of, "one_of");
    e.min_length = optional_u64_arg(min_length, "min_length");
    e.max_length = optional_u64_arg(max_length, "max_length");
    e.min_items = optional_u64_arg(min_items, "min_items");
    e.max_items = optional_u64_arg(max_items, "max_items");
    e.indexable = optional_bool_arg(indexable, "indexable");
    e.canonical = optional_str_arg(canonical, "canonical");
    // Types given without `schema_required` still make a schema expectation
    // (holding only "types"): the caller meant them.
    std::optional<bool> schema_required_value = optional_bool_arg(schema_required, "schema_required");
    std::optional<std::vector<std::string>> types = optional_str_sequence_arg(schema_types, "schema_types");
    if (schema_required_value || types) e.schema = SchemaExpectation{schema_required_value, std::move(types)};
    e.open_graph = field_expectation(og_required, "og_required");
    e.twitter = field_expectation(twitter_required, "twitter_required");
    e.sitemap = field_expectation(sitemap_required, "sitemap_required");
    e.hreflang = field_expectation(hreflang_required, "hreflang_required");
    e.title = nested_expectation(title, "title");
    e.description = nested_expectation(description, "description");
    return new_record_object(type, std::move(e));
  });
}

PyGetSetDef expectation_getset[] = {
    {"required", get_field<&SEOExpectation::required>, nullptr, "Whether the field is required.", nullptr},
    {"indexable", get_field<&SEOExpectation::indexable>, nullptr, "Whether the page must be indexable.", nullptr},
    {"canonical", get_field<&SEOExpectation::canonical>, nullptr, "Expected canonical behavior.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot expectation_slots[] = {
    {Py_tp_new, as_slot(expectation_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<SEOExpectation>)},
    {Py_tp_getset, expectation_getset},
    {Py_tp_doc,
     const_cast<char*>("SEOExpectation(*, required=None, forbidden=None, equals=None, not_equals=None, "
                       "contains=None, matches=None, one_of=None, min_length=None, max_length=None, "
                       "min_items=None, max_items=None, indexable=None, canonical=None, schema_required=None, "
                       "schema_types=None, og_required=None, twitter_required=None, sitemap_required=None, "
                       "hreflang_required=None, title=None, description=None)\n--\n\n"
                       "Expectations applied to a page, a rule match, or contract defaults.")},
    {0, nullptr},
};
PyType_Spec expectation_spec{"_quarlo_native.SEOExpectation", sizeof(RecordObject<SEOExpectation>), 0,
                             kFinalTypeFlags, expectation_slots};
TypeCell expectation_type{expectation_spec};

PyTypeObject* expectation_type_get() { return expectation_type.get(); }

// The expectation of an SEOExpectation argument, copied.
SEOExpectation expectation_arg(PyObject* obj, const char* name) {
  return record_of<SEOExpectation>(instance_arg(obj, expectation_type.get(), name));
}

// -------------------------------------------------------- SEOContractRule

// The severity stays as the caller wrote it until a configuration reads it.
struct RuleRecord {
  std::string match;
  SEOExpectation expect;
  std::optional<std::string> severity;
};

const char* const kRuleKeywords[] = {"match", "expect", "severity", nullptr};
ArgParser rule_args{"OO|$O:SEOContractRule", kRuleKeywords};

PyObject* rule_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    PyObject *match = nullptr, *expect = nullptr, *severity = nullptr;
    rule_args.parse(args, kwargs, &match, &expect, &severity);
    RuleRecord rule;
    rule.match = str_arg(match, "match");
    rule.expect = expectation_arg(expect, "expect");
    rule.severity = optional_str_arg(severity, "severity");
    return new_record_object(type, std::move(rule));
  });
}

PyObject* rule_get_expect(PyObject* self, void*) noexcept {
  return guard([&] {
    return new_record_object(expectation_type.get(), SEOExpectation(record_of<RuleRecord>(self).expect));
  });
}

PyGetSetDef rule_getset[] = {
    {"match", get_field<&RuleRecord::match>, nullptr, "Route pattern, for example ``\"/blog/*\"``.", nullptr},
    {"expect", rule_get_expect, nullptr, "Expectations applied when the pattern matches.", nullptr},
    {"severity", get_field<&RuleRecord::severity>, nullptr, "Optional severity for failures of this rule.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot rule_slots[] = {
    {Py_tp_new, as_slot(rule_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<RuleRecord>)},
    {Py_tp_getset, rule_getset},
    {Py_tp_doc, const_cast<char*>("SEOContractRule(match, expect, *, severity=None)\n--\n\n"
                                  "A contract rule matched against route paths.")},
    {0, nullptr},
};
PyType_Spec rule_spec{"_quarlo_native.SEOContractRule", sizeof(RecordObject<RuleRecord>), 0, kFinalTypeFlags,
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

const char* const kConfigKeywords[] = {"canonical_host", "scheme", "defaults", "rules", "exceptions", nullptr};
ArgParser config_args{"O|$OOOO:SEOContractConfig", kConfigKeywords};

// One (route, SEOExpectation) pair of `exceptions`: a 2-tuple.
std::pair<std::string, SEOExpectation> exception_pair(PyObject* item) {
  constexpr const char* kName = "exceptions";
  if (!PyTuple_Check(item)) raise_not_instance(item, "tuple", kName);
  const Py_ssize_t length = PyTuple_Size(item);
  if (length != 2) {
    PyErr_Format(PyExc_TypeError, "expected a tuple of length 2, got a tuple of length %zd", length);
    fail_argument(kName);
  }
  std::string route = str_arg(PyTuple_GetItem(item, 0), kName);
  return {std::move(route), expectation_arg(PyTuple_GetItem(item, 1), kName)};
}

// A rule as the core holds it: the severity word interpreted.
SEOContractRule core_rule(PyObject* item) {
  const RuleRecord& rule = record_of<RuleRecord>(instance_arg(item, rule_type.get(), "rules"));
  std::optional<ContractSeverity> severity;
  if (rule.severity) severity = parse_severity(*rule.severity);
  return SEOContractRule{rule.match, rule.expect, severity};
}

PyObject* config_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    PyObject *canonical_host = nullptr, *scheme = nullptr, *defaults = nullptr, *rules = nullptr,
             *exceptions = nullptr;
    config_args.parse(args, kwargs, &canonical_host, &scheme, &defaults, &rules, &exceptions);
    SEOContractConfig config;
    config.canonical_host = str_arg(canonical_host, "canonical_host");
    if (scheme != nullptr) config.scheme = str_arg(scheme, "scheme");
    if (!is_none_or_missing(defaults)) config.defaults = expectation_arg(defaults, "defaults");
    if (!is_none_or_missing(rules)) {
      config.rules = sequence_arg<SEOContractRule>(rules, "rules", "SEOContractRule", core_rule);
    }
    if (!is_none_or_missing(exceptions)) {
      // Sorted by route; a route given again replaces the earlier pair.
      const SequenceArg pairs(exceptions, "exceptions", "(str, SEOExpectation) tuples");
      pairs.guard_memory([&] {
        pairs.for_each([&](PyObject* item) {
          auto [route, expectation] = exception_pair(item);
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
    {Py_tp_doc, const_cast<char*>("SEOContractConfig(canonical_host, *, scheme=\"https\", defaults=None, "
                                  "rules=None, exceptions=None)\n--\n\n"
                                  "Input configuration for building a contract.")},
    {0, nullptr},
};
PyType_Spec config_spec{"_quarlo_native.SEOContractConfig", sizeof(RecordObject<SEOContractConfig>), 0,
                        kFinalTypeFlags, config_slots};
TypeCell config_type{config_spec};

// ------------------------------------------------------------ SEOContract

InternedString g_canonical_host{"canonical_host"};
InternedString g_scheme{"scheme"};

const SEOContract& contract_of(PyObject* self) noexcept { return record_of<SEOContract>(self); }

// A core error of the contract's texts: the built-in ValueError with the
// full display text.
template <class T>
T value_or_value_error(Result<T>&& result) {
  if (!result) raise_value_error_display(result.error());
  return std::move(result).value();
}

PyObject* contract_get_version(PyObject* self, void*) noexcept {
  return guard([&] { return new_str(contract_of(self).contract_version); });
}

PyObject* contract_get_site(PyObject* self, void*) noexcept {
  return guard([&] {
    const ContractSite& site = contract_of(self).site;
    PyRef dict = PyRef::checked(PyDict_New());
    set_item(dict.get(), g_canonical_host, new_str(site.canonical_host));
    set_item(dict.get(), g_scheme, new_str(site.scheme));
    return dict;
  });
}

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

const char* const kPathKeywords[] = {"path", nullptr};
ArgParser write_args{"O:write", kPathKeywords};

// A failed write is the built-in OSError carrying the display text
// ("serialization error: failed to write contract: ...").
PyObject* contract_write(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    PyObject* path = nullptr;
    write_args.parse_fastcall(args, nargs, kwnames, &path);
    const std::string_view path_text = str_view_arg(path, "path");
    // The system call would stop at the NUL and write another file.
    if (path_text.find('\0') != std::string_view::npos) {
      PyErr_SetString(PyExc_ValueError, "embedded null byte");
      fail_argument("path");
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

PyGetSetDef contract_getset[] = {
    {"contract_version", contract_get_version, nullptr, "Version of the contract format itself.", nullptr},
    {"site", contract_get_site, nullptr, "Site identity stored in the contract.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef contract_methods[] = {
    {"hash", as_pycfunction(contract_hash), METH_NOARGS,
     "hash($self)\n--\n\nReturns the SHA-256 hash of the serialized contract."},
    {"to_json", as_pycfunction(contract_to_json), METH_NOARGS,
     "to_json($self)\n--\n\nReturns the contract as pretty printed JSON."},
    {"to_dict", as_pycfunction(contract_to_dict), METH_NOARGS,
     "to_dict($self)\n--\n\nReturns the contract as a dictionary."},
    {"write", as_pycfunction(contract_write), METH_FASTCALL | METH_KEYWORDS,
     "write($self, path)\n--\n\nWrites the contract as JSON to the given path."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot contract_slots[] = {
    {Py_tp_dealloc, as_slot(record_dealloc<SEOContract>)},
    {Py_tp_getset, contract_getset},
    {Py_tp_methods, contract_methods},
    {Py_tp_doc, const_cast<char*>("A generated, machine-readable SEO contract.")},
    {0, nullptr},
};
PyType_Spec contract_spec{"_quarlo_native.SEOContract", sizeof(RecordObject<SEOContract>), 0,
                          kNoConstructorTypeFlags, contract_slots};
TypeCell contract_type{contract_spec};

// -------------------------------------------------------------- functions

const char* const kContractConfigKeywords[] = {"config", nullptr};
ArgParser build_contract_args{"O:build_seo_contract", kContractConfigKeywords};

PyObject* build_seo_contract_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    PyObject* config = nullptr;
    build_contract_args.parse_fastcall(args, nargs, kwnames, &config);
    const SEOContractConfig& core_config =
        record_of<SEOContractConfig>(instance_arg(config, config_type.get(), "config"));
    return new_record_object(contract_type.get(), quarlo::build_seo_contract(core_config));
  });
}

}  // namespace

PyTypeObject* seo_expectation_type() { return expectation_type.get(); }
PyTypeObject* seo_contract_rule_type() { return rule_type.get(); }
PyTypeObject* seo_contract_config_type() { return config_type.get(); }
PyTypeObject* seo_contract_type() { return contract_type.get(); }

PyMethodDef build_seo_contract_def{
    "build_seo_contract", as_pycfunction(build_seo_contract_fn), METH_FASTCALL | METH_KEYWORDS,
    "build_seo_contract(config)\n--\n\n"
    "Builds a machine-readable SEO contract.\n"
    "\n"
    "Raises:\n"
    "    ContractError: If contract generation fails."};

}  // namespace quarlo::py
