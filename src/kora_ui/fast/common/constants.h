// A module's constant table: strings and bytes compressed at build time
// (see tools/gen_constants.py), expanded once when the module loads.
#pragma once

#include "kora_ui/fast/common/module.h"

#include <cstddef>
#include <cstdint>

namespace kora {

// The compressed constant text and how to cut it (see tools/gen_constants.py).
struct ConstTableDesc {
    const std::uint8_t *compressed;
    std::size_t compressed_len;
    std::size_t expanded_len;
    const std::uint16_t *lengths;
    int n_str;
    int n_uninterned;
    int n_bytes;
};

// Constant `i` of the module's table (a borrowed reference).
inline PyObject *K(int i) noexcept { return g_mod.consts[i]; }

// Expands a compressed constant table into `out` (n_str + n_bytes entries).
// RuntimeError "LZSS string data decompression failed" on a bad block.
int expand_constants(const ConstTableDesc &desc, PyObject **out);

// Expands the table into g_mod.consts once per process; -1 on failure.
int load_constants(const ConstTableDesc &consts);

}  // namespace kora
