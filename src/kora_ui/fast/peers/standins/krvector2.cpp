// Stand-in for the package's KrVector2 type: the instance layout and method
// table declared in krvector2.h, plus x/y attributes for Python.
#include "kora_ui/fast/peers/krvector2.h"

#include <cstddef>

#include "kora_ui/fast/peers/standins/standin.h"

namespace kora::peers {

// Defined after the functions it points to; every instance points here.
extern KrVector2VTable krvector2_vtable;

namespace {

namespace sp = support;

// The type created by the most recent module execution; the table's
// allocating entries create instances of it.
PyTypeObject *g_type = nullptr;

KrVector2Object *alloc_vector(double x, double y) {
    auto *self = reinterpret_cast<KrVector2Object *>(g_type->tp_alloc(g_type, 0));
    if (self != nullptr) {
        self->vtab = &krvector2_vtable;
        self->data = {x, y};
    }
    return self;
}

// Reads exactly two numbers from a list or tuple into self.
int set_from_sequence(KrVector2Object *self, PyObject *seq, bool is_list) {
    if (is_list ? !PyList_Check(seq) : !PyTuple_Check(seq)) {
        PyErr_Format(PyExc_TypeError, "expected a %s, got %.200s", is_list ? "list" : "tuple", Py_TYPE(seq)->tp_name);
        return -1;
    }
    Py_ssize_t n = is_list ? PyList_GET_SIZE(seq) : PyTuple_GET_SIZE(seq);
    if (n != 2) {
        PyErr_Format(PyExc_ValueError, "expected 2 items, got %zd", n);
        return -1;
    }
    // Hold the items: converting one may run code that mutates the list.
    PyObject *items[2];
    for (int i = 0; i < 2; ++i) {
        items[i] = Py_NewRef(is_list ? PyList_GET_ITEM(seq, i) : PyTuple_GET_ITEM(seq, i));
    }
    double x = PyFloat_AsDouble(items[0]);
    double y = (x == -1.0 && PyErr_Occurred()) ? -1.0 : PyFloat_AsDouble(items[1]);
    Py_DECREF(items[0]);
    Py_DECREF(items[1]);
    if (PyErr_Occurred()) {
        return -1;
    }
    self->data = {x, y};
    return 0;
}

KrVector2Object *v_new(double x, double y) { return alloc_vector(x, y); }
int v_cfrom_list(KrVector2Object *self, PyObject *list) { return set_from_sequence(self, list, true); }
void v_cfrom_ints(KrVector2Object *self, int x, int y) { self->data = {double(x), double(y)}; }
void v_cfrom_floats(KrVector2Object *self, float x, float y) { self->data = {double(x), double(y)}; }
int v_cfrom_tuple(KrVector2Object *self, PyObject *tuple) { return set_from_sequence(self, tuple, false); }
void v_cfrom_krvector2(KrVector2Object *self, const KrVector2Object *other) { self->data = other->data; }
void v_cfrom_xy(KrVector2Object *self, double x, double y) { self->data = {x, y}; }

PyObject *v_c_get_int_tuple(KrVector2Object *self) {
    PyObject *x = PyLong_FromDouble(self->data.x);
    if (x == nullptr) {
        return nullptr;
    }
    PyObject *y = PyLong_FromDouble(self->data.y);
    if (y == nullptr) {
        Py_DECREF(x);
        return nullptr;
    }
    PyObject *result = PyTuple_Pack(2, x, y);
    Py_DECREF(x);
    Py_DECREF(y);
    return result;
}

KrVector2Object *v_add(KrVector2Object *self, const KrVector2Object *o) {
    return alloc_vector(self->data.x + o->data.x, self->data.y + o->data.y);
}
KrVector2Object *v_sub(KrVector2Object *self, const KrVector2Object *o) {
    return alloc_vector(self->data.x - o->data.x, self->data.y - o->data.y);
}
void v_iadd(KrVector2Object *self, const KrVector2Object *o) {
    self->data.x += o->data.x;
    self->data.y += o->data.y;
}
void v_isub(KrVector2Object *self, const KrVector2Object *o) {
    self->data.x -= o->data.x;
    self->data.y -= o->data.y;
}
void v_imul(KrVector2Object *self, double k) {
    self->data.x *= k;
    self->data.y *= k;
}
void v_isadd(KrVector2Object *self, double s) {
    self->data.x += s;
    self->data.y += s;
}
KrVector2Object *v_copy(KrVector2Object *self) { return alloc_vector(self->data.x, self->data.y); }
KrVector2Object *v_sadd(KrVector2Object *self, double s) { return alloc_vector(self->data.x + s, self->data.y + s); }

}  // namespace

// Other modules rely on this slot order.
KrVector2VTable krvector2_vtable = {
    v_new, v_cfrom_list, v_cfrom_ints, v_cfrom_floats, v_cfrom_tuple, v_cfrom_krvector2, v_cfrom_xy, v_c_get_int_tuple,
    v_add, v_sub,        v_iadd,       v_isub,         v_imul,        v_isadd,           v_copy,     v_sadd,
};

namespace {

PyObject *tp_new(PyTypeObject *type, PyObject *, PyObject *) {
    auto *self = reinterpret_cast<KrVector2Object *>(type->tp_alloc(type, 0));
    if (self != nullptr) {
        self->vtab = &krvector2_vtable;
        self->data = {0.0, 0.0};
    }
    return reinterpret_cast<PyObject *>(self);
}

int tp_init(PyObject *op, PyObject *args, PyObject *kwds) {
    static const char *const kwlist[] = {"x", "y", nullptr};
    double x = 0.0, y = 0.0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|dd:KrVector2", kwlist, &x, &y)) {
        return -1;
    }
    reinterpret_cast<KrVector2Object *>(op)->data = {x, y};
    return 0;
}

void tp_dealloc(PyObject *op) {
    PyTypeObject *type = Py_TYPE(op);
    type->tp_free(op);
    Py_DECREF(type);
}

PyMemberDef members[] = {
    {"x", Py_T_DOUBLE, offsetof(KrVector2Object, data) + offsetof(KrVector2Data, x), 0, "x component"},
    {"y", Py_T_DOUBLE, offsetof(KrVector2Object, data) + offsetof(KrVector2Data, y), 0, "y component"},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot type_slots[] = {
    {Py_tp_new, sp::slot_fn(tp_new)},
    {Py_tp_init, sp::slot_fn(tp_init)},
    {Py_tp_dealloc, sp::slot_fn(tp_dealloc)},
    {Py_tp_members, members},
    {Py_tp_doc, const_cast<char *>("KrVector2(x=0.0, y=0.0): a 2D vector of doubles.")},
    {0, nullptr},
};

PyType_Spec type_desc = {
    "kora_ui.fast.krvector2.krvector2.KrVector2",
    sizeof(KrVector2Object),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    type_slots,
};

int module_exec(PyObject *module) { return sp::add_type(module, &type_desc, &krvector2_vtable, &g_type); }

}  // namespace
}  // namespace kora::peers

PyMODINIT_FUNC PyInit_krvector2(void) {
    return kora::peers::support::define_standin<kora::peers::module_exec>(kora::peers::kKrVector2Module,
                                                                          "Stand-in KrVector2 type.");
}
