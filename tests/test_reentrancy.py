"""Python code that runs in the middle of a call and re-enters the modules:
attribute getters, numeric conversions, keyword comparisons, `value`
properties, get_or_exec functions and finalisers run by slot releases. Every
call ends with a result or a clean exception and leaves consistent state."""
import gc
import sys
from types import SimpleNamespace

import pytest

from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache
from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr
from conftest import slots
from test_frame_args import COL, POS, SRC, TEX

Cache, FONT = koracache.Cache, CacheType.FONT  # FONT is slot 3
NONE_SUB = "'NoneType' object is not subscriptable"


class Hooked:
    """A number, and a slot key through `value`; each read runs hook() first."""

    def __init__(self, hook, number=1.0):
        self.hook, self.number = hook, number

    def read(self, convert=lambda n: n):
        self.hook()
        return convert(self.number)

    value = property(read)
    __float__ = lambda self: self.read(float)  # noqa: E731
    __int__ = __index__ = lambda self: self.read(int)  # noqa: E731
    __bool__ = lambda self: self.read(lambda n: True)  # noqa: E731


class HookedTexture:
    id, height, mipmaps, format = 7, 8, 1, 7
    width = property(lambda self: (self.hook(), 16)[1])


class HookedVec(KrVector2):
    x = property(lambda self: (self.hook(), 1.0)[1])


class HookedStr(str):
    __hash__ = str.__hash__
    __eq__ = lambda self, other: (self.hook(), str.__eq__(self, other))[1]  # noqa: E731


def hooked(cls, hook, *args):
    obj = cls(*args)
    obj.hook = hook
    return obj


SITES = {  # where a hook runs inside a call -> the raylib entry the call ends in
    "texture getter": ("DrawTextureRec", lambda h: kr.draw_texture_rec(hooked(HookedTexture, h), SRC, POS, COL)),
    "position item": ("DrawTextureRec", lambda h: kr.draw_texture_rec(TEX, SRC, (Hooked(h), 2), COL)),
    "KrVector2.x": ("DrawTextureRec", lambda h: kr.draw_texture_krvec(TEX, hooked(HookedVec, h, 1, 2), KrRect(), 0)),
    "rotation": ("DrawTexturePro", lambda h: kr.draw_texture_pro(TEX, SRC, SRC, POS, Hooked(h, 45), COL)),
    "shader id": ("SetShaderValue",
                  lambda h: kr.set_shader_value(SimpleNamespace(id=Hooked(h, 3), locs=0), 1, (1,), 4)),
    "vec4 item": ("SetShaderValueV",
                  lambda h: kr.set_krshader_value_vec4_v(KrShader(), 2, [dict(x=Hooked(h), y=2, z=3, w=4)])),
    "keyword": ("DrawTextureRec", lambda h: kr.draw_texture_rec(TEX, SRC, POS, **{hooked(HookedStr, h, "color"): COL})),
    # these read the module's colour before the hook runs: it must stay alive if the hook drops it
    "ez texture getter": ("DrawTextureRec",
                          lambda h: kr.draw_texture_krvec_ez(hooked(HookedTexture, h), KrVector2(0, 0), False)),
    "ez KrVector2.x": ("DrawTextureRec",
                       lambda h: kr.draw_texture_krvec_ez(TEX, hooked(HookedVec, h, 0, 0), False)),
}
COLOUR = kr._base_color_krvec_ez


def drop_colour(rebind):
    if rebind:
        kr._base_color_krvec_ez = KrRect(9, 9, 9, 9)
    else:
        del kr._base_color_krvec_ez
    gc.collect()


@pytest.mark.parametrize("site", SITES)
@pytest.mark.parametrize("action", ["nested call", "same table", "empty table", "collect", "unset entry", "recursion",
                                    "rebind colour", "delete colour"])
def test_raylib_call_reentered_mid_call(rec, site, action):
    entry, call = SITES[site]
    addresses = rec.addresses()
    hook = {"nested call": lambda: kr.clear_background((1, 2, 3)),
            "same table": lambda: kr.init_raylib_pointers(addresses),
            "empty table": lambda: kr.init_raylib_pointers({}), "collect": gc.collect,
            "unset entry": lambda: kr.init_raylib_pointers({entry: 0}), "recursion": lambda: call(hook),
            "rebind colour": lambda: drop_colour(True), "delete colour": lambda: drop_colour(False)}[action]
    kr._base_color_krvec_ez = KrRect(1, 2, 3, 4)  # held by the module alone
    try:
        if action in ("unset entry", "recursion"):
            with pytest.raises(RuntimeError, match=entry if action == "unset entry" else "recursion"):
                call(hook)
            assert rec.calls() == []
        else:
            call(hook)
            assert [c[0] for c in rec.calls()] == ["ClearBackground"] * (action == "nested call") + [entry]
            assert not site.startswith("ez") or rec.calls()[-1][-1] == (1, 2, 3, 4)
    finally:
        kr.init_raylib_pointers(addresses)
        kr._base_color_krvec_ez = COLOUR


