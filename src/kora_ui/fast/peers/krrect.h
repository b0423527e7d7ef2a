// Instance layout and C-level method table of KrRect (module
// kora_ui.fast.krrect.krrect): an axis-aligned rectangle of 32-bit floats.
// See krvector2.h for the conventions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kora_ui/fast/peers/krvector2.h"

namespace kora::peers {

inline constexpr const char *kKrRectModule = "kora_ui.fast.krrect.krrect";
inline constexpr const char *kKrRectTypeName = "KrRect";

struct KrRectVTable;

struct KrRectObject {
    PyObject_HEAD KrRectVTable *vtab;
    float x, y, w, h;
};

// Functions returning KrRectObject * return a new reference, or NULL with an
// exception set; the rest cannot fail.
struct KrRectVTable {
    KrRectObject *(*new_)(float x, float y, float w, float h);
    // Component-wise self + other, self - other.
    KrRectObject *(*_add)(KrRectObject *self, const KrRectObject *other);
    KrRectObject *(*_sub)(KrRectObject *self, const KrRectObject *other);
    // Every component times k.
    KrRectObject *(*_mul_scalar)(KrRectObject *self, float k);
    // Component-wise product.
    KrRectObject *(*_mul_rect)(KrRectObject *self, const KrRectObject *other);
    // In place: self += other, self -= other (component-wise), self *= k.
    void (*_iadd)(KrRectObject *self, const KrRectObject *other);
    void (*_isub)(KrRectObject *self, const KrRectObject *other);
    void (*_imul)(KrRectObject *self, float k);
    // Smallest rectangle containing both (sizes assumed non-negative).
    KrRectObject *(*union_)(KrRectObject *self, const KrRectObject *other);
    // Rectangle at pos with extent size.
    KrRectObject *(*from_krvector)(const KrVector2Object *pos, const KrVector2Object *size);
    KrRectObject *(*from_kr_vector_t)(KrVector2Data pos, KrVector2Data size);
    // 1 when the two rectangles overlap with positive area, else 0.
    int (*collide_rect)(const KrRectObject *self, const KrRectObject *other);
};

static_assert(sizeof(KrRectObject) == 40);
static_assert(sizeof(KrRectVTable) == 12 * sizeof(void (*)()));

}  // namespace kora::peers
