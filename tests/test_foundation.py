"""The stand-in peer types, CacheType and the raylib call recorder."""

import ctypes
import gc
import math
import sys
import types
import weakref

import pytest

from kora_ui.core.enums import CacheType
from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krrendertex.kr_render_tex import KrRenderTexture
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from recorder import (
    Color, ExactBuffer, Rectangle, RenderTexture2D, Shader, Texture2D, Vector2, f32,
)

_capi = ctypes.pythonapi
_capi.PyCapsule_GetName.restype = ctypes.c_char_p
_capi.PyCapsule_GetName.argtypes = [ctypes.py_object]
_capi.PyCapsule_GetPointer.restype = ctypes.c_void_p
_capi.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]

HEAD = ctypes.sizeof(ctypes.c_ssize_t) + ctypes.sizeof(ctypes.c_void_p)  # PyObject_HEAD


def vtable(tp):
    return _capi.PyCapsule_GetPointer(tp.__dict__["__pyx_vtable__"], None)


def slot(tp, index, restype, *argtypes):
    """Entry index of tp's method table, callable with the GIL held."""
    address = ctypes.c_void_p.from_address(vtable(tp) + index * ctypes.sizeof(ctypes.c_void_p))
    return ctypes.PYFUNCTYPE(restype, *argtypes)(address.value)


def field(obj, offset, ctype):
    return ctype.from_address(id(obj) + offset).value


@pytest.mark.parametrize("tp, module, basicsize, slots", [
    (KrVector2, "kora_ui.fast.krvector2.krvector2", 40, 16),
    (KrShader, "kora_ui.fast.krshader.krshader", 40, 1),
    (KrRect, "kora_ui.fast.krrect.krrect", 40, 12),
    (KrRenderTexture, "kora_ui.fast.krrendertex.kr_render_tex", 48, 14),
])
def test_type_layout_and_vtable_capsule(tp, module, basicsize, slots):
    assert (tp.__module__, tp.__basicsize__) == (module, basicsize)
    capsule = tp.__dict__["__pyx_vtable__"]
    assert type(capsule).__name__ == "PyCapsule"
    assert _capi.PyCapsule_GetName(capsule) is None
    table = (ctypes.c_void_p * slots).from_address(vtable(tp))
    assert all(table)
    for obj in (tp(), type("Sub", (tp,), {"__init__": lambda self: None})()):
        assert field(obj, HEAD, ctypes.c_void_p) == vtable(tp)


@pytest.mark.parametrize("make, fields", [
    (lambda: KrVector2(1.5, -2.25), [(24, ctypes.c_double, 1.5), (32, ctypes.c_double, -2.25)]),
    (lambda: KrRect(0.1, 2, -3, 4.5),
     [(24, ctypes.c_float, f32(0.1)), (28, ctypes.c_float, 2.0), (32, ctypes.c_float, -3.0),
      (36, ctypes.c_float, 4.5)]),
    (lambda: KrShader(7, 0xDEADBEEF0), [(24, ctypes.c_uint32, 7), (32, ctypes.c_void_p, 0xDEADBEEF0)]),
    (lambda: KrRenderTexture(None, None, 3), [(40, ctypes.c_int, 3)]),
])
def test_fields_sit_at_declared_offsets(make, fields):
    obj = make()
    assert [field(obj, off, ct) for off, ct, _ in fields] == [v for _, _, v in fields]


@pytest.mark.parametrize("tp, name, value, stored", [
    (KrVector2, "x", 0.1, 0.1),
    (KrVector2, "y", -3, -3.0),
    (KrRect, "x", 0.1, f32(0.1)),
    (KrRect, "h", 1e39, math.inf),
    (KrRect, "w", -1e39, -math.inf),
    (KrRect, "y", 3.4028235e38, f32(3.4028235e38)),
    (KrShader, "id", 2**32 - 1, 2**32 - 1),
    (KrShader, "locs", 2**64 - 1, 2**64 - 1),
    (KrRenderTexture, "loaded", 1, 1),
    (KrRenderTexture, "render_texture", "tex", "tex"),
])
def test_attributes_round_trip(tp, name, value, stored):
    obj = tp()
    setattr(obj, name, value)
    assert getattr(obj, name) == stored
    with pytest.raises((TypeError, AttributeError)):
        delattr(obj, name)


