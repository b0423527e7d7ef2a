"""Cache: construction, keyed access, subscription and member-name attributes,
get-or-set and get-or-compute, detached instances and garbage collection."""

import builtins
import enum
import gc
import sys
import traceback
import weakref

import pytest

from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache as kc
from kora_ui.fast.koracache.koracache import Cache
from conftest import slots

MODULE = "kora_ui.fast.koracache.koracache"
NONE_SUB = "'NoneType' object is not subscriptable"
KEY_TYPE = "The key for cache access must be of type CacheType"
A, B = CacheType.SHADER, CacheType.FONT  # values 2 and 3


class Key:
    """Not a CacheType member, but addresses a slot through its `value`."""

    def __init__(self, value):
        self.value = value


class Obj:
    pass



OPS = {
    "get": lambda c, k: c.get(k),
    "set": lambda c, k: c.set(k, "v"),
    "get_or_set_val": lambda c, k: c.get_or_set_val(k, "v"),
    "get_or_exec": lambda c, k: c.get_or_exec(k, lambda: "v"),
}


def test_set_and_get_or_set_val():
    c, v = Cache(), Obj()
    assert slots(c) == [None] * 32
    assert all(c.get(m) is None and c[m] is None and getattr(c, m.name) is None for m in CacheType)
    assert c.set(A, v) is None and c.get(A) is v and c[A] is v and c.SHADER is v
    assert c.get_or_set_val(A, "new") is v and c.get(A) is v
    assert c.set(value=None, type=A) is None and c.get(type=A) is None
    assert c.get_or_set_val(A, None) is None and c.get(A) is None
    assert c.get_or_set_val(A, "x") == "x" and slots(c) == [None, None, "x"] + [None] * 29


def test_get_or_exec_calls_func_only_for_an_empty_slot():
    c, calls = Cache(), []
    assert [c.get_or_exec(A, lambda: calls.append(1) or len(calls)) for _ in range(3)] == [1, 1, 1]
    assert [c.get_or_exec(func=lambda: calls.append(1), type=B) for _ in range(3)] == [None] * 3
    assert len(calls) == 4  # a None result leaves the slot empty, so func runs every time
    with pytest.raises(ZeroDivisionError):
        c.get_or_exec(CacheType.RECT, lambda: 1 / 0)
    assert c.get(CacheType.RECT) is None


def test_only_subscription_requires_a_member():
    class Impostor:  # passes isinstance(..., CacheType)
        __class__ = property(lambda self: CacheType)
        value = 32

    c = Cache()
    for value, slot in ((True, 1), (2.9, 2), (31, 31)):
        c.set(Key(value), value)
        assert slots(c)[slot] == value == c.get(Key(slot))
    for access in (lambda: c[Key(2)], lambda: c[3], lambda: list(c), lambda: A in c):
        with pytest.raises(TypeError, match=KEY_TYPE):
            access()
    with pytest.raises(IndexError):
        c[Impostor()]


@pytest.mark.parametrize("op", OPS)
@pytest.mark.parametrize("key, error, message", [
    (Key(2**31 - 1), IndexError, None),
    (Key(-2**31), IndexError, None),
    (Key("3"), TypeError, "an integer is required"),
    (Key(2**31), OverflowError, "value too large to convert to int"),
    (object(), AttributeError, "value"),
])
def test_bad_keys_change_nothing(op, key, error, message):
    c = Cache()
    c.set(A, "a")
    before = list(slots(c))
    with pytest.raises(error, match=message):
        OPS[op](c, key)
    assert slots(c) == before


@pytest.mark.parametrize("op", OPS)
def test_a_restored_shorter_list_refuses_indices_it_lacks(op):
    c, short = Cache(), ["x", "y", None]
    c.__setstate__((short,))
    with pytest.raises(IndexError):
        OPS[op](c, B)
    assert short == ["x", "y", None] and slots(c) is short
    assert c.get(Key(1)) == "y" and c.get_or_set_val(A, "z") == "z" and short[2] == "z"


def test_member_names_read_slots_and_other_names_raise_attribute_error():
    c = Cache()
    c.set(CacheType.WIDGET, "w")
    assert c.WIDGET == "w" and c.__getattr__("WIDGET") == "w" and c.__getattr__(type="SHADER") is None
    assert getattr(c, "nope", 7) == 7 and not hasattr(c, "cache_arr")
    for name in ("nope", None):
        with pytest.raises(AttributeError) as info:
            c.__getattr__(name)
        assert info.value.args == (name,)
    for name, got in ((1, "int"), (type("Name", (str,), {})("SHADER"), "Name")):
        with pytest.raises(TypeError, match=rf"Argument 'type' has incorrect type \(expected str, got {got}\)"):
            c.__getattr__(name)


