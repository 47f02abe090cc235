// The validation finding class SEOIssue and the function validate_payload.
//
// SEOIssue is final and immutable and has no constructor: only
// validate_payload makes it.
#pragma once

#include <Python.h>

namespace quarlo::py {

// The class object, created on first use; throws PyErrorAlreadySet if that
// fails.
PyTypeObject* seo_issue_type();

// validate_payload_def, the function's method definition, is declared with
// the module's other members in python/interface/tables.hpp.

}  // namespace quarlo::py
