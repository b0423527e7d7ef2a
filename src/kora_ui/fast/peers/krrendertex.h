// Instance layout and C-level method table of KrRenderTexture (module
// kora_ui.fast.krrendertex.kr_render_tex): a wrapper around a raylib render
// texture object. See krvector2.h for the conventions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kora_ui/fast/peers/krrect.h"
#include "kora_ui/fast/peers/krvector2.h"

namespace kora::peers {

inline constexpr const char *kKrRenderTextureModule = "kora_ui.fast.krrendertex.kr_render_tex";
inline constexpr const char *kKrRenderTextureTypeName = "KrRenderTexture";

struct KrRenderTextureVTable;

// Once constructed, render_texture and size are strong references and never
// NULL: render_texture is any object (Py_None when unset) and size points to
// a KrVector2 or is Py_None (so compare against Py_None before reading it as
// a KrVector2Object).
struct KrRenderTextureObject {
    PyObject_HEAD KrRenderTextureVTable *vtab;
    PyObject *render_texture;
    KrVector2Object *size;
    int loaded;
};

// Functions returning int report 0 on success, -1 with an exception set;
// pointer results are new references or NULL with an exception set, except
// where noted. The drawing and clearing entries do nothing in this build
// (there is no graphics backend) and succeed.
struct KrRenderTextureVTable {
    int (*c_fast_blit)(KrRenderTextureObject *self, PyObject *source, float x, float y);
    int (*c_fast_blit_texture)(KrRenderTextureObject *self, PyObject *texture, float x, float y);
    int (*c_fast_krblit)(KrRenderTextureObject *self, KrRenderTextureObject *source, const KrVector2Object *pos);
    int (*c_fast_clear)(KrRenderTextureObject *self);
    int (*c_clear)(KrRenderTextureObject *self, PyObject *color);
    // Python-level forms: return None.
    PyObject *(*clear)(KrRenderTextureObject *self, PyObject *color);
    PyObject *(*fast_clear)(KrRenderTextureObject *self);
    PyObject *(*fill)(KrRenderTextureObject *self, PyObject *color);
    // Marks the texture unloaded (loaded = 0) and returns None.
    PyObject *(*kill)(KrRenderTextureObject *self);
    // KrRect(0, 0, width, height).
    KrRectObject *(*get_rect)(KrRenderTextureObject *self);
    // Components of size truncated toward zero and saturated to the int range
    // (NaN gives 0); 0 when size is None. Cannot fail.
    int (*get_height)(KrRenderTextureObject *self);
    int (*get_width)(KrRenderTextureObject *self);
    // self.render_texture.texture, looked up as a Python attribute
    // (AttributeError when there is none, including render_texture None).
    PyObject *(*c_get_texture)(KrRenderTextureObject *self);
    // A new KrRenderTexture wrapping render_texture, the same as
    // KrRenderTexture(render_texture): size None, loaded 0.
    KrRenderTextureObject *(*new_)(PyObject *render_texture);
};

static_assert(sizeof(KrRenderTextureObject) == 48);
static_assert(sizeof(KrRenderTextureVTable) == 14 * sizeof(void (*)()));

}  // namespace kora::peers
