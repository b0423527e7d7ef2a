"""Property-based robustness of every Python-visible entry point: whatever
Python hands in, a call returns or raises an exception that carries a message,
raylib is never called after a failure (at most once otherwise), and a Cache
keeps its slots when an operation fails."""
import os
import warnings
from types import SimpleNamespace

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache
from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krrendertex.kr_render_tex import KrRenderTexture
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr
from conftest import slots
from recorder import Recorder

Cache, CHECKSUM = koracache.Cache, 198515892
VARIANT = os.environ.get("KORA_BUILD_VARIANT", "release")
for _variant, _examples in (("release", 60), ("debug", 20), ("asan", 15)):
    settings.register_profile(f"kora-fuzz-{_variant}", max_examples=_examples, deadline=None, database=None,
                              suppress_health_check=list(HealthCheck))
FUZZ = settings.get_profile(f"kora-fuzz-{VARIANT if VARIANT in ('debug', 'asan') else 'release'}")
RAYLIB = sorted(n for n, v in vars(kr).items() if type(v) is type(kr.end_drawing))
ADDRESSES = Recorder().addresses()


def params(function):
    code = function.__code__
    return code.co_varnames[:code.co_argcount]


class Boom(Exception):
    pass


def boom(*_args, **_kwargs):
    raise Boom("hostile hook")


def unhashable(_self):
    raise TypeError("hostile hash")


class IntSub(int): pass
class FloatSub(float): pass
class StrSub(str): pass
class TupleSub(tuple): pass
class DictSub(dict): pass
class VecSub(KrVector2): pass
class RectSub(KrRect): pass
class ShaderSub(KrShader): pass
class SubCache(Cache): pass
class BadEqStr(str): __hash__, __eq__ = str.__hash__, boom
class BadVec(KrVector2): x = property(boom)


READ = {"id", "width", "height", "mipmaps", "format", "locs", "texture", "depth", "x", "y", "value", "keys"}


def reading(result):
    """An attribute getter answering result() for the names the modules read."""
    return lambda self, name: result() if name in READ else object.__getattribute__(self, name)


def hostile(**hooks):
    return type("Hostile", (), hooks)()


HOSTILE = [
    hostile(__int__=boom), hostile(__int__=lambda s: 1.5), hostile(__int__=lambda s: IntSub(3)),
    hostile(__index__=boom), hostile(__index__=lambda s: 2**70), hostile(__float__=boom),
    hostile(__float__=lambda s: 1), hostile(__float__=lambda s: FloatSub(2.5)), hostile(__bool__=boom),
    hostile(__getattribute__=reading(boom)), hostile(__getattribute__=reading(lambda: "odd")),
    hostile(__getitem__=boom, keys=boom), hostile(__getitem__=lambda s, k: {}[k]), hostile(__iter__=boom),
    hostile(__iter__=lambda s: iter([1.0, {}])), hostile(__len__=boom, __iter__=boom), hostile(__length_hint__=boom),
    hostile(__length_hint__=lambda s: 2**62, __iter__=lambda s: iter(())),  # reserving that much must fail cleanly
    hostile(__length_hint__=lambda s: -1, __iter__=lambda s: iter(())),
    hostile(__call__=boom), hostile(__call__=lambda s: CacheType.FONT), hostile(__eq__=boom, __hash__=unhashable),
    BadVec(1, 2),
]
INTS = st.one_of(st.integers(), st.builds(IntSub, st.integers()),
                 st.sampled_from([0, -1, 31, 32, 2**31, -2**31 - 1, 2**32, 2**63, 2**64, -2**64, 10**40, True]))
FLOATS = st.one_of(st.floats(), st.builds(FloatSub, st.floats()), st.sampled_from([1e308, 3.5e38, -3.5e38]))
PEERS = st.one_of(st.builds(KrVector2, FLOATS, FLOATS), st.builds(VecSub, FLOATS, FLOATS),
                  st.builds(KrRect, FLOATS, FLOATS, FLOATS, FLOATS), st.builds(RectSub),
                  st.builds(KrShader, st.integers(0, 2**32 - 1), st.integers(0, 2**64 - 1)),
                  st.builds(ShaderSub), st.builds(KrRenderTexture))
SCALARS = st.one_of(INTS, FLOATS, st.text(max_size=6), st.sampled_from(["\ud800", "a\0b", "", StrSub("x")]),
                    st.binary(max_size=6), st.none(), PEERS, st.sampled_from(HOSTILE), st.sampled_from(list(CacheType)))
ANY = st.recursive(SCALARS, lambda inner: st.one_of(
    st.lists(inner, max_size=6), st.lists(inner, max_size=6).map(tuple), st.lists(inner, max_size=3).map(TupleSub),
    st.dictionaries(st.sampled_from("xyzw"), inner, max_size=5).map(lambda d: DictSub(d) if len(d) % 2 else d)),
    max_leaves=5)
NUM = st.one_of(st.integers(-2**40, 2**40), st.floats(-1e6, 1e6), FLOATS, SCALARS)
INTISH = st.one_of(st.integers(-2**33, 2**33), SCALARS)


