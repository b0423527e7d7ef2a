"""The table of valid calls: one entry per Python-visible function of
kora_raylib, per Cache method and for __pyx_unpickle_Cache, in CALLS by names
such as "draw_texture_rec", "Cache.get", "__pyx_unpickle_Cache".

Plain Python, no pytest. Before a raylib entry is called, kora_raylib's raylib
entries must be set (the recording raylib of tests/recorder.py or a no-op one);
give the same addresses to `use_addresses` so that the init_raylib_pointers
entry installs them again instead of installing nothing.

    call.function()     the callable, looked up at each use (methods are taken
                        from the class, the instance is args[0])
    call.args()         fresh (args, kwargs) of a valid call, by position
    call.keywords()     the same with every parameter after the instance by
                        keyword, in declaration order (None where the
                        callable takes no keywords)
    call.variants       {label: builder} of further success paths (cache hit
                        and miss, other uniform types, ...), each returning
                        (args, kwargs) like call.args
    call(builder=None)  runs one call made by builder (default call.args)

Every builder makes new objects, none of them immortal: ints past the
small-int cache or of an int subclass, floats, tuples, lists and dicts built
per call, peer instances, and texture, shader and key objects whose attributes
are properties over values the object holds (reachable through vars(), so
that a test can read their reference counts).
"""
import operator

from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache
from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr

Cache = koracache.Cache
CHECKSUM = 198515892
SLOTS = 32
_ADDRESSES = {}


def use_addresses(addresses):
    """raylib function name -> address that the init_raylib_pointers entry installs."""
    _ADDRESSES.clear()
    _ADDRESSES.update(addresses)


class Int(int):
    """An int subclass: never immortal, whatever its value."""


def fresh_int(n):
    """A new int object equal to n (an Int for values the interpreter keeps immortal)."""
    return Int(n) if -5 <= n <= 256 else int(str(n))


def fresh_float(x):
    return float(repr(float(x)))


def floats(*values):
    return tuple(fresh_float(v) for v in values)


class Held:
    """An object whose attributes are read-only properties over values it holds."""

    _names = ()

    def __init__(self, *values):
        self._held = dict(zip(self._names, values, strict=True))


def _held(name, *fields, doc=None):
    props = {n: property(lambda self, n=n: self._held[n]) for n in fields}
    return type(name, (Held,), dict(props, _names=fields, __doc__=doc, __module__=__name__))


Texture = _held("Texture", "id", "width", "height", "mipmaps", "format")
RenderTexture = _held("RenderTexture", "id", "texture", "depth")
RawShader = _held("RawShader", "id", "locs")
Key = _held("Key", "value", doc="A cache key other than a CacheType member: `value` is a property.")


class Payload:
    """What the cache calls store: a fresh object of its own."""

    def __init__(self, tag=0):
        self.tag = fresh_int(1000 + tag)


class StateCache(Cache):
    """A Cache with an instance dict, for pickled states that carry one."""


def texture(id=3, width=64, height=32):
    return Texture(*(fresh_int(v) for v in (id, width, height, 1, 7)))


def render_texture():
    return RenderTexture(fresh_int(9), texture(4), texture(5, 16, 16))


def raw_shader():
    return RawShader(fresh_int(5), fresh_int(0))


def krshader():
    return KrShader(fresh_int(5), fresh_int(0))


def params(fn):
    """The parameter names of a function."""
    return fn.__code__.co_varnames[:fn.__code__.co_argcount]


def key(slot=3):
    return Key(Int(slot))


def member(slot=3):
    return CacheType(slot)


def filled_cache(*slots):
    cache = Cache()
    for slot in slots:
        cache.set(member(slot), Payload(slot))
    return cache


def slot_list():
    return [Payload(i) if i % 3 == 0 else None for i in range(SLOTS)]


def loc():
    return fresh_int(1001)


