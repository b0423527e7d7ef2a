"""Edge conditions of the shared function type and of the integer
conversions: keyword names whose comparison raises, values that convert
through __int__ (a legitimate -1, an unsigned overflow), and function
attributes set to a wrong type."""
import math
import struct

import pytest

from calls import Int, Texture, krshader, raw_shader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr


class AsInt:
    """Converts through __int__, the slow path of the integer conversions."""

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


def tex(id=3, width=64):
    return Texture(id, width, 32, 1, 7)


RECT, POS, TINT = (0, 0, 4, 4), (1, 2), (1, 2, 3, 4)
FLT_MAX = struct.unpack("<f", b"\xff\xff\x7f\x7f")[0]
ROUNDS_UP = 3.4028235677973366e38  # the least double that single precision rounds to infinity


def flat(values):
    for v in values:
        yield from flat(v) if isinstance(v, (tuple, list)) else (v,)


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
    assert narrowed in flat(rec.calls())


@pytest.mark.parametrize("width, error", [
    (object(), "an integer is required"), ("64", "an integer is required"),
    (2**40, "value too large to convert to int"), (AsInt(2**40), "value too large to convert to int"),
])
def test_integer_field_refused(rec, width, error):
    with pytest.raises((TypeError, OverflowError), match=f"^{error}$"):
        kr.draw_texture_rec(tex(width=width), RECT, POS, TINT)
    assert rec.calls() == []


def test_colour_channel_minus_one_through_float(rec):
    kr.draw_texture_rec(tex(), RECT, POS, (Int(-1), 2, 3, 4))
    assert rec.calls()[0][-1] == (255, 2, 3, 4)


@pytest.mark.parametrize("call", [
    lambda: kr.begin_blend_mode(**{name("mode", "mode"): 1}),  # among the parameters still open
    lambda: kr.draw_texture_rec(tex(), **{name("other", "texture"): 1}),  # among those given by position
], ids=["open", "positional"])
def test_keyword_comparison_that_raises_propagates(rec, call):
    with pytest.raises(LookupError):
        call()
    assert rec.calls() == []


@pytest.mark.parametrize("call, recorded", [
    (lambda: kr.draw_texture_rec(tex(width=AsInt(-1)), RECT, POS, TINT),
     ("DrawTextureRec", (3, -1, 32, 1, 7), (0.0, 0.0, 4.0, 4.0), (1.0, 2.0), TINT)),
    (lambda: kr.set_shader_value(raw_shader(), 7, (AsInt(-1),), 4), ("SetShaderValue", (5, 0), 7, 4, [-1])),
    (lambda: kr.draw_texture_rec(tex(id=AsInt(2**32 - 1)), RECT, POS, TINT),
     ("DrawTextureRec", (2**32 - 1, 64, 32, 1, 7), (0.0, 0.0, 4.0, 4.0), (1.0, 2.0), TINT)),
], ids=["int", "long", "uint"])
def test_minus_one_and_maximum_through_int_are_values(rec, call, recorded):
    call()
    assert rec.calls() == [recorded]


def test_unsigned_long_maximum_through_int_overflows_unsigned_int(rec):
    with pytest.raises(OverflowError, match=r"^value too large to convert to unsigned int$"):
        kr.draw_texture_rec(tex(id=AsInt(2**64 - 1)), RECT, POS, TINT)
    assert rec.calls() == []


@pytest.mark.parametrize("attr, value, message", [
    ("__dict__", [], "__dict__ must be set to a dictionary"),
    ("__dict__", None, "__dict__ must be set to a dictionary"),  # (None: deleted)
    ("__defaults__", [], "__defaults__ must be set to a tuple object"),
    ("__kwdefaults__", (), "__kwdefaults__ must be set to a dict object"),
    ("__annotations__", (), "__annotations__ must be set to a dict object"),
])
def test_function_attribute_of_a_wrong_type_is_refused(attr, value, message):
    before = getattr(kr.end_drawing, attr)
    with pytest.raises(TypeError, match=f"^{message}$"):
        setattr(kr.end_drawing, attr, value) if value is not None else delattr(kr.end_drawing, attr)
    assert getattr(kr.end_drawing, attr) is before


@pytest.mark.parametrize("attr", ["__defaults__", "__kwdefaults__", "__annotations__"])
def test_function_attribute_deleted_reads_as_unset(attr):
    before = getattr(kr.end_drawing, attr)
    delattr(kr.end_drawing, attr)
    assert getattr(kr.end_drawing, attr) == before  # (None, None and a new empty dict)
