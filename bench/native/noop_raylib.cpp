// The raylib functions the call layer uses, generated from its entry list
// (KORA_RAYLIB_ENTRIES in kora_raylib.h) with raylib's exact signatures (a row
// that differs from raylib.h does not compile) and C linkage, doing nothing
// and returning a zero result: the benchmarks measure the cost of reaching
// them, not of drawing.
#include "kora_ui/fast/raylib/kora_raylib.h"
#include "raylib.h"

extern "C" {
#define KORA_NOOP_ENTRY(name, result, params) \
    result name params { return result(); }
KORA_RAYLIB_ENTRIES(KORA_NOOP_ENTRY)
#undef KORA_NOOP_ENTRY
}
