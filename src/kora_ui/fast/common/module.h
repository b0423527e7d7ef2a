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

// The module's definition for multi-phase initialisation: the create step
// below and the module's own exec step. Returns what PyInit_* returns.
PyObject *define_module(const ModuleIdentity *id, int (*exec)(PyObject *module));

// Create step of multi-phase initialisation (Py_mod_create).
PyObject *module_create(PyObject *spec, PyModuleDef *def);

// First steps of the exec step, shared by every module: the singleton test,
// `__builtins__`, the version check, the constant table, the shared function
// type and the registration in sys.modules. Returns 1 when the module is
// already initialised (the exec step then succeeds at once), 0 to go on, -1 on
// failure (then call `module_exec_fail`).
int module_exec_begin(PyObject *module, const ConstTableDesc &consts);

// Last step of the exec step: sets `__test__` to an empty dict. Returns 0,
// or the failure path's -1.
int module_exec_end();

// Failure path of the exec step; always returns -1 with an exception set.
int module_exec_fail();

// Compares the running interpreter's major.minor with `major`.`minor` and
// warns (RuntimeWarning) on a mismatch. -1 when the warning became an error.
int check_python_version(int major, int minor);

// Looks `name` up in the module dict, then in the builtins; NameError
// "name '%U' is not defined" when it is in neither. New reference.
PyObject *lookup_global(PyObject *name);

}  // namespace kora
