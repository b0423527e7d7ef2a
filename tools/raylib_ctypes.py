"""raylib's records as ctypes structures (layouts as in raylib.h) and the names
of the fourteen raylib functions that the call layer reaches: shared by the
real-raylib loader (realraylib.py, used by the demo and the pixel tests) and
the recording raylib of the tests (tests/recorder.py)."""

import ctypes

ENTRY_NAMES = (
    "BeginDrawing", "EndDrawing", "BeginBlendMode", "EndBlendMode",
    "BeginTextureMode", "EndTextureMode", "BeginShaderMode", "EndShaderMode",
    "ClearBackground", "DrawTextureRec", "DrawTexturePro",
    "GetShaderLocation", "SetShaderValue", "SetShaderValueV",
)


class Vector2(ctypes.Structure):
    _fields_ = [("x", ctypes.c_float), ("y", ctypes.c_float)]


class Rectangle(ctypes.Structure):
    _fields_ = [(n, ctypes.c_float) for n in ("x", "y", "width", "height")]


class Color(ctypes.Structure):
    _fields_ = [(n, ctypes.c_ubyte) for n in "rgba"]


class Texture2D(ctypes.Structure):
    _fields_ = [("id", ctypes.c_uint)] + [(n, ctypes.c_int) for n in ("width", "height", "mipmaps", "format")]


class RenderTexture2D(ctypes.Structure):
    _fields_ = [("id", ctypes.c_uint), ("texture", Texture2D), ("depth", Texture2D)]


class Shader(ctypes.Structure):
    _fields_ = [("id", ctypes.c_uint), ("locs", ctypes.POINTER(ctypes.c_int))]
