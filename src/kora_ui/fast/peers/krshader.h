// Instance layout and C-level method table of KrShader (module
// kora_ui.fast.krshader.krshader): a raylib shader handle, id plus the
// address of its uniform location array. See krvector2.h for the conventions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

namespace kora::peers {

inline constexpr const char *kKrShaderModule = "kora_ui.fast.krshader.krshader";
inline constexpr const char *kKrShaderTypeName = "KrShader";

struct KrShaderVTable;

struct KrShaderObject {
    PyObject_HEAD KrShaderVTable *vtab;
    std::uint32_t id;
    int *locs;
};

struct KrShaderVTable {
    // A new KrShader for the given vertex and fragment sources (either may be
    // NULL). This build has no graphics backend, so the result has id 0 and
    // no location array. New reference, or NULL with an exception set.
    KrShaderObject *(*c_create_from_code)(const char *vs_code, const char *fs_code);
};

static_assert(sizeof(KrShaderObject) == 40);
static_assert(sizeof(KrShaderVTable) == sizeof(void (*)()));

}  // namespace kora::peers
