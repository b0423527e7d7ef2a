"""The real raylib through ctypes, and a private X server to give it a window.

Used by tools/demo.py and by the render tests (which import it from tools/). ctypes calls here only set up
resources and read pixels back; drawing goes through kora_raylib, which gets
the addresses of the functions it calls (its entry list) from `addresses()`.
"""

import contextlib
import ctypes
import os
import pathlib
import select
import shutil
import subprocess
import tempfile
from types import SimpleNamespace

from raylib_ctypes import ENTRY_NAMES, Color, RenderTexture2D, Shader, Texture2D  # noqa: F401  (next to this file)


ROOT = pathlib.Path(__file__).resolve().parent.parent
LIB_DIR = pathlib.Path(
    os.environ.get("KORA_RAYLIB_DIR") or ROOT / ".toolchain" / "usr" / "lib" / "x86_64-linux-gnu"
)


FLAG_WINDOW_HIDDEN = 0x80
LOG_WARNING = 4
BLEND_ALPHA, BLEND_ADDITIVE = 0, 1
UNIFORM_FLOAT, UNIFORM_VEC2, UNIFORM_VEC3, UNIFORM_VEC4, UNIFORM_INT = range(5)


class Image(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p)] + [
        (n, ctypes.c_int) for n in ("width", "height", "mipmaps", "format")
    ]


_i, _u, _p, _s = ctypes.c_int, ctypes.c_uint, ctypes.c_void_p, ctypes.c_char_p
PROTOTYPES = {
    "SetConfigFlags": (None, _u),
    "SetTraceLogLevel": (None, _i),
    "InitWindow": (None, _i, _i, _s),
    "IsWindowReady": (ctypes.c_bool,),
    "CloseWindow": (None,),
    "GetTime": (ctypes.c_double,),
    "DrawRectangle": (None, _i, _i, _i, _i, Color),
    "GenImageColor": (Image, _i, _i, Color),
    "ImageDrawRectangle": (None, ctypes.POINTER(Image), _i, _i, _i, _i, Color),
    "LoadTextureFromImage": (Texture2D, Image),
    "LoadImageFromTexture": (Image, Texture2D),
    "ExportImage": (ctypes.c_bool, Image, _s),
    "ImageFlipVertical": (None, ctypes.POINTER(Image)),
    "UnloadImage": (None, Image),
    "UnloadTexture": (None, Texture2D),
    "LoadRenderTexture": (RenderTexture2D, _i, _i),
    "UnloadRenderTexture": (None, RenderTexture2D),
    "LoadShaderFromMemory": (Shader, _s, _s),
    "IsShaderValid": (ctypes.c_bool, Shader),
    "UnloadShader": (None, Shader),
    "GetShaderLocation": (_i, Shader, _s),
    "SetShaderValueV": (None, Shader, _i, _p, _i, _i),
}


class DisplayUnavailable(RuntimeError):
    """No X server could be had, or raylib could not open a window on it."""


