// Cross-module tables: importing a peer type with its size check and C-level
// method table (`__pyx_vtable__`), and publishing ours. Free of module state,
// so the stand-in peers use it too.

#include "kora_ui/fast/common/tables.h"

namespace kora {

PyTypeObject *import_type(const char *module_name, const char *type_name) {
    Ref module = Ref::steal(PyImport_ImportModule(module_name));
    if (!module) return nullptr;
    Ref type = Ref::steal(PyObject_GetAttrString(module.get(), type_name));
    if (!type) return nullptr;
    if (!PyType_Check(type.get())) {
        PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", module_name, type_name);
        return nullptr;
    }
    return reinterpret_cast<PyTypeObject *>(type.release());
}

namespace {

// A type smaller than the compiled layout is refused; a bigger one warns.
int check_type_size(PyTypeObject *tp, const char *module_name, const char *type_name, Py_ssize_t expected_size) {
    Py_ssize_t basic = tp->tp_basicsize;
    Py_ssize_t item = tp->tp_itemsize;
    Py_ssize_t got = item ? basic + (item > 8 ? item : 8) : basic;
    if (got < expected_size) {
        PyErr_Format(PyExc_ValueError,
                     "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from C header, "
                     "got %zd from PyObject",
                     module_name, type_name, expected_size, got);
        return -1;
    }
    if (basic > expected_size) {
        return PyErr_WarnFormat(PyExc_RuntimeWarning, 0,
                                "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from C "
                                "header, got %zd from PyObject",
                                module_name, type_name, expected_size, basic);
    }
    return 0;
}

}  // namespace

int type_vtable(PyTypeObject *tp, void **vtable_out) {
    Ref key = Ref::steal(PyUnicode_InternFromString("__pyx_vtable__"));
    if (!key) return -1;
    Ref type_dict = Ref::steal(PyType_GetDict(tp));
    if (!type_dict) return -1;
    PyObject *cap = nullptr;
    int found = PyDict_GetItemRef(type_dict.get(), key.get(), &cap);
    if (found < 0) return -1;
    if (found == 0) {
        PyErr_SetObject(PyExc_KeyError, key.get());
        return -1;
    }
    Ref capref = Ref::steal(cap);
    // Anything but a capsule is refused before it is asked for its name,
    // which would raise. A capsule always holds a pointer under its own name.
    if (!PyCapsule_CheckExact(cap)) {
        PyErr_SetString(PyExc_RuntimeError, "invalid vtable found for imported type");
        return -1;
    }
    *vtable_out = PyCapsule_GetPointer(cap, PyCapsule_GetName(cap));
    return 0;
}

int import_peer_type(const char *module_name, const char *type_name, Py_ssize_t expected_size, PyTypeObject **type_out,
                     void **vtable_out) {
    Ref type = Ref::steal(reinterpret_cast<PyObject *>(import_type(module_name, type_name)));
    if (!type) return -1;
    auto *tp = reinterpret_cast<PyTypeObject *>(type.get());
    if (check_type_size(tp, module_name, type_name, expected_size) < 0) return -1;
    if (vtable_out && type_vtable(tp, vtable_out) < 0) return -1;
    *type_out = reinterpret_cast<PyTypeObject *>(type.release());  // kept for the life of the process
    return 0;
}

int check_builtin_type_size() {
    PyTypeObject *type = nullptr;
    return import_peer_type("builtins", "type", static_cast<Py_ssize_t>(sizeof(PyHeapTypeObject)), &type, nullptr);
}

int publish_vtable(PyTypeObject *type, void *vtable) {
    Ref capsule = Ref::steal(PyCapsule_New(vtable, nullptr, nullptr));
    if (!capsule) return -1;
    if (PyDict_SetItemString(type->tp_dict, "__pyx_vtable__", capsule.get()) < 0) return -1;
    PyType_Modified(type);
    return 0;
}

}  // namespace kora