# ---------------------------------------------------------------------------
# Cache

class SpoofKey(Hooked):
    """Slot 3's key, which passes isinstance(key, CacheType)."""
    __class__ = property(lambda self: CacheType)

    def __init__(self, hook):
        Hooked.__init__(self, hook, 3)


NEW = type("Payload", (), {})()
MUTATIONS = {
    "collect": lambda c: gc.collect(), "nested": lambda c: c.get_or_exec(FONT, lambda: "inner"),
    "clear": lambda c: c.clear(), "reinit": lambda c: c.__init__(),
    "detach": lambda c: c.__setstate__((None,)), "shrink": lambda c: c.__setstate__(([],)),
}
OPS = {  # the key's hook runs while the operation reads it (in "func": inside get_or_exec's func)
    "get": lambda c, k: c.get(k), "set": lambda c, k: c.set(k, NEW), "subscript": lambda c, k: c[k],
    "get_or_set_val": lambda c, k: c.get_or_set_val(k, NEW), "get_or_exec": lambda c, k: c.get_or_exec(k, lambda: NEW),
    "func": lambda c, k: (c.set(FONT, None), c.get_or_exec(FONT, lambda: (k.hook(), NEW)[1]))[1],
    "keyword": lambda c, k: c.get_or_set_val(**{hooked(HookedStr, k.hook, "type"): FONT, "value": NEW}),
    "blacklist": lambda c, k: c.clear_selected([k]), "whitelist": lambda c, k: c.clear_selected(None, [k]),
}
# (result, slot 3 afterwards) when the hook leaves slot 3 alone, or empties it.
KEPT = {"get": "old", "set": (None, NEW), "get_or_set_val": "old", "get_or_exec": "old", "func": NEW,
        "subscript": "old", "keyword": "old", "blacklist": (None, "old"), "whitelist": (None, None)}
EMPTIED = dict(KEPT, get=(None, None), get_or_set_val=NEW, get_or_exec=NEW, subscript=None, keyword=NEW,
               blacklist=(None, None))


@pytest.mark.parametrize("op", OPS)
@pytest.mark.parametrize("mutation", MUTATIONS)
def test_hook_changes_the_cache_mid_operation(mutation, op):
    cache, refs = Cache(), sys.getrefcount(NEW)
    cache.set(FONT, "old")
    key = SpoofKey(lambda: MUTATIONS[mutation](cache))
    if mutation in ("detach", "shrink"):
        try:
            OPS[op](cache, key)
            assert mutation == "shrink" and op in ("blacklist", "whitelist")  # no slot to clear
        except (TypeError, IndexError) as exc:
            assert (type(exc), str(exc)) == (TypeError, NONE_SUB) or (
                mutation == "shrink" and type(exc) is IndexError and str(exc))
        assert slots(cache) == (None if mutation == "detach" else [])
        assert sys.getrefcount(NEW) == refs  # nothing stored or leaked
    else:
        expected = (KEPT if mutation in ("collect", "nested") else EMPTIED)[op]
        result = OPS[op](cache, key)
        assert (result, slots(cache)[3]) == (expected if type(expected) is tuple else (expected, expected))


class Finaliser:
    """Runs action() once, when released."""
    ran = []

    def __init__(self, action):
        self.action = action

    def __del__(self):
        if not Finaliser.ran:
            Finaliser.ran.append(self)
            self.action()


ACTIONS = {
    "clear": lambda c: c.clear(), "set": lambda c: c.set(CacheType.WIDGET, Finaliser(lambda: None)),
    "replace list": lambda c: c.__setstate__(([Finaliser(lambda: None)] * 32,)),
    "detach": lambda c: c.__setstate__((None,)), "shrink": lambda c: c.__setstate__(([],)),
    "shrink live list": lambda c: slots(c).clear(), "collect": lambda c: gc.collect(),
}
TRIGGERS = {
    "clear": lambda c: c.clear(), "clear_selected": lambda c: c.clear_selected(),
    "set": lambda c: c.set(CacheType.TEXTURE, "new"), "__init__": lambda c: c.__init__(),
    "__setstate__": lambda c: c.__setstate__(([None] * 32,)),
    # func moves a finaliser into the slot, which the computed value then replaces
    "get_or_exec": lambda c: c.get_or_exec(CacheType.IMAGE, lambda: (
        c.set(CacheType.IMAGE, c.get(CacheType.TEXTURE)), c.set(CacheType.TEXTURE, None), "computed")[2]),
}


