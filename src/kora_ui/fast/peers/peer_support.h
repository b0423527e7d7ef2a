// Helpers shared by the peer type modules in this directory (not among the
// declarations other modules compile against).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cfloat>
#include <climits>
#include <cmath>

namespace kora::peers::support {

// Function pointer to the void * that PyType_Slot / PyModuleDef_Slot hold.
template <typename F>
void *slot_fn(F *fn) {
    return reinterpret_cast<void *>(fn);
}

// Double to float with IEEE round-to-nearest overflow behaviour, without the
// undefined conversion of an out-of-range value: magnitudes that round above
// FLT_MAX become infinity, those that round down to it become FLT_MAX.
inline float to_f32(double v) {
    constexpr double kOverflow = 0x1.ffffffp127;  // FLT_MAX plus half an ulp
    if (std::fabs(v) > static_cast<double>(FLT_MAX)) {
        if (std::fabs(v) >= kOverflow) {
            return std::signbit(v) ? -INFINITY : INFINITY;
        }
        return std::signbit(v) ? -FLT_MAX : FLT_MAX;
    }
    return static_cast<float>(v);
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

// Stores vtable in type's dict as "__pyx_vtable__", an unnamed capsule.
inline int publish_vtable(PyTypeObject *type, void *vtable) {
    PyObject *capsule = PyCapsule_New(vtable, nullptr, nullptr);
    if (capsule == nullptr) {
        return -1;
    }
    int rc = PyObject_SetAttrString(reinterpret_cast<PyObject *>(type), "__pyx_vtable__", capsule);
    Py_DECREF(capsule);
    return rc;
}

// New reference to module.name, checked to be a type.
inline PyTypeObject *import_type(const char *module, const char *name) {
    PyObject *mod = PyImport_ImportModule(module);
    if (mod == nullptr) {
        return nullptr;
    }
    PyObject *obj = PyObject_GetAttrString(mod, name);
    Py_DECREF(mod);
    if (obj == nullptr) {
        return nullptr;
    }
    if (!PyType_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s.%s is not a type", module, name);
        Py_DECREF(obj);
        return nullptr;
    }
    return reinterpret_cast<PyTypeObject *>(obj);
}

// The vtable a type published with publish_vtable, or NULL with an exception.
inline void *get_vtable(PyTypeObject *type) {
    PyObject *capsule = PyObject_GetAttrString(reinterpret_cast<PyObject *>(type), "__pyx_vtable__");
    if (capsule == nullptr) {
        return nullptr;
    }
    void *ptr = PyCapsule_GetPointer(capsule, nullptr);
    Py_DECREF(capsule);
    return ptr;
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
    if (publish_vtable(tp, vtable) < 0 || PyModule_AddType(module, tp) < 0) {
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

// The module definition of a stand-in: its exec step adds the type. The
// method tables' allocating entries use process-wide type objects, so the
// modules load into one interpreter only.
#define KORA_PEER_MODULE(init_name, dotted_name, doc, exec_fn)                                             \
    namespace {                                                                                            \
    PyModuleDef_Slot init_name##_slots[] = {                                                               \
        {Py_mod_exec, ::kora::peers::support::slot_fn(exec_fn)},                                           \
        {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},                        \
        {Py_mod_gil, Py_MOD_GIL_USED},                                                                     \
        {0, nullptr},                                                                                      \
    };                                                                                                     \
    PyModuleDef init_name##_def = {                                                                        \
        PyModuleDef_HEAD_INIT, dotted_name, doc, 0, nullptr, init_name##_slots, nullptr, nullptr, nullptr, \
    };                                                                                                     \
    }                                                                                                      \
    PyMODINIT_FUNC PyInit_##init_name(void) { return PyModuleDef_Init(&init_name##_def); }
