// Cross-module tables: peer types with their C-level method tables
// (`__pyx_vtable__`) and the export table of native routines (`__pyx_capi__`).
#pragma once

#include "kora_ui/fast/common/pyref.h"

#include <cstddef>

namespace kora {

// Imports `module_name`.`type_name`, checks its instance size against
// `expected_size` and takes its C-level method table. Both results live for
// the process.
int import_peer_type(const char *module_name, const char *type_name, Py_ssize_t expected_size, PyTypeObject **type_out,
                     void **vtable_out);

// Imports `module_name`.`type_name`, checked to be a type (new reference).
PyTypeObject *import_type(const char *module_name, const char *type_name);

// The C-level method table a type publishes under `__pyx_vtable__`.
int type_vtable(PyTypeObject *type, void **vtable_out);

// Checks the builtin `type` against the size this module was compiled with.
int check_builtin_type_size();

// Publishes `vtable` under `__pyx_vtable__` in the type's dict.
int publish_vtable(PyTypeObject *type, void *vtable);

// One row of a module's C-level export table `__pyx_capi__`.
struct CapiEntry {
    const char *name;
    void *function;
    const char *signature;
};

int publish_capi(const CapiEntry *entries, std::size_t count);

}  // namespace kora
