// The argument parser of the shared function type: counting, keyword
// matching, conversions and type tests, then the routine.

#include "kora_ui/fast/common/function.h"

#include "kora_ui/fast/common/convert.h"
#include "kora_ui/fast/common/function_object.h"
#include "kora_ui/fast/common/traceback.h"

namespace kora {

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
    if (PyUnicode_CheckExact(key)) {  // compared by content, running no code of the caller's
        for (int i = from; i < def->nparams; ++i)
            if (PyUnicode_Equal(def->names[i], key) == 1) return i;
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

}  // namespace

void raise_check_failure(const ParamDef &p, PyObject *o) {
    if (p.check == Check::NotNone) {
        PyErr_Format(PyExc_TypeError, "Argument '%.200s' must not be None", p.name);
        return;
    }
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", p.name,
                 (*p.type)->tp_name, Py_TYPE(o)->tp_name);
}

PyObject *function_vectorcall(PyObject *callable, PyObject *const *args, std::size_t nargsf, PyObject *kwnames) {
    auto *f = reinterpret_cast<FunctionObject *>(callable);
    const FuncDef *def = f->def;
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    PyObject *self = nullptr;
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
        result = def->invoke(self, args);
    } else {
        // The declaration's own entry has taken the calls by position and by
        // keyword in declaration order; what comes here is counted and matched in full.
        PyObject *slots[kMaxParams];
        if (collect_args(def, args, nargs, kwnames, slots) < 0) goto fail;
        result = def->invoke(self, slots);
    }
    if (result) return result;
fail:
    add_function_traceback(def);
    return nullptr;
}

PyObject *call_with_tuple(const FuncDef *def, PyObject *self, PyObject *args, PyObject *kwargs) {
    if (intern_names(def) < 0) return nullptr;
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    PyObject *const *stack = &PyTuple_GET_ITEM(args, 0);
    Ref values, names;
    if (kwargs && PyDict_GET_SIZE(kwargs) != 0) {
        // The vectorcall layout: positional values, then keyword values, held
        // while the names are matched (a str subclass key runs Python code).
        Py_ssize_t nkw = PyDict_GET_SIZE(kwargs);
        values = Ref::steal(PyTuple_New(nargs + nkw));
        names = Ref::steal(PyTuple_New(nkw));
        if (!values || !names) return nullptr;
        for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(values.get(), i, Py_NewRef(PyTuple_GET_ITEM(args, i)));
        // Nothing here runs code that could resize the dict: it yields nkw items.
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        for (Py_ssize_t k = 0; PyDict_Next(kwargs, &pos, &key, &value); ++k) {
            PyTuple_SET_ITEM(names.get(), k, Py_NewRef(key));
            PyTuple_SET_ITEM(values.get(), nargs + k, Py_NewRef(value));
        }
        stack = &PyTuple_GET_ITEM(values.get(), 0);
    }
    PyObject *slots[kMaxParams];
    PyObject *result = nullptr;
    if (collect_args(def, stack, nargs, names.get(), slots) == 0) result = def->invoke(self, slots);
    if (!result) add_function_traceback(def);
    return result;
}

}  // namespace kora
