"""ctypes side of libkr_recorder.so: stand-ins for the raylib functions the
call layer uses, which log every call with its by-value arguments."""

import ctypes
import os
import pathlib
import struct
import sys

# The records and entry names live with the real-raylib loader in tools/.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tools"))
from raylib_ctypes import Color, Rectangle, RenderTexture2D, Shader, Texture2D, Vector2  # noqa: E402,F401

NATIVE_DIR = pathlib.Path(
    os.environ.get("KORA_NATIVE_DIR")
    or pathlib.Path(__file__).resolve().parent.parent / "build" / "native"
)


def f32(x):
    """x rounded to the nearest float32, as a Python float."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


# Return type and parameter types of each recorded function.
PROTOTYPES = {
    "BeginDrawing": (None,),
    "EndDrawing": (None,),
    "BeginBlendMode": (None, ctypes.c_int),
    "EndBlendMode": (None,),
    "BeginTextureMode": (None, RenderTexture2D),
    "EndTextureMode": (None,),
    "BeginShaderMode": (None, Shader),
    "EndShaderMode": (None,),
    "ClearBackground": (None, Color),
    "DrawTextureRec": (None, Texture2D, Rectangle, Vector2, Color),
    "DrawTexturePro": (None, Texture2D, Rectangle, Rectangle, Vector2, ctypes.c_float, Color),
    "GetShaderLocation": (ctypes.c_int, Shader, ctypes.c_char_p),
    "SetShaderValue": (None, Shader, ctypes.c_int, ctypes.c_void_p, ctypes.c_int),
    "SetShaderValueV": (None, Shader, ctypes.c_int, ctypes.c_void_p, ctypes.c_int, ctypes.c_int),
}


def _ints(group):
    return tuple(int(v) for v in group.split())


def _floats(group):
    return tuple(float(v) for v in group.split())


def _name(group):
    return group[1:] if group.startswith('"') else None


def _values(group):
    return group  # decoded in _parse, which knows the uniform type


# How each '|'-separated group of a log line decodes, per function.
_GROUPS = {
    "BeginDrawing": (),
    "EndDrawing": (),
    "BeginBlendMode": (int,),
    "EndBlendMode": (),
    "BeginTextureMode": (int, _ints, _ints),
    "EndTextureMode": (),
    "BeginShaderMode": (_ints,),
    "EndShaderMode": (),
    "ClearBackground": (_ints,),
    "DrawTextureRec": (_ints, _floats, _floats, _ints),
    "DrawTexturePro": (_ints, _floats, _floats, _floats, float, _ints),
    "GetShaderLocation": (_ints, _name),
    "SetShaderValue": (_ints, int, int, _values),
    "SetShaderValueV": (_ints, int, int, int, _values),
}


def _parse(line):
    name = line.split("|", 1)[0]
    decoders = _GROUPS[name]
    groups = line.split("|", len(decoders))[1:]
    args = [decode(g) for decode, g in zip(decoders, groups, strict=True)]
    if name == "BeginTextureMode":
        args = [tuple(args)]
    elif name.startswith("SetShaderValue"):
        convert = float if 0 <= args[2] <= 3 else int
        args[-1] = None if args[-1] == "null" else [convert(v) for v in args[-1].split()]
    return (name, *args)


class Recorder:
    """The loaded recorder library. calls() returns tuples such as
    ("DrawTextureRec", texture5, rect4, vector2, color4),
    ("BeginTextureMode", (id, texture5, depth5)), ("BeginBlendMode", mode),
    ("GetShaderLocation", (shader_id, locs), name),
    ("SetShaderValue", (shader_id, locs), loc, uniform_type, values) and
    ("SetShaderValueV", (shader_id, locs), loc, uniform_type, count, values),
    with floats exactly the float32 values passed and values None for a null
    pointer."""

    FUNCTIONS = tuple(PROTOTYPES)

    def __init__(self, path=None):
        lib = ctypes.CDLL(str(path or NATIVE_DIR / "libkr_recorder.so"))
        lib.rec_reset.restype = None
        lib.rec_count.restype = ctypes.c_int
        lib.rec_get.restype = ctypes.c_char_p
        lib.rec_get.argtypes = [ctypes.c_int]
        lib.rec_set_location.restype = None
        lib.rec_set_location.argtypes = [ctypes.c_int]
        lib.rec_map_location.restype = None
        lib.rec_map_location.argtypes = [ctypes.c_char_p, ctypes.c_int]
        self.lib = lib

    def addresses(self):
        """raylib function name -> address of its recording stand-in."""
        return {
            name: ctypes.cast(getattr(self.lib, "rec_" + name), ctypes.c_void_p).value
            for name in self.FUNCTIONS
        }

    def function(self, name):
        """The stand-in for name as a ctypes function with raylib's signature."""
        return ctypes.CFUNCTYPE(*PROTOTYPES[name])(self.addresses()[name])

    def reset(self):
        """Forget all calls; GetShaderLocation returns -1 for every name again."""
        self.lib.rec_reset()

    def count(self):
        return self.lib.rec_count()

    def lines(self):
        return [self.lib.rec_get(i).decode() for i in range(self.count())]

    def calls(self):
        return [_parse(line) for line in self.lines()]

    def set_location(self, result):
        """What GetShaderLocation returns for names not given to map_location."""
        self.lib.rec_set_location(result)

    def map_location(self, name, result):
        self.lib.rec_map_location(name.encode(), result)


_libc = ctypes.CDLL(None)
_libc.malloc.restype = ctypes.c_void_p
_libc.malloc.argtypes = [ctypes.c_size_t]
_libc.free.restype = None
_libc.free.argtypes = [ctypes.c_void_p]


class ExactBuffer:
    """values stored as ctype in a malloc'd block of exactly their size, so
    that reading past them is caught by AddressSanitizer."""

    def __init__(self, ctype, values):
        self.address = _libc.malloc(max(1, ctypes.sizeof(ctype) * len(values)))
        if not self.address:
            raise MemoryError
        (ctype * len(values)).from_address(self.address)[:] = values

    def __del__(self):
        _libc.free(self.address)
