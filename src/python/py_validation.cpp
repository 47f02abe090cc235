// SEOIssue, the validation finding, and validate_payload.
//
//   @final class SEOIssue:            # only from validate_payload
//       rule_id: str; severity: str; message: str; url: str | None
//       details: dict (a new dict on every read)
#include "python/py_validation.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/json.hpp"
#include "core/validation/validation.hpp"
#include "python/py_payload.hpp"
#include "python/runtime/args.hpp"
#include "python/runtime/cell.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/fast_args.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/module.hpp"
#include "python/runtime/record_object.hpp"

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

PyGetSetDef issue_getset[] = {
    {"rule_id", get_field<&IssueRecord::rule_id>, nullptr, "Stable rule identifier, for example ``\"QUARLO101\"``.",
     nullptr},
    {"severity", issue_get_severity, nullptr, "Severity, one of ``\"error\"``, ``\"warning\"``, or ``\"info\"``.",
     nullptr},
    {"message", get_field<&IssueRecord::message>, nullptr, "Human readable description of the finding.", nullptr},
    {"url", get_field<&IssueRecord::url>, nullptr, "Canonical URL the finding applies to.", nullptr},
    {"details", issue_get_details, nullptr, "Additional structured details about the finding.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot issue_slots[] = {
    {Py_tp_dealloc, as_slot(record_dealloc<IssueRecord>)},
    {Py_tp_getset, issue_getset},
    {Py_tp_doc, const_cast<char*>("A single validation finding.")},
    {0, nullptr},
};
PyType_Spec issue_spec{"_quarlo_native.SEOIssue", sizeof(RecordObject<IssueRecord>), 0, kNoConstructorTypeFlags,
                       issue_slots};
TypeCell issue_type{issue_spec};

PyRef new_issue(SEOIssue&& issue) {
  IssueRecord record{std::move(issue.rule_id), severity_name(issue.severity), std::move(issue.message),
                     std::move(issue.url), write_json(issue.details, JsonLayout::Compact)};
  return new_record_object(issue_type.get(), std::move(record));
}

const char* const kPayloadKeywords[] = {"payload", nullptr};
ArgParser validate_args{"O:validate_payload", kPayloadKeywords};
PyObject* validate_payload_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    PyObject* payload = nullptr;
    validate_args.parse_fastcall(args, nargs, kwnames, &payload);
    std::vector<SEOIssue> issues =
        quarlo::validate(unwrap_seo_payload(instance_arg(payload, seo_payload_type(), "payload")));
    PyRef list = PyRef::checked(PyList_New(static_cast<Py_ssize_t>(issues.size())));
    Py_ssize_t i = 0;
    for (SEOIssue& issue : issues) PyList_SetItem(list.get(), i++, new_issue(std::move(issue)).release());
    return list;
  });
}

}  // namespace

PyTypeObject* seo_issue_type() { return issue_type.get(); }

PyMethodDef validate_payload_def{
    "validate_payload", as_pycfunction(validate_payload_fn), METH_FASTCALL | METH_KEYWORDS,
    "validate_payload(payload)\n--\n\n"
    "Runs the built-in validation checks against a payload.\n"
    "\n"
    "Returns:\n"
    "    A list of :class:`SEOIssue` findings, empty when the payload passes."};

}  // namespace quarlo::py
