// kr_bench_baseline: what the benchmarks compare the call layer and the cache
// against, written the plain way by hand, plus native loops that time the
// C-level routines the way a sibling native module would call them.
//
//   noop0 .. noop6          builtins that do nothing (METH_NOARGS, METH_FASTCALL)
//   set_draw_target(addr)   the DrawTextureRec that draw_texture_rec calls
//   draw_texture_rec(t, source_rec, position, color)
//                           a minimal binding: five attribute reads, tuple
//                           items, one call through the function pointer
//   cache_get(lst, member)  lst[member.value]
//   SlotCache               a minimal slot cache type: get (METH_O), set
//   capi_loop(module, name, n, *args) / vtable_loop(cache, name, n, idx[, value])
//   call_loop(n)            the cost of the loop, one indirect call to a routine
//                           that returns a new reference, and its release
// Each *_loop returns the CPU time of the calling thread spent on n calls, in
// nanoseconds.
//   cg_zero(), cg_dump(label)  callgrind's counters: reset, and write them out
//                           under a label (no-ops when not run under callgrind)
#include "kora_ui/fast/koracache/koracache.h"
#include "kora_ui/fast/raylib/kora_raylib.h"

#include <valgrind/callgrind.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

namespace rl = kora::rl;
namespace kr = kora::raylib;
using kora::koracache::CacheObject;
using kora::koracache::CacheVTable;

