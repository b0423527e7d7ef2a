"""The stand-in peer types as kora_raylib relies on them, and CacheType."""

import ctypes
import sys
import types

import pytest

from kora_ui.core.enums import CacheType
from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krrendertex.kr_render_tex import KrRenderTexture
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from recorder import f32

capi = ctypes.pythonapi
capi.PyCapsule_GetName.restype = ctypes.c_char_p
capi.PyCapsule_GetName.argtypes = [ctypes.py_object]
capi.PyCapsule_GetPointer.restype = ctypes.c_void_p
capi.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]

HEAD = ctypes.sizeof(ctypes.c_ssize_t) + ctypes.sizeof(ctypes.c_void_p)  # PyObject_HEAD


def vtable(tp):
    return capi.PyCapsule_GetPointer(tp.__dict__["__pyx_vtable__"], None)


def slot(tp, index, restype, *argtypes):
    """Entry index of tp's method table, callable with the GIL held."""
    address = ctypes.c_void_p.from_address(vtable(tp) + index * ctypes.sizeof(ctypes.c_void_p))
    return ctypes.PYFUNCTYPE(restype, *argtypes)(address.value)


def vtable_of(obj):
    return ctypes.c_void_p.from_address(id(obj) + HEAD).value


@pytest.mark.parametrize("tp, module, basicsize, slots", [
    (KrVector2, "kora_ui.fast.krvector2.krvector2", 40, 16),
    (KrShader, "kora_ui.fast.krshader.krshader", 40, 1),
    (KrRect, "kora_ui.fast.krrect.krrect", 40, 12),
    (KrRenderTexture, "kora_ui.fast.krrendertex.kr_render_tex", 48, 14),
])
def test_type_layout_vtable_capsule_and_subclasses(tp, module, basicsize, slots):
    assert (tp.__module__, tp.__basicsize__) == (module, basicsize)
    capsule = tp.__dict__["__pyx_vtable__"]
    assert type(capsule).__name__ == "PyCapsule" and capi.PyCapsule_GetName(capsule) is None
    assert all((ctypes.c_void_p * slots).from_address(vtable(tp)))

    class Sub(tp):
        def __init__(self, extra):
            super().__init__()
            self.extra = extra

    obj = Sub("more")
    assert isinstance(obj, tp) and obj.extra == "more"
    assert vtable_of(tp()) == vtable_of(obj) == vtable(tp)


def test_krrect_new_slot():
    result = slot(KrRect, 0, ctypes.py_object, *[ctypes.c_float] * 4)(1.5, -2, 0.1, 3)
    assert type(result) is KrRect and vtable_of(result) == vtable(KrRect)
    assert (result.x, result.y, result.w, result.h) == (1.5, -2.0, f32(0.1), 3.0)


def test_c_get_texture_slot_returns_a_new_reference():
    """(Its AttributeError: the "c krtexture" rows of test_errors.)"""
    get_texture = slot(KrRenderTexture, 12, ctypes.py_object, ctypes.py_object)
    texture = object()
    rt = KrRenderTexture(types.SimpleNamespace(texture=texture))
    before = sys.getrefcount(texture)
    assert all(get_texture(rt) is texture for _ in range(100))
    assert sys.getrefcount(texture) == before


def test_cache_type_values():
    values = [m.value for m in CacheType]
    assert len(CacheType.__members__) == len(values) >= 8
    assert all(type(v) is int and 0 <= v <= 31 for v in values)
    assert len(set(values)) == len(values) < 32 and {0, 31} <= set(values)
    method_names = {n for n in dir(dict) if not n.startswith("_")} | {"set", "delete", "remove", "reset", "add"}
    assert not {n.lower() for n in CacheType.__members__} & method_names
