// kora_raylib: converts Python objects into raylib records and calls raylib
// through an entry-point table filled at run time by init_raylib_pointers.

#include "kora_ui/fast/raylib/kora_raylib.h"

#include "kora_ui/fast/common/constants.h"
#include "kora_ui/fast/common/convert.h"
#include "kora_ui/fast/common/function.h"
#include "kora_ui/fast/common/module.h"
#include "kora_ui/fast/common/native_exception.h"
#include "kora_ui/fast/common/tables.h"
#include "kora_ui/fast/common/traceback.h"
#include "kora_raylib_constants.h"

#include <cstring>
#include <new>
#include <utility>

namespace kora::raylib {

using namespace kora::generated;

#define FULLNAME(n) "kora_ui.fast.raylib.kora_raylib." n

namespace {

// ---------------------------------------------------------------------------
// Module state: peer types with their method tables, the white tuple.

PyTypeObject *g_KrVector2 = nullptr;
PyTypeObject *g_KrShader = nullptr;
PyTypeObject *g_KrRect = nullptr;
PyTypeObject *g_KrRenderTexture = nullptr;
peers::KrVector2VTable *g_KrVector2_vtab = nullptr;
peers::KrShaderVTable *g_KrShader_vtab = nullptr;
peers::KrRectVTable *g_KrRect_vtab = nullptr;
peers::KrRenderTextureVTable *g_KrRenderTexture_vtab = nullptr;

PyObject *g_white = nullptr;         // (255, 255, 255, 255)
PyObject *g_coord_offset = nullptr;  // 0.01, added to KrVector2 positions

const ModuleIdentity kIdentity = {
    "kora_raylib",
    "kora_ui.fast.raylib.kora_raylib",
    "src/kora_ui/fast/raylib/kora_raylib",
    "init kora_ui.fast.raylib.kora_raylib",
};

// ---------------------------------------------------------------------------
// The raylib entry-point table: null until init_raylib_pointers stores an
// address.

DrawTextureRec_ptr _c_DrawTextureRec = nullptr;
DrawTexturePro_ptr _c_DrawTexturePro = nullptr;
BeginBlendMode_ptr _c_BeginBlendMode = nullptr;
EndBlendMode_ptr _c_EndBlendMode = nullptr;
BeginTextureMode_ptr _c_BeginTextureMode = nullptr;
EndTextureMode_ptr _c_EndTextureMode = nullptr;
ClearBackground_ptr _c_ClearBackground = nullptr;
BeginShaderMode_ptr _c_BeginShaderMode = nullptr;
EndShaderMode_ptr _c_EndShaderMode = nullptr;
SetShaderValue_ptr _c_SetShaderValue = nullptr;
GetShaderLocation_ptr _c_GetShaderLocation = nullptr;
BeginDrawing_ptr _c_BeginDrawing = nullptr;
EndDrawing_ptr _c_EndDrawing = nullptr;
SetShaderValueV_ptr _c_SetShaderValueV = nullptr;

// Stores an address into an entry of any pointer type.
template <class Ptr>
void store_entry(Ptr *entry, std::size_t address) {
    static_assert(sizeof(Ptr) == sizeof(std::size_t));
    std::memcpy(entry, &address, sizeof address);
}

// Calling through a null entry would crash the process: each call tests its
// entry first and raises instead.
[[gnu::cold]] void raise_unset(const char *raylib_name) {
    PyErr_Format(PyExc_RuntimeError, "raylib function %s is not set; call init_raylib_pointers first", raylib_name);
}

#define ENTRY_READY(name) (_c_##name != nullptr || (raise_unset(#name), false))

void raise_index() { PyErr_SetString(PyExc_IndexError, "tuple index out of range"); }

// ---------------------------------------------------------------------------
// Conversions from Python objects to raylib records. Each leaves a Python
// exception pending on failure; callers test PyErr_Occurred() after each.

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

Texture2D _get_c_texture(PyObject *py_tex) {
    Texture2D t{};
    if (attr_uint(py_tex, K_id, &t.id) < 0 || attr_int(py_tex, K_width, &t.width) < 0 ||
        attr_int(py_tex, K_height, &t.height) < 0 || attr_int(py_tex, K_mipmaps, &t.mipmaps) < 0 ||
        attr_int(py_tex, K_format, &t.format) < 0)
        return Texture2D{};
    return t;
}

RenderTexture2D _get_c_render_texture(PyObject *py_rt) {
    RenderTexture2D rt{};
    if (attr_uint(py_rt, K_id, &rt.id) < 0) return RenderTexture2D{};
    {
        Ref tex = Ref::steal(PyObject_GetAttr(py_rt, K(K_texture)));
        if (!tex) return RenderTexture2D{};
        rt.texture = _get_c_texture(tex.get());
        if (PyErr_Occurred()) return RenderTexture2D{};
    }
    {
        Ref depth = Ref::steal(PyObject_GetAttr(py_rt, K(K_depth)));
        if (!depth) return RenderTexture2D{};
        rt.depth = _get_c_texture(depth.get());
        if (PyErr_Occurred()) return RenderTexture2D{};
    }
    return rt;
}

Shader _get_c_shader(PyObject *py_shader) {
    Shader s{};
    std::size_t locs = 0;
    if (attr_uint(py_shader, K_id, &s.id) < 0 || attr_size_t(py_shader, K_locs, &locs) < 0) return Shader{};
    // The package hands over the address of raylib's location array.
    s.locs = reinterpret_cast<int *>(locs);
    return s;
}

inline Shader _get_c_shader_from_krshader(KrShaderObject *kr_shader) { return Shader{kr_shader->id, kr_shader->locs}; }

// Reads tuple items [0, n) as floats into `out`; stops at the first failure.
// The tuple must be exact (or None, which is refused) and long enough.
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

inline void set_rectangle_4vals(Rectangle *rect, float x, float y, int width, int height) {
    *rect = Rectangle{x, y, static_cast<float>(width), static_cast<float>(height)};
}

// The whole texture as a source rectangle, mirrored top to bottom on `flip`.
inline void whole_texture(Rectangle *rect, const Texture2D &tex, bool flip) {
    // Negated in 64 bits, so the most negative int cannot overflow.
    long long h = flip ? -static_cast<long long>(tex.height) : tex.height;
    *rect = Rectangle{0.0f, 0.0f, static_cast<float>(tex.width), static_cast<float>(h)};
}

void set_vector2_tuple(Vector2 *vec, PyObject *pos) {
    float v[2];
    if (floats_from_tuple(pos, v, 2) < 0) return;
    *vec = Vector2{v[0], v[1]};
}

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

void set_vector2_krvector2(Vector2 *vec, PyObject *pos) {
    float x, y;
    if (offset_coord(pos, K_x, &x) < 0 || offset_coord(pos, K_y, &y) < 0) {
        KORA_TB(FULLNAME("set_vector2_krvector2"));
        return;
    }
    *vec = Vector2{x, y};
}

// the truncated value is still reduced modulo 256; NaN and infinities give 0.
inline std::uint8_t color_channel(double d) noexcept {
    if (!std::isfinite(d)) return 0;
    double t = std::trunc(d);
    if (t >= -2147483648.0 && t <= 2147483647.0)
        return static_cast<std::uint8_t>(static_cast<std::uint32_t>(static_cast<std::int32_t>(t)) & 0xFFu);
    double m = std::fmod(t, 256.0);
    if (m < 0) m += 256.0;
    return static_cast<std::uint8_t>(static_cast<unsigned>(m));
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

// Shader value packing.
void set_fval_from_tuple(float *f_val, PyObject *value) { floats_from_tuple(value, f_val, 2); }
void set_fval_from_tuple4(float *f_val, PyObject *value) { floats_from_tuple(value, f_val, 4); }

void set_fval_from_krvector2(float *f_val, PyObject *value) {
    static const int names[2] = {K_x, K_y};
    for (int i = 0; i < 2; ++i) {
        Ref v = Ref::steal(PyObject_GetAttr(value, K(names[i])));
        double d = v ? to_double(v.get()) : -1.0;
        if (d == -1.0 && PyErr_Occurred()) {
            KORA_TB(FULLNAME("set_fval_from_krvector2"));
            return;
        }
        f_val[i] = narrow(d);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Entry-point table

void init_raylib_pointers(PyObject *pointers, int) {
    if (pointers == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'NoneType' object is not iterable");
        KORA_TB(FULLNAME("init_raylib_pointers"));
        return;
    }
    struct Row {
        int key;
        void *entry;
        void (*store)(void *, std::size_t);
    };
#define ROW(name)                                                                                          \
    {                                                                                                      \
        K_##name, &_c_##name, [](void *e, std::size_t a) { store_entry(static_cast<name##_ptr *>(e), a); } \
    }
    static const Row rows[] = {
        ROW(DrawTextureRec),    ROW(DrawTexturePro),  ROW(BeginBlendMode),  ROW(EndBlendMode),    ROW(BeginTextureMode),
        ROW(EndTextureMode),    ROW(ClearBackground), ROW(BeginShaderMode), ROW(EndShaderMode),   ROW(SetShaderValue),
        ROW(GetShaderLocation), ROW(BeginDrawing),    ROW(EndDrawing),      ROW(SetShaderValueV),
    };
#undef ROW
    for (const Row &row : rows) {
        PyObject *value = nullptr;
        int found = PyDict_GetItemRef(pointers, K(row.key), &value);
        if (found < 0) {
            KORA_TB(FULLNAME("init_raylib_pointers"));
            return;
        }
        if (!found) continue;
        std::size_t address = 0;
        int rc = to_size_t(value, &address);
        Py_DECREF(value);
        if (rc < 0) {
            KORA_TB(FULLNAME("init_raylib_pointers"));
            return;
        }
        row.store(row.entry, address);
    }
}

// ---------------------------------------------------------------------------
// Frame, modes and background

void begin_drawing(int) {
    if (ENTRY_READY(BeginDrawing))
        _c_BeginDrawing();
    else
        KORA_TB(FULLNAME("begin_drawing"));
}

void end_drawing(int) {
    if (ENTRY_READY(EndDrawing))
        _c_EndDrawing();
    else
        KORA_TB(FULLNAME("end_drawing"));
}

void begin_blend_mode(int mode, int) {
    if (ENTRY_READY(BeginBlendMode))
        _c_BeginBlendMode(mode);
    else
        KORA_TB(FULLNAME("begin_blend_mode"));
}

void end_blend_mode(int) {
    if (ENTRY_READY(EndBlendMode))
        _c_EndBlendMode();
    else
        KORA_TB(FULLNAME("end_blend_mode"));
}

void begin_texture_mode(PyObject *target, int) {
    RenderTexture2D rt = _get_c_render_texture(target);
    if (PyErr_Occurred() || !ENTRY_READY(BeginTextureMode)) {
        KORA_TB(FULLNAME("begin_texture_mode"));
        return;
    }
    _c_BeginTextureMode(rt);
}

void end_texture_mode(int) {
    if (ENTRY_READY(EndTextureMode))
        _c_EndTextureMode();
    else
        KORA_TB(FULLNAME("end_texture_mode"));
}

PyObject *begin_krshader_mode(KrShaderObject *shader) {
    Shader s = _get_c_shader_from_krshader(shader);
    if (!ENTRY_READY(BeginShaderMode)) {
        KORA_TB(FULLNAME("begin_krshader_mode"));
        return nullptr;
    }
    _c_BeginShaderMode(s);
    Py_RETURN_NONE;
}

void end_shader_mode(int) {
    if (ENTRY_READY(EndShaderMode))
        _c_EndShaderMode();
    else
        KORA_TB(FULLNAME("end_shader_mode"));
}

void c_clear_background(PyObject *color) {
    Color c{};
    set_color(&c, color);
    if (PyErr_Occurred() || !ENTRY_READY(ClearBackground)) {
        KORA_TB(FULLNAME("c_clear_background"));
        return;
    }
    _c_ClearBackground(c);
}

void clear_background(PyObject *color, int) {
    c_clear_background(color);
    if (PyErr_Occurred()) KORA_TB(FULLNAME("clear_background"));
}

void kr_clear_background(KrRectObject *color) {
    Color c{};
    set_color_krrect(&c, reinterpret_cast<PyObject *>(color));
    if (PyErr_Occurred() || !ENTRY_READY(ClearBackground)) {
        KORA_TB(FULLNAME("kr_clear_background"));
        return;
    }
    _c_ClearBackground(c);
}

void c_clear_background_blank() {
    if (!ENTRY_READY(ClearBackground)) {
        KORA_TB(FULLNAME("c_clear_background_blank"));
        return;
    }
    _c_ClearBackground(Color{0, 0, 0, 0});
}

// ---------------------------------------------------------------------------
// Texture drawing

namespace {

// The body shared by the DrawTextureRec members: the texture, then the
// source rectangle, the position and the colour, each tested before the next.
template <class Source, class Position, class Tint>
void draw_rec(const char *fullname, PyObject *texture, Source source, Position position, Tint tint) {
    Texture2D tex = _get_c_texture(texture);
    if (PyErr_Occurred()) return KORA_TB(fullname);
    Rectangle src{};
    source(&src, tex);
    if (PyErr_Occurred()) return KORA_TB(fullname);
    Vector2 pos{};
    position(&pos);
    if (PyErr_Occurred()) return KORA_TB(fullname);
    Color col{};
    tint(&col);
    if (PyErr_Occurred() || !ENTRY_READY(DrawTextureRec)) return KORA_TB(fullname);
    _c_DrawTextureRec(tex, src, pos, col);
}

}  // namespace

void c_draw_texture_rec(PyObject *texture, PyObject *source_rec, PyObject *position, PyObject *color) {
    draw_rec(
        FULLNAME("c_draw_texture_rec"), texture,
        [&](Rectangle *r, const Texture2D &) { set_rectangle_1tuple(r, source_rec); },
        [&](Vector2 *v) { set_vector2_tuple(v, position); }, [&](Color *c) { set_color(c, color); });
}

void draw_texture_rec(PyObject *texture, PyObject *source_rec, PyObject *position, PyObject *color, int) {
    c_draw_texture_rec(texture, source_rec, position, color);
    if (PyErr_Occurred()) KORA_TB(FULLNAME("draw_texture_rec"));
}

void c_draw_texture_vec(PyObject *texture, PyObject *position, PyObject *color, int flip) {
    draw_rec(
        FULLNAME("c_draw_texture_vec"), texture,
        [&](Rectangle *r, const Texture2D &t) { whole_texture(r, t, flip != 0); },
        [&](Vector2 *v) { set_vector2_tuple(v, position); }, [&](Color *c) { set_color(c, color); });
}

void draw_texture_vec(PyObject *texture, PyObject *position, PyObject *color, int flip, int) {
    c_draw_texture_vec(texture, position, color, flip);
    if (PyErr_Occurred()) KORA_TB(FULLNAME("draw_texture_vec"));
}

void c_draw_texture_krvec(PyObject *texture, KrVector2Object *position, KrRectObject *color, int flip) {
    draw_rec(
        FULLNAME("c_draw_texture_krvec"), texture,
        [&](Rectangle *r, const Texture2D &t) { whole_texture(r, t, flip != 0); },
        [&](Vector2 *v) { set_vector2_krvector2(v, reinterpret_cast<PyObject *>(position)); },
        [&](Color *c) { set_color_krrect(c, reinterpret_cast<PyObject *>(color)); });
}

void c_draw_krtexture_krvec(KrRenderTextureObject *texture, KrVector2Object *position, KrRectObject *color, int flip) {
    Ref tex = Ref::steal(texture->vtab->c_get_texture(texture));
    if (!tex) return KORA_TB(FULLNAME("c_draw_krtexture_krvec"));
    c_draw_texture_krvec(tex.get(), position, color, flip);
    if (PyErr_Occurred()) KORA_TB(FULLNAME("c_draw_krtexture_krvec"));
}

void c_draw_texture_pro(PyObject *texture, PyObject *source_rec, PyObject *dest_rec, PyObject *origin, float rotation,
                        PyObject *color) {
    const char *fullname = FULLNAME("c_draw_texture_pro");
    Texture2D tex = _get_c_texture(texture);
    if (PyErr_Occurred()) return KORA_TB(fullname);
    Rectangle src{}, dst{};
    set_rectangle_1tuple(&src, source_rec);
    if (PyErr_Occurred()) return KORA_TB(fullname);
    set_rectangle_1tuple(&dst, dest_rec);
    if (PyErr_Occurred()) return KORA_TB(fullname);
    Vector2 org{};
    set_vector2_tuple(&org, origin);
    if (PyErr_Occurred()) return KORA_TB(fullname);
    Color col{};
    set_color(&col, color);
    if (PyErr_Occurred() || !ENTRY_READY(DrawTexturePro)) return KORA_TB(fullname);
    _c_DrawTexturePro(tex, src, dst, org, rotation, col);
}

void draw_texture_pro(PyObject *texture, PyObject *source_rec, PyObject *dest_rec, PyObject *origin, float rotation,
                      PyObject *color, int) {
    c_draw_texture_pro(texture, source_rec, dest_rec, origin, rotation, color);
    if (PyErr_Occurred()) KORA_TB(FULLNAME("draw_texture_pro"));
}

// ---------------------------------------------------------------------------
// Shader values

namespace {

// Packs up to four tuple items for SetShaderValue: floats for the float
// uniform types 0 to 3, ints (low 32 bits of a 64-bit conversion) for every
// other type. Components past the tuple's end are zero.
int pack_shader_value(PyObject *value, int uniform_type, float *f_val, int *i_val) {
    if (value == Py_None) {
        raise_not_subscriptable();
        return -1;
    }
    Py_ssize_t count = PyTuple_GET_SIZE(value);
    if (count > 4) count = 4;
    bool floats = uniform_type >= 0 && uniform_type <= 3;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject *item = PyTuple_GET_ITEM(value, i);
        if (floats) {
            double d = to_double(item);
            if (d == -1.0 && PyErr_Occurred()) return -1;
            f_val[i] = narrow(d);
        } else {
            long v;
            if (to_long(item, &v) < 0) return -1;
            i_val[i] = static_cast<int>(static_cast<std::uint32_t>(static_cast<unsigned long>(v)));
        }
    }
    return 0;
}

void shader_value(const char *fullname, Shader s, int loc_index, PyObject *value, int uniform_type) {
    float f_val[4] = {0, 0, 0, 0};
    int i_val[4] = {0, 0, 0, 0};
    if (pack_shader_value(value, uniform_type, f_val, i_val) < 0 || !ENTRY_READY(SetShaderValue))
        return KORA_TB(fullname);
    bool floats = uniform_type >= 0 && uniform_type <= 3;
    _c_SetShaderValue(s, loc_index, floats ? static_cast<const void *>(f_val) : static_cast<const void *>(i_val),
                      uniform_type);
}

// Looks a uniform up by its UTF-8 name; -1 with an exception on failure.
int shader_location(const char *fullname, Shader s, PyObject *name) {
    if (name == Py_None) {
        PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%.30s'", "encode");
        KORA_TB(fullname);
        return -1;
    }
    Ref encoded = Ref::steal(PyUnicode_AsUTF8String(name));
    if (!encoded || !ENTRY_READY(GetShaderLocation)) {
        KORA_TB(fullname);
        return -1;
    }
    return _c_GetShaderLocation(s, PyBytes_AS_STRING(encoded.get()));
}

template <class Fill>
void shader_floats(const char *fullname, Shader s, int loc_index, int uniform_type, Fill fill) {
    float f_val[4] = {0, 0, 0, 0};
    fill(f_val);
    if (PyErr_Occurred() || !ENTRY_READY(SetShaderValue)) return KORA_TB(fullname);
    _c_SetShaderValue(s, loc_index, f_val, uniform_type);
}

void shader_scalar(const char *fullname, Shader s, int loc_index, const void *value, int uniform_type) {
    if (!ENTRY_READY(SetShaderValue)) return KORA_TB(fullname);
    _c_SetShaderValue(s, loc_index, value, uniform_type);
}

template <class T>
void shader_array(const char *fullname, Shader s, int loc_index, const std::vector<T> &values, int uniform_type) {
    if (values.empty()) return;
    if (values.size() > static_cast<std::size_t>(INT_MAX)) {
        PyErr_Format(PyExc_OverflowError, "value too large to convert to %.200s", "int");
        return KORA_TB(fullname);
    }
    if (!ENTRY_READY(SetShaderValueV)) return KORA_TB(fullname);
    _c_SetShaderValueV(s, loc_index, values.data(), uniform_type, static_cast<int>(values.size()));
}

}  // namespace

int get_krshader_location(KrShaderObject *shader, PyObject *name, int) {
    return shader_location(FULLNAME("get_krshader_location"), _get_c_shader_from_krshader(shader), name);
}

void set_krshader_value(KrShaderObject *shader, int loc_index, PyObject *value, int uniform_type, int) {
    shader_value(FULLNAME("set_krshader_value"), _get_c_shader_from_krshader(shader), loc_index, value, uniform_type);
}

void set_krshader_value_vec2_krvec(KrShaderObject *shader, int loc_index, KrVector2Object *value, int) {
    shader_floats(FULLNAME("set_krshader_value_vec2_krvec"), _get_c_shader_from_krshader(shader), loc_index,
                  UNIFORM_VEC2, [&](float *f) { set_fval_from_krvector2(f, reinterpret_cast<PyObject *>(value)); });
}

void set_krshader_value_vec2_tuple(KrShaderObject *shader, int loc_index, PyObject *value, int) {
    shader_floats(FULLNAME("set_krshader_value_vec2_tuple"), _get_c_shader_from_krshader(shader), loc_index,
                  UNIFORM_VEC2, [&](float *f) { set_fval_from_tuple(f, value); });
}

void set_krshader_value_vec4_tuple(KrShaderObject *shader, int loc_index, PyObject *value, int) {
    shader_floats(FULLNAME("set_krshader_value_vec4_tuple"), _get_c_shader_from_krshader(shader), loc_index,
                  UNIFORM_VEC4, [&](float *f) { set_fval_from_tuple4(f, value); });
}

void set_krshader_value_vec4_v(KrShaderObject *shader, int loc_index, std::vector<Vector4> values, int) {
    shader_array(FULLNAME("set_krshader_value_vec4_v"), _get_c_shader_from_krshader(shader), loc_index, values,
                 UNIFORM_VEC4);
}

void set_krshader_value_float_v(KrShaderObject *shader, int loc_index, std::vector<float> values, int) {
    shader_array(FULLNAME("set_krshader_value_float_v"), _get_c_shader_from_krshader(shader), loc_index, values,
                 UNIFORM_FLOAT);
}

void set_krshader_value_float(KrShaderObject *shader, int loc_index, float value, int) {
    shader_scalar(FULLNAME("set_krshader_value_float"), _get_c_shader_from_krshader(shader), loc_index, &value,
                  UNIFORM_FLOAT);
}

void set_krshader_value_int(KrShaderObject *shader, int loc_index, int value, int) {
    shader_scalar(FULLNAME("set_krshader_value_int"), _get_c_shader_from_krshader(shader), loc_index, &value,
                  UNIFORM_INT);
}

// ---------------------------------------------------------------------------
// Conversion of the `_v` setters' sequences into arrays

namespace {

// Walks `values` (by index for an exact list or tuple, re-reading the length
// at every step; else through its iterator), calling `each` on every item.
template <class Each>
int for_each_item(PyObject *values, Each each) {
    if (PyList_CheckExact(values) || PyTuple_CheckExact(values)) {
        bool is_list = PyList_CheckExact(values);
        for (Py_ssize_t i = 0;; ++i) {
            Py_ssize_t n = is_list ? PyList_GET_SIZE(values) : PyTuple_GET_SIZE(values);
            if (i >= n) return 0;
            // Held while converting: the conversion may run code that
            // shrinks the list.
            Ref item = Ref::borrow(is_list ? PyList_GET_ITEM(values, i) : PyTuple_GET_ITEM(values, i));
            if (each(item.get()) < 0) return -1;
        }
    }
    Ref it = Ref::steal(PyObject_GetIter(values));
    if (!it) return -1;
    for (;;) {
        Ref item = Ref::steal(PyIter_Next(it.get()));
        if (!item) return PyErr_Occurred() ? -1 : 0;
        if (each(item.get()) < 0) return -1;
    }
}

template <class T>
int reserve_from_hint(PyObject *values, std::vector<T> &vec) {
    Py_ssize_t hint = PyObject_LengthHint(values, 0);
    if (hint < 0) return -1;
    if (hint > 0 && !run_native([&] { vec.reserve(static_cast<std::size_t>(hint)); })) return -1;
    return 0;
}

// Looks `key` up in a mapping; a KeyError becomes the ValueError naming the
// missing struct attribute.
PyObject *vector4_component(PyObject *item, int key) {
    PyObject *r = nullptr;
    if (PyDict_CheckExact(item)) {
        int found = PyDict_GetItemRef(item, K(key), &r);
        if (found < 0) return nullptr;
        if (found) return r;
    } else {
        r = PyObject_GetItem(item, K(key));
        if (r || !PyErr_ExceptionMatches(PyExc_KeyError)) return r;
        PyErr_Clear();
    }
    PyErr_Format(PyExc_ValueError, "No value specified for struct attribute %R", K(key));
    return nullptr;
}

int vector4_from_py(PyObject *item, Vector4 *out) {
    if (!PyMapping_Check(item)) {
        raise_expected("a mapping", item);
        KORA_TB(FULLNAME("vector4_from_py"));
        return -1;
    }
    static const int keys[4] = {K_x, K_y, K_z, K_w};
    Ref parts[4];
    for (int i = 0; i < 4; ++i) {
        parts[i] = Ref::steal(vector4_component(item, keys[i]));
        if (!parts[i]) {
            KORA_TB(FULLNAME("vector4_from_py"));
            return -1;
        }
    }
    float f[4];
    for (int i = 0; i < 4; ++i) {
        double d = to_double(parts[i].get());
        if (d == -1.0 && PyErr_Occurred()) {
            KORA_TB(FULLNAME("vector4_from_py"));
            return -1;
        }
        f[i] = narrow(d);
    }
    *out = Vector4{f[0], f[1], f[2], f[3]};
    return 0;
}

template <class T, class Convert>
int array_from_py(const char *fullname, PyObject *values, void *storage, Convert convert) {
    static_assert(sizeof(std::vector<T>) <= kCustomStorage);
    auto *vec = new (storage) std::vector<T>();
    int rc = reserve_from_hint(values, *vec);
    if (rc == 0) {
        rc = for_each_item(values, [&](PyObject *item) {
            T value;
            if (convert(item, &value) < 0) return -1;
            return run_native([&] { vec->push_back(value); }) ? 0 : -1;
        });
    }
    if (rc < 0) {
        vec->~vector();
        KORA_TB(fullname);
    }
    return rc;
}

int vector4_array_from_py(PyObject *values, void *storage) {
    return array_from_py<Vector4>(FULLNAME("vector4_array_from_py"), values, storage, vector4_from_py);
}

int float_array_from_py(PyObject *values, void *storage) {
    return array_from_py<float>(FULLNAME("float_array_from_py"), values, storage, [](PyObject *item, float *out) {
        double d = to_double(item);
        if (d == -1.0 && PyErr_Occurred()) return -1;
        *out = narrow(d);
        return 0;
    });
}

template <class T>
void destroy_array(void *storage) {
    static_cast<std::vector<T> *>(storage)->~vector();
}

// ---------------------------------------------------------------------------
// Python-visible functions. Each declares its parameters once; the shared
// parser counts, matches, converts and type-tests them before the body runs.

// A None KrShader passes the argument check but has no fields to read.
bool refuse_none_shader(PyObject *shader) {
    if (shader != Py_None) return false;
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' must not be None", "shader");
    return true;
}

KrShaderObject *as_krshader(PyObject *o) { return reinterpret_cast<KrShaderObject *>(o); }
KrVector2Object *as_krvector2(PyObject *o) { return reinterpret_cast<KrVector2Object *>(o); }
KrRectObject *as_krrect(PyObject *o) { return reinterpret_cast<KrRectObject *>(o); }

#define DEF(pyname, params_array, body_fn)                                                    \
    FuncDef def_##pyname = {#pyname,                                                          \
                            #pyname,                                                          \
                            FULLNAME(#pyname),                                                \
                            params_array,                                                     \
                            static_cast<int>(sizeof(params_array) / sizeof(params_array[0])), \
                            body_fn,                                                          \
                            __LINE__};
#define DEF_NOARGS(pyname, body_fn) \
    FuncDef def_##pyname = {#pyname, #pyname, FULLNAME(#pyname), nullptr, 0, body_fn, __LINE__, nullptr, true};

const ParamDef p_init[] = {exact("pointers", &g_dict_type)};
DEF(init_raylib_pointers, p_init, [](PyObject *, ArgVal *a) {
    init_raylib_pointers(a[0].o, 1);
    return none_or_null();
})

const ParamDef p_rec[] = {obj("texture"), exact("source_rec", &g_tuple_type), exact("position", &g_tuple_type),
                          exact("color", &g_tuple_type)};
DEF(draw_texture_rec, p_rec, [](PyObject *, ArgVal *a) {
    draw_texture_rec(a[0].o, a[1].o, a[2].o, a[3].o, 1);
    return none_or_null();
})

const ParamDef p_rec_ez[] = {obj("texture"), exact("source_rec", &g_tuple_type), exact("position", &g_tuple_type)};
DEF(draw_texture_rec_ez, p_rec_ez, [](PyObject *, ArgVal *a) {
    c_draw_texture_rec(a[0].o, a[1].o, a[2].o, g_white);
    return none_or_null();
})

const ParamDef p_vec[] = {obj("texture"), exact("position", &g_tuple_type), exact("color", &g_tuple_type),
                          c_bool("flip")};
DEF(draw_texture_vec, p_vec, [](PyObject *, ArgVal *a) {
    draw_texture_vec(a[0].o, a[1].o, a[2].o, a[3].b, 1);
    return none_or_null();
})

const ParamDef p_vec_ez[] = {obj("texture"), exact("position", &g_tuple_type), c_bool("flip")};
DEF(draw_texture_vec_ez, p_vec_ez, [](PyObject *, ArgVal *a) {
    c_draw_texture_vec(a[0].o, a[1].o, g_white, a[2].b);
    return none_or_null();
})

const ParamDef p_krvec[] = {obj("texture"), subtype("position", &g_KrVector2), subtype("color", &g_KrRect),
                            c_bool("flip")};
DEF(draw_texture_krvec, p_krvec, [](PyObject *, ArgVal *a) {
    c_draw_texture_krvec(a[0].o, as_krvector2(a[1].o), as_krrect(a[2].o), a[3].b);
    return none_or_null();
})

const ParamDef p_krvec_ez[] = {obj("texture"), subtype("position", &g_KrVector2), c_bool("flip")};
DEF(draw_texture_krvec_ez, p_krvec_ez, [](PyObject *, ArgVal *a) -> PyObject * {
    Ref color = Ref::steal(lookup_global(K(K__base_color_krvec_ez)));
    if (!color) return nullptr;
    if (color.get() != Py_None && !PyObject_TypeCheck(color.get(), g_KrRect)) {
        PyErr_Format(PyExc_TypeError, "%.1sCannot convert %.200s to %.200s", "", Py_TYPE(color.get())->tp_name,
                     g_KrRect->tp_name);
        return nullptr;
    }
    c_draw_texture_krvec(a[0].o, as_krvector2(a[1].o), as_krrect(color.get()), a[2].b);
    return none_or_null();
})

const ParamDef p_pro[] = {obj("texture"),
                          exact("source_rec", &g_tuple_type),
                          exact("dest_rec", &g_tuple_type),
                          exact("origin", &g_tuple_type),
                          c_float("rotation"),
                          exact("color", &g_tuple_type)};
DEF(draw_texture_pro, p_pro, [](PyObject *, ArgVal *a) {
    draw_texture_pro(a[0].o, a[1].o, a[2].o, a[3].o, a[4].f, a[5].o, 1);
    return none_or_null();
})

const ParamDef p_blend[] = {c_int("mode")};
DEF(begin_blend_mode, p_blend, [](PyObject *, ArgVal *a) {
    begin_blend_mode(a[0].i, 1);
    return none_or_null();
})

const ParamDef p_target[] = {obj("target")};
DEF(begin_texture_mode, p_target, [](PyObject *, ArgVal *a) {
    begin_texture_mode(a[0].o, 1);
    return none_or_null();
})

const ParamDef p_clear[] = {exact("color", &g_tuple_type)};
DEF(clear_background, p_clear, [](PyObject *, ArgVal *a) {
    clear_background(a[0].o, 1);
    return none_or_null();
})

const ParamDef p_shader_only[] = {obj("shader")};
DEF(begin_shader_mode, p_shader_only, [](PyObject *, ArgVal *a) -> PyObject * {
    Shader s = _get_c_shader(a[0].o);
    if (PyErr_Occurred()) return nullptr;
    if (!ENTRY_READY(BeginShaderMode)) return nullptr;
    _c_BeginShaderMode(s);
    Py_RETURN_NONE;
})

DEF_NOARGS(begin_drawing, [](PyObject *, ArgVal *) {
    begin_drawing(1);
    return none_or_null();
})
DEF_NOARGS(end_drawing, [](PyObject *, ArgVal *) {
    end_drawing(1);
    return none_or_null();
})
DEF_NOARGS(end_blend_mode, [](PyObject *, ArgVal *) {
    end_blend_mode(1);
    return none_or_null();
})
DEF_NOARGS(end_texture_mode, [](PyObject *, ArgVal *) {
    end_texture_mode(1);
    return none_or_null();
})
DEF_NOARGS(end_shader_mode, [](PyObject *, ArgVal *) {
    end_shader_mode(1);
    return none_or_null();
})

// Raw shader objects: the record is built from the object's attributes.

const ParamDef p_ssv[] = {obj("shader"), c_int("loc_index"), exact("value", &g_tuple_type), c_int("uniform_type")};
DEF(set_shader_value, p_ssv, [](PyObject *, ArgVal *a) -> PyObject * {
    Shader s = _get_c_shader(a[0].o);
    if (PyErr_Occurred()) return nullptr;
    shader_value(FULLNAME("set_shader_value"), s, a[1].i, a[2].o, a[3].i);
    return none_or_null();
})

const ParamDef p_gsl[] = {obj("shader"), exact("name", &g_str_type)};
DEF(get_shader_location, p_gsl, [](PyObject *, ArgVal *a) -> PyObject * {
    Shader s = _get_c_shader(a[0].o);
    if (PyErr_Occurred()) return nullptr;
    int loc = shader_location(FULLNAME("get_shader_location"), s, a[1].o);
    if (loc == -1 && PyErr_Occurred()) return nullptr;
    return PyLong_FromLong(loc);
})

const ParamDef p_ssv_krvec[] = {obj("shader"), c_int("loc_index"), subtype("value", &g_KrVector2)};
DEF(set_shader_value_vec2_krvec, p_ssv_krvec, [](PyObject *, ArgVal *a) -> PyObject * {
    Shader s = _get_c_shader(a[0].o);
    if (PyErr_Occurred()) return nullptr;
    shader_floats(FULLNAME("set_shader_value_vec2_krvec"), s, a[1].i, UNIFORM_VEC2,
                  [&](float *f) { set_fval_from_krvector2(f, a[2].o); });
    return none_or_null();
})

const ParamDef p_ssv_tuple[] = {obj("shader"), c_int("loc_index"), exact("value", &g_tuple_type)};
DEF(set_shader_value_vec2_tuple, p_ssv_tuple, [](PyObject *, ArgVal *a) -> PyObject * {
    Shader s = _get_c_shader(a[0].o);
    if (PyErr_Occurred()) return nullptr;
    shader_floats(FULLNAME("set_shader_value_vec2_tuple"), s, a[1].i, UNIFORM_VEC2,
                  [&](float *f) { set_fval_from_tuple(f, a[2].o); });
    return none_or_null();
})

DEF(set_shader_value_vec4_tuple, p_ssv_tuple, [](PyObject *, ArgVal *a) -> PyObject * {
    Shader s = _get_c_shader(a[0].o);
    if (PyErr_Occurred()) return nullptr;
    shader_floats(FULLNAME("set_shader_value_vec4_tuple"), s, a[1].i, UNIFORM_VEC4,
                  [&](float *f) { set_fval_from_tuple4(f, a[2].o); });
    return none_or_null();
})

const ParamDef p_ssv_float[] = {obj("shader"), c_int("loc_index"), c_float("value")};
DEF(set_shader_value_float, p_ssv_float, [](PyObject *, ArgVal *a) -> PyObject * {
    Shader s = _get_c_shader(a[0].o);
    if (PyErr_Occurred()) return nullptr;
    shader_scalar(FULLNAME("set_shader_value_float"), s, a[1].i, &a[2].f, UNIFORM_FLOAT);
    return none_or_null();
})

// KrShader instances: the record is copied from the instance's fields.

const ParamDef p_ksv[] = {subtype("shader", &g_KrShader), c_int("loc_index"), exact("value", &g_tuple_type),
                          c_int("uniform_type")};
DEF(set_krshader_value, p_ksv, [](PyObject *, ArgVal *a) -> PyObject * {
    if (refuse_none_shader(a[0].o)) return nullptr;
    set_krshader_value(as_krshader(a[0].o), a[1].i, a[2].o, a[3].i, 1);
    return none_or_null();
})

const ParamDef p_kgl[] = {subtype("shader", &g_KrShader), exact("name", &g_str_type)};
DEF(get_krshader_location, p_kgl, [](PyObject *, ArgVal *a) -> PyObject * {
    if (refuse_none_shader(a[0].o)) return nullptr;
    int loc = get_krshader_location(as_krshader(a[0].o), a[1].o, 1);
    if (loc == -1 && PyErr_Occurred()) return nullptr;
    return PyLong_FromLong(loc);
})

const ParamDef p_ksv_krvec[] = {subtype("shader", &g_KrShader), c_int("loc_index"), subtype("value", &g_KrVector2)};
DEF(set_krshader_value_vec2_krvec, p_ksv_krvec, [](PyObject *, ArgVal *a) -> PyObject * {
    if (refuse_none_shader(a[0].o)) return nullptr;
    set_krshader_value_vec2_krvec(as_krshader(a[0].o), a[1].i, as_krvector2(a[2].o), 1);
    return none_or_null();
})

const ParamDef p_ksv_tuple[] = {subtype("shader", &g_KrShader), c_int("loc_index"), exact("value", &g_tuple_type)};
DEF(set_krshader_value_vec2_tuple, p_ksv_tuple, [](PyObject *, ArgVal *a) -> PyObject * {
    if (refuse_none_shader(a[0].o)) return nullptr;
    set_krshader_value_vec2_tuple(as_krshader(a[0].o), a[1].i, a[2].o, 1);
    return none_or_null();
})

DEF(set_krshader_value_vec4_tuple, p_ksv_tuple, [](PyObject *, ArgVal *a) -> PyObject * {
    if (refuse_none_shader(a[0].o)) return nullptr;
    set_krshader_value_vec4_tuple(as_krshader(a[0].o), a[1].i, a[2].o, 1);
    return none_or_null();
})

const ParamDef p_ksv_vec4_v[] = {subtype("shader", &g_KrShader), c_int("loc_index"),
                                 custom("values", vector4_array_from_py, destroy_array<Vector4>)};
DEF(set_krshader_value_vec4_v, p_ksv_vec4_v, [](PyObject *, ArgVal *a) -> PyObject * {
    if (refuse_none_shader(a[0].o)) return nullptr;
    auto *values = static_cast<std::vector<Vector4> *>(a[2].p);
    set_krshader_value_vec4_v(as_krshader(a[0].o), a[1].i, std::move(*values), 1);
    return none_or_null();
})

const ParamDef p_ksv_float_v[] = {subtype("shader", &g_KrShader), c_int("loc_index"),
                                  custom("values", float_array_from_py, destroy_array<float>)};
DEF(set_krshader_value_float_v, p_ksv_float_v, [](PyObject *, ArgVal *a) -> PyObject * {
    if (refuse_none_shader(a[0].o)) return nullptr;
    auto *values = static_cast<std::vector<float> *>(a[2].p);
    set_krshader_value_float_v(as_krshader(a[0].o), a[1].i, std::move(*values), 1);
    return none_or_null();
})

const ParamDef p_ksv_float[] = {subtype("shader", &g_KrShader), c_int("loc_index"), c_float("value")};
DEF(set_krshader_value_float, p_ksv_float, [](PyObject *, ArgVal *a) -> PyObject * {
    if (refuse_none_shader(a[0].o)) return nullptr;
    set_krshader_value_float(as_krshader(a[0].o), a[1].i, a[2].f, 1);
    return none_or_null();
})

const ParamDef p_ksv_int[] = {subtype("shader", &g_KrShader), c_int("loc_index"), c_int("value")};
DEF(set_krshader_value_int, p_ksv_int, [](PyObject *, ArgVal *a) -> PyObject * {
    if (refuse_none_shader(a[0].o)) return nullptr;
    set_krshader_value_int(as_krshader(a[0].o), a[1].i, a[2].i, 1);
    return none_or_null();
})

// The no-argument calls without keywords, with their raylib entry set, go
// from the interpreter straight to raylib; everything else (arguments given,
// entry unset) takes the general path with its messages and traceback.
#define FAST_NOARGS(pyname, raylib_name)                                                                        \
    PyObject *fast_##pyname(PyObject *callable, PyObject *const *args, std::size_t nargsf, PyObject *kwnames) { \
        if (PyVectorcall_NARGS(nargsf) == 0 && !kwnames && _c_##raylib_name) [[likely]] {                       \
            _c_##raylib_name();                                                                                 \
            Py_RETURN_NONE;                                                                                     \
        }                                                                                                       \
        return function_vectorcall(callable, args, nargsf, kwnames);                                            \
    }
FAST_NOARGS(begin_drawing, BeginDrawing)
FAST_NOARGS(end_drawing, EndDrawing)
FAST_NOARGS(end_blend_mode, EndBlendMode)
FAST_NOARGS(end_texture_mode, EndTextureMode)
FAST_NOARGS(end_shader_mode, EndShaderMode)
#undef FAST_NOARGS

// draw_texture_rec with its four arguments given by position, or by keyword
// in declaration order (the interned names, as a call site passes them), and
// exact tuples: straight to the body. Anything else takes the general path,
// with its messages and traceback.
PyObject *fast_draw_texture_rec(PyObject *callable, PyObject *const *args, std::size_t nargsf, PyObject *kwnames) {
    if (args_in_declaration_order(&def_draw_texture_rec, PyVectorcall_NARGS(nargsf), kwnames) &&
        PyTuple_CheckExact(args[1]) && PyTuple_CheckExact(args[2]) && PyTuple_CheckExact(args[3])) [[likely]] {
        draw_texture_rec(args[0], args[1], args[2], args[3], 1);
        if (!PyErr_Occurred()) [[likely]]
            Py_RETURN_NONE;
        add_function_traceback(&def_draw_texture_rec);
        return nullptr;
    }
    return function_vectorcall(callable, args, nargsf, kwnames);
}

#undef DEF
#undef DEF_NOARGS

// ---------------------------------------------------------------------------
// Module loading

const CapiEntry kCapi[] = {
#define CAPI_ROW(name) {#name, reinterpret_cast<void *>(&name), sig::name},
    KORA_RAYLIB_CAPI(CAPI_ROW)
#undef CAPI_ROW
};

const ConstTableDesc kConsts = {kCompressed, kCompressedLen,   kExpandedLen, kLengths,
                                kStrCount,   kUninternedCount, kBytesCount};

int add(FuncDef &def) { return add_function(g_mod.dict, &def); }

int module_exec(PyObject *module) {
    g_mod.id = &kIdentity;
    def_begin_drawing.vectorcall = fast_begin_drawing;
    def_draw_texture_rec.vectorcall = fast_draw_texture_rec;
    def_end_drawing.vectorcall = fast_end_drawing;
    def_end_blend_mode.vectorcall = fast_end_blend_mode;
    def_end_texture_mode.vectorcall = fast_end_texture_mode;
    def_end_shader_mode.vectorcall = fast_end_shader_mode;
    int begun = module_exec_begin(module, kConsts);
    if (begun == 1) return 0;
    if (begun < 0) return module_exec_fail();
    if (!g_white) {
        g_white = Py_BuildValue("(iiii)", 255, 255, 255, 255);
        if (!g_white) return module_exec_fail();
    }
    if (!g_coord_offset && !(g_coord_offset = PyFloat_FromDouble(0.01))) return module_exec_fail();
    if (publish_capi(kCapi, sizeof kCapi / sizeof kCapi[0]) < 0) return module_exec_fail();
    void *vt = nullptr;
    if (import_peer_type("kora_ui.fast.krvector2.krvector2", "KrVector2", sizeof(KrVector2Object), &g_KrVector2, &vt) <
        0)
        return module_exec_fail();
    g_KrVector2_vtab = static_cast<peers::KrVector2VTable *>(vt);
    if (import_peer_type("kora_ui.fast.krshader.krshader", "KrShader", sizeof(KrShaderObject), &g_KrShader, &vt) < 0)
        return module_exec_fail();
    g_KrShader_vtab = static_cast<peers::KrShaderVTable *>(vt);
    if (import_peer_type("kora_ui.fast.krrect.krrect", "KrRect", sizeof(KrRectObject), &g_KrRect, &vt) < 0)
        return module_exec_fail();
    g_KrRect_vtab = static_cast<peers::KrRectVTable *>(vt);
    if (import_peer_type("kora_ui.fast.krrendertex.kr_render_tex", "KrRenderTexture", sizeof(KrRenderTextureObject),
                         &g_KrRenderTexture, &vt) < 0)
        return module_exec_fail();
    g_KrRenderTexture_vtab = static_cast<peers::KrRenderTextureVTable *>(vt);
    if (check_builtin_type_size() < 0) return module_exec_fail();

    if (add(def_init_raylib_pointers) < 0 || add(def_draw_texture_rec) < 0 || add(def_draw_texture_rec_ez) < 0 ||
        add(def_draw_texture_vec) < 0 || add(def_draw_texture_vec_ez) < 0 || add(def_draw_texture_krvec) < 0)
        return module_exec_fail();
    {
        Ref white = Ref::steal(reinterpret_cast<PyObject *>(g_KrRect_vtab->new_(255.0f, 255.0f, 255.0f, 255.0f)));
        if (!white || PyDict_SetItem(g_mod.dict, K(K__base_color_krvec_ez), white.get()) < 0) return module_exec_fail();
    }
    FuncDef *rest[] = {
        &def_draw_texture_krvec_ez,
        &def_draw_texture_pro,
        &def_begin_blend_mode,
        &def_end_blend_mode,
        &def_begin_texture_mode,
        &def_end_texture_mode,
        &def_clear_background,
        &def_begin_shader_mode,
        &def_end_shader_mode,
        &def_set_shader_value,
        &def_set_krshader_value,
        &def_get_shader_location,
        &def_get_krshader_location,
        &def_set_shader_value_vec2_krvec,
        &def_set_shader_value_vec2_tuple,
        &def_set_krshader_value_vec2_krvec,
        &def_set_krshader_value_vec2_tuple,
        &def_set_shader_value_vec4_tuple,
        &def_set_krshader_value_vec4_tuple,
        &def_set_krshader_value_vec4_v,
        &def_set_krshader_value_float_v,
        &def_set_shader_value_float,
        &def_set_krshader_value_float,
        &def_set_krshader_value_int,
        &def_begin_drawing,
        &def_end_drawing,
    };
    for (FuncDef *def : rest)
        if (add(*def) < 0) return module_exec_fail();
    return module_exec_end();
}

}  // namespace
}  // namespace kora::raylib

PyMODINIT_FUNC PyInit_kora_raylib(void) {
    return kora::define_module(&kora::raylib::kIdentity, kora::raylib::module_exec);
}
