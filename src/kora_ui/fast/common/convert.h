// Conversions of Python objects to C values, with the common cases inline.
#pragma once

#include "kora_ui/fast/common/pyref.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace kora {

// Conversions of Python objects to C values. Each returns 0 on success and -1
// with an exception set; the float conversions return -1.0 with an exception
// set (test PyErr_Occurred()).

int to_int_slow(PyObject *o, int *out);
int to_long_slow(PyObject *o, long *out);
int to_uint_slow(PyObject *o, unsigned int *out);
int to_size_t_slow(PyObject *o, std::size_t *out);

// Reads an int (or an instance of an int subclass, which the conversions use
// as is) that fits in one digit into `v`; false for anything else, which
// takes the slow path. One type-flag test covers both: an exact-type test
// first would not save it, since the compact reads assert the flag.
inline bool compact_int(PyObject *o, Py_ssize_t *v) {
    if (!PyLong_Check(o)) return false;
    if (!PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject *>(o))) return false;
    *v = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject *>(o));
    return true;
}

static_assert(PyLong_SHIFT < 32, "a compact int (one digit at most) always fits a C int");

inline int to_int(PyObject *o, int *out) {
    Py_ssize_t v;
    if (compact_int(o, &v)) {
        *out = static_cast<int>(v);
        return 0;
    }
    return to_int_slow(o, out);
}

inline int to_long(PyObject *o, long *out) {
    Py_ssize_t v;
    if (compact_int(o, &v)) {
        *out = static_cast<long>(v);
        return 0;
    }
    return to_long_slow(o, out);
}

inline int to_uint(PyObject *o, unsigned int *out) {
    Py_ssize_t v;
    if (compact_int(o, &v)) {
        if (v >= 0 && static_cast<unsigned long long>(v) <= UINT_MAX) {
            *out = static_cast<unsigned int>(v);
            return 0;
        }
    }
    return to_uint_slow(o, out);
}

inline int to_size_t(PyObject *o, std::size_t *out) {
    Py_ssize_t v;
    if (compact_int(o, &v)) {
        if (v >= 0) {
            *out = static_cast<std::size_t>(v);
            return 0;
        }
    }
    return to_size_t_slow(o, out);
}

// The interpreter's float conversion with the exact-float and compact-int
// cases read inline.
inline double to_double(PyObject *o) {
    if (PyFloat_CheckExact(o)) return PyFloat_AS_DOUBLE(o);
    if (PyLong_CheckExact(o) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject *>(o)))
        return static_cast<double>(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject *>(o)));
    return PyFloat_AsDouble(o);
}

// Narrows to single precision the way the hardware does (out-of-range values
// become infinities) without the undefined behaviour of a plain cast.
inline float narrow(double d) noexcept {
    if (d > static_cast<double>(FLT_MAX)) {
        // Values that still round to FLT_MAX stay finite.
        return d < 3.4028235677973366e38 ? FLT_MAX : INFINITY;
    }
    if (d < -static_cast<double>(FLT_MAX)) {
        return d > -3.4028235677973366e38 ? -FLT_MAX : -INFINITY;
    }
    return static_cast<float>(d);
}

inline float to_float(PyObject *o) { return narrow(to_double(o)); }

// Truth value: True, False and None directly, anything else through its
// truth test. -1 on error.
inline int to_bool(PyObject *o) {
    if (o == Py_True) return 1;
    if (o == Py_False || o == Py_None) return 0;
    return PyObject_IsTrue(o);
}

// Raises the "Expected %.42s, got %.200s" TypeError of a typed store.
void raise_expected(const char *expected, PyObject *got);

// The TypeError Python raises for subscripting None.
inline void raise_not_subscriptable() { PyErr_SetString(PyExc_TypeError, "'NoneType' object is not subscriptable"); }

}  // namespace kora
