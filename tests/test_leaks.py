"""Reference and memory balance of every function and method.

Each call is repeated many times, succeeding and failing; the interpreter's
total reference count (debug interpreter) and traced allocations must not grow.
"""
import gc
import sys
import tracemalloc
from types import SimpleNamespace

import pytest

from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache
from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr

TEX = SimpleNamespace(id=3, width=64, height=32, mipmaps=1, format=7)
RT = SimpleNamespace(id=9, texture=TEX, depth=TEX)
RAW_SHADER = SimpleNamespace(id=5, locs=0)
KRS = KrShader(5, 0)
M = CacheType.SHADER


def raylib_calls():
    """(name, callable) pairs: each succeeds, then a failing variant."""
    good = [
        ("begin_drawing", lambda: kr.begin_drawing()),
        ("end_drawing", lambda: kr.end_drawing()),
        ("begin_blend_mode", lambda: kr.begin_blend_mode(1)),
        ("end_blend_mode", lambda: kr.end_blend_mode()),
        ("begin_texture_mode", lambda: kr.begin_texture_mode(RT)),
        ("end_texture_mode", lambda: kr.end_texture_mode()),
        ("begin_shader_mode", lambda: kr.begin_shader_mode(RAW_SHADER)),
        ("end_shader_mode", lambda: kr.end_shader_mode()),
        ("clear_background", lambda: kr.clear_background((1, 2, 3))),
        ("draw_texture_rec", lambda: kr.draw_texture_rec(TEX, (0, 0, 4, 4), (1.5, 2), (1, 2, 3, 4))),
        ("draw_texture_rec kw", lambda: kr.draw_texture_rec(color=(1, 2, 3), position=(1, 2), source_rec=(0, 0, 1, 1), texture=TEX)),
        ("draw_texture_rec_ez", lambda: kr.draw_texture_rec_ez(TEX, (0, 0, 4, 4), (1, 2))),
        ("draw_texture_vec", lambda: kr.draw_texture_vec(TEX, (1, 2), (1, 2, 3), True)),
        ("draw_texture_vec_ez", lambda: kr.draw_texture_vec_ez(TEX, (1, 2), False)),
        ("draw_texture_krvec", lambda: kr.draw_texture_krvec(TEX, KrVector2(1, 2), KrRect(1, 2, 3, 4), 0)),
        ("draw_texture_krvec_ez", lambda: kr.draw_texture_krvec_ez(TEX, KrVector2(1, 2), None)),
        ("draw_texture_pro", lambda: kr.draw_texture_pro(TEX, (0, 0, 1, 1), (0, 0, 2, 2), (1, 1), 45, (1, 2, 3))),
        ("set_shader_value", lambda: kr.set_shader_value(RAW_SHADER, 1, (1, 2, 3, 4, 5), 3)),
        ("set_shader_value int", lambda: kr.set_shader_value(RAW_SHADER, 1, (2**40, 2), 5)),
        ("get_shader_location", lambda: kr.get_shader_location(RAW_SHADER, "tint")),
        ("set_shader_value_vec2_krvec", lambda: kr.set_shader_value_vec2_krvec(RAW_SHADER, 1, KrVector2(1, 2))),
        ("set_shader_value_vec2_tuple", lambda: kr.set_shader_value_vec2_tuple(RAW_SHADER, 1, (1, 2))),
        ("set_shader_value_vec4_tuple", lambda: kr.set_shader_value_vec4_tuple(RAW_SHADER, 1, (1, 2, 3, 4))),
        ("set_shader_value_float", lambda: kr.set_shader_value_float(RAW_SHADER, 1, 0.5)),
        ("set_krshader_value", lambda: kr.set_krshader_value(KRS, 1, (1, 2), 1)),
        ("get_krshader_location", lambda: kr.get_krshader_location(KRS, "tint")),
        ("set_krshader_value_vec2_krvec", lambda: kr.set_krshader_value_vec2_krvec(KRS, 1, KrVector2(1, 2))),
        ("set_krshader_value_vec2_tuple", lambda: kr.set_krshader_value_vec2_tuple(KRS, 1, (1, 2))),
        ("set_krshader_value_vec4_tuple", lambda: kr.set_krshader_value_vec4_tuple(KRS, 1, (1, 2, 3, 4))),
        ("set_krshader_value_vec4_v", lambda: kr.set_krshader_value_vec4_v(KRS, 1, [{"x": 1, "y": 2, "z": 3, "w": 4}] * 3)),
        ("set_krshader_value_vec4_v gen", lambda: kr.set_krshader_value_vec4_v(KRS, 1, (dict(x=1, y=2, z=3, w=i) for i in range(3)))),
        ("set_krshader_value_float_v", lambda: kr.set_krshader_value_float_v(KRS, 1, [0.5] * 16)),
        ("set_krshader_value_float", lambda: kr.set_krshader_value_float(KRS, 1, 2)),
        ("set_krshader_value_int", lambda: kr.set_krshader_value_int(KRS, 1, 7)),
    ]
    bad = [
        ("count", lambda: kr.draw_texture_rec(TEX, (0, 0, 1, 1))),
        ("keyword", lambda: kr.draw_texture_rec(TEX, (0, 0, 1, 1), (1, 2), colour=(1, 2, 3))),
        ("noargs", lambda: kr.end_drawing(1)),
        ("type", lambda: kr.clear_background([1, 2, 3])),
        ("item", lambda: kr.draw_texture_rec(TEX, (0, 0, "x", 1), (1, 2), (1, 2, 3))),
        ("attribute", lambda: kr.draw_texture_vec(object(), (1, 2), (1, 2, 3), False)),
        ("krvec none", lambda: kr.draw_texture_krvec(TEX, None, KrRect(), False)),
        ("int range", lambda: kr.begin_blend_mode(2**31)),
        ("render texture", lambda: kr.begin_texture_mode(SimpleNamespace(id=1, texture=TEX, depth=None))),
        ("shader none", lambda: kr.set_krshader_value_int(None, 1, 1)),
        ("vec4 key", lambda: kr.set_krshader_value_vec4_v(KRS, 1, [{"x": 1, "y": 2, "z": 3}])),
        ("vec4 mapping", lambda: kr.set_krshader_value_vec4_v(KRS, 1, [1.0])),
        ("float_v item", lambda: kr.set_krshader_value_float_v(KRS, 1, [1.0, "a"])),
        ("name none", lambda: kr.get_krshader_location(KRS, None)),
        ("item value", lambda: kr.set_shader_value(RAW_SHADER, 1, (1, "a"), 0)),
        ("pointers", lambda: kr.init_raylib_pointers({"BeginDrawing": -1})),
    ]
    return good, bad


