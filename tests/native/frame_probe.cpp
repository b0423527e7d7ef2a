// kora_frame_probe: the frame's translation of native exceptions, for each
// standard exception type (tests/test_frame_args.py; the modules' own
// routines can only raise std::bad_alloc and std::length_error), and the
// expansion of constant tables (tests/test_lzss.py).
//
//   translate(kind)  runs a routine that throws the standard exception named
//                    kind ("bad_alloc", "out_of_range", ..., "int" for a
//                    non-exception) with the message "probe"; returns None
//                    after the translated Python exception has been raised.
//                    "pending": ValueError("pending") is raised before a
//                    std::runtime_error is thrown
//   fail_with_entry()  asks for a traceback entry with no exception pending
//                    (none is added), then raises ValueError("probe") with the
//                    entry "probe_entry" at line 7, added while no module
//                    identity or dictionary exists (this module has neither),
//                    then the same entry in the file "probe_file"
//   expand(compressed, expanded_len, lengths, n_bytes=0)  the constants of a
//                    table made of these parts (a list: str, the last n_bytes
//                    bytes), or the table's error. The compressed data is
//                    copied to a heap block of its exact size, as the table
//                    expands into one, so that the sanitizers see any access
//                    outside them.
#include "kora_ui/fast/common/constants.h"
#include "kora_ui/fast/common/native_exception.h"
#include "kora_ui/fast/common/traceback.h"

#include <cstring>
#include <ios>
#include <new>
#include <stdexcept>
#include <typeinfo>
#include <vector>

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
    if (!std::strcmp(kind, "pending")) {
        PyErr_SetString(PyExc_ValueError, "pending");
        kind = "runtime_error";
    }
    if (!kora::run_native([&] { throw_named(kind); })) return nullptr;
    Py_RETURN_NONE;
}

PyObject *fail_with_entry(PyObject *, PyObject *) {
    kora::add_traceback("probe_entry", 6);
    PyErr_SetString(PyExc_ValueError, "probe");
    kora::add_traceback("probe_entry", 7);
    kora::add_traceback_in("probe_entry", 7, "probe_file");
    return nullptr;
}

PyObject *expand(PyObject *, PyObject *args) {
    const char *data;
    Py_ssize_t data_len, expanded_len;
    PyObject *lengths;
    int n_bytes = 0;
    if (!PyArg_ParseTuple(args, "y#nO!|i", &data, &data_len, &expanded_len, &PyTuple_Type, &lengths, &n_bytes))
        return nullptr;
    const auto n = static_cast<int>(PyTuple_GET_SIZE(lengths));
    std::vector<std::uint16_t> cut(static_cast<std::size_t>(n) + 1);
    for (int i = 0; i < n; ++i) {
        long len = PyLong_AsLong(PyTuple_GET_ITEM(lengths, i));
        if (len == -1 && PyErr_Occurred()) return nullptr;
        cut[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(len);
    }
    const std::vector<std::uint8_t> compressed(data, data + data_len);
    const kora::ConstTableDesc desc{compressed.data(),
                                    compressed.size(),
                                    static_cast<std::size_t>(expanded_len),
                                    cut.data(),
                                    n - n_bytes,
                                    n - n_bytes,
                                    n_bytes};
    std::vector<PyObject *> out(static_cast<std::size_t>(n) + 1, nullptr);
    int status = kora::expand_constants(desc, out.data());
    PyObject *list = status == 0 ? PyList_New(n) : nullptr;
    for (int i = 0; i < n; ++i) {
        if (list)
            PyList_SET_ITEM(list, i, out[static_cast<std::size_t>(i)]);
        else
            Py_XDECREF(out[static_cast<std::size_t>(i)]);
    }
    return list;
}

PyMethodDef methods[] = {
    {"expand", expand, METH_VARARGS, nullptr},
    {"translate", translate, METH_O, nullptr},
    {"fail_with_entry", fail_with_entry, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {
    PyModuleDef_HEAD_INIT, "kora_frame_probe", nullptr, 0, methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_kora_frame_probe(void) { return PyModuleDef_Init(&module); }
