// Internal to kora_raylib: the declarations of the Python-visible functions
// whose routines add a traceback entry of the same name. The routines take
// that name from here (`d_name.fullname`); kora_raylib.cpp registers them.
#pragma once

#include "kora_ui/fast/raylib/raylib_module.h"
#include "kora_ui/fast/raylib/raylib_shaders.h"

#include "kora_ui/fast/common/function.h"

namespace kora::raylib {

// The no-argument calls without keywords, with their raylib entry set, go
// from the interpreter straight to raylib; everything else (arguments given,
// entry unset) takes the general path with its messages and traceback.
template <auto &E>
inline PyObject *fast_noargs(PyObject *callable, PyObject *const *args, std::size_t nargsf, PyObject *kwnames) {
    if (PyVectorcall_NARGS(nargsf) == 0 && !kwnames && E.call) [[likely]] {
        E.call();
        Py_RETURN_NONE;
    }
    return function_vectorcall(callable, args, nargsf, kwnames);
}

// Python-visible functions: each declares its parameters once; the routine's
// parameter types give the conversions.

inline constexpr PyTypeObject *const *kTuple = &g_tuple_type;
inline constexpr PyTypeObject **kVector2 = &g_KrVector2;
inline constexpr PyTypeObject **kShader = &g_KrShader;

inline constexpr auto d_init_raylib_pointers =
    function<init_raylib_pointers>(kModule, "init_raylib_pointers", exact("pointers", &g_dict_type), dispatch_flag);
inline constexpr auto d_draw_texture_rec =
    function<draw_texture_rec>(kModule, "draw_texture_rec", arg("texture"), exact("source_rec", kTuple),
                               exact("position", kTuple), exact("color", kTuple), dispatch_flag);
inline constexpr auto d_draw_texture_vec =
    function<draw_texture_vec>(kModule, "draw_texture_vec", arg("texture"), exact("position", kTuple),
                               exact("color", kTuple), truth("flip"), dispatch_flag);
inline constexpr auto d_draw_texture_pro = function<draw_texture_pro>(
    kModule, "draw_texture_pro", arg("texture"), exact("source_rec", kTuple), exact("dest_rec", kTuple),
    exact("origin", kTuple), arg("rotation"), exact("color", kTuple), dispatch_flag);
inline constexpr auto d_begin_blend_mode =
    function<begin_blend_mode>(kModule, "begin_blend_mode", arg("mode"), dispatch_flag);
inline constexpr auto d_end_blend_mode =
    function<end_blend_mode>(kModule, "end_blend_mode", dispatch_flag, FastEntry{fast_noargs<e_EndBlendMode>});
inline constexpr auto d_begin_texture_mode =
    function<begin_texture_mode>(kModule, "begin_texture_mode", arg("target"), dispatch_flag);
inline constexpr auto d_end_texture_mode =
    function<end_texture_mode>(kModule, "end_texture_mode", dispatch_flag, FastEntry{fast_noargs<e_EndTextureMode>});
inline constexpr auto d_clear_background =
    function<clear_background>(kModule, "clear_background", exact("color", kTuple), dispatch_flag);
inline constexpr auto d_end_shader_mode =
    function<end_shader_mode>(kModule, "end_shader_mode", dispatch_flag, FastEntry{fast_noargs<e_EndShaderMode>});
inline constexpr auto d_begin_drawing =
    function<begin_drawing>(kModule, "begin_drawing", dispatch_flag, FastEntry{fast_noargs<e_BeginDrawing>});
inline constexpr auto d_end_drawing =
    function<end_drawing>(kModule, "end_drawing", dispatch_flag, FastEntry{fast_noargs<e_EndDrawing>});
inline constexpr auto d_set_shader_value = function<set_shader_value_raw>(
    kModule, "set_shader_value", arg("shader"), arg("loc_index"), exact("value", kTuple), arg("uniform_type"));
inline constexpr auto d_get_shader_location =
    function<get_shader_location_raw>(kModule, "get_shader_location", arg("shader"), exact("name", &g_str_type));
inline constexpr auto d_set_shader_value_vec2_krvec = function<set_shader_value_vec2_krvec_raw>(
    kModule, "set_shader_value_vec2_krvec", arg("shader"), arg("loc_index"), subtype("value", kVector2));
inline constexpr auto d_set_shader_value_vec2_tuple = function<set_shader_value_vec2_tuple_raw>(
    kModule, "set_shader_value_vec2_tuple", arg("shader"), arg("loc_index"), exact("value", kTuple));
inline constexpr auto d_set_shader_value_vec4_tuple = function<set_shader_value_vec4_tuple_raw>(
    kModule, "set_shader_value_vec4_tuple", arg("shader"), arg("loc_index"), exact("value", kTuple));
inline constexpr auto d_set_shader_value_float = function<set_shader_value_float_raw>(
    kModule, "set_shader_value_float", arg("shader"), arg("loc_index"), arg("value"));
inline constexpr auto d_set_krshader_value =
    function<set_krshader_value>(kModule, "set_krshader_value", instance("shader", kShader), arg("loc_index"),
                                 exact("value", kTuple), arg("uniform_type"), dispatch_flag);
inline constexpr auto d_get_krshader_location = function<get_krshader_location>(
    kModule, "get_krshader_location", instance("shader", kShader), exact("name", &g_str_type), dispatch_flag);
inline constexpr auto d_set_krshader_value_vec2_krvec =
    function<set_krshader_value_vec2_krvec>(kModule, "set_krshader_value_vec2_krvec", instance("shader", kShader),
                                            arg("loc_index"), subtype("value", kVector2), dispatch_flag);
inline constexpr auto d_set_krshader_value_vec2_tuple =
    function<set_krshader_value_vec2_tuple>(kModule, "set_krshader_value_vec2_tuple", instance("shader", kShader),
                                            arg("loc_index"), exact("value", kTuple), dispatch_flag);
inline constexpr auto d_set_krshader_value_vec4_tuple =
    function<set_krshader_value_vec4_tuple>(kModule, "set_krshader_value_vec4_tuple", instance("shader", kShader),
                                            arg("loc_index"), exact("value", kTuple), dispatch_flag);
inline constexpr auto d_set_krshader_value_vec4_v = function<set_krshader_value_vec4_v>(
    kModule, "set_krshader_value_vec4_v", instance("shader", kShader), arg("loc_index"), arg("values"), dispatch_flag);
inline constexpr auto d_set_krshader_value_float_v = function<set_krshader_value_float_v>(
    kModule, "set_krshader_value_float_v", instance("shader", kShader), arg("loc_index"), arg("values"), dispatch_flag);
inline constexpr auto d_set_krshader_value_float = function<set_krshader_value_float>(
    kModule, "set_krshader_value_float", instance("shader", kShader), arg("loc_index"), arg("value"), dispatch_flag);
inline constexpr auto d_set_krshader_value_int = function<set_krshader_value_int>(
    kModule, "set_krshader_value_int", instance("shader", kShader), arg("loc_index"), arg("value"), dispatch_flag);

}  // namespace kora::raylib
