"""Cache: keyed access, by method and by the C-level method table as another
native module calls it (the kora_capi_consumer test module), subscription and
member-name attributes, clearing, copying, pickling, detached instances and
the errors of each, which change nothing."""

import builtins
import copy
import ctypes
import enum
import gc
import pickle
import traceback
from functools import partial
from types import SimpleNamespace as Key

import pytest

from kora_capi_consumer import cache_call
from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache as kc
from kora_ui.fast.koracache.koracache import Cache, __pyx_unpickle_Cache as unpickle
from kora_ui.fast.krshader.krshader import KrShader
from conftest import slots

MODULE = "kora_ui.fast.koracache.koracache"
NONE_SUB = "'NoneType' object is not subscriptable"
NOT_ITERABLE = "'NoneType' object is not iterable"
KEY_TYPE = "The key for cache access must be of type CacheType"
LIST_TUPLE = "Expected list, got tuple"
CHECKSUMS = (0xBD51CB4, 0xE95C4D5, 0xC883660)
A, B, C = CacheType.SHADER, CacheType.FONT, CacheType.WIDGET  # slots 2, 3, 31
MEMBER_SLOTS = {m.value for m in CacheType}
NO_VALUE = "'{}' object has no attribute 'value'"

Obj = type("Obj", (), {})
ListSub = type("ListSub", (list,), {})
Untrue = type("Untrue", (), {"__bool__": lambda self: 1 / 0})
BadKeys = type("BadKeys", (), {"keys": lambda self: 1 / 0})
NoBaseInit = type("NoBaseInit", (Cache,), {"__init__": lambda self: None})
Detached = type("Detached", (Cache,), {"__init__": lambda self: setattr(self, "extra", 5)})
OwnCopy = type("OwnCopy", (Cache,), {"copy": lambda self: "own copy"})
Namespace = type("Namespace", (dict,), {"update": lambda self, other: dict.update(self, other, updated_by="update")})
detached = partial(Cache.__new__, Cache)  # no slot list


class Sub(Cache):
    def __init__(self, extra=None):
        super().__init__()
        self.extra = extra


RaisingDict = type("RaisingDict", (Sub,), {"__dict__": property(lambda self: 1 / 0)})


class Impostor:  # passes isinstance(..., CacheType); logs each read of `value`
    __class__ = property(lambda self: CacheType)
    value = property(lambda self: self.reads.append("value") or self.slot)

    def __init__(self, slot):
        self.slot, self.reads = slot, []


def restored(content=None):
    """A Cache holding the slot list `content` (by default slot i holds i)."""
    c = Cache()
    c.__setstate__((list(range(32)) if content is None else content,))
    return c


def cleared(*indices):
    return [None if i in indices else i for i in range(32)]


def by_method(c, name, *args):
    return getattr(c, name)(*args)


def by_entry(c, name, *args):
    """The C-level table's entry, as another native module calls it: a member's slot number for the member."""
    return cache_call("c_" + name, c, *[a.value if isinstance(a, CacheType) else a for a in args])


OPS = {
    "get": lambda c, k: c.get(k),
    "set": lambda c, k: c.set(k, "new"),
    "get_or_set_val": lambda c, k: c.get_or_set_val(k, "new"),
    "get_or_exec": lambda c, k: c.get_or_exec(k, lambda: "new"),
}


@pytest.mark.parametrize("do", [by_method, by_entry], ids=["method", "entry"])
def test_get_set_get_or_set_val_get_or_exec_and_clearing(do):
    c, v, calls = Cache() if do is by_method else cache_call("new_"), Obj(), []  # the table makes its own
    assert do(c, "set", A, v) is None and do(c, "get", A) is v
    assert do(c, "get_or_set_val", A, "new") is v and do(c, "get", A) is v
    assert do(c, "set", A, None) is None and do(c, "get", A) is None
    assert do(c, "get_or_set_val", A, None) is None and do(c, "get", A) is None
    assert do(c, "get_or_set_val", A, "x") == "x" and slots(c) == [None, None, "x"] + [None] * 29
    assert [do(c, "get_or_exec", C, lambda: calls.append(1) or len(calls)) for _ in range(3)] == [1, 1, 1]
    assert do(c, "get_or_exec", C, object()) == 1  # func of a filled slot is not even called
    assert [do(c, "get_or_exec", B, lambda: calls.append(1)) for _ in range(3)] == [None] * 3
    assert len(calls) == 4  # a None result leaves the slot empty, so func runs every time
    with pytest.raises(ZeroDivisionError, match="^division by zero$"):
        do(c, "get_or_exec", B, lambda: 1 / 0)
    do(c, "set", B, "b")
    assert do(c, "clear_selected", [B], [A, B]) is None and slots(c)[2:4] == [None, "b"] and slots(c)[31] == 1
    assert do(c, "clear") is None and slots(c) == [None] * 32


