// The payload functions of the module (build_seo_payload,
// build_seo_payload_dict, build_seo_payload_with_overrides: their method
// definitions are declared with the module's other members in
// python/interface/tables.hpp) and the pipeline behind them.
//
// Pipeline: the core build, then the configuration's schema registry object
// (has / generate), then its hook object (run("post_process", ...)), then
// the validation findings as Python warnings when emit_warnings is set.
#pragma once

#include <Python.h>

#include <string_view>

#include "core/model/entity.hpp"
#include "core/payload/payload.hpp"

namespace quarlo::py {

// Runs the whole pipeline. `entity` is an SEOEntity and `config` an
// SEOConfig (borrowed; the caller keeps both alive for the call);
// `overrides` may be null. Throws PyErrorAlreadySet with the error set.
// Never changes its inputs: registry and hook objects get copies of the
// entity and the configuration.
quarlo::SEOPayload build_seo_payload(PyObject* entity, std::string_view route, PyObject* config,
                                     const quarlo::SEOOverrides* overrides);

}  // namespace quarlo::py
