"""Property-based search where faults hide: Python code that a call runs
midway (a key's `value`, get_or_exec's func, a number's conversion, a
texture's attribute getter, the finaliser of a slot's old content) clears,
detaches, swaps or re-initialises the cache, or rebinds the module attributes
and raylib entries the call reads. Whatever happens, a call returns or raises
an exception with a message (never SystemError), raylib is called at most once
and never by a failing call, and the cache keeps a slot list or stays
detached. Under the sanitizer build, a slot list freed mid-call shows here."""
import contextlib
import os
from types import SimpleNamespace
from unittest import mock

from hypothesis import HealthCheck, given, settings, strategies as st

from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache as kc
from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr
from calls import CALLS
from conftest import slots
from recorder import Recorder
from test_reentrancy import Hooked  # its reads run world.hook(): the next action

Cache = kc.Cache
# Derandomized in `make test`; `make fuzz` sets KORA_FUZZ_EXAMPLES and a fresh
# --hypothesis-seed, which it prints so that a failure can be replayed.
EXAMPLES = {"release": 500, "debug": 150, "asan": 250}.get(os.environ.get("KORA_BUILD_VARIANT"), 500)
FUZZ = settings(max_examples=int(os.environ.get("KORA_FUZZ_EXAMPLES", EXAMPLES)), deadline=None, database=None,
                derandomize="KORA_FUZZ_EXAMPLES" not in os.environ, suppress_health_check=list(HealthCheck))
ADDRESSES = Recorder().addresses()
COLOUR = kr._base_color_krvec_ez


class World:
    """The cache under test and the actions hooks run, in the order drawn."""

    def __init__(self, cache, actions):
        self.cache, self.actions = cache, list(actions)

    def hook(self):
        if self.actions:
            ACTIONS[self.actions.pop(0)](self)


class Mortal:
    """Slot content whose finaliser runs the next action."""

    def __init__(self, world):
        self.world = world

    def __del__(self):
        with contextlib.suppress(Exception):  # a finaliser cannot raise
            self.world.hook()


def texture(world):
    fields = dict(id=1, width=4, height=2, mipmaps=1, format=7)
    return type("Texture", (), {n: property(lambda self, v=v: (world.hook(), v)[1]) for n, v in fields.items()})()


def refill(world):
    for i in (2, 3, 31):
        world.cache.set(SimpleNamespace(value=i), Mortal(world))


ACTIONS = {
    "clear": lambda w: w.cache.clear(), "clear selected": lambda w: w.cache.clear_selected(),
    "detach": lambda w: w.cache.__setstate__((None,)), "swap": lambda w: w.cache.__setstate__(([None] * 32,)),
    "shorten": lambda w: w.cache.__setstate__((["short"] * 3,)), "reinitialise": lambda w: Cache.__init__(w.cache),
    "refill": refill, "raise": lambda w: 1 / 0,
    "rebind CacheType": lambda w: setattr(kc, "CacheType", Hooked),
    "unbind CacheType": lambda w: vars(kc).pop("CacheType", None),
    "rebind colour": lambda w: setattr(kr, "_base_color_krvec_ez", KrRect(1, 2, 3, 4)),
    "unusable colour": lambda w: setattr(kr, "_base_color_krvec_ez", 5),
    "unbind colour": lambda w: vars(kr).pop("_base_color_krvec_ez", None),
    "null entries": lambda w: kr.init_raylib_pointers(dict.fromkeys(ADDRESSES, 0)),
    "restore entries": lambda w: kr.init_raylib_pointers(ADDRESSES),
}


