// Native exception translation.
#pragma once

#include "kora_ui/fast/common/pyref.h"

namespace kora {

// Native exception translation: call inside a catch block.
void translate_native_exception() noexcept;

// Runs `f`, turning any native exception into a Python exception. Returns
// false when an exception was translated.
template <class F>
bool run_native(F &&f) noexcept {
    try {
        f();
        return true;
    } catch (...) {
        translate_native_exception();
        return false;
    }
}

}  // namespace kora
