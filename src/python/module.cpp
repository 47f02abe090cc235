// Placeholder entry point; replaced by the module frame.
#include <Python.h>

static PyModuleDef_Slot quarlo_slots[] = {{0, nullptr}};
static PyModuleDef quarlo_module = {PyModuleDef_HEAD_INIT, "_quarlo_native", nullptr, 0, nullptr, quarlo_slots, nullptr, nullptr, nullptr};
PyMODINIT_FUNC PyInit__quarlo_native(void) { return PyModuleDef_Init(&quarlo_module); }
