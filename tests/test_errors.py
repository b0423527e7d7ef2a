"""kora_raylib's failures, one table: each call raises exactly this error and
raylib sees nothing. Calls go through the Python functions and through the
exported C routines (the kora_capi_consumer test module); the parser's
generic checks of every parameter are in test_frame_args."""

import ctypes
from types import MappingProxyType, SimpleNamespace as NS

import pytest

import kora_capi_consumer as consumer
from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krrendertex.kr_render_tex import KrRenderTexture
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr
from calls import Cache
from conftest import fails
from test_draw import TEX, tex
from test_frame_args import Untrue
from test_shader import shader, shader_fn, v4

S4, P2, C3 = (0, 0, 1, 1), (0, 0), (1, 2, 3)
SH = shader("kr")
VEC2 = "kora_ui.fast.krvector2.krvector2.KrVector2"
KRSHADER = "kora_ui.fast.krshader.krshader.KrShader"
NOT_FLOAT = "must be real number, not {}"
NO_ATTR = "'{}' object has no attribute '{}'"
NEGATIVE = "can't convert negative value to {}"
C = consumer.call
OFFSET = 'can only concatenate str (not "float") to str'  # a position's x plus its offset


class BadVector(KrVector2):
    x = property(lambda self: "left")


class SumNotNumber(KrVector2):
    """x plus its offset gives a str."""
    x = property(lambda self: type("X", (), {"__add__": lambda x, offset: "sum"})())


class YRaises(KrVector2):
    @property
    def y(self):
        raise KeyError("no y")


def hinted(hint):
    """Iterates over one float; its length hint is `hint`, or raises it."""
    def length_hint(_):
        if isinstance(hint, Exception):
            raise hint
        return hint
    return type("Hinted", (), {"__iter__": lambda _: iter([1.0]), "__length_hint__": length_hint})()


class RaisingName(str):
    """A keyword name or dict key that cannot be compared."""

    __hash__ = str.__hash__

    def __eq__(self, other):
        raise ZeroDivisionError("no comparison")


class NoTruthCache(Cache):
    __dict__ = property(lambda self: Untrue())


def broken_iter():
    yield 1.0
    raise KeyError("stop")


def vectorcall(fn, args, kwnames, kwvalues):
    """fn called through PyObject_Vectorcall, which lets keyword names be any object."""
    call = ctypes.pythonapi.PyObject_Vectorcall
    call.restype = ctypes.py_object
    call.argtypes = [ctypes.py_object, ctypes.POINTER(ctypes.py_object), ctypes.c_size_t, ctypes.py_object]
    return call(fn, (ctypes.py_object * (len(args) + len(kwvalues)))(*args, *kwvalues), len(args), kwnames)


# op, arguments after (shader, loc), error, message: for both kinds of shader.
SETTERS = [
    ("value", ((1, "x", 3), 3), TypeError, NOT_FLOAT.format("str")),
    ("value", ((1, 2, 3, [4]), 1), TypeError, NOT_FLOAT.format("list")),
    ("value", (("x",), 4), TypeError, "an integer is required"),
    ("value", ((1, 2.5, None), -1), TypeError, "an integer is required"),
    ("value", ((2**64,), -1), OverflowError, "Python int too large to convert to C long"),
    ("value", ((float("nan"),), 4), ValueError, "cannot convert float NaN to integer"),
    ("value_vec2_tuple", (("a", 1),), TypeError, NOT_FLOAT.format("str")),
    ("value_vec4_tuple", (("s", 1, 2, 3),), TypeError, NOT_FLOAT.format("str")),
    ("value_vec2_krvec", (None,), AttributeError, NO_ATTR.format("NoneType", "x")),
    ("value_float", (2**1024,), OverflowError, "int too large to convert to float"),
]
SHADER_RECORDS = [  # a plain shader object's fields
    (NS(id=1, locs="1"), TypeError, "an integer is required"),
    (NS(locs=0), AttributeError, NO_ATTR.format("types.SimpleNamespace", "id")),
    (NS(id=1), AttributeError, NO_ATTR.format("types.SimpleNamespace", "locs")),
]
RAW_OPS = [("value", (0, (1.0,), 0)), ("value_vec2_tuple", (0, (1, 2))), ("value_vec4_tuple", (0, (1, 2, 3, 4))),
           ("value_vec2_krvec", (0, KrVector2())), ("value_float", (0, 1.0)), ("location", (None,))]
