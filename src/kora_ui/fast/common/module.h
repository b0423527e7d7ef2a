// Module identity, per-process module state and module loading: the module
// definition, the create step and the shared parts of the exec step.
#pragma once

#include "kora_ui/fast/common/pyref.h"

#include "kora_ui/fast/common/names.h"

#include <cstdint>

namespace kora {

struct ConstTableDesc;

struct ModuleState {
    const ModuleIdentity *id = nullptr;
    PyObject *module = nullptr;    // the module singleton (owned)
    PyObject *dict = nullptr;      // its dict (borrowed from the module)
    PyObject *builtins = nullptr;  // the builtins module (owned)
    std::int64_t interp_id = -1;   // the one interpreter allowed to load us
    PyObject **consts = nullptr;   // expanded constants, never freed
    int n_consts = 0;
    bool consts_ready = false;
};

extern ModuleState g_mod;

// The module's definition for multi-phase initialisation, with the create
// step below. Its exec step runs the steps every module shares (the singleton
// test, `__builtins__`, the version check, the constant table `consts`, the
// shared function type, the registration in sys.modules), then the module's
// own `load` (0, or -1 with an exception set), then sets `__test__` to an
// empty dict. On failure it adds the "init <module>" traceback entry and
// forgets the module. Returns what PyInit_* returns.
PyObject *define_module(const ModuleIdentity *id, const ConstTableDesc &consts, int (*load)());

// Create step of multi-phase initialisation (Py_mod_create).
PyObject *module_create(PyObject *spec, PyModuleDef *def);

// Compares the running interpreter's major.minor with `major`.`minor` and
// warns (RuntimeWarning) on a mismatch. -1 when the warning became an error.
int check_python_version(int major, int minor);

// Looks `name` up in the module dict, then in the builtins; NameError
// "name '%U' is not defined" when it is in neither. New reference.
PyObject *lookup_global(PyObject *name);

}  // namespace kora