class Call:
    def __init__(self, name, function, args, variants=None, keywords=True):
        """args and each variant build a fresh tuple of positional arguments."""
        self.name, self.function, self._keywords = name, function, keywords
        self.args = lambda: (args(), {})
        self.variants = {label: lambda build=build: (build(), {}) for label, build in (variants or {}).items()}

    def keywords(self):
        """(args, kwargs) with the parameters after the instance by keyword."""
        if not self._keywords:
            return None
        args, kwargs = self.args()
        names = params(self.function())
        first = 1 if names[:1] == ("self",) else 0
        return args[:first], dict(zip(names[first:], args[first:], strict=True), **kwargs)

    def __call__(self, builder=None):
        args, kwargs = (builder or self.args)()
        return self.function()(*args, **kwargs)

    def __repr__(self):
        return f"Call({self.name})"


def _raylib(name, args, variants=None):
    return Call(name, lambda: getattr(kr, name), args, variants)


def _pointers():
    return {"".join(name): int(str(address)) for name, address in _ADDRESSES.items()}


def _vec4_dicts():
    return [dict(x=fresh_float(i), y=fresh_float(2), z=fresh_float(3), w=fresh_float(4)) for i in range(3)]


RAYLIB = [
    _raylib("init_raylib_pointers", lambda: (_pointers(),)),
    _raylib("begin_drawing", tuple),
    _raylib("end_drawing", tuple),
    _raylib("begin_blend_mode", lambda: (fresh_int(1),)),
    _raylib("end_blend_mode", tuple),
    _raylib("begin_texture_mode", lambda: (render_texture(),)),
    _raylib("end_texture_mode", tuple),
    _raylib("begin_shader_mode", lambda: (raw_shader(),)),
    _raylib("end_shader_mode", tuple),
    _raylib("clear_background", lambda: (floats(1, 2, 3),), {"alpha": lambda: (floats(1, 2, 3, 4),)}),
    _raylib("draw_texture_rec", lambda: (texture(), floats(0, 0, 4, 4), floats(1.5, 2), floats(1, 2, 3, 4))),
    _raylib("draw_texture_rec_ez", lambda: (texture(), floats(0, 0, 4, 4), floats(1, 2))),
    _raylib("draw_texture_vec", lambda: (texture(), floats(1, 2), floats(1, 2, 3), [1])),
    _raylib("draw_texture_vec_ez", lambda: (texture(), floats(1, 2), [])),
    _raylib("draw_texture_krvec",
            lambda: (texture(), KrVector2(*floats(1, 2)), KrRect(*floats(1, 2, 3, 4)), fresh_int(1))),
    _raylib("draw_texture_krvec_ez", lambda: (texture(), KrVector2(*floats(1, 2)), fresh_int(0))),
    _raylib("draw_texture_pro", lambda: (texture(), floats(0, 0, 1, 1), floats(0, 0, 2, 2), floats(1, 1),
                                         fresh_float(45), floats(1, 2, 3))),
    _raylib("set_shader_value", lambda: (raw_shader(), loc(), floats(1, 2, 3, 4, 5), Int(3)),
            {"int": lambda: (raw_shader(), loc(), (fresh_int(2**40), fresh_int(-7)), Int(5))}),
    _raylib("get_shader_location", lambda: (raw_shader(), "".join(["ti", "nt"]))),
    _raylib("set_shader_value_vec2_krvec", lambda: (raw_shader(), loc(), KrVector2(*floats(1, 2)))),
    _raylib("set_shader_value_vec2_tuple", lambda: (raw_shader(), loc(), floats(1, 2))),
    _raylib("set_shader_value_vec4_tuple", lambda: (raw_shader(), loc(), floats(1, 2, 3, 4))),
    _raylib("set_shader_value_float", lambda: (raw_shader(), loc(), fresh_float(0.5))),
    _raylib("set_krshader_value", lambda: (krshader(), loc(), floats(1, 2), Int(1)),
            {"int": lambda: (krshader(), loc(), (fresh_int(-2**31), Int(9)), Int(7))}),
    _raylib("get_krshader_location", lambda: (krshader(), "".join(["ti", "nt"]))),
    _raylib("set_krshader_value_vec2_krvec", lambda: (krshader(), loc(), KrVector2(*floats(1, 2)))),
    _raylib("set_krshader_value_vec2_tuple", lambda: (krshader(), loc(), floats(1, 2))),
    _raylib("set_krshader_value_vec4_tuple", lambda: (krshader(), loc(), floats(1, 2, 3, 4))),
    _raylib("set_krshader_value_vec4_v", lambda: (krshader(), loc(), _vec4_dicts()),
            {"iterator": lambda: (krshader(), loc(), iter(_vec4_dicts()))}),
    _raylib("set_krshader_value_float_v", lambda: (krshader(), loc(), [fresh_float(i / 2) for i in range(16)]),
            {"tuple": lambda: (krshader(), loc(), floats(1, 2))}),
    _raylib("set_krshader_value_float", lambda: (krshader(), loc(), fresh_int(1234))),
    _raylib("set_krshader_value_int", lambda: (krshader(), loc(), fresh_int(70000))),
]


