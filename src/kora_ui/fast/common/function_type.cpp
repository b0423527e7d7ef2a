// The shared function type: its slots and attributes, the registry through
// which the package's modules share it, and the making of function objects.

#include "kora_ui/fast/common/function.h"

#include "kora_ui/fast/common/function_object.h"
#include "kora_ui/fast/common/module.h"
#include "kora_ui/fast/common/traceback.h"

#include <structmember.h>

namespace kora {

PyTypeObject *g_function_type = nullptr;

namespace {

// Name of the registry module through which the package's native modules
// share one function type, and the key of the type in it. The key carries a
// layout version: modules built with another FunctionObject layout must not
// share the type.
constexpr const char *kRegistryModule = "_kora_ui_shared_types";
constexpr const char *kFunctionTypeKey = "function_type_v1";
// The entry is a capsule of this name holding the type object: Python code
// cannot put a look-alike class there by accident.
constexpr const char *kFunctionTypeCapsule = "_kora_ui_shared_types.function_type_v1";

const char *tb_file_of(const FuncDef *def) { return def->tb_file ? def->tb_file : g_mod.id->tb_file.data; }

// The objects a function holds: the collector visits them and clearing
// releases them, from this one list.
constexpr PyObject *FunctionObject::*kHeldFields[] = {
    &FunctionObject::self,     &FunctionObject::globals,    &FunctionObject::name,        &FunctionObject::qualname,
    &FunctionObject::module,   &FunctionObject::doc,        &FunctionObject::dict,        &FunctionObject::code,
    &FunctionObject::defaults, &FunctionObject::kwdefaults, &FunctionObject::annotations,
};
static_assert(std::size(kHeldFields) ==
                  (offsetof(FunctionObject, weakreflist) - offsetof(FunctionObject, self)) / sizeof(PyObject *),
              "every object field from self up to the weak reference list is held, and listed once");

int function_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    for (auto field : kHeldFields) Py_VISIT(reinterpret_cast<FunctionObject *>(self)->*field);
    return 0;
}

int function_clear(PyObject *self) {
    for (auto field : kHeldFields) Py_CLEAR(reinterpret_cast<FunctionObject *>(self)->*field);
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

}  // namespace

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

namespace {

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

void add_function_traceback(const FuncDef *def) { add_traceback_in(def->fullname, def->line, tb_file_of(def)); }

int intern_names(const FuncDef *def) {
    for (int i = 0; i < def->nparams; ++i) {
        if (def->names[i]) continue;
        def->names[i] = PyUnicode_InternFromString(def->params[i].name);
        if (!def->names[i]) return -1;
        PyObject_Hash(def->names[i]);
    }
    return 0;
}

PyObject *make_function(const FuncDef *def) {
    if (intern_names(def) < 0) return nullptr;
    const int nreq = def->nrequired;
    auto *f = PyObject_GC_New(FunctionObject, g_function_type);
    if (!f) return nullptr;
    f->vectorcall = def->vectorcall;
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
    if (!(f->module = PyUnicode_FromString(g_mod.id->full_name.data))) return nullptr;
    if (!(f->code = make_code(def, f->name, f->qualname))) return nullptr;
    if (nreq < def->nparams) {
        if (!(f->defaults = PyTuple_New(def->nparams - nreq))) return nullptr;
        for (int i = nreq, j = 0; i < def->nparams; ++i, ++j) PyTuple_SET_ITEM(f->defaults, j, Py_NewRef(Py_None));
    }
    PyObject_GC_Track(reinterpret_cast<PyObject *>(f));
    return owner.release();
}

int add_function(PyObject *dict, const FuncDef *def, PyTypeObject *owner) {
    Ref f = Ref::steal(make_function(def));
    if (!f) return -1;
    PyObject *key = reinterpret_cast<FunctionObject *>(f.get())->name;
    if (PyDict_SetItem(dict, key, f.get()) < 0) return -1;
    if (owner) PyType_Modified(owner);
    return 0;
}

int add_functions(PyObject *dict, std::span<const RegistrationItem> table, PyTypeObject *owner) {
    for (const RegistrationItem &item : table)
        if ((item.def ? add_function(dict, item.def, owner) : item.store(dict)) < 0) return -1;
    return 0;
}

}  // namespace kora
