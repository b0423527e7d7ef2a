"""kora_raylib against the real raylib: draw into a render texture through the
layer, read the pixels back and check them.

One hidden raylib window on a private Xvfb serves the whole module. raylib's
own functions, called through ctypes, only load resources and read pixels
back; everything under test goes through kora_raylib.
"""

import contextlib
import os
import subprocess
import sys
from types import SimpleNamespace

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
import realraylib as rr  # noqa: E402  (tools/realraylib.py, shared with the demo)
from kora_capi_consumer import call  # noqa: E402  (kora_raylib's exported routines, as a native module calls them)
from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as k

SIZE = 64
BLACK, WHITE = (0, 0, 0, 255), (255, 255, 255, 255)
RED, GREEN, BLUE = (255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255)
# The 8x8 test texture: red, green / blue, white quadrants, image row 0 on top.
UPRIGHT = (RED, GREEN, BLUE, WHITE)
MIRRORED = (BLUE, WHITE, RED, GREEN)  # the same, top and bottom swapped

FRAGMENT = """#version 330
in vec2 fragTexCoord;
in vec4 fragColor;
uniform int u_mode;
uniform vec4 u_vec4;
uniform vec2 u_vec2;
uniform float u_float;
uniform int u_int;
uniform float u_farr[4];
uniform vec4 u_varr[2];
out vec4 finalColor;
// Column i (0..7) of the drawn quad shows scalar i of the uniform picked by
// u_mode, in its red channel.
float component(int i) {
    if (u_mode == 1) return i < 4 ? u_vec4[i] : 0.0;
    if (u_mode == 2) return i < 2 ? u_vec2[i] : 0.0;
    if (u_mode == 3) return i == 0 ? u_float : 0.0;
    if (u_mode == 4) return i == 0 ? float(u_int) / 255.0 : 0.0;
    if (u_mode == 5) return i < 4 ? u_farr[i] : 0.0;
    if (u_mode == 6) return u_varr[i / 4][i % 4];
    return 0.0;
}
void main() {
    finalColor = vec4(component(int(fragTexCoord.x * 8.0)), 0.0, 0.0, 1.0) + 0.0 * fragColor;
}
"""
UNIFORMS = {"u_mode": 4, "u_vec4": 3, "u_vec2": 1, "u_float": 0, "u_int": 4, "u_farr": 0, "u_varr": 3}
ZEROS = {"u_vec4": 4, "u_vec2": 2, "u_float": 1, "u_int": 1, "u_farr": 4, "u_varr": 8}

PROBE = "import realraylib as r; r.Raylib().open_window(8, 8)"


@pytest.fixture(scope="module")
def gl():
    with contextlib.ExitStack() as stack:
        try:
            stack.enter_context(rr.display_env(stack.enter_context(rr.xvfb())))
        except rr.DisplayUnavailable as e:
            pytest.skip(f"no display: {e}")
        # Open a window in a child first: a GL stack that crashes takes the
        # child down, not the test session.
        env = dict(rr.unsanitized_env(), PYTHONPATH=os.pathsep.join(sys.path))
        probe = subprocess.run([sys.executable, "-c", PROBE], env=env, capture_output=True, text=True, timeout=120)
        if probe.returncode != 0:
            lines = probe.stderr.strip().splitlines() or ["exit status %d" % probe.returncode]
            pytest.skip("raylib cannot open a window: " + lines[-1])
        stack.callback(rr.check_heap, True)
        rr.check_heap(False)  # the GL stack allocates at drawing too: not checked while the window is open
        rl = rr.Raylib()
        rl.open_window(SIZE, SIZE)
        stack.callback(rl.CloseWindow)
        # Leave every entry null: other tests install their own addresses.
        stack.callback(k.init_raylib_pointers, dict.fromkeys(rr.ENTRY_NAMES, 0))
        quad = rl.texture(8, 8, RED, [(4, 0, 4, 4, GREEN), (0, 4, 4, 4, BLUE), (4, 4, 4, 4, WHITE)])
        white = rl.texture(8, 8, WHITE)
        targets = [rl.LoadRenderTexture(SIZE, SIZE) for _ in range(2)]
        shader = rl.shader(FRAGMENT)
        for unload, items in ((rl.UnloadTexture, (quad, white)), (rl.UnloadRenderTexture, targets),
                              (rl.UnloadShader, (shader,))):
            for item in items:
                stack.callback(unload, item)
        g = SimpleNamespace(rl=rl, addresses=rl.addresses(), shader=shader, raw=rr.py_shader(shader),
                            kr=KrShader(shader.id, rr.locs_address(shader)),
                            quad=rr.py_texture(quad), white=rr.py_texture(white))
        g.target, g.other = (rr.py_render_texture(t) for t in targets)
        g.read = lambda target=g.target: rl.read(target)
        # The setters below use the locations the layer finds, on either kind of shader.
        k.init_raylib_pointers(g.addresses)
        g.loc = {n: k.get_shader_location(g.raw, n) for n in UNIFORMS}
        assert g.loc == {n: k.get_krshader_location(g.kr, n + "\0tail") for n in UNIFORMS}
        assert g.loc == {n: rl.GetShaderLocation(shader, n.encode()) for n in UNIFORMS} and -1 not in g.loc.values()
        yield g


