"""kora_raylib's thirty exported routines as another native module uses them:
taken from __pyx_capi__ by signature (through the kora_capi_consumer test
module). Cache's C-level method table is tested with Cache."""

import ctypes
import sys
from types import SimpleNamespace as NS

import pytest

import kora_capi_consumer as consumer
from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krrendertex.kr_render_tex import KrRenderTexture
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr
from conftest import fails
from recorder import f32
from test_draw import FLIPPED, T5 as T, TEX, WHOLE

RT = NS(id=4, texture=TEX, depth=NS(id=5, width=8, height=8, mipmaps=0, format=19))
SH, S = KrShader(5, 0x40), (5, 0x40)

# The trailing dispatch flag is given as 0 or 1: it is ignored either way.
ROUTINES = [
    ("begin_krshader_mode", (SH,), None, [("BeginShaderMode", S)]),
    ("get_krshader_location", (SH, "u_time", 1), 4, [("GetShaderLocation", S, "u_time")]),
    ("get_krshader_location", (SH, "nowhere", 0), -1, [("GetShaderLocation", S, "nowhere")]),
    ("c_clear_background", ((1, 2, 3),), None, [("ClearBackground", (1, 2, 3, 255))]),
    ("c_draw_texture_rec", (TEX, (1, 2, 3, 4), (5, 6), (7, 8, 9, 10)), None,
     [("DrawTextureRec", T, (1.0, 2.0, 3.0, 4.0), (5.0, 6.0), (7, 8, 9, 10))]),
    ("draw_texture_rec", (TEX, (1, 2, 3, 4, 5), (5, 6, 7), (7, 8, 9), 1), None,
     [("DrawTextureRec", T, (1.0, 2.0, 3.0, 4.0), (5.0, 6.0), (7, 8, 9, 255))]),
    ("c_draw_texture_pro", (TEX, (0, 0, 16, 16), (100, 100, 32, 32), (16, 16), 45.0, (255,) * 4), None,
     [("DrawTexturePro", T, (0.0, 0.0, 16.0, 16.0), (100.0, 100.0, 32.0, 32.0), (16.0, 16.0), 45.0, (255,) * 4)]),
    ("draw_texture_pro", (TEX, (0, 0, 1, 1), (2, 2, 3, 3), (0.5, 0), 0.1, (1, 2, 3), 0), None,
     [("DrawTexturePro", T, (0.0, 0.0, 1.0, 1.0), (2.0, 2.0, 3.0, 3.0), (0.5, 0.0), f32(0.1), (1, 2, 3, 255))]),
    ("c_draw_texture_vec", (TEX, (10, 20), (255, 0, 0), 1), None,
     [("DrawTextureRec", T, FLIPPED, (10.0, 20.0), (255, 0, 0, 255))]),
    ("draw_texture_vec", (TEX, (10, 20), (255, 0, 0, 9), 0, 1), None,
     [("DrawTextureRec", T, WHOLE, (10.0, 20.0), (255, 0, 0, 9))]),
    ("begin_texture_mode", (RT, 0), None, [("BeginTextureMode", (4, T, (5, 8, 8, 0, 19)))]),
    ("clear_background", ((10, 20, 30, 40), 1), None, [("ClearBackground", (10, 20, 30, 40))]),
    ("init_raylib_pointers", ({}, 0), None, []),
    ("c_draw_texture_krvec", (TEX, KrVector2(-1.01, 20.5), KrRect(1, 2, 3, 4), 0), None,
     [("DrawTextureRec", T, WHOLE, (-1.0, f32(20.51)), (1, 2, 3, 4))]),
    ("begin_drawing", (0,), None, [("BeginDrawing",)]),
    ("end_blend_mode", (1,), None, [("EndBlendMode",)]),
    ("end_drawing", (0,), None, [("EndDrawing",)]),
    ("end_shader_mode", (1,), None, [("EndShaderMode",)]),
    ("end_texture_mode", (0,), None, [("EndTextureMode",)]),
    ("begin_blend_mode", (2, 1), None, [("BeginBlendMode", 2)]),
    ("c_draw_krtexture_krvec", (KrRenderTexture(NS(texture=TEX)), KrVector2(1, 2), KrRect(255.9, 128, 0, 255), 1),
     None, [("DrawTextureRec", T, FLIPPED, (f32(1.01), f32(2.01)), (255, 128, 0, 255))]),
    ("kr_clear_background", (KrRect(1, 2, 3, 4),), None, [("ClearBackground", (1, 2, 3, 4))]),
    ("set_krshader_value_vec2_tuple", (SH, 3, (1.5, 2, 9), 0), None, [("SetShaderValue", S, 3, 1, [1.5, 2.0])]),
    ("set_krshader_value_vec4_tuple", (SH, 3, (1, 2, 3, 4, 5), 1), None,
     [("SetShaderValue", S, 3, 3, [1.0, 2.0, 3.0, 4.0])]),
    ("set_krshader_value", (SH, 3, (7, 2**32 + 8), 5, 0), None, [("SetShaderValue", S, 3, 5, [7, 8])]),
    ("set_krshader_value_float", (SH, 2, 0.1, 1), None, [("SetShaderValue", S, 2, 0, [f32(0.1)])]),
    ("set_krshader_value_int", (SH, 2, -7, 0), None, [("SetShaderValue", S, 2, 4, [-7])]),
    ("set_krshader_value_vec4_v", (SH, 1, [(1, 2, 3, 4), (5, 6, 7, 0.1)], 0), None,
     [("SetShaderValueV", S, 1, 3, 2, [1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, f32(0.1)])]),
    ("set_krshader_value_vec4_v", (SH, 1, [], 0), None, []),
    ("set_krshader_value_float_v", (SH, 1, [0.5, 1, 2], 1), None, [("SetShaderValueV", S, 1, 0, 3, [0.5, 1.0, 2.0])]),
    ("set_krshader_value_vec2_krvec", (SH, 1, KrVector2(10, 20.5), 0), None,
     [("SetShaderValue", S, 1, 1, [10.0, 20.5])]),
    ("c_clear_background_blank", (), None, [("ClearBackground", (0, 0, 0, 0))]),
]