def test_cache_type_is_looked_up_at_each_call(monkeypatch):
    c = Cache()
    c.set(Key(5), "five")
    other = enum.Enum("Other", {"get": 5, "FIVE": 5})
    monkeypatch.setattr(kc, "CacheType", other)
    assert c[other.FIVE] == "five" and c.FIVE == "five" and c.get(Key(5)) == "five"  # methods win
    with pytest.raises(TypeError, match=KEY_TYPE):
        c[A]
    with pytest.raises(AttributeError):
        c.SHADER
    monkeypatch.delattr(kc, "CacheType")
    for access in (lambda: c[other.FIVE], lambda: c.FIVE):
        with pytest.raises(NameError, match="name 'CacheType' is not defined"):
            access()
    monkeypatch.setattr(builtins, "CacheType", other, raising=False)
    assert c.FIVE == "five" and c[other.FIVE] == "five"


@pytest.mark.parametrize("cache_type, error", [
    (type("NoMembers", (), {}), AttributeError),
    (type("NotSubscriptable", (), {"__members__": {"FONT": 3}}), TypeError),
    (type("TextValues", (), {"__members__": {"FONT": 3}, "__class_getitem__": lambda k: SimpleKey("3")}),
     TypeError),
])
def test_member_names_need_a_cache_type_with_int_members(monkeypatch, cache_type, error):
    c = Cache()
    monkeypatch.setattr(kc, "CacheType", cache_type)
    with pytest.raises(error):
        c.FONT
    assert c.get(Key(3)) is None


class SimpleKey:
    def __init__(self, value):
        self.value = value


class NoBaseInit(Cache):
    def __init__(self):
        pass


@pytest.mark.parametrize("make", [lambda: Cache.__new__(Cache), NoBaseInit], ids=["new", "subclass"])
@pytest.mark.parametrize("access", [
    *OPS.values(), lambda c, k: c[k], lambda c, k: getattr(c, k.name), lambda c, k: c.clear(),
    lambda c, k: c.copy(), lambda c, k: c.clear_selected(), lambda c, k: c.clear_selected(None, [Key(9)]),
])
def test_detached_instances_refuse_slot_access(make, access):
    c = make()
    with pytest.raises(TypeError, match=NONE_SUB):
        access(c, A)
    assert getattr(c, "nope", 1) == 1
    Cache.__init__(c)
    access(c, A)
    assert len(slots(c)) == 32


@pytest.mark.parametrize("call, error, message", [
    (lambda: Cache(1), TypeError, r"^__init__\(\) takes exactly 0 positional arguments \(1 given\)$"),
    (lambda: Cache(x=1), TypeError, r"^__init__\(\) got an unexpected keyword argument 'x'$"),
    (lambda: Cache(**{1: 2}), TypeError, r"^__init__\(\) keywords must be strings$"),
    (lambda: Cache().get(None), TypeError, "^Argument 'type' must not be None$"),
    (lambda: Cache().set(None, 1), AttributeError, "value"),
    (lambda: Cache().get_or_exec(None, None), TypeError, "^Argument 'type' must not be None$"),
    (lambda: Cache().get_or_exec(A, None), TypeError, "^Argument 'func' must not be None$"),
    (lambda: Cache().set(A, type=A), TypeError, r"^set\(\) got multiple values for keyword argument 'type'$"),
    (lambda: Cache.get(), TypeError, r"^get\(\) needs an argument$"),
])
def test_argument_errors(call, error, message):
    with pytest.raises(error, match=message):
        call()


@pytest.mark.parametrize("name, args", [
    ("__init__", ()), ("get", (A,)), ("set", (A, 1)), ("get_or_set_val", (A, 1)), ("get_or_exec", (A, int)),
    ("clear", ()), ("clear_selected", ()), ("copy", ()), ("__deepcopy__", ({},)), ("__getattr__", ("SHADER",)),
    ("__reduce__", ()), ("__setstate__", (([],),)),
])
@pytest.mark.parametrize("impostor", [None, [None] * 32, Obj()], ids=["None", "list", "object"])
def test_methods_through_the_class_refuse_other_instances(name, args, impostor):
    with pytest.raises(TypeError):
        getattr(Cache, name)(impostor, *args)
    getattr(Cache, name)(Cache(), *args)


def test_traceback_names_the_method_and_the_slot_routine():
    with pytest.raises(IndexError) as info:
        Cache().set(Key(40), 1)
    frames = [(f.name, f.filename) for f in traceback.extract_tb(info.tb)[1:]]
    assert frames == [(f"{MODULE}.Cache.{n}", "src/kora_ui/fast/koracache/koracache") for n in ("set", "c_set")]


@pytest.mark.parametrize("cls", [Cache, type("Sub", (Cache,), {})])
def test_collector_breaks_cycles_through_slots(cls):
    c, holder = cls(), Obj()
    c.set(A, holder)
    holder.cache = c
    assert slots(c) in gc.get_referents(c)
    ref = weakref.ref(holder)
    del c, holder
    gc.collect()
    assert ref() is None
