// The shared function type and its declarative argument parser.
#pragma once

#include "kora_ui/fast/common/pyref.h"

#include <cstddef>
#include <cstdint>

namespace kora {

inline constexpr int kMaxParams = 8;

// What a parameter is converted to before the routine runs.
enum class Kind : std::uint8_t { Object, Int, Long, Float, Bool, Custom };

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
    long l;
    float f;
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
constexpr ParamDef c_long(const char *n) { return ParamDef{n, Kind::Long}; }
constexpr ParamDef c_float(const char *n) { return ParamDef{n, Kind::Float}; }
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

}  // namespace kora
