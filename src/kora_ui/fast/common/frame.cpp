// Implementation of the shared module frame (see frame.h).

#include "kora_ui/fast/common/frame.h"
#include "kora_ui/fast/common/lzss.h"

#include <frameobject.h>
#include <structmember.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <ios>
#include <new>
#include <stdexcept>
#include <typeinfo>
#include <vector>

// The Python version the module is built for; a test build overrides it to
// exercise the mismatch warning.
#ifndef KORA_COMPILED_PY_MAJOR
#define KORA_COMPILED_PY_MAJOR PY_MAJOR_VERSION
#endif
#ifndef KORA_COMPILED_PY_MINOR
#define KORA_COMPILED_PY_MINOR PY_MINOR_VERSION
#endif

namespace kora {

ModuleState g_mod;

PyTypeObject *g_tuple_type = &PyTuple_Type;
PyTypeObject *g_dict_type = &PyDict_Type;
PyTypeObject *g_str_type = &PyUnicode_Type;
PyTypeObject *g_list_type = &PyList_Type;

namespace {

PyTypeObject *g_function_type = nullptr;

// Name of the registry module through which the package's native modules
// share one function type, and the key of the type in it. The key carries a
// layout version: modules built with another FunctionObject layout must not
// share the type.
constexpr const char *kRegistryModule = "_kora_ui_shared_types";
constexpr const char *kFunctionTypeKey = "function_type_v1";
// The entry is a capsule of this name holding the type object: Python code
// cannot put a look-alike class there by accident.
constexpr const char *kFunctionTypeCapsule = "_kora_ui_shared_types.function_type_v1";

}  // namespace

// ---------------------------------------------------------------------------
// Traceback entries

namespace {

struct CodeCacheEntry {
    int line;
    const char *funcname;
    const char *file;
    PyCodeObject *code;
};

// Code objects for traceback entries, made on first use and kept sorted by
// line for bisection. Capacity starts at 64 entries and grows by 64.
struct CodeCache {
    CodeCacheEntry *entries = nullptr;
    int count = 0;
    int capacity = 0;
} g_code_cache;

int code_cache_lower_bound(int line) {
    int lo = 0, hi = g_code_cache.count;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        if (g_code_cache.entries[mid].line < line)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

PyCodeObject *code_for(const char *funcname, int line, const char *file) {
    int pos = code_cache_lower_bound(line);
    for (int i = pos; i < g_code_cache.count && g_code_cache.entries[i].line == line; ++i) {
        const CodeCacheEntry &e = g_code_cache.entries[i];
        if ((e.funcname == funcname || std::strcmp(e.funcname, funcname) == 0) &&
            (e.file == file || std::strcmp(e.file, file) == 0))
            return reinterpret_cast<PyCodeObject *>(Py_NewRef(e.code));
    }
    PyCodeObject *code = PyCode_NewEmpty(file, funcname, line);
    if (!code) return nullptr;
    if (g_code_cache.count == g_code_cache.capacity) {
        int cap = g_code_cache.capacity + 64;
        void *grown = PyMem_Realloc(g_code_cache.entries, sizeof(CodeCacheEntry) * static_cast<std::size_t>(cap));
        if (!grown) return code;  // used once without being cached
        g_code_cache.entries = static_cast<CodeCacheEntry *>(grown);
        g_code_cache.capacity = cap;
    }
    std::memmove(&g_code_cache.entries[pos + 1], &g_code_cache.entries[pos],
                 sizeof(CodeCacheEntry) * static_cast<std::size_t>(g_code_cache.count - pos));
    g_code_cache.entries[pos] = CodeCacheEntry{line, funcname, file, code};
    ++g_code_cache.count;
    return reinterpret_cast<PyCodeObject *>(Py_NewRef(code));  // the table keeps one reference
}

}  // namespace

void add_traceback_in(const char *funcname, int line, const char *file) {
    PyObject *exc = PyErr_GetRaisedException();
    if (!exc) return;
    // New reference to the (usually cached) code object; null on failure.
    PyCodeObject *code = code_for(funcname, line, file);
    PyObject *globals = g_mod.dict;
    Ref scratch_globals;
    if (!globals) {
        scratch_globals = Ref::steal(PyDict_New());
        globals = scratch_globals.get();
    }
    if (code && globals) {
        PyFrameObject *frame = PyFrame_New(PyThreadState_Get(), code, globals, nullptr);
        if (frame) {
            PyErr_SetRaisedException(exc);
            PyTraceBack_Here(frame);
            exc = PyErr_GetRaisedException();
            Py_DECREF(frame);
        }
    }
    Py_XDECREF(code);
    // Whatever failed while making the entry must not replace the exception.
    PyErr_Clear();
    PyErr_SetRaisedException(exc);
}

void add_traceback(const char *funcname, int line) {
    add_traceback_in(funcname, line, g_mod.id ? g_mod.id->tb_file : "<unknown>");
}

namespace {

const char *tb_file_of(const FuncDef *def) { return def->tb_file ? def->tb_file : g_mod.id->tb_file; }

}  // namespace

void add_function_traceback(const FuncDef *def) { add_traceback_in(def->fullname, def->line, tb_file_of(def)); }

// ---------------------------------------------------------------------------
// Native exception translation

void translate_native_exception() noexcept {
    if (PyErr_Occurred()) return;  // a pending Python exception stands
    try {
        throw;
    } catch (const std::bad_alloc &e) {
        PyErr_SetString(PyExc_MemoryError, e.what());
    } catch (const std::bad_cast &e) {
        PyErr_SetString(PyExc_TypeError, e.what());
    } catch (const std::bad_typeid &e) {
        PyErr_SetString(PyExc_TypeError, e.what());
    } catch (const std::domain_error &e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::invalid_argument &e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::ios_base::failure &e) {
        PyErr_SetString(PyExc_OSError, e.what());
    } catch (const std::out_of_range &e) {
        PyErr_SetString(PyExc_IndexError, e.what());
    } catch (const std::overflow_error &e) {
        PyErr_SetString(PyExc_OverflowError, e.what());
    } catch (const std::range_error &e) {
        PyErr_SetString(PyExc_ArithmeticError, e.what());
    } catch (const std::underflow_error &e) {
        PyErr_SetString(PyExc_ArithmeticError, e.what());
    } catch (const std::exception &e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "Unknown exception");
    }
}

// ---------------------------------------------------------------------------
// Conversions

namespace {

// Converts a non-int through its type's __int__ slot. New reference to an
// int, or null with an exception set.
PyObject *int_through_slot(PyObject *o) {
    PyNumberMethods *nb = Py_TYPE(o)->tp_as_number;
    if (!nb || !nb->nb_int) {
        PyErr_SetString(PyExc_TypeError, "an integer is required");
        return nullptr;
    }
    PyObject *r = nb->nb_int(o);
    if (!r || PyLong_CheckExact(r)) return r;
    if (PyLong_Check(r)) {
        if (PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                             "__int__ returned non-int (type %.200s).  "
                             "The ability to return an instance of a strict subclass of int "
                             "is deprecated, and may be removed in a future version of Python.",
                             Py_TYPE(r)->tp_name) < 0) {
            Py_DECREF(r);
            return nullptr;
        }
        return r;
    }
    PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)", Py_TYPE(r)->tp_name);
    Py_DECREF(r);
    return nullptr;
}