def unsanitized_env():
    """The environment without the sanitizer runtime of the sanitizer run, for
    programs that are not under test (the X server, the window probe)."""
    names = ("LD_PRELOAD", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")
    return {k: v for k, v in os.environ.items() if k not in names}


def check_heap(on):
    """Turns the leak check of this thread's allocations on or off (sanitizer
    run only). The GL stack keeps some allocations for the life of the process
    and is unloaded before the leak check could name them."""
    switch = getattr(ctypes.CDLL(None), "__lsan_enable" if on else "__lsan_disable", None)
    if switch is not None:
        switch()


@contextlib.contextmanager
def xvfb(timeout=10.0):
    """Runs a private Xvfb on a free display number; yields the DISPLAY value."""
    binary = shutil.which("Xvfb")
    if binary is None:
        raise DisplayUnavailable("no Xvfb binary on PATH")
    rfd, wfd = os.pipe()
    proc = subprocess.Popen(
        [binary, "-displayfd", str(wfd), "-screen", "0", "320x240x24", "-nolisten", "tcp"],
        pass_fds=(wfd,), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=unsanitized_env(),
    )
    os.close(wfd)
    try:
        number = b""
        while not number.endswith(b"\n"):
            if not select.select([rfd], [], [], timeout)[0]:
                raise DisplayUnavailable("Xvfb did not report a display within %gs" % timeout)
            chunk = os.read(rfd, 16)
            if not chunk:
                err = proc.stderr.read().decode(errors="replace").strip().splitlines()
                raise DisplayUnavailable("Xvfb exited: " + (err[-1] if err else "no message"))
            number += chunk
        yield ":" + number.decode().strip()
    finally:
        os.close(rfd)
        proc.terminate()
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        proc.stderr.close()


@contextlib.contextmanager
def display_env(display):
    """Points this process (and its children) at `display` for the duration;
    gives it a private runtime directory if it has none."""
    saved = {n: os.environ.get(n) for n in ("DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR")}
    os.environ["DISPLAY"] = display
    os.environ.pop("WAYLAND_DISPLAY", None)
    runtime = None
    if not saved["XDG_RUNTIME_DIR"]:
        runtime = os.environ["XDG_RUNTIME_DIR"] = tempfile.mkdtemp(prefix="kora-xdg-")
    try:
        yield display
    finally:
        if runtime:
            shutil.rmtree(runtime, ignore_errors=True)
        for name, value in saved.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value


class Raylib:
    """The loaded library: prototyped helpers as attributes, plus conversions."""

    def __init__(self):
        # libraylib needs libglfw.so.3 from the same directory; loading it
        # globally first lets the dynamic linker satisfy that dependency.
        self._glfw = ctypes.CDLL(str(LIB_DIR / "libglfw.so.3"), mode=ctypes.RTLD_GLOBAL)
        self.lib = ctypes.CDLL(str(LIB_DIR / "libraylib.so.600"))
        for name, (res, *args) in PROTOTYPES.items():
            fn = getattr(self.lib, name)
            fn.restype, fn.argtypes = res, args
            setattr(self, name, fn)

    def addresses(self):
        """The dict that kora_raylib.init_raylib_pointers takes."""
        return {n: ctypes.cast(getattr(self.lib, n), ctypes.c_void_p).value for n in ENTRY_NAMES}

    def open_window(self, width, height, title=b"kora_ui"):
        self.SetTraceLogLevel(LOG_WARNING)
        self.SetConfigFlags(FLAG_WINDOW_HIDDEN)
        self.InitWindow(width, height, title)
        if not self.IsWindowReady():
            raise DisplayUnavailable("raylib could not open a window on DISPLAY=%s"
                                     % os.environ.get("DISPLAY"))

    # -- resources ---------------------------------------------------------
    def texture(self, width, height, background, rects=()):
        """A texture from an image filled with `background`, then each
        (x, y, w, h, rgba) of `rects` painted on it; row 0 is the top."""
        img = self.GenImageColor(width, height, Color(*background))
        for x, y, w, h, rgba in rects:
            self.ImageDrawRectangle(ctypes.byref(img), x, y, w, h, Color(*rgba))
        tex = self.LoadTextureFromImage(img)
        self.UnloadImage(img)
        return tex

    def shader(self, fragment_code, vertex_code=None):
        sh = self.LoadShaderFromMemory(vertex_code, fragment_code.encode())
        if not self.IsShaderValid(sh):
            raise RuntimeError("shader did not compile")
        return sh

    def set_uniform(self, shader, name, values, uniform_type):
        """Sets a float or int uniform (or array) directly, bypassing kora_raylib."""
        ctype = ctypes.c_int if uniform_type == UNIFORM_INT else ctypes.c_float
        per = {UNIFORM_VEC2: 2, UNIFORM_VEC3: 3, UNIFORM_VEC4: 4}.get(uniform_type, 1)
        buf = (ctype * len(values))(*values)
        loc = self.GetShaderLocation(shader, name.encode())
        self.SetShaderValueV(shader, loc, buf, uniform_type, len(values) // per)

    def read(self, render_texture):
        """The render texture's pixels, as Pixels indexed top-down."""
        img = self.LoadImageFromTexture(c_texture(render_texture.texture))
        try:
            data = ctypes.string_at(img.data, img.width * img.height * 4)
        finally:
            self.UnloadImage(img)
        return Pixels(data, img.width, img.height)

    def export(self, render_texture, path):
        """Writes the render texture as an image file, top row first."""
        img = self.LoadImageFromTexture(c_texture(render_texture.texture))
        try:
            self.ImageFlipVertical(ctypes.byref(img))
            if not self.ExportImage(img, str(path).encode()):
                raise OSError("raylib could not write %s" % path)
        finally:
            self.UnloadImage(img)


class Pixels:
    """RGBA bytes read back from a render texture. OpenGL stores the target
    bottom row first, while raylib's drawing coordinates put y = 0 at the top;
    `at(x, y)` takes drawing coordinates."""

    def __init__(self, data, width, height):
        self.data, self.width, self.height = data, width, height

    def at(self, x, y):
        i = ((self.height - 1 - y) * self.width + x) * 4
        return tuple(self.data[i:i + 4])


TEXTURE_FIELDS = ("id", "width", "height", "mipmaps", "format")


def c_texture(tex):
    """A ctypes Texture2D from any object with the texture attributes."""
    return Texture2D(*(getattr(tex, f) for f in TEXTURE_FIELDS))


def py_texture(tex):
    """A Python-side texture object, as the package's binding hands them over."""
    return SimpleNamespace(**{f: getattr(tex, f) for f in TEXTURE_FIELDS})


def py_render_texture(rt):
    return SimpleNamespace(id=rt.id, texture=py_texture(rt.texture), depth=py_texture(rt.depth))


def py_shader(sh):
    return SimpleNamespace(id=sh.id, locs=locs_address(sh))


def locs_address(sh):
    return ctypes.cast(sh.locs, ctypes.c_void_p).value or 0
