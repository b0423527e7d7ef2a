// Module loading: the module definition, its create and exec steps with the
// checks every module makes, and the module-level lookups.

#include "kora_ui/fast/common/module.h"

#include "kora_ui/fast/common/constants.h"
#include "kora_ui/fast/common/function_object.h"
#include "kora_ui/fast/common/traceback.h"

#include <cstdio>

// The Python version the module is built for; a test build overrides it to
// exercise the mismatch warning.
#ifndef KORA_COMPILED_PY_MAJOR
#define KORA_COMPILED_PY_MAJOR PY_MAJOR_VERSION
#endif
#ifndef KORA_COMPILED_PY_MINOR
#define KORA_COMPILED_PY_MINOR PY_MINOR_VERSION
#endif

namespace kora {

ModuleState g_mod;

PyObject *module_create(PyObject *spec, PyModuleDef *) {
    std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1) return nullptr;
    if (g_mod.interp_id == -1) {
        g_mod.interp_id = current;
    } else if (current != g_mod.interp_id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one interpreter per "
                        "process.");
        return nullptr;
    }
    if (g_mod.module) {
        // The interpreter gives the module it is handed a fresh state block
        // (of one byte: the modules keep no state) and forgets the old one.
        PyMem_Free(PyModule_GetState(g_mod.module));
        return Py_NewRef(g_mod.module);
    }
    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) return nullptr;
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    if (!module) return nullptr;
    PyObject *dict = PyModule_GetDict(module.get());
    struct Copy {
        const char *from;
        const char *to;
        bool allow_none;
    };
    static const Copy copies[] = {
        {"loader", "__loader__", true},
        {"origin", "__file__", true},
        {"parent", "__package__", true},
        {"submodule_search_locations", "__path__", false},
    };
    for (const Copy &c : copies) {
        PyObject *value = nullptr;
        if (PyObject_GetOptionalAttrString(spec, c.from, &value) < 0) return nullptr;
        Ref v = Ref::steal(value);
        if (!v) continue;
        if (!c.allow_none && v.get() == Py_None) continue;
        if (PyDict_SetItemString(dict, c.to, v.get()) < 0) return nullptr;
    }
    return module.release();
}

namespace {

const ConstTableDesc *g_consts = nullptr;
int (*g_load)() = nullptr;

int module_exec(PyObject *module);

}  // namespace

PyObject *define_module(const ModuleIdentity *id, const ConstTableDesc &consts, int (*load)()) {
    // One module per shared library, so the definition lives in the frame.
    static PyModuleDef_Slot slots[] = {
        {Py_mod_create, reinterpret_cast<void *>(module_create)},
        {Py_mod_exec, nullptr},
        {0, nullptr},
    };
    static PyModuleDef def = {
        PyModuleDef_HEAD_INIT, nullptr, nullptr, 0, nullptr, slots, nullptr, nullptr, nullptr,
    };
    g_mod.id = id;
    g_consts = &consts;
    g_load = load;
    slots[1].value = reinterpret_cast<void *>(module_exec);
    def.m_name = id->short_name.data;
    return PyModuleDef_Init(&def);
}

int check_python_version(int major, int minor) {
    int rt_major = static_cast<int>((Py_Version >> 24) & 0xFF);
    int rt_minor = static_cast<int>((Py_Version >> 16) & 0xFF);
    if (rt_major == major && rt_minor == minor) return 0;
    char message[200];
    std::snprintf(message, sizeof message,
                  "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d", major, minor,
                  g_mod.id->full_name.data, "does not match", rt_major, rt_minor);
    return PyErr_WarnEx(PyExc_RuntimeWarning, message, 1);
}

namespace {

// The shared first steps: 1 when this module is already initialised (the
// exec step then succeeds at once), 0 to go on, -1 on failure.
int module_exec_begin(PyObject *module, const ConstTableDesc &consts) {
    if (g_mod.module) {
        if (g_mod.module == module) return 1;
        PyErr_Format(PyExc_RuntimeError, "Module '%s' has already been imported. Re-initialisation is not supported.",
                     g_mod.id->short_name.data);
        return -1;
    }
    g_mod.module = Py_NewRef(module);
    g_mod.dict = PyModule_GetDict(module);
    if (!g_mod.dict) return -1;
    if (!g_mod.builtins && !(g_mod.builtins = PyImport_ImportModule("builtins"))) return -1;
    if (PyDict_SetItemString(g_mod.dict, "__builtins__", g_mod.builtins) < 0) return -1;
    if (check_python_version(KORA_COMPILED_PY_MAJOR, KORA_COMPILED_PY_MINOR) < 0) return -1;
    if (load_constants(consts) < 0) return -1;
    if (obtain_function_type() < 0) return -1;
    PyObject *modules = PyImport_GetModuleDict();
    Ref full = Ref::steal(PyUnicode_FromString(g_mod.id->full_name.data));
    if (!full) return -1;
    int present = PyDict_Contains(modules, full.get());
    if (present < 0) return -1;
    if (!present && PyDict_SetItem(modules, full.get(), module) < 0) return -1;
    return 0;
}

int module_exec(PyObject *module) {
    int begun = module_exec_begin(module, *g_consts);
    if (begun == 1) return 0;
    if (begun == 0 && g_load() == 0) {
        Ref test = Ref::steal(PyDict_New());
        if (test && PyDict_SetItemString(g_mod.dict, "__test__", test.get()) == 0) return 0;
    }
    if (g_mod.dict && g_mod.consts_ready) add_traceback(g_mod.id->init_name.data, 0);
    Py_CLEAR(g_mod.module);
    g_mod.dict = nullptr;
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, g_mod.id->init_name.data);
    return -1;
}

}  // namespace

PyObject *lookup_global(PyObject *name) {
    PyObject *r = nullptr;
    int found = PyDict_GetItemRef(g_mod.dict, name, &r);
    if (found < 0) return nullptr;
    if (found) return r;
    if (PyObject_GetOptionalAttr(g_mod.builtins, name, &r) < 0) return nullptr;
    if (r) return r;
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return nullptr;
}

}  // namespace kora
