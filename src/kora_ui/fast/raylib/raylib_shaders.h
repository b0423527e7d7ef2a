// Internal to kora_raylib: the Python-visible shader routines that are not
// exported, and the conversions of the `_v` setters' sequences.
#pragma once

#include "kora_ui/fast/raylib/raylib_module.h"

#include "kora_ui/fast/common/function.h"

#include <vector>

namespace kora {

namespace raylib {
// The sequence's items into `out`: 0, or -1 with an exception set.
int vector4_array_from_py(PyObject *values, std::vector<rl::Vector4> &out);
int float_array_from_py(PyObject *values, std::vector<float> &out);
}  // namespace raylib

// The `_v` setters' sequences: any iterable, items converted one at a time.
template <>
struct ArgConvert<std::vector<rl::Vector4>> {
    static constexpr bool kCustom = true;
    static bool convert(PyObject *values, std::vector<rl::Vector4> &out) {
        return raylib::vector4_array_from_py(values, out) == 0;
    }
};

template <>
struct ArgConvert<std::vector<float>> {
    static constexpr bool kCustom = true;
    static bool convert(PyObject *values, std::vector<float> &out) {
        return raylib::float_array_from_py(values, out) == 0;
    }
};

}  // namespace kora

namespace kora::raylib {

// Raw shader objects: the record is built from the object's attributes.
void set_shader_value_raw(PyObject *shader, int loc_index, PyObject *value, int uniform_type);
int get_shader_location_raw(PyObject *shader, PyObject *name);
void set_shader_value_vec2_krvec_raw(PyObject *shader, int loc_index, KrVector2Object *value);
void set_shader_value_vec2_tuple_raw(PyObject *shader, int loc_index, PyObject *value);
void set_shader_value_vec4_tuple_raw(PyObject *shader, int loc_index, PyObject *value);
void set_shader_value_float_raw(PyObject *shader, int loc_index, float value);
PyObject *begin_shader_mode_raw(PyObject *shader);

}  // namespace kora::raylib
