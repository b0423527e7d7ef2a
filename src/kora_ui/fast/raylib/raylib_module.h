// Internal to kora_raylib: the module's identity, its peer types, the raylib
// entry-point table and the conversions of Python objects into raylib
// records shared by the module's source files.
#pragma once

#include "kora_ui/fast/raylib/kora_raylib.h"

#include "kora_ui/fast/common/convert.h"
#include "kora_ui/fast/common/names.h"

#include <cmath>

#include <cstdint>

namespace kora::raylib {

KORA_MODULE_IDENTITY("kora_ui.fast.raylib.kora_raylib");

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
// Conversions from Python objects to raylib records. Each returns its status:
// 0 with the record stored through its pointer, or -1 with a Python exception
// pending (the record left as it is).

int texture_fields(PyObject *py_tex, Texture2D *out);
int render_texture_fields(PyObject *py_rt, RenderTexture2D *out);
int shader_fields(PyObject *py_shader, Shader *out);
int set_vector2_krvector2(Vector2 *vec, PyObject *pos);
int set_color_krrect(Color *col, PyObject *rect);
int set_fval_from_krvector2(float *f_val, PyObject *value);

// A KrShader's record, copied from its fields (never fails).
inline Shader shader_record(KrShaderObject *kr_shader) { return Shader{kr_shader->id, kr_shader->locs}; }

// The whole texture as a source rectangle, mirrored top to bottom on `flip`.
void whole_texture(Rectangle *rect, const Texture2D &tex, bool flip);

// The number of floats of a float uniform type; 0 for the other types.
constexpr int uniform_floats(int uniform_type) {
    return uniform_type >= UNIFORM_FLOAT && uniform_type <= UNIFORM_VEC4 ? uniform_type - UNIFORM_FLOAT + 1 : 0;
}

// ---------------------------------------------------------------------------
// The tuple conversions of the drawing calls, inline: they are on every
// call's path.

[[gnu::cold]] inline void raise_tuple_index() { PyErr_SetString(PyExc_IndexError, "tuple index out of range"); }

// Reads tuple items [0, n) as floats into `out`; stops at the first failure.
// The tuple must be exact (or None, which is refused) and long enough.
inline int floats_from_tuple(PyObject *tuple, float *out, Py_ssize_t n) {
    if (tuple == Py_None) {
        raise_not_subscriptable();
        return -1;
    }
    if (PyTuple_GET_SIZE(tuple) < n) {
        raise_tuple_index();
        return -1;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *item = PyTuple_GET_ITEM(tuple, i);
        double d;
        if (PyFloat_CheckExact(item)) [[likely]] {
            d = PyFloat_AS_DOUBLE(item);
        } else {
            d = to_double(item);
            if (d == -1.0 && PyErr_Occurred()) return -1;
        }
        out[i] = narrow(d);
    }
    return 0;
}

inline int set_rectangle_1tuple(Rectangle *rect, PyObject *rect_value) {
    float v[4];
    if (floats_from_tuple(rect_value, v, 4) < 0) return -1;
    *rect = Rectangle{v[0], v[1], v[2], v[3]};
    return 0;
}

inline int set_vector2_tuple(Vector2 *vec, PyObject *pos) {
    float v[2];
    if (floats_from_tuple(pos, v, 2) < 0) return -1;
    *vec = Vector2{v[0], v[1]};
    return 0;
}

// A colour channel: the number truncated toward zero, then its low 8 bits
// (255.9 -> 255, 256 -> 0, 300 -> 44, -1 -> 255). For values beyond 32 bits
// the truncated value is still reduced modulo 256; NaN and infinities give 0.
inline std::uint8_t color_channel(double d) noexcept {
    // Within (-2^31 - 1, 2^31) the conversion to int32 truncates toward zero
    // itself; NaN fails both comparisons.
    if (d > -2147483649.0 && d < 2147483648.0)
        return static_cast<std::uint8_t>(static_cast<std::uint32_t>(static_cast<std::int32_t>(d)) & 0xFFu);
    if (!std::isfinite(d)) return 0;
    double t = std::trunc(d);
    double m = std::fmod(t, 256.0);
    if (m < 0) m += 256.0;
    return static_cast<std::uint8_t>(static_cast<unsigned>(m));
}

inline int set_color(Color *col, PyObject *color) {
    if (color == Py_None) {
        raise_not_subscriptable();
        return -1;
    }
    Py_ssize_t n = PyTuple_GET_SIZE(color);
    if (n < 3) {
        raise_tuple_index();
        return -1;
    }
    std::uint8_t c[4] = {0, 0, 0, 255};
    for (Py_ssize_t i = 0; i < (n > 3 ? 4 : 3); ++i) {
        PyObject *item = PyTuple_GET_ITEM(color, i);
        // A one-digit int is its own truncation: its low 8 bits are the channel.
        if (PyLong_CheckExact(item) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject *>(item))) [[likely]] {
            c[i] = static_cast<std::uint8_t>(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject *>(item)));
            continue;
        }
        double d;
        if (PyFloat_CheckExact(item)) {
            d = PyFloat_AS_DOUBLE(item);
        } else {
            d = to_double(item);
            if (d == -1.0 && PyErr_Occurred()) return -1;
        }
        c[i] = color_channel(d);
    }
    *col = Color{c[0], c[1], c[2], c[3]};
    return 0;
}

}  // namespace kora::raylib
