"""Record conversions, frame/mode/background control and texture drawing of
kora_raylib, checked on the exact records the recording raylib receives."""

import builtins
import math
from fractions import Fraction
from types import SimpleNamespace as NS

import pytest

from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr
from calls import Int
from conftest import fails
from recorder import f32

TEX = NS(id=3, width=64, height=32, mipmaps=1, format=7)
T5 = (3, 64, 32, 1, 7)
WHOLE, FLIPPED = (0.0, 0.0, 64.0, 32.0), (0.0, 0.0, 64.0, -32.0)
WHITE = (255, 255, 255, 255)
INF = math.inf
KRRECT = "kora_ui.fast.krrect.krrect.KrRect"


def tex(**fields):
    return NS(**{**vars(TEX), **fields})


def offset(x, y):
    """Where raylib is asked to draw at KrVector2(x, y): each coordinate 0.01 further."""
    return f32(x + 0.01), f32(y + 0.01)


class Probe:
    """Logs every attribute fetched and every integer conversion of its value."""

    def __init__(self, log, **values):
        self._log, self._values = log, values

    def __getattr__(self, name):
        self._log.append(("get", name))
        if name not in self._values:
            raise AttributeError(name)
        convert = lambda _, log=self._log, v=self._values[name]: log.append(("int", name)) or v  # noqa: E731
        return type("Logged", (), {"__int__": convert})()


# --- textures -------------------------------------------------------------

@pytest.mark.parametrize("texture, flip, texture5, source", [
    *[(TEX, flip, T5, WHOLE) for flip in (None, 0, [], False)],
    *[(TEX, flip, T5, FLIPPED) for flip in (1, [0], "x", True)],
    (tex(id=2**32 - 1, width=7.9, height=-2**31, mipmaps=True, format=Fraction(-7, 2)), True,
     (2**32 - 1, 7, -2**31, 1, -3), (0.0, 0.0, 7.0, 2.0**31)),
    (tex(width=2**31 - 1, height=-5), False, (3, 2**31 - 1, -5, 1, 7), (0.0, 0.0, 2.0**31, -5.0)),
], ids=[*(f"flip {f!r}" for f in (None, 0, [], False, 1, [0], "x", True)), "texture extremes", "texture width max"])
def test_whole_texture_source_flip_and_texture_record(rec, texture, flip, texture5, source):
    # flip is a truth value; the _ez variants draw in white; a coordinate that comes to -1 is no error.
    kr.draw_texture_vec_ez(texture, (0, 0), flip)
    kr.draw_texture_krvec_ez(texture, KrVector2(-1.01, 2), flip)
    kr.draw_texture_vec(texture, (1, 2), (1, 2, 3), flip)
    assert rec.calls() == [("DrawTextureRec", texture5, source, (0.0, 0.0), WHITE),
                           ("DrawTextureRec", texture5, source, (-1.0, f32(2.01)), WHITE),
                           ("DrawTextureRec", texture5, source, (1.0, 2.0), (1, 2, 3, 255))]


def test_texture_attributes_are_read_and_converted_one_at_a_time(rec):
    log = []
    fails(rec, AttributeError, "format", kr.draw_texture_rec_ez,
          Probe(log, id=1, width=2, height=3, mipmaps=4), (0, 0, 1, 1), (0, 0))
    names = ["id", "width", "height", "mipmaps"]
    assert log == [(step, n) for n in names for step in ("get", "int")] + [("get", "format")]


# --- colours (tuple lengths and single precision: test_boundaries) ----------

@pytest.mark.parametrize("color, expected", [
    ((300, -1, 256), (44, 255, 0, 255)),
    ((0.9, 1.9, 2.9, 255.9), (0, 1, 2, 255)),
    ((-0.9, -1.5, -255.5, -256), (0, 255, 1, 0)),
    ((math.nan, INF, -INF), (0, 0, 0, 255)),
    ((2**31, -(2**31) - 1, 2**40 + 7, 1e20), (0, 255, 7, 0)),
    ((True, Fraction(2587, 10), 2**31 - 1, Int(-1)), (1, 2, 255, 255)),  # Int(-1): -1.0 through __float__
    # both ends of the int range the channels are narrowed through
    ((2**31 - 1, 2**31, 2**31 + 255, -2**31), (255, 0, 255, 0)),
    ((-2**31 - 1, 255.99, -0.99, math.nextafter(-1.0, 0)), (255, 255, 0, 0)),
    ((2147483647.9, 2147483648.0, -2147483648.9, -2147483649.0), (255, 0, 0, 255)),
])
def test_colour_channels(rec, color, expected):
    kr.clear_background(color)
    kr.draw_texture_rec(TEX, (0, 0, 1, 1), (0, 0), color)
    assert [c[-1] for c in rec.calls()] == [expected, expected]


# --- KrVector2 positions and KrRect colours ---------------------------------

