"""docs/api.md against the runtime: its examples run as doctests, every
message it quotes is raised exactly so by a call, its capsule signature list
is the export table, and the sibling-module example builds and works."""

import ctypes
import doctest
import importlib
import pickle
import re
import sysconfig
from types import SimpleNamespace

import pytest

from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache
from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr
from tooling import ROOT, SRC, run

TEXT = (ROOT / "docs" / "api.md").read_text()
TEX = SimpleNamespace(id=7, width=16, height=8, mipmaps=1, format=7)
SHADER = SimpleNamespace(id=3, locs=0)
RECT, POS, COL = (0, 0, 16, 8), (1, 2), (255, 255, 255)


def test_examples_run(rec):
    blocks = re.findall(r"```pycon\n(.*?)```", TEXT, re.S)
    assert len(blocks) == 2
    parser, runner = doctest.DocTestParser(), doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    for i, block in enumerate(blocks):
        names = {"raylib_addresses": rec.addresses(), "texture": TEX}
        runner.run(parser.get_doctest(block, names, f"api.md example {i + 1}", "docs/api.md", 0))
    assert runner.summarize(verbose=False).failed == 0
    assert [c[0] for c in rec.calls()] == ["BeginDrawing", "ClearBackground", "EndDrawing", "DrawTextureRec"]


def vectorcall(fn, args, kwnames, kwvalues):
    """fn called through PyObject_Vectorcall, which lets keyword names be any object."""
    call = ctypes.pythonapi.PyObject_Vectorcall
    call.restype = ctypes.py_object
    call.argtypes = [ctypes.py_object, ctypes.POINTER(ctypes.py_object), ctypes.c_size_t, ctypes.py_object]
    return call(fn, (ctypes.py_object * (len(args) + len(kwvalues)))(*args, *kwvalues), len(args), kwnames)


def unset_draw():
    kr.init_raylib_pointers({"DrawTextureRec": 0})
    kr.draw_texture_rec(TEX, RECT, POS, COL)


# Every message the document quotes, with a call that raises it.
CASES = {
    "TypeError: draw_texture_rec() takes exactly 4 positional arguments (5 given)":
        lambda mp: kr.draw_texture_rec(TEX, RECT, POS, COL, 1),
    "TypeError: draw_texture_rec() takes exactly 4 positional arguments (2 given)":
        lambda mp: kr.draw_texture_rec(TEX, RECT, color=COL),
    "TypeError: draw_texture_rec() got an unexpected keyword argument 'colour'":
        lambda mp: kr.draw_texture_rec(TEX, RECT, POS, colour=COL),
    "TypeError: draw_texture_rec() got multiple values for keyword argument 'texture'":
        lambda mp: kr.draw_texture_rec(TEX, RECT, POS, COL, texture=TEX),
    "TypeError: draw_texture_rec() keywords must be strings":
        lambda mp: vectorcall(kr.draw_texture_rec, (TEX, RECT, POS), (1,), (COL,)),
    "TypeError: end_drawing() takes no arguments (1 given)": lambda mp: kr.end_drawing(1),
    "TypeError: end_drawing() takes no keyword arguments": lambda mp: kr.end_drawing(x=1),
    "TypeError: an integer is required": lambda mp: kr.begin_blend_mode("1"),
    "OverflowError: value too large to convert to int": lambda mp: kr.begin_blend_mode(2**31),
    "TypeError: Argument 'color' has incorrect type (expected tuple, got list)":
        lambda mp: kr.draw_texture_rec(TEX, RECT, POS, list(COL)),
    "TypeError: Argument 'position' has incorrect type (expected kora_ui.fast.krvector2.krvector2.KrVector2, got tuple)":
        lambda mp: kr.draw_texture_krvec(TEX, POS, KrRect(), False),
    "TypeError: 'NoneType' object is not subscriptable": lambda mp: kr.draw_texture_rec(TEX, None, POS, COL),
    "AttributeError: 'NoneType' object has no attribute 'x'": lambda mp: kr.draw_texture_krvec(TEX, None, KrRect(), 0),
    "TypeError: Argument 'shader' must not be None": lambda mp: kr.set_krshader_value_float(None, 0, 1.0),
    "OverflowError: can't convert negative value to unsigned int":
        lambda mp: kr.draw_texture_rec(SimpleNamespace(**{**vars(TEX), "id": -1}), RECT, POS, COL),
    "OverflowError: value too large to convert to unsigned int":
        lambda mp: kr.draw_texture_rec(SimpleNamespace(**{**vars(TEX), "id": 2**32}), RECT, POS, COL),
    "RuntimeError: raylib function DrawTextureRec is not set; call init_raylib_pointers first": lambda mp: unset_draw(),
    "TypeError: 'NoneType' object is not iterable": lambda mp: kr.init_raylib_pointers(None),
    "OverflowError: can't convert negative value to size_t": lambda mp: kr.init_raylib_pointers({"EndDrawing": -1}),
    "NameError: name '_base_color_krvec_ez' is not defined":
        lambda mp: (mp.delattr(kr, "_base_color_krvec_ez"), kr.draw_texture_krvec_ez(TEX, KrVector2(), 0)),
    "TypeError: Cannot convert int to kora_ui.fast.krrect.krrect.KrRect":
        lambda mp: (mp.setattr(kr, "_base_color_krvec_ez", 3), kr.draw_texture_krvec_ez(TEX, KrVector2(), 0)),
    "AttributeError: 'NoneType' object has no attribute 'encode'": lambda mp: kr.get_shader_location(SHADER, None),
    "TypeError: Expected a mapping, got float": lambda mp: kr.set_krshader_value_vec4_v(KrShader(), 0, [1.0]),
    "ValueError: No value specified for struct attribute 'w'":
        lambda mp: kr.set_krshader_value_vec4_v(KrShader(), 0, [{"x": 1, "y": 2, "z": 3}]),
    "IndexError: cache slot index 40 out of range": lambda mp: koracache.Cache().get(SimpleNamespace(value=40)),
    "TypeError: Argument 'type' must not be None": lambda mp: koracache.Cache().get(None),
    "TypeError: The key for cache access must be of type CacheType": lambda mp: koracache.Cache()[0],
    "TypeError: Argument 'type' has incorrect type (expected str, got int)":
        lambda mp: koracache.Cache().__getattr__(1),
    "TypeError: Expected list, got tuple": lambda mp: koracache.Cache().clear_selected((CacheType.FONT,)),
    "pickle.PickleError: Incompatible checksums (0x0 vs (0xbd51cb4, 0xe95c4d5, 0xc883660) = (cache_arr))":
        lambda mp: koracache.__pyx_unpickle_Cache(koracache.Cache, 0, None),
    "TypeError: __init__() takes exactly 0 positional arguments (1 given)": lambda mp: koracache.Cache(1),
}


