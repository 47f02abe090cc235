// SEOIssue, the validation finding, and validate_payload (their members,
// signatures and docstrings: interface/description.py). Only
// validate_payload makes an SEOIssue; `details` is a new dict on every read.
#include "python/py_validation.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/json.hpp"
#include "core/validation/validation.hpp"
#include "python/interface/tables.hpp"
#include "python/py_payload.hpp"
#include "python/runtime/args.hpp"
#include "python/runtime/cell.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/interface.hpp"
#include "python/runtime/module.hpp"
#include "python/runtime/record_object.hpp"
#include "python/runtime/repr.hpp"

namespace quarlo::py {
namespace {

// --------------------------------------------------------------- SEOIssue

// A finding as Python reads it: the details kept as compact JSON text and
// parsed again on every read, so each read gives a new dict.
struct IssueRecord {
  std::string rule_id;
  std::string_view severity;  // "error", "warning" or "info" (static text)
  std::string message;
  std::optional<std::string> url;
  std::string details;
};

PyObject* issue_get_severity(PyObject* self, void*) noexcept {
  return guard([&] { return new_str(record_of<IssueRecord>(self).severity); });
}

// An empty dict when the text does not parse (it always does).
PyObject* issue_get_details(PyObject* self, void*) noexcept {
  return guard([&] {
    Result<Json> value = parse_json(record_of<IssueRecord>(self).details);
    if (!value) return PyRef::checked(PyDict_New());
    return json_to_pydict(*value);
  });
}

namespace issue_api = iface::SEOIssue;

PyGetSetDef issue_getset[] = {
    property_def(issue_api::rule_id, get_field<&IssueRecord::rule_id>),
    property_def(issue_api::severity, issue_get_severity),
    property_def(issue_api::message, get_field<&IssueRecord::message>),
    property_def(issue_api::url, get_field<&IssueRecord::url>),
    property_def(issue_api::details, issue_get_details),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot issue_slots[] = {
    {Py_tp_dealloc, as_slot(record_dealloc<IssueRecord>)},
    {Py_tp_getset, issue_getset},
    {Py_tp_doc, const_cast<char*>(issue_api::kDoc)},
    {Py_tp_repr, as_slot(properties_repr<issue_api::kProperties>)},
    {0, nullptr},
};
PyType_Spec issue_spec{issue_api::kQualifiedName, sizeof(RecordObject<IssueRecord>), 0, kNoConstructorTypeFlags,
                       issue_slots};
TypeCell issue_type{issue_spec};

PyRef new_issue(SEOIssue&& issue) {
  IssueRecord record{std::move(issue.rule_id), severity_name(issue.severity), std::move(issue.message),
                     std::move(issue.url), write_json(issue.details, JsonLayout::Compact)};
  return new_record_object(issue_type.get(), std::move(record));
}

PyObject* validate_payload_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    iface::validate_payload a;
    a.parse(args, nargs, kwnames);
    std::vector<SEOIssue> issues = quarlo::validate(unwrap_seo_payload(instance_arg(a.payload, seo_payload_type())));
    PyRef list = PyRef::checked(PyList_New(static_cast<Py_ssize_t>(issues.size())));
    Py_ssize_t i = 0;
    for (SEOIssue& issue : issues) PyList_SetItem(list.get(), i++, new_issue(std::move(issue)).release());
    return list;
  });
}

}  // namespace

PyTypeObject* seo_issue_type() { return issue_type.get(); }

PyMethodDef validate_payload_def = method_def<iface::validate_payload>(validate_payload_fn);

}  // namespace quarlo::py