def tup(lo, hi, items=NUM):
    return st.lists(items, min_size=lo, max_size=hi).map(tuple)


TEX_FIELDS = ("id", "width", "height", "mipmaps", "format")
TEXTURE = st.one_of(st.fixed_dictionaries({f: st.integers(-2**31, 2**31 - 1) for f in TEX_FIELDS}),
                    st.dictionaries(st.sampled_from(TEX_FIELDS), INTISH)).map(lambda d: SimpleNamespace(**d))
VEC4 = st.fixed_dictionaries({k: NUM for k in "xyzw"})
GOOD = {  # plausible values per parameter name, to get past the argument checks
    "texture": TEXTURE, "target": st.builds(SimpleNamespace, id=INTISH, texture=TEXTURE, depth=TEXTURE),
    "shader": st.one_of(st.builds(SimpleNamespace, id=INTISH, locs=INTISH), PEERS),
    "source_rec": tup(0, 6), "dest_rec": tup(3, 5), "origin": tup(0, 3), "position": st.one_of(tup(0, 3), PEERS),
    "color": st.one_of(tup(0, 5), PEERS), "value": st.one_of(tup(0, 6), PEERS, NUM),
    "rotation": NUM, "mode": INTISH, "loc_index": INTISH, "uniform_type": INTISH,
    "name": st.one_of(st.text(max_size=8), SCALARS),
    "values": st.one_of(st.lists(st.one_of(VEC4, NUM), max_size=5), tup(0, 5, st.one_of(VEC4, NUM)),
                        st.lists(VEC4, max_size=3).map(iter)),
    "type": st.one_of(st.sampled_from(list(CacheType)), st.builds(SimpleNamespace, value=st.integers(-2, 40)),
                      st.builds(SimpleNamespace, value=INTISH)),
    "func": st.sampled_from([lambda: 7, lambda: None, boom, CacheType, "not callable"]),
    "__pyx_state": tup(0, 3, st.one_of(st.lists(NUM, max_size=40), st.none(), ANY)),
}
GOOD["blacklist"] = GOOD["whitelist"] = st.lists(GOOD["type"], max_size=4)
ENTRY = st.sampled_from(list(ADDRESSES))


def table(pairs):
    """A pointer table; None stands for the recorder's own address (restored after each call)."""
    pointers = {}
    for key, value in pairs:
        try:  # a key that raises on comparison cannot join an equal one
            pointers[key] = ADDRESSES.get(str.__str__(key)) if value is None else value
        except Boom:
            pass
    return pointers


GOOD["pointers"] = st.lists(st.tuples(
    st.one_of(ENTRY, ENTRY.map(str.lower), st.text(max_size=4), ENTRY.map(StrSub), ENTRY.map(BadEqStr)),
    st.one_of(st.none(), st.sampled_from([0, -1, 2**64, 2**70, 1.5, "x", b"", IntSub(0)] + HOSTILE))), max_size=6,
).map(table)
NAMES = sorted({p for f in RAYLIB for p in params(getattr(kr, f))} | set(GOOD))
KEYWORD = st.one_of(st.sampled_from(NAMES), st.text(max_size=5), st.sampled_from(NAMES).map(StrSub),
                    st.sampled_from(NAMES).map(BadEqStr))


def arguments(data, names):
    """Mostly plausible values in the right places, anything anywhere, wrong
    counts, and keywords that repeat, misspell or shadow parameter names."""
    npos = data.draw(st.integers(0, len(names) + 2))
    args = [data.draw(st.one_of(GOOD.get(p, ANY), GOOD.get(p, ANY), ANY)) for p in (names + ("", ""))[:npos]]
    kwargs = {p: data.draw(st.one_of(GOOD.get(p, ANY), ANY)) for p in names[npos:] if data.draw(st.booleans())}
    for key in data.draw(st.lists(KEYWORD, max_size=2)):
        try:  # a key that raises on comparison cannot join an equal one
            kwargs[key] = data.draw(ANY)
        except Boom:
            pass
    return args, kwargs


def checked(recorder, call, filter="ignore"):
    """Runs call(); ("ok", result) or ("error", exception)."""
    recorder.reset()
    try:
        with warnings.catch_warnings():
            warnings.simplefilter(filter)
            result = call()
    except Exception as exc:
        assert not isinstance(exc, SystemError), repr(exc)
        assert str(exc), f"{type(exc).__name__} raised without a message"
        assert recorder.count() == 0, "raylib called by a failing call"
        return "error", exc
    assert recorder.count() <= 1
    return "ok", result


@pytest.fixture(scope="module")
def installed(recorder):
    kr.init_raylib_pointers(ADDRESSES)
    yield recorder
    kr.init_raylib_pointers(ADDRESSES)


@pytest.mark.parametrize("name", RAYLIB)
@FUZZ
@given(data=st.data(), filter=st.sampled_from(["ignore", "error"]),
       colour=st.sampled_from([None, "keep", 5, RectSub(1, 2, 3, 4), "delete"]))