def quoted_messages():
    """`Error: message` spans of the document outside code blocks, and the
    argument messages (`name() ...`) of its calling table, which are TypeErrors."""
    prose = re.sub(r"```.*?```", "", TEXT, flags=re.S)
    found = set()
    for span in re.findall(r"`([^`]+)`", prose):
        span = " ".join(span.split())
        if re.fullmatch(r"[\w.]+(Error|Exception): .+", span):
            found.add(span)
        elif re.fullmatch(r"\w+\(\) (takes|got|keywords) .+", span):
            found.add(f"TypeError: {span}")
    return found


def test_every_quoted_message_has_a_case():
    assert quoted_messages() == set(CASES)


@pytest.mark.parametrize("message", CASES)
def test_quoted_message_is_raised(rec, monkeypatch, message):
    with pytest.raises(Exception) as info:
        CASES[message](monkeypatch)
    kind = type(info.value)
    name = "pickle.PickleError" if kind is pickle.PickleError else kind.__qualname__
    assert f"{name}: {info.value}" == message


def test_doc_lists_every_capsule_signature():
    name_of = ctypes.pythonapi.PyCapsule_GetName
    name_of.restype, name_of.argtypes = ctypes.c_char_p, [ctypes.py_object]
    block = re.search(r"```text\n(.*?)```", TEXT, re.S).group(1)
    documented = dict(line.split(None, 1) for line in block.splitlines())
    assert documented == {n: name_of(c).decode() for n, c in kr.__pyx_capi__.items()}


def test_doc_example_compiles(tmp_path, rec, monkeypatch):
    """docs/examples/sibling_module.cpp builds against the toolchain's Python
    headers and src/, imports (taking its routines by signature) and calls
    through the routines and the method table."""
    include = sysconfig.get_paths()["include"]
    target = tmp_path / f"sibling_module{sysconfig.get_config_var('EXT_SUFFIX')}"
    run("g++", "-std=c++20", "-shared", "-fPIC", "-Wall", "-Wextra", "-Werror",
        "-I", include, "-I", include.rpartition("/")[0], "-I", SRC,
        ROOT / "docs" / "examples" / "sibling_module.cpp", "-o", target)
    monkeypatch.syspath_prepend(tmp_path)
    sibling = importlib.import_module("sibling_module")

    assert sibling.blank() is None
    rec.map_location("u_time", 7)
    assert sibling.location(KrShader(5, 0x40), "u_time") == 7
    assert sibling.location(KrShader(5, 0x40), "u_other") == -1
    assert rec.calls() == [("ClearBackground", (0, 0, 0, 0)),
                           ("GetShaderLocation", (5, 0x40), "u_time"),
                           ("GetShaderLocation", (5, 0x40), "u_other")]
    with pytest.raises(AttributeError, match="encode"):
        sibling.location(KrShader(5, 0x40), None)
    cache = koracache.Cache()
    assert sibling.remember(cache, CacheType.FONT.value, "a") == "a"
    assert sibling.remember(cache, CacheType.FONT.value, "b") == "a"
    assert cache.FONT == "a"
