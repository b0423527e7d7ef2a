// kora_raylib: converts Python objects into raylib records and calls raylib
// through an entry-point table filled at run time by init_raylib_pointers.
// This file holds the table, the Python-visible declarations and the module's
// loading; records.cpp, drawing.cpp and shaders.cpp hold the routines.

#include "kora_ui/fast/raylib/raylib_module.h"
#include "kora_ui/fast/raylib/raylib_declarations.h"
#include "kora_ui/fast/raylib/raylib_shaders.h"

#include "kora_ui/fast/common/constants.h"
#include "kora_ui/fast/common/convert.h"
#include "kora_ui/fast/common/function.h"
#include "kora_ui/fast/common/module.h"
#include "kora_ui/fast/common/tables.h"
#include "kora_ui/fast/common/traceback.h"
#include "kora_raylib_constants.h"

#include <cstring>
#include <span>

namespace kora::raylib {

using namespace kora::generated;

PyTypeObject *g_KrVector2 = nullptr;
PyTypeObject *g_KrShader = nullptr;
PyTypeObject *g_KrRect = nullptr;
PyTypeObject *g_KrRenderTexture = nullptr;
peers::KrRectVTable *g_KrRect_vtab = nullptr;

PyObject *g_white = nullptr;
PyObject *g_coord_offset = nullptr;

// ---------------------------------------------------------------------------
// Entry-point table

#define KORA_RAYLIB_DEFINE_ENTRY(name, result, params) Entry<name##_ptr> e_##name{#name};
KORA_RAYLIB_ENTRIES(KORA_RAYLIB_DEFINE_ENTRY)
#undef KORA_RAYLIB_DEFINE_ENTRY

void raise_unset(const char *raylib_name) {
    PyErr_Format(PyExc_RuntimeError, "raylib function %s is not set; call init_raylib_pointers first", raylib_name);
}

namespace {

// Stores an address into an entry of any pointer type.
template <class Ptr>
void store_entry(void *entry, std::size_t address) {
    static_assert(sizeof(Ptr) == sizeof(std::size_t));
    std::memcpy(&static_cast<Entry<Ptr> *>(entry)->call, &address, sizeof address);
}

struct EntryRow {
    const char *name;
    void *entry;
    void (*store)(void *, std::size_t);
};

#define KORA_RAYLIB_ENTRY_ROW(name, result, params) {#name, &e_##name, store_entry<name##_ptr>},
const EntryRow kEntryRows[] = {KORA_RAYLIB_ENTRIES(KORA_RAYLIB_ENTRY_ROW)};
#undef KORA_RAYLIB_ENTRY_ROW

}  // namespace

void init_raylib_pointers(PyObject *pointers, int) {
    if (pointers == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'NoneType' object is not iterable");
        goto error;
    }
    for (const EntryRow &row : kEntryRows) {
        PyObject *value = nullptr;
        int found = PyDict_GetItemStringRef(pointers, row.name, &value);
        std::size_t address = 0;
        int rc = found > 0 ? to_size_t(value, &address) : found;
        Py_XDECREF(value);
        if (rc < 0) goto error;
        if (found) row.store(row.entry, address);
    }
    return;
error:
    add_traceback(d_init_raylib_pointers.fullname);
}

namespace {

// ---------------------------------------------------------------------------
// Routines of the Python-visible functions that are not exported

void draw_texture_rec_ez(PyObject *texture, PyObject *source_rec, PyObject *position) {
    c_draw_texture_rec(texture, source_rec, position, g_white);
}

void draw_texture_vec_ez(PyObject *texture, PyObject *position, int flip) {
    c_draw_texture_vec(texture, position, g_white, flip);
}

// Draws in the module global `_base_color_krvec_ez`, looked up at each call.
PyObject *draw_texture_krvec_ez(PyObject *texture, KrVector2Object *position, int flip) {
    Ref color = Ref::steal(lookup_global(K(K__base_color_krvec_ez)));
    if (!color) return nullptr;
    if (color.get() != Py_None && !PyObject_TypeCheck(color.get(), g_KrRect)) {
        PyErr_Format(PyExc_TypeError, "%.1sCannot convert %.200s to %.200s", "", Py_TYPE(color.get())->tp_name,
                     g_KrRect->tp_name);
        return nullptr;
    }
    c_draw_texture_krvec(texture, position, reinterpret_cast<KrRectObject *>(color.get()), flip);
    return none_or_null();
}

// ---------------------------------------------------------------------------
// The other Python-visible functions (see raylib_declarations.h).

constexpr auto d_draw_texture_rec_ez = function<draw_texture_rec_ez>(
    kModule, "draw_texture_rec_ez", arg("texture"), exact("source_rec", kTuple), exact("position", kTuple));
constexpr auto d_draw_texture_vec_ez = function<draw_texture_vec_ez>(kModule, "draw_texture_vec_ez", arg("texture"),
                                                                     exact("position", kTuple), truth("flip"));
constexpr auto d_draw_texture_krvec =
    function<c_draw_texture_krvec>(kModule, "draw_texture_krvec", arg("texture"), subtype("position", kVector2),
                                   subtype("color", &g_KrRect), truth("flip"));
constexpr auto d_draw_texture_krvec_ez = function<draw_texture_krvec_ez>(
    kModule, "draw_texture_krvec_ez", arg("texture"), subtype("position", kVector2), truth("flip"));
constexpr auto d_begin_shader_mode = function<begin_shader_mode_raw>(kModule, "begin_shader_mode", arg("shader"));

// `_base_color_krvec_ez`: a white KrRect, the colour of draw_texture_krvec_ez.
int add_base_color(PyObject *dict);
constexpr Attribute d_base_color{add_base_color};

// The registration order, the module attribute at its place.
constexpr auto &kFunctions =
    kRegistration<d_init_raylib_pointers, d_draw_texture_rec, d_draw_texture_rec_ez, d_draw_texture_vec,
                  d_draw_texture_vec_ez, d_draw_texture_krvec, d_base_color, d_draw_texture_krvec_ez,
                  d_draw_texture_pro, d_begin_blend_mode, d_end_blend_mode, d_begin_texture_mode, d_end_texture_mode,
                  d_clear_background, d_begin_shader_mode, d_end_shader_mode, d_set_shader_value, d_set_krshader_value,
                  d_get_shader_location, d_get_krshader_location, d_set_shader_value_vec2_krvec,
                  d_set_shader_value_vec2_tuple, d_set_krshader_value_vec2_krvec, d_set_krshader_value_vec2_tuple,
                  d_set_shader_value_vec4_tuple, d_set_krshader_value_vec4_tuple, d_set_krshader_value_vec4_v,
                  d_set_krshader_value_float_v, d_set_shader_value_float, d_set_krshader_value_float,
                  d_set_krshader_value_int, d_begin_drawing, d_end_drawing>;

// ---------------------------------------------------------------------------
// Module loading

const CapiEntry kCapi[] = {
#define KORA_RAYLIB_CAPI_ROW(name) {#name, reinterpret_cast<void *>(&name), sig::name},
    KORA_RAYLIB_CAPI(KORA_RAYLIB_CAPI_ROW)
#undef KORA_RAYLIB_CAPI_ROW
};

template <class Object, class VTable>
int import_peer(const char *module_name, const char *type_name, PyTypeObject **type, VTable **vtable = nullptr) {
    void *vt = nullptr;
    if (import_peer_type(module_name, type_name, sizeof(Object), type, &vt) < 0) return -1;
    if (vtable) *vtable = static_cast<VTable *>(vt);
    return 0;
}

int import_peers() {
    using namespace peers;
    if (import_peer<KrVector2Object, KrVector2VTable>(kKrVector2Module, kKrVector2TypeName, &g_KrVector2) < 0 ||
        import_peer<KrShaderObject, KrShaderVTable>(kKrShaderModule, kKrShaderTypeName, &g_KrShader) < 0 ||
        import_peer<KrRectObject>(kKrRectModule, kKrRectTypeName, &g_KrRect, &g_KrRect_vtab) < 0 ||
        import_peer<KrRenderTextureObject, KrRenderTextureVTable>(kKrRenderTextureModule, kKrRenderTextureTypeName,
                                                                  &g_KrRenderTexture) < 0)
        return -1;
    return check_builtin_type_size();
}

int add_base_color(PyObject *dict) {
    Ref white = Ref::steal(reinterpret_cast<PyObject *>(g_KrRect_vtab->new_(255.0f, 255.0f, 255.0f, 255.0f)));
    if (!white) return -1;
    return PyDict_SetItem(dict, K(K__base_color_krvec_ez), white.get());
}

int load() {
    if (!g_white && !(g_white = Py_BuildValue("(iiii)", 255, 255, 255, 255))) return -1;
    if (!g_coord_offset && !(g_coord_offset = PyFloat_FromDouble(0.01))) return -1;
    if (publish_capi(kCapi, sizeof kCapi / sizeof kCapi[0]) < 0 || import_peers() < 0) return -1;
    return add_functions(g_mod.dict, kFunctions);
}

}  // namespace
}  // namespace kora::raylib

PyMODINIT_FUNC PyInit_kora_raylib(void) {
    return kora::define_module(&kora::raylib::kModule, kora::generated::kConstTable, kora::raylib::load);
}
