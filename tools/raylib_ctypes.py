"""raylib's records as ctypes structures (layouts as in raylib.h) and the
raylib functions that the call layer reaches, shared by the real-raylib loader
(realraylib.py, used by the demo and the pixel tests), the recording raylib of
the tests (tests/recorder.py) and the benchmarks.

The functions are the rows of the entry list KORA_RAYLIB_ENTRIES in
kora_raylib.h, which the build writes to raylib_entries.json beside the
package tree (tools/gen_raylib_entries.py): build/raylib_entries.json for
build/python, build/<variant>/raylib_entries.json for build/<variant>/python.
The file is found from the kora_ui package that the process imports.

    ENTRIES       {name: Entry(name, result, params)} in the list's order,
                  types as C texts ("Texture2D", "const char *")
    ENTRY_NAMES   the names, in the list's order
    prototype(n)  (restype, *argtypes) of function n as ctypes types
"""

import collections
import ctypes
import json
import pathlib


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


# The ctypes type of each C type the entry list uses.
CTYPES = {
    "void": None, "int": ctypes.c_int, "float": ctypes.c_float,
    "const void *": ctypes.c_void_p, "const char *": ctypes.c_char_p,
    "Vector2": Vector2, "Rectangle": Rectangle, "Color": Color, "Texture2D": Texture2D,
    "RenderTexture2D": RenderTexture2D, "Shader": Shader,
}

Entry = collections.namedtuple("Entry", "name result params")


def entries_file():
    import kora_ui

    return pathlib.Path(kora_ui.__file__).resolve().parent.parent.parent / "raylib_entries.json"


def _load():
    path = entries_file()
    try:
        rows = json.loads(path.read_text())
    except FileNotFoundError:
        raise RuntimeError(f"{path} is missing: build the package tree first (make build)") from None
    return {row["name"]: Entry(row["name"], row["result"], tuple(row["params"])) for row in rows}


ENTRIES = _load()
ENTRY_NAMES = tuple(ENTRIES)


def prototype(name):
    entry = ENTRIES[name]
    return (CTYPES[entry.result], *(CTYPES[p] for p in entry.params))