// Runs `conv` on `o` if it is an int, else on the result of its __int__.
template <class Conv>
int via_int(PyObject *o, Conv conv) {
    if (PyLong_Check(o)) return conv(o);
    Ref r = Ref::steal(int_through_slot(o));
    if (!r) return -1;
    return conv(r.get());
}

}  // namespace

int to_long_slow(PyObject *o, long *out) {
    return via_int(o, [out](PyObject *v) {
        long x = PyLong_AsLong(v);
        if (x == -1 && PyErr_Occurred()) return -1;
        *out = x;
        return 0;
    });
}

int to_int_slow(PyObject *o, int *out) {
    return via_int(o, [out](PyObject *v) {
        long x = PyLong_AsLong(v);
        if (x == -1 && PyErr_Occurred()) return -1;
        if (x < INT_MIN || x > INT_MAX) {
            PyErr_Format(PyExc_OverflowError, "value too large to convert to %.200s", "int");
            return -1;
        }
        *out = static_cast<int>(x);
        return 0;
    });
}

namespace {

int negative_int(PyObject *v, const char *target) {
    int sign = 0;
    if (PyLong_GetSign(v, &sign) < 0) return -1;
    if (sign < 0) {
        PyErr_Format(PyExc_OverflowError, "can't convert negative value to %.200s", target);
        return -1;
    }
    return 0;
}

}  // namespace

int to_uint_slow(PyObject *o, unsigned int *out) {
    return via_int(o, [out](PyObject *v) {
        if (negative_int(v, "unsigned int") < 0) return -1;
        unsigned long x = PyLong_AsUnsignedLong(v);
        if (x == static_cast<unsigned long>(-1) && PyErr_Occurred()) return -1;
        if (x > UINT_MAX) {
            PyErr_Format(PyExc_OverflowError, "value too large to convert to %.200s", "unsigned int");
            return -1;
        }
        *out = static_cast<unsigned int>(x);
        return 0;
    });
}

int to_size_t_slow(PyObject *o, std::size_t *out) {
    return via_int(o, [out](PyObject *v) {
        if (negative_int(v, "size_t") < 0) return -1;
        unsigned long x = PyLong_AsUnsignedLong(v);
        if (x == static_cast<unsigned long>(-1) && PyErr_Occurred()) return -1;
        *out = static_cast<std::size_t>(x);
        return 0;
    });
}

void raise_expected(const char *expected, PyObject *got) {
    PyErr_Format(PyExc_TypeError, "Expected %.42s, got %.200s", expected, Py_TYPE(got)->tp_name);
}

// ---------------------------------------------------------------------------
// Argument parsing

namespace {

void raise_count(const FuncDef *def, Py_ssize_t given) {
    Py_ssize_t n = def->nparams, r = def->nrequired;
    const char *more_or_less;
    Py_ssize_t expected;
    if (r == n) {
        more_or_less = "exactly";
        expected = n;
    } else if (given < r) {
        more_or_less = "at least";
        expected = r;
    } else {
        more_or_less = "at most";
        expected = n;
    }
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", def->name,
                 more_or_less, expected, expected == 1 ? "" : "s", given);
}

