"""ctypes side of libkr_recorder.so: stand-ins for the raylib functions the
call layer uses (the rows of its entry list, see tools/raylib_ctypes.py),
which log every call with its by-value arguments."""

import ctypes
import os
import pathlib
import struct
import sys

# The records and entry names live with the real-raylib loader in tools/.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tools"))
from raylib_ctypes import ENTRIES, ENTRY_NAMES, prototype  # noqa: E402
from raylib_ctypes import Color, Rectangle, RenderTexture2D, Shader, Texture2D, Vector2  # noqa: E402,F401

NATIVE_DIR = pathlib.Path(
    os.environ.get("KORA_NATIVE_DIR")
    or pathlib.Path(__file__).resolve().parent.parent / "build" / "native"
)


def f32(x):
    """x rounded to the nearest float32, as a Python float."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


def _ints(group):
    return tuple(int(v) for v in group.split())


def _floats(group):
    return tuple(float(v) for v in group.split())


def _render_texture(group):
    values = _ints(group)
    return values[0], values[1:6], values[6:]


def _string(group):
    return group[1:] if group.startswith('"') else None


# How the group of a parameter decodes, by the parameter's C type.
_DECODE = {
    "int": int, "float": float, "const char *": _string, "Vector2": _floats, "Rectangle": _floats,
    "Color": _ints, "Texture2D": _ints, "RenderTexture2D": _render_texture, "Shader": _ints,
}
DATA = "const void *"


def _parse(line):
    name = line.split("|", 1)[0]
    params = ENTRIES[name].params
    shown = [p for p in params if p != DATA]
    groups = line.split("|", len(params))[1:]
    args = [_DECODE[p](g) for p, g in zip(shown, groups[:len(shown)], strict=True)]
    if DATA in params:  # the values, last, in the uniform type that follows the pointer
        values = groups[len(shown)]
        convert = float if 0 <= args[params.index(DATA)] <= 3 else int
        args.append(None if values == "null" else [convert(v) for v in values.split()])
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
        lib.rec_entry.restype = ctypes.c_char_p
        lib.rec_entry.argtypes = [ctypes.c_int, ctypes.POINTER(ctypes.c_size_t)]
        self.lib = lib
        self._addresses = {}
        address = ctypes.c_size_t()
        while name := lib.rec_entry(len(self._addresses), ctypes.byref(address)):
            self._addresses[name.decode()] = address.value
        if tuple(self._addresses) != ENTRY_NAMES:
            raise RuntimeError(f"the recorder's entries {tuple(self._addresses)} differ from {ENTRY_NAMES}")

    def addresses(self):
        """raylib function name -> address of its recording stand-in."""
        return dict(self._addresses)

    def function(self, name):
        """The stand-in for name as a ctypes function with raylib's signature."""
        return ctypes.CFUNCTYPE(*prototype(name))(self._addresses[name])

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
