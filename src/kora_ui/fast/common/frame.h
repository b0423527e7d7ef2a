// The module frame shared by the package's native modules: module loading and
// its checks, the constant table, the shared function type with its argument
// parser, C value conversions, traceback entries and native exception
// translation. frame.cpp is compiled into each module, so every module gets
// its own copy of the state below.
#pragma once

#include "kora_ui/fast/common/pyref.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace kora {

// ---------------------------------------------------------------------------
// Module identity and per-process module state

struct ModuleIdentity {
    const char *short_name;  // name in the module definition
    const char *full_name;   // dotted name used in messages and tracebacks
    const char *tb_file;     // file name of traceback entries
    const char *init_name;   // "init <full_name>"
};

// The compressed constant text and how to cut it (see tools/gen_constants.py).
struct ConstTableDesc {
    const std::uint8_t *compressed;
    std::size_t compressed_len;
    std::size_t expanded_len;
    const std::uint16_t *lengths;
    int n_str;
    int n_uninterned;
    int n_bytes;
};

struct ModuleState {
    const ModuleIdentity *id = nullptr;
    PyObject *module = nullptr;    // the module singleton (owned)
    PyObject *dict = nullptr;      // its dict (borrowed from the module)
    PyObject *builtins = nullptr;  // the builtins module (owned)
    std::int64_t interp_id = -1;   // the one interpreter allowed to load us
    PyObject **consts = nullptr;   // expanded constants, never freed
    int n_consts = 0;
    bool consts_ready = false;
};

extern ModuleState g_mod;

// Constant `i` of the module's table (a borrowed reference).
inline PyObject *K(int i) noexcept { return g_mod.consts[i]; }

// The module's definition for multi-phase initialisation: the create step
// below and the module's own exec step. Returns what PyInit_* returns.
PyObject *define_module(const ModuleIdentity *id, int (*exec)(PyObject *module));

// Create step of multi-phase initialisation (Py_mod_create).
PyObject *module_create(PyObject *spec, PyModuleDef *def);

// First steps of the exec step, shared by every module: the singleton test,
// `__builtins__`, the version check, the constant table, the shared function
// type and the registration in sys.modules. Returns 1 when the module is
// already initialised (the exec step then succeeds at once), 0 to go on, -1 on
// failure (then call `module_exec_fail`).
int module_exec_begin(PyObject *module, const ConstTableDesc &consts);

// Last step of the exec step: sets `__test__` to an empty dict. Returns 0,
// or the failure path's -1.
int module_exec_end();

// Failure path of the exec step; always returns -1 with an exception set.
int module_exec_fail();

// Compares the running interpreter's major.minor with `major`.`minor` and
// warns (RuntimeWarning) on a mismatch. -1 when the warning became an error.
int check_python_version(int major, int minor);

// Expands a compressed constant table into `out` (n_str + n_bytes entries).
// RuntimeError "LZSS string data decompression failed" on a bad block.
int expand_constants(const ConstTableDesc &desc, PyObject **out);

// Imports `module_name`.`type_name`, checks its instance size against
// `expected_size` and takes its C-level method table. Both results live for
// the process.
int import_peer_type(const char *module_name, const char *type_name, Py_ssize_t expected_size, PyTypeObject **type_out,
                     void **vtable_out);

// Checks the builtin `type` against the size this module was compiled with.
int check_builtin_type_size();

// Publishes `vtable` under `__pyx_vtable__` in the type's dict.
int publish_vtable(PyTypeObject *type, void *vtable);

// One row of a module's C-level export table `__pyx_capi__`.
struct CapiEntry {
    const char *name;
    void *function;
    const char *signature;
};

int publish_capi(const CapiEntry *entries, std::size_t count);

// Looks `name` up in the module dict, then in the builtins; NameError
// "name '%U' is not defined" when it is in neither. New reference.
PyObject *lookup_global(PyObject *name);

// Sets a module attribute; -1 on failure.
int set_module_attr(const char *name, PyObject *value);

// ---------------------------------------------------------------------------
// Traceback entries

// Adds a traceback entry named `funcname` at `line` of the module's source
// file to the pending exception, without disturbing it.
void add_traceback(const char *funcname, int line);
void add_traceback_in(const char *funcname, int line, const char *file);

// Adds the entry for the enclosing routine at the current line.
#define KORA_TB(funcname) ::kora::add_traceback((funcname), __LINE__)

// ---------------------------------------------------------------------------
// Native exception translation: call inside a catch block.
void translate_native_exception() noexcept;

// Runs `f`, turning any native exception into a Python exception. Returns
// false when an exception was translated.
template <class F>
bool run_native(F &&f) noexcept {
    try {
        f();
        return true;
    } catch (...) {
        translate_native_exception();
        return false;
    }
}

// ---------------------------------------------------------------------------
// Conversions of Python objects to C values. Each returns 0 on success and -1
// with an exception set; the float conversions return -1.0 with an exception
// set (test PyErr_Occurred()).

