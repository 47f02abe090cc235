// URL functions of the module: route and public URL normalisation and
// tracking-parameter removal. Their method definitions (<name>_def) are
// declared with the module's other members in python/interface/tables.hpp.
#pragma once

#include <Python.h>
