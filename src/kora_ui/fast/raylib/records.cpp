// kora_raylib: conversions of Python objects into raylib records.

#include "kora_ui/fast/raylib/raylib_module.h"

#include "kora_ui/fast/common/constants.h"
#include "kora_ui/fast/common/convert.h"
#include "kora_ui/fast/common/traceback.h"
#include "kora_raylib_constants.h"

#include <cmath>

namespace kora::raylib {

using namespace kora::generated;

namespace {

void raise_index() { PyErr_SetString(PyExc_IndexError, "tuple index out of range"); }

int attr_uint(PyObject *o, int name, unsigned int *out) {
    Ref v = Ref::steal(PyObject_GetAttr(o, K(name)));
    if (!v) return -1;
    return to_uint(v.get(), out);
}

int attr_int(PyObject *o, int name, int *out) {
    Ref v = Ref::steal(PyObject_GetAttr(o, K(name)));
    if (!v) return -1;
    return to_int(v.get(), out);
}

int attr_size_t(PyObject *o, int name, std::size_t *out) {
    Ref v = Ref::steal(PyObject_GetAttr(o, K(name)));
    if (!v) return -1;
    return to_size_t(v.get(), out);
}

// A colour channel: the number truncated toward zero, then its low 8 bits
// (255.9 -> 255, 256 -> 0, 300 -> 44, -1 -> 255). For values beyond 32 bits
// the truncated value is still reduced modulo 256; NaN and infinities give 0.
std::uint8_t color_channel(double d) noexcept {
    if (!std::isfinite(d)) return 0;
    double t = std::trunc(d);
    if (t >= -2147483648.0 && t <= 2147483647.0)
        return static_cast<std::uint8_t>(static_cast<std::uint32_t>(static_cast<std::int32_t>(t)) & 0xFFu);
    double m = std::fmod(t, 256.0);
    if (m < 0) m += 256.0;
    return static_cast<std::uint8_t>(static_cast<unsigned>(m));
}

}  // namespace

Texture2D texture_record(PyObject *py_tex) {
    Texture2D t{};
    if (attr_uint(py_tex, K_id, &t.id) < 0 || attr_int(py_tex, K_width, &t.width) < 0 ||
        attr_int(py_tex, K_height, &t.height) < 0 || attr_int(py_tex, K_mipmaps, &t.mipmaps) < 0 ||
        attr_int(py_tex, K_format, &t.format) < 0)
        return Texture2D{};
    return t;
}

RenderTexture2D render_texture_record(PyObject *py_rt) {
    RenderTexture2D rt{};
    if (attr_uint(py_rt, K_id, &rt.id) < 0) return RenderTexture2D{};
    {
        Ref tex = Ref::steal(PyObject_GetAttr(py_rt, K(K_texture)));
        if (!tex) return RenderTexture2D{};
        rt.texture = texture_record(tex.get());
        if (PyErr_Occurred()) return RenderTexture2D{};
    }
    {
        Ref depth = Ref::steal(PyObject_GetAttr(py_rt, K(K_depth)));
        if (!depth) return RenderTexture2D{};
        rt.depth = texture_record(depth.get());
        if (PyErr_Occurred()) return RenderTexture2D{};
    }
    return rt;
}

Shader shader_record(PyObject *py_shader) {
    Shader s{};
    std::size_t locs = 0;
    if (attr_uint(py_shader, K_id, &s.id) < 0 || attr_size_t(py_shader, K_locs, &locs) < 0) return Shader{};
    // The package hands over the address of raylib's location array.
    s.locs = reinterpret_cast<int *>(locs);
    return s;
}

int floats_from_tuple(PyObject *tuple, float *out, Py_ssize_t n) {
    if (tuple == Py_None) {
        raise_not_subscriptable();
        return -1;
    }
    if (PyTuple_GET_SIZE(tuple) < n) {
        raise_index();
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

void set_rectangle_1tuple(Rectangle *rect, PyObject *rect_value) {
    float v[4];
    if (floats_from_tuple(rect_value, v, 4) < 0) return;
    *rect = Rectangle{v[0], v[1], v[2], v[3]};
}

// The whole texture as a source rectangle, mirrored top to bottom on `flip`.
void whole_texture(Rectangle *rect, const Texture2D &tex, bool flip) {
    // Negated in 64 bits, so the most negative int cannot overflow.
    long long h = flip ? -static_cast<long long>(tex.height) : tex.height;
    *rect = Rectangle{0.0f, 0.0f, static_cast<float>(tex.width), static_cast<float>(h)};
}

void set_vector2_tuple(Vector2 *vec, PyObject *pos) {
    float v[2];
    if (floats_from_tuple(pos, v, 2) < 0) return;
    *vec = Vector2{v[0], v[1]};
}

namespace {

// One coordinate of a KrVector2 position: the attribute plus 0.01.
int offset_coord(PyObject *pos, int name, float *out) {
    Ref v = Ref::steal(PyObject_GetAttr(pos, K(name)));
    if (!v) return -1;
    Ref sum = Ref::steal(PyNumber_Add(v.get(), g_coord_offset));
    if (!sum) return -1;
    double d = to_double(sum.get());
    if (d == -1.0 && PyErr_Occurred()) return -1;
    *out = narrow(d);
    return 0;
}

}  // namespace

void set_vector2_krvector2(Vector2 *vec, PyObject *pos) {
    float x, y;
    if (offset_coord(pos, K_x, &x) < 0 || offset_coord(pos, K_y, &y) < 0) {
        add_traceback(dotted<"set_vector2_krvector2">);
        return;
    }
    *vec = Vector2{x, y};
}

void set_color(Color *col, PyObject *color) {
    if (color == Py_None) {
        raise_not_subscriptable();
        return;
    }
    Py_ssize_t n = PyTuple_GET_SIZE(color);
    if (n < 3) {
        raise_index();
        return;
    }
    std::uint8_t c[4] = {0, 0, 0, 255};
    for (Py_ssize_t i = 0; i < (n > 3 ? 4 : 3); ++i) {
        PyObject *item = PyTuple_GET_ITEM(color, i);
        // A one-digit int is its own truncation: its low 8 bits are the channel.
        if (PyLong_CheckExact(item) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject *>(item))) [[likely]] {
            c[i] = static_cast<std::uint8_t>(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject *>(item)));
            continue;
        }
        double d = to_double(item);
        if (d == -1.0 && PyErr_Occurred()) return;
        c[i] = color_channel(d);
    }
    *col = Color{c[0], c[1], c[2], c[3]};
}

void set_color_krrect(Color *col, PyObject *rect) {
    if (rect == Py_None) {
        PyErr_SetString(PyExc_TypeError, "a KrRect colour is required, not None");
        return;
    }
    auto *r = reinterpret_cast<KrRectObject *>(rect);
    *col = Color{color_channel(r->x), color_channel(r->y), color_channel(r->w), color_channel(r->h)};
}

void set_fval_from_krvector2(float *f_val, PyObject *value) {
    static const int names[2] = {K_x, K_y};
    for (int i = 0; i < 2; ++i) {
        Ref v = Ref::steal(PyObject_GetAttr(value, K(names[i])));
        double d = v ? to_double(v.get()) : -1.0;
        if (d == -1.0 && PyErr_Occurred()) {
            add_traceback(dotted<"set_fval_from_krvector2">);
            return;
        }
        f_val[i] = narrow(d);
    }
}

}  // namespace kora::raylib