@pytest.fixture(autouse=True)
def real_raylib(gl):
    k.init_raylib_pointers(gl.addresses)


@contextlib.contextmanager
def frame(gl, background=BLACK, target=None):
    k.begin_drawing()
    k.begin_texture_mode(target or gl.target)
    k.clear_background(background)
    try:
        yield
    finally:
        k.end_texture_mode()
        k.end_drawing()


def close(got, want, tol=1):
    return len(got) == len(want) and all(abs(a - b) <= tol for a, b in zip(got, want))


def check_area(px, x, y, w, h, colours, background=BLACK):
    """The area drawn at (x, y, w, h) shows quadrants (tl, tr, bl, br); its
    corner pixels are inside and the pixels just outside are background."""
    tl, tr, bl, br = colours
    want = {(x, y): tl, (x + w - 1, y): tr, (x, y + h - 1): bl, (x + w - 1, y + h - 1): br,
            (x + w // 4, y + h // 4): tl, (x + 3 * w // 4, y + h // 4): tr,
            (x + w // 4, y + 3 * h // 4): bl, (x + 3 * w // 4, y + 3 * h // 4): br}
    for ox, oy in ((x - 1, y), (x + w, y), (x, y - 1), (x, y + h), (x + w, y + h)):
        if 0 <= ox < SIZE and 0 <= oy < SIZE:
            want[ox, oy] = background
    bad = {p: (px.at(*p), c) for p, c in want.items() if not close(px.at(*p), c)}
    assert not bad, "pixel: (got, wanted) " + repr(bad)


def whole(colour):
    return 0, 0, SIZE, SIZE, (colour,) * 4


W = WHITE  # short name for the table below
DRAWS = {
    # One per drawing call; the conversions themselves are checked on the recorded calls.
    "clear-4": (lambda g: k.clear_background((200, 100, 50, 128)), whole((200, 100, 50, 128))),
    "clear-kr": (lambda g: call("kr_clear_background", KrRect(1, 2, 3, 4)), whole((1, 2, 3, 4))),
    "clear-c_blank": (lambda g: call("c_clear_background_blank"), whole((0, 0, 0, 0))),
    "clear-c": (lambda g: call("c_clear_background", (5, 6, 7)), whole((5, 6, 7, 255))),
    # raylib's own DrawRectangle fixes what "top" means for the rows below.
    "raylib-DrawRectangle": (lambda g: g.rl.DrawRectangle(2, 3, 8, 4, rr.Color(*RED)), (2, 3, 8, 4, (RED,) * 4)),
    # the right half, tinted by a colour without alpha
    "rec": (lambda g: k.draw_texture_rec(g.quad, (4.0, 0.0, 4.0, 8.0), (30.0, 2.0), (0, 128, 255)),
            (30, 2, 4, 8, ((0, 128, 0, 255),) * 2 + ((0, 128, 255, 255),) * 2)),
    "rec_ez": (lambda g: k.draw_texture_rec_ez(g.quad, (0, 4, 8, 4), (40, 50)), (40, 50, 8, 4, (BLUE, WHITE) * 2)),
    "vec": (lambda g: k.draw_texture_vec(g.quad, (5, 6), W, False), (5, 6, 8, 8, UPRIGHT)),
    "vec_ez": (lambda g: k.draw_texture_vec_ez(g.quad, (50.0, 1.0), False), (50, 1, 8, 8, UPRIGHT)),
    "krvec-tint": (lambda g: k.draw_texture_krvec(g.quad, KrVector2(20, 30), KrRect(255, 0, 128, 255), False),
                   (20, 30, 8, 8, (RED, BLACK, (0, 0, 128, 255), (255, 0, 128, 255)))),
    "krvec_ez-flip": (lambda g: k.draw_texture_krvec_ez(g.quad, KrVector2(0, 56), True), (0, 56, 8, 8, MIRRORED)),
    # 90 degrees clockwise about the destination's centre: the top row ends on the right.
    "pro-rotate90": (lambda g: k.draw_texture_pro(g.quad, (0, 0, 8, 8), (32, 32, 16, 16), (8, 8), 90, W),
                     (24, 24, 16, 16, (BLUE, RED, WHITE, GREEN))),
}


@pytest.mark.parametrize("name", DRAWS)
def test_draw(gl, name):
    draw, area = DRAWS[name]
    with frame(gl):
        draw(gl)
    check_area(gl.read(), *area)


@pytest.mark.parametrize("flip, area", [(True, (0, 0, 8, 8, UPRIGHT)), (False, (0, 56, 8, 8, MIRRORED))])
def test_texture_mode_and_render_texture_stored_bottom_up(gl, flip, area):
    with frame(gl, GREEN, target=gl.other):
        k.draw_texture_vec_ez(gl.quad, (0, 0), False)
    # Outside texture mode the window is cleared, not a render texture.
    k.begin_drawing()
    k.clear_background(BLUE)
    k.end_drawing()
    # Drawn back unflipped, a render texture comes out upside down.
    with frame(gl):
        k.draw_texture_vec_ez(gl.other.texture, (0, 0), flip)
    check_area(gl.read(), *area, background=GREEN)


@pytest.mark.parametrize("alpha", [255, 128])
@pytest.mark.parametrize("mode", [rr.BLEND_ALPHA, rr.BLEND_ADDITIVE])
def test_blend_mode(gl, mode, alpha):
    # (0, 0, 100) at alpha a over (100, 0, 0): alpha blending keeps 1 - a of
    # the red below, additive blending keeps all of it.
    a = alpha / 255
    blended = (round(100 * (1 - a)), 0, round(100 * a))
    with frame(gl, (100, 0, 0, 255)):
        k.begin_blend_mode(mode=mode)
        k.draw_texture_rec(gl.white, (0, 0, 8, 8), (0, 0), (0, 0, 100, alpha))
        k.end_blend_mode()
        k.draw_texture_rec(gl.white, (0, 0, 8, 8), (16, 0), (0, 0, 100, alpha))
    px = gl.read()
    want = (100, 0, round(100 * a)) if mode == rr.BLEND_ADDITIVE else blended
    assert close(px.at(4, 4)[:3], want, 2), px.at(4, 4)
    assert close(px.at(20, 4)[:3], blended, 2), "end_blend_mode returns to alpha blending"


def shade(gl, mode, set_value=None, begin=lambda g: k.begin_shader_mode(g.raw)):
    """Zero the uniforms and pick `mode` (directly through raylib), let
    `set_value` set one through kora_raylib, draw the white texture with the
    shader and return the red channel of its eight columns."""
    for name, n in ZEROS.items():
        gl.rl.set_uniform(gl.shader, name, [0] * n, UNIFORMS[name])
    gl.rl.set_uniform(gl.shader, "u_mode", [mode], rr.UNIFORM_INT)
    with frame(gl):
        if set_value:
            set_value(gl)
        begin(gl)
        k.draw_texture_rec_ez(gl.white, (0, 0, 8, 8), (0, 0))
        k.end_shader_mode()
        k.draw_texture_rec_ez(gl.white, (0, 0, 8, 8), (16, 0))
    px = gl.read()
    assert px.at(20, 4) == WHITE, "end_shader_mode returns to the default shader"
    return [px.at(x, 4)[0] for x in range(8)]


V4, V2 = (0.2, 0.4, 0.6, 0.8), (0.2, 0.6)
# One per raylib entry, shader record (attributes or KrShader fields) and
# kind of uniform data; the recorder tests pin every setter's exact values.
SETTERS = {
    "set_shader_value-vec4": (1, lambda g: k.set_shader_value(g.raw, g.loc["u_vec4"], V4 + (9.0, 9.0), 3), V4),
    "set_shader_value-int": (4, lambda g: k.set_shader_value(g.raw, g.loc["u_int"], (2**32 + 77,), 4), (77 / 255,)),
    "set_krshader_value_float": (3, lambda g: k.set_krshader_value_float(g.kr, g.loc["u_float"], 0.2), (0.2,)),
    "set_krshader_value_vec2_krvec": (
        2, lambda g: k.set_krshader_value_vec2_krvec(g.kr, g.loc["u_vec2"], KrVector2(*V2)), V2),
    "set_krshader_value_float_v": (5, lambda g: k.set_krshader_value_float_v(g.kr, g.loc["u_farr"], V2), V2),
    "set_krshader_value_vec4_v": (6, lambda g: k.set_krshader_value_vec4_v(g.kr, g.loc["u_varr"], [
        dict(zip("xyzw", V4)), dict(x=1.0, y=0.0, z=0.4, w=0.6, extra=5)]), V4 + (1.0, 0.0, 0.4, 0.6)),
    # the exported begin_krshader_mode, with the uniform set through raylib
    "begin_krshader_mode": (1, lambda g: g.rl.set_uniform(g.shader, "u_vec4", list(V4), rr.UNIFORM_VEC4), V4,
                            lambda g: call("begin_krshader_mode", g.kr)),
}


@pytest.mark.parametrize("name", SETTERS)
def test_shader_setter(gl, name):
    mode, set_value, values, *begin = SETTERS[name]
    want = [round(v * 255) for v in values] + [0] * (8 - len(values))
    assert shade(gl, mode, None, *begin) == [0] * 8  # zeroed first: the setter alone makes the colour
    assert close(got := shade(gl, mode, set_value, *begin), want), (got, want)
