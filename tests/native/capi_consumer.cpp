// kora_capi_consumer: a test module that uses kora_raylib's exported routines
// and Cache's C-level method table exactly as a sibling native module does.
// At import it takes every routine from `__pyx_capi__` with the signature it
// was compiled against and Cache's table from `__pyx_vtable__`; its functions
// convert their arguments to the C parameter types and call the pointers.
//
//   call(name, *args)          one exported routine; every C parameter is given, the dispatch flag included
//   call_pending(name, *args)  as call, with RuntimeError("pending") set just before the routine runs
//   cache_call(entry, *args)   one entry of Cache's table, by its field's name (`new_` takes none); the same
//                              function as call, which takes the names of both
//   capsule_pointer(name, signature)  the capsule's address taken with any signature (a wrong one is refused)
//   signatures                 dict: routine name -> compiled-in signature
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "kora_ui/fast/koracache/koracache.h"
#include "kora_ui/fast/raylib/kora_raylib.h"

namespace {

namespace rl = kora::raylib;
using kora::koracache::CacheObject;
using kora::koracache::CacheVTable;

#define KORA_DECLARE(name) decltype(&rl::name) p_##name = nullptr;
KORA_RAYLIB_CAPI(KORA_DECLARE)
#undef KORA_DECLARE
#define KORA_CACHE_ENTRIES(X) \
    X(c_clear) X(c_clear_selected) X(c_get) X(c_set) X(c_get_or_set_val) X(c_get_or_exec) X(new_)

// Owned for the life of the process, like any sibling module's imports.
PyObject *g_capi = nullptr;
const CacheVTable *g_cache_vtab = nullptr;
PyTypeObject *g_types[5] = {};  // indexed by peer_index

// Index into g_types of each peer type a parameter can have.
template <class T>
constexpr int peer_index = std::is_same_v<T, rl::KrShaderObject>          ? 0
                           : std::is_same_v<T, rl::KrVector2Object>       ? 1
                           : std::is_same_v<T, rl::KrRectObject>          ? 2
                           : std::is_same_v<T, rl::KrRenderTextureObject> ? 3
                                                                          : 4;  // CacheObject

// Python argument -> C parameter; false with an exception set.
bool convert(PyObject *o, PyObject *&out) {
    out = o;
    return true;
}

bool convert(PyObject *o, int &out) {
    out = PyLong_AsInt(o);
    return out != -1 || !PyErr_Occurred();
}

bool convert(PyObject *o, float &out) {
    double d = PyFloat_AsDouble(o);
    if (d == -1.0 && PyErr_Occurred()) return false;
    if (std::isfinite(d) && std::fabs(d) > FLT_MAX) {  // the conversion would be undefined
        PyErr_SetString(PyExc_OverflowError, "out of C float range");
        return false;
    }
    out = static_cast<float>(d);
    return true;
}

// Peer-typed parameters: the Python instance itself (a subclass passes).
template <class T>
bool convert(PyObject *o, T *&out) {
    PyTypeObject *type = g_types[peer_index<T>];
    if (!PyObject_TypeCheck(o, type)) {
        PyErr_Format(PyExc_TypeError, "expected %s, got %s", type->tp_name, Py_TYPE(o)->tp_name);
        return false;
    }
    out = reinterpret_cast<T *>(o);
    return true;
}

// An item of a vec4 array (float items are converted as float parameters).
bool convert(PyObject *o, rl::Vector4 &out) { return PyArg_ParseTuple(o, "ffff", &out.x, &out.y, &out.z, &out.w); }

// Array parameters: built from a list (may throw std::bad_alloc).
template <class T>
bool convert(PyObject *o, std::vector<T> &out) {
    if (!PyList_Check(o)) {
        PyErr_Format(PyExc_TypeError, "expected list, got %s", Py_TYPE(o)->tp_name);
        return false;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(o); ++i) {
        T item{};
        if (!convert(PyList_GET_ITEM(o, i), item)) return false;
        out.push_back(item);
    }
    return true;
}

// Converts `args` to f's parameters, calls f (arrays passed by value: f gets
// its own copy) and turns the outcome into a Python result. Pending: an error
// is set after the conversions, before f runs.
template <bool Pending, class R, class... A>
PyObject *invoke(R (*f)(A...), PyObject *const *args, Py_ssize_t nargs) {
    if (nargs != static_cast<Py_ssize_t>(sizeof...(A)))
        return PyErr_Format(PyExc_TypeError, "expected %zu arguments, got %zd", sizeof...(A), nargs);
    std::tuple<std::remove_cvref_t<A>...> c{};
    bool ok = [&]<std::size_t... I>(std::index_sequence<I...>) { return (convert(args[I], std::get<I>(c)) && ...); }
    (std::index_sequence_for<A...>{});
    if (!ok) return nullptr;
    if (Pending) PyErr_SetString(PyExc_RuntimeError, "pending");
    if constexpr (std::is_void_v<R>) {
        std::apply(f, c);
        if (PyErr_Occurred()) return nullptr;  // void routines report failure only this way
        Py_RETURN_NONE;
    } else if constexpr (std::is_same_v<R, int>) {
        int r = std::apply(f, c);
        if (r == -1 && PyErr_Occurred()) return nullptr;
        return PyLong_FromLong(r);
    } else {
        return reinterpret_cast<PyObject *>(std::apply(f, c));  // new reference or null
    }
}

// One exported routine or one entry of Cache's table, by its name.
template <bool Pending>
PyObject *call(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs < 1 || !PyUnicode_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError, "the first argument must be a name");
        return nullptr;
    }
    const char *name = PyUnicode_AsUTF8(args[0]);
    if (!name) return nullptr;
    try {
#define KORA_DISPATCH(r) \
    if (std::strcmp(name, #r) == 0) return invoke<Pending>(p_##r, args + 1, nargs - 1);
        KORA_RAYLIB_CAPI(KORA_DISPATCH)
#undef KORA_DISPATCH
#define KORA_DISPATCH(entry) \
    if (std::strcmp(name, #entry) == 0) return invoke<Pending>(g_cache_vtab->entry, args + 1, nargs - 1);
        KORA_CACHE_ENTRIES(KORA_DISPATCH)
#undef KORA_DISPATCH
    } catch (const std::bad_alloc &) {
        return PyErr_NoMemory();
    }
    return PyErr_Format(PyExc_KeyError, "no exported routine or Cache entry %s", name);
}

// The capsule's pointer as taken with `signature` (ValueError if it differs).
void *take(const char *name, const char *signature) {
    PyObject *capsule = nullptr;
    if (PyDict_GetItemStringRef(g_capi, name, &capsule) <= 0) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_KeyError, "%s is not exported", name);
        return nullptr;
    }
    void *p = PyCapsule_GetPointer(capsule, signature);
    Py_DECREF(capsule);
    return p;
}

PyObject *capsule_pointer(PyObject *, PyObject *args) {
    const char *name, *signature;
    if (!PyArg_ParseTuple(args, "ss", &name, &signature)) return nullptr;
    void *p = take(name, signature);
    return p ? PyLong_FromVoidPtr(p) : nullptr;
}

int exec_module(PyObject *module) {
    static const char *const peers[][2] = {
        {kora::peers::kKrShaderModule, kora::peers::kKrShaderTypeName},
        {kora::peers::kKrVector2Module, kora::peers::kKrVector2TypeName},
        {kora::peers::kKrRectModule, kora::peers::kKrRectTypeName},
        {kora::peers::kKrRenderTextureModule, kora::peers::kKrRenderTextureTypeName},
        {"kora_ui.fast.koracache.koracache", "Cache"},
    };
    for (int i = 0; i < 5; ++i) {
        PyObject *type = PyImport_ImportModuleAttrString(peers[i][0], peers[i][1]);
        if (!type) return -1;
        if (!PyType_Check(type)) {
            Py_DECREF(type);
            PyErr_Format(PyExc_TypeError, "%s.%s is not a type", peers[i][0], peers[i][1]);
            return -1;
        }
        Py_XSETREF(g_types[i], reinterpret_cast<PyTypeObject *>(type));
    }
    PyObject *capi = PyImport_ImportModuleAttrString("kora_ui.fast.raylib.kora_raylib", "__pyx_capi__");
    if (!capi) return -1;
    Py_XSETREF(g_capi, capi);
#define KORA_TAKE(r) \
    if (!(p_##r = reinterpret_cast<decltype(p_##r)>(take(#r, rl::sig::r)))) return -1;
    KORA_RAYLIB_CAPI(KORA_TAKE)
#undef KORA_TAKE

    // The table's capsule, found on the type as an attribute.
    PyObject *capsule = PyObject_GetAttrString(reinterpret_cast<PyObject *>(g_types[4]), "__pyx_vtable__");
    if (!capsule) return -1;
    g_cache_vtab = static_cast<const CacheVTable *>(PyCapsule_GetPointer(capsule, nullptr));
    Py_DECREF(capsule);
    if (!g_cache_vtab) return -1;

        // Py_BuildValue ignores the trailing null, there only to end the argument list.
#define KORA_FORMAT(r) "ss"
#define KORA_ROW(r) #r, rl::sig::r,
    return PyModule_Add(module, "signatures",
                        Py_BuildValue("{" KORA_RAYLIB_CAPI(KORA_FORMAT) "}", KORA_RAYLIB_CAPI(KORA_ROW) nullptr));
#undef KORA_ROW
#undef KORA_FORMAT
}

PyCFunction fastcall(PyObject *(*f)(PyObject *, PyObject *const *, Py_ssize_t)) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef methods[] = {
    {"call", fastcall(call<false>), METH_FASTCALL, nullptr},
    {"call_pending", fastcall(call<true>), METH_FASTCALL, nullptr},
    {"cache_call", fastcall(call<false>), METH_FASTCALL, nullptr},
    {"capsule_pointer", capsule_pointer, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void *>(exec_module)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "kora_capi_consumer", nullptr, 0, methods, slots, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_kora_capi_consumer(void) { return PyModuleDef_Init(&module_def); }