// Index of the parameter that `key` names among [from, nparams), or -1.
// -2 with an exception set when a comparison failed.
int match_keyword(const FuncDef *def, PyObject *key, int from) {
    for (int i = from; i < def->nparams; ++i)
        if (def->names[i] == key) return i;
    if (PyUnicode_CheckExact(key)) {
        Py_hash_t h = PyObject_Hash(key);
        if (h == -1) return -2;
        Py_ssize_t len = PyUnicode_GET_LENGTH(key);
        int kind = PyUnicode_KIND(key);
        for (int i = from; i < def->nparams; ++i) {
            PyObject *name = def->names[i];
            if (PyObject_Hash(name) != h || PyUnicode_GET_LENGTH(name) != len || PyUnicode_KIND(name) != kind) continue;
            if (std::memcmp(PyUnicode_DATA(name), PyUnicode_DATA(key),
                            static_cast<std::size_t>(len) * static_cast<std::size_t>(kind)) == 0)
                return i;
        }
        return -1;
    }
    if (!PyUnicode_Check(key)) return -1;  // not a str at all: refused by the caller
    for (int i = from; i < def->nparams; ++i) {
        int eq = PyObject_RichCompareBool(key, def->names[i], Py_EQ);
        if (eq < 0) return -2;
        if (eq) return i;
    }
    return -1;
}

// Matches keyword arguments into `slots` (parameters from `npos` on).
int match_keywords(const FuncDef *def, PyObject **slots, Py_ssize_t npos, PyObject *const *values, PyObject *kwnames) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject *key = PyTuple_GET_ITEM(kwnames, k);
        int idx = match_keyword(def, key, static_cast<int>(npos));
        if (idx == -2) return -1;
        if (idx >= 0 && slots[idx] == nullptr) {
            slots[idx] = values[k];
            continue;
        }
        if (idx < 0 && !PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", def->name);
            return -1;
        }
        if (idx < 0) {
            // A name already filled by position?
            for (int i = 0; i < npos && idx < 0; ++i) {
                if (def->names[i] == key) idx = i;
            }
            if (idx < 0) {
                for (int i = 0; i < npos; ++i) {
                    int eq = PyObject_RichCompareBool(key, def->names[i], Py_EQ);
                    if (eq < 0) return -1;
                    if (eq) {
                        idx = i;
                        break;
                    }
                }
            }
            if (idx < 0) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", def->name, key);
                return -1;
            }
        }
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", def->name, key);
        return -1;
    }
    return 0;
}

void destroy_customs(const FuncDef *def, ArgVal *vals, int upto) {
    for (int i = 0; i < upto; ++i)
        if (def->params[i].kind == Kind::Custom && vals[i].p) def->params[i].destroy(vals[i].p);
}

// Step 5: the type tests, in parameter order.
int check_args(const FuncDef *def, PyObject *const *raw) {
    const int n = def->nparams;
    for (int i = 0; i < n; ++i) {
        const ParamDef &p = def->params[i];
        PyObject *o = raw[i];
        switch (p.check) {
            case Check::Any:
                continue;
            case Check::NotNone:
                if (o != Py_None) continue;
                PyErr_Format(PyExc_TypeError, "Argument '%.200s' must not be None", p.name);
                break;
            case Check::Exact:
                if (o == Py_None || Py_IS_TYPE(o, *p.type)) continue;
                PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
                             p.name, (*p.type)->tp_name, Py_TYPE(o)->tp_name);
                break;
            case Check::Subtype:
                if (o == Py_None || PyObject_TypeCheck(o, *p.type)) continue;
                PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
                             p.name, (*p.type)->tp_name, Py_TYPE(o)->tp_name);
                break;
        }
        return -1;
    }
    return 0;
}

// Steps 4 and 5: C conversions in parameter order, then the type tests.
int convert_args(const FuncDef *def, PyObject *const *raw, ArgVal *vals, void *custom_storage) {
    const int n = def->nparams;
    for (int i = 0; i < n; ++i) {
        const ParamDef &p = def->params[i];
        PyObject *o = raw[i];
        switch (p.kind) {
            case Kind::Object:
                vals[i].o = o;
                break;
            case Kind::Int:
                if (to_int(o, &vals[i].i) < 0) goto fail;
                break;
            case Kind::UInt:
                if (to_uint(o, &vals[i].u) < 0) goto fail;
                break;
            case Kind::SizeT:
                if (to_size_t(o, &vals[i].z) < 0) goto fail;
                break;
            case Kind::Long:
                if (to_long(o, &vals[i].l) < 0) goto fail;
                break;
            case Kind::Float: {
                double d = to_double(o);
                if (d == -1.0 && PyErr_Occurred()) goto fail;
                vals[i].f = narrow(d);
                break;
            }
            case Kind::Double: {
                double d = to_double(o);
                if (d == -1.0 && PyErr_Occurred()) goto fail;
                vals[i].d = d;
                break;
            }
            case Kind::Bool: {
                int b = to_bool(o);
                if (b < 0) goto fail;
                vals[i].b = b != 0;
                break;
            }
            case Kind::Custom:
                vals[i].p = nullptr;
                if (p.convert(o, custom_storage) < 0) goto fail;
                vals[i].p = custom_storage;
                break;
        }
        continue;
    fail:
        destroy_customs(def, vals, i);
        return -1;
    }
    if (check_args(def, raw) < 0) {
        if (def->has_custom) destroy_customs(def, vals, n);
        return -1;
    }
    return 0;
}

// Steps 1 to 3: fills `slots` with one object per parameter.
int collect_args(const FuncDef *def, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **slots) {
    const int n = def->nparams;
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nkw == 0) {
        if (nargs < def->nrequired || nargs > n) {
            raise_count(def, nargs);
            return -1;
        }
        for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
        for (Py_ssize_t i = nargs; i < n; ++i) slots[i] = Py_None;  // defaults are all None
        return 0;
    }
    if (nargs > n) {
        raise_count(def, nargs);
        return -1;
    }
    if (args_in_declaration_order(def, nargs, kwnames)) {  // no search needed
        for (Py_ssize_t i = 0; i < n; ++i) slots[i] = args[i];
        return 0;
    }
    for (int i = 0; i < n; ++i) slots[i] = i < nargs ? args[i] : nullptr;
    if (match_keywords(def, slots, nargs, args + nargs, kwnames) < 0) return -1;
    for (Py_ssize_t i = nargs; i < n; ++i) {
        if (slots[i]) continue;
        if (def->params[i].default_none) {
            slots[i] = Py_None;
            continue;
        }
        PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", def->name,
                     "exactly", static_cast<Py_ssize_t>(n), n == 1 ? "" : "s", i);
        return -1;
    }
    return 0;
}

