// Traceback entries for native routines.
#pragma once

#include "kora_ui/fast/common/pyref.h"

namespace kora {

// Adds a traceback entry named `funcname` at `line` of the module's source
// file to the pending exception, without disturbing it.
void add_traceback(const char *funcname, int line);
void add_traceback_in(const char *funcname, int line, const char *file);

// Adds the entry for the enclosing routine at the current line.
#define KORA_TB(funcname) ::kora::add_traceback((funcname), __LINE__)

}  // namespace kora
