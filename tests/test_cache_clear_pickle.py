"""Cache: whole and selective clearing, copying, deep copying and pickling."""

import copy
import gc
import pickle

import pytest

from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache as kc
from kora_ui.fast.koracache.koracache import Cache, __pyx_unpickle_Cache as unpickle
from kora_ui.fast.krshader.krshader import KrShader
from conftest import slots

NONE_SUB = "'NoneType' object is not subscriptable"
CHECKSUMS = (0xBD51CB4, 0xE95C4D5, 0xC883660)
A, B, C = CacheType.SHADER, CacheType.FONT, CacheType.WIDGET  # values 2, 3, 31
MEMBER_SLOTS = {m.value for m in CacheType}


class Key:
    def __init__(self, value):
        self.value = value



def full():
    """A Cache whose slot i holds i."""
    c = Cache()
    for i in range(32):
        c.set(Key(i), i)
    return c


def cleared(*indices):
    return [None if i in indices else i for i in range(32)]


def test_clear_empties_all_32_slots_in_place_and_get_or_exec_recomputes():
    c = full()
    before = slots(c)
    assert c.clear() is None and slots(c) is before and before == [None] * 32
    assert [c.get_or_exec(m, lambda m=m: m.name) for m in CacheType] == [m.name for m in CacheType]


@pytest.mark.parametrize("args, emptied", [
    ((), MEMBER_SLOTS),
    ((None, []), MEMBER_SLOTS),
    ((False, 0), MEMBER_SLOTS),
    (((), ()), MEMBER_SLOTS),
    (([A],), MEMBER_SLOTS - {2}),
    (([B], [A, B]), {2}),
    (([A, A], [A]), set()),
    (([], [Key(5), Key(32), Key(-1)]), {5}),
    (([Key(40), Key(-3)], [A, C]), {2, 31}),
])
def test_clear_selected(args, emptied):
    c = full()
    assert c.clear_selected(*args) is None and slots(c) == cleared(*emptied)
    c = full()  # by keyword, the other list left to its default
    names = ("blacklist", "whitelist")
    assert c.clear_selected(**{n: v for n, v in zip(names, args) if v is not None}) is None
    assert slots(c) == cleared(*emptied)


class ListSub(list):
    pass


class Bad:
    def __bool__(self):
        raise ZeroDivisionError


@pytest.mark.parametrize("call, error, message", [
    (lambda c: c.clear_selected((A,)), TypeError, "^Expected list, got tuple$"),
    (lambda c: c.clear_selected(None, (A,)), TypeError, "^Expected list, got tuple$"),
    (lambda c: c.clear_selected((A,), [object()]), TypeError, "^Expected list, got tuple$"),
    (lambda c: c.clear_selected(ListSub([A])), TypeError, "^Expected list, got ListSub$"),
    (lambda c: c.clear_selected(Bad()), ZeroDivisionError, None),
    (lambda c: c.clear_selected(None, [A, B, object()]), AttributeError, "value"),
    (lambda c: c.clear_selected([A, object()], [B]), AttributeError, "value"),
    (lambda c: c.clear_selected([], [A, Key("x")]), TypeError, "an integer is required"),
    (lambda c: c.clear_selected([], [], 3), TypeError,
     r"^clear_selected\(\) takes at most 2 positional arguments \(3 given\)$"),
    (lambda c: c.clear(1), TypeError, r"^clear\(\) takes exactly 0 positional arguments \(1 given\)$"),
    (lambda c: c.clear(x=1), TypeError, r"^clear\(\) got an unexpected keyword argument 'x'$"),
])
def test_clearing_errors_change_nothing(call, error, message):
    c = full()
    with pytest.raises(error, match=message):
        call(c)
    assert slots(c) == cleared()


def test_the_whitelist_default_needs_cache_type(monkeypatch):
    monkeypatch.delattr(kc, "CacheType")
    c = full()
    with pytest.raises(NameError, match="^name 'CacheType' is not defined$"):
        c.clear_selected()
    c.clear_selected(None, [Key(7)])
    monkeypatch.undo()  # __reduce__ needs it too, through the member-name fallback
    assert slots(c) == cleared(7)


@pytest.mark.parametrize("clear", [Cache.clear, Cache.clear_selected])
def test_a_finaliser_detaching_the_cache_stops_clearing(clear):
    c = Cache()

    class Detacher:
        def __del__(self):
            c.__setstate__((None,))

    for m in CacheType:
        c.set(m, m.value)
    c.set(B, Detacher())
    before = slots(c)
    with pytest.raises(TypeError, match=NONE_SUB):
        clear(c)
    assert slots(c) is None and before[:5] == [None, None, None, None, 4] and before[31] == 31


@pytest.mark.parametrize("restored", [["x", "y", "z"], list(range(40))], ids=["shorter", "longer"])
def test_clearing_a_restored_list_touches_only_slots_0_to_31_it_has(restored):
    c = Cache()
    c.__setstate__((restored,))
    expected = [None] * min(32, len(restored)) + restored[32:]
    c.clear()
    assert slots(c) is restored and restored == expected
    restored[:] = list(range(len(restored)))
    c.clear_selected(None, [Key(1), Key(31), Key(35)])
    assert restored == [None if i in (1, 31) else i for i in range(len(restored))]


# Copying


class Sub(Cache):
    def __init__(self, extra=None):
        super().__init__()
        self.extra = extra


class OwnCopy(Cache):
    def copy(self):
        return "own copy"


