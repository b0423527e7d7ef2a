// The function-object API of the shared function type: making function
// objects from declarations and storing them in a module or type dict.
// Declarations: declaration.h; their entries: entry.h.
#pragma once

#include "kora_ui/fast/common/entry.h"

#include <span>

namespace kora {

// ---------------------------------------------------------------------------
// Function objects

// Interns the parameter names of `def` (once); -1 on failure.
int intern_names(const FuncDef *def);

// Makes the function object for `def` (new reference).
PyObject *make_function(const FuncDef *def);

// Makes the function object for `def` and stores it in `dict` under its bare
// name. For methods `dict` is the type's dict and the type is marked modified.
int add_function(PyObject *dict, const FuncDef *def, PyTypeObject *owner = nullptr);

// Adds the functions and attributes of a registration table, in order.
int add_functions(PyObject *dict, std::span<const RegistrationItem> table, PyTypeObject *owner = nullptr);

// Parses an argument tuple and keyword dict (tp_init and similar slots)
// against `def` and runs its routine; the result of the routine, or null
// with the function's traceback entry.
PyObject *call_with_tuple(const FuncDef *def, PyObject *self, PyObject *args, PyObject *kwargs);

// Builtin types for exact checks (addresses of the interpreter's own types).
inline constexpr PyTypeObject *g_tuple_type = &PyTuple_Type;
inline constexpr PyTypeObject *g_dict_type = &PyDict_Type;
inline constexpr PyTypeObject *g_str_type = &PyUnicode_Type;

}  // namespace kora
