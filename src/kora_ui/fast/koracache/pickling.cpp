// koracache: pickling of Cache instances (__reduce__, __setstate__ and the
// module-level __pyx_unpickle_Cache).

#include "kora_ui/fast/koracache/cache_module.h"

#include "kora_ui/fast/common/constants.h"
#include "kora_ui/fast/common/convert.h"
#include "kora_ui/fast/common/function.h"
#include "kora_ui/fast/common/module.h"
#include "kora_ui/fast/common/traceback.h"
#include "koracache_constants.h"

namespace kora::koracache {

using namespace kora::generated;

namespace {

// The format of the refusal, naming the accepted checksums in hex.
consteval Name checksum_message() {
    Name m;
    m.append("Incompatible checksums (0x%x vs (");
    for (long c : kChecksums) {
        if (c != kChecksums[0]) m.append(", ");
        char digits[2 + 2 * sizeof(long) + 1] = "0x";
        int n = 2;
        for (int shift = 4 * (2 * sizeof(long) - 1); shift >= 0; shift -= 4)
            if (int d = static_cast<int>((c >> shift) & 0xF); d || n > 2) digits[n++] = "0123456789abcdef"[d];
        m.append(digits);
    }
    m.append(") = (cache_arr))");
    return m;
}
constexpr Name kChecksumMessage = checksum_message();

// Pickling entries point at this file in their traceback entries.
constexpr TracebackFile kFragment{"(tree fragment)"};

// Restores a state tuple into `self`: element 0 becomes the slot list,
// element 1 (if true) updates the instance dictionary.
PyObject *unpickle_set_state(CacheObject *self, PyObject *state) {
    const char *fullname = dotted<"__pyx_unpickle_Cache__set_state">;
    auto fail = [&](int line) -> PyObject * {
        add_traceback_in(fullname, line, kFragment.file);
        return nullptr;
    };
    if (PyTuple_GET_SIZE(state) < 1) {
        PyErr_SetString(PyExc_IndexError, "tuple index out of range");
        return fail(__LINE__);
    }
    PyObject *arr = PyTuple_GET_ITEM(state, 0);
    if (arr != Py_None && !PyList_CheckExact(arr)) {
        raise_expected("list", arr);
        return fail(__LINE__);
    }
    Py_SETREF(self->cache_arr, Py_NewRef(arr));
    if (PyTuple_GET_SIZE(state) > 1) {
        PyObject *extra = PyTuple_GET_ITEM(state, 1);
        int truth = PyObject_IsTrue(extra);
        if (truth < 0) return fail(__LINE__);
        if (truth) {
            Ref dict = Ref::steal(PyObject_GenericGetDict(reinterpret_cast<PyObject *>(self), nullptr));
            if (!dict) return fail(__LINE__);
            if (PyDict_CheckExact(dict.get())) {
                if (PyDict_Update(dict.get(), extra) < 0) return fail(__LINE__);
            } else {
                Ref r = Ref::steal(PyObject_CallMethodOneArg(dict.get(), K(K_update), extra));
                if (!r) return fail(__LINE__);
            }
        }
    }
    Py_RETURN_NONE;
}

PyObject *reduce(CacheObject *cache) {
    PyObject *self = reinterpret_cast<PyObject *>(cache);
    PyObject *arr = cache->cache_arr;
    Ref state = Ref::steal(PyTuple_Pack(1, arr));
    if (!state) return nullptr;
    Ref dict = Ref::steal(PyObject_GetAttr(self, K(K___dict__)));
    if (!dict) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
        PyErr_Clear();
    }
    bool with_dict = false;
    if (dict && dict.get() != Py_None) {
        int truth = PyObject_IsTrue(dict.get());
        if (truth < 0) return nullptr;
        with_dict = truth != 0;
    }
    if (with_dict) {
        state = Ref::steal(PyTuple_Pack(2, arr, dict.get()));
        if (!state) return nullptr;
    }
    Ref unpickle = Ref::steal(lookup_global(K(K___pyx_unpickle_Cache)));
    if (!unpickle) return nullptr;
    PyObject *cls = reinterpret_cast<PyObject *>(Py_TYPE(self));
    if (with_dict || arr != Py_None)
        return Py_BuildValue("(O(OOO)O)", unpickle.get(), cls, g_checksum, Py_None, state.get());
    return Py_BuildValue("(O(OOO))", unpickle.get(), cls, g_checksum, state.get());
}

PyObject *setstate(CacheObject *self, PyObject *state) {
    if (state == Py_None) {
        PyErr_SetString(PyExc_TypeError, "cannot pass None into a C function argument that is declared 'not None'");
        return nullptr;
    }
    if (!PyTuple_CheckExact(state)) {
        raise_expected("tuple", state);
        return nullptr;
    }
    return unpickle_set_state(self, state);
}

// Raises pickle.PickleError for a checksum no layout of Cache had.
PyObject *refuse_checksum(long checksum) {
    Ref pickle = Ref::steal(PyImport_Import(K(K_pickle)));
    if (!pickle) return nullptr;
    Ref error = Ref::steal(PyObject_GetAttr(pickle.get(), K(K_PickleError)));
    if (!error) return nullptr;
    Ref args = Ref::steal(Py_BuildValue("(l)", checksum));
    if (!args) return nullptr;
    Ref format = Ref::steal(PyUnicode_FromString(kChecksumMessage));
    if (!format) return nullptr;
    Ref message = Ref::steal(PyUnicode_Format(format.get(), args.get()));
    if (!message) return nullptr;
    PyErr_SetObject(error.get(), message.get());
    return nullptr;
}

PyObject *unpickle(PyObject *type, long checksum, PyObject *state) {
    bool accepted = false;
    for (long c : kChecksums) accepted = accepted || c == checksum;
    if (!accepted) return refuse_checksum(checksum);
    Ref make = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject *>(&CacheTypeObject), K(K___new__)));
    if (!make) return nullptr;
    Ref instance = Ref::steal(PyObject_CallOneArg(make.get(), type));
    if (!instance) return nullptr;
    if (state != Py_None) {
        // The class given may be anything __new__ accepted; only Cache
        // instances have a slot list to restore.
        if (!PyObject_TypeCheck(instance.get(), &CacheTypeObject)) {
            raise_expected("Cache", instance.get());
            return nullptr;
        }
        Ref r = Ref::steal(unpickle_set_state(as_cache(instance.get()), state));
        if (!r) return nullptr;
    }
    return instance.release();
}

constexpr auto d_reduce = method<reduce>(kModule, kCache, "__reduce__", kFragment);
constexpr auto d_setstate = method<setstate>(kModule, kCache, "__setstate__", arg("__pyx_state"), kFragment);
constexpr auto d_unpickle = function<unpickle>(kModule, "__pyx_unpickle_Cache", arg("__pyx_type"),
                                               arg("__pyx_checksum"), exact("__pyx_state", &g_tuple_type), kFragment);

constexpr auto &kPickling = kRegistration<d_reduce, d_setstate>;

}  // namespace

int install_pickling() {
    if (add_functions(CacheTypeObject.tp_dict, kPickling, &CacheTypeObject) < 0) {
        if (!PyErr_ExceptionMatches(PyExc_MemoryError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s", CacheTypeObject.tp_name);
        }
        return -1;
    }
    return 0;
}

int add_unpickle() { return add_function(g_mod.dict, def_of<d_unpickle>); }

}  // namespace kora::koracache