@pytest.mark.parametrize("tp, kwargs, error", [
    (KrShader, {"id": -1}, OverflowError),
    (KrShader, {"id": 2**32}, OverflowError),
    (KrShader, {"locs": 2**64}, OverflowError),
    (KrShader, {"locs": 1.0}, TypeError),
    (KrRect, {"w": "1"}, TypeError),
    (KrRenderTexture, {"size": (1, 2)}, TypeError),
])
def test_bad_arguments_are_rejected(tp, kwargs, error):
    with pytest.raises(error):
        tp(**kwargs)


class Box:
    pass


def test_render_texture_fields_and_cycles():
    size = KrVector2(3, 4)
    rt = KrRenderTexture("target", size)
    assert (rt.render_texture, rt.size, KrRenderTexture().size) == ("target", size, None)
    assert {id(o) for o in gc.get_referents(rt)} >= {id(size), id("target")}
    box = Box()
    box.rt, rt.render_texture = rt, box
    ref = weakref.ref(box)
    del rt, box
    gc.collect()
    assert ref() is None


@pytest.mark.parametrize("tp", [KrVector2, KrShader, KrRect, KrRenderTexture])
def test_subclasses_keep_base_behaviour(tp):
    class Sub(tp):
        def __init__(self, extra):
            super().__init__()
            self.extra = extra

    obj = Sub("more")
    assert isinstance(obj, tp) and obj.extra == "more"
    assert field(obj, HEAD, ctypes.c_void_p) == vtable(tp)


@pytest.mark.parametrize("tp, index, argtypes, args, result_type, expected", [
    (KrRect, 0, [ctypes.c_float] * 4, (1.5, -2, 0.1, 3), KrRect,
     {"x": 1.5, "y": -2.0, "w": f32(0.1), "h": 3.0}),
    (KrVector2, 0, [ctypes.c_double] * 2, (0.1, -7), KrVector2, {"x": 0.1, "y": -7.0}),
    (KrRenderTexture, 9, [ctypes.py_object], (KrRenderTexture(None, KrVector2(3.9, -2.5)),), KrRect,
     {"x": 0.0, "y": 0.0, "w": 3.0, "h": -2.0}),
    (KrRenderTexture, 13, [ctypes.py_object], ("target",), KrRenderTexture,
     {"render_texture": "target", "size": None, "loaded": 0}),
])
def test_allocating_vtable_slots(tp, index, argtypes, args, result_type, expected):
    result = slot(tp, index, ctypes.py_object, *argtypes)(*args)
    assert type(result) is result_type
    assert {name: getattr(result, name) for name in expected} == expected
    assert field(result, HEAD, ctypes.c_void_p) == vtable(result_type)


def test_c_get_texture_returns_new_reference_or_attribute_error():
    get_texture = slot(KrRenderTexture, 12, ctypes.py_object, ctypes.py_object)
    texture = object()
    rt = KrRenderTexture(types.SimpleNamespace(texture=texture))
    before = sys.getrefcount(texture)
    assert all(get_texture(rt) is texture for _ in range(100))
    assert sys.getrefcount(texture) == before
    for holder in (None, object()):
        with pytest.raises(AttributeError):
            get_texture(KrRenderTexture(holder))


def test_cache_type_values():
    values = [m.value for m in CacheType]
    assert len(CacheType.__members__) == len(values) >= 8
    assert all(type(v) is int and 0 <= v <= 31 for v in values)
    assert len(set(values)) == len(values) < 32 and {0, 31} <= set(values)
    method_names = {n for n in dir(dict) if not n.startswith("_")} | {"set", "delete", "remove", "reset", "add"}
    assert not {n.lower() for n in CacheType.__members__} & method_names


# Recorder: each stand-in logs exactly the by-value arguments it was given.

TEX = Texture2D(3, 64, 32, 1, 7)
SHADER = Shader(9, 0x1000)


