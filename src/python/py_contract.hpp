// The contract classes (SEOExpectation, SEOContractRule, SEOContractConfig,
// SEOContract) and the function build_seo_contract.
//
// All four classes are final and immutable. SEOContract has no constructor:
// only build_seo_contract makes it.
#pragma once

#include <Python.h>

namespace quarlo::py {

// The class objects, created on first use; throw PyErrorAlreadySet if that
// fails.
PyTypeObject* seo_expectation_type();
PyTypeObject* seo_contract_rule_type();
PyTypeObject* seo_contract_config_type();
PyTypeObject* seo_contract_type();

// build_seo_contract_def, the function's method definition, is declared with
// the module's other members in python/interface/tables.hpp.

}  // namespace quarlo::py
