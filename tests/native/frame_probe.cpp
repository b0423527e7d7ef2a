// kora_frame_probe: the frame's translation of native exceptions, for each
// standard exception type (tests/test_frame_args.py). The modules' own
// routines can only raise std::bad_alloc and std::length_error.
//
//   translate(kind)  runs a routine that throws the standard exception named
//                    kind ("bad_alloc", "out_of_range", ..., "int" for a
//                    non-exception) with the message "probe"; returns None
//                    after the translated Python exception has been raised
//   fail_with_entry()  raises ValueError("probe") with a traceback entry
//                    "probe_entry" at line 7 of "probe_file", added while no
//                    module dictionary exists (this module has none)
#include "kora_ui/fast/common/native_exception.h"
#include "kora_ui/fast/common/traceback.h"

#include <cstring>
#include <ios>
#include <new>
#include <stdexcept>
#include <typeinfo>

namespace {

[[noreturn]] void throw_named(const char *kind) {
    if (!std::strcmp(kind, "bad_alloc")) throw std::bad_alloc();
    if (!std::strcmp(kind, "bad_cast")) throw std::bad_cast();
    if (!std::strcmp(kind, "bad_typeid")) throw std::bad_typeid();
    if (!std::strcmp(kind, "domain_error")) throw std::domain_error("probe");
    if (!std::strcmp(kind, "invalid_argument")) throw std::invalid_argument("probe");
    if (!std::strcmp(kind, "ios_base::failure")) throw std::ios_base::failure("probe");
    if (!std::strcmp(kind, "out_of_range")) throw std::out_of_range("probe");
    if (!std::strcmp(kind, "overflow_error")) throw std::overflow_error("probe");
    if (!std::strcmp(kind, "range_error")) throw std::range_error("probe");
    if (!std::strcmp(kind, "underflow_error")) throw std::underflow_error("probe");
    if (!std::strcmp(kind, "length_error")) throw std::length_error("probe");
    if (!std::strcmp(kind, "runtime_error")) throw std::runtime_error("probe");
    throw 42;
}

PyObject *translate(PyObject *, PyObject *arg) {
    const char *kind = PyUnicode_AsUTF8(arg);
    if (!kind) return nullptr;
    if (!kora::run_native([&] { throw_named(kind); })) return nullptr;
    Py_RETURN_NONE;
}

PyObject *fail_with_entry(PyObject *, PyObject *) {
    PyErr_SetString(PyExc_ValueError, "probe");
    kora::add_traceback_in("probe_entry", 7, "probe_file");
    return nullptr;
}

PyMethodDef methods[] = {
    {"translate", translate, METH_O, nullptr},
    {"fail_with_entry", fail_with_entry, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {
    PyModuleDef_HEAD_INIT, "kora_frame_probe", nullptr, 0, methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_kora_frame_probe(void) { return PyModuleDef_Init(&module); }
