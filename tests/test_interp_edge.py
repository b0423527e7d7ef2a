"""Deprecated conversion results: warnings that become errors inside
conversions. (Development mode with -W error is the debug run of the suite.)"""
import warnings
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
