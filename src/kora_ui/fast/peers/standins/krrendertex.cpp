// Stand-in for the package's KrRenderTexture type: the instance layout and
// method table declared in krrendertex.h, plus render_texture/size/loaded
// attributes for Python. There is no graphics backend here, so the drawing
// entries of the table are no-ops.
#include "kora_ui/fast/peers/krrendertex.h"

#include <cstddef>

#include "kora_ui/fast/peers/standins/standin.h"

namespace kora::peers {

// Defined after the functions it points to; every instance points here.
extern KrRenderTextureVTable krrendertex_vtable;

namespace {

namespace sp = support;

PyTypeObject *g_type = nullptr;
// KrVector2 (what size may hold besides None) and KrRect's table (get_rect
// builds rectangles with it); both imported when the module executes.
PyTypeObject *g_vector2_type = nullptr;
KrRectVTable *g_rect_vtable = nullptr;

// Fills a freshly allocated instance so the invariants of the layout hold.
void init_fields(KrRenderTextureObject *self) {
    self->vtab = &krrendertex_vtable;
    self->render_texture = Py_NewRef(Py_None);
    self->size = reinterpret_cast<KrVector2Object *>(Py_NewRef(Py_None));
    self->loaded = 0;
}

bool size_is_none(KrRenderTextureObject *self) {
    return self->size == nullptr || reinterpret_cast<PyObject *>(self->size) == Py_None;
}

int t_draw_noop(KrRenderTextureObject *, PyObject *, float, float) { return 0; }
int t_fast_krblit(KrRenderTextureObject *, KrRenderTextureObject *, const KrVector2Object *) { return 0; }
int t_fast_clear(KrRenderTextureObject *) { return 0; }
int t_c_clear(KrRenderTextureObject *, PyObject *) { return 0; }
PyObject *t_clear(KrRenderTextureObject *, PyObject *) { Py_RETURN_NONE; }
PyObject *t_py_fast_clear(KrRenderTextureObject *) { Py_RETURN_NONE; }
PyObject *t_fill(KrRenderTextureObject *, PyObject *) { Py_RETURN_NONE; }

PyObject *t_kill(KrRenderTextureObject *self) {
    self->loaded = 0;
    Py_RETURN_NONE;
}

int t_get_width(KrRenderTextureObject *self) { return size_is_none(self) ? 0 : sp::trunc_to_int(self->size->data.x); }

int t_get_height(KrRenderTextureObject *self) { return size_is_none(self) ? 0 : sp::trunc_to_int(self->size->data.y); }

KrRectObject *t_get_rect(KrRenderTextureObject *self) {
    return g_rect_vtable->new_(0.0f, 0.0f, float(t_get_width(self)), float(t_get_height(self)));
}

PyObject *t_c_get_texture(KrRenderTextureObject *self) {
    if (self->render_texture == nullptr) {
        PyErr_SetString(PyExc_AttributeError, "KrRenderTexture has no render_texture");
        return nullptr;
    }
    return PyObject_GetAttrString(self->render_texture, "texture");
}

KrRenderTextureObject *t_new(PyObject *render_texture) {
    auto *self = reinterpret_cast<KrRenderTextureObject *>(g_type->tp_alloc(g_type, 0));
    if (self != nullptr) {
        init_fields(self);
        Py_SETREF(self->render_texture, Py_NewRef(render_texture));
    }
    return self;
}

}  // namespace

// Other modules rely on this slot order.
KrRenderTextureVTable krrendertex_vtable = {
    t_draw_noop, t_draw_noop, t_fast_krblit, t_fast_clear, t_c_clear,   t_clear,         t_py_fast_clear,
    t_fill,      t_kill,      t_get_rect,    t_get_height, t_get_width, t_c_get_texture, t_new,
};

namespace {

KrRenderTextureObject *as_rt(PyObject *op) { return reinterpret_cast<KrRenderTextureObject *>(op); }

PyObject *tp_new(PyTypeObject *type, PyObject *, PyObject *) {
    PyObject *self = type->tp_alloc(type, 0);
    if (self != nullptr) {
        init_fields(as_rt(self));
    }
    return self;
}

int set_size(PyObject *op, PyObject *value, void *) {
    if (value == nullptr) {
        return sp::no_delete("size");
    }
    if (value != Py_None && !PyObject_TypeCheck(value, g_vector2_type)) {
        PyErr_Format(PyExc_TypeError, "size must be a KrVector2 or None, not %.200s", Py_TYPE(value)->tp_name);
        return -1;
    }
    Py_XSETREF(as_rt(op)->size, reinterpret_cast<KrVector2Object *>(Py_NewRef(value)));
    return 0;
}

PyObject *get_size(PyObject *op, void *) {
    PyObject *size = reinterpret_cast<PyObject *>(as_rt(op)->size);
    return Py_NewRef(size != nullptr ? size : Py_None);
}

int set_render_texture(PyObject *op, PyObject *value, void *) {
    if (value == nullptr) {
        return sp::no_delete("render_texture");
    }
    Py_XSETREF(as_rt(op)->render_texture, Py_NewRef(value));
    return 0;
}

PyObject *get_render_texture(PyObject *op, void *) {
    PyObject *rt = as_rt(op)->render_texture;
    return Py_NewRef(rt != nullptr ? rt : Py_None);
}

int tp_init(PyObject *op, PyObject *args, PyObject *kwds) {
    static const char *const kwlist[] = {"render_texture", "size", "loaded", nullptr};
    PyObject *render_texture = Py_None, *size = Py_None;
    int loaded = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|OOi:KrRenderTexture", kwlist, &render_texture, &size, &loaded)) {
        return -1;
    }
    if (set_size(op, size, nullptr) < 0) {
        return -1;
    }
    as_rt(op)->loaded = loaded;
    return set_render_texture(op, render_texture, nullptr);
}

int tp_traverse(PyObject *op, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(op));
    Py_VISIT(as_rt(op)->render_texture);
    Py_VISIT(reinterpret_cast<PyObject *>(as_rt(op)->size));
    return 0;
}

