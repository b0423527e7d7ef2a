// Expansion of a module's compressed constant table.

#include "kora_ui/fast/common/constants.h"

#include "kora_ui/fast/common/lzss.h"
#include "kora_ui/fast/common/native_exception.h"

#include <vector>

namespace kora {

int expand_constants(const ConstTableDesc &desc, PyObject **out) {
    std::vector<std::uint8_t> text;
    if (!run_native([&] { text.resize(desc.expanded_len ? desc.expanded_len : 1); })) return -1;
    if (!lzss_expand(desc.compressed, desc.compressed_len, text.data(), desc.expanded_len)) {
        PyErr_SetString(PyExc_RuntimeError, "LZSS string data decompression failed");
        return -1;
    }
    std::size_t pos = 0;
    const int total = desc.n_str + desc.n_bytes;
    for (int i = 0; i < total; ++i) {
        std::size_t len = desc.lengths[i];
        if (pos + len > desc.expanded_len) {
            PyErr_SetString(PyExc_RuntimeError, "LZSS string data decompression failed");
            return -1;
        }
        const char *p = reinterpret_cast<const char *>(text.data() + pos);
        PyObject *o;
        if (i < desc.n_str) {
            o = PyUnicode_DecodeUTF8(p, static_cast<Py_ssize_t>(len), nullptr);
            if (o && i >= desc.n_uninterned) PyUnicode_InternInPlace(&o);
        } else {
            o = PyBytes_FromStringAndSize(p, static_cast<Py_ssize_t>(len));
        }
        if (!o) return -1;
        if (PyObject_Hash(o) == -1) {
            Py_DECREF(o);
            return -1;
        }
        out[i] = o;
        pos += len;
    }
    return 0;
}

int load_constants(const ConstTableDesc &consts) {
    if (g_mod.consts_ready) return 0;
    const int total = consts.n_str + consts.n_bytes;
    auto **table =
        static_cast<PyObject **>(PyMem_Calloc(static_cast<std::size_t>(total ? total : 1), sizeof(PyObject *)));
    if (!table) {
        PyErr_NoMemory();
        return -1;
    }
    if (expand_constants(consts, table) < 0) {
        for (int i = 0; i < total; ++i) Py_XDECREF(table[i]);
        PyMem_Free(table);
        return -1;
    }
    g_mod.consts = table;
    g_mod.n_consts = total;
    g_mod.consts_ready = true;
    return 0;
}

}  // namespace kora
