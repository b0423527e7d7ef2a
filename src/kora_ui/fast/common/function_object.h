// The instance layout of the shared function type (internal to the frame).
#pragma once

#include "kora_ui/fast/common/function.h"

namespace kora {

struct FunctionObject {
    PyObject_HEAD vectorcallfunc vectorcall;
    const FuncDef *def;
    PyObject *self;  // the module (for module functions)
    PyObject *globals;
    PyObject *name;
    PyObject *qualname;
    PyObject *module;
    PyObject *doc;
    PyObject *dict;
    PyObject *code;
    PyObject *defaults;
    PyObject *kwdefaults;
    PyObject *annotations;
    PyObject *weakreflist;
};

// Finds the function type another module of the package registered, or
// registers ours; -1 with an exception on failure.
int obtain_function_type();

// The function type obtained by obtain_function_type.
extern PyTypeObject *g_function_type;

}  // namespace kora
