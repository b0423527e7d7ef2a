// koracache: the `Cache` extension type, a table of 32 slots addressed by the
// `value` of CacheType members. This header declares the instance record and
// the C-level method table that sibling native modules take from the capsule
// stored under `__pyx_vtable__` in Cache's type dict.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kora::koracache {

inline constexpr int kSlotCount = 32;

struct CacheVTable;

struct CacheObject {
    PyObject_HEAD CacheVTable *vtab;
    PyObject *cache_arr;  // the slot list, or None while detached
};

// Entries returning nothing report failure by a pending Python exception;
// the others return a new reference, or null with an exception set. A slot
// index outside the slot list raises IndexError and touches nothing.
struct CacheVTable {
    void (*c_clear)(CacheObject *self);
    void (*c_clear_selected)(CacheObject *self, PyObject *blacklist, PyObject *whitelist);
    PyObject *(*c_get)(CacheObject *self, int type_idx);
    void (*c_set)(CacheObject *self, int type_idx, PyObject *value);
    PyObject *(*c_get_or_set_val)(CacheObject *self, int type_idx, PyObject *value);
    PyObject *(*c_get_or_exec)(CacheObject *self, int type_idx, PyObject *func);
    CacheObject *(*new_)();
};

static_assert(sizeof(CacheObject) == 2 * sizeof(void *) + sizeof(PyObject));

}  // namespace kora::koracache