def test_keywords_subscription_and_member_names_read_the_key_once():
    c, v = Cache(), Obj()
    assert all(c.get(m) is None and c[m] is None and getattr(c, m.name) is None for m in CacheType)
    assert c.set(value=v, type=A) is None and c.get(type=A) is v and c[A] is v and c.SHADER is v
    assert c.get_or_set_val(value="x", type=B) == "x" == c.__getattr__(type="FONT")
    assert c.get_or_exec(func=lambda: "w", type=C) == "w" == c.WIDGET == c.__getattr__("WIDGET")
    assert getattr(c, "nope", 7) == 7 and not hasattr(c, "cache_arr")
    for name in ("nope", None):
        with pytest.raises(AttributeError) as info:
            c.__getattr__(name)
        assert info.value.args == (name,)
    key = Impostor(3)
    assert c[key] == "x" and key.reads == ["value"]
    with pytest.raises(TypeError, match=f"^{NONE_SUB}$"):
        detached()[key]  # detachment is found before the key is read
    assert key.reads == ["value"]


@pytest.mark.parametrize("op", OPS)
@pytest.mark.parametrize("index", [0, 31])
def test_key_objects_address_slots_0_to_31(op, index):
    c = restored()
    assert OPS[op](c, Key(value=index)) in (None, index, "new")
    assert slots(c) == cleared() if op != "set" else slots(c)[index] == "new"
    for value, slot in ((True, 1), (2.9, 2)):
        c.set(Key(value=value), value)
        assert slots(c)[slot] == value == c.get(Key(value=slot))


def test_cache_type_is_looked_up_at_each_call(monkeypatch):
    c = Cache()
    c.set(Key(value=5), "five")
    c.set(Key(value=7), "seven")
    other = enum.Enum("Other", {"get": 5, "FIVE": 5})
    monkeypatch.setattr(kc, "CacheType", other)
    assert c[other.FIVE] == "five" and c.FIVE == "five" and c.get(Key(value=5)) == "five"  # methods win
    with pytest.raises(TypeError, match=KEY_TYPE):
        c[A]
    with pytest.raises(AttributeError, match="^SHADER$"):
        c.SHADER
    monkeypatch.delattr(kc, "CacheType")
    for access in (lambda: c[other.FIVE], lambda: c.FIVE, lambda: c.clear_selected()):
        with pytest.raises(NameError, match="^name 'CacheType' is not defined$"):
            access()
    c.clear_selected(None, [Key(value=7)])  # the whitelist default alone needs it
    assert c.get(Key(value=7)) is None
    monkeypatch.setattr(builtins, "CacheType", other, raising=False)
    assert c.FIVE == "five" and c[other.FIVE] == "five"


