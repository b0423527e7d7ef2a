"""Shader uniforms and locations, on plain shader objects and on KrShader,
checked on the exact values, types and counts the recording raylib receives."""

import collections
import sys
from types import MappingProxyType, SimpleNamespace as NS

import pytest

from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr
from conftest import fails
from recorder import f32

SHADER = (9, 0x1000)


@pytest.fixture(params=["raw", "kr"])
def kind(request):
    return request.param


def fn(kind, op):
    """kr.set_shader_<op> / kr.set_krshader_<op>; op "location" is the getter."""
    prefix = "get" if op == "location" else "set"
    return getattr(kr, f"{prefix}_{'krshader' if kind == 'kr' else 'shader'}_{op}")


def shader(kind):
    return KrShader(*SHADER) if kind == "kr" else NS(id=SHADER[0], locs=SHADER[1])


class XInt(KrVector2):
    @property
    def x(self):
        return 3


class XFails(KrVector2):
    reads = []

    @property
    def x(self):
        raise KeyError("x")

    @property
    def y(self):
        XFails.reads.append("y")
        return 0.0


# --- SetShaderValue ---------------------------------------------------------

@pytest.mark.parametrize("value, utype, expected", [
    ((1, 2), 1, [1.0, 2.0]),
    ((0.1, 2, 3, 4, "never", "read"), 3, [f32(0.1), 2.0, 3.0, 4.0]),
    ((1e39, -1e39, 2.5), 2, [float("inf"), float("-inf"), 2.5]),
    ((1.5,), 3, [1.5, 0.0, 0.0, 0.0]),
    ((), 0, [0.0]),
    ((7,), 4, [7]),
    ((7,), 7, [7, 0, 0, 0]),
    ((1, 2, 3), 5, [1, 2]),
    ((2**32 + 5, 2.9, -2.9, True, "never"), 7, [5, 2, -2, 1]),
    ((-1, 2**31, 2**63 - 1, -2**63), 7, [-1, -2**31, -1, 0]),
    ((9.7,), 12, [9]),
    ((2**32 - 1,), 8, [2**32 - 1]),
])
def test_set_value_packs_floats_or_ints_by_uniform_type(rec, kind, value, utype, expected):
    assert fn(kind, "value")(shader(kind), 2, value, utype) is None
    fn(kind, "value")(uniform_type=utype, value=value, loc_index=-3, shader=shader(kind))
    assert rec.calls() == [("SetShaderValue", SHADER, loc, utype, expected) for loc in (2, -3)]


@pytest.mark.parametrize("op, value, utype, expected", [
    ("value_vec2_tuple", (1, 2.5, "never"), 1, [1.0, 2.5]),
    ("value_vec4_tuple", (0.1, 2, 3, 1e39, "never"), 3, [f32(0.1), 2.0, 3.0, float("inf")]),
    ("value_vec2_krvec", KrVector2(10, 20.5), 1, [10.0, 20.5]),
    ("value_vec2_krvec", XInt(0.1, -7), 1, [3.0, -7.0]),
    ("value_float", 2, 0, [2.0]),
    ("value_float", 0.1, 0, [f32(0.1)]),
    ("value_float", 1e39, 0, [float("inf")]),
])
def test_fixed_type_setters(rec, kind, op, value, utype, expected):
    fn(kind, op)(shader(kind), 4, value)
    assert rec.calls() == [("SetShaderValue", SHADER, 4, utype, expected)]


@pytest.mark.parametrize("value, expected", [(-7, [-7]), (2.9, [2]), (True, [1]), (2**31 - 1, [2**31 - 1])])
def test_krshader_int_setter(rec, value, expected):
    kr.set_krshader_value_int(KrShader(*SHADER), 1, value)
    assert rec.calls() == [("SetShaderValue", SHADER, 1, 4, expected)]


NONE_SUB = (TypeError, "'NoneType' object is not subscriptable")


