// kora_raylib: shader locations and values, and the conversion of the
// `_v` setters' sequences into arrays.

#include "kora_ui/fast/raylib/raylib_declarations.h"
#include "kora_ui/fast/raylib/raylib_shaders.h"

#include "kora_ui/fast/common/constants.h"
#include "kora_ui/fast/common/convert.h"
#include "kora_ui/fast/common/native_exception.h"
#include "kora_ui/fast/common/traceback.h"
#include "kora_raylib_constants.h"

#include <new>

namespace kora::raylib {

using namespace kora::generated;

// ---------------------------------------------------------------------------
// Shader values

namespace {

// How a setter obtains its shader record: copied from a KrShader's fields
// (never fails), or read from a raw shader object's attributes.
int record_of(KrShaderObject *shader, Shader *out) {
    *out = shader_record(shader);
    return 0;
}
int record_of(PyObject *shader, Shader *out) { return shader_fields(shader, out); }

// Packs up to four tuple items for SetShaderValue: floats for the float
// uniform types, ints (low 32 bits of a 64-bit conversion) for every other
// type. Components past the tuple's end are zero.
int pack_shader_value(PyObject *value, int uniform_type, float *f_val, int *i_val) {
    if (value == Py_None) {
        raise_not_subscriptable();
        return -1;
    }
    Py_ssize_t count = PyTuple_GET_SIZE(value);
    if (count > 4) count = 4;
    bool floats = uniform_floats(uniform_type) > 0;
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

// The bodies below are shared by the KrShader setters and the raw-shader
// ones. A raw shader whose record cannot be read fails without an entry of
// the body's own: the function's entry names the call.

template <const auto &Decl, class Source>
void shader_value(Source shader, int loc_index, PyObject *value, int uniform_type) {
    Shader s;
    if (record_of(shader, &s) < 0) return;
    float f_val[4] = {0, 0, 0, 0};
    int i_val[4] = {0, 0, 0, 0};
    if (pack_shader_value(value, uniform_type, f_val, i_val) < 0 || !ready(e_SetShaderValue)) {
        add_traceback(Decl.fullname);
        return;
    }
    bool floats = uniform_floats(uniform_type) > 0;
    e_SetShaderValue.call(s, loc_index, floats ? static_cast<const void *>(f_val) : static_cast<const void *>(i_val),
                          uniform_type);
}

// Looks a uniform up by its UTF-8 name; -1 with an exception on failure.
template <const auto &Decl, class Source>
int shader_location(Source shader, PyObject *name) {
    Shader s;
    if (record_of(shader, &s) < 0) return -1;
    Ref encoded;
    if (name == Py_None)
        PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%.30s'", "encode");
    else
        encoded = Ref::steal(PyUnicode_AsUTF8String(name));
    if (!encoded || !ready(e_GetShaderLocation)) {
        add_traceback(Decl.fullname);
        return -1;
    }
    return e_GetShaderLocation.call(s, PyBytes_AS_STRING(encoded.get()));
}

// A vector uniform of `Type` from `fill`, which converts the value into the
// floats (status 0 or -1).
template <const auto &Decl, int Type, class Source, class Fill>
void shader_floats(Source shader, int loc_index, Fill fill) {
    Shader s;
    if (record_of(shader, &s) < 0) return;
    float f_val[4] = {0, 0, 0, 0};
    if (fill(f_val, uniform_floats(Type)) < 0 || !ready(e_SetShaderValue)) {
        add_traceback(Decl.fullname);
        return;
    }
    e_SetShaderValue.call(s, loc_index, f_val, Type);
}

template <const auto &Decl, int Type, class Source>
void shader_vec_tuple(Source shader, int loc_index, PyObject *value) {
    shader_floats<Decl, Type>(shader, loc_index, [&](float *f, int n) { return floats_from_tuple(value, f, n); });
}

template <const auto &Decl, class Source>
void shader_vec2_krvec(Source shader, int loc_index, KrVector2Object *value) {
    shader_floats<Decl, UNIFORM_VEC2>(shader, loc_index, [&](float *f, int) {
        return set_fval_from_krvector2(f, reinterpret_cast<PyObject *>(value));
    });
}

template <const auto &Decl, int Type, class Source, class T>
void shader_scalar(Source shader, int loc_index, T value) {
    Shader s;
    if (record_of(shader, &s) < 0) return;
    if (!ready(e_SetShaderValue)) {
        add_traceback(Decl.fullname);
        return;
    }
    e_SetShaderValue.call(s, loc_index, &value, Type);
}

template <const auto &Decl, int Type, class T>
void shader_array(Shader s, int loc_index, const std::vector<T> &values) {
    if (values.empty()) return;
    if (values.size() > static_cast<std::size_t>(INT_MAX))
        PyErr_Format(PyExc_OverflowError, "value too large to convert to %.200s", "int");
    else if (ready(e_SetShaderValueV))
        return e_SetShaderValueV.call(s, loc_index, values.data(), Type, static_cast<int>(values.size()));
    add_traceback(Decl.fullname);
}

}  // namespace

int get_krshader_location(KrShaderObject *shader, PyObject *name, int) {
    return shader_location<d_get_krshader_location>(shader, name);
}

void set_krshader_value(KrShaderObject *shader, int loc_index, PyObject *value, int uniform_type, int) {
    shader_value<d_set_krshader_value>(shader, loc_index, value, uniform_type);
}

void set_krshader_value_vec2_krvec(KrShaderObject *shader, int loc_index, KrVector2Object *value, int) {
    shader_vec2_krvec<d_set_krshader_value_vec2_krvec>(shader, loc_index, value);
}

void set_krshader_value_vec2_tuple(KrShaderObject *shader, int loc_index, PyObject *value, int) {
    shader_vec_tuple<d_set_krshader_value_vec2_tuple, UNIFORM_VEC2>(shader, loc_index, value);
}

void set_krshader_value_vec4_tuple(KrShaderObject *shader, int loc_index, PyObject *value, int) {
    shader_vec_tuple<d_set_krshader_value_vec4_tuple, UNIFORM_VEC4>(shader, loc_index, value);
}

void set_krshader_value_vec4_v(KrShaderObject *shader, int loc_index, std::vector<Vector4> values, int) {
    shader_array<d_set_krshader_value_vec4_v, UNIFORM_VEC4>(shader_record(shader), loc_index, values);
}

void set_krshader_value_float_v(KrShaderObject *shader, int loc_index, std::vector<float> values, int) {
    shader_array<d_set_krshader_value_float_v, UNIFORM_FLOAT>(shader_record(shader), loc_index, values);
}

void set_krshader_value_float(KrShaderObject *shader, int loc_index, float value, int) {
    shader_scalar<d_set_krshader_value_float, UNIFORM_FLOAT>(shader, loc_index, value);
}

void set_krshader_value_int(KrShaderObject *shader, int loc_index, int value, int) {
    shader_scalar<d_set_krshader_value_int, UNIFORM_INT>(shader, loc_index, value);
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
    static const int keys[4] = {K_x, K_y, K_z, K_w};
    Ref parts[4];
    float f[4];
    if (!PyMapping_Check(item)) {
        raise_expected("a mapping", item);
        goto error;
    }
    for (int i = 0; i < 4; ++i)
        if (!(parts[i] = Ref::steal(vector4_component(item, keys[i])))) goto error;
    for (int i = 0; i < 4; ++i) {
        double d = to_double(parts[i].get());
        if (d == -1.0 && PyErr_Occurred()) goto error;
        f[i] = narrow(d);
    }
    *out = Vector4{f[0], f[1], f[2], f[3]};
    return 0;
error:
    add_traceback(dotted<"vector4_from_py">);
    return -1;
}

int float_from_py(PyObject *item, float *out) {
    double d = to_double(item);
    if (d == -1.0 && PyErr_Occurred()) return -1;
    *out = narrow(d);
    return 0;
}

template <Literal Name, class T, class Convert>
int array_from_py(PyObject *values, std::vector<T> &vec, Convert convert) {
    int rc = reserve_from_hint(values, vec);
    if (rc == 0) {
        rc = for_each_item(values, [&](PyObject *item) {
            T value;
            if (convert(item, &value) < 0) return -1;
            return run_native([&] { vec.push_back(value); }) ? 0 : -1;
        });
    }
    if (rc < 0) add_traceback(dotted<Name>);
    return rc;
}

}  // namespace

int vector4_array_from_py(PyObject *values, std::vector<Vector4> &out) {
    return array_from_py<"vector4_array_from_py">(values, out, vector4_from_py);
}

int float_array_from_py(PyObject *values, std::vector<float> &out) {
    return array_from_py<"float_array_from_py">(values, out, float_from_py);
}

// ---------------------------------------------------------------------------
// Raw shader objects: the record is read from the object's attributes.

void set_shader_value_raw(PyObject *shader, int loc_index, PyObject *value, int uniform_type) {
    shader_value<d_set_shader_value>(shader, loc_index, value, uniform_type);
}

int get_shader_location_raw(PyObject *shader, PyObject *name) {
    return shader_location<d_get_shader_location>(shader, name);
}

void set_shader_value_vec2_krvec_raw(PyObject *shader, int loc_index, KrVector2Object *value) {
    shader_vec2_krvec<d_set_shader_value_vec2_krvec>(shader, loc_index, value);
}

void set_shader_value_vec2_tuple_raw(PyObject *shader, int loc_index, PyObject *value) {
    shader_vec_tuple<d_set_shader_value_vec2_tuple, UNIFORM_VEC2>(shader, loc_index, value);
}

void set_shader_value_vec4_tuple_raw(PyObject *shader, int loc_index, PyObject *value) {
    shader_vec_tuple<d_set_shader_value_vec4_tuple, UNIFORM_VEC4>(shader, loc_index, value);
}

void set_shader_value_float_raw(PyObject *shader, int loc_index, float value) {
    shader_scalar<d_set_shader_value_float, UNIFORM_FLOAT>(shader, loc_index, value);
}

PyObject *begin_shader_mode_raw(PyObject *shader) {
    Shader s;
    if (shader_fields(shader, &s) < 0 || !ready(e_BeginShaderMode)) return nullptr;
    e_BeginShaderMode.call(s);
    Py_RETURN_NONE;
}

}  // namespace kora::raylib