PyObject *call_impl(FuncDef *def, PyObject *self, PyObject *const *raw) {
    ArgVal vals[kMaxParams];
    if (def->objects_only) {  // nothing to convert or destroy: the type tests only
        if (check_args(def, raw) < 0) return nullptr;
        for (int i = 0; i < def->nparams; ++i) vals[i].o = raw[i];
        return def->impl(self, vals);
    }
    alignas(std::max_align_t) unsigned char storage[kCustomStorage];
    if (convert_args(def, raw, vals, storage) < 0) return nullptr;
    PyObject *r = def->impl(self, vals);
    if (def->has_custom) destroy_customs(def, vals, def->nparams);
    return r;
}

}  // namespace

PyObject *function_vectorcall(PyObject *callable, PyObject *const *args, std::size_t nargsf, PyObject *kwnames) {
    auto *f = reinterpret_cast<FunctionObject *>(callable);
    FuncDef *def = f->def;
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    PyObject *self = f->self;
    PyObject *result = nullptr;
    if (def->self_type) {
        if (nargs < 1) {
            PyErr_Format(PyExc_TypeError, "%.200s() %s", def->name, "needs an argument");
            goto fail;
        }
        self = args[0];
        if (!PyObject_TypeCheck(self, *def->self_type)) {
            PyErr_Format(PyExc_TypeError, "descriptor '%.200s' for '%.100s' objects doesn't apply to a '%.100s' object",
                         def->name, _PyType_Name(*def->self_type), Py_TYPE(self)->tp_name);
            goto fail;
        }
        ++args;
        --nargs;
    }
    if (def->noargs) {
        if (kwnames && PyTuple_GET_SIZE(kwnames) != 0) {
            PyErr_Format(PyExc_TypeError, "%.200s() %s", def->name, "takes no keyword arguments");
            goto fail;
        }
        if (nargs != 0) {
            PyErr_Format(PyExc_TypeError, "%.200s() %s (%zd given)", def->name, "takes no arguments", nargs);
            goto fail;
        }
        result = def->impl(self, nullptr);
    } else if (nargs == def->nparams && (!kwnames || PyTuple_GET_SIZE(kwnames) == 0)) {
        result = call_impl(def, self, args);  // the common all-positional case
    } else {
        PyObject *slots[kMaxParams];
        if (collect_args(def, args, nargs, kwnames, slots) < 0) goto fail;
        result = call_impl(def, self, slots);
    }
    if (result) return result;
fail:
    add_function_traceback(def);
    return nullptr;
}

int parse_tuple_args(FuncDef *def, PyObject *args, PyObject *kwargs, ArgVal *out) {
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    PyObject *const *stack = &PyTuple_GET_ITEM(args, 0);
    Ref values, names;
    if (kwargs && PyDict_GET_SIZE(kwargs) != 0) {
        // The vectorcall layout: positional values, then keyword values, held
        // while the names are matched (a str subclass key runs Python code).
        Py_ssize_t nkw = PyDict_GET_SIZE(kwargs);
        values = Ref::steal(PyTuple_New(nargs + nkw));
        names = Ref::steal(PyTuple_New(nkw));
        if (!values || !names) return -1;
        for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(values.get(), i, Py_NewRef(PyTuple_GET_ITEM(args, i)));
        Py_ssize_t pos = 0, k = 0;
        PyObject *key, *value;
        while (k < nkw && PyDict_Next(kwargs, &pos, &key, &value)) {
            PyTuple_SET_ITEM(names.get(), k, Py_NewRef(key));
            PyTuple_SET_ITEM(values.get(), nargs + k, Py_NewRef(value));
            ++k;
        }
        stack = &PyTuple_GET_ITEM(values.get(), 0);
    }
    PyObject *slots[kMaxParams];
    if (collect_args(def, stack, nargs, names.get(), slots) < 0 || check_args(def, slots) < 0) return -1;
    for (int i = 0; i < def->nparams; ++i) out[i].o = slots[i];
    return 0;
}

// ---------------------------------------------------------------------------
// The function type

namespace {

int function_traverse(PyObject *self, visitproc visit, void *arg) {
    auto *f = reinterpret_cast<FunctionObject *>(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->self);
    Py_VISIT(f->globals);
    Py_VISIT(f->name);
    Py_VISIT(f->qualname);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    Py_VISIT(f->dict);
    Py_VISIT(f->code);
    Py_VISIT(f->defaults);
    Py_VISIT(f->kwdefaults);
    Py_VISIT(f->annotations);
    return 0;
}

int function_clear(PyObject *self) {
    auto *f = reinterpret_cast<FunctionObject *>(self);
    Py_CLEAR(f->self);
    Py_CLEAR(f->globals);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->dict);
    Py_CLEAR(f->code);
    Py_CLEAR(f->defaults);
    Py_CLEAR(f->kwdefaults);
    Py_CLEAR(f->annotations);
    return 0;
}