@pytest.mark.parametrize("op, args, exc, msg", [
    ("value", ((1, "x", 3), 3), TypeError, None),
    ("value", ((1, 2, 3, [4]), 1), TypeError, None),
    ("value", (("x",), 4), TypeError, "an integer is required"),
    ("value", ((1, 2.5, None), -1), TypeError, "an integer is required"),
    ("value", ((2**64,), -1), OverflowError, None),
    ("value", ((float("nan"),), 4), ValueError, None),
    ("value", (None, 0), *NONE_SUB),
    ("value", (None, 4), *NONE_SUB),
    ("value", ((1,), "0"), TypeError, "an integer is required"),
    ("value_vec2_tuple", (None,), *NONE_SUB),
    ("value_vec2_tuple", (("a", 1),), TypeError, None),
    ("value_vec4_tuple", (None,), *NONE_SUB),
    ("value_vec4_tuple", (("s", 1, 2, 3),), TypeError, None),
    ("value_vec2_krvec", (None,), AttributeError, "'NoneType' object has no attribute 'x'"),
    ("value_vec2_krvec", ((1, 2),), TypeError, "Argument 'value' has incorrect type (expected kora_ui.fast.krvector2.krvector2.KrVector2, got tuple)"),
    ("value_float", ("1",), TypeError, None),
    ("value_float", (2**1024,), OverflowError, None),
])
def test_setter_failures_make_no_call(rec, kind, op, args, exc, msg):
    fails(rec, exc, msg, fn(kind, op), shader(kind), 1, *args)


def test_krvector2_value_stops_at_the_first_failing_attribute(rec, kind):
    XFails.reads.clear()
    fails(rec, KeyError, None, fn(kind, "value_vec2_krvec"), shader(kind), 1, XFails())
    assert XFails.reads == []


@pytest.mark.parametrize("bad, exc, msg", [
    (NS(id=-1, locs=0), OverflowError, "can't convert negative value to unsigned int"),
    (NS(id=2**32, locs=0), OverflowError, "value too large to convert to unsigned int"),
    (NS(id=1, locs=-1), OverflowError, "can't convert negative value to size_t"),
    (NS(id=1, locs=2**64), OverflowError, None),
    (NS(id=1, locs="1"), TypeError, "an integer is required"),
    (NS(locs=0), AttributeError, None),
    (NS(id=1), AttributeError, None),
])
@pytest.mark.parametrize("op, args", [
    ("value", (0, (1.0,), 0)), ("value_vec2_tuple", (0, (1, 2))), ("value_vec4_tuple", (0, (1, 2, 3, 4))),
    ("value_vec2_krvec", (0, KrVector2())), ("value_float", (0, 1.0)), ("location", (None,)),
])
def test_raw_shader_conversion_errors(rec, bad, exc, msg, op, args):
    fails(rec, exc, msg, fn("raw", op), bad, *args)


@pytest.mark.parametrize("op, args", [
    ("value", (1, (1.0,), 0)), ("location", ("u",)), ("value_vec2_krvec", (1, KrVector2())),
    ("value_vec2_tuple", (1, (1, 2))), ("value_vec4_tuple", (1, (1, 2, 3, 4))), ("value_vec4_v", (1, [])),
    ("value_float_v", (1, [1.0])), ("value_float", (1, 1.0)), ("value_int", (1, 1)),
])
def test_none_krshader_is_refused(rec, op, args):
    fails(rec, TypeError, None, fn("kr", op), None, *args)


@pytest.mark.parametrize("call, exc, msg", [
    (lambda: kr.set_shader_value(object(), 1, [1], 0), TypeError,
     "Argument 'value' has incorrect type (expected tuple, got list)"),
    (lambda: kr.set_krshader_value_vec2_tuple(5, 1, [1]), TypeError,
     "Argument 'shader' has incorrect type (expected kora_ui.fast.krshader.krshader.KrShader, got int)"),
    (lambda: kr.set_krshader_value(None, 1, [1], 0), TypeError,
     "Argument 'value' has incorrect type (expected tuple, got list)"),
    (lambda: kr.set_krshader_value_vec4_v(5, 1, [1]), TypeError, "Expected a mapping, got int"),
    (lambda: kr.set_krshader_value_int(5, 1, 2**31), OverflowError, "value too large to convert to int"),
    (lambda: kr.get_krshader_location(5, None), TypeError,
     "Argument 'shader' has incorrect type (expected kora_ui.fast.krshader.krshader.KrShader, got int)"),
])
def test_argument_check_order(rec, call, exc, msg):
    fails(rec, exc, msg, call)


