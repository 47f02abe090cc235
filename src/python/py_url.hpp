// URL functions of the module: route and public URL normalisation and
// tracking-parameter removal.
#pragma once

#include <Python.h>

namespace quarlo::py {

extern PyMethodDef normalize_path_fn_def;
extern PyMethodDef normalize_public_url_fn_def;
extern PyMethodDef clean_url_fn_def;
extern PyMethodDef clean_query_fn_def;

}  // namespace quarlo::py
