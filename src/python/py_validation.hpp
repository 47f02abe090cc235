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

extern PyMethodDef validate_payload_def;

}  // namespace quarlo::py
