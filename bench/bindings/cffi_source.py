"""Writes the C source of kr_bench_cffi: DrawTextureRec bound with cffi's
out-of-line API mode (the mode cffi recommends for speed: a compiled module
that calls the function directly, no libffi on the call). The benchmark's
no-op raylib provides the symbol; tools/bench.sh compiles the source.

    python cffi_source.py OUT.c
"""
import sys

import cffi

ffi = cffi.FFI()
ffi.cdef("""
    typedef struct { unsigned int id; int width, height, mipmaps, format; } Texture2D;
    typedef struct { float x, y, width, height; } Rectangle;
    typedef struct { float x, y; } Vector2;
    typedef struct { unsigned char r, g, b, a; } Color;
    void DrawTextureRec(Texture2D texture, Rectangle source, Vector2 position, Color tint);
""")
ffi.set_source("kr_bench_cffi", '#include "raylib.h"')

if __name__ == "__main__":
    ffi.emit_c_code(sys.argv[1])