# Each call fails on the cache that `make` gives (default: restored()), with
# CacheType replaced by `cache_type` if given, and leaves its slot list as it
# was. message: the exact text.
ERRORS = {
    "index too large": (lambda c: c.get(Key(value=2**31 - 1)), IndexError, "cache slot index 2147483647 out of range"),
    "index negative": (lambda c: c.set(Key(value=-2**31), 1), IndexError, "cache slot index -2147483648 out of range"),
    "index 40": (lambda c: c.get(Key(value=40)), IndexError, "cache slot index 40 out of range"),
    "subscript past 31": (lambda c: c[Impostor(32)], IndexError, "cache slot index 32 out of range"),
    "key not int": (lambda c: c.get_or_set_val(Key(value="3"), 1), TypeError, "an integer is required"),
    "key too large": (lambda c: c.get_or_exec(Key(value=2**31), int), OverflowError,
                      "value too large to convert to int"),
    "None key to set": (lambda c: c.set(None, 1), AttributeError, NO_VALUE.format("NoneType")),
    "None key to get": (lambda c: c.get(None), TypeError, "Argument 'type' must not be None"),
    "None key to exec": (lambda c: c.get_or_exec(None, None), TypeError, "Argument 'type' must not be None"),
    "None func": (lambda c: c.get_or_exec(A, None), TypeError, "Argument 'func' must not be None"),
    "func raises": (lambda c: c.get_or_exec(A, lambda: 1 / 0), ZeroDivisionError, "division by zero", Cache),
    "subscript key, detached": (lambda c: c[Key(value=2)], TypeError, KEY_TYPE, detached),  # before detachment
    "iterate": (lambda c: list(c), TypeError, KEY_TYPE),
    "attribute int": (lambda c: c.__getattr__(1), TypeError,
                      "Argument 'type' has incorrect type (expected str, got int)"),
    "attribute str subclass": (lambda c: c.__getattr__(type("Name", (str,), {})("SHADER")), TypeError,
                               "Argument 'type' has incorrect type (expected str, got Name)"),
    "member names, no members": (lambda c: c.FONT, AttributeError,
                                 "type object 'NoMembers' has no attribute '__members__'", restored,
                                 type("NoMembers", (), {})),
    "member names, members not subscriptable": (lambda c: c.FONT, TypeError,
                                                "type 'NotSubscriptable' is not subscriptable", restored,
                                                type("NotSubscriptable", (), {"__members__": {"FONT": 3}})),
    "member names, text values": (lambda c: c.FONT, TypeError, "an integer is required", restored,
                                  type("TextValues", (), {"__members__": {"FONT": 3},
                                                          "__class_getitem__": lambda cls, name: Key(value="3")})),
    "init argument": (lambda c: Cache(1), TypeError, "__init__() takes exactly 0 positional arguments (1 given)"),
    "init keyword": (lambda c: Cache(x=1), TypeError, "__init__() got an unexpected keyword argument 'x'"),
    "init keyword not str": (lambda c: Cache(**{1: 2}), TypeError, "__init__() keywords must be strings"),
    "set twice": (lambda c: c.set(A, type=A), TypeError, "set() got multiple values for keyword argument 'type'"),
    "unbound get": (lambda c: Cache.get(), TypeError, "get() needs an argument"),
    "clear argument": (lambda c: c.clear(1), TypeError, "clear() takes exactly 0 positional arguments (1 given)"),
    "clear keyword": (lambda c: c.clear(x=1), TypeError, "clear() got an unexpected keyword argument 'x'"),
    "deepcopy memo": (lambda c: c.__deepcopy__(), TypeError,
                      "__deepcopy__() takes exactly 1 positional argument (0 given)"),
    "clear_selected 3": (lambda c: c.clear_selected([], [], 3), TypeError,
                         "clear_selected() takes at most 2 positional arguments (3 given)"),
    "whitelist tuple": (lambda c: c.clear_selected(None, (A,)), TypeError, LIST_TUPLE),
    "blacklist before items": (lambda c: c.clear_selected((A,), [object()]), TypeError, LIST_TUPLE),
    "list subclass": (lambda c: c.clear_selected(ListSub([A])), TypeError, "Expected list, got ListSub"),
    "blacklist truth": (lambda c: c.clear_selected(Untrue()), ZeroDivisionError, "division by zero"),
    "whitelist truth": (lambda c: c.clear_selected(None, Untrue()), ZeroDivisionError, "division by zero"),
    "whitelist item": (lambda c: c.clear_selected(None, [A, B, object()]), AttributeError, NO_VALUE.format("object")),
    "blacklist item": (lambda c: c.clear_selected([A, object()], [B]), AttributeError, NO_VALUE.format("object")),
    "item not int": (lambda c: c.clear_selected([], [A, Key(value="x")]), TypeError, "an integer is required"),
    # The table's entry: None is no list (the method's defaults stand for lists) and the blacklist is read
    # first; other types reach its own list test, which the method's argument parser makes unreachable.
    "entry None blacklist": (lambda c: by_entry(c, "clear_selected", None, [object()]), TypeError, NOT_ITERABLE),
    "entry None whitelist": (lambda c: by_entry(c, "clear_selected", [A], None), TypeError, NOT_ITERABLE),
    "entry blacklist items first": (lambda c: by_entry(c, "clear_selected", [object()], None), AttributeError,
                                    NO_VALUE.format("object")),
    "entry blacklist tuple": (lambda c: by_entry(c, "clear_selected", (A,), [A]), TypeError, LIST_TUPLE),
    "entry whitelist tuple": (lambda c: by_entry(c, "clear_selected", [A], (A,)), TypeError, LIST_TUPLE),
    "setstate None": (lambda c: c.__setstate__(None), TypeError,
                      "cannot pass None into a C function argument that is declared 'not None'"),
    "setstate list": (lambda c: c.__setstate__([None] * 32), TypeError, "Expected tuple, got list"),
    "setstate tuple slots": (lambda c: c.__setstate__(((None,),)), TypeError, LIST_TUPLE),
    "setstate empty": (lambda c: c.__setstate__(()), IndexError, "tuple index out of range"),
    **{f"{op} index {i}": (lambda c, op=op, i=i: OPS[op](c, Key(value=i)), IndexError,
                            f"cache slot index {i} out of range") for op in OPS for i in (-1, 32)},
    **{f"{op} short list": (lambda c, op=op: OPS[op](c, B), IndexError, "cache slot index 3 out of range",
                            lambda: restored(["x", "y", None])) for op in OPS},
    **{f"{name} on {type(other).__name__}": (
        lambda c, n=name, o=other, a=args: getattr(Cache, n)(o, *a), TypeError,
        f"descriptor '{name}' for 'Cache' objects doesn't apply to a '{type(other).__name__}' object")
       for name, args in [("get", (A,)), ("set", (A, 1)), ("get_or_set_val", (A, 1)), ("get_or_exec", (A, int)),
                          ("clear", ()), ("clear_selected", ()), ("copy", ()), ("__deepcopy__", ({},)),
                          ("__getattr__", ("SHADER",)), ("__reduce__", ()), ("__setstate__", (([],),))]
       for other in (None, [None] * 32, Obj())},
    **{f"__init__ on {type(other).__name__}": (
        lambda c, o=other: Cache.__init__(o), TypeError,
        f"descriptor '__init__' requires a '{MODULE}.Cache' object but received a '{type(other).__name__}'")
       for other in (None, [None] * 32, Obj())},
}


