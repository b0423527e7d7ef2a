// kora_leak_helper: deliberately faulty functions that prove the leak checks
// of the suite see what they claim to see (tests/test_leaks.py).
//
//   leak_ref(obj)       returns None and keeps an extra reference to obj
//                       that nothing ever releases
//   leak_heap(size)     allocates size bytes on the C++ heap and drops the
//                       only pointer to them
//   copy_function(f)    a new function object made from the declaration of f
//                       (a function of the modules), which tests can free
//
// The module is loaded by the frame's create step; with KORA_LEAK_AT_EXEC set,
// its exec step leaks 77 bytes of heap.
#include "kora_ui/fast/common/constants.h"
#include "kora_ui/fast/common/function.h"
#include "kora_ui/fast/common/function_object.h"
#include "kora_ui/fast/common/module.h"

#include <cstddef>
#include <cstdlib>

namespace {

PyObject *leak_ref(PyObject *, PyObject *obj) {
    Py_INCREF(obj);  // the fault under test
    Py_RETURN_NONE;
}

void drop_heap(std::size_t size) {
    // Written through a volatile pointer so that the allocation is not elided.
    char *volatile block = new char[size];
    block[0] = 1;
    block = nullptr;  // the fault under test
}

PyObject *leak_heap(PyObject *, PyObject *arg) {
    Py_ssize_t size = PyLong_AsSsize_t(arg);
    if (size == -1 && PyErr_Occurred()) return nullptr;
    drop_heap(static_cast<std::size_t>(size > 0 ? size : 1));
    Py_RETURN_NONE;
}

PyObject *copy_function(PyObject *, PyObject *f) {
    if (Py_TYPE(f) != kora::g_function_type) {
        PyErr_SetString(PyExc_TypeError, "copy_function(f) takes a function of the modules");
        return nullptr;
    }
    return kora::make_function(reinterpret_cast<kora::FunctionObject *>(f)->def);
}

PyMethodDef methods[] = {
    {"leak_ref", leak_ref, METH_O, nullptr},
    {"leak_heap", leak_heap, METH_O, nullptr},
    {"copy_function", copy_function, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

int load() {
    if (std::getenv("KORA_LEAK_AT_EXEC")) drop_heap(77);
    return PyModule_AddFunctions(kora::g_mod.module, methods);
}

constexpr kora::ModuleIdentity kIdentity{"kora_leak_helper"};
constexpr kora::ConstTableDesc kNoConstants{nullptr, 0, 0, nullptr, 0, 0, 0};

}  // namespace

PyMODINIT_FUNC PyInit_kora_leak_helper(void) { return kora::define_module(&kIdentity, kNoConstants, load); }