void function_dealloc(PyObject *self) {
    auto *f = reinterpret_cast<FunctionObject *>(self);
    PyObject_GC_UnTrack(self);
    if (f->weakreflist) PyObject_ClearWeakRefs(self);
    function_clear(self);
    PyTypeObject *tp = Py_TYPE(self);
    tp->tp_free(self);
}

PyObject *function_repr(PyObject *self) {
    auto *f = reinterpret_cast<FunctionObject *>(self);
    return PyUnicode_FromFormat("<function %U at %p>", f->qualname, self);
}

PyObject *function_descr_get(PyObject *self, PyObject *obj, PyObject *) {
    if (obj == nullptr) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

// Attributes that must stay of one type.
int set_str_attr(PyObject **slot, PyObject *value, const char *what) {
    if (!value || !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object", what);
        return -1;
    }
    Py_SETREF(*slot, Py_NewRef(value));
    return 0;
}

PyObject *get_name(PyObject *self, void *) { return Py_NewRef(reinterpret_cast<FunctionObject *>(self)->name); }
int set_name(PyObject *self, PyObject *v, void *) {
    return set_str_attr(&reinterpret_cast<FunctionObject *>(self)->name, v, "__name__");
}
PyObject *get_qualname(PyObject *self, void *) { return Py_NewRef(reinterpret_cast<FunctionObject *>(self)->qualname); }
int set_qualname(PyObject *self, PyObject *v, void *) {
    return set_str_attr(&reinterpret_cast<FunctionObject *>(self)->qualname, v, "__qualname__");
}
PyObject *get_dict(PyObject *self, void *) {
    auto *f = reinterpret_cast<FunctionObject *>(self);
    if (!f->dict && !(f->dict = PyDict_New())) return nullptr;
    return Py_NewRef(f->dict);
}
int set_dict(PyObject *self, PyObject *v, void *) {
    if (!v || !PyDict_Check(v)) {
        PyErr_SetString(PyExc_TypeError, "__dict__ must be set to a dictionary");
        return -1;
    }
    Py_XSETREF(reinterpret_cast<FunctionObject *>(self)->dict, Py_NewRef(v));
    return 0;
}
PyObject *get_code(PyObject *self, void *) { return Py_NewRef(reinterpret_cast<FunctionObject *>(self)->code); }
PyObject *get_closure(PyObject *, void *) { Py_RETURN_NONE; }

// __defaults__ and __kwdefaults__ are informational: calls use the declared
// parameters, so assigning them does not change what calls receive.
PyObject *get_defaults(PyObject *self, void *) {
    PyObject *d = reinterpret_cast<FunctionObject *>(self)->defaults;
    return Py_NewRef(d ? d : Py_None);
}
int set_defaults(PyObject *self, PyObject *v, void *) {
    if (v == Py_None) v = nullptr;
    if (v && !PyTuple_Check(v)) {
        PyErr_SetString(PyExc_TypeError, "__defaults__ must be set to a tuple object");
        return -1;
    }
    Py_XSETREF(reinterpret_cast<FunctionObject *>(self)->defaults, Py_XNewRef(v));
    return 0;
}
PyObject *get_kwdefaults(PyObject *self, void *) {
    PyObject *d = reinterpret_cast<FunctionObject *>(self)->kwdefaults;
    return Py_NewRef(d ? d : Py_None);
}
int set_kwdefaults(PyObject *self, PyObject *v, void *) {
    if (v == Py_None) v = nullptr;
    if (v && !PyDict_Check(v)) {
        PyErr_SetString(PyExc_TypeError, "__kwdefaults__ must be set to a dict object");
        return -1;
    }
    Py_XSETREF(reinterpret_cast<FunctionObject *>(self)->kwdefaults, Py_XNewRef(v));
    return 0;
}
PyObject *get_annotations(PyObject *self, void *) {
    auto *f = reinterpret_cast<FunctionObject *>(self);
    if (!f->annotations && !(f->annotations = PyDict_New())) return nullptr;
    return Py_NewRef(f->annotations);
}
int set_annotations(PyObject *self, PyObject *v, void *) {
    if (v == Py_None) v = nullptr;
    if (v && !PyDict_Check(v)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    Py_XSETREF(reinterpret_cast<FunctionObject *>(self)->annotations, Py_XNewRef(v));
    return 0;
}

PyObject *function_reduce(PyObject *self, PyObject *) {
    // Pickled by reference: the qualified name, looked up in __module__.
    return Py_NewRef(reinterpret_cast<FunctionObject *>(self)->qualname);
}

PyGetSetDef function_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"__dict__", get_dict, set_dict, nullptr, nullptr},
    {"__code__", get_code, nullptr, nullptr, nullptr},
    {"__closure__", get_closure, nullptr, nullptr, nullptr},
    {"__defaults__", get_defaults, set_defaults, nullptr, nullptr},
    {"__kwdefaults__", get_kwdefaults, set_kwdefaults, nullptr, nullptr},
    {"__annotations__", get_annotations, set_annotations, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__module__", Py_T_OBJECT_EX, offsetof(FunctionObject, module), 0, nullptr},
    {"__doc__", Py_T_OBJECT_EX, offsetof(FunctionObject, doc), 0, nullptr},
    {"__globals__", Py_T_OBJECT_EX, offsetof(FunctionObject, globals), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject g_function_type_object = [] {
    PyTypeObject t{};
    Py_SET_REFCNT(reinterpret_cast<PyObject *>(&t), 1);
    t.tp_name = "kora_ui.fast.function";
    t.tp_basicsize = sizeof(FunctionObject);
    t.tp_dealloc = function_dealloc;
    t.tp_vectorcall_offset = offsetof(FunctionObject, vectorcall);
    t.tp_repr = function_repr;
    t.tp_call = PyVectorcall_Call;
    t.tp_getattro = PyObject_GenericGetAttr;
    t.tp_setattro = PyObject_GenericSetAttr;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR |
                 Py_TPFLAGS_IMMUTABLETYPE;
    t.tp_traverse = function_traverse;
    t.tp_clear = function_clear;
    t.tp_weaklistoffset = offsetof(FunctionObject, weakreflist);
    t.tp_methods = function_methods;
    t.tp_members = function_members;
    t.tp_getset = function_getset;
    t.tp_descr_get = function_descr_get;
    t.tp_dictoffset = offsetof(FunctionObject, dict);
    return t;
}();

// Finds the function type another module of the package registered, or
// registers ours.
int obtain_function_type() {
    if (g_function_type) return 0;
    Ref modules = Ref::borrow(PyImport_GetModuleDict());
    PyObject *registry_raw = nullptr;
    if (PyDict_GetItemStringRef(modules.get(), kRegistryModule, &registry_raw) < 0) return -1;
    Ref registry = Ref::steal(registry_raw);
    if (!registry) {
        registry = Ref::steal(PyModule_New(kRegistryModule));
        if (!registry) return -1;
        if (PyDict_SetItemString(modules.get(), kRegistryModule, registry.get()) < 0) return -1;
    }
    PyObject *found = nullptr;
    if (PyObject_GetOptionalAttrString(registry.get(), kFunctionTypeKey, &found) < 0) return -1;
    Ref existing = Ref::steal(found);
    if (existing) {
        auto *tp = PyCapsule_IsValid(existing.get(), kFunctionTypeCapsule)
                       ? static_cast<PyTypeObject *>(PyCapsule_GetPointer(existing.get(), kFunctionTypeCapsule))
                       : nullptr;
        if (!tp || !PyType_Check(reinterpret_cast<PyObject *>(tp)) || (tp->tp_flags & Py_TPFLAGS_HEAPTYPE) ||
            tp->tp_basicsize != static_cast<Py_ssize_t>(sizeof(FunctionObject)) ||
            tp->tp_vectorcall_offset != static_cast<Py_ssize_t>(offsetof(FunctionObject, vectorcall))) {
            PyErr_Format(PyExc_TypeError, "shared entry %s.%s is not this package's function type", kRegistryModule,
                         kFunctionTypeKey);
            return -1;
        }
        g_function_type = tp;
        Py_INCREF(tp);  // kept for the life of the process
        return 0;
    }
    if (PyType_Ready(&g_function_type_object) < 0) return -1;
    Ref capsule = Ref::steal(PyCapsule_New(&g_function_type_object, kFunctionTypeCapsule, nullptr));
    if (!capsule || PyObject_SetAttrString(registry.get(), kFunctionTypeKey, capsule.get()) < 0) return -1;
    g_function_type = &g_function_type_object;
    Py_INCREF(g_function_type);
    return 0;
}

// A code object carrying the parameter names, so introspection sees them.
PyObject *make_code(const FuncDef *def, PyObject *name, PyObject *qualname) {
    Ref code = Ref::steal(reinterpret_cast<PyObject *>(PyCode_NewEmpty(tb_file_of(def), def->name, def->line)));
    if (!code) return nullptr;
    int extra = def->self_type ? 1 : 0;
    Ref varnames = Ref::steal(PyTuple_New(def->nparams + extra));
    if (!varnames) return nullptr;
    if (extra) {
        PyObject *s = PyUnicode_InternFromString("self");
        if (!s) return nullptr;
        PyTuple_SET_ITEM(varnames.get(), 0, s);
    }
    for (int i = 0; i < def->nparams; ++i) PyTuple_SET_ITEM(varnames.get(), i + extra, Py_NewRef(def->names[i]));
    Ref replace = Ref::steal(PyObject_GetAttrString(code.get(), "replace"));
    if (!replace) return nullptr;
    Ref kwargs = Ref::steal(PyDict_New());
    if (!kwargs) return nullptr;
    Ref argcount = Ref::steal(PyLong_FromLong(def->nparams + extra));
    if (!argcount) return nullptr;
    if (PyDict_SetItemString(kwargs.get(), "co_argcount", argcount.get()) < 0 ||
        PyDict_SetItemString(kwargs.get(), "co_nlocals", argcount.get()) < 0 ||
        PyDict_SetItemString(kwargs.get(), "co_varnames", varnames.get()) < 0 ||
        PyDict_SetItemString(kwargs.get(), "co_name", name) < 0 ||
        PyDict_SetItemString(kwargs.get(), "co_qualname", qualname) < 0)
        return nullptr;
    Ref empty = Ref::steal(PyTuple_New(0));
    if (!empty) return nullptr;
    return PyObject_Call(replace.get(), empty.get(), kwargs.get());
}

}  // namespace

PyTypeObject *function_type() { return g_function_type; }

PyObject *make_function(FuncDef *def) {
    int nreq = 0;
    bool any_default = false;
    for (int i = 0; i < def->nparams; ++i) {
        if (!def->names[i]) {
            def->names[i] = PyUnicode_InternFromString(def->params[i].name);
            if (!def->names[i]) return nullptr;
            PyObject_Hash(def->names[i]);
        }
        if (def->params[i].default_none)
            any_default = true;
        else
            ++nreq;
    }
    def->nrequired = nreq;
    def->objects_only = true;
    def->has_custom = false;
    for (int i = 0; i < def->nparams; ++i) {
        def->objects_only = def->objects_only && def->params[i].kind == Kind::Object;
        if (def->params[i].kind == Kind::Custom) {
            // One scratch area per call holds the converted value.
            if (def->has_custom) {
                PyErr_Format(PyExc_SystemError, "%s: more than one parameter with a custom conversion", def->name);
                return nullptr;
            }
            def->has_custom = true;
        }
    }
    auto *f = PyObject_GC_New(FunctionObject, g_function_type);
    if (!f) return nullptr;
    f->vectorcall = def->vectorcall ? def->vectorcall : function_vectorcall;
    f->def = def;
    f->self = Py_NewRef(g_mod.module);
    f->globals = Py_NewRef(g_mod.dict);
    f->name = nullptr;
    f->qualname = nullptr;
    f->module = nullptr;
    f->doc = Py_NewRef(Py_None);
    f->dict = nullptr;
    f->code = nullptr;
    f->defaults = nullptr;
    f->kwdefaults = nullptr;
    f->annotations = nullptr;
    f->weakreflist = nullptr;
    Ref owner = Ref::steal(reinterpret_cast<PyObject *>(f));
    if (!(f->name = PyUnicode_InternFromString(def->name))) return nullptr;
    if (!(f->qualname = PyUnicode_FromString(def->qualname))) return nullptr;
    if (!(f->module = PyUnicode_FromString(g_mod.id->full_name))) return nullptr;
    if (!(f->code = make_code(def, f->name, f->qualname))) return nullptr;
    if (any_default) {
        if (!(f->defaults = PyTuple_New(def->nparams - nreq))) return nullptr;
        for (int i = nreq, j = 0; i < def->nparams; ++i, ++j) PyTuple_SET_ITEM(f->defaults, j, Py_NewRef(Py_None));
    }
    PyObject_GC_Track(reinterpret_cast<PyObject *>(f));
    return owner.release();
}

int add_function(PyObject *dict, FuncDef *def, PyTypeObject *owner) {
    Ref f = Ref::steal(make_function(def));
    if (!f) return -1;
    PyObject *key = reinterpret_cast<FunctionObject *>(f.get())->name;
    if (PyDict_SetItem(dict, key, f.get()) < 0) return -1;
    if (owner) PyType_Modified(owner);
    return 0;
}

// ---------------------------------------------------------------------------
// Module loading

PyObject *module_create(PyObject *spec, PyModuleDef *) {
    std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1) return nullptr;
    if (g_mod.interp_id == -1) {
        g_mod.interp_id = current;
    } else if (current != g_mod.interp_id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one interpreter per "
                        "process.");
        return nullptr;
    }
    if (g_mod.module) return Py_NewRef(g_mod.module);
    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) return nullptr;
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    if (!module) return nullptr;
    PyObject *dict = PyModule_GetDict(module.get());
    struct Copy {
        const char *from;
        const char *to;
        bool allow_none;
    };
    static const Copy copies[] = {
        {"loader", "__loader__", true},
        {"origin", "__file__", true},
        {"parent", "__package__", true},
        {"submodule_search_locations", "__path__", false},
    };
    for (const Copy &c : copies) {
        PyObject *value = nullptr;
        if (PyObject_GetOptionalAttrString(spec, c.from, &value) < 0) return nullptr;
        Ref v = Ref::steal(value);
        if (!v) continue;
        if (!c.allow_none && v.get() == Py_None) continue;
        if (PyDict_SetItemString(dict, c.to, v.get()) < 0) return nullptr;
    }
    return module.release();
}

