"""Cache: keyed access, subscription and member-name attributes, get-or-set
and get-or-compute, clearing, copying, pickling, detached instances and the
errors of each, which change nothing."""

import builtins
import copy
import enum
import gc
import pickle
import traceback
from types import SimpleNamespace as Key

import pytest

import kora_capi_consumer as consumer
from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache as kc
from kora_ui.fast.koracache.koracache import Cache, __pyx_unpickle_Cache as unpickle
from kora_ui.fast.krshader.krshader import KrShader
from conftest import slots

MODULE = "kora_ui.fast.koracache.koracache"
NONE_SUB = "'NoneType' object is not subscriptable"
KEY_TYPE = "The key for cache access must be of type CacheType"
CHECKSUMS = (0xBD51CB4, 0xE95C4D5, 0xC883660)
A, B, C = CacheType.SHADER, CacheType.FONT, CacheType.WIDGET  # slots 2, 3, 31
MEMBER_SLOTS = {m.value for m in CacheType}
NO_VALUE = "'{}' object has no attribute 'value'"


class Obj:
    pass


class ListSub(list):
    pass


class Sub(Cache):
    def __init__(self, extra=None):
        super().__init__()
        self.extra = extra


class Untrue:
    def __bool__(self):
        raise ZeroDivisionError("no truth")


def full():
    """A Cache whose slot i holds i."""
    c = Cache()
    c.__setstate__((list(range(32)),))
    return c


def cleared(*indices):
    return [None if i in indices else i for i in range(32)]


OPS = {
    "get": lambda c, k: c.get(k),
    "set": lambda c, k: c.set(k, "new"),
    "get_or_set_val": lambda c, k: c.get_or_set_val(k, "new"),
    "get_or_exec": lambda c, k: c.get_or_exec(k, lambda: "new"),
}


def test_set_get_or_set_val_and_get_or_exec():
    c, v, calls = Cache(), Obj(), []
    assert slots(c) == [None] * 32
    assert all(c.get(m) is None and c[m] is None and getattr(c, m.name) is None for m in CacheType)
    assert c.set(A, v) is None and c.get(A) is v and c[A] is v and c.SHADER is v
    assert c.get_or_set_val(A, "new") is v and c.get(A) is v
    assert c.set(value=None, type=A) is None and c.get(type=A) is None
    assert c.get_or_set_val(A, None) is None and c.get(A) is None
    assert c.get_or_set_val(A, "x") == "x" and slots(c) == [None, None, "x"] + [None] * 29
    assert [c.get_or_exec(C, lambda: calls.append(1) or len(calls)) for _ in range(3)] == [1, 1, 1]
    assert [c.get_or_exec(func=lambda: calls.append(1), type=B) for _ in range(3)] == [None] * 3
    assert len(calls) == 4  # a None result leaves the slot empty, so func runs every time


@pytest.mark.parametrize("op", OPS)
@pytest.mark.parametrize("index", [0, 31])
def test_key_objects_address_slots_0_to_31(op, index):
    c = full()
    assert OPS[op](c, Key(value=index)) in (None, index, "new")
    assert slots(c) == cleared() if op != "set" else slots(c)[index] == "new"
    for value, slot in ((True, 1), (2.9, 2)):
        c.set(Key(value=value), value)
        assert slots(c)[slot] == value == c.get(Key(value=slot))


def test_member_names_read_slots_and_other_names_raise_attribute_error():
    c = Cache()
    c.set(C, "w")
    assert c.WIDGET == "w" and c.__getattr__("WIDGET") == "w" and c.__getattr__(type="SHADER") is None
    assert getattr(c, "nope", 7) == 7 and not hasattr(c, "cache_arr")
    for name in ("nope", None):
        with pytest.raises(AttributeError) as info:
            c.__getattr__(name)
        assert info.value.args == (name,)


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


class Watched:
    """Stands in for CacheType: isinstance passes; reading `value` is logged."""

    reads = []

    @property
    def value(self):
        Watched.reads.append("value")
        return B.value


