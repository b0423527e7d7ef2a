// Traceback entries for native routines.
#pragma once

#include "kora_ui/fast/common/pyref.h"

namespace kora {

// Adds a traceback entry named `funcname` at `line` (by default the caller's
// line) of the module's source file to the pending exception, without
// disturbing it. `funcname` and `file` must be static strings: the entry's
// code object is cached under their addresses.
void add_traceback(const char *funcname, int line = __builtin_LINE());
void add_traceback_in(const char *funcname, int line, const char *file);

}  // namespace kora
