// kora_raylib: the raylib call layer. This header declares the raylib records,
// the raylib entry-point table and the native routines that the module
// exports to the package's other native modules through `__pyx_capi__`, with
// the exact capsule signature text of each.
//
// A sibling module takes a routine by name from `__pyx_capi__` and must find
// the capsule name equal to the signature below (see `capi_signature`).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <vector>

#include "kora_ui/fast/peers/krrect.h"
#include "kora_ui/fast/peers/krrendertex.h"
#include "kora_ui/fast/peers/krshader.h"
#include "kora_ui/fast/peers/krvector2.h"
#include "kora_ui/fast/raylib/raylib_records.h"

namespace kora::raylib {

using peers::KrRectObject;
using peers::KrRenderTextureObject;
using peers::KrShaderObject;
using peers::KrVector2Object;
using rl::Color;
using rl::Rectangle;
using rl::RenderTexture2D;
using rl::Shader;
using rl::Texture2D;
using rl::Vector2;
using rl::Vector4;

// The raylib functions the module calls, in the order init_raylib_pointers
// reads them: name, result type and parameter types. One pointer type
// `<name>_ptr` per entry is declared from this list.
#define KORA_RAYLIB_ENTRIES(X)                                                        \
    X(DrawTextureRec, void, (Texture2D, Rectangle, Vector2, Color))                   \
    X(DrawTexturePro, void, (Texture2D, Rectangle, Rectangle, Vector2, float, Color)) \
    X(BeginBlendMode, void, (int))                                                    \
    X(EndBlendMode, void, ())                                                         \
    X(BeginTextureMode, void, (RenderTexture2D))                                      \
    X(EndTextureMode, void, ())                                                       \
    X(ClearBackground, void, (Color))                                                 \
    X(BeginShaderMode, void, (Shader))                                                \
    X(EndShaderMode, void, ())                                                        \
    X(SetShaderValue, void, (Shader, int, const void *, int))                         \
    X(GetShaderLocation, int, (Shader, const char *))                                 \
    X(BeginDrawing, void, ())                                                         \
    X(EndDrawing, void, ())                                                           \
    X(SetShaderValueV, void, (Shader, int, const void *, int, int))

#define KORA_RAYLIB_POINTER_TYPE(name, result, params) using name##_ptr = result(*) params;
KORA_RAYLIB_ENTRIES(KORA_RAYLIB_POINTER_TYPE)
#undef KORA_RAYLIB_POINTER_TYPE

// Raylib uniform data types used by the module.
enum UniformType : int {
    UNIFORM_FLOAT = 0,
    UNIFORM_VEC2 = 1,
    UNIFORM_VEC3 = 2,
    UNIFORM_VEC4 = 3,
    UNIFORM_INT = 4,
};

// ---------------------------------------------------------------------------
// Exported routines. Failures leave a Python exception set; callers test
// PyErr_Occurred() after the void routines and after a -1 from
// get_krshader_location. The trailing `skip_dispatch` is accepted and ignored.

PyObject *begin_krshader_mode(KrShaderObject *shader);
int get_krshader_location(KrShaderObject *shader, PyObject *name, int skip_dispatch);
void c_clear_background(PyObject *color);
void c_draw_texture_rec(PyObject *texture, PyObject *source_rec, PyObject *position, PyObject *color);
void c_draw_texture_pro(PyObject *texture, PyObject *source_rec, PyObject *dest_rec, PyObject *origin, float rotation,
                        PyObject *color);
void draw_texture_pro(PyObject *texture, PyObject *source_rec, PyObject *dest_rec, PyObject *origin, float rotation,
                      PyObject *color, int skip_dispatch);
void draw_texture_rec(PyObject *texture, PyObject *source_rec, PyObject *position, PyObject *color, int skip_dispatch);
void c_draw_texture_vec(PyObject *texture, PyObject *position, PyObject *color, int flip);
void draw_texture_vec(PyObject *texture, PyObject *position, PyObject *color, int flip, int skip_dispatch);
void begin_texture_mode(PyObject *target, int skip_dispatch);
void clear_background(PyObject *color, int skip_dispatch);
void init_raylib_pointers(PyObject *pointers, int skip_dispatch);
void c_draw_texture_krvec(PyObject *texture, KrVector2Object *position, KrRectObject *color, int flip);
void begin_drawing(int skip_dispatch);
void end_blend_mode(int skip_dispatch);
void end_drawing(int skip_dispatch);
void end_shader_mode(int skip_dispatch);
void end_texture_mode(int skip_dispatch);
void begin_blend_mode(int mode, int skip_dispatch);
void c_draw_krtexture_krvec(KrRenderTextureObject *texture, KrVector2Object *position, KrRectObject *color, int flip);
void kr_clear_background(KrRectObject *color);
void set_krshader_value_vec2_tuple(KrShaderObject *shader, int loc_index, PyObject *value, int skip_dispatch);
void set_krshader_value_vec4_tuple(KrShaderObject *shader, int loc_index, PyObject *value, int skip_dispatch);
void set_krshader_value(KrShaderObject *shader, int loc_index, PyObject *value, int uniform_type, int skip_dispatch);
void set_krshader_value_float(KrShaderObject *shader, int loc_index, float value, int skip_dispatch);
void set_krshader_value_int(KrShaderObject *shader, int loc_index, int value, int skip_dispatch);
void set_krshader_value_vec4_v(KrShaderObject *shader, int loc_index, std::vector<Vector4> values, int skip_dispatch);
void set_krshader_value_float_v(KrShaderObject *shader, int loc_index, std::vector<float> values, int skip_dispatch);
void set_krshader_value_vec2_krvec(KrShaderObject *shader, int loc_index, KrVector2Object *value, int skip_dispatch);
void c_clear_background_blank();

// ---------------------------------------------------------------------------
// Capsule signature texts, byte for byte.

#define KORA_SIG_KRSHADER "struct __pyx_obj_7kora_ui_4fast_8krshader_8krshader_KrShader *"
#define KORA_SIG_KRVECTOR2 "struct __pyx_obj_7kora_ui_4fast_9krvector2_9krvector2_KrVector2 *"
#define KORA_SIG_KRRECT "struct __pyx_obj_7kora_ui_4fast_6krrect_6krrect_KrRect *"
#define KORA_SIG_KRRENDERTEX "struct __pyx_obj_7kora_ui_4fast_11krrendertex_13kr_render_tex_KrRenderTexture *"

namespace sig {
inline constexpr const char begin_krshader_mode[] = "PyObject *(" KORA_SIG_KRSHADER ")";
inline constexpr const char get_krshader_location[] =
    "int (" KORA_SIG_KRSHADER ", PyObject *, int __pyx_skip_dispatch)";
inline constexpr const char c_clear_background[] = "void (PyObject *)";
inline constexpr const char c_draw_texture_rec[] = "void (PyObject *, PyObject *, PyObject *, PyObject *)";
inline constexpr const char c_draw_texture_pro[] =
    "void (PyObject *, PyObject *, PyObject *, PyObject *, float, PyObject *)";
inline constexpr const char draw_texture_pro[] =
    "void (PyObject *, PyObject *, PyObject *, PyObject *, float, PyObject *, int __pyx_skip_dispatch)";
inline constexpr const char draw_texture_rec[] =
    "void (PyObject *, PyObject *, PyObject *, PyObject *, int __pyx_skip_dispatch)";
inline constexpr const char c_draw_texture_vec[] = "void (PyObject *, PyObject *, PyObject *, int)";
inline constexpr const char draw_texture_vec[] =
    "void (PyObject *, PyObject *, PyObject *, int, int __pyx_skip_dispatch)";
inline constexpr const char begin_texture_mode[] = "void (PyObject *, int __pyx_skip_dispatch)";
inline constexpr const char clear_background[] = "void (PyObject *, int __pyx_skip_dispatch)";
inline constexpr const char init_raylib_pointers[] = "void (PyObject *, int __pyx_skip_dispatch)";
inline constexpr const char c_draw_texture_krvec[] =
    "void (PyObject *, " KORA_SIG_KRVECTOR2 ", " KORA_SIG_KRRECT ", int)";
inline constexpr const char begin_drawing[] = "void (int __pyx_skip_dispatch)";
inline constexpr const char end_blend_mode[] = "void (int __pyx_skip_dispatch)";
inline constexpr const char end_drawing[] = "void (int __pyx_skip_dispatch)";
inline constexpr const char end_shader_mode[] = "void (int __pyx_skip_dispatch)";
inline constexpr const char end_texture_mode[] = "void (int __pyx_skip_dispatch)";
inline constexpr const char begin_blend_mode[] = "void (int, int __pyx_skip_dispatch)";
inline constexpr const char c_draw_krtexture_krvec[] =
    "void (" KORA_SIG_KRRENDERTEX ", " KORA_SIG_KRVECTOR2 ", " KORA_SIG_KRRECT ", int)";
inline constexpr const char kr_clear_background[] = "void (" KORA_SIG_KRRECT ")";
inline constexpr const char set_krshader_value_vec2_tuple[] =
    "void (" KORA_SIG_KRSHADER ", int, PyObject *, int __pyx_skip_dispatch)";
inline constexpr const char set_krshader_value_vec4_tuple[] =
    "void (" KORA_SIG_KRSHADER ", int, PyObject *, int __pyx_skip_dispatch)";
inline constexpr const char set_krshader_value[] =
    "void (" KORA_SIG_KRSHADER ", int, PyObject *, int, int __pyx_skip_dispatch)";
inline constexpr const char set_krshader_value_float[] =
    "void (" KORA_SIG_KRSHADER ", int, float, int __pyx_skip_dispatch)";
inline constexpr const char set_krshader_value_int[] =
    "void (" KORA_SIG_KRSHADER ", int, int, int __pyx_skip_dispatch)";
inline constexpr const char set_krshader_value_vec4_v[] =
    "void (" KORA_SIG_KRSHADER
    ", int, std::vector<__pyx_t_7kora_ui_4fast_6raylib_11kora_raylib_Vector4> , int __pyx_skip_dispatch)";
inline constexpr const char set_krshader_value_float_v[] =
    "void (" KORA_SIG_KRSHADER ", int, std::vector<float> , int __pyx_skip_dispatch)";
inline constexpr const char set_krshader_value_vec2_krvec[] =
    "void (" KORA_SIG_KRSHADER ", int, " KORA_SIG_KRVECTOR2 ", int __pyx_skip_dispatch)";
inline constexpr const char c_clear_background_blank[] = "void (void)";
}  // namespace sig

// The export table, in publishing order: name, routine, signature.
#define KORA_RAYLIB_CAPI(X)          \
    X(begin_krshader_mode)           \
    X(get_krshader_location)         \
    X(c_clear_background)            \
    X(c_draw_texture_rec)            \
    X(c_draw_texture_pro)            \
    X(draw_texture_pro)              \
    X(draw_texture_rec)              \
    X(c_draw_texture_vec)            \
    X(draw_texture_vec)              \
    X(begin_texture_mode)            \
    X(clear_background)              \
    X(init_raylib_pointers)          \
    X(c_draw_texture_krvec)          \
    X(begin_drawing)                 \
    X(end_blend_mode)                \
    X(end_drawing)                   \
    X(end_shader_mode)               \
    X(end_texture_mode)              \
    X(begin_blend_mode)              \
    X(c_draw_krtexture_krvec)        \
    X(kr_clear_background)           \
    X(set_krshader_value_vec2_tuple) \
    X(set_krshader_value_vec4_tuple) \
    X(set_krshader_value)            \
    X(set_krshader_value_float)      \
    X(set_krshader_value_int)        \
    X(set_krshader_value_vec4_v)     \
    X(set_krshader_value_float_v)    \
    X(set_krshader_value_vec2_krvec) \
    X(c_clear_background_blank)

}  // namespace kora::raylib