@pytest.mark.parametrize("case", ERRORS)
def test_errors_change_nothing(monkeypatch, case):
    row = ERRORS[case]
    call, error, message, make, cache_type = row + (restored, None)[len(row) - 3:]
    if cache_type:
        monkeypatch.setattr(kc, "CacheType", cache_type)
    c = make()
    before = slots(c)
    kept = before and list(before)  # None while detached
    with pytest.raises(error) as info:
        call(c)
    assert str(info.value) == message
    assert slots(c) is before and before == kept


def test_traceback_names_the_method_and_the_slot_routine():
    with pytest.raises(IndexError) as info:
        Cache().set(Key(value=40), 1)
    frames = [(f.name, f.filename) for f in traceback.extract_tb(info.tb)[1:]]
    assert frames == [(f"{MODULE}.Cache.{n}", "src/kora_ui/fast/koracache/koracache") for n in ("set", "c_set")]


# --- the C-level table and detached instances (no slot list) -------------------

def test_instances_point_at_the_published_table():
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype, get.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]
    table = get(Cache.__dict__["__pyx_vtable__"], None)
    for c in (Cache(), detached(), cache_call("new_"), Sub()):
        assert ctypes.c_void_p.from_address(id(c) + object.__basicsize__).value == table


@pytest.mark.parametrize("make", [detached, NoBaseInit], ids=["new", "subclass"])
@pytest.mark.parametrize("access", [
    *OPS.values(), lambda c, k: c[k], lambda c, k: getattr(c, k.name), lambda c, k: c.clear(),
    lambda c, k: c.copy(), lambda c, k: c.__deepcopy__({}), lambda c, k: c.clear_selected(),
    lambda c, k: c.clear_selected(None, [Key(value=9)]),
])
def test_detached_instances_refuse_slot_access(make, access):
    """The methods reach the slots through the table's entries: the same refusal for both."""
    c = make()
    with pytest.raises(TypeError, match=f"^{NONE_SUB}$"):
        access(c, A)
    assert getattr(c, "nope", 1) == 1
    assert cache_call("c_clear_selected", c, [A], [A]) is None  # nothing to clear: no slot list needed
    Cache.__init__(c)
    access(c, A)
    assert len(slots(c)) == 32


# --- clearing -----------------------------------------------------------------

