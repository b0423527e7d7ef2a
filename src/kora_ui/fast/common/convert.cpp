// The slow paths of the conversions of Python objects to C values (the fast
// cases are inline in convert.h).

#include "kora_ui/fast/common/convert.h"

#include "kora_ui/fast/common/pyref.h"

namespace kora {

namespace {

// Converts a non-int through its type's __int__ slot. New reference to an
// int, or null with an exception set.
PyObject *int_through_slot(PyObject *o) {
    PyNumberMethods *nb = Py_TYPE(o)->tp_as_number;
    if (!nb || !nb->nb_int) {
        PyErr_SetString(PyExc_TypeError, "an integer is required");
        return nullptr;
    }
    PyObject *r = nb->nb_int(o);
    if (!r || PyLong_CheckExact(r)) return r;
    if (PyLong_Check(r)) {
        if (PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                             "__int__ returned non-int (type %.200s).  "
                             "The ability to return an instance of a strict subclass of int "
                             "is deprecated, and may be removed in a future version of Python.",
                             Py_TYPE(r)->tp_name) < 0) {
            Py_DECREF(r);
            return nullptr;
        }
        return r;
    }
    PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)", Py_TYPE(r)->tp_name);
    Py_DECREF(r);
    return nullptr;
}

// Runs `conv` on `o` if it is an int, else on the result of its __int__.
template <class Conv>
int via_int(PyObject *o, Conv conv) {
    if (PyLong_Check(o)) return conv(o);
    Ref r = Ref::steal(int_through_slot(o));
    if (!r) return -1;
    return conv(r.get());
}

}  // namespace

int to_long_slow(PyObject *o, long *out) {
    return via_int(o, [out](PyObject *v) {
        long x = PyLong_AsLong(v);
        if (x == -1 && PyErr_Occurred()) return -1;
        *out = x;
        return 0;
    });
}

int to_int_slow(PyObject *o, int *out) {
    return via_int(o, [out](PyObject *v) {
        long x = PyLong_AsLong(v);
        if (x == -1 && PyErr_Occurred()) return -1;
        if (x < INT_MIN || x > INT_MAX) {
            PyErr_Format(PyExc_OverflowError, "value too large to convert to %.200s", "int");
            return -1;
        }
        *out = static_cast<int>(x);
        return 0;
    });
}

namespace {

int negative_int(PyObject *v, const char *target) {
    int sign = 0;
    if (PyLong_GetSign(v, &sign) < 0) return -1;
    if (sign < 0) {
        PyErr_Format(PyExc_OverflowError, "can't convert negative value to %.200s", target);
        return -1;
    }
    return 0;
}

}  // namespace

int to_uint_slow(PyObject *o, unsigned int *out) {
    return via_int(o, [out](PyObject *v) {
        if (negative_int(v, "unsigned int") < 0) return -1;
        unsigned long x = PyLong_AsUnsignedLong(v);
        if (x == static_cast<unsigned long>(-1) && PyErr_Occurred()) return -1;
        if (x > UINT_MAX) {
            PyErr_Format(PyExc_OverflowError, "value too large to convert to %.200s", "unsigned int");
            return -1;
        }
        *out = static_cast<unsigned int>(x);
        return 0;
    });
}

int to_size_t_slow(PyObject *o, std::size_t *out) {
    return via_int(o, [out](PyObject *v) {
        if (negative_int(v, "size_t") < 0) return -1;
        unsigned long x = PyLong_AsUnsignedLong(v);
        if (x == static_cast<unsigned long>(-1) && PyErr_Occurred()) return -1;
        *out = static_cast<std::size_t>(x);
        return 0;
    });
}

void raise_expected(const char *expected, PyObject *got) {
    PyErr_Format(PyExc_TypeError, "Expected %.42s, got %.200s", expected, Py_TYPE(got)->tp_name);
}

}  // namespace kora