def _method(name, args, variants=None, keywords=True):
    attr = name.rpartition(".")[2]
    return Call("Cache." + attr, lambda: getattr(Cache, attr), args, variants, keywords)


CACHE = [
    Call("Cache.__init__", lambda: Cache, tuple, keywords=False),
    _method("clear", lambda: (filled_cache(1, 3),)),
    _method("clear_selected", lambda: (filled_cache(1, 3, 5), [member(1)], [member(3), key(5)]),
            {"every member": lambda: (filled_cache(2, 4), None, None),
             "whitelist only": lambda: (filled_cache(2, 4), [], [key(2)])}),
    _method("get", lambda: (filled_cache(3), member(3)),
            {"key object": lambda: (filled_cache(3), key(3)), "empty": lambda: (Cache(), member(4))}),
    _method("set", lambda: (filled_cache(3), member(3), Payload()),
            {"key object": lambda: (Cache(), key(3), Payload())}),
    _method("get_or_set_val", lambda: (Cache(), member(3), Payload()),
            {"hit": lambda: (filled_cache(3), member(3), Payload()),
             "key object": lambda: (Cache(), key(30), Payload())}),
    _method("get_or_exec", lambda: (Cache(), member(3), Payload),
            {"hit": lambda: (filled_cache(3), member(3), Payload),
             "key object": lambda: (filled_cache(3), key(3), Payload)}),
    Call("Cache.__getitem__", lambda: operator.getitem, lambda: (filled_cache(3), member(3)), keywords=False),
    _method("__getattr__", lambda: (filled_cache(3), "".join(["FO", "NT"]))),
    _method("copy", lambda: (filled_cache(3, 4),)),
    _method("__deepcopy__", lambda: (filled_cache(3), {})),
    _method("__reduce__", lambda: (filled_cache(3),),
            {"detached": lambda: (Cache.__new__(Cache),), "with dict": lambda: (_state_cache(),)}),
    _method("__setstate__", lambda: (Cache(), (slot_list(),)),
            {"with dict": lambda: (StateCache(), (slot_list(), {"note": Payload()}))}),
    Call("__pyx_unpickle_Cache", lambda: koracache.__pyx_unpickle_Cache,
         lambda: (Cache, fresh_int(CHECKSUM), (slot_list(),)),
         {"no state": lambda: (Cache, fresh_int(CHECKSUM), None),
          "with dict": lambda: (StateCache, fresh_int(CHECKSUM), (slot_list(), {"note": Payload()}))}),
]


def _state_cache():
    cache = StateCache()
    cache.note = Payload()
    return cache


CALLS = {call.name: call for call in RAYLIB + CACHE}

