"""Edge conditions that the tables of the other tests leave out: a dict key
whose comparison raises, an instance dict without a truth value, the largest
unsigned long through __int__, an object without number methods, -1.0 through
__float__, narrowing to single precision at every other place that does it, and
function attributes deleted."""
import contextlib
import math
import struct

import pytest

from calls import Cache, Int, Texture, krshader, raw_shader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr
from test_frame_args import Number

FLT_MAX = struct.unpack("<f", b"\xff\xff\x7f\x7f")[0]
ROUNDS_UP = 3.4028235677973366e38  # the least double that single precision rounds to infinity
RECT, POS, TINT = (0, 0, 4, 4), (1, 2), (1, 2, 3, 4)


class RaisingKey(str):
    """A dict key equal in hash to "x" whose comparison raises."""
    __hash__ = str.__hash__

    def __eq__(self, other):
        raise LookupError(other)


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


@pytest.mark.parametrize("call, result", [
    (lambda: kr.set_krshader_value_vec4_v(krshader(), 7, [{RaisingKey("x"): 1.0}]), LookupError),  # key lookup
    (lambda: StateOfNoTruth().__reduce__(), LookupError),  # the truth of the instance dict
    (lambda: rec_draw(tint=(Int(-1), 2, 3, 4)),  # -1.0 through __float__
     [("DrawTextureRec", (3, 64, 32, 1, 7), (0.0, 0.0, 4.0, 4.0), (1.0, 2.0), (255, 2, 3, 4))]),
    (lambda: rec_draw(tex(id=Number(2**64 - 1))), (OverflowError, "value too large to convert to unsigned int")),
    (lambda: rec_draw(tex(width=object())), (TypeError, "an integer is required")),
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


# The places that narrow a double to single precision (test_boundaries has the
# rotation, float and float-array ones), with x in the first float.
NARROWING = {
    "tuple": lambda x: kr.draw_texture_rec(tex(), (x, 0, 4, 4), POS, TINT),
    "uniform": lambda x: kr.set_shader_value(raw_shader(), 7, (x,), 0),
    "krshader uniform": lambda x: kr.set_krshader_value(krshader(), 7, (x,), 0),
    "uniform float": lambda x: kr.set_shader_value_float(raw_shader(), 7, x),
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


@pytest.mark.parametrize("attr, message", [
    ("__dict__", "__dict__ must be set to a dictionary"), ("__defaults__", None), ("__kwdefaults__", None),
    ("__annotations__", None),
])
def test_function_attribute_deleted(attr, message):
    before = getattr(kr.end_drawing, attr)
    with pytest.raises(TypeError, match=f"^{message}$") if message else contextlib.nullcontext():
        delattr(kr.end_drawing, attr)
    assert getattr(kr.end_drawing, attr) == before  # (None, None and a new empty dict; __dict__ refused)