@pytest.mark.parametrize("attached", [False, True])
def test_subscription_tests_the_key_type_then_detachment_then_reads_the_key(monkeypatch, attached):
    cache = Cache() if attached else Cache.__new__(Cache)
    monkeypatch.setattr(kc, "CacheType", Watched)
    Watched.reads.clear()
    with pytest.raises(TypeError, match=f"^{KEY_TYPE}$"):
        cache[Key(value=1)]
    if attached:
        assert cache[Watched()] is None and Watched.reads == ["value"]
        return
    with pytest.raises(TypeError, match=f"^{NONE_SUB}$"):
        cache[Watched()]
    assert Watched.reads == []


class Impostor:  # passes isinstance(..., CacheType)
    __class__ = property(lambda self: CacheType)
    value = 32


class NoBaseInit(Cache):
    def __init__(self):
        pass


class Detached(Cache):
    def __init__(self):
        self.extra = 5


class RaisingDict(Sub):
    @property
    def __dict__(self):
        raise ZeroDivisionError("no dict")


def restored_short():
    c = Cache()
    c.__setstate__((["x", "y", None],))
    return c


def descriptor(name, got):
    return f"descriptor '{name}' for 'Cache' objects doesn't apply to a '{got}' object"


# Each call fails on the cache that `make` gives (default: full()) and leaves
# its slot list as it was. message: the exact text.
ERRORS = {
    "index too large": (lambda c: c.get(Key(value=2**31 - 1)), IndexError, "cache slot index 2147483647 out of range"),
    "index negative": (lambda c: c.set(Key(value=-2**31), 1), IndexError, "cache slot index -2147483648 out of range"),
    "index 40": (lambda c: c.get(Key(value=40)), IndexError, "cache slot index 40 out of range"),
    "subscript past 31": (lambda c: c[Impostor()], IndexError, "cache slot index 32 out of range"),
    "key not int": (lambda c: c.get_or_set_val(Key(value="3"), 1), TypeError, "an integer is required"),
    "key too large": (lambda c: c.get_or_exec(Key(value=2**31), int), OverflowError,
                      "value too large to convert to int"),
    "key without value": (lambda c: c.set(object(), 1), AttributeError, NO_VALUE.format("object")),
    "None key to set": (lambda c: c.set(None, 1), AttributeError, NO_VALUE.format("NoneType")),
    "None key to get": (lambda c: c.get(None), TypeError, "Argument 'type' must not be None"),
    "None key to exec": (lambda c: c.get_or_exec(None, None), TypeError, "Argument 'type' must not be None"),
    "None func": (lambda c: c.get_or_exec(A, None), TypeError, "Argument 'func' must not be None"),
    "func raises": (lambda c: c.get_or_exec(A, lambda: 1 / 0), ZeroDivisionError, "division by zero", Cache),
    "subscript int": (lambda c: c[0], TypeError, KEY_TYPE),
    "subscript key": (lambda c: c[Key(value=2)], TypeError, KEY_TYPE),
    "iterate": (lambda c: list(c), TypeError, KEY_TYPE),
    "contains": (lambda c: A in c, TypeError, KEY_TYPE),
    "attribute int": (lambda c: c.__getattr__(1), TypeError,
                      "Argument 'type' has incorrect type (expected str, got int)"),
    "attribute str subclass": (lambda c: c.__getattr__(type("Name", (str,), {})("SHADER")), TypeError,
                               "Argument 'type' has incorrect type (expected str, got Name)"),
    "init argument": (lambda c: Cache(1), TypeError, "__init__() takes exactly 0 positional arguments (1 given)"),
    "init keyword": (lambda c: Cache(x=1), TypeError, "__init__() got an unexpected keyword argument 'x'"),
    "init keyword not str": (lambda c: Cache(**{1: 2}), TypeError, "__init__() keywords must be strings"),
    "set twice": (lambda c: c.set(A, type=A), TypeError, "set() got multiple values for keyword argument 'type'"),
    "unbound get": (lambda c: Cache.get(), TypeError, "get() needs an argument"),
    "clear argument": (lambda c: c.clear(1), TypeError, "clear() takes exactly 0 positional arguments (1 given)"),
    "clear keyword": (lambda c: c.clear(x=1), TypeError, "clear() got an unexpected keyword argument 'x'"),
    "copy argument": (lambda c: c.copy(1), TypeError, "copy() takes exactly 0 positional arguments (1 given)"),
    "deepcopy memo": (lambda c: c.__deepcopy__(), TypeError,
                      "__deepcopy__() takes exactly 1 positional argument (0 given)"),
    "clear_selected 3": (lambda c: c.clear_selected([], [], 3), TypeError,
                         "clear_selected() takes at most 2 positional arguments (3 given)"),
    "blacklist tuple": (lambda c: c.clear_selected((A,)), TypeError, "Expected list, got tuple"),
    "whitelist tuple": (lambda c: c.clear_selected(None, (A,)), TypeError, "Expected list, got tuple"),
    "blacklist before items": (lambda c: c.clear_selected((A,), [object()]), TypeError, "Expected list, got tuple"),
    "list subclass": (lambda c: c.clear_selected(ListSub([A])), TypeError, "Expected list, got ListSub"),
    "blacklist truth": (lambda c: c.clear_selected(Untrue()), ZeroDivisionError, "no truth"),
    "whitelist truth": (lambda c: c.clear_selected(None, Untrue()), ZeroDivisionError, "no truth"),
    "whitelist item": (lambda c: c.clear_selected(None, [A, B, object()]), AttributeError, NO_VALUE.format("object")),
    "blacklist item": (lambda c: c.clear_selected([A, object()], [B]), AttributeError, NO_VALUE.format("object")),
    "item not int": (lambda c: c.clear_selected([], [A, Key(value="x")]), TypeError, "an integer is required"),
    "setstate None": (lambda c: c.__setstate__(None), TypeError,
                      "cannot pass None into a C function argument that is declared 'not None'"),
    "setstate list": (lambda c: c.__setstate__([None] * 32), TypeError, "Expected tuple, got list"),
    "setstate tuple slots": (lambda c: c.__setstate__(((None,),)), TypeError, "Expected list, got tuple"),
    "setstate str slots": (lambda c: c.__setstate__(("list",)), TypeError, "Expected list, got str"),
    "setstate empty": (lambda c: c.__setstate__(()), IndexError, "tuple index out of range"),
    "state not tuple": (lambda c: unpickle(Cache, 0, [None]), TypeError,
                        "Argument '__pyx_state' has incorrect type (expected tuple, got list)"),
    **{f"{op} index {i}": (lambda c, op=op, i=i: OPS[op](c, Key(value=i)), IndexError,
                            f"cache slot index {i} out of range") for op in OPS for i in (-1, 32)},
    **{f"{op} short list": (lambda c, op=op: OPS[op](c, B), IndexError, "cache slot index 3 out of range",
                            restored_short) for op in OPS},
    **{f"{name} on {type(other).__name__}": (lambda c, n=name, o=other, a=args: getattr(Cache, n)(o, *a), TypeError,
                                             descriptor(name, type(other).__name__))
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
def test_errors_change_nothing(case):
    call, error, message, *make = ERRORS[case]
    c = (make or [full])[0]()
    before = slots(c)
    kept = None if before is None else list(before)
    with pytest.raises(error) as info:
        call(c)
    assert str(info.value) == message
    assert slots(c) is before and (before is None or before == kept)


def test_traceback_names_the_method_and_the_slot_routine():
    with pytest.raises(IndexError) as info:
        Cache().set(Key(value=40), 1)
    frames = [(f.name, f.filename) for f in traceback.extract_tb(info.tb)[1:]]
    assert frames == [(f"{MODULE}.Cache.{n}", "src/kora_ui/fast/koracache/koracache") for n in ("set", "c_set")]


@pytest.mark.parametrize("cache_type, error, message", [
    (type("NoMembers", (), {}), AttributeError, "type object 'NoMembers' has no attribute '__members__'"),
    (type("NotSubscriptable", (), {"__members__": {"FONT": 3}}), TypeError, "type 'NotSubscriptable' is not subscriptable"),
    (type("TextValues", (), {"__members__": {"FONT": 3}, "__class_getitem__": lambda cls, name: Key(value="3")}),
     TypeError, "an integer is required"),
])
def test_member_names_need_a_cache_type_with_int_members(monkeypatch, cache_type, error, message):
    c = Cache()
    monkeypatch.setattr(kc, "CacheType", cache_type)
    with pytest.raises(error) as info:
        c.FONT
    assert str(info.value) == message and c.get(Key(value=3)) is None


# --- detached instances (no slot list) --------------------------------------

def entry(name, *args):
    """A method of the C-level table, as another native module calls it."""
    return lambda c, k: consumer.cache_call(name, c, *args)


@pytest.mark.parametrize("make", [lambda: Cache.__new__(Cache), NoBaseInit], ids=["new", "subclass"])
@pytest.mark.parametrize("access", [
    *OPS.values(), lambda c, k: c[k], lambda c, k: getattr(c, k.name), lambda c, k: c.clear(),
    lambda c, k: c.copy(), lambda c, k: c.__deepcopy__({}), lambda c, k: c.clear_selected(),
    lambda c, k: c.clear_selected(None, [Key(value=9)]),
    entry("c_get", 2), entry("c_set", 2, "v"), entry("c_get_or_set_val", 2, "v"),
    entry("c_get_or_exec", 2, lambda: "v"), entry("c_clear"), entry("c_clear_selected", [], [A]),
])
def test_detached_instances_refuse_slot_access(make, access):
    c = make()
    with pytest.raises(TypeError, match=f"^{NONE_SUB}$"):
        access(c, A)
    assert getattr(c, "nope", 1) == 1
    assert consumer.cache_call("c_clear_selected", c, [A], [A]) is None  # nothing to clear: no slot list needed
    Cache.__init__(c)
    access(c, A)
    assert len(slots(c)) == 32


# --- clearing -----------------------------------------------------------------

@pytest.mark.parametrize("args, emptied", [
    ((), MEMBER_SLOTS),
    ((None, []), MEMBER_SLOTS),
    ((False, 0), MEMBER_SLOTS),
    (((), ()), MEMBER_SLOTS),
    (([A],), MEMBER_SLOTS - {2}),
    (([B], [A, B]), {2}),
    (([A, A], [A]), set()),
    (([], [Key(value=5), Key(value=32), Key(value=-1)]), {5}),
    (([Key(value=40), Key(value=-3)], [A, C]), {2, 31}),
    (([Key(value=2**31 - 1)], [Key(value=0), Key(value=31), Key(value=2**31 - 1)]), {0, 31}),
    (([Key(value=0)], [Key(value=0), Key(value=31)]), {31}),
])
def test_clear_selected(args, emptied):
    c = full()
    assert c.clear_selected(*args) is None and slots(c) == cleared(*emptied)
    c = full()  # by keyword, the other list left to its default
    names = ("blacklist", "whitelist")
    assert c.clear_selected(**{n: v for n, v in zip(names, args) if v is not None}) is None
    assert slots(c) == cleared(*emptied)


@pytest.mark.parametrize("restored", [["x", "y", "z"], list(range(40))], ids=["shorter", "longer"])
def test_clearing_a_restored_list_touches_only_slots_0_to_31_it_has(restored):
    c = Cache()
    c.__setstate__((restored,))
    expected = [None] * min(32, len(restored)) + restored[32:]
    assert c.clear() is None
    assert slots(c) is restored and restored == expected
    restored[:] = list(range(len(restored)))
    c.clear_selected(None, [Key(value=1), Key(value=31), Key(value=35)])
    assert restored == [None if i in (1, 31) else i for i in range(len(restored))]
    assert c.get_or_set_val(Key(value=1), "z") == "z" and restored[1] == "z"


# --- copying and pickling -----------------------------------------------------

class OwnCopy(Cache):
    def copy(self):
        return "own copy"


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
    assert slots(restored_short().copy()) == ["x", "y", None]


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("make, extra", [
    (Cache, None), (lambda: Sub({"deep": [1]}), {"deep": [1]}), (Sub, None),
], ids=["Cache", "Sub-with-attributes", "Sub"])
def test_pickle_round_trip(protocol, make, extra):
    c = make()
    c.set(A, ("tuple", 1.5))
    c.set(C, [c.get(A)])
    d = pickle.loads(pickle.dumps(c, protocol))
    assert type(d) is type(c) and slots(d) == slots(c) and slots(d) is not slots(c)
    assert d.get(C)[0] is d.get(A)
    assert getattr(d, "extra", None) == extra
    assert slots(pickle.loads(pickle.dumps(Cache.__new__(Cache), protocol))) is None


def test_reduce_shapes(monkeypatch):
    c = Cache()
    assert c.__reduce__() == (unpickle, (Cache, 198515892, None), (slots(c),))
    assert Cache.__new__(Cache).__reduce__() == (unpickle, (Cache, 198515892, (None,)))
    assert Sub.__new__(Sub).__reduce__() == (unpickle, (Sub, 198515892, (None,)))
    assert Detached().__reduce__() == (unpickle, (Detached, 198515892, None), (None, {"extra": 5}))
    with pytest.raises(ZeroDivisionError, match="^no dict$"):  # only AttributeError means "no dict"
        RaisingDict().__reduce__()
    monkeypatch.delattr(kc, "__pyx_unpickle_Cache")
    with pytest.raises(NameError, match="^name '__pyx_unpickle_Cache' is not defined$"):
        c.__reduce__()


@pytest.mark.parametrize("checksum", CHECKSUMS)
@pytest.mark.parametrize("state, expected", [
    (None, None), ((None,), None), ((["a", "b", "c"],), ["a", "b", "c"]),
])
def test_unpickle_accepts_the_three_checksums(checksum, state, expected):
    d = unpickle(Cache, checksum, state)
    assert type(d) is Cache and slots(d) == expected
    assert unpickle(__pyx_state=state, __pyx_checksum=checksum, __pyx_type=Sub).__class__ is Sub


class BadKeys:
    keys = lambda self: 1 / 0  # noqa: E731


class Reducer:
    def __init__(self, *value):
        self.value = value

    def __reduce__(self):
        return self.value


def caches_alive():
    gc.collect()
    return sum(issubclass(type(o), Cache) for o in gc.get_objects())


NOT_SUBTYPE = f"{MODULE}.Cache.__new__({{0}}): {{0}} is not a subtype of {MODULE}.Cache"


UNPICKLING = [  # arguments of __pyx_unpickle_Cache, error, message
    ((Cache, 0, None), pickle.PickleError,
     "Incompatible checksums (0x0 vs (0xbd51cb4, 0xe95c4d5, 0xc883660) = (cache_arr))"),
    ((Cache, 2**64, None), OverflowError, "Python int too large to convert to C long"),
    ((Cache, "198515892", None), TypeError, "an integer is required"),
    ((Cache, CHECKSUMS[0], ()), IndexError, "tuple index out of range"),
    ((Cache, CHECKSUMS[0], ((),)), TypeError, "Expected list, got tuple"),
    ((Cache, CHECKSUMS[0], (ListSub(),)), TypeError, "Expected list, got ListSub"),
    ((Cache, CHECKSUMS[0], ([], {"a": 1})), AttributeError, "This object has no __dict__"),
    ((Cache, CHECKSUMS[0], ([], Untrue())), ZeroDivisionError, "no truth"),
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
    data = pickle.dumps(Reducer(unpickle, args[:2] + (None,), *[args[2]][:args[2] is not None]))
    before = caches_alive()
    with pytest.raises(error) as caught:
        unpickle(*args) if path == "call" else pickle.loads(data)
    if path == "pickle" and type(args[2]) is list:
        message = "Expected tuple, got list"
    assert str(caught.value) == message
    del caught
    assert caches_alive() == before


class Namespace(dict):
    updates = 0

    def update(self, *args, **kwargs):
        Namespace.updates += 1
        super().update(*args, **kwargs)


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
    assert type(s.__dict__) is Namespace and s.extra == "newer" and Namespace.updates == 1
