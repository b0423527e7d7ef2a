"""Both ends of every range the modules check or narrow to: tuple lengths, the
C integer types (on the inline path for exact small ints and on the general
one), single precision at every place that narrows to it, colour channels,
uniform types, array reservations."""
import math
import os
import pickle
import struct
from types import SimpleNamespace as NS

import pytest

from kora_ui.fast.koracache import koracache as kc
from kora_ui.fast.koracache.koracache import Cache
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr
from calls import CALLS, Int, krshader, raw_shader
from conftest import fails
from recorder import f32
from test_draw import tex
from test_errors import hinted
from test_frame_args import RAYLIB, Number, params

FLT_MAX = struct.unpack("<f", b"\xff\xff\x7f\x7f")[0]
ROUNDS_UP = 3.4028235677973366e38  # the least double that single precision rounds to infinity


# Items a tuple parameter needs and items it reads at most.
SIZES = {"source_rec": (4, 4), "dest_rec": (4, 4), "origin": (2, 2), "position": (2, 2), "color": (3, 4)}


def sizes(name, param):
    if param != "value":
        return SIZES[param]
    return (2, 2) if "vec2" in name else (4, 4) if "vec4" in name else (0, 4)


TUPLES = [(name, i, *sizes(name, p)) for name in RAYLIB
          for i, p in enumerate(params(getattr(kr, name))) if type(CALLS[name].args()[0][i]) is tuple]


@pytest.mark.parametrize("name, index, need, reads, length", [
    (*row, length) for row in TUPLES for length in ("None", "short", "needed", "surplus")
    if row[2] or length != "short"])
def test_tuple_lengths(rec, name, index, need, reads, length):
    """None and one item short fail before raylib (a uniform array takes any
    length); items past the ones read are never looked at."""
    args = CALLS[name].args()[0]
    value = {"None": None, "short": (1.0,) * (need - 1), "needed": (1.0,) * need,
             "surplus": (1.0,) * reads + ("never read",)}
    call = lambda: getattr(kr, name)(*args[:index], value[length], *args[index + 1:])  # noqa: E731
    if length == "None":
        fails(rec, TypeError, "'NoneType' object is not subscriptable", call)
    elif length == "short":
        fails(rec, IndexError, "tuple index out of range", call)
    else:
        call()
        assert len(rec.calls()) == 1


# Every place that converts a value or narrows a double to single precision,
# with x where the value goes.
S4 = (0, 0, 1, 1)
FLOAT_SITES = {
    "rotation": lambda x: kr.draw_texture_pro(tex(), S4, S4, (0, 0), x, (0, 0, 0)),
    "tuple": lambda x: kr.draw_texture_rec(tex(), (x, 0, 4, 4), (1, 2), (1, 2, 3, 4)),
    "uniform": lambda x: kr.set_shader_value(raw_shader(), 7, (x,), 0),
    "uniform type 3": lambda x: kr.set_shader_value(raw_shader(), 7, (x,), 3),
    "krshader uniform": lambda x: kr.set_krshader_value(krshader(), 7, (x,), 0),
    "uniform float": lambda x: kr.set_shader_value_float(raw_shader(), 7, x),
    "krshader float": lambda x: kr.set_krshader_value_float(krshader(), 7, x),
    "vec2": lambda x: kr.set_shader_value_vec2_tuple(raw_shader(), 7, (x, 1.0)),
    "vec4": lambda x: kr.set_krshader_value_vec4_tuple(krshader(), 7, (x, 1.0, 1.0, 1.0)),
    "vec4 array": lambda x: kr.set_krshader_value_vec4_v(krshader(), 7, [dict(x=x, y=1.0, z=1.0, w=1.0)]),
    "float array": lambda x: kr.set_krshader_value_float_v(krshader(), 7, [x]),
    "krvector2": lambda x: kr.set_shader_value_vec2_krvec(raw_shader(), 7, KrVector2(x, 2.0)),
}
SITES = {
    **FLOAT_SITES,
    "blend mode": kr.begin_blend_mode,
    "texture id": lambda x: kr.draw_texture_rec_ez(tex(id=x), S4, (0, 0)),
    "texture width": lambda x: kr.draw_texture_rec_ez(tex(width=x), S4, (0, 0)),
    "locs": lambda x: kr.begin_shader_mode(NS(id=1, locs=x)),
    "checksum": lambda x: kc.__pyx_unpickle_Cache(Cache, x, None),
    "int uniform": lambda x: kr.set_shader_value(raw_shader(), 7, (x,), 4),  # types 4 and up are ints
}
MARK = 6  # a value found nowhere else in the calls


