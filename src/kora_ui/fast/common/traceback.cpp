// Traceback entries for the native routines: one cached code object per
// (function, line, file), and a frame made on the fly to hang the entry on.

#include "kora_ui/fast/common/traceback.h"

#include "kora_ui/fast/common/module.h"

#include <frameobject.h>

#include <cstring>

namespace kora {

namespace {

struct CodeCacheEntry {
    int line;
    const char *funcname;
    const char *file;
    PyCodeObject *code;
};

// Code objects for traceback entries, made on first use and kept sorted by
// line for bisection. Capacity starts at 64 entries and grows by 64. The
// names are static strings (declarations and literals), so their addresses
// are the keys.
struct CodeCache {
    CodeCacheEntry *entries = nullptr;
    int count = 0;
    int capacity = 0;
} g_code_cache;

int code_cache_lower_bound(int line) {
    int lo = 0, hi = g_code_cache.count;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        if (g_code_cache.entries[mid].line < line)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

PyCodeObject *code_for(const char *funcname, int line, const char *file) {
    int pos = code_cache_lower_bound(line);
    for (int i = pos; i < g_code_cache.count && g_code_cache.entries[i].line == line; ++i) {
        const CodeCacheEntry &e = g_code_cache.entries[i];
        if (e.funcname == funcname && e.file == file) return reinterpret_cast<PyCodeObject *>(Py_NewRef(e.code));
    }
    PyCodeObject *code = PyCode_NewEmpty(file, funcname, line);
    if (!code) return nullptr;
    if (g_code_cache.count == g_code_cache.capacity) {
        int cap = g_code_cache.capacity + 64;
        void *grown = PyMem_Realloc(g_code_cache.entries, sizeof(CodeCacheEntry) * static_cast<std::size_t>(cap));
        if (!grown) return code;  // used once without being cached
        g_code_cache.entries = static_cast<CodeCacheEntry *>(grown);
        g_code_cache.capacity = cap;
    }
    std::memmove(&g_code_cache.entries[pos + 1], &g_code_cache.entries[pos],
                 sizeof(CodeCacheEntry) * static_cast<std::size_t>(g_code_cache.count - pos));
    g_code_cache.entries[pos] = CodeCacheEntry{line, funcname, file, code};
    ++g_code_cache.count;
    return reinterpret_cast<PyCodeObject *>(Py_NewRef(code));  // the table keeps one reference
}

}  // namespace

void add_traceback_in(const char *funcname, int line, const char *file) {
    PyObject *exc = PyErr_GetRaisedException();
    if (!exc) return;
    // New reference to the (usually cached) code object; null on failure.
    PyCodeObject *code = code_for(funcname, line, file);
    PyObject *globals = g_mod.dict;
    Ref scratch_globals;
    if (!globals) {
        scratch_globals = Ref::steal(PyDict_New());
        globals = scratch_globals.get();
    }
    if (code && globals) {
        PyFrameObject *frame = PyFrame_New(PyThreadState_Get(), code, globals, nullptr);
        if (frame) {
            PyErr_SetRaisedException(exc);
            PyTraceBack_Here(frame);
            exc = PyErr_GetRaisedException();
            Py_DECREF(frame);
        }
    }
    Py_XDECREF(code);
    // Whatever failed while making the entry must not replace the exception.
    PyErr_Clear();
    PyErr_SetRaisedException(exc);
}

void add_traceback(const char *funcname, int line) {
    add_traceback_in(funcname, line, g_mod.id ? g_mod.id->tb_file.data : "<unknown>");
}

}  // namespace kora