PyObject *define_module(const ModuleIdentity *id, int (*exec)(PyObject *module)) {
    // One module per shared library, so the definition lives in the frame.
    static PyModuleDef_Slot slots[] = {
        {Py_mod_create, reinterpret_cast<void *>(module_create)},
        {Py_mod_exec, nullptr},
        {0, nullptr},
    };
    static PyModuleDef def = {
        PyModuleDef_HEAD_INIT, nullptr, nullptr, 0, nullptr, slots, nullptr, nullptr, nullptr,
    };
    g_mod.id = id;
    slots[1].value = reinterpret_cast<void *>(exec);
    def.m_name = id->short_name;
    return PyModuleDef_Init(&def);
}

int check_python_version(int major, int minor) {
    int rt_major = static_cast<int>((Py_Version >> 24) & 0xFF);
    int rt_minor = static_cast<int>((Py_Version >> 16) & 0xFF);
    if (rt_major == major && rt_minor == minor) return 0;
    char message[200];
    std::snprintf(message, sizeof message,
                  "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d", major, minor,
                  g_mod.id->full_name, "does not match", rt_major, rt_minor);
    return PyErr_WarnEx(PyExc_RuntimeWarning, message, 1);
}

int expand_constants(const ConstTableDesc &desc, PyObject **out) {
    std::vector<std::uint8_t> text;
    if (!run_native([&] { text.resize(desc.expanded_len ? desc.expanded_len : 1); })) return -1;
    if (!lzss_expand(desc.compressed, desc.compressed_len, text.data(), desc.expanded_len)) {
        PyErr_SetString(PyExc_RuntimeError, "LZSS string data decompression failed");
        return -1;
    }
    std::size_t pos = 0;
    const int total = desc.n_str + desc.n_bytes;
    for (int i = 0; i < total; ++i) {
        std::size_t len = desc.lengths[i];
        if (pos + len > desc.expanded_len) {
            PyErr_SetString(PyExc_RuntimeError, "LZSS string data decompression failed");
            return -1;
        }
        const char *p = reinterpret_cast<const char *>(text.data() + pos);
        PyObject *o;
        if (i < desc.n_str) {
            o = PyUnicode_DecodeUTF8(p, static_cast<Py_ssize_t>(len), nullptr);
            if (o && i >= desc.n_uninterned) PyUnicode_InternInPlace(&o);
        } else {
            o = PyBytes_FromStringAndSize(p, static_cast<Py_ssize_t>(len));
        }
        if (!o) return -1;
        if (PyObject_Hash(o) == -1) {
            Py_DECREF(o);
            return -1;
        }
        out[i] = o;
        pos += len;
    }
    return 0;
}

