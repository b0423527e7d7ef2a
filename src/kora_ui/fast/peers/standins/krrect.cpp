// Stand-in for the package's KrRect type: the instance layout and method
// table declared in krrect.h, plus float32 x/y/w/h attributes for Python.
#include "kora_ui/fast/peers/krrect.h"

#include <algorithm>

#include "kora_ui/fast/peers/standins/standin.h"

namespace kora::peers {

// Defined after the functions it points to; every instance points here.
extern KrRectVTable krrect_vtable;

namespace {

namespace sp = support;

// The type created by the most recent module execution; the table's
// allocating entries create instances of it.
PyTypeObject *g_type = nullptr;

KrRectObject *alloc_rect(float x, float y, float w, float h) {
    auto *self = reinterpret_cast<KrRectObject *>(g_type->tp_alloc(g_type, 0));
    if (self != nullptr) {
        self->vtab = &krrect_vtable;
        self->x = x;
        self->y = y;
        self->w = w;
        self->h = h;
    }
    return self;
}

KrRectObject *r_new(float x, float y, float w, float h) { return alloc_rect(x, y, w, h); }
KrRectObject *r_add(KrRectObject *a, const KrRectObject *b) {
    return alloc_rect(a->x + b->x, a->y + b->y, a->w + b->w, a->h + b->h);
}
KrRectObject *r_sub(KrRectObject *a, const KrRectObject *b) {
    return alloc_rect(a->x - b->x, a->y - b->y, a->w - b->w, a->h - b->h);
}
KrRectObject *r_mul_scalar(KrRectObject *a, float k) { return alloc_rect(a->x * k, a->y * k, a->w * k, a->h * k); }
KrRectObject *r_mul_rect(KrRectObject *a, const KrRectObject *b) {
    return alloc_rect(a->x * b->x, a->y * b->y, a->w * b->w, a->h * b->h);
}
void r_iadd(KrRectObject *a, const KrRectObject *b) {
    a->x += b->x;
    a->y += b->y;
    a->w += b->w;
    a->h += b->h;
}
void r_isub(KrRectObject *a, const KrRectObject *b) {
    a->x -= b->x;
    a->y -= b->y;
    a->w -= b->w;
    a->h -= b->h;
}
void r_imul(KrRectObject *a, float k) {
    a->x *= k;
    a->y *= k;
    a->w *= k;
    a->h *= k;
}
KrRectObject *r_union(KrRectObject *a, const KrRectObject *b) {
    float left = std::min(a->x, b->x);
    float top = std::min(a->y, b->y);
    float right = std::max(a->x + a->w, b->x + b->w);
    float bottom = std::max(a->y + a->h, b->y + b->h);
    return alloc_rect(left, top, right - left, bottom - top);
}
KrRectObject *r_from_kr_vector_t(KrVector2Data pos, KrVector2Data size) {
    return alloc_rect(narrow(pos.x), narrow(pos.y), narrow(size.x), narrow(size.y));
}
KrRectObject *r_from_krvector(const KrVector2Object *pos, const KrVector2Object *size) {
    return r_from_kr_vector_t(pos->data, size->data);
}
int r_collide_rect(const KrRectObject *a, const KrRectObject *b) {
    return a->x < b->x + b->w && b->x < a->x + a->w && a->y < b->y + b->h && b->y < a->y + a->h;
}

}  // namespace

// Other modules rely on this slot order.
KrRectVTable krrect_vtable = {
    r_new,  r_add,  r_sub,   r_mul_scalar,    r_mul_rect,         r_iadd,
    r_isub, r_imul, r_union, r_from_krvector, r_from_kr_vector_t, r_collide_rect,
};

namespace {

PyObject *tp_new(PyTypeObject *type, PyObject *, PyObject *) {
    auto *self = reinterpret_cast<KrRectObject *>(type->tp_alloc(type, 0));
    if (self != nullptr) {
        self->vtab = &krrect_vtable;
        self->x = self->y = self->w = self->h = 0.0f;
    }
    return reinterpret_cast<PyObject *>(self);
}

int tp_init(PyObject *op, PyObject *args, PyObject *kwds) {
    static const char *const kwlist[] = {"x", "y", "w", "h", nullptr};
    double x = 0.0, y = 0.0, w = 0.0, h = 0.0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|dddd:KrRect", kwlist, &x, &y, &w, &h)) {
        return -1;
    }
    auto *self = reinterpret_cast<KrRectObject *>(op);
    self->x = narrow(x);
    self->y = narrow(y);
    self->w = narrow(w);
    self->h = narrow(h);
    return 0;
}

void tp_dealloc(PyObject *op) {
    PyTypeObject *type = Py_TYPE(op);
    type->tp_free(op);
    Py_DECREF(type);
}

// Attribute accessors; the closure is the field's member pointer.
using Field = float KrRectObject::*;
const Field kFields[] = {&KrRectObject::x, &KrRectObject::y, &KrRectObject::w, &KrRectObject::h};

PyObject *get_field(PyObject *op, void *closure) {
    Field f = *static_cast<const Field *>(closure);
    return PyFloat_FromDouble(double(reinterpret_cast<KrRectObject *>(op)->*f));
}

int set_field(PyObject *op, PyObject *value, void *closure) {
    if (value == nullptr) {
        return sp::no_delete("KrRect field");
    }
    double v = PyFloat_AsDouble(value);
    if (v == -1.0 && PyErr_Occurred()) {
        return -1;
    }
    Field f = *static_cast<const Field *>(closure);
    reinterpret_cast<KrRectObject *>(op)->*f = narrow(v);
    return 0;
}

void *field_closure(int i) { return const_cast<Field *>(&kFields[i]); }

PyGetSetDef getset[] = {
    {"x", get_field, set_field, "left edge (float32)", field_closure(0)},
    {"y", get_field, set_field, "top edge (float32)", field_closure(1)},
    {"w", get_field, set_field, "width (float32)", field_closure(2)},
    {"h", get_field, set_field, "height (float32)", field_closure(3)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot type_slots[] = {
    {Py_tp_new, sp::slot_fn(tp_new)},
    {Py_tp_init, sp::slot_fn(tp_init)},
    {Py_tp_dealloc, sp::slot_fn(tp_dealloc)},
    {Py_tp_getset, getset},
    {Py_tp_doc, const_cast<char *>("KrRect(x=0.0, y=0.0, w=0.0, h=0.0): a float32 rectangle.")},
    {0, nullptr},
};

PyType_Spec type_desc = {
    "kora_ui.fast.krrect.krrect.KrRect", sizeof(KrRectObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, type_slots,
};

int module_exec(PyObject *module) { return sp::add_type(module, &type_desc, &krrect_vtable, &g_type); }

}  // namespace
}  // namespace kora::peers

PyMODINIT_FUNC PyInit_krrect(void) {
    return kora::peers::support::define_standin<kora::peers::module_exec>(kora::peers::kKrRectModule,
                                                                          "Stand-in KrRect type.");
}
