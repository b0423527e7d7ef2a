"""Both ends of every range the modules check or narrow to: the C integer
types (on the inline path for exact small ints and on the general one), single
precision, colour channels, slot indices, uniform types, array reservations;
and the order of the checks made before a slot is read."""
import math
import os
import pickle
import struct
from types import SimpleNamespace as NS

import pytest

from kora_ui.fast.koracache import koracache as kc
from kora_ui.fast.koracache.koracache import Cache
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.raylib import kora_raylib as kr
from calls import CALLS, Int
from conftest import fails
from test_errors import hinted
from test_frame_args import Number, params

TEX = NS(id=3, width=64, height=32, mipmaps=1, format=7)
FLT_MAX = struct.unpack("<f", b"\xff\xff\x7f\x7f")[0]
ROUNDS_UP = 3.4028235677973366e38  # the least double that single precision rounds to infinity


# Items a tuple parameter needs and items it reads at most.
SIZES = {"source_rec": (4, 4), "dest_rec": (4, 4), "origin": (2, 2), "position": (2, 2), "color": (3, 4)}


def sizes(name, param):
    if param != "value":
        return SIZES[param]
    return (2, 2) if "vec2" in name else (4, 4) if "vec4" in name else (0, 4)


TUPLES = [(name, i, *sizes(name, p)) for name in sorted(CALLS) if not name.startswith(("Cache", "__"))
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


def blend(v, rec):
    kr.begin_blend_mode(v)
    return rec.calls()[-1][1]


def texture_id(v, rec):
    kr.draw_texture_rec_ez(NS(**dict(vars(TEX), id=v)), (0, 0, 1, 1), (0, 0))
    return rec.calls()[-1][1][0]


def texture_width(v, rec):
    kr.draw_texture_rec_ez(NS(**dict(vars(TEX), width=v)), (0, 0, 1, 1), (0, 0))
    return rec.calls()[-1][1][1]


def locs(v, rec):
    kr.begin_shader_mode(NS(id=1, locs=v))
    return rec.calls()[-1][1][1]


def checksum(v, rec):
    """The checksum read, as the refusal of one not accepted shows it."""
    with pytest.raises(pickle.PickleError) as info:
        kc.__pyx_unpickle_Cache(Cache, v, None)
    shown = str(info.value).split()[2].lstrip("(")  # "(0x1f", "(0x-1f"
    return int(shown.replace("-", ""), 16) * (-1 if "-" in shown else 1)


NEGATIVE = "can't convert negative value to {}"
TOO_LARGE = "value too large to convert to {}"
C_LONG, C_ULONG = (f"Python int too large to convert to C {t}" for t in ("long", "unsigned long"))
# site, lowest, highest, error below, error above, error for 2**64
RANGES = [
    (blend, -2**31, 2**31 - 1, TOO_LARGE.format("int"), TOO_LARGE.format("int"), C_LONG),
    (texture_id, 0, 2**32 - 1, NEGATIVE.format("unsigned int"), TOO_LARGE.format("unsigned int"), C_ULONG),
    (texture_width, -2**31, 2**31 - 1, TOO_LARGE.format("int"), TOO_LARGE.format("int"), C_LONG),
    (locs, 0, 2**64 - 1, NEGATIVE.format("size_t"), C_ULONG, C_ULONG),
    (checksum, -2**63, 2**63 - 1, C_LONG, C_LONG, C_LONG),
]


@pytest.mark.parametrize("make", [int, Int, Number], ids=["int", "subclass", "__int__"])
@pytest.mark.parametrize("site, low, high, below, above, far", RANGES, ids=[row[0].__name__ for row in RANGES])
def test_integer_ranges(rec, site, low, high, below, above, far, make):
    """-1 and 0 are compact: ints take the inline path there, other numbers
    the general one."""
    for value in (v for v in {low, high, 0, -1, 1, 2**30 - 1, 2**30} if low <= v <= high):
        assert site(make(value), rec) == value
    for value, message in ((low - 1, below), (high + 1, above), (2**64, far)):
        rec.reset()
        with pytest.raises(OverflowError) as info:
            site(make(value), rec)
        assert str(info.value) == message
        assert rec.calls() == []


@pytest.mark.parametrize("sign", [1, -1])
@pytest.mark.parametrize("value, expected", [
    (FLT_MAX, FLT_MAX), (math.nextafter(FLT_MAX, math.inf), FLT_MAX),
    (math.nextafter(ROUNDS_UP, 0), FLT_MAX), (ROUNDS_UP, math.inf), (1e308, math.inf), (math.inf, math.inf),
    (1.401298464324817e-45, 1.401298464324817e-45), (7e-46, 0.0),
])
def test_single_precision_narrowing(rec, sign, value, expected):
    kr.draw_texture_pro(TEX, (0, 0, 1, 1), (0, 0, 1, 1), (0, 0), sign * value, (0, 0, 0))
    kr.set_krshader_value_float(KrShader(1, 0), 0, sign * value)
    kr.set_krshader_value_float_v(KrShader(1, 0), 0, [sign * value])
    got = [rec.calls()[0][5], rec.calls()[1][4][0], rec.calls()[2][5][0]]
    assert got == [math.copysign(expected, sign)] * 3 and all(math.copysign(1, g) == sign for g in got)


@pytest.mark.parametrize("uniform_type, floats", [(0, True), (3, True), (4, False)])
def test_uniform_types_zero_to_three_are_floats(rec, uniform_type, floats):
    kr.set_shader_value(NS(id=1, locs=0), 2, (1.75,), uniform_type)
    assert rec.calls()[0][4][0] == (1.75 if floats else 1)


ARRAYS = [("set_krshader_value_float_v", 4, 1.0), ("set_krshader_value_vec4_v", 16, dict(x=1, y=2, z=3, w=4))]


@pytest.mark.parametrize("name, size, item", ARRAYS)
@pytest.mark.parametrize("beyond", [0, 1], ids=["largest", "beyond"])
def test_array_reservation_limits(rec, name, size, item, beyond):
    """Room for the largest array cannot be found (MemoryError); one element
    more is beyond the limit (RuntimeError)."""
    if not beyond and os.environ.get("KORA_BUILD_VARIANT") == "asan":
        pytest.skip("the sanitizer's operator new reports exhausted memory instead of throwing")
    largest = (2**63 - 1) // size
    exc = RuntimeError if beyond else MemoryError
    fails(rec, exc, "vector::reserve" if beyond else None, getattr(kr, name), KrShader(1, 0), 0,
          hinted(largest + beyond))