@pytest.mark.parametrize("cls", [Cache, Sub])
@pytest.mark.parametrize("duplicate", [lambda c: c.copy(), lambda c: c.__deepcopy__({}), copy.deepcopy])
def test_copy_shares_contents_but_not_the_list(cls, duplicate):
    c, v = cls(), object()
    c.set(A, v)
    d = duplicate(c)
    assert type(d) is Cache and d.get(A) is v and slots(d) is not slots(c) and slots(d) == slots(c)
    d.set(B, 1)
    c.set(C, 2)
    assert (c.get(B), d.get(C)) == (None, None)


def test_deepcopy_uses_the_instance_copy_and_checks_its_arguments():
    assert OwnCopy().__deepcopy__(None) == copy.deepcopy(OwnCopy()) == "own copy"
    restored = Cache()
    restored.__setstate__((["a", "b"],))
    assert slots(restored.copy()) == ["a", "b"]
    with pytest.raises(TypeError, match=r"^__deepcopy__\(\) takes exactly 1 positional argument \(0 given\)$"):
        Cache().__deepcopy__()
    with pytest.raises(TypeError, match=r"^copy\(\) takes exactly 0 positional arguments \(1 given\)$"):
        Cache().copy(1)
    with pytest.raises(TypeError, match=NONE_SUB):
        Cache.__new__(Cache).__deepcopy__({})


def test_shallow_copy_shares_the_slot_list():
    c = Sub("e")
    d = copy.copy(c)
    assert type(d) is Sub and d.extra == "e" and slots(d) is slots(c)
    d.set(A, 1)
    assert c.get(A) == 1


# Pickling


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


class Detached(Cache):
    def __init__(self):
        self.extra = 5


def test_reduce_shapes(monkeypatch):
    c = Cache()
    assert c.__reduce__() == (unpickle, (Cache, 198515892, None), (slots(c),))
    assert Cache.__new__(Cache).__reduce__() == (unpickle, (Cache, 198515892, (None,)))
    assert Sub.__new__(Sub).__reduce__() == (unpickle, (Sub, 198515892, (None,)))
    assert Detached().__reduce__() == (unpickle, (Detached, 198515892, None), (None, {"extra": 5}))
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert slots(pickle.loads(pickle.dumps(Cache.__new__(Cache), protocol))) is None
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


class Untruthful:
    __bool__ = lambda self: 1 / 0


class BadKeys:
    keys = lambda self: 1 / 0


class Reducer:
    def __init__(self, *value):
        self.value = value

    def __reduce__(self):
        return self.value


def caches_alive():
    gc.collect()
    return sum(issubclass(type(o), Cache) for o in gc.get_objects())


@pytest.mark.parametrize("path", ["call", "pickle"])
@pytest.mark.parametrize("args, error, message", [  # arguments of __pyx_unpickle_Cache; message when called
    ((Cache, 0, None), pickle.PickleError,
     "Incompatible checksums (0x0 vs (0xbd51cb4, 0xe95c4d5, 0xc883660) = (cache_arr))"),
    ((Cache, 2**64, None), OverflowError, None), ((Cache, "198515892", None), TypeError, "an integer is required"),
    ((Cache, CHECKSUMS[0], [[]]), TypeError, "Argument '__pyx_state' has incorrect type (expected tuple, got list)"),
    ((Cache, CHECKSUMS[0], ()), IndexError, None), ((Cache, CHECKSUMS[0], ((),)), TypeError, "Expected list, got tuple"),
    ((Cache, CHECKSUMS[0], (ListSub(),)), TypeError, None), ((Cache, CHECKSUMS[0], ([], {"a": 1})), AttributeError, None),
    ((Cache, CHECKSUMS[0], ([], Untruthful())), ZeroDivisionError, None),
    ((Sub, CHECKSUMS[0], ([], BadKeys())), ZeroDivisionError, None), ((int, CHECKSUMS[0], None), TypeError, None),
    (("Cache", CHECKSUMS[0], None), TypeError, None), ((KrShader, 0xE95C4D5, ([],)), TypeError, None),
])
def test_hostile_unpickling_leaves_no_instance_behind(args, error, message, path):
    """Through the function itself, and through pickle, which hands the state to __setstate__."""
    data = pickle.dumps(Reducer(unpickle, args[:2] + (None,), *[args[2]][:args[2] is not None]))
    before = caches_alive()
    with pytest.raises(error) as caught:
        unpickle(*args) if path == "call" else pickle.loads(data)
    assert str(caught.value) == message if message and path == "call" else str(caught.value)
    del caught
    assert caches_alive() == before


def test_unpickle_arguments_are_checked_before_the_checksum():
    with pytest.raises(TypeError, match=r"^Argument '__pyx_state' has incorrect type \(expected tuple, got list\)$"):
        unpickle(Cache, 0, [None])


@pytest.mark.parametrize("state, error, message", [
    (None, TypeError, "^cannot pass None into a C function argument that is declared 'not None'$"),
    ([None] * 32, TypeError, "^Expected tuple, got list$"),
    (((None,),), TypeError, "^Expected list, got tuple$"),
    (("list",), TypeError, "^Expected list, got str$"),
    ((), IndexError, None),
])
def test_setstate_errors_leave_the_instance_unchanged(state, error, message):
    c = Cache()
    c.set(A, "a")
    before = slots(c)
    with pytest.raises(error, match=message):
        c.__setstate__(state)
    assert slots(c) is before and before[2] == "a"


def test_setstate_rebinds_the_list_and_updates_the_instance_dict():
    c, shared = Cache(), ["x"] * 32
    assert c.__setstate__((shared, {})) is None and slots(c) is shared
    c.set(A, "y")
    assert shared[2] == "y"
    with pytest.raises(AttributeError):  # a plain Cache has no instance dict...
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


class Namespace(dict):
    updates = 0

    def update(self, *args, **kwargs):
        Namespace.updates += 1
        super().update(*args, **kwargs)
