// Stand-in for the package's KrShader type: the instance layout and method
// table declared in krshader.h, plus id/locs attributes for Python (locs is
// the integer address of the location array).
#include "kora_ui/fast/peers/krshader.h"

#include <cstdint>

#include "kora_ui/fast/peers/standins/standin.h"

namespace kora::peers {

// Defined after the functions it points to; every instance points here.
extern KrShaderVTable krshader_vtable;

namespace {

namespace sp = support;

PyTypeObject *g_type = nullptr;

KrShaderObject *s_create_from_code(const char *, const char *) {
    auto *self = reinterpret_cast<KrShaderObject *>(g_type->tp_alloc(g_type, 0));
    if (self != nullptr) {
        self->vtab = &krshader_vtable;
        self->id = 0;
        self->locs = nullptr;
    }
    return self;
}

}  // namespace

KrShaderVTable krshader_vtable = {s_create_from_code};

namespace {

PyObject *tp_new(PyTypeObject *type, PyObject *, PyObject *) {
    auto *self = reinterpret_cast<KrShaderObject *>(type->tp_alloc(type, 0));
    if (self != nullptr) {
        self->vtab = &krshader_vtable;
        self->id = 0;
        self->locs = nullptr;
    }
    return reinterpret_cast<PyObject *>(self);
}

// Python int (or __index__ object) to an unsigned value no larger than max.
bool to_unsigned(PyObject *value, unsigned long long max, const char *what, unsigned long long *out) {
    PyObject *index = PyNumber_Index(value);
    if (index == nullptr) {
        return false;
    }
    unsigned long long v = PyLong_AsUnsignedLongLong(index);
    Py_DECREF(index);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        return false;
    }
    if (v > max) {
        PyErr_Format(PyExc_OverflowError, "%s out of range", what);
        return false;
    }
    *out = v;
    return true;
}

int set_id(PyObject *op, PyObject *value, void *) {
    unsigned long long v;
    if (value == nullptr) {
        return sp::no_delete("id");
    }
    if (!to_unsigned(value, UINT32_MAX, "shader id", &v)) {
        return -1;
    }
    reinterpret_cast<KrShaderObject *>(op)->id = static_cast<std::uint32_t>(v);
    return 0;
}

int set_locs(PyObject *op, PyObject *value, void *) {
    unsigned long long v;
    if (value == nullptr) {
        return sp::no_delete("locs");
    }
    if (!to_unsigned(value, UINTPTR_MAX, "locs address", &v)) {
        return -1;
    }
    reinterpret_cast<KrShaderObject *>(op)->locs = reinterpret_cast<int *>(static_cast<std::uintptr_t>(v));
    return 0;
}

PyObject *get_id(PyObject *op, void *) { return PyLong_FromUnsignedLong(reinterpret_cast<KrShaderObject *>(op)->id); }

PyObject *get_locs(PyObject *op, void *) {
    auto addr = reinterpret_cast<std::uintptr_t>(reinterpret_cast<KrShaderObject *>(op)->locs);
    return PyLong_FromUnsignedLongLong(addr);
}

int tp_init(PyObject *op, PyObject *args, PyObject *kwds) {
    static const char *const kwlist[] = {"id", "locs", nullptr};
    PyObject *id = nullptr, *locs = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|OO:KrShader", kwlist, &id, &locs)) {
        return -1;
    }
    unsigned long long id_v = 0, locs_v = 0;
    if ((id != nullptr && !to_unsigned(id, UINT32_MAX, "shader id", &id_v)) ||
        (locs != nullptr && !to_unsigned(locs, UINTPTR_MAX, "locs address", &locs_v))) {
        return -1;
    }
    auto *self = reinterpret_cast<KrShaderObject *>(op);
    self->id = static_cast<std::uint32_t>(id_v);
    self->locs = reinterpret_cast<int *>(static_cast<std::uintptr_t>(locs_v));
    return 0;
}

void tp_dealloc(PyObject *op) {
    PyTypeObject *type = Py_TYPE(op);
    type->tp_free(op);
    Py_DECREF(type);
}

PyGetSetDef getset[] = {
    {"id", get_id, set_id, "shader program id (uint32)", nullptr},
    {"locs", get_locs, set_locs, "address of the uniform location array", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot type_slots[] = {
    {Py_tp_new, sp::slot_fn(tp_new)},
    {Py_tp_init, sp::slot_fn(tp_init)},
    {Py_tp_dealloc, sp::slot_fn(tp_dealloc)},
    {Py_tp_getset, getset},
    {Py_tp_doc, const_cast<char *>("KrShader(id=0, locs=0): a shader handle; locs is an address.")},
    {0, nullptr},
};

PyType_Spec type_desc = {
    "kora_ui.fast.krshader.krshader.KrShader",
    sizeof(KrShaderObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    type_slots,
};

int module_exec(PyObject *module) { return sp::add_type(module, &type_desc, &krshader_vtable, &g_type); }

}  // namespace
}  // namespace kora::peers

PyMODINIT_FUNC PyInit_krshader(void) {
    return kora::peers::support::define_standin<kora::peers::module_exec>(kora::peers::kKrShaderModule,
                                                                          "Stand-in KrShader type.");
}
