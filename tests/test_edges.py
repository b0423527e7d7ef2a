"""Edge conditions of the shared function type and of the conversions: keyword
names whose comparison raises, values through __int__ and __float__ (a
legitimate -1, the limits), narrowing to single precision at every place that
does it, and function attributes set to a wrong type or deleted."""
import contextlib
import math
import struct

import pytest

from calls import Cache, Int, Texture, krshader, raw_shader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr

FLT_MAX = struct.unpack("<f", b"\xff\xff\x7f\x7f")[0]
ROUNDS_UP = 3.4028235677973366e38  # the least double that single precision rounds to infinity
RECT, POS, TINT = (0, 0, 4, 4), (1, 2), (1, 2, 3, 4)


class AsInt:
    def __init__(self, value):
        self.value = value

    def __int__(self):
        return self.value


class Name(str):
    """A keyword name whose comparison with any of `refused` raises."""
    __hash__ = str.__hash__

    def __eq__(self, other):
        if str(other) in self.refused:
            raise LookupError(other)
        return str.__eq__(self, other)


def name(text, *refused):
    key = Name(text)
    key.refused = refused
    return key


class Untrue:
    def __bool__(self):
        raise LookupError("truth")


class StateOfNoTruth(Cache):
    __dict__ = property(lambda self: Untrue())


def tex(id=3, width=64):
    return Texture(id, width, 32, 1, 7)


def flat(values):
    for v in values:
        yield from flat(v) if isinstance(v, (tuple, list)) else (v,)


def rec_draw(texture=None, tint=TINT):
    return kr.draw_texture_rec(texture or tex(), RECT, POS, tint)


def drawn(texture=(3, 64, 32, 1, 7), tint=TINT):
    return [("DrawTextureRec", texture, (0.0, 0.0, 4.0, 4.0), (1.0, 2.0), tint)]


@pytest.mark.parametrize("call, result", [
    (lambda: kr.begin_blend_mode(**{name("mode", "mode"): 1}), LookupError),  # among the parameters still open
    (lambda: kr.draw_texture_rec(tex(), **{name("other", "texture"): 1}), LookupError),  # among those by position
    (lambda: kr.set_krshader_value_vec4_v(krshader(), 7, [{name("x", "x"): 1.0}]), LookupError),  # key lookup
    (lambda: StateOfNoTruth().__reduce__(), LookupError),  # the truth of the instance dict
    (lambda: rec_draw(tex(width=AsInt(-1))), drawn((3, -1, 32, 1, 7))),  # -1, no error pending
    (lambda: kr.set_shader_value(raw_shader(), 7, (AsInt(-1),), 4), [("SetShaderValue", (5, 0), 7, 4, [-1])]),
    (lambda: rec_draw(tex(id=AsInt(2**32 - 1))), drawn((2**32 - 1, 64, 32, 1, 7))),
    (lambda: rec_draw(tint=(Int(-1), 2, 3, 4)), drawn(tint=(255, 2, 3, 4))),  # -1.0 through __float__
    (lambda: rec_draw(tex(id=AsInt(2**64 - 1))), (OverflowError, "value too large to convert to unsigned int")),
    (lambda: rec_draw(tex(width=2**40)), (OverflowError, "value too large to convert to int")),
    (lambda: rec_draw(tex(width=AsInt(2**40))), (OverflowError, "value too large to convert to int")),
    (lambda: rec_draw(tex(width=object())), (TypeError, "an integer is required")),
    (lambda: rec_draw(tex(width="64")), (TypeError, "an integer is required")),
])
def test_edge_values(rec, call, result):
    if isinstance(result, list):
        call()
        assert rec.calls() == result
        return
    exc, message = result if isinstance(result, tuple) else (result, None)
    with pytest.raises(exc, match=message and f"^{message}$"):
        call()
    assert rec.calls() == []


# Every place that narrows a double to single precision, with x in its first float.
NARROWING = {
    "tuple": lambda x: kr.draw_texture_rec(tex(), (x, 0, 4, 4), POS, TINT),
    "scalar": lambda x: kr.draw_texture_pro(tex(), RECT, RECT, POS, x, TINT),
    "uniform": lambda x: kr.set_shader_value(raw_shader(), 7, (x,), 0),
    "krshader uniform": lambda x: kr.set_krshader_value(krshader(), 7, (x,), 0),
    "uniform float": lambda x: kr.set_shader_value_float(raw_shader(), 7, x),
    "krshader float": lambda x: kr.set_krshader_value_float(krshader(), 7, x),
    "vec2": lambda x: kr.set_shader_value_vec2_tuple(raw_shader(), 7, (x, 1.0)),
    "vec4": lambda x: kr.set_krshader_value_vec4_tuple(krshader(), 7, (x, 1.0, 1.0, 1.0)),
    "vec4 array": lambda x: kr.set_krshader_value_vec4_v(krshader(), 7, [dict(x=x, y=1.0, z=1.0, w=1.0)]),
    "float array": lambda x: kr.set_krshader_value_float_v(krshader(), 7, [x]),
    "krvector2": lambda x: kr.set_shader_value_vec2_krvec(raw_shader(), 7, KrVector2(x, 2.0)),
}


@pytest.mark.parametrize("site", NARROWING)
@pytest.mark.parametrize("x, narrowed", [
    (math.nextafter(ROUNDS_UP, 0), FLT_MAX), (ROUNDS_UP, math.inf),
    (-math.nextafter(ROUNDS_UP, 0), -FLT_MAX), (-ROUNDS_UP, -math.inf), (-1.0, -1.0),  # (-1: no error pending)
])
def test_every_narrowing_rounds_like_single_precision(rec, site, x, narrowed):
    NARROWING[site](x)
    assert narrowed in flat(rec.calls()), rec.calls()


@pytest.mark.parametrize("attr, value, message", [
    ("__dict__", [], "__dict__ must be set to a dictionary"),
    ("__dict__", None, "__dict__ must be set to a dictionary"),  # (None: deleted)
    ("__defaults__", [], "__defaults__ must be set to a tuple object"),
    ("__kwdefaults__", (), "__kwdefaults__ must be set to a dict object"),
    ("__annotations__", (), "__annotations__ must be set to a dict object"),
    ("__defaults__", None, None), ("__kwdefaults__", None, None), ("__annotations__", None, None),  # deleted: unset
])
def test_function_attribute_of_a_wrong_type_is_refused_deleted_is_unset(attr, value, message):
    before = getattr(kr.end_drawing, attr)
    with pytest.raises(TypeError, match=f"^{message}$") if message else contextlib.nullcontext():
        setattr(kr.end_drawing, attr, value) if value is not None else delattr(kr.end_drawing, attr)
    assert getattr(kr.end_drawing, attr) == before  # (None, None and a new empty dict once deleted)
