"""The modules under unusual interpreter conditions: warnings that become
errors inside conversions, development mode and -W error in a fresh process,
a second interpreter, and hostile pickled data."""
import gc
import os
import pickle
import subprocess
import sys
import warnings
from pathlib import Path
from types import SimpleNamespace

import pytest

from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.raylib import kora_raylib as kr

Cache, unpickle = koracache.Cache, koracache.__pyx_unpickle_Cache
CHECKSUM, FONT = 198515892, CacheType.FONT
TEX = SimpleNamespace(id=1, width=4, height=2, mipmaps=1, format=7)


class IntSub(int): pass
class FloatSub(float): pass
class ListSub(list): pass
class SubCache(Cache): pass


class Legacy:
    """Converts through __int__ and __float__ to strict subclasses."""
    def __init__(self, number):
        self.number = number

    def __int__(self):
        return IntSub(self.number)

    def __float__(self):
        return FloatSub(self.number)


DEPRECATED = ("__int__ returned non-int (type IntSub).  The ability to return an instance of a strict subclass "
              "of int is deprecated, and may be removed in a future version of Python.")


def is_deprecation(text, site):
    """The module's own text for integers; the interpreter's for floats."""
    if site.startswith("float"):
        return "FloatSub" in text and text.endswith(DEPRECATED[DEPRECATED.index(" is deprecated"):])
    return text == DEPRECATED


CACHE = Cache()
RT, SHADER = SimpleNamespace(texture=TEX, depth=TEX), SimpleNamespace(id=1, locs=0)
# Conversion sites given a deprecated number: (call, raylib call made when the warning is only shown).
SITES = {
    "int argument": (lambda rec: kr.begin_blend_mode(Legacy(3)), ("BeginBlendMode", 3)),
    "int value": (lambda rec: kr.set_krshader_value_int(KrShader(1, 0), 2, Legacy(3)),
                  ("SetShaderValue", (1, 0), 2, 4, [3])),
    "unsigned attribute": (lambda rec: kr.begin_texture_mode(SimpleNamespace(id=Legacy(3), **vars(RT))),
                           ("BeginTextureMode", (3, (1, 4, 2, 1, 7), (1, 4, 2, 1, 7)))),
    "size_t attribute": (lambda rec: kr.begin_shader_mode(SimpleNamespace(id=1, locs=Legacy(3))),
                         ("BeginShaderMode", (1, 3))),
    "64-bit tuple item": (lambda rec: kr.set_shader_value(SHADER, 2, (Legacy(3),), 4),
                          ("SetShaderValue", (1, 0), 2, 4, [3])),
    "pointer table": (lambda rec: (kr.init_raylib_pointers({"EndBlendMode": Legacy(rec.addresses()["EndBlendMode"])}),
                                   kr.end_blend_mode()), ("EndBlendMode",)),
    "float argument": (lambda rec: kr.set_shader_value_float(SHADER, 2, Legacy(0.5)),
                       ("SetShaderValue", (1, 0), 2, 0, [0.5])),
    "float tuple item": (lambda rec: kr.clear_background((Legacy(3), 2, 1)), ("ClearBackground", (3, 2, 1, 255))),
    "cache key": (lambda rec: CACHE.set(SimpleNamespace(value=Legacy(3)), "set"), None),
    "clear_selected item": (lambda rec: CACHE.clear_selected(None, [SimpleNamespace(value=Legacy(3))]), None),
    "pickle checksum": (lambda rec: unpickle(Cache, Legacy(CHECKSUM), None), None),
}


@pytest.mark.parametrize("how", ["error", "always"])
@pytest.mark.parametrize("site", SITES)
def test_deprecated_conversion_result(rec, site, how):
    call, drawn = SITES[site]
    CACHE.__init__()
    CACHE.set(FONT, "kept")
    with warnings.catch_warnings(record=True) as shown:
        warnings.simplefilter(how)
        if how == "error":
            with pytest.raises(DeprecationWarning) as caught:
                call(rec)
            assert is_deprecation(str(caught.value), site)
            assert rec.calls() == [] and CACHE.get(FONT) == "kept"
            return
        call(rec)
    assert [is_deprecation(str(w.message), site) for w in shown] == [True]
    assert rec.calls() == ([drawn] if drawn else [])
    assert CACHE.get(FONT) == ("set" if site == "cache key" else None if site.startswith("clear") else "kept")


SMOKE = """
import gc, pickle, sys
from recorder import Recorder
from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache.koracache import Cache
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr
rec = Recorder()
kr.init_raylib_pointers(rec.addresses())
tex = type("Texture", (), dict(id=1, width=2, height=3, mipmaps=1, format=7))()
kr.begin_drawing(); kr.clear_background((1, 2, 3)); kr.draw_texture_krvec_ez(tex, KrVector2(1, 2), True)
kr.set_krshader_value_vec4_v(KrShader(1, 0), 1, [dict(x=1, y=2, z=3, w=4)]); kr.end_drawing()
for bad in (lambda: kr.draw_texture_rec(tex, [0], (0, 0), (1, 2, 3)), lambda: kr.begin_blend_mode(2**40),
            lambda: kr.get_shader_location(tex, "x"), lambda: Cache().get(None)):
    try:
        bad()
    except (TypeError, OverflowError, AttributeError):
        pass
    else:
        raise SystemExit("no error")
c = Cache(); c.set(CacheType.FONT, "x"); c.get_or_exec(CacheType.SIZE, lambda: 5); c.set(CacheType.RECT, c)
assert pickle.loads(pickle.dumps(c)).get(CacheType.FONT) == "x"
c.clear_selected([CacheType.FONT]); del c; gc.collect()
assert [line.split("|")[0] for line in rec.lines()] == ["BeginDrawing", "ClearBackground", "DrawTextureRec",
                                                       "SetShaderValueV", "EndDrawing"], rec.lines()
print("ok")
"""


def test_smoke_in_a_strict_interpreter():
    flags = ("-X", "dev", "-W", "error", "-X", "tracemalloc")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(Path(__file__).parent), os.environ.get("PYTHONPATH", "")]))
    done = subprocess.run([sys.executable, *flags, "-c", SMOKE], capture_output=True, text=True, env=env, timeout=300)
    assert (done.returncode, done.stdout, done.stderr) == (0, "ok\n", "")