// Breaks cycles while keeping both fields valid references (None).
int tp_clear(PyObject *op) {
    Py_XSETREF(as_rt(op)->render_texture, Py_NewRef(Py_None));
    Py_XSETREF(as_rt(op)->size, reinterpret_cast<KrVector2Object *>(Py_NewRef(Py_None)));
    return 0;
}

void tp_dealloc(PyObject *op) {
    PyTypeObject *type = Py_TYPE(op);
    PyObject_GC_UnTrack(op);
    Py_CLEAR(as_rt(op)->render_texture);
    Py_CLEAR(as_rt(op)->size);
    type->tp_free(op);
    Py_DECREF(type);
}

PyMemberDef members[] = {
    {"loaded", Py_T_INT, offsetof(KrRenderTextureObject, loaded), 0, "nonzero while the texture is loaded"},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"render_texture", get_render_texture, set_render_texture, "the wrapped render texture object", nullptr},
    {"size", get_size, set_size, "KrVector2 size or None", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot type_slots[] = {
    {Py_tp_new, sp::slot_fn(tp_new)},
    {Py_tp_init, sp::slot_fn(tp_init)},
    {Py_tp_dealloc, sp::slot_fn(tp_dealloc)},
    {Py_tp_traverse, sp::slot_fn(tp_traverse)},
    {Py_tp_clear, sp::slot_fn(tp_clear)},
    {Py_tp_members, members},
    {Py_tp_getset, getset},
    {Py_tp_doc, const_cast<char *>("KrRenderTexture(render_texture=None, size=None, loaded=0).")},
    {0, nullptr},
};

PyType_Spec type_desc = {
    "kora_ui.fast.krrendertex.kr_render_tex.KrRenderTexture",
    sizeof(KrRenderTextureObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    type_slots,
};

int module_exec(PyObject *module) {
    PyTypeObject *vector2 = import_type(kKrVector2Module, kKrVector2TypeName);
    if (vector2 == nullptr) return -1;
    Py_XSETREF(g_vector2_type, vector2);
    Ref rect = Ref::steal(reinterpret_cast<PyObject *>(import_type(kKrRectModule, kKrRectTypeName)));
    // The table lives in the krrect module's static data, which stays loaded
    // for the life of the process once imported.
    void *rect_vtable = nullptr;
    if (!rect || type_vtable(reinterpret_cast<PyTypeObject *>(rect.get()), &rect_vtable) < 0) return -1;
    g_rect_vtable = static_cast<KrRectVTable *>(rect_vtable);
    return sp::add_type(module, &type_desc, &krrendertex_vtable, &g_type);
}

}  // namespace
}  // namespace kora::peers

PyMODINIT_FUNC PyInit_kr_render_tex(void) {
    return kora::peers::support::define_standin<kora::peers::module_exec>(kora::peers::kKrRenderTextureModule,
                                                                          "Stand-in KrRenderTexture type.");
}