def operation(data, w):
    """One call whose arguments carry the world's hooks."""
    key = lambda: Hooked(w.hook, data.draw(st.sampled_from([0, 2, 3, 5, 31, 32, -1])))  # noqa: E731
    num = lambda: Hooked(w.hook, data.draw(st.sampled_from([1.5, -2.0, 1e39])))  # noqa: E731
    c = w.cache
    ops = {
        "get": lambda: c.get(key()), "subscript": lambda: c[key()], "clear": c.clear, "copy": c.copy,
        "reduce": c.__reduce__, "set": lambda: c.set(key(), Mortal(w)),
        "get_or_set_val": lambda: c.get_or_set_val(key(), Mortal(w)),
        "get_or_exec": lambda: c.get_or_exec(key(), lambda: (w.hook(),
                                                             data.draw(st.sampled_from([None, Mortal(w)])))[1]),
        "member": lambda: getattr(c, data.draw(st.sampled_from(["FONT", "WIDGET", "value", "nope"]))),
        "clear_selected": lambda: c.clear_selected([key()], data.draw(st.sampled_from([None, [], "keys"])) == "keys"
                                                   and [key(), key()] or None),
        "setstate": lambda: c.__setstate__(([Mortal(w)] * data.draw(st.integers(0, 33)),)),
        "draw_texture_rec": lambda: kr.draw_texture_rec(texture(w), (0, 0, num(), 1), (num(), 0), (1, num(), 3)),
        "draw_texture_krvec_ez": lambda: kr.draw_texture_krvec_ez(texture(w), KrVector2(1, 2), Hooked(w.hook, 1.5)),
        "draw_texture_pro": lambda: kr.draw_texture_pro(texture(w), (0, 0, 1, 1), (0, 0, 1, 1), (0, 0), num(),
                                                        (1, 2, 3)),
        "clear_background": lambda: kr.clear_background((num(), 2, 3)),
        "float_v": lambda: kr.set_krshader_value_float_v(KrShader(1, 0), 0, [num(), num()]),
        "vec4_v": lambda: kr.set_krshader_value_vec4_v(KrShader(1, 0), 0, [dict(x=num(), y=1, z=2, w=num())]),
        "int": lambda: kr.set_krshader_value_int(KrShader(1, 0), Hooked(w.hook, 2), Hooked(w.hook, 3)),
        "table": lambda: table_call(data.draw(st.sampled_from(sorted(CALLS))), c),
    }
    return ops[data.draw(st.sampled_from(sorted(ops)))]


def table_call(name, cache):
    """A valid call of the shared table; a method runs on the world's cache."""
    args, kwargs = CALLS[name].args()
    if name.startswith("Cache.") and args and isinstance(args[0], Cache):
        args = (cache,) + args[1:]
    return CALLS[name].function()(*args, **kwargs)


@FUZZ
@given(data=st.data(), start=st.sampled_from(["attached", "detached", "restored", "subclass"]),
       actions=st.lists(st.sampled_from(sorted(ACTIONS)), max_size=6))
def test_hooks_that_change_the_cache_or_the_module_mid_call(recorder, data, start, actions):
    cache = {"attached": Cache, "detached": lambda: Cache.__new__(Cache), "subclass": type("Sub", (Cache,), {}),
             "restored": lambda: kc.__pyx_unpickle_Cache(Cache, 198515892, (["r"] * 5,))}[start]()
    world = World(cache, actions)
    kr.init_raylib_pointers(ADDRESSES)
    try:
        for _ in range(data.draw(st.integers(1, 4))):
            call = operation(data, world)
            recorder.reset()
            try:
                call()
            except Exception as exc:
                assert not isinstance(exc, SystemError), repr(exc)
                assert str(exc) or isinstance(exc, (KeyError, AttributeError)), repr(exc)
                assert recorder.count() == 0, "raylib called by a failing call"
            else:
                assert recorder.count() <= 1
            pending, world.actions = world.actions, []  # (the collector may run finalisers meanwhile)
            # (pickling reads __dict__, which asks Cache.__getattr__, which reads CacheType)
            with mock.patch.object(kc, "CacheType", CacheType, create=True):
                assert slots(cache) is None or type(slots(cache)) is list
            world.actions = pending
    finally:
        world.actions.clear()
        kc.CacheType, kr._base_color_krvec_ez = CacheType, COLOUR
        kr.init_raylib_pointers(ADDRESSES)
        del world.cache
