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

}  // namespace

int texture_fields(PyObject *py_tex, Texture2D *out) {
    Texture2D t{};
    if (attr_uint(py_tex, K_id, &t.id) < 0 || attr_int(py_tex, K_width, &t.width) < 0 ||
        attr_int(py_tex, K_height, &t.height) < 0 || attr_int(py_tex, K_mipmaps, &t.mipmaps) < 0 ||
        attr_int(py_tex, K_format, &t.format) < 0)
        return -1;
    *out = t;
    return 0;
}

namespace {

// The texture record held in attribute `name` of `o`.
int attr_texture(PyObject *o, int name, Texture2D *out) {
    Ref v = Ref::steal(PyObject_GetAttr(o, K(name)));
    if (!v) return -1;
    return texture_fields(v.get(), out);
}

}  // namespace

int render_texture_fields(PyObject *py_rt, RenderTexture2D *out) {
    RenderTexture2D rt{};
    if (attr_uint(py_rt, K_id, &rt.id) < 0 || attr_texture(py_rt, K_texture, &rt.texture) < 0 ||
        attr_texture(py_rt, K_depth, &rt.depth) < 0)
        return -1;
    *out = rt;
    return 0;
}

int shader_fields(PyObject *py_shader, Shader *out) {
    Shader s{};
    std::size_t locs = 0;
    if (attr_uint(py_shader, K_id, &s.id) < 0 || attr_size_t(py_shader, K_locs, &locs) < 0) return -1;
    // The package hands over the address of raylib's location array.
    s.locs = reinterpret_cast<int *>(locs);
    *out = s;
    return 0;
}

// The whole texture as a source rectangle, mirrored top to bottom on `flip`.
void whole_texture(Rectangle *rect, const Texture2D &tex, bool flip) {
    // Negated in 64 bits, so the most negative int cannot overflow.
    long long h = flip ? -static_cast<long long>(tex.height) : tex.height;
    *rect = Rectangle{0.0f, 0.0f, static_cast<float>(tex.width), static_cast<float>(h)};
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

int set_vector2_krvector2(Vector2 *vec, PyObject *pos) {
    float x, y;
    if (offset_coord(pos, K_x, &x) < 0 || offset_coord(pos, K_y, &y) < 0) {
        add_traceback(dotted<"set_vector2_krvector2">);
        return -1;
    }
    *vec = Vector2{x, y};
    return 0;
}

int set_color_krrect(Color *col, PyObject *rect) {
    if (rect == Py_None) {
        PyErr_SetString(PyExc_TypeError, "a KrRect colour is required, not None");
        return -1;
    }
    auto *r = reinterpret_cast<KrRectObject *>(rect);
    *col = Color{color_channel(r->x), color_channel(r->y), color_channel(r->w), color_channel(r->h)};
    return 0;
}

int set_fval_from_krvector2(float *f_val, PyObject *value) {
    static const int names[2] = {K_x, K_y};
    for (int i = 0; i < 2; ++i) {
        Ref v = Ref::steal(PyObject_GetAttr(value, K(names[i])));
        double d = v ? to_double(v.get()) : -1.0;
        if (d == -1.0 && PyErr_Occurred()) {
            add_traceback(dotted<"set_fval_from_krvector2">);
            return -1;
        }
        f_val[i] = narrow(d);
    }
    return 0;
}

}  // namespace kora::raylib
