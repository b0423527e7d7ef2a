// Internal to koracache: what the module's source files share.
#pragma once

#include "kora_ui/fast/koracache/koracache.h"

#include "kora_ui/fast/common/function.h"
#include "kora_ui/fast/common/names.h"

namespace kora::koracache {

KORA_MODULE_IDENTITY("kora_ui.fast.koracache.koracache");

// The layout checksums of Cache's pickles: all are accepted, the first is
// written (198515892).
inline constexpr long kChecksums[] = {0xBD51CB4, 0xE95C4D5, 0xC883660};
inline constexpr long kChecksum = kChecksums[0];

extern PyTypeObject CacheTypeObject;
extern PyTypeObject *g_cache_type;  // &CacheTypeObject, for the declarations' instance checks
extern PyObject *g_checksum;        // kChecksum as an int

inline constexpr Owner kCache{"Cache", &g_cache_type};

inline CacheObject *as_cache(PyObject *o) { return reinterpret_cast<CacheObject *>(o); }

// Adds __reduce__ and __setstate__ to Cache; -1 on failure.
int install_pickling();

// Adds __pyx_unpickle_Cache to the module; -1 on failure.
int add_unpickle();

}  // namespace kora::koracache
