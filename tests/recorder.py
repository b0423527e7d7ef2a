"""ctypes side of libkr_recorder.so: stand-ins for the raylib functions the
call layer uses (the rows of its entry list, see tools/raylib_ctypes.py),
which log every call with its by-value arguments."""

import ctypes
import os
import pathlib
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
# The entry names and parameter types live with the real-raylib loader in tools/.
sys.path.insert(0, str(ROOT / "tools"))
from raylib_ctypes import ENTRIES, ENTRY_NAMES  # noqa: E402

NATIVE_DIR = pathlib.Path(os.environ.get("KORA_NATIVE_DIR") or ROOT / "build" / "native")
DATA = "const void *"


def f32(x):
    """x rounded to the nearest float32, as a Python float."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


def _numbers(convert):
    return lambda group: tuple(convert(v) for v in group.split())


def _render_texture(group):
    values = _numbers(int)(group)
    return values[0], values[1:6], values[6:]


# How the group of a parameter decodes, by the parameter's C type.
_DECODE = {
    "int": int, "float": float, "const char *": lambda group: group[1:] if group.startswith('"') else None,
    "Vector2": _numbers(float), "Rectangle": _numbers(float), "Color": _numbers(int), "Texture2D": _numbers(int),
    "RenderTexture2D": _render_texture, "Shader": _numbers(int),
}


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
        self.lib = ctypes.CDLL(str(path or NATIVE_DIR / "libkr_recorder.so"))
        for name, restype, *argtypes in [("rec_reset", None), ("rec_count", ctypes.c_int),
                                          ("rec_get", ctypes.c_char_p, ctypes.c_int),
                                          ("rec_map_location", None, ctypes.c_char_p, ctypes.c_int)]:
            getattr(self.lib, name).restype, getattr(self.lib, name).argtypes = restype, argtypes
        self._addresses = {name: ctypes.c_void_p.in_dll(self.lib, "rec_" + name).value for name in ENTRY_NAMES}

    def addresses(self):
        """raylib function name -> address of its recording stand-in."""
        return dict(self._addresses)

    def reset(self):
        """Forget all calls; GetShaderLocation returns -1 for every name again."""
        self.lib.rec_reset()

    def count(self):
        return self.lib.rec_count()

    def calls(self):
        return [_parse(self.lib.rec_get(i).decode()) for i in range(self.count())]

    def set_location(self, result):
        """What GetShaderLocation returns for names not given to map_location."""
        self.lib.rec_map_location(None, result)

    def map_location(self, name, result):
        self.lib.rec_map_location(name.encode(), result)