def test_raylib_function_survives_any_arguments(installed, name, data, filter, colour):
    function, saved = getattr(kr, name), kr._base_color_krvec_ez
    args, kwargs = arguments(data, params(function))
    if colour == "delete":
        del kr._base_color_krvec_ez
    elif colour != "keep":
        kr._base_color_krvec_ez = colour
    try:
        outcome, result = checked(installed, lambda: function(*args, **kwargs), filter)
    finally:
        kr._base_color_krvec_ez = saved
        kr.init_raylib_pointers(ADDRESSES)
    assert outcome == "error" or result is None or (name.startswith("get_") and type(result) is int)


VALID = {"texture": SimpleNamespace(id=1, width=4, height=2, mipmaps=1, format=7), "shader": KrShader(1, 0),
         "loc_index": 1, "uniform_type": 4, "flip": True, "rotation": 0.5, "values": [1.0], "name": "n"}
NEEDS = {"source_rec": 4, "dest_rec": 4, "origin": 2, "position": 2, "color": 3, "value": 0,
         "vec2": 2, "vec4": 4}
TUPLE_PARAMS = [(f, p) for f in RAYLIB for p in params(getattr(kr, f)) if p in NEEDS
                and not ("krvec" in f and p in ("position", "color", "value")) and not f.endswith(("float", "int"))]


@pytest.mark.parametrize("length", range(6))
@pytest.mark.parametrize("name, param", TUPLE_PARAMS)
def test_tuples_of_every_length(installed, name, param, length):
    """Short tuples raise IndexError before raylib; items past the needed ones are never read."""
    function = getattr(kr, name)
    valid = {p: (1.0,) * 4 if p in NEEDS else VALID[p] for p in params(function)}
    valid[param] = tuple(float(i) for i in range(length))
    need = NEEDS[next((k for k in ("vec2", "vec4") if k in name), param)] if param == "value" else NEEDS[param]
    outcome, result = checked(installed, lambda: function(**valid))
    assert (outcome, type(result)) == (("ok", type(None)) if length >= need else ("error", IndexError))



METHODS = ["clear", "clear_selected", "get", "set", "get_or_set_val", "get_or_exec", "copy", "__deepcopy__",
           "__getattr__", "__reduce__", "__setstate__", "__init__", "subscript", "getattr", "via class"]


def cache_call(data, cache, method):
    """(call, the state given to __setstate__ or None)."""
    if method == "subscript":
        key = data.draw(st.one_of(GOOD["type"], ANY))
        return (lambda: cache[key]), None
    if method == "getattr":
        name = data.draw(st.one_of(st.sampled_from([m.name for m in CacheType] + METHODS), st.text(min_size=1)))
        return (lambda: getattr(cache, name)), None
    if method == "via class":  # the first argument is not a Cache
        function, args = getattr(Cache, data.draw(st.sampled_from(METHODS[:11]))), data.draw(st.lists(ANY, max_size=3))
        return (lambda: function(*args)), None
    function = getattr(cache, method)
    args, kwargs = arguments(data, () if method == "__init__" else params(function)[1:])
    given = args + [v for k, v in kwargs.items() if type(k) is not BadEqStr and k == "__pyx_state"]
    state = given[0] if method == "__setstate__" and len(args) + len(kwargs) == 1 and given else None
    return (lambda: function(*args, **kwargs)), state


@settings(FUZZ, max_examples=FUZZ.max_examples * 5)
@given(data=st.data(), kind=st.sampled_from(["plain", "detached", "restored", "subclass"]),
       contents=st.lists(st.one_of(st.none(), st.integers(), st.text(max_size=3)), max_size=40))
def test_cache_keeps_its_slots_on_any_failure(installed, data, kind, contents):
    if kind == "detached":
        cache = Cache.__new__(Cache)
    elif kind == "restored":
        cache = koracache.__pyx_unpickle_Cache(Cache, CHECKSUM, (list(contents),))
    else:
        cache = SubCache() if kind == "subclass" else Cache()
        for i, item in enumerate(contents[:32]):
            cache.set(SimpleNamespace(value=i), item)
        if kind == "subclass":
            cache.note = "kept"
    for _ in range(data.draw(st.integers(1, 4))):
        method = data.draw(st.sampled_from(METHODS))
        call, state = cache_call(data, cache, method)
        before = slots(cache)
        saved = None if before is None else list(before)
        outcome, result = checked(installed, call, data.draw(st.sampled_from(["ignore", "error"])))
        after = slots(cache)
        if outcome == "ok":
            continue
        assert method != "via class" or isinstance(result, TypeError)
        if type(state) is tuple and len(state) > 1 and (state[0] is None or type(state[0]) is list):
            assert after is state[0]  # replaced before the dictionary update failed
            continue
        assert after is before, f"{method} replaced the slot list and failed"
        assert saved is None or (len(after) == len(saved) and all(a is b for a, b in zip(after, saved)))