int module_exec_begin(PyObject *module, const ConstTableDesc &consts) {
    if (g_mod.module) {
        if (g_mod.module == module) return 1;
        PyErr_Format(PyExc_RuntimeError, "Module '%s' has already been imported. Re-initialisation is not supported.",
                     g_mod.id->short_name);
        return -1;
    }
    g_mod.module = Py_NewRef(module);
    g_mod.dict = PyModule_GetDict(module);
    if (!g_mod.dict) return -1;
    if (!g_mod.builtins && !(g_mod.builtins = PyImport_ImportModule("builtins"))) return -1;
    if (PyDict_SetItemString(g_mod.dict, "__builtins__", g_mod.builtins) < 0) return -1;
    if (check_python_version(KORA_COMPILED_PY_MAJOR, KORA_COMPILED_PY_MINOR) < 0) return -1;
    if (!g_mod.consts_ready) {
        const int total = consts.n_str + consts.n_bytes;
        auto **table =
            static_cast<PyObject **>(PyMem_Calloc(static_cast<std::size_t>(total ? total : 1), sizeof(PyObject *)));
        if (!table) {
            PyErr_NoMemory();
            return -1;
        }
        if (expand_constants(consts, table) < 0) {
            for (int i = 0; i < total; ++i) Py_XDECREF(table[i]);
            PyMem_Free(table);
            return -1;
        }
        g_mod.consts = table;
        g_mod.n_consts = total;
        g_mod.consts_ready = true;
    }
    if (obtain_function_type() < 0) return -1;
    PyObject *modules = PyImport_GetModuleDict();
    Ref full = Ref::steal(PyUnicode_FromString(g_mod.id->full_name));
    if (!full) return -1;
    int present = PyDict_Contains(modules, full.get());
    if (present < 0) return -1;
    if (!present && PyDict_SetItem(modules, full.get(), module) < 0) return -1;
    return 0;
}