class XInt(KrVector2):
    x = property(lambda self: 3)


class Tint(KrRect):
    """A KrRect subclass: a colour too."""


@pytest.mark.parametrize("position, color, pos, col", [
    (KrVector2(10, 20.5), KrRect(255.9, 128, 0, 255), offset(10, 20.5), (255, 128, 0, 255)),
    (KrVector2(-0.01, 0), KrRect(1, 2, 3, 4), (0.0, f32(0.01)), (1, 2, 3, 4)),
    (KrVector2(1e39, -1e39), KrRect(256, 300, -1, 0.5), (INF, -INF), (0, 44, 255, 0)),
    (XInt(0, 7), Tint(-1e39, math.nan, 511, 1e10), offset(3, 7), (0, 0, 255, 0)),
])
def test_krvec_position_is_offset_and_krrect_is_a_colour(rec, position, color, pos, col):
    kr.draw_texture_krvec(TEX, position, color, False)
    kr.draw_texture_krvec(texture=TEX, flip=True, color=color, position=position)
    assert rec.calls() == [("DrawTextureRec", T5, source, pos, col) for source in (WHOLE, FLIPPED)]


KRVEC_EZ = [  # where the colour is, its value, the error or the colour drawn
    ("module", Tint(0, 0, 0, 128), None, (0, 0, 0, 128)),
    ("builtins", KrRect(5, 6, 7, 8), None, (5, 6, 7, 8)),  # found there once the module has none
    ("nowhere", None, NameError, "name '_base_color_krvec_ez' is not defined"),
    ("failing builtins", None, ZeroDivisionError, "division by zero"),  # the builtins module's __getattr__ raises
    ("module", None, TypeError, "a KrRect colour is required, not None"),
    ("module", 3, TypeError, f"Cannot convert int to {KRRECT}"),
    ("module", (255, 255, 255), TypeError, f"Cannot convert tuple to {KRRECT}"),
    ("module", KrVector2(), TypeError, f"Cannot convert kora_ui.fast.krvector2.krvector2.KrVector2 to {KRRECT}"),
]


@pytest.mark.parametrize("where, value, exc, msg", KRVEC_EZ)
def test_krvec_ez_looks_the_module_colour_up_at_each_call(rec, monkeypatch, where, value, exc, msg):
    monkeypatch.delattr(kr, "_base_color_krvec_ez")
    if where == "failing builtins":
        monkeypatch.setattr(builtins, "__getattr__", lambda name: 1 / 0, raising=False)
    elif where != "nowhere":
        monkeypatch.setattr(builtins if where == "builtins" else kr, "_base_color_krvec_ez", value, raising=False)
    if exc:
        fails(rec, exc, msg, kr.draw_texture_krvec_ez, TEX, KrVector2(), False)
        return
    kr.draw_texture_krvec_ez(TEX, KrVector2(5, 6), True)
    assert rec.calls() == [("DrawTextureRec", T5, FLIPPED, offset(5, 6), msg)]


# --- frame, modes, background and the other drawing calls -------------------

def test_calls_pass_their_records(rec):
    depth = NS(id=5, width=64, height=32, mipmaps=0, format=19)
    kr.begin_drawing()
    kr.begin_texture_mode(NS(id=4, texture=TEX, depth=depth))
    kr.begin_blend_mode(1)
    kr.begin_blend_mode(mode=-2.9)
    kr.begin_shader_mode(NS(id=5, locs=0))
    kr.begin_shader_mode(shader=NS(id=2**32 - 1, locs=2**64 - 1))
    kr.clear_background(color=(10, 20, 30))
    kr.draw_texture_pro(TEX, (1, 2, 3, 4), (5.5, 6, 7, 8), (0.3, -1), Fraction(1, 10), (1, 2, 3))
    kr.draw_texture_rec_ez(TEX, (1, 2, 3, 4), (5, 6))
    for end in (kr.end_shader_mode, kr.end_blend_mode, kr.end_texture_mode, kr.end_drawing):
        assert end() is None
    assert rec.calls() == [
        ("BeginDrawing",), ("BeginTextureMode", (4, T5, (5, 64, 32, 0, 19))),
        ("BeginBlendMode", 1), ("BeginBlendMode", -2),
        ("BeginShaderMode", (5, 0)), ("BeginShaderMode", (2**32 - 1, 2**64 - 1)),
        ("ClearBackground", (10, 20, 30, 255)),
        ("DrawTexturePro", T5, (1.0, 2.0, 3.0, 4.0), (5.5, 6.0, 7.0, 8.0), (f32(0.3), -1.0), f32(0.1), (1, 2, 3, 255)),
        ("DrawTextureRec", T5, (1.0, 2.0, 3.0, 4.0), (5.0, 6.0), WHITE),
        ("EndShaderMode",), ("EndBlendMode",), ("EndTextureMode",), ("EndDrawing",),
    ]