@pytest.mark.parametrize("name, args, result, calls", ROUTINES, ids=[r[0] for r in ROUTINES])
def test_routines_call_raylib(rec, name, args, result, calls):
    rec.map_location("u_time", 4)
    assert consumer.call(name, *args) == result
    assert rec.calls() == calls


def raw(name, *argtypes):
    """The export `name` called directly, without the consumer's argument checks."""
    return ctypes.PYFUNCTYPE(None, *argtypes)(consumer.capsule_pointer(name, consumer.signatures[name]))


def test_none_for_peer_arguments_and_texture_references(rec):
    fails(rec, TypeError, "a KrRect colour is required, not None", raw("kr_clear_background", ctypes.py_object),
          None)
    draw = raw("c_draw_krtexture_krvec", *[ctypes.py_object] * 3, ctypes.c_int)
    texture = NS(**vars(TEX))
    fails(rec, AttributeError, "'NoneType' object has no attribute 'x'", draw, KrRenderTexture(NS(texture=texture)),
          None, KrRect(), 0)
    before = sys.getrefcount(texture)
    for _ in range(10):
        draw(KrRenderTexture(NS(texture=texture)), KrVector2(1, 2), KrRect(9, 8, 7, 6), 2)
    assert len(rec.calls()) == 10 and sys.getrefcount(texture) == before


@pytest.mark.parametrize("name", sorted(kr.__pyx_capi__))
def test_every_export_is_covered_and_refuses_any_other_signature(name):
    assert {r[0] for r in ROUTINES} == set(kr.__pyx_capi__) == set(consumer.signatures)
    signature = consumer.signatures[name]
    assert consumer.capsule_pointer(name, signature)
    for wrong in {signature + " ", signature[:-1], signature.replace("> ,", ">,")} - {signature}:
        with pytest.raises(ValueError, match="^PyCapsule_GetPointer called with incorrect name$"):
            consumer.capsule_pointer(name, wrong)