int module_exec_end() {
    Ref test = Ref::steal(PyDict_New());
    if (!test || PyDict_SetItemString(g_mod.dict, "__test__", test.get()) < 0) return module_exec_fail();
    return 0;
}

int module_exec_fail() {
    if (g_mod.dict && g_mod.consts_ready) add_traceback(g_mod.id->init_name, 0);
    Py_CLEAR(g_mod.module);
    g_mod.dict = nullptr;
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, g_mod.id->init_name);
    return -1;
}

int import_peer_type(const char *module_name, const char *type_name, Py_ssize_t expected_size, PyTypeObject **type_out,
                     void **vtable_out) {
    Ref module = Ref::steal(PyImport_ImportModule(module_name));
    if (!module) return -1;
    Ref type = Ref::steal(PyObject_GetAttrString(module.get(), type_name));
    if (!type) return -1;
    if (!PyType_Check(type.get())) {
        PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", module_name, type_name);
        return -1;
    }
    auto *tp = reinterpret_cast<PyTypeObject *>(type.get());
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
        if (PyErr_WarnFormat(PyExc_RuntimeWarning, 0,
                             "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from C "
                             "header, got %zd from PyObject",
                             module_name, type_name, expected_size, basic) < 0)
            return -1;
    }
    if (vtable_out) {
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
        // which would raise and leave that error pending.
        void *vt = PyCapsule_CheckExact(cap) ? PyCapsule_GetPointer(cap, PyCapsule_GetName(cap)) : nullptr;
        if (!vt) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, "invalid vtable found for imported type");
            return -1;
        }
        *vtable_out = vt;
    }
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

int publish_capi(const CapiEntry *entries, std::size_t count) {
    PyObject *found = nullptr;
    if (PyDict_GetItemStringRef(g_mod.dict, "__pyx_capi__", &found) < 0) return -1;
    Ref table = Ref::steal(found);
    if (!table) {
        table = Ref::steal(PyDict_New());
        if (!table) return -1;
        if (PyDict_SetItemString(g_mod.dict, "__pyx_capi__", table.get()) < 0) return -1;
    }
    for (std::size_t i = 0; i < count; ++i) {
        Ref capsule = Ref::steal(PyCapsule_New(entries[i].function, entries[i].signature, nullptr));
        if (!capsule) return -1;
        if (PyDict_SetItemString(table.get(), entries[i].name, capsule.get()) < 0) return -1;
    }
    return 0;
}

PyObject *lookup_global(PyObject *name) {
    PyObject *r = nullptr;
    int found = PyDict_GetItemRef(g_mod.dict, name, &r);
    if (found < 0) return nullptr;
    if (found) return r;
    if (PyObject_GetOptionalAttr(g_mod.builtins, name, &r) < 0) return nullptr;
    if (r) return r;
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return nullptr;
}

int set_module_attr(const char *name, PyObject *value) { return PyDict_SetItemString(g_mod.dict, name, value); }

}  // namespace kora
