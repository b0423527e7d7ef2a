"""The collector sees every reference a function object or a cache holds, and
frees a function object caught in a cycle together with what it holds."""
import gc
import weakref

import pytest

import kora_leak_helper
import kora_ui.fast.raylib.kora_raylib as kr
from kora_ui.fast.koracache.koracache import Cache
from conftest import slots


def fields(fn):
    """Fresh values for each field of fn that can be set (and an immortal str)."""
    return {"__dict__": {}, "__defaults__": (), "__kwdefaults__": {}, "__annotations__": {}, "__qualname__": "q",
            **{name: f"{name} of {id(fn)}" for name in ("__name__", "__module__", "__doc__")}}


def test_the_collector_sees_every_reference_held(monkeypatch):
    fn, cache = kr.draw_texture_rec, Cache()
    held = fields(fn)
    for name, value in held.items():
        monkeypatch.setattr(fn, name, value)
    for value in (type(fn), fn.__globals__, fn.__code__, kr, *held.values()):
        assert fn in gc.get_referrers(value), value
    assert fn.__qualname__ == fn.__reduce__() == "q"
    assert cache in gc.get_referrers(slots(cache))
    other = kr.end_drawing
    for name in ("__doc__", "__module__"):
        monkeypatch.delattr(other, name)  # an emptied field is skipped
    assert other not in gc.get_referrers(*held.values())


@pytest.mark.parametrize("cycle", [True, False])
def test_a_function_is_freed_with_what_it_holds(cycle):
    fn = kora_leak_helper.copy_function(kr.end_drawing)  # a function object of the shared type that may die
    for name, value in fields(fn).items():
        setattr(fn, name, value)
    fn.cycle, held = fn if cycle else None, type("Held", (), {})()
    fn.__annotations__["held"] = held
    alive = [weakref.ref(fn), weakref.ref(held)]
    del fn, held
    if cycle:
        gc.collect()
    assert [ref() for ref in alive] == [None, None]