DEPTH = NS(id=5, width=1, height=2, mipmaps=0)  # without a format

def same_error(exc, message, calls):
    return {case: (call, exc, message) for case, call in calls.items()}


ERRORS = {
    # textures, through the three kinds of drawing call (ranges: test_boundaries)
    **same_error(TypeError, "an integer is required", {
        "texture mipmaps": lambda: kr.draw_texture_rec_ez(tex(mipmaps="1"), S4, P2),
        "texture format": lambda: kr.draw_texture_krvec(tex(format=None), KrVector2(), KrRect(), 0),
        "texture width without number methods": lambda: kr.draw_texture_rec(tex(width=object()), S4, P2, C3),
    }),
    **same_error(AttributeError, NO_ATTR.format("types.SimpleNamespace", "width"), {
        # a bad source as well: the texture is converted first
        "texture object": lambda: kr.draw_texture_pro(NS(id=1), None, S4, P2, 0, C3),
        "render texture": lambda: kr.begin_texture_mode(NS(id=4, texture=NS(id=1), depth=TEX)),
        "c krtexture texture": lambda: C("c_draw_krtexture_krvec", KrRenderTexture(NS(texture=NS(id=1))),
                                         KrVector2(), KrRect(), 0),
    }),
    "depth format": (lambda: kr.begin_texture_mode(NS(id=4, texture=TEX, depth=DEPTH)), AttributeError,
                     NO_ATTR.format("types.SimpleNamespace", "format")),
    **same_error(OverflowError, NEGATIVE.format("unsigned int"), {
        "render texture id": lambda: kr.begin_texture_mode(NS(id=-4, texture=TEX, depth=TEX)),
        "c pro texture": lambda: C("draw_texture_pro", NS(id=-1), S4, S4, P2, 0.0, C3, 0),
    }),
    # tuples, vectors and colours
    **same_error(TypeError, NOT_FLOAT.format("str"), {
        "source item": lambda: kr.draw_texture_rec(TEX, (0, 0, 1, "1"), P2, C3),
        "position item": lambda: kr.draw_texture_rec(TEX, S4, (1, "2"), C3),
        "vec_ez position": lambda: kr.draw_texture_vec_ez(TEX, ("x", 0), False),
        "c rec position": lambda: C("c_draw_texture_rec", TEX, S4, ("x", 0), C3),
        "c pro dest": lambda: C("c_draw_texture_pro", TEX, S4, (0, 0, 1, "h"), P2, 0.0, C3),
        "c vec colour": lambda: C("draw_texture_vec", TEX, P2, (1, "g", 3), 1, 0),
        "c background": lambda: C("clear_background", (1, "g", 3), 0),
        "c vec4 tuple": lambda: C("set_krshader_value_vec4_tuple", SH, 0, (1, 2, 3, "w"), 0),
        "c vec2 krvec": lambda: C("set_krshader_value_vec2_krvec", SH, 0, BadVector(), 0),
        "krvec offset sum": lambda: kr.draw_texture_krvec(TEX, SumNotNumber(), KrRect(), 0),
        "krvec_ez offset sum": lambda: kr.draw_texture_krvec_ez(TEX, SumNotNumber(), 0),
    }),
    **same_error(TypeError, NOT_FLOAT.format("list"), {
        "pro colour item": lambda: kr.draw_texture_pro(TEX, S4, S4, P2, 0, (1, 2, [3])),
        "c background item": lambda: C("c_clear_background", (1.5, 2, [])),
    }),
    "render texture without depth": (lambda: kr.begin_texture_mode(NS(id=4, texture=TEX)), AttributeError,
                                     NO_ATTR.format("types.SimpleNamespace", "depth")),
    "background item": (lambda: kr.clear_background((1, 2, 3, None)), TypeError, NOT_FLOAT.format("NoneType")),
    "c rec None": (lambda: C("draw_texture_rec", TEX, None, P2, C3, 0), TypeError,
                   "'NoneType' object is not subscriptable"),
    "krvec None position": (lambda: kr.draw_texture_krvec(TEX, None, KrRect(), False), AttributeError,
                            NO_ATTR.format("NoneType", "x")),
    "krvec None colour": (lambda: kr.draw_texture_krvec(TEX, KrVector2(), None, False), TypeError,
                          "a KrRect colour is required, not None"),
    "krvec y raises": (lambda: kr.draw_texture_krvec(TEX, YRaises(), KrRect(), False), KeyError, "'no y'"),
    "krvec type before texture": (lambda: kr.draw_texture_krvec(tex(id=-1), (0, 0), KrRect(), 0), TypeError,
                                  f"Argument 'position' has incorrect type (expected {VEC2}, got tuple)"),
    "c krvec": (lambda: C("c_draw_texture_krvec", TEX, BadVector(), KrRect(), 0), TypeError, OFFSET),
    "c krtexture holder": (lambda: C("c_draw_krtexture_krvec", KrRenderTexture(None), KrVector2(), KrRect(), 0),
                           AttributeError, NO_ATTR.format("NoneType", "texture")),
    "c vec texture": (lambda: C("c_draw_texture_vec", NS(id=1, width=2), P2, C3, 0), AttributeError,
                      NO_ATTR.format("types.SimpleNamespace", "height")),
    # keywords and numbers
    **same_error(ZeroDivisionError, "no comparison", {
        "keyword comparison": lambda: kr.draw_texture_rec(**{RaisingName("color"): C3}),
        "keyword comparison, filled": lambda: kr.draw_texture_rec(TEX, S4, P2, C3, **{RaisingName("color"): C3}),
        "dict key comparison": lambda: kr.set_krshader_value_vec4_v(SH, 5, [{RaisingName("x"): 1.0}]),
    }),
    "keyword not str": (lambda: vectorcall(kr.draw_texture_rec, (TEX, S4, P2), (1,), (C3,)), TypeError,
                        "draw_texture_rec() keywords must be strings"),
    "no-argument function, empty keyword names": (lambda: vectorcall(kr.end_drawing, (1,), (), ()), TypeError,
                                                  "end_drawing() takes no arguments (1 given)"),
    "int through __int__": (lambda: kr.begin_blend_mode(type("N", (), {"__int__": lambda s: "4"})()), TypeError,
                            "__int__ returned non-int (type str)"),
    # shaders
    **{f"{kind}-{op}-{i}": (lambda k=kind, o=op, a=args: shader_fn(k, o)(shader(k), 1, *a), exc, msg)
       for i, (op, args, exc, msg) in enumerate(SETTERS) for kind in ("raw", "kr")},
    **{f"raw shader {i}": (lambda b=bad: kr.set_shader_value(b, 0, (1.0,), 0), exc, msg)
       for i, (bad, exc, msg) in enumerate(SHADER_RECORDS)},
    **{f"raw shader {op}": (lambda o=op, a=args: shader_fn("raw", o)(NS(id=1), *a), AttributeError,
                            NO_ATTR.format("types.SimpleNamespace", "locs")) for op, args in RAW_OPS},
    **same_error(TypeError, "Argument 'value' has incorrect type (expected tuple, got list)", {
        "list before shader": lambda: kr.set_shader_value(object(), 1, [1], 0),
        "None krshader, list value": lambda: kr.set_krshader_value(None, 1, [1], 0),
    }),
    "krshader type": (lambda: kr.set_krshader_value_vec2_tuple(5, 1, [1]), TypeError,
                      f"Argument 'shader' has incorrect type (expected {KRSHADER}, got int)"),
    "vec4 items before shader": (lambda: kr.set_krshader_value_vec4_v(5, 1, [1]), TypeError,
                                 "Expected a mapping, got int"),
    **{f"{kind} location {i}": (lambda k=kind, n=name: shader_fn(k, "location")(shader(k), n), exc, msg)
       for kind in ("raw", "kr") for i, (name, exc, msg) in enumerate([
           (None, AttributeError, NO_ATTR.format("NoneType", "encode")),
           (b"u", TypeError, "Argument 'name' has incorrect type (expected str, got bytes)"),
           ("\ud800", UnicodeEncodeError,
            "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed")])},
    # the exported routine takes any object as the name; the function's parser admits only str
    "c location None": (lambda: C("get_krshader_location", SH, None, 0), AttributeError,
                        NO_ATTR.format("NoneType", "encode")),
    **{f"{kind} scalar setter unset": (lambda k=kind: unset("SetShaderValue", shader_fn(k, "value_float"), shader(k), 0,
                                                            1.0), RuntimeError,
                                       "raylib function SetShaderValue is not set; call init_raylib_pointers first")
       for kind in ("kr", "raw")},
    # uniform arrays
    **{f"array {i}": (lambda o=op, v=values: shader_fn("kr", o)(SH, 5, v), exc, msg) for i, (op, values, exc, msg) in
       enumerate([
           ("value_vec4_v", [(1, 2, 3, 4)], TypeError, "tuple indices must be integers or slices, not str"),
           ("value_vec4_v", [v4(1, 2, 3, 4), 1.0], TypeError, "Expected a mapping, got float"),
           ("value_vec4_v", [None], TypeError, "Expected a mapping, got NoneType"),
           ("value_vec4_v", [{"x": 1, "y": 2, "z": 3}], ValueError, "No value specified for struct attribute 'w'"),
           ("value_vec4_v", [{"x": "s", "y": 2, "z": 3}], ValueError, "No value specified for struct attribute 'w'"),
           ("value_vec4_v", [MappingProxyType({"y": 1})], ValueError, "No value specified for struct attribute 'x'"),
           ("value_vec4_v", [v4("s", 2, 3, 4)], TypeError, NOT_FLOAT.format("str")),
           ("value_vec4_v", None, TypeError, "'NoneType' object is not iterable"),
           ("value_float_v", 3.0, TypeError, "'float' object is not iterable"),
           ("value_float_v", [1.0, "a"], TypeError, NOT_FLOAT.format("str")),
           ("value_float_v", iter([1.0, "a"]), TypeError, NOT_FLOAT.format("str")),
           ("value_vec4_v", iter([v4(1, 2, 3, 4), 1.0]), TypeError, "Expected a mapping, got float"),
           ("value_float_v", broken_iter(), KeyError, "'stop'"),
           ("value_float_v", hinted(ZeroDivisionError("hint")), ZeroDivisionError, "hint")])},
    # and one of koracache's
    "cache dict without truth": (lambda: NoTruthCache().__reduce__(), ZeroDivisionError, "no truth"),
}


def unset(entry, fn, *args):
    """fn(*args) with the raylib entry `entry` unset (the test installs the recorder again)."""
    kr.init_raylib_pointers({entry: 0})
    return fn(*args)


@pytest.mark.parametrize("case", ERRORS)
def test_failure_raises_exactly_and_calls_nothing(rec, case):
    call, exc, message = ERRORS[case]
    try:
        assert type(fails(rec, exc, message, call).value) is exc
    finally:
        kr.init_raylib_pointers(rec.addresses())
