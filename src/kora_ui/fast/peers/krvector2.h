// Instance layout and C-level method table of KrVector2, the package's 2D
// vector type (module kora_ui.fast.krvector2.krvector2). Modules that take
// KrVector2 arguments read these records directly instead of going through
// Python attribute access.
//
// Every instance starts with a pointer to the type's method table; the type
// publishes that table in its dict under "__pyx_vtable__" as an unnamed
// capsule, so other modules can fetch it without linking to this one.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kora::peers {

inline constexpr const char *kKrVector2Module = "kora_ui.fast.krvector2.krvector2";
inline constexpr const char *kKrVector2TypeName = "KrVector2";

struct KrVector2VTable;

struct KrVector2Data {
    double x;
    double y;
};

struct KrVector2Object {
    PyObject_HEAD KrVector2VTable *vtab;
    KrVector2Data data;
};

// Functions returning KrVector2Object * or PyObject * return a new reference,
// or NULL with an exception set. Functions returning int return 0 on success,
// -1 with an exception set. The rest cannot fail.
struct KrVector2VTable {
    // A new KrVector2 (x, y).
    KrVector2Object *(*new_)(double x, double y);
    // Set self from a list of exactly two numbers.
    int (*cfrom_list)(KrVector2Object *self, PyObject *list);
    void (*cfrom_ints)(KrVector2Object *self, int x, int y);
    void (*cfrom_floats)(KrVector2Object *self, float x, float y);
    // Set self from a tuple of exactly two numbers.
    int (*cfrom_tuple)(KrVector2Object *self, PyObject *tuple);
    void (*cfrom_krvector2)(KrVector2Object *self, const KrVector2Object *other);
    void (*cfrom_xy)(KrVector2Object *self, double x, double y);
    // (int(x), int(y)), truncating toward zero; ValueError/OverflowError for
    // non-finite or out-of-range components.
    PyObject *(*c_get_int_tuple)(KrVector2Object *self);
    // self + other and self - other as new vectors.
    KrVector2Object *(*_add)(KrVector2Object *self, const KrVector2Object *other);
    KrVector2Object *(*_sub)(KrVector2Object *self, const KrVector2Object *other);
    // In place: self += other, self -= other, self *= k.
    void (*_iadd)(KrVector2Object *self, const KrVector2Object *other);
    void (*_isub)(KrVector2Object *self, const KrVector2Object *other);
    void (*_imul)(KrVector2Object *self, double k);
    // In place: adds s to both components.
    void (*_sadd)(KrVector2Object *self, double s);
    KrVector2Object *(*copy)(KrVector2Object *self);
    // A new vector (x + s, y + s).
    KrVector2Object *(*sadd)(KrVector2Object *self, double s);
};

static_assert(sizeof(KrVector2Data) == 16);
static_assert(sizeof(KrVector2Object) == 40);
static_assert(sizeof(KrVector2VTable) == 16 * sizeof(void (*)()));

}  // namespace kora::peers