int to_int_slow(PyObject *o, int *out);
int to_long_slow(PyObject *o, long *out);
int to_uint_slow(PyObject *o, unsigned int *out);
int to_size_t_slow(PyObject *o, std::size_t *out);

inline int to_int(PyObject *o, int *out) {
    if (PyLong_CheckExact(o) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject *>(o))) {
        Py_ssize_t v = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject *>(o));
        if (v >= INT_MIN && v <= INT_MAX) {
            *out = static_cast<int>(v);
            return 0;
        }
    }
    return to_int_slow(o, out);
}

inline int to_long(PyObject *o, long *out) {
    if (PyLong_CheckExact(o) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject *>(o))) {
        *out = static_cast<long>(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject *>(o)));
        return 0;
    }
    return to_long_slow(o, out);
}

inline int to_uint(PyObject *o, unsigned int *out) {
    if (PyLong_CheckExact(o) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject *>(o))) {
        Py_ssize_t v = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject *>(o));
        if (v >= 0 && static_cast<unsigned long long>(v) <= UINT_MAX) {
            *out = static_cast<unsigned int>(v);
            return 0;
        }
    }
    return to_uint_slow(o, out);
}

inline int to_size_t(PyObject *o, std::size_t *out) {
    if (PyLong_CheckExact(o) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject *>(o))) {
        Py_ssize_t v = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject *>(o));
        if (v >= 0) {
            *out = static_cast<std::size_t>(v);
            return 0;
        }
    }
    return to_size_t_slow(o, out);
}

// The interpreter's float conversion with the exact-float and compact-int
// cases read inline.
inline double to_double(PyObject *o) {
    if (PyFloat_CheckExact(o)) return PyFloat_AS_DOUBLE(o);
    if (PyLong_CheckExact(o) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject *>(o)))
        return static_cast<double>(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject *>(o)));
    return PyFloat_AsDouble(o);
}

// Narrows to single precision the way the hardware does (out-of-range values
// become infinities) without the undefined behaviour of a plain cast.
inline float narrow(double d) noexcept {
    if (d > static_cast<double>(FLT_MAX)) {
        // Values that still round to FLT_MAX stay finite.
        return d < 3.4028235677973366e38 ? FLT_MAX : INFINITY;
    }
    if (d < -static_cast<double>(FLT_MAX)) {
        return d > -3.4028235677973366e38 ? -FLT_MAX : -INFINITY;
    }
    return static_cast<float>(d);
}

inline float to_float(PyObject *o) { return narrow(to_double(o)); }

// Truth value: True, False and None directly, anything else through its
// truth test. -1 on error.
inline int to_bool(PyObject *o) {
    if (o == Py_True) return 1;
    if (o == Py_False || o == Py_None) return 0;
    return PyObject_IsTrue(o);
}

// A colour channel: the number truncated toward zero, then its low 8 bits
// (255.9 -> 255, 256 -> 0, 300 -> 44, -1 -> 255). For values beyond 32 bits
// the truncated value is still reduced modulo 256; NaN and infinities give 0.
inline std::uint8_t color_channel(double d) noexcept {
    if (!std::isfinite(d)) return 0;
    double t = std::trunc(d);
    if (t >= -2147483648.0 && t <= 2147483647.0)
        return static_cast<std::uint8_t>(static_cast<std::uint32_t>(static_cast<std::int32_t>(t)) & 0xFFu);
    double m = std::fmod(t, 256.0);
    if (m < 0) m += 256.0;
    return static_cast<std::uint8_t>(static_cast<unsigned>(m));
}

// Raises the "Expected %.42s, got %.200s" TypeError of a typed store.
void raise_expected(const char *expected, PyObject *got);

// The TypeError Python raises for subscripting None.
inline void raise_not_subscriptable() { PyErr_SetString(PyExc_TypeError, "'NoneType' object is not subscriptable"); }

