// Internal to kora_raylib: the module's identity, its peer types, the raylib
// entry-point table and the conversions of Python objects into raylib
// records shared by the module's source files.
#pragma once

#include "kora_ui/fast/raylib/kora_raylib.h"

#include "kora_ui/fast/common/names.h"

#include <cstdint>

namespace kora::raylib {

inline constexpr ModuleIdentity kModule{"kora_ui.fast.raylib.kora_raylib"};

// The dotted name of a routine of this module, for its traceback entries.
template <Literal Qualname>
inline constexpr const char *dotted = kDotted<kModule, Qualname>.data;

// Peer types with their method tables, imported when the module loads.
extern PyTypeObject *g_KrVector2;
extern PyTypeObject *g_KrShader;
extern PyTypeObject *g_KrRect;
extern PyTypeObject *g_KrRenderTexture;
extern peers::KrRectVTable *g_KrRect_vtab;

extern PyObject *g_white;         // (255, 255, 255, 255)
extern PyObject *g_coord_offset;  // 0.01, added to KrVector2 positions

// ---------------------------------------------------------------------------
// The raylib entry-point table: one entry per KORA_RAYLIB_ENTRIES row, null
// until init_raylib_pointers stores an address.

template <class Ptr>
struct Entry {
    const char *name;
    Ptr call = nullptr;
};

#define KORA_RAYLIB_DECLARE_ENTRY(name, result, params) extern Entry<name##_ptr> e_##name;
KORA_RAYLIB_ENTRIES(KORA_RAYLIB_DECLARE_ENTRY)
#undef KORA_RAYLIB_DECLARE_ENTRY

[[gnu::cold]] void raise_unset(const char *raylib_name);

// Calling through a null entry would crash the process: each call tests its
// entry first and raises instead.
template <class Ptr>
bool ready(const Entry<Ptr> &entry) {
    if (entry.call) [[likely]]
        return true;
    raise_unset(entry.name);
    return false;
}

// ---------------------------------------------------------------------------
// Conversions from Python objects to raylib records. Each leaves a Python
// exception pending on failure; callers test PyErr_Occurred() after each.

Texture2D texture_record(PyObject *py_tex);
RenderTexture2D render_texture_record(PyObject *py_rt);
Shader shader_record(PyObject *py_shader);
inline Shader shader_record(KrShaderObject *kr_shader) { return Shader{kr_shader->id, kr_shader->locs}; }

// Reads tuple items [0, n) as floats into `out`; stops at the first failure.
// The tuple must be exact (or None, which is refused) and long enough.
int floats_from_tuple(PyObject *tuple, float *out, Py_ssize_t n);

void set_rectangle_1tuple(Rectangle *rect, PyObject *rect_value);
void whole_texture(Rectangle *rect, const Texture2D &tex, bool flip);
void set_vector2_tuple(Vector2 *vec, PyObject *pos);
void set_vector2_krvector2(Vector2 *vec, PyObject *pos);
void set_color(Color *col, PyObject *color);
void set_color_krrect(Color *col, PyObject *rect);
void set_fval_from_krvector2(float *f_val, PyObject *value);

}  // namespace kora::raylib
