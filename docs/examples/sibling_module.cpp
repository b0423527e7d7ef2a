// sibling_module: a native module of the package that calls kora_raylib's
// exported routines and Cache's C-level method table directly, without going
// through Python calls. See docs/api.md, "For native sibling modules".
//
//   blank()                        clear the target with {0, 0, 0, 0}
//   location(shader, name)         uniform location of a KrShader
//   remember(cache, index, value)  Cache slot `index`: stored value or `value`
//
// Build it like the package's modules: C++20, the Python headers and the
// package's src/ directory on the include path, linked as a shared module.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kora_ui/fast/koracache/koracache.h"
#include "kora_ui/fast/raylib/kora_raylib.h"

namespace {

namespace rl = kora::raylib;
namespace kc = kora::koracache;

// Taken once at import and kept for the life of the process.
decltype(&rl::c_clear_background_blank) p_clear_blank = nullptr;
decltype(&rl::get_krshader_location) p_get_location = nullptr;
const kc::CacheVTable *cache_table = nullptr;
PyTypeObject *cache_type = nullptr;
PyTypeObject *krshader_type = nullptr;

// `name` from the export table, refused unless its capsule carries exactly
// `signature` (the kora::raylib::sig strings).
template <class F>
bool import_routine(PyObject *capi, const char *name, const char *signature, F &out) {
    PyObject *capsule = nullptr;
    if (PyDict_GetItemStringRef(capi, name, &capsule) <= 0) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_ImportError, "kora_raylib does not export %s", name);
        return false;
    }
    void *address = PyCapsule_GetPointer(capsule, signature);  // ValueError on another signature
    Py_DECREF(capsule);                                        // the module keeps the capsule alive
    if (!address) return false;
    out = reinterpret_cast<F>(address);
    return true;
}

PyTypeObject *import_type(const char *module_name, const char *type_name) {
    PyObject *module = PyImport_ImportModule(module_name);
    if (!module) return nullptr;
    PyObject *type = PyObject_GetAttrString(module, type_name);
    Py_DECREF(module);
    if (type && !PyType_Check(type)) {
        PyErr_Format(PyExc_TypeError, "%s.%s is not a type", module_name, type_name);
        Py_CLEAR(type);
    }
    return reinterpret_cast<PyTypeObject *>(type);
}

bool import_kora() {
    PyObject *raylib = PyImport_ImportModule("kora_ui.fast.raylib.kora_raylib");
    if (!raylib) return false;
    PyObject *capi = PyObject_GetAttrString(raylib, "__pyx_capi__");
    Py_DECREF(raylib);
    if (!capi) return false;
    bool ok = import_routine(capi, "c_clear_background_blank", rl::sig::c_clear_background_blank, p_clear_blank) &&
              import_routine(capi, "get_krshader_location", rl::sig::get_krshader_location, p_get_location);
    Py_DECREF(capi);
    if (!ok) return false;

    // Cache's table: the unnamed capsule under __pyx_vtable__ in the type's dict.
    if (!(cache_type = import_type("kora_ui.fast.koracache.koracache", "Cache"))) return false;
    PyObject *capsule = PyObject_GetAttrString(reinterpret_cast<PyObject *>(cache_type), "__pyx_vtable__");
    if (!capsule) return false;
    cache_table = static_cast<const kc::CacheVTable *>(PyCapsule_GetPointer(capsule, nullptr));
    Py_DECREF(capsule);
    if (!cache_table) return false;

    krshader_type = import_type("kora_ui.fast.krshader.krshader", "KrShader");
    return krshader_type != nullptr;
}

PyObject *blank(PyObject *, PyObject *) {
    p_clear_blank();
    if (PyErr_Occurred()) return nullptr;  // void routines report through the error indicator
    Py_RETURN_NONE;
}

PyObject *location(PyObject *, PyObject *args) {
    PyObject *shader, *name;
    if (!PyArg_ParseTuple(args, "O!O", krshader_type, &shader, &name)) return nullptr;
    // The routines trust their arguments: check types before calling.
    int loc = p_get_location(reinterpret_cast<rl::KrShaderObject *>(shader), name, 0);
    if (loc == -1 && PyErr_Occurred()) return nullptr;  // -1 alone is raylib's "unknown name"
    return PyLong_FromLong(loc);
}

PyObject *remember(PyObject *, PyObject *args) {
    PyObject *cache, *value;
    int index;
    if (!PyArg_ParseTuple(args, "O!iO", cache_type, &cache, &index, &value)) return nullptr;
    auto *self = reinterpret_cast<kc::CacheObject *>(cache);
    return cache_table->c_get_or_set_val(self, index, value);  // new reference or null
}

PyMethodDef methods[] = {
    {"blank", blank, METH_NOARGS, nullptr},
    {"location", location, METH_VARARGS, nullptr},
    {"remember", remember, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "sibling_module", nullptr, -1, methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_sibling_module() {
    if (!import_kora()) return nullptr;
    return PyModule_Create(&module_def);
}