// The result of a wrapper around a routine that reports failure only by a
// pending exception: None, or null when an exception is pending.
inline PyObject *none_or_null() {
    if (PyErr_Occurred()) return nullptr;
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------------------
// Shared function type and the declarative argument parser

inline constexpr int kMaxParams = 8;

// What a parameter is converted to before the routine runs.
enum class Kind : std::uint8_t { Object, Int, UInt, SizeT, Long, Float, Double, Bool, Custom };

// The type test made on a parameter after all conversions.
enum class Check : std::uint8_t {
    Any,      // no test
    Exact,    // exactly `*type`, or None
    Subtype,  // an instance of `*type` or of a subclass, or None
    NotNone,  // anything but None
};

union ArgVal {
    PyObject *o;
    int i;
    unsigned int u;
    std::size_t z;
    long l;
    float f;
    double d;
    bool b;
    void *p;
};

// A conversion producing a native value in caller-provided storage (up to
// kCustomStorage bytes). On success the value is constructed there and is
// destroyed by `destroy` after the routine ran; on failure nothing is left.
inline constexpr std::size_t kCustomStorage = 32;
using CustomConvert = int (*)(PyObject *obj, void *storage);
using CustomDestroy = void (*)(void *storage);

struct ParamDef {
    const char *name;
    Kind kind = Kind::Object;
    Check check = Check::Any;
    PyTypeObject **type = nullptr;  // for Exact and Subtype: where the type lives
    CustomConvert convert = nullptr;
    CustomDestroy destroy = nullptr;
    bool default_none = false;  // an optional parameter whose default is None
};

// The routine behind a function object. `self` is the module for module
// functions and the instance for methods; `args` holds the converted
// arguments in parameter order. Returns a new reference or null.
using Impl = PyObject *(*)(PyObject *self, ArgVal *args);

struct FuncDef {
    const char *name;      // bare name, used in argument messages
    const char *qualname;  // "name" or "Class.name"
    const char *fullname;  // module's dotted name + "." + qualname
    const ParamDef *params;
    int nparams;
    Impl impl;
    int line;                            // source line of the definition
    PyTypeObject **self_type = nullptr;  // methods: the instance's type
    bool noargs = false;                 // module function without parameters
    const char *tb_file = nullptr;       // file of its traceback entries; null: the module's
    // Filled when the function object is made: interned parameter names.
    PyObject *names[kMaxParams] = {};
    int nrequired = 0;
    bool objects_only = false;  // every parameter is Kind::Object: no conversion, nothing to destroy
    bool has_custom = false;    // some parameter is Kind::Custom
    // A module's own entry for the call, used instead of the general one; it
    // handles the common case and hands everything else to function_vectorcall.
    vectorcallfunc vectorcall = nullptr;
};

// The general entry of function objects: counts, matches, converts and tests
// the arguments, runs the routine and adds the traceback entry on failure.
PyObject *function_vectorcall(PyObject *callable, PyObject *const *args, std::size_t nargsf, PyObject *kwnames);

// True when `nargs` positional arguments and the keywords `kwnames` (or null)
// fill every parameter in declaration order, the keywords by the interned
// names (what a call site written with keywords passes).
inline bool args_in_declaration_order(const FuncDef *def, Py_ssize_t nargs, PyObject *kwnames) {
    if (!kwnames) return nargs == def->nparams;
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    if (nargs + nkw != def->nparams) return false;
    for (Py_ssize_t k = 0; k < nkw; ++k)
        if (PyTuple_GET_ITEM(kwnames, k) != def->names[nargs + k]) return false;
    return true;
}

// Adds the traceback entry of the function `def` at its definition line.
void add_function_traceback(const FuncDef *def);

struct FunctionObject {
    PyObject_HEAD vectorcallfunc vectorcall;
    FuncDef *def;
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

// The shared function type (valid after module_exec_begin).
PyTypeObject *function_type();

// Makes the function object for `def` and stores it in `dict` under its bare
// name. For methods `dict` is the type's dict and the type is marked modified.
int add_function(PyObject *dict, FuncDef *def, PyTypeObject *owner = nullptr);

// Makes the function object for `def` (new reference).
PyObject *make_function(FuncDef *def);

// Parses an argument tuple and keyword dict (tp_init and similar slots)
// against `def`, whose parameters must all be plain objects; `out` receives
// them borrowed from `args` and `kwargs`. The routine is not called.
int parse_tuple_args(FuncDef *def, PyObject *args, PyObject *kwargs, ArgVal *out);

// Convenience for declaring parameter lists.
constexpr ParamDef obj(const char *n) { return ParamDef{n}; }
constexpr ParamDef not_none(const char *n) { return ParamDef{n, Kind::Object, Check::NotNone}; }
constexpr ParamDef exact(const char *n, PyTypeObject **t) { return ParamDef{n, Kind::Object, Check::Exact, t}; }
constexpr ParamDef subtype(const char *n, PyTypeObject **t) { return ParamDef{n, Kind::Object, Check::Subtype, t}; }
constexpr ParamDef c_int(const char *n) { return ParamDef{n, Kind::Int}; }
constexpr ParamDef c_uint(const char *n) { return ParamDef{n, Kind::UInt}; }
constexpr ParamDef c_long(const char *n) { return ParamDef{n, Kind::Long}; }
constexpr ParamDef c_float(const char *n) { return ParamDef{n, Kind::Float}; }
constexpr ParamDef c_double(const char *n) { return ParamDef{n, Kind::Double}; }
constexpr ParamDef c_bool(const char *n) { return ParamDef{n, Kind::Bool}; }
constexpr ParamDef custom(const char *n, CustomConvert c, CustomDestroy d) {
    return ParamDef{n, Kind::Custom, Check::Any, nullptr, c, d};
}
constexpr ParamDef optional(const char *n) {
    return ParamDef{n, Kind::Object, Check::Any, nullptr, nullptr, nullptr, true};
}

// Builtin types for exact checks (addresses of the interpreter's own types).
extern PyTypeObject *g_tuple_type;
extern PyTypeObject *g_dict_type;
extern PyTypeObject *g_str_type;
extern PyTypeObject *g_list_type;

}  // namespace kora
