// The contract classes (SEOExpectation, SEOContractRule, SEOContractConfig,
// SEOContract), the validation finding class SEOIssue, and the functions
// validate_payload and build_seo_contract.
//
// All five classes are final and immutable. SEOContract and SEOIssue have no
// constructor: only build_seo_contract and validate_payload make them.
#pragma once

#include <Python.h>

namespace quarlo::py {

// The class objects, created on first use; throw PyErrorAlreadySet if that
// fails.
PyTypeObject* seo_expectation_type();
PyTypeObject* seo_contract_rule_type();
PyTypeObject* seo_contract_config_type();
PyTypeObject* seo_contract_type();
PyTypeObject* seo_issue_type();

extern PyMethodDef validate_payload_def;
extern PyMethodDef build_seo_contract_def;

}  // namespace quarlo::py
