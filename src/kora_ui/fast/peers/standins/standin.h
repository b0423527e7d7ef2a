// Helpers shared by the stand-in peer modules in this directory, on top of
// the frame's cross-module tables and conversions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <climits>
#include <cmath>

#include "kora_ui/fast/common/convert.h"
#include "kora_ui/fast/common/tables.h"

namespace kora::peers::support {

// Function pointer to the void * that PyType_Slot / PyModuleDef_Slot hold.
template <typename F>
void *slot_fn(F *fn) {
    return reinterpret_cast<void *>(fn);
}

// Truncates toward zero, saturating to the int range; NaN gives 0.
inline int trunc_to_int(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    if (v >= 2147483648.0) {
        return INT_MAX;
    }
    if (v <= -2147483649.0) {
        return INT_MIN;
    }
    return static_cast<int>(v);
}

// Creates the type that desc describes, bound to module, adds it to the
// module, publishes vtable on it and keeps a strong reference in *keep (for
// vtable functions that allocate instances). Returns 0 or -1 with an exception.
inline int add_type(PyObject *module, PyType_Spec *desc, void *vtable, PyTypeObject **keep) {
    PyObject *type = PyType_FromModuleAndSpec(module, desc, nullptr);
    if (type == nullptr) {
        return -1;
    }
    auto *tp = reinterpret_cast<PyTypeObject *>(type);
    if (::kora::publish_vtable(tp, vtable) < 0 || PyModule_AddType(module, tp) < 0) {
        Py_DECREF(type);
        return -1;
    }
    Py_XSETREF(*keep, tp);
    return 0;
}

// Raises TypeError for attribute deletion; returns -1.
inline int no_delete(const char *name) {
    PyErr_Format(PyExc_TypeError, "cannot delete attribute '%s'", name);
    return -1;
}

}  // namespace kora::peers::support

namespace kora::peers::support {

// The module definition of a stand-in, whose exec step adds the type; returns
// what PyInit_* returns. The method tables' allocating entries use
// process-wide type objects, so the modules load into one interpreter only.
template <int (*Exec)(PyObject *)>
PyObject *define_standin(const char *dotted_name, const char *doc) {
    static PyModuleDef_Slot slots[] = {
        {Py_mod_exec, slot_fn(Exec)},
        {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
        {Py_mod_gil, Py_MOD_GIL_USED},
        {0, nullptr},
    };
    static PyModuleDef def = {
        PyModuleDef_HEAD_INIT, dotted_name, doc, 0, nullptr, slots, nullptr, nullptr, nullptr,
    };
    return PyModuleDef_Init(&def);
}

}  // namespace kora::peers::support
