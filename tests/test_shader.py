"""Shader uniforms and locations, on plain shader objects and on KrShader,
checked on the exact values, types and counts the recording raylib receives."""

import collections
from types import MappingProxyType, SimpleNamespace as NS

import pytest

from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr
from conftest import fails
from recorder import f32
from test_draw import XInt  # a KrVector2 whose x is 3

SHADER = (9, 0x1000)


@pytest.fixture(params=["raw", "kr"])
def kind(request):
    return request.param


def shader_fn(kind, op):
    """kr.set_shader_<op> / kr.set_krshader_<op>; op "location" is the getter."""
    prefix = "get" if op == "location" else "set"
    return getattr(kr, f"{prefix}_{'krshader' if kind == 'kr' else 'shader'}_{op}")


def shader(kind):
    return KrShader(*SHADER) if kind == "kr" else NS(id=SHADER[0], locs=SHADER[1])


class XFails(KrVector2):
    reads = []
    x = property(lambda self: {}["x"])  # raises KeyError('x')
    y = property(lambda self: XFails.reads.append("y") or 0.0)


# --- SetShaderValue ---------------------------------------------------------

SETTERS = [  # set_shader_<op> and set_krshader_<op>, value, uniform type; only KrShader has value_int
    ("value", (1, 2), 1, [1.0, 2.0]),
    ("value", (0.1, 2, 3, 4, "never", "read"), 3, [f32(0.1), 2.0, 3.0, 4.0]),
    ("value", (1e39, -1e39, 2.5), 2, [float("inf"), float("-inf"), 2.5]),
    ("value", (1.5,), 3, [1.5, 0.0, 0.0, 0.0]),
    ("value", (), 0, [0.0]),
    ("value", (7,), 4, [7]),
    ("value", (7,), 7, [7, 0, 0, 0]),
    ("value", (1, 2, 3), 5, [1, 2]),
    ("value", (2**32 + 5, 2.9, -2.9, True, "never"), 7, [5, 2, -2, 1]),
    ("value", (-1, 2**31, 2**63 - 1, -2**63), 7, [-1, -2**31, -1, 0]),
    ("value", (9.7,), 12, [9]),
    ("value", (2**32 - 1,), 8, [2**32 - 1]),
    # the setters of one uniform type (narrowing to single precision: test_boundaries)
    ("value_vec2_tuple", (1, 2.5, "never"), 1, [1.0, 2.5]),
    ("value_vec4_tuple", (0.1, 2, 3, 1e39, "never"), 3, [f32(0.1), 2.0, 3.0, float("inf")]),
    ("value_vec2_krvec", KrVector2(10, 20.5), 1, [10.0, 20.5]),
    ("value_vec2_krvec", XInt(0.1, -7), 1, [3.0, -7.0]),
    ("value_float", 2, 0, [2.0]),
    *[("value_int", value, 4, [sent]) for value, sent in ((-7, -7), (2.9, 2), (True, 1), (2**31 - 1, 2**31 - 1))],
]


@pytest.mark.parametrize("kind, op, value, utype, expected", [
    (kind, *row) for row in SETTERS for kind in ("raw", "kr") if (kind, row[0]) != ("raw", "value_int")])
def test_setters_pack_floats_or_ints_by_uniform_type(rec, kind, op, value, utype, expected):
    """By position, then by keyword in reverse order; only set_*_value takes the uniform type."""
    setter, utypes = shader_fn(kind, op), ({"uniform_type": utype} if op == "value" else {})
    assert setter(shader(kind), 2, value, *utypes.values()) is None
    setter(**utypes, value=value, loc_index=-3, shader=shader(kind))
    assert rec.calls() == [("SetShaderValue", SHADER, loc, utype, expected) for loc in (2, -3)]


def test_krvector2_value_stops_at_the_first_failing_attribute(rec, kind):
    XFails.reads.clear()
    fails(rec, KeyError, "'x'", shader_fn(kind, "value_vec2_krvec"), shader(kind), 1, XFails())
    assert XFails.reads == []


# --- locations --------------------------------------------------------------

def test_locations_are_asked_of_raylib_every_time(rec, kind):
    rec.map_location("u_time", 4)
    rec.map_location("ab", 6)
    rec.map_location("é", 2**31 - 1)
    get = shader_fn(kind, "location")
    results = [get(shader(kind), "u_time"), get(shader(kind), name="u_time"), get(shader(kind), "unknown"),
               get(shader(kind), "ab\0cd"), get(shader(kind), "é")]
    assert results == [4, 4, -1, 6, 2**31 - 1]
    assert rec.calls() == [("GetShaderLocation", SHADER, n) for n in ("u_time", "u_time", "unknown", "ab", "é")]
    rec.reset()
    rec.set_location(-2**31)
    assert get(shader(kind), "") == -2**31 and rec.calls() == [("GetShaderLocation", SHADER, "")]


# --- SetShaderValueV --------------------------------------------------------

def v4(x, y, z, w, **extra):
    return {"x": x, "y": y, "z": z, "w": w, **extra}


def shrinking():
    """A list whose first item empties the list while it is converted."""
    values = [2.0, 3.0]
    values.insert(0, type("Shrinks", (), {"__float__": lambda _: values.clear() or 1.5})())
    return values


@pytest.mark.parametrize("op, values, utype, expected", [
    ("value_vec4_v", [v4(1, 2, 3, 4)], 3, [[1.0, 2.0, 3.0, 4.0]]),
    ("value_vec4_v", (v4(0.1, -1, 1e39, True, extra="s"), MappingProxyType(v4(5, 6, 7, 8))), 3,
     [[f32(0.1), -1.0, float("inf"), 1.0], [5.0, 6.0, 7.0, 8.0]]),
    ("value_vec4_v", (v4(i, i, i, i) for i in range(3)), 3, [[float(i)] * 4 for i in range(3)]),
    ("value_vec4_v", [collections.defaultdict(lambda: 9, x=1)], 3, [[1.0, 9.0, 9.0, 9.0]]),
    ("value_float_v", (0.5, 1, 2), 0, [[0.5], [1.0], [2.0]]),
    ("value_float_v", iter([0.1, True]), 0, [[f32(0.1)], [1.0]]),
    ("value_float_v", {0.25: "keys"}, 0, [[0.25]]),
    ("value_float_v", shrinking(), 0, [[1.5]]),
    *[(op, empty, None, []) for op in ("value_vec4_v", "value_float_v") for empty in ([], (), iter([]), {})],
])
def test_arrays_are_sent_in_one_call_with_their_count(rec, op, values, utype, expected):
    if not expected:  # no call at all, not even through an unset entry
        kr.init_raylib_pointers({"SetShaderValueV": 0})
    assert shader_fn("kr", op)(KrShader(*SHADER), 5, values) is None
    flat = [v for item in expected for v in item]
    assert rec.calls() == ([("SetShaderValueV", SHADER, 5, utype, len(expected), flat)] if expected else [])