def flat(values):
    for v in values:
        yield from flat(v) if isinstance(v, (tuple, list)) else (v,)


def converted(rec, site, x):
    """What the site hands raylib for x: the values found where it hands MARK for MARK."""
    if site == "checksum":  # the checksum read, as the refusal of one not accepted shows it
        with pytest.raises(pickle.PickleError) as info:
            SITES[site](x)
        shown = str(info.value).split()[2].lstrip("(")  # "(0x1f", "(0x-1f"
        return [int(shown.replace("-", ""), 16) * (-1 if "-" in shown else 1)]
    rec.reset()
    SITES[site](MARK)
    SITES[site](x)
    marked, given = (list(flat(call)) for call in rec.calls())
    return [value for mark, value in zip(marked, given, strict=True) if mark == MARK]


NEGATIVE = "can't convert negative value to {}"
TOO_LARGE = "value too large to convert to {}"
C_LONG, C_ULONG = (f"Python int too large to convert to C {t}" for t in ("long", "unsigned long"))
# site, lowest, highest, error below, error above, error for 2**64
RANGES = [
    ("blend mode", -2**31, 2**31 - 1, TOO_LARGE.format("int"), TOO_LARGE.format("int"), C_LONG),
    ("texture id", 0, 2**32 - 1, NEGATIVE.format("unsigned int"), TOO_LARGE.format("unsigned int"), C_ULONG),
    ("texture width", -2**31, 2**31 - 1, TOO_LARGE.format("int"), TOO_LARGE.format("int"), C_LONG),
    ("locs", 0, 2**64 - 1, NEGATIVE.format("size_t"), C_ULONG, C_ULONG),
    ("checksum", -2**63, 2**63 - 1, C_LONG, C_LONG, C_LONG),
]


@pytest.mark.parametrize("make", [int, Int, Number], ids=["int", "subclass", "__int__"])
@pytest.mark.parametrize("site, low, high, below, above, far", RANGES, ids=[row[0] for row in RANGES])
def test_integer_ranges(rec, site, low, high, below, above, far, make):
    """-1 and 0 are compact: ints take the inline path there, other numbers
    the general one."""
    largest = 2**64 - 1  # an unsigned long's error value: it converts, then the range check refuses it
    for value in (v for v in {low, high, 0, -1, 1, 2**30 - 1, 2**30, largest} if low <= v <= high):
        assert converted(rec, site, make(value)) == [value]
    refused = [(low - 1, below), (high + 1, above), (2**64, far), (largest, above if far == C_ULONG else far)]
    for value, message in (r for r in refused if not low <= r[0] <= high):
        rec.reset()
        fails(rec, OverflowError, message, SITES[site], make(value))


NARROWED = [(sign * x, sign * narrowed) for sign in (1, -1) for x, narrowed in [
    (FLT_MAX, FLT_MAX), (math.nextafter(FLT_MAX, math.inf), FLT_MAX),
    (math.nextafter(ROUNDS_UP, 0), FLT_MAX), (ROUNDS_UP, math.inf), (1e308, math.inf), (math.inf, math.inf),
    (1.401298464324817e-45, 1.401298464324817e-45), (7e-46, 0.0),
    (1.0, 1.0),  # (-1.0: no error pending)
]] + [(0.1, f32(0.1)), (3, 3.0), (Number(-1.0), -1.0), (Int(2), 2.0)]


@pytest.mark.parametrize("site, x, expected", [(site, x, n) for site in FLOAT_SITES for x, n in NARROWED] + [
    ("blend mode", 2.9, 2), ("blend mode", -2.9, -2), ("blend mode", True, 1),
    ("int uniform", 1.75, 1),
])
def test_conversion_and_single_precision_narrowing(rec, site, x, expected):
    [got] = converted(rec, site, x)
    assert (got, math.copysign(1, got)) == (expected, math.copysign(1, expected))


@pytest.mark.parametrize("name, size", [("set_krshader_value_float_v", 4), ("set_krshader_value_vec4_v", 16)])
@pytest.mark.parametrize("beyond", [0, 1], ids=["largest", "beyond"])
def test_array_reservation_limits(rec, name, size, beyond):
    """Room for the largest array cannot be found (MemoryError); one element
    more is beyond the limit (RuntimeError)."""
    if not beyond and os.environ.get("KORA_BUILD_VARIANT") == "asan":
        pytest.skip("the sanitizer's operator new reports exhausted memory instead of throwing")
    largest = (2**63 - 1) // size
    exc = RuntimeError if beyond else MemoryError
    fails(rec, exc, "vector::reserve" if beyond else None, getattr(kr, name), KrShader(1, 0), 0,
          hinted(largest + beyond))