template <class F>
PyCFunction fn(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

bool arity(Py_ssize_t nargs, Py_ssize_t lo, Py_ssize_t hi, const char *name) {
    if (nargs >= lo && nargs <= hi) return true;
    PyErr_Format(PyExc_TypeError, "%s() got %zd arguments", name, nargs);
    return false;
}

// ---------------------------------------------------------------------------
// No-op builtins

PyObject *noop0(PyObject *, PyObject *) { Py_RETURN_NONE; }

template <Py_ssize_t N>
PyObject *noop(PyObject *, PyObject *const *, Py_ssize_t nargs) {
    if (!arity(nargs, N, N, "noop")) return nullptr;
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------------------
// Minimal draw_texture_rec binding

using DrawTextureRecFn = void (*)(rl::Texture2D, rl::Rectangle, rl::Vector2, rl::Color);
DrawTextureRecFn g_draw = nullptr;
PyObject *g_names[6];  // id width height mipmaps format value

PyObject *set_draw_target(PyObject *, PyObject *address) {
    void *p = PyLong_AsVoidPtr(address);
    if (!p && PyErr_Occurred()) return nullptr;
    std::memcpy(&g_draw, &p, sizeof p);
    Py_RETURN_NONE;
}

bool tuple_floats(PyObject *t, float *out, Py_ssize_t n) {
    if (!PyTuple_Check(t) || PyTuple_GET_SIZE(t) < n) {
        PyErr_SetString(PyExc_TypeError, "expected a tuple");
        return false;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        double d = PyFloat_AsDouble(PyTuple_GET_ITEM(t, i));
        if (d == -1.0 && PyErr_Occurred()) return false;
        out[i] = static_cast<float>(d);
    }
    return true;
}

PyObject *draw_texture_rec(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!arity(nargs, 4, 4, "draw_texture_rec")) return nullptr;
    long v[5];
    for (int i = 0; i < 5; ++i) {
        PyObject *a = PyObject_GetAttr(args[0], g_names[i]);
        if (!a) return nullptr;
        v[i] = PyLong_AsLong(a);
        Py_DECREF(a);
        if (v[i] == -1 && PyErr_Occurred()) return nullptr;
    }
    float r[4], p[2];
    if (!tuple_floats(args[1], r, 4) || !tuple_floats(args[2], p, 2)) return nullptr;
    // Colour channels: float conversion, truncated toward zero, low 8 bits.
    float cf[4];
    if (!tuple_floats(args[3], cf, 4)) return nullptr;
    unsigned char c[4];
    for (int i = 0; i < 4; ++i) c[i] = static_cast<unsigned char>(static_cast<std::int32_t>(cf[i]));
    g_draw(rl::Texture2D{static_cast<unsigned>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
                         static_cast<int>(v[3]), static_cast<int>(v[4])},
           rl::Rectangle{r[0], r[1], r[2], r[3]}, rl::Vector2{p[0], p[1]}, rl::Color{c[0], c[1], c[2], c[3]});
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------------------
// Minimal cache reads: a function and a slot type

PyObject *slot_read(PyObject *list, PyObject *member) {
    PyObject *v = PyObject_GetAttr(member, g_names[5]);
    if (!v) return nullptr;
    Py_ssize_t i = PyLong_AsSsize_t(v);
    Py_DECREF(v);
    if (i == -1 && PyErr_Occurred()) return nullptr;
    PyObject *r = PyList_GetItem(list, i);
    return Py_XNewRef(r);
}

PyObject *cache_get(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!arity(nargs, 2, 2, "cache_get")) return nullptr;
    return slot_read(args[0], args[1]);
}

struct SlotCache {
    PyObject_HEAD PyObject *arr;
};

PyObject *slot_cache_new(PyTypeObject *type, PyObject *, PyObject *) {
    auto *self = reinterpret_cast<SlotCache *>(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    if (!(self->arr = PyList_New(32))) {
        Py_DECREF(self);
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < 32; ++i) PyList_SET_ITEM(self->arr, i, Py_NewRef(Py_None));
    return reinterpret_cast<PyObject *>(self);
}

void slot_cache_dealloc(PyObject *self) {
    Py_XDECREF(reinterpret_cast<SlotCache *>(self)->arr);
    Py_TYPE(self)->tp_free(self);
}

PyObject *slot_cache_get(PyObject *self, PyObject *member) {
    return slot_read(reinterpret_cast<SlotCache *>(self)->arr, member);
}

PyObject *slot_cache_set(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    if (!arity(nargs, 2, 2, "set")) return nullptr;
    PyObject *v = PyObject_GetAttr(args[0], g_names[5]);
    if (!v) return nullptr;
    Py_ssize_t i = PyLong_AsSsize_t(v);
    Py_DECREF(v);
    if (i == -1 && PyErr_Occurred()) return nullptr;
    if (PyList_SetItem(reinterpret_cast<SlotCache *>(self)->arr, i, Py_NewRef(args[1])) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyMethodDef slot_cache_methods[] = {
    {"get", slot_cache_get, METH_O, nullptr},
    {"set", fn(slot_cache_set), METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject slot_cache_type = [] {
    PyTypeObject t{};
    Py_SET_REFCNT(reinterpret_cast<PyObject *>(&t), 1);
    t.tp_name = "kr_bench_baseline.SlotCache";
    t.tp_basicsize = sizeof(SlotCache);
    t.tp_dealloc = slot_cache_dealloc;
    t.tp_flags = Py_TPFLAGS_DEFAULT;
    t.tp_methods = slot_cache_methods;
    t.tp_new = slot_cache_new;
    return t;
}();

// ---------------------------------------------------------------------------
// Native loops over the C-level routines

long long now_ns() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// Runs `call` n times; it returns false on failure (an exception is set).
template <class Call>
PyObject *timed(long long n, Call call) {
    long long t0 = now_ns();
    for (long long i = 0; i < n; ++i)
        if (!call()) return nullptr;
    return PyLong_FromLongLong(now_ns() - t0);
}

// A routine of `__pyx_capi__`, taken as a sibling module takes it: the
// capsule must carry exactly the declared signature.
template <class Fn>
Fn capi(PyObject *module, const char *name, const char *signature) {
    PyObject *table = PyObject_GetAttrString(module, "__pyx_capi__");
    if (!table) return nullptr;
    PyObject *capsule = nullptr;
    int found = PyDict_GetItemStringRef(table, name, &capsule);
    Py_DECREF(table);
    if (found <= 0) {
        if (found == 0) PyErr_Format(PyExc_KeyError, "%s", name);
        return nullptr;
    }
    void *p = PyCapsule_GetPointer(capsule, signature);
    Py_DECREF(capsule);
    Fn f = nullptr;
    std::memcpy(&f, &p, sizeof p);
    return f;
}

#define CAPI(name) capi<decltype(&kr::name)>(mod, #name, kr::sig::name)
#define NEED(k) \
    if (!arity(nargs, 3 + (k), 3 + (k), name)) return nullptr

PyObject *capi_loop(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!arity(nargs, 3, 9, "capi_loop")) return nullptr;
    PyObject *mod = args[0];
    const char *name = PyUnicode_AsUTF8(args[1]);
    long long n = PyLong_AsLongLong(args[2]);
    if (!name || (n == -1 && PyErr_Occurred())) return nullptr;
    PyObject *const *a = args + 3;
    auto ok = [] { return !PyErr_Occurred(); };
    if (!std::strcmp(name, "c_draw_texture_rec")) {
        NEED(4);
        auto f = CAPI(c_draw_texture_rec);
        return f ? timed(n, [&] { return f(a[0], a[1], a[2], a[3]), ok(); }) : nullptr;
    }
    if (!std::strcmp(name, "draw_texture_rec")) {
        NEED(4);
        auto f = CAPI(draw_texture_rec);
        return f ? timed(n, [&] { return f(a[0], a[1], a[2], a[3], 0), ok(); }) : nullptr;
    }
    if (!std::strcmp(name, "c_draw_texture_krvec")) {
        NEED(3);
        auto f = CAPI(c_draw_texture_krvec);
        auto *pos = reinterpret_cast<kr::KrVector2Object *>(a[1]);
        auto *col = reinterpret_cast<kr::KrRectObject *>(a[2]);
        return f ? timed(n, [&] { return f(a[0], pos, col, 0), ok(); }) : nullptr;
    }
    if (!std::strcmp(name, "c_clear_background")) {
        NEED(1);
        auto f = CAPI(c_clear_background);
        return f ? timed(n, [&] { return f(a[0]), ok(); }) : nullptr;
    }
    if (!std::strcmp(name, "begin_drawing")) {
        NEED(0);
        auto f = CAPI(begin_drawing);
        return f ? timed(n, [&] { return f(0), ok(); }) : nullptr;
    }
    // The shader setters: a[0] is a KrShader, a[1] the location.
    auto *shader = nargs > 3 ? reinterpret_cast<kr::KrShaderObject *>(a[0]) : nullptr;
    int loc = 0;
#define LOC  \
    NEED(3); \
    if ((loc = PyLong_AsInt(a[1])) == -1 && PyErr_Occurred()) return nullptr
    if (!std::strcmp(name, "set_krshader_value_float")) {
        LOC;
        float v = static_cast<float>(PyFloat_AsDouble(a[2]));
        auto f = CAPI(set_krshader_value_float);
        return f ? timed(n, [&] { return f(shader, loc, v, 0), ok(); }) : nullptr;
    }
    if (!std::strcmp(name, "set_krshader_value_vec4_tuple")) {
        LOC;
        auto f = CAPI(set_krshader_value_vec4_tuple);
        return f ? timed(n, [&] { return f(shader, loc, a[2], 0), ok(); }) : nullptr;
    }
    if (!std::strcmp(name, "set_krshader_value_float_v")) {
        LOC;
        std::vector<float> values;
        for (Py_ssize_t i = 0; i < PyList_Size(a[2]); ++i)
            values.push_back(static_cast<float>(PyFloat_AsDouble(PyList_GET_ITEM(a[2], i))));
        if (PyErr_Occurred()) return nullptr;
        auto f = CAPI(set_krshader_value_float_v);
        return f ? timed(n, [&] { return f(shader, loc, values, 0), ok(); }) : nullptr;  // a copy per call
    }
    if (!std::strcmp(name, "get_krshader_location")) {
        NEED(2);
        auto f = CAPI(get_krshader_location);
        return f ? timed(n, [&] { return f(shader, a[1], 0) != -1 || ok(); }) : nullptr;
    }
    PyErr_Format(PyExc_ValueError, "no loop for %s", name);
    return nullptr;
}

#undef LOC
#undef NEED
#undef CAPI

// Cache's C-level method table, taken from the unnamed capsule under
// `__pyx_vtable__` in the type's dict.
PyObject *vtable_loop(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!arity(nargs, 4, 5, "vtable_loop")) return nullptr;
    auto *cache = reinterpret_cast<CacheObject *>(args[0]);
    const char *name = PyUnicode_AsUTF8(args[1]);
    long long n = PyLong_AsLongLong(args[2]);
    int idx = PyLong_AsInt(args[3]);
    if (!name || PyErr_Occurred()) return nullptr;
    PyObject *dict = PyType_GetDict(Py_TYPE(args[0]));
    if (!dict) return nullptr;
    PyObject *capsule = nullptr;
    int found = PyDict_GetItemStringRef(dict, "__pyx_vtable__", &capsule);
    Py_DECREF(dict);
    if (found <= 0) {
        if (found == 0) PyErr_SetString(PyExc_KeyError, "__pyx_vtable__");
        return nullptr;
    }
    auto *vt = static_cast<CacheVTable *>(PyCapsule_GetPointer(capsule, nullptr));
    Py_DECREF(capsule);
    if (!vt) return nullptr;
    PyObject *value = nargs > 4 ? args[4] : Py_None;
    auto owned = [](PyObject *r) {
        Py_XDECREF(r);
        return r != nullptr;
    };
    if (!std::strcmp(name, "c_get")) return timed(n, [&] { return owned(vt->c_get(cache, idx)); });
    if (!std::strcmp(name, "c_get_or_set_val"))
        return timed(n, [&] { return owned(vt->c_get_or_set_val(cache, idx, value)); });
    if (!std::strcmp(name, "c_set")) return timed(n, [&] { return vt->c_set(cache, idx, value), !PyErr_Occurred(); });
    PyErr_Format(PyExc_ValueError, "no loop for %s", name);
    return nullptr;
}

PyObject *nothing() { return Py_NewRef(Py_None); }
PyObject *(*volatile g_nothing)() = nothing;

PyObject *call_loop(PyObject *, PyObject *arg) {
    long long n = PyLong_AsLongLong(arg);
    if (n == -1 && PyErr_Occurred()) return nullptr;
    return timed(n, [] {
        PyObject *r = g_nothing();
        Py_XDECREF(r);
        return r != nullptr;
    });
}

PyObject *cg_zero(PyObject *, PyObject *) {
    CALLGRIND_ZERO_STATS;
    Py_RETURN_NONE;
}

PyObject *cg_dump(PyObject *, PyObject *label) {
    const char *s = PyUnicode_AsUTF8(label);
    if (!s) return nullptr;
    CALLGRIND_DUMP_STATS_AT(s);
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------------------
// Module

PyMethodDef methods[] = {
    {"noop0", noop0, METH_NOARGS, nullptr},
    {"noop1", fn(noop<1>), METH_FASTCALL, nullptr},
    {"noop2", fn(noop<2>), METH_FASTCALL, nullptr},
    {"noop3", fn(noop<3>), METH_FASTCALL, nullptr},
    {"noop4", fn(noop<4>), METH_FASTCALL, nullptr},
    {"noop5", fn(noop<5>), METH_FASTCALL, nullptr},
    {"noop6", fn(noop<6>), METH_FASTCALL, nullptr},
    {"set_draw_target", set_draw_target, METH_O, nullptr},
    {"draw_texture_rec", fn(draw_texture_rec), METH_FASTCALL, nullptr},
    {"cache_get", fn(cache_get), METH_FASTCALL, nullptr},
    {"capi_loop", fn(capi_loop), METH_FASTCALL, nullptr},
    {"vtable_loop", fn(vtable_loop), METH_FASTCALL, nullptr},
    {"call_loop", call_loop, METH_O, nullptr},
    {"cg_zero", cg_zero, METH_NOARGS, nullptr},
    {"cg_dump", cg_dump, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject *m) {
    const char *names[] = {"id", "width", "height", "mipmaps", "format", "value"};
    for (int i = 0; i < 6; ++i)
        if (!g_names[i] && !(g_names[i] = PyUnicode_InternFromString(names[i]))) return -1;
    if (PyType_Ready(&slot_cache_type) < 0) return -1;
    return PyModule_AddObjectRef(m, "SlotCache", reinterpret_cast<PyObject *>(&slot_cache_type));
}

PyModuleDef_Slot slots[] = {{Py_mod_exec, reinterpret_cast<void *>(exec_module)}, {0, nullptr}};
PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "kr_bench_baseline", nullptr, 0, methods, slots, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_kr_bench_baseline(void) { return PyModuleDef_Init(&module_def); }