@pytest.mark.parametrize("name, args, expected", [
    ("BeginDrawing", (), ()),
    ("BeginBlendMode", (2,), (2,)),
    ("ClearBackground", (Color(1, 2, 3, 255),), ((1, 2, 3, 255),)),
    ("DrawTextureRec", (TEX, Rectangle(0, 0, 64, 32), Vector2(10.01, -20.01), Color(255, 0, 0, 255)),
     ((3, 64, 32, 1, 7), (0.0, 0.0, 64.0, 32.0), (f32(10.01), f32(-20.01)), (255, 0, 0, 255))),
    ("DrawTexturePro", (TEX, Rectangle(1, 2, 3, 4), Rectangle(5, 6, 7, 8), Vector2(0.5, 0.25), 0.1,
                        Color(9, 8, 7, 6)),
     ((3, 64, 32, 1, 7), (1.0, 2.0, 3.0, 4.0), (5.0, 6.0, 7.0, 8.0), (0.5, 0.25), f32(0.1), (9, 8, 7, 6))),
    ("BeginTextureMode", (RenderTexture2D(4, TEX, Texture2D(5, 64, 32, 0, 19)),),
     ((4, (3, 64, 32, 1, 7), (5, 64, 32, 0, 19)),)),
    ("BeginShaderMode", (SHADER,), ((9, 0x1000),)),
])
def test_recorder_logs_by_value_arguments(recorder, name, args, expected):
    recorder.reset()
    recorder.function(name)(*args)
    assert recorder.calls() == [(name, *expected)]


@pytest.mark.parametrize("utype, ctype, values", [
    (0, ctypes.c_float, [0.1]),
    (3, ctypes.c_float, [1.0, -2.5, 3.0, 0.2]),
    (4, ctypes.c_int, [-7]),
    (7, ctypes.c_int, [1, 2, 3, -4]),
    (8, ctypes.c_uint, [2**32 - 1]),
    (11, ctypes.c_uint, [1, 2, 3, 4]),
    (12, ctypes.c_int, [5]),
    (13, ctypes.c_int, []),
    (-1, ctypes.c_int, []),
])
@pytest.mark.parametrize("count", [None, 1, 3, 0])
def test_recorder_reads_exactly_the_uniform_components(recorder, utype, ctype, values, count):
    recorder.reset()
    data = values * (1 if count is None else count)
    buf = ExactBuffer(ctype, data)
    expected = [f32(v) for v in data] if ctype is ctypes.c_float else data
    if count is None:
        recorder.function("SetShaderValue")(SHADER, 2, buf.address, utype)
        assert recorder.calls() == [("SetShaderValue", (9, 0x1000), 2, utype, expected)]
    else:
        recorder.function("SetShaderValueV")(SHADER, 2, buf.address, utype, count)
        assert recorder.calls() == [("SetShaderValueV", (9, 0x1000), 2, utype, count, expected)]


def test_recorder_null_uniform_pointer(recorder):
    recorder.reset()
    recorder.function("SetShaderValueV")(SHADER, 1, None, 2, 4)
    assert recorder.calls() == [("SetShaderValueV", (9, 0x1000), 1, 2, 4, None)]


def test_recorder_shader_locations(recorder):
    recorder.reset()
    get = recorder.function("GetShaderLocation")
    recorder.map_location("u_time", 4)
    assert [get(SHADER, b"u_time"), get(SHADER, b"a|b c")] == [4, -1]
    recorder.set_location(7)
    assert get(SHADER, b"other") == 7
    assert recorder.calls() == [("GetShaderLocation", (9, 0x1000), n) for n in ("u_time", "a|b c", "other")]
    recorder.reset()
    assert (recorder.count(), get(SHADER, b"u_time"), get(SHADER, None)) == (0, -1, -1)
    assert recorder.calls()[-1] == ("GetShaderLocation", (9, 0x1000), None)


def test_recorder_addresses(recorder):
    addresses = recorder.addresses()
    assert len(addresses) == 14 and len(set(addresses.values())) == 14 and all(addresses.values())