@pytest.mark.parametrize("trigger", TRIGGERS)
@pytest.mark.parametrize("action", ACTIONS)
def test_finaliser_run_by_a_slot_release_changes_the_cache(trigger, action):
    gc.collect()
    Finaliser.ran.clear()
    cache = Cache()
    for member in list(CacheType)[:6]:
        cache.set(member, Finaliser(lambda: ACTIONS[action](cache)))
    before = slots(cache) if "clear" in trigger else None  # (held, the list outlives a replacement)
    try:
        TRIGGERS[trigger](cache)
    except (TypeError, IndexError) as exc:  # the slot list went away or shrank mid-way
        assert str(exc) and action in ("detach", "shrink", "shrink live list")
        assert "clear" in trigger or trigger == "get_or_exec"
        if action == "detach" and "clear" in trigger:  # clearing stops at slot 0, whose finaliser detached it
            assert str(exc) == NONE_SUB and slots(cache) is None
            assert before[0] is None and all(type(o) is Finaliser for o in before[1:6])
    else:
        assert not ("clear" in trigger and action == "detach")
    assert len(Finaliser.ran) == 1
    if action == "clear":
        assert slots(cache) == [None] * 32
    cache.__init__()  # also breaks the cycle through the finalisers
    cache.set(FONT, "usable")
    assert cache.get(FONT) == "usable" and cache[FONT] == "usable"


@pytest.mark.parametrize("cls", [Cache, type("Sub", (Cache,), {})])
@pytest.mark.parametrize("resurrect", [False, True])
def test_collector_finalises_slot_contents_that_use_the_dying_cache(resurrect, cls):
    saved, finalised = [], []

    class Owner:
        def __init__(self, cache):
            self.cache = cache

        def __del__(self):
            self.cache.set(FONT, "late")
            self.cache.clear_selected([FONT])
            gc.collect()  # ignored while collecting; must not disturb it
            finalised.append(slots(self.cache))
            if resurrect:
                saved.append(self.cache)
    cache = cls()
    cache.set(CacheType.TEXTURE, Owner(cache))
    assert slots(cache) in gc.get_referents(cache)
    del cache
    gc.collect()
    assert len(finalised) == 1 and finalised[0][CacheType.TEXTURE.value] is None
    if resurrect:
        assert (saved[0].get(FONT), saved[0].get(CacheType.TEXTURE)) == ("late", None)
        saved.clear()
        gc.collect()


@pytest.mark.parametrize("change", ["shrink", "grow"])
@pytest.mark.parametrize("target", ["blacklist", "whitelist", "float_v", "vec4_v"])
def test_list_changed_while_being_walked(rec, target, change):
    """The first item's conversion empties the list (which alone holds that
    item) or appends to it; the walk follows the list's current length."""
    def edit():
        if not edited:
            edited.append(walked.clear() if change == "shrink" else walked.append(tail))

    class EditingMapping(dict):
        def __getitem__(self, key):
            edit()
            return dict.__getitem__(self, key)
    edited, shader, grow = [], KrShader(1, 0), change == "grow"
    if target == "float_v":
        walked, tail = [Hooked(edit, 1.5), 2.0], 3.0
        kr.set_krshader_value_float_v(shader, 2, walked)
        expected = [1.5] + [2.0, 3.0] * grow
    elif target == "vec4_v":
        walked, tail = [EditingMapping(x=1, y=2, z=3, w=4), dict(x=5, y=6, z=7, w=8)], dict(x=9, y=9, z=9, w=9)
        kr.set_krshader_value_vec4_v(shader, 2, walked)
        expected = [1, 2, 3, 4] + [5, 6, 7, 8, 9, 9, 9, 9] * grow
    else:
        walked, tail, cache = [SpoofKey(edit), CacheType.SHADER], CacheType.TEXTURE, Cache()
        members = {CacheType.TEXTURE, CacheType.SHADER, FONT}
        for member in members:
            cache.set(member, member.name)
        cache.clear_selected(*([walked] if target == "blacklist" else [None, walked]))
        named = {FONT} | ({CacheType.SHADER, CacheType.TEXTURE} if grow else set())
        assert {m for m in members if cache.get(m)} == (named if target == "blacklist" else members - named)
        return
    (call,) = rec.calls()
    assert call[-2:] == (len(expected) // (4 if target == "vec4_v" else 1), expected)