@pytest.mark.parametrize("args, emptied", [
    ((), MEMBER_SLOTS),
    ((None, []), MEMBER_SLOTS),
    ((False, 0), MEMBER_SLOTS),
    (([A],), MEMBER_SLOTS - {2}),
    (([B], [A, B]), {2}),
    (([A, A], [A]), set()),
    (([], [Key(value=5), Key(value=32), Key(value=-1)]), {5}),
    (([Key(value=40), Key(value=-3)], [A, C]), {2, 31}),
    (([Key(value=2**31 - 1)], [Key(value=0), Key(value=31), Key(value=2**31 - 1)]), {0, 31}),
    (([Key(value=0)], [Key(value=0), Key(value=31)]), {31}),
])
def test_clear_selected(args, emptied):
    keywords = {n: v for n, v in zip(("blacklist", "whitelist"), args) if v is not None}  # the other by default
    for clear in (lambda c: c.clear_selected(*args), lambda c: c.clear_selected(**keywords)):
        c = restored()
        assert clear(c) is None and slots(c) == cleared(*emptied)


@pytest.mark.parametrize("content", [["x", "y", "z"], list(range(40))], ids=["shorter", "longer"])
def test_clearing_a_restored_list_touches_only_slots_0_to_31_it_has(content):
    c = restored(content)
    expected = [None] * min(32, len(content)) + content[32:]
    assert c.clear() is None
    assert slots(c) is content and content == expected
    content[:] = list(range(len(content)))
    c.clear_selected(None, [Key(value=1), Key(value=31), Key(value=35)])
    assert content == [None if i in (1, 31) else i for i in range(len(content))]
    assert c.get_or_set_val(Key(value=1), "z") == "z" and content[1] == "z"


# --- copying and pickling -----------------------------------------------------

@pytest.mark.parametrize("make", [Cache, lambda: Sub("e")], ids=["Cache", "Sub"])
@pytest.mark.parametrize("duplicate", [lambda c: c.copy(), lambda c: c.__deepcopy__({}), copy.deepcopy, copy.copy],
                         ids=["copy", "__deepcopy__", "deepcopy", "shallow"])
def test_copies_share_contents_and_only_a_shallow_copy_shares_the_list(make, duplicate):
    c, v, shallow = make(), object(), duplicate is copy.copy
    c.set(A, v)
    d = duplicate(c)
    assert type(d) is (type(c) if shallow else Cache)
    assert getattr(d, "extra", None) == (getattr(c, "extra", None) if shallow else None)
    assert d.get(A) is v and (slots(d) is slots(c)) == shallow and slots(d) == slots(c)
    d.set(B, 1)
    c.set(C, 2)
    assert (c.get(B), d.get(C)) == ((1, 2) if shallow else (None, None))
    assert OwnCopy().__deepcopy__(None) == copy.deepcopy(OwnCopy()) == "own copy"
    assert slots(restored(["x", "y", None]).copy()) == ["x", "y", None]


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("make, extra", [(Cache, None), (lambda: Sub({"deep": [1]}), {"deep": [1]})],
                         ids=["Cache", "Sub-with-attributes"])
def test_pickle_round_trip(protocol, make, extra):
    c = make()
    c.set(A, ("tuple", 1.5))
    c.set(C, [c.get(A)])
    d = pickle.loads(pickle.dumps(c, protocol))
    assert type(d) is type(c) and slots(d) == slots(c) and slots(d) is not slots(c)
    assert d.get(C)[0] is d.get(A)
    assert getattr(d, "extra", None) == extra


def test_reduce_shapes_and_the_three_checksums(monkeypatch):
    c = Cache()
    assert c.__reduce__() == (unpickle, (Cache, 198515892, None), (slots(c),))
    assert detached().__reduce__() == (unpickle, (Cache, 198515892, (None,)))
    assert Sub.__new__(Sub).__reduce__() == (unpickle, (Sub, 198515892, (None,)))
    assert Detached().__reduce__() == (unpickle, (Detached, 198515892, None), (None, {"extra": 5}))
    with pytest.raises(ZeroDivisionError, match="^division by zero$"):  # only AttributeError means "no dict"
        RaisingDict().__reduce__()
    none_dict = type("NoneDict", (Cache,), {"__dict__": property(lambda self: None)})()  # None means none too
    assert none_dict.__reduce__() == (unpickle, (type(none_dict), 198515892, None), (slots(none_dict),))
    for checksum in CHECKSUMS:
        for state in (None, (None,), (["a", "b", "c"],)):
            d = unpickle(Cache, checksum, state)
            assert type(d) is Cache and slots(d) == (state and state[0])
            assert unpickle(__pyx_state=state, __pyx_checksum=checksum, __pyx_type=Sub).__class__ is Sub
    monkeypatch.delattr(kc, "__pyx_unpickle_Cache")
    with pytest.raises(NameError, match="^name '__pyx_unpickle_Cache' is not defined$"):
        c.__reduce__()