# --- locations --------------------------------------------------------------

def test_locations_are_asked_of_raylib_every_time(rec, kind):
    rec.map_location("u_time", 4)
    rec.map_location("ab", 6)
    rec.map_location("é", 2**31 - 1)
    get = fn(kind, "location")
    results = [get(shader(kind), "u_time"), get(shader(kind), name="u_time"), get(shader(kind), "unknown"),
               get(shader(kind), "ab\0cd"), get(shader(kind), "é")]
    assert results == [4, 4, -1, 6, 2**31 - 1]
    assert rec.calls() == [("GetShaderLocation", SHADER, n) for n in ("u_time", "u_time", "unknown", "ab", "é")]
    rec.reset()
    rec.set_location(-2**31)
    assert get(shader(kind), "") == -2**31 and rec.calls() == [("GetShaderLocation", SHADER, "")]


@pytest.mark.parametrize("name, exc, msg", [
    (None, AttributeError, "'NoneType' object has no attribute 'encode'"),
    (b"u", TypeError, "Argument 'name' has incorrect type (expected str, got bytes)"),
    ("\ud800", UnicodeEncodeError, None),
])
def test_location_name_failures(rec, kind, name, exc, msg):
    fails(rec, exc, msg, fn(kind, "location"), shader(kind), name)


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
])
def test_arrays_are_sent_in_one_call_with_their_count(rec, op, values, utype, expected):
    fn("kr", op)(KrShader(*SHADER), 5, values)
    flat = [v for item in expected for v in item]
    assert rec.calls() == [("SetShaderValueV", SHADER, 5, utype, len(expected), flat)]


@pytest.mark.parametrize("op", ["value_vec4_v", "value_float_v"])
@pytest.mark.parametrize("values", [[], (), iter([]), {}])
def test_empty_arrays_make_no_call(rec, op, values):
    kr.init_raylib_pointers({"SetShaderValueV": 0})
    assert fn("kr", op)(KrShader(*SHADER), 5, values) is None
    assert rec.calls() == []


def hinted(hint):
    """Iterates over one float; its length hint is `hint`, or raises it."""
    def length_hint(_):
        if isinstance(hint, Exception):
            raise hint
        return hint
    return type("Hinted", (), {"__iter__": lambda _: iter([1.0]), "__length_hint__": length_hint})()


def broken_iter():
    yield 1.0
    raise KeyError("stop")


@pytest.mark.parametrize("op, values, exc, msg", [
    ("value_vec4_v", [(1, 2, 3, 4)], TypeError, "tuple indices must be integers or slices, not str"),
    ("value_vec4_v", [v4(1, 2, 3, 4), 1.0], TypeError, "Expected a mapping, got float"),
    ("value_vec4_v", [None], TypeError, "Expected a mapping, got NoneType"),
    ("value_vec4_v", [{"x": 1, "y": 2, "z": 3}], ValueError, "No value specified for struct attribute 'w'"),
    ("value_vec4_v", [{"x": "s", "y": 2, "z": 3}], ValueError, "No value specified for struct attribute 'w'"),
    ("value_vec4_v", [MappingProxyType({"y": 1})], ValueError, "No value specified for struct attribute 'x'"),
    ("value_vec4_v", [v4("s", 2, 3, 4)], TypeError, None),
    ("value_vec4_v", None, TypeError, "'NoneType' object is not iterable"),
    ("value_float_v", None, TypeError, "'NoneType' object is not iterable"),
    ("value_float_v", 3.0, TypeError, "'float' object is not iterable"),
    ("value_float_v", [1.0, "a"], TypeError, None),
    ("value_float_v", broken_iter(), KeyError, None),
    ("value_float_v", hinted(ZeroDivisionError()), ZeroDivisionError, None),
    ("value_float_v", hinted(sys.maxsize), RuntimeError, None),
    ("value_vec4_v", hinted(sys.maxsize), RuntimeError, None),
])
def test_array_conversion_failures_make_no_call(rec, op, values, exc, msg):
    fails(rec, exc, msg, fn("kr", op), KrShader(*SHADER), 5, values)