def cache_calls():
    c = koracache.Cache()
    detached = koracache.Cache.__new__(koracache.Cache)
    big = [object() for _ in range(3)]

    def get_or_exec():
        c.clear()
        return c.get_or_exec(M, lambda: big[0])

    good = [
        ("get", lambda: c.get(M)),
        ("set", lambda: c.set(M, big[1])),
        ("get_or_set_val", lambda: c.get_or_set_val(CacheType.FONT, big[2])),
        ("get_or_exec", get_or_exec),
        ("getitem", lambda: c[M]),
        ("getattr", lambda: c.SHADER),
        ("clear_selected", lambda: c.clear_selected([CacheType.FONT], None)),
        ("copy", lambda: c.copy()),
        ("reduce", lambda: c.__reduce__()),
        ("setstate", lambda: koracache.Cache().__setstate__(([None] * 32, {}))),
        ("unpickle", lambda: koracache.__pyx_unpickle_Cache(koracache.Cache, 198515892, ([None] * 32,))),
        ("construct", lambda: koracache.Cache()),
    ]
    bad = [
        ("detached", lambda: detached.get(M)),
        ("none key", lambda: c.get(None)),
        ("range", lambda: c.set(SimpleNamespace(value=32), 1)),
        ("subscript", lambda: c[3]),
        ("attr", lambda: c.nothing_here),
        ("exec raises", lambda: koracache.Cache().get_or_exec(M, lambda: 1 / 0)),
        ("whitelist", lambda: c.clear_selected(None, (M,))),
        ("checksum", lambda: koracache.__pyx_unpickle_Cache(koracache.Cache, 1, None)),
        ("init args", lambda: koracache.Cache(1)),
    ]
    return good, bad


def _run(fn, n):
    for _ in range(n):
        try:
            fn()
        except Exception:
            pass


def _cases():
    rg, rb = raylib_calls()
    cg, cb = cache_calls()
    return [pytest.param(f, id=name) for name, f in rg + rb + cg + cb]


@pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs the debug interpreter")
@pytest.mark.parametrize("fn", _cases())
def test_reference_balance(rec, fn):
    _run(fn, 50)  # warm caches (code objects for tracebacks, interned names)
    gc.collect()
    before = sys.gettotalrefcount()
    _run(fn, 500)
    gc.collect()
    after = sys.gettotalrefcount()
    # A leak of one reference per call would show as +500.
    assert after - before < 50


@pytest.mark.parametrize("fn", _cases())
def test_no_net_allocation(rec, fn):
    _run(fn, 200)
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        _run(fn, 5000)
        gc.collect()
        after = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
    assert after - before < 16 * 1024