def caches_alive():
    gc.collect()
    return sum(issubclass(type(o), Cache) for o in gc.get_objects())


NOT_SUBTYPE = f"{MODULE}.Cache.__new__({{0}}): {{0}} is not a subtype of {MODULE}.Cache"
UNPICKLING = [  # arguments of __pyx_unpickle_Cache, error, message; by pickle, __setstate__'s errors too
    ((Cache, 0, None), pickle.PickleError,
     "Incompatible checksums (0x0 vs (0xbd51cb4, 0xe95c4d5, 0xc883660) = (cache_arr))"),
    ((Cache, 2**64, None), OverflowError, "Python int too large to convert to C long"),
    ((Cache, "198515892", None), TypeError, "an integer is required"),
    ((Cache, CHECKSUMS[0], ()), IndexError, "tuple index out of range"),
    ((Cache, CHECKSUMS[0], ((),)), TypeError, LIST_TUPLE),
    ((Cache, CHECKSUMS[0], (ListSub(),)), TypeError, "Expected list, got ListSub"),
    ((Cache, CHECKSUMS[0], ([], {"a": 1})), AttributeError, "This object has no __dict__"),
    ((Cache, CHECKSUMS[0], ([], Untrue())), ZeroDivisionError, "division by zero"),
    ((Sub, CHECKSUMS[0], ([], BadKeys())), ZeroDivisionError, "division by zero"),
    ((int, CHECKSUMS[0], None), TypeError, NOT_SUBTYPE.format("int")),
    (("Cache", CHECKSUMS[0], None), TypeError, f"{MODULE}.Cache.__new__(X): X is not a type object (str)"),
    ((KrShader, 0xE95C4D5, ([],)), TypeError, NOT_SUBTYPE.format("kora_ui.fast.krshader.krshader.KrShader")),
    ((Cache, CHECKSUMS[0], [[]]), TypeError, "Argument '__pyx_state' has incorrect type (expected tuple, got list)"),
]


@pytest.mark.parametrize("path", ["call", "pickle"])
@pytest.mark.parametrize("args, error, message", UNPICKLING)
def test_hostile_unpickling_leaves_no_instance_behind(args, error, message, path):
    """Through the function itself, and through pickle, which hands the state to __setstate__."""
    reduced = (unpickle, args[:2] + (None,), *[args[2]][:args[2] is not None])
    data = pickle.dumps(type("Reducer", (), {"__reduce__": lambda self: reduced})())
    before = caches_alive()
    with pytest.raises(error) as caught:
        unpickle(*args) if path == "call" else pickle.loads(data)
    if path == "pickle" and type(args[2]) is list:
        message = "Expected tuple, got list"
    assert str(caught.value) == message
    del caught
    assert caches_alive() == before


def test_setstate_rebinds_the_list_and_updates_the_instance_dict():
    c, shared = Cache(), ["x"] * 32
    assert c.__setstate__((shared, {})) is None and slots(c) is shared
    c.set(A, "y")
    assert shared[2] == "y"
    with pytest.raises(AttributeError, match="^This object has no __dict__$"):  # a plain Cache has none...
        c.__setstate__(([None] * 32, {"extra": 1}))
    assert slots(c) == [None] * 32  # ...but the list was already replaced
    s = Sub("old")
    s.__setstate__((shared, {"extra": "new", "more": 2}))
    assert (s.extra, s.more, slots(s)) == ("new", 2, shared)
    s.__init__()  # a fresh list; the one handed out is left alone
    assert slots(s) == [None] * 32 and shared == ["x"] * 2 + ["y"] + ["x"] * 29
    s.__dict__ = Namespace(extra="old")  # an instance dict of another type is updated through its method
    s.__setstate__((shared, {"extra": "newer"}))
    assert type(s.__dict__) is Namespace and (s.extra, s.updated_by) == ("newer", "update")
