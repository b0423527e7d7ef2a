// koracache: the Cache type, 32 slots addressed by the `value` of CacheType
// members, with keyed access, clearing, copying and pickling.

#include "kora_ui/fast/koracache/cache_module.h"

#include "kora_ui/fast/common/constants.h"
#include "kora_ui/fast/common/convert.h"
#include "kora_ui/fast/common/function.h"
#include "kora_ui/fast/common/module.h"
#include "kora_ui/fast/common/native_exception.h"
#include "kora_ui/fast/common/tables.h"
#include "kora_ui/fast/common/traceback.h"
#include "koracache_constants.h"

namespace kora::koracache {

using namespace kora::generated;

PyTypeObject *g_cache_type = &CacheTypeObject;
PyObject *g_checksum = nullptr;

namespace {

CacheVTable g_vtable;

// The slot list, or null with TypeError while detached.
inline PyObject *slots_of(CacheObject *self) {
    PyObject *arr = self->cache_arr;
    if (arr == Py_None) [[unlikely]] {
        raise_not_subscriptable();
        return nullptr;
    }
    return arr;
}

// An index outside the slot list (negative, beyond 31, or past a restored
// shorter list) is refused before anything is read or written.
[[gnu::cold, gnu::noinline]] bool raise_slot_index(int idx) {
    PyErr_Format(PyExc_IndexError, "cache slot index %d out of range", idx);
    return false;
}

inline bool index_ok(PyObject *arr, int idx) {
    if (idx >= 0 && idx < PyList_GET_SIZE(arr)) [[likely]]
        return true;
    return raise_slot_index(idx);
}

// The slot list when `idx` is inside it; else null with the error and the
// traceback entry of the routine `Name` (at the caller's line).
template <Literal Name>
inline PyObject *slots_at(CacheObject *self, int idx, int line = __builtin_LINE()) {
    PyObject *arr = slots_of(self);
    if (arr && index_ok(arr, idx)) [[likely]]
        return arr;
    add_traceback(dotted<Name>, line);
    return nullptr;
}

PyObject *new_slot_list() {
    PyObject *list = PyList_New(kSlotCount);
    if (!list) return nullptr;
    for (Py_ssize_t i = 0; i < kSlotCount; ++i) PyList_SET_ITEM(list, i, Py_NewRef(Py_None));
    return list;
}

// Stores `value` in slot `idx` of `arr` (bounds already checked). The old
// content is released after the store, so its finaliser sees the new state.
void store_slot(PyObject *arr, Py_ssize_t idx, PyObject *value) {
    PyObject *old = PyList_GET_ITEM(arr, idx);
    PyList_SET_ITEM(arr, idx, Py_NewRef(value));
    Py_DECREF(old);
}

// enum.Enum's own `value` descriptor, whose getter returns the member's
// `_value_`; and that name.
PyObject *g_enum_value = nullptr;
PyObject *g_value_attr = nullptr;

int load_enum_value() {
    Ref cls = Ref::steal(reinterpret_cast<PyObject *>(import_type("enum", "Enum")));
    if (!cls) return -1;
    g_enum_value = _PyType_Lookup(reinterpret_cast<PyTypeObject *>(cls.get()), K(K_value));
    Py_XINCREF(g_enum_value);
    g_value_attr = PyUnicode_InternFromString("_value_");
    return g_value_attr ? 0 : -1;
}

// Reads `key.value` as a C int. For a member of an enumeration that keeps
// enum.Enum's `value` and the ordinary attribute lookup, that is the
// member's `_value_`, read without running the descriptor's Python code.
int slot_index(PyObject *key, int *idx) {
    PyTypeObject *tp = Py_TYPE(key);
    PyObject *name = K(K_value);
    if (tp->tp_getattro == PyObject_GenericGetAttr && g_enum_value && _PyType_Lookup(tp, name) == g_enum_value)
        name = g_value_attr;
    Ref v = Ref::steal(PyObject_GetAttr(key, name));
    if (!v) return -1;
    return to_int(v.get(), idx);
}

// ---------------------------------------------------------------------------
// C-level method table

PyObject *c_get(CacheObject *self, int type_idx) {
    PyObject *arr = slots_at<"Cache.c_get">(self, type_idx);
    return arr ? Py_NewRef(PyList_GET_ITEM(arr, type_idx)) : nullptr;
}

void c_set(CacheObject *self, int type_idx, PyObject *value) {
    if (PyObject *arr = slots_at<"Cache.c_set">(self, type_idx)) store_slot(arr, type_idx, value);
}

PyObject *c_get_or_set_val(CacheObject *self, int type_idx, PyObject *value) {
    PyObject *arr = slots_at<"Cache.c_get_or_set_val">(self, type_idx);
    if (arr && PyList_GET_ITEM(arr, type_idx) == Py_None) {
        store_slot(arr, type_idx, value);
        // Releasing the old None runs no code, but read the list again all the same.
        arr = slots_at<"Cache.c_get_or_set_val">(self, type_idx);
    }
    return arr ? Py_NewRef(PyList_GET_ITEM(arr, type_idx)) : nullptr;
}

PyObject *c_get_or_exec(CacheObject *self, int type_idx, PyObject *func) {
    constexpr Literal kName = "Cache.c_get_or_exec";
    PyObject *arr = slots_at<kName>(self, type_idx);
    if (!arr) return nullptr;
    PyObject *current = PyList_GET_ITEM(arr, type_idx);
    if (current != Py_None) return Py_NewRef(current);
    Ref result = Ref::steal(PyObject_CallNoArgs(func));
    if (!result) {
        add_traceback(dotted<kName>);
        return nullptr;
    }
    // `func` may have cleared, refilled or replaced the slot list: store into
    // whatever list is current now, unconditionally.
    if (!(arr = slots_at<kName>(self, type_idx))) return nullptr;
    store_slot(arr, type_idx, result.get());
    result.reset();
    arr = slots_at<kName>(self, type_idx);
    return arr ? Py_NewRef(PyList_GET_ITEM(arr, type_idx)) : nullptr;
}

void c_clear(CacheObject *self) {
    for (Py_ssize_t i = 0; i < kSlotCount; ++i) {
        PyObject *arr = slots_of(self);
        if (!arr) {
            add_traceback(dotted<"Cache.c_clear">);
            return;
        }
        if (i < PyList_GET_SIZE(arr)) store_slot(arr, i, Py_None);  // a shorter restored list has no slot i
    }
}

// Sets the flag of each item's slot; items outside 0..31 are ignored.
int mark_slots(PyObject *list, bool *flags) {
    if (list == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'NoneType' object is not iterable");
        return -1;
    }
    if (!PyList_CheckExact(list)) {
        raise_expected("list", list);
        return -1;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        // Held while reading `value`, which may run code that shrinks the list.
        Ref item = Ref::borrow(PyList_GET_ITEM(list, i));
        int idx;
        if (slot_index(item.get(), &idx) < 0) return -1;
        if (idx >= 0 && idx < kSlotCount) flags[idx] = true;
    }
    return 0;
}

void c_clear_selected(CacheObject *self, PyObject *blacklist, PyObject *whitelist) {
    bool black[kSlotCount] = {};
    bool white[kSlotCount] = {};
    if (mark_slots(blacklist, black) < 0 || mark_slots(whitelist, white) < 0) goto error;
    for (Py_ssize_t i = 0; i < kSlotCount; ++i) {
        if (black[i] || !white[i]) continue;
        PyObject *arr = slots_of(self);
        if (!arr) goto error;
        if (i < PyList_GET_SIZE(arr)) store_slot(arr, i, Py_None);
    }
    return;
error:
    add_traceback(dotted<"Cache.c_clear_selected">);
}

CacheObject *c_new() {
    auto *self = reinterpret_cast<CacheObject *>(CacheTypeObject.tp_alloc(&CacheTypeObject, 0));
    if (self) {
        self->vtab = &g_vtable;
        if ((self->cache_arr = new_slot_list())) return self;
        self->cache_arr = Py_NewRef(Py_None);
        Py_DECREF(self);
    }
    add_traceback(dotted<"Cache.new">);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Type slots

PyObject *cache_tp_new(PyTypeObject *type, PyObject *, PyObject *) {
    PyObject *o = type->tp_alloc(type, 0);
    if (!o) return nullptr;
    as_cache(o)->vtab = &g_vtable;
    as_cache(o)->cache_arr = Py_NewRef(Py_None);
    return o;
}

// Cache.__init__(): takes no arguments and gives the instance fresh slots.
PyObject *reset_slots(CacheObject *self) {
    PyObject *list = new_slot_list();
    if (!list) return nullptr;
    Py_SETREF(self->cache_arr, list);
    Py_RETURN_NONE;
}

constexpr auto d_init = method<reset_slots>(kModule, kCache, "__init__");

int cache_tp_init(PyObject *self, PyObject *args, PyObject *kwargs) {
    Ref r = Ref::steal(call_with_tuple(def_of<d_init>, self, args, kwargs));
    return r ? 0 : -1;
}

int cache_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(as_cache(self)->cache_arr);
    return 0;
}

int cache_clear(PyObject *self) {
    PyObject *old = as_cache(self)->cache_arr;
    as_cache(self)->cache_arr = Py_NewRef(Py_None);
    Py_XDECREF(old);
    return 0;
}

void cache_dealloc(PyObject *self) {
    PyObject_GC_UnTrack(self);
    Py_CLEAR(as_cache(self)->cache_arr);
    Py_TYPE(self)->tp_free(self);
}

PyObject *cache_type_global() { return lookup_global(K(K_CacheType)); }

// Item and attribute reads of a member's slot share their steps: CacheType,
// then `member` tests the key and gives the member (or null with an
// exception), then its slot through c_get; one traceback entry on failure.
template <Literal Name, class Member>
PyObject *read_member(PyObject *self, Member member) {
    Ref cache_type = Ref::steal(cache_type_global());
    Ref key;
    int idx;
    PyObject *r = nullptr;
    if (cache_type && (key = member(cache_type.get())) && slot_index(key.get(), &idx) == 0)
        r = c_get(as_cache(self), idx);
    if (!r) add_traceback(dotted<Name>);
    return r;
}

PyObject *getitem(PyObject *self, PyObject *key) {
    return read_member<"Cache.__getitem__">(self, [&](PyObject *cache_type) {
        int is = PyObject_IsInstance(key, cache_type);
        if (is == 0) PyErr_SetString(PyExc_TypeError, "The key for cache access must be of type CacheType");
        return is > 0 && slots_of(as_cache(self)) ? Ref::borrow(key) : Ref();
    });
}

PyObject *sq_getitem(PyObject *self, Py_ssize_t i) {
    Ref key = Ref::steal(PyLong_FromSsize_t(i));
    if (!key) return nullptr;
    return getitem(self, key.get());
}

// Attribute read of a member name: the content of that member's slot.
PyObject *member_attr(PyObject *self, PyObject *name) {
    return read_member<"Cache.__getattr__">(self, [&](PyObject *cache_type) {
        Ref members = Ref::steal(PyObject_GetAttr(cache_type, K(K___members__)));
        int has = members ? PySequence_Contains(members.get(), name) : -1;
        if (has == 0) {
            // The name is the exception's only argument, also when it is None
            // (PyErr_SetObject would raise an AttributeError without arguments).
            Ref error = Ref::steal(PyObject_CallOneArg(PyExc_AttributeError, name));
            if (error) PyErr_SetObject(PyExc_AttributeError, error.get());
        }
        return has > 0 && slots_of(as_cache(self)) ? Ref::steal(PyObject_GetItem(cache_type, name)) : Ref();
    });
}

// Built field by field, like the type records themselves.
PyMappingMethods cache_as_mapping = [] {
    PyMappingMethods m{};
    m.mp_subscript = getitem;
    return m;
}();
PySequenceMethods cache_as_sequence = [] {
    PySequenceMethods q{};
    q.sq_item = sq_getitem;
    return q;
}();

}  // namespace

PyTypeObject CacheTypeObject = [] {
    PyTypeObject t{};
    Py_SET_REFCNT(reinterpret_cast<PyObject *>(&t), 1);
    t.tp_name = "kora_ui.fast.koracache.koracache.Cache";
    t.tp_basicsize = sizeof(CacheObject);
    t.tp_dealloc = cache_dealloc;
    t.tp_as_sequence = &cache_as_sequence;
    t.tp_as_mapping = &cache_as_mapping;
    // Left to PyType_Ready (the generic lookup); see ready_cache_type.
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_traverse = cache_traverse;
    t.tp_clear = cache_clear;
    t.tp_init = cache_tp_init;
    t.tp_new = cache_tp_new;
    return t;
}();

namespace {

// ---------------------------------------------------------------------------
// Methods

PyObject *clear_selected(CacheObject *self, PyObject *blacklist_arg, PyObject *whitelist_arg) {
    Ref blacklist = Ref::borrow(blacklist_arg), whitelist = Ref::borrow(whitelist_arg);
    int truth = PyObject_IsTrue(blacklist.get());
    if (truth < 0) return nullptr;
    if (!truth && !(blacklist = Ref::steal(PyList_New(0)))) return nullptr;
    truth = PyObject_IsTrue(whitelist.get());
    if (truth < 0) return nullptr;
    if (!truth) {
        // Every member of CacheType, in definition order.
        Ref cache_type = Ref::steal(cache_type_global());
        if (!cache_type) return nullptr;
        Ref members = Ref::steal(PyObject_GetAttr(cache_type.get(), K(K___members__)));
        if (!members) return nullptr;
        Ref values = Ref::steal(PyObject_CallMethodNoArgs(members.get(), K(K_values)));
        if (!values) return nullptr;
        if (!(whitelist = Ref::steal(PySequence_List(values.get())))) return nullptr;
    }
    if (!PyList_CheckExact(blacklist.get())) {
        raise_expected("list", blacklist.get());
        return nullptr;
    }
    if (!PyList_CheckExact(whitelist.get())) {
        raise_expected("list", whitelist.get());
        return nullptr;
    }
    c_clear_selected(self, blacklist.get(), whitelist.get());
    return none_or_null();
}

PyObject *get(CacheObject *self, PyObject *type) {
    int idx;
    if (slot_index(type, &idx) < 0) return nullptr;
    return c_get(self, idx);
}

void set(CacheObject *self, PyObject *type, PyObject *value) {
    int idx;
    if (slot_index(type, &idx) == 0) c_set(self, idx, value);
}

PyObject *get_or_set_val(CacheObject *self, PyObject *type, PyObject *value) {
    int idx;
    if (slot_index(type, &idx) < 0) return nullptr;
    return c_get_or_set_val(self, idx, value);
}

PyObject *get_or_exec(CacheObject *self, PyObject *type, PyObject *func) {
    int idx;
    if (slot_index(type, &idx) < 0) return nullptr;
    return c_get_or_exec(self, idx, func);
}

PyObject *getattr(CacheObject *self, PyObject *name) { return member_attr(reinterpret_cast<PyObject *>(self), name); }

PyObject *copy(CacheObject *self) {
    Ref fresh = Ref::steal(PyObject_CallNoArgs(reinterpret_cast<PyObject *>(&CacheTypeObject)));
    if (!fresh) return nullptr;
    PyObject *arr = slots_of(self);
    if (!arr) return nullptr;
    PyObject *copied = PyList_GetSlice(arr, 0, PyList_GET_SIZE(arr));
    if (!copied) return nullptr;
    Py_SETREF(as_cache(fresh.get())->cache_arr, copied);
    return fresh.release();
}

// Through the instance, so a subclass's copy is used; memo is not needed
// because slot contents are shared, not copied.
PyObject *deepcopy(CacheObject *self, PyObject *) {
    return PyObject_CallMethodNoArgs(reinterpret_cast<PyObject *>(self), K(K_copy));
}

constexpr auto d_clear = method<c_clear>(kModule, kCache, "clear");
constexpr auto d_clear_selected =
    method<clear_selected>(kModule, kCache, "clear_selected", optional("blacklist"), optional("whitelist"));
constexpr auto d_get = method<get>(kModule, kCache, "get", not_none("type"));
constexpr auto d_set = method<set>(kModule, kCache, "set", arg("type"), arg("value"));
constexpr auto d_get_or_set_val = method<get_or_set_val>(kModule, kCache, "get_or_set_val", arg("type"), arg("value"));
constexpr auto d_get_or_exec = method<get_or_exec>(kModule, kCache, "get_or_exec", not_none("type"), not_none("func"));
constexpr auto d_copy = method<copy>(kModule, kCache, "copy");
constexpr auto d_deepcopy = method<deepcopy>(kModule, kCache, "__deepcopy__", arg("memo"));
constexpr auto d_getattr = method<getattr>(kModule, kCache, "__getattr__", exact("type", &g_str_type));

// The registration order of Cache's methods (after the pickling pair).
constexpr auto &kMethods = kRegistration<d_clear, d_clear_selected, d_get, d_set, d_get_or_set_val, d_get_or_exec,
                                         d_copy, d_deepcopy, d_getattr>;

// ---------------------------------------------------------------------------
// Module loading

// CacheType from kora_ui.core.enums: taken from an already imported module
// when it has the name, else imported with CacheType as the from-list.
int import_cache_type() {
    PyObject *modules = PyImport_GetModuleDict();
    PyObject *found = nullptr;
    if (PyDict_GetItemRef(modules, K(K_enums_module), &found) < 0) return -1;
    Ref module = Ref::steal(found);
    Ref value;
    if (module) {
        PyObject *v = nullptr;
        if (PyObject_GetOptionalAttr(module.get(), K(K_CacheType), &v) < 0) return -1;
        value = Ref::steal(v);
    }
    if (!value) {
        Ref fromlist = Ref::steal(PyTuple_Pack(1, K(K_CacheType)));
        if (!fromlist) return -1;
        module =
            Ref::steal(PyImport_ImportModuleLevelObject(K(K_enums_module), g_mod.dict, nullptr, fromlist.get(), 0));
        if (!module) return -1;
        PyObject *v = nullptr;
        if (PyObject_GetOptionalAttr(module.get(), K(K_CacheType), &v) < 0) {
            PyErr_Clear();
            v = nullptr;
        }
        value = Ref::steal(v);
        if (!value) {
            if (PyDict_GetItemRef(modules, K(K_enums_cachetype), &v) < 0) PyErr_Clear();
            value = Ref::steal(v);
        }
        if (!value) {
            PyErr_Format(PyExc_ImportError, "cannot import name %S", K(K_CacheType));
            return -1;
        }
    }
    return PyDict_SetItem(g_mod.dict, K(K_CacheType), value.get());
}

// The interpreter's own attribute hook for classes that define __getattr__:
// ordinary lookup first, then __getattr__ on AttributeError. Taken from a
// throwaway class because it has no public name. Using it (rather than a
// getattro of our own) keeps method calls on Cache instances on the
// interpreter's fast path, which only recognises this hook.
getattrofunc interpreter_getattr_hook() {
    Ref ns = Ref::steal(PyDict_New());
    if (!ns) return nullptr;
    if (PyDict_SetItemString(ns.get(), "__getattr__", reinterpret_cast<PyObject *>(&PyBaseObject_Type)) < 0)
        return nullptr;
    Ref cls = Ref::steal(
        PyObject_CallFunction(reinterpret_cast<PyObject *>(&PyType_Type), "s()O", "_getattr_probe", ns.get()));
    if (!cls) return nullptr;
    getattrofunc hook = reinterpret_cast<PyTypeObject *>(cls.get())->tp_getattro;
    if (!hook || hook == PyObject_GenericGetAttr) {
        PyErr_SetString(PyExc_RuntimeError, "no attribute hook for __getattr__");
        return nullptr;
    }
    return hook;
}

int ready_cache_type() {
    g_vtable.c_clear = c_clear;
    g_vtable.c_clear_selected = c_clear_selected;
    g_vtable.c_get = c_get;
    g_vtable.c_set = c_set;
    g_vtable.c_get_or_set_val = c_get_or_set_val;
    g_vtable.c_get_or_exec = c_get_or_exec;
    g_vtable.new_ = c_new;
    if (PyType_Ready(&CacheTypeObject) < 0) return -1;
    getattrofunc hook = interpreter_getattr_hook();
    if (!hook) return -1;
    CacheTypeObject.tp_getattro = hook;  // dispatches to Cache.__getattr__ (added below)
    PyType_Modified(&CacheTypeObject);
    if (publish_vtable(&CacheTypeObject, &g_vtable) < 0) return -1;
    return PyDict_SetItem(g_mod.dict, K(K_Cache), reinterpret_cast<PyObject *>(&CacheTypeObject));
}

int load() {
    if (!g_checksum && !(g_checksum = PyLong_FromLong(kChecksum))) return -1;
    if (!g_enum_value && load_enum_value() < 0) return -1;
    if (ready_cache_type() < 0 || install_pickling() < 0 || import_cache_type() < 0) return -1;
    return add_functions(CacheTypeObject.tp_dict, kMethods, &CacheTypeObject) < 0 ? -1 : add_unpickle();
}

}  // namespace
}  // namespace kora::koracache

PyMODINIT_FUNC PyInit_koracache(void) {
    return kora::define_module(&kora::koracache::kModule, kora::generated::kConstTable, kora::koracache::load);
}
