// The module's export table of native routines (`__pyx_capi__`).

#include "kora_ui/fast/common/tables.h"

#include "kora_ui/fast/common/module.h"

namespace kora {

int publish_capi(const CapiEntry *entries, std::size_t count) {
    PyObject *found = nullptr;
    if (PyDict_GetItemStringRef(g_mod.dict, "__pyx_capi__", &found) < 0) return -1;
    Ref table = Ref::steal(found);
    if (!table) {
        table = Ref::steal(PyDict_New());
        if (!table) return -1;
        if (PyDict_SetItemString(g_mod.dict, "__pyx_capi__", table.get()) < 0) return -1;
    }
    for (std::size_t i = 0; i < count; ++i) {
        Ref capsule = Ref::steal(PyCapsule_New(entries[i].function, entries[i].signature, nullptr));
        if (!capsule) return -1;
        if (PyDict_SetItemString(table.get(), entries[i].name, capsule.get()) < 0) return -1;
    }
    return 0;
}

}  // namespace kora
